// File names made from names that come from captures, which are untrusted:
// a name from a mail may hold path separators, "..", control characters or
// a device name, and may be empty or very long.

#ifndef CONTENTFILE_TOOLS_CFDUMP_SAFE_NAME_H_
#define CONTENTFILE_TOOLS_CFDUMP_SAFE_NAME_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace cfdump {

// Longest file name component that Linux file systems take.
constexpr size_t kMaxNameBytes = 255;

// Reduces `name` to one file name component that is safe to create in a
// folder: only the part after its last "/" or "\" is kept, control
// characters and marks of text direction (see IsDirectionMark) become "_", a
// leading "-" becomes "_", device names of other systems (CON, NUL, COM1...)
// get a leading "_", and the result is cut to kMaxNameBytes. Returns "" when
// nothing usable remains (an empty name, or one of dots only such as "." and
// ".."); the caller then generates one.
std::string SafeFileName(std::string_view name);

// `name` cut to at most `limit` bytes, keeping a short extension and never
// cutting a UTF-8 character. REQUIRES: limit > 0.
std::string ShortenName(const std::string& name, size_t limit);

// The usual extension (".pdf") of a lower-case media type
// ("application/pdf"); "" for one not known here.
std::string ExtensionOfMediaType(std::string_view media_type);

// The extension of a text of the mail: ".html" for HTML, ".txt" for other
// text and no media type, else that of its media type (".bin" if unknown).
std::string TextExtension(std::string_view media_type);

// True when `name` ends in an extension that ShortenName keeps.
bool HasExtension(const std::string& name);

// `name` with "-n" before its extension: "report.pdf", 2 -> "report-2.pdf".
std::string NumberedName(const std::string& name, int n);

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_SAFE_NAME_H_

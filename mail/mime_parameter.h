// Values of MIME parameters (boundary=, filename=, name=, and their
// RFC 2231 forms) read out of header text.

#ifndef CONTENTFILE_MAIL_MIME_PARAMETER_H_
#define CONTENTFILE_MAIL_MIME_PARAMETER_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace contentfile_internal {

struct ParameterValue {
  std::string text;
  const char* stop;  // the first byte after what was read
};

// Reads the value that begins at `value` (right after "key="), never at or
// beyond `end`.
//  - A value whose first byte other than a tab is a double quote runs to the
//    next double quote, spaces and ";" included; folds inside it (CR LF and
//    a space or tab) are undone. White space at either end is dropped, at
//    its end only when `keep_leading_space` (a boundary keeps it).
//  - Any other value, and a quoted one whose closing quote is missing from
//    its line, runs up to the first space, CR, LF, ";" or NUL (a tab does not
//    end it); then every double quote in it becomes a space and white space
//    at either end is dropped.
ParameterValue ReadParameterValue(const char* value, const char* end,
                                  bool keep_leading_space = false);

// The value of the first "key=" in a header field value (case-sensitive,
// never matched from the trail byte of a double-byte character), read by
// ReadParameterValue; nullopt when the key does not occur.
std::optional<std::string> SimpleParameter(std::string_view field_value,
                                           std::string_view key);

// The RFC 2231 value of the parameter `name` in a header field value:
// `name*=charset'language'text`, or the sections `name*0=`, `name*0*=`,
// `name*1*=`, ... joined in order up to the first missing number. Sections
// with a "*" are percent-decoded (the first one after its charset and
// language, which are dropped); quoted sections lose their quotes. The
// charset is not converted. Parameter names match without regard to case,
// at the start of a parameter only. Empty when there is no such parameter.
// `charset`, when not null, receives the charset the value declared ("" if
// none).
std::string ExtendedParameter(std::string_view field_value,
                              std::string_view name,
                              std::string* charset = nullptr);

// The value of the parameter `name` (as in `; name=value`, the name matched
// without regard to case at the start of a parameter, blanks allowed around
// the "="), read by ReadParameterValue; nullopt when there is none.
std::optional<std::string> NamedParameter(std::string_view field_value,
                                          std::string_view name);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_MAIL_MIME_PARAMETER_H_

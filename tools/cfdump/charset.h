// Text of a declared charset converted to UTF-8, through the C library's
// iconv.

#ifndef CONTENTFILE_TOOLS_CFDUMP_CHARSET_H_
#define CONTENTFILE_TOOLS_CFDUMP_CHARSET_H_

#include <string>
#include <string_view>

namespace cfdump {

// Converts `bytes`, declared to be of `charset`, into *utf8. Without a
// charset, bytes that are already UTF-8 (ASCII among them) pass as they
// are. Returns false with *why in words when the charset is not known or
// the bytes are not of it; *utf8 then holds `bytes` unchanged.
bool ConvertToUtf8(std::string_view bytes, std::string_view charset,
                   std::string* utf8, std::string* why);

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_CHARSET_H_

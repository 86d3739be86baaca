// Header fields of the message head by name, for callers: every occurrence,
// its value unfolded and its value with the encoded words decoded, run by
// run with the charset each run declared.

#ifndef CONTENTFILE_MAIL_HEADER_FIELDS_H_
#define CONTENTFILE_MAIL_HEADER_FIELDS_H_

#include <cstddef>
#include <string_view>
#include <vector>

#include "contentfile.h"

namespace contentfile_internal {

// Length of the message head: the bytes before its first empty line, or the
// whole message when no empty line ends the head.
size_t HeadLength(const char* message, size_t length);

// Appends to `fields` every field of the head block [head, head + length)
// whose name is `name` (ASCII letters compared without regard to case), in
// order. A field is a line that begins with a name of printable ASCII bytes
// other than ":", then optional blanks and ":"; the lines after it that
// begin with a space or tab continue it. Its raw value is the text after
// the ":", unfolded, white space at either end removed. Raises
// std::bad_alloc.
void FindHeaderFields(const char* head, size_t length, std::string_view name,
                      std::vector<contentfile::HeaderField>& fields);

// Fills `field.decoded` and `field.segments` from `field.raw`: the encoded
// words decoded (as the subject of the record is decoded), no charset
// converted. Adjacent runs that declared the same charset (compared without
// regard to case) form one segment; text outside encoded words forms
// segments with an empty charset. Raises std::bad_alloc.
void DecodeHeaderValue(contentfile::HeaderField& field);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_MAIL_HEADER_FIELDS_H_

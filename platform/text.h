// Text searches that depend on the locale, over byte ranges: every function
// takes (pointer, length) and never reads outside the range. Nothing here
// allocates. The searches that are the same in every locale, which these
// build on, come with this header from bytes/byte_search.h.

#ifndef CONTENTFILE_PLATFORM_TEXT_H_
#define CONTENTFILE_PLATFORM_TEXT_H_

#include <cstddef>

#include "bytes/byte_search.h"

namespace contentfile_internal {

// Searches that respect the multibyte characters of the calling thread's
// LC_CTYPE locale (as setlocale/uselocale set it): a match never begins on
// the second byte of a double-byte character, and a lead byte followed by
// the end of the text ends the search; a byte sequence that is no character
// of the locale counts as one byte. `text` must begin on a character
// boundary. In single-byte and UTF-8 locales (where an ASCII byte is always
// a character of its own) these are plain memchr and memmem; in other
// multibyte locales they walk the characters from `text` once, so they stay
// linear in the text length.
const char* FindCharMb(const char* text, size_t text_length, char c);

// True when the calling thread's LC_CTYPE locale is single-byte or UTF-8:
// a byte below 0x80 is then always a character of its own, and the
// searches above are plain byte searches.
bool ByteSearchesAreExact();
const char* FindStringMb(const char* text, size_t text_length, const char* key,
                         size_t key_length);
// As FindStringMb, comparing ASCII letters without regard to case (as
// FindCaseInsensitive does): for MIME parameter names such as "boundary=".
const char* FindCaseInsensitiveMb(const char* text, size_t text_length,
                                  const char* key, size_t key_length);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_PLATFORM_TEXT_H_

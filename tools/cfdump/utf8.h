// UTF-8 checks over byte strings whose encoding is not known.

#ifndef CONTENTFILE_TOOLS_CFDUMP_UTF8_H_
#define CONTENTFILE_TOOLS_CFDUMP_UTF8_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace cfdump {

// The length of the well-formed UTF-8 sequence that starts at `pos` (1 for
// ASCII), or 0 when the bytes there are not one (a stray continuation
// byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF).
// Sets *code_point when not null and a sequence was found.
size_t Utf8SequenceLength(std::string_view text, size_t pos,
                          uint32_t* code_point);

// True for the marks that change the direction in which text is shown
// (U+061C, U+200E, U+200F, U+202A..U+202E, U+2066..U+2069): a name holding
// them can show its extension where it is not ("invoice\u202etxt.exe").
bool IsDirectionMark(uint32_t code_point);

// The largest length <= `limit` that does not cut a well-formed sequence.
size_t Utf8SafeCut(std::string_view text, size_t limit);

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_UTF8_H_

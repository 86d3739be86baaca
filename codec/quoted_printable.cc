#include "codec/quoted_printable.h"

#include <array>
#include <cstring>

namespace contentfile_internal {
namespace {

// The value of one byte of an "=" pair: x - 48 up to "9", x - 55 above it,
// both modulo 256. Hex digits in upper case give their value; anything else
// gives what that arithmetic gives, so a malformed pair still decodes to one
// byte.
constexpr std::array<uint8_t, 256> MakeDigitTable() {
  std::array<uint8_t, 256> table{};
  for (int x = 0; x < 256; ++x) {
    table[x] = static_cast<uint8_t>(x <= '9' ? x - 48 : x - 55);
  }
  return table;
}

constexpr std::array<uint8_t, 256> kDigit = MakeDigitTable();

}  // namespace

int32_t QPDecode(const char* input, uint32_t length, char* output) {
  if (input == nullptr || output == nullptr || length == 0) return 0;
  const auto* in = reinterpret_cast<const unsigned char*>(input);
  const unsigned char* const end = in + length;
  auto* out = reinterpret_cast<unsigned char*>(output);
  auto* const out_begin = out;

  while (in < end) {
    const auto* eq = static_cast<const unsigned char*>(
        std::memchr(in, '=', static_cast<size_t>(end - in)));
    if (eq == nullptr) eq = end;
    const auto run = static_cast<size_t>(eq - in);
    std::memcpy(out, in, run);
    out += run;
    // An "=" needs two bytes after it; one cut short by the end of the input
    // writes nothing, which is also what "=" CR LF would have written.
    if (end - eq < 3) break;
    const unsigned char first = eq[1];
    if (first != '\r') {  // "=" CR and any byte: a soft line break
      *out++ = static_cast<unsigned char>((kDigit[first] << 4) + kDigit[eq[2]]);
    }
    in = eq + 3;
  }
  return static_cast<int32_t>(out - out_begin);
}

}  // namespace contentfile_internal

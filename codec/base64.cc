#include "codec/base64.h"

#include <array>
#include <cstddef>

namespace contentfile_internal {
namespace {

// Table entries: a sextet value 0 to 63, or one of two markers. Both markers
// have a bit above the low six set, so one OR over a group tells whether all
// of its bytes are alphabet characters.
constexpr uint8_t kSkip = 0xFF;  // outside the alphabet: ignored
constexpr uint8_t kPad = 0xFE;   // "=": the data ends here
constexpr uint8_t kNotSextet = 0xC0;

constexpr std::array<uint8_t, 256> MakeSextetTable() {
  std::array<uint8_t, 256> table{};
  for (auto& entry : table) entry = kSkip;
  for (int i = 0; i < 26; ++i) {
    table['A' + i] = static_cast<uint8_t>(i);
    table['a' + i] = static_cast<uint8_t>(26 + i);
  }
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<uint8_t>(52 + i);
  table['+'] = 62;
  table['/'] = 63;
  table['='] = kPad;
  return table;
}

constexpr std::array<uint8_t, 256> kSextet = MakeSextetTable();

inline uint8_t Sextet(const unsigned char* p) { return kSextet[*p]; }

inline unsigned char* Emit3(uint32_t bits, unsigned char* out) {
  out[0] = static_cast<unsigned char>(bits >> 16);
  out[1] = static_cast<unsigned char>(bits >> 8);
  out[2] = static_cast<unsigned char>(bits);
  return out + 3;
}

}  // namespace

int32_t Base64Decode(const char* input, uint32_t length, char* output) {
  if (input == nullptr || output == nullptr || length == 0) return 0;
  const auto* in = reinterpret_cast<const unsigned char*>(input);
  const unsigned char* const end = in + length;
  auto* out = reinterpret_cast<unsigned char*>(output);
  auto* const out_begin = out;

  uint32_t bits = 0;  // sextets of the current group, lowest last
  int sextets = 0;    // how many the current group holds, 0 to 3

  while (in < end) {
    if (sextets == 0) {
      // Group-aligned: take whole groups of four alphabet characters straight
      // from the table, and step over the CR LF of a line break.
      while (end - in >= 4) {
        const uint8_t a = Sextet(in), b = Sextet(in + 1), c = Sextet(in + 2),
                      d = Sextet(in + 3);
        if ((a | b | c | d) & kNotSextet) {
          if (in[0] == '\r' && in[1] == '\n') {
            in += 2;
            continue;
          }
          break;
        }
        out = Emit3(uint32_t{a} << 18 | uint32_t{b} << 12 |
                        uint32_t{c} << 6 | d,
                    out);
        in += 4;
      }
      if (in == end) break;
    }
    // One byte by the general rules: anything else outside the alphabet is
    // skipped, and "=" finishes the data as the end of the input would.
    const uint8_t v = Sextet(in++);
    if (v & kNotSextet) {
      if (v == kPad) break;
      continue;
    }
    bits = bits << 6 | v;
    if (++sextets == 4) {
      out = Emit3(bits, out);
      bits = 0;
      sextets = 0;
    }
  }

  // An incomplete group keeps the whole bytes it holds; a lone sextet holds
  // none.
  if (sextets == 3) {
    *out++ = static_cast<unsigned char>(bits >> 10);
    *out++ = static_cast<unsigned char>(bits >> 2);
  } else if (sextets == 2) {
    *out++ = static_cast<unsigned char>(bits >> 4);
  }
  return static_cast<int32_t>(out - out_begin);
}

}  // namespace contentfile_internal

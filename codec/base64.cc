#include "codec/base64.h"

#include <array>
#include <cstddef>

namespace contentfile_internal {
namespace {

// Table entries: a sextet value 0 to 63, or one of two markers, both with a
// bit above the low six set.
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

// The sextet table again, once for each place in a group, with each value
// already shifted to its place and bit 31 set for every byte that is not a
// sextet, so that a group decodes with four look-ups, three ORs and one test.
constexpr uint32_t kNotGroup = 0x80000000;

struct GroupTables {
  uint32_t place[4][256];
};

constexpr GroupTables MakeGroupTables() {
  GroupTables tables{};
  for (int place = 0; place < 4; ++place) {
    for (int byte = 0; byte < 256; ++byte) {
      const uint8_t sextet = kSextet[byte];
      tables.place[place][byte] = (sextet & kNotSextet)
                                      ? kNotGroup
                                      : uint32_t{sextet} << (18 - 6 * place);
    }
  }
  return tables;
}

constexpr GroupTables kGroup = MakeGroupTables();

inline unsigned char* Emit3(uint32_t bits, unsigned char* out) {
  out[0] = static_cast<unsigned char>(bits >> 16);
  out[1] = static_cast<unsigned char>(bits >> 8);
  out[2] = static_cast<unsigned char>(bits);
  return out + 3;
}

// Decodes from `in` while the input comes in whole groups of four alphabet
// characters, with or without CR LF between them, and returns where that
// stops: at the first group that holds anything else, which the byte rules
// then take.
const unsigned char* DecodeWholeGroups(const unsigned char* in,
                                       const unsigned char* end,
                                       unsigned char** out_position) {
  unsigned char* out = *out_position;
  while (end - in >= 4) {
    const uint32_t bits = kGroup.place[0][in[0]] | kGroup.place[1][in[1]] |
                          kGroup.place[2][in[2]] | kGroup.place[3][in[3]];
    if (bits & kNotGroup) {
      if (in[0] == '\r' && in[1] == '\n') {
        in += 2;
        continue;
      }
      break;
    }
    out = Emit3(bits, out);
    in += 4;
  }
  *out_position = out;
  return in;
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
    if (sextets == 0) in = DecodeWholeGroups(in, end, &out);
    if (in == end) break;
    // One byte by the general rules: anything else outside the alphabet is
    // skipped, and "=" finishes the data as the end of the input would.
    const uint8_t v = kSextet[*in++];
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

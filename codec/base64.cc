#include "codec/base64.h"

#include <array>

#include "codec/cpu_features.h"

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

}  // namespace

const unsigned char* Base64DecodeGroupsPortable(const unsigned char* in,
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

Base64Kernel SelectedBase64Kernel() {
#ifdef CONTENTFILE_HAVE_AVX2_KERNELS
  if (CpuHasAvx2()) return Base64DecodeGroupsAvx2;
#endif
  return Base64DecodeGroupsPortable;
}

size_t Base64StreamDecoder::Decode(const char* input, size_t length,
                                   char* output) {
  if (input == nullptr || output == nullptr || ended_) return 0;
  const auto* in = reinterpret_cast<const unsigned char*>(input);
  const unsigned char* const end = in + length;
  auto* out = reinterpret_cast<unsigned char*>(output);
  auto* const out_begin = out;
  const Base64Kernel kernel = kernel_;
  uint32_t bits = bits_;
  int sextets = sextets_;

  while (in < end) {
    if (sextets == 0) {
      in = kernel(in, end, &out);
      if (in == end) break;
    }
    // One byte by the general rules: anything else outside the alphabet is
    // skipped, and "=" finishes the data as the end of the input would.
    const uint8_t v = kSextet[*in++];
    if (v & kNotSextet) {
      if (v == kPad) {
        ended_ = true;
        break;
      }
      continue;
    }
    bits = bits << 6 | v;
    if (++sextets == 4) {
      out = Emit3(bits, out);
      bits = 0;
      sextets = 0;
    }
  }
  bits_ = bits;
  sextets_ = sextets;
  return static_cast<size_t>(out - out_begin);
}

size_t Base64StreamDecoder::Finish(char* output) {
  // An incomplete group keeps the whole bytes it holds; a lone sextet holds
  // none.
  size_t written = 0;
  if (output != nullptr) {
    auto* out = reinterpret_cast<unsigned char*>(output);
    if (sextets_ == 3) {
      out[0] = static_cast<unsigned char>(bits_ >> 10);
      out[1] = static_cast<unsigned char>(bits_ >> 2);
      written = 2;
    } else if (sextets_ == 2) {
      out[0] = static_cast<unsigned char>(bits_ >> 4);
      written = 1;
    }
  }
  bits_ = 0;
  sextets_ = 0;
  ended_ = false;
  return written;
}

int32_t Base64Decode(const char* input, uint32_t length, char* output) {
  if (input == nullptr || output == nullptr || length == 0) return 0;
  Base64StreamDecoder decoder;
  const size_t decoded = decoder.Decode(input, length, output);
  return static_cast<int32_t>(decoded + decoder.Finish(output + decoded));
}

}  // namespace contentfile_internal

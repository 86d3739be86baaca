// The AVX2 quoted-printable kernel: 32 bytes per step without a branch on
// the data. It takes the "=" sequences of fixed length, an "=" with two hex
// digits or with CR LF, and stops before a block that holds any other "="
// (a literal "=", a soft line break with padding or a bare LF), which the
// byte rules then take. For each byte it computes at once whether it is an
// "=", what the pair after it stands for, and whether it survives into the
// output (a plain byte does, an "=" does as its decoded byte unless CR LF
// makes it a soft line break, the two bytes of a pair do not); the
// surviving bytes are then packed together eight at a time by a shuffle
// from a table.
//
// Each 8-byte store may carry up to 8 bytes beyond the output so far, which
// the next store writes over. Past the last store of a run of steps they
// are written over only if the output still grows by 8 bytes, so the kernel
// takes a step that way only when the 32 bytes after it are sure to give 8:
// when they hold only fixed-length sequences and at most 7 "=" (each
// sequence takes three bytes, and up to two of those bytes may belong to a
// sequence begun before them, so at least 9 plain bytes follow), or else
// when their output, counted exactly, comes to 8 bytes or more. Otherwise,
// and where an "=" falls inside the pair of another ("=="), it takes the
// step by the byte rules.
//
// Compiled for AVX2 function by function (the target attribute), so that
// the rest of the library keeps the baseline instruction set and this code
// runs only after CpuHasAvx2().

#include "codec/quoted_printable_kernels.h"

#ifdef CONTENTFILE_HAVE_AVX2_KERNELS

#include <immintrin.h>

#include <cstddef>
#include <cstring>

#include "codec/quoted_printable_digits.h"

#define CONTENTFILE_AVX2 __attribute__((target("avx2")))

namespace contentfile_internal {
namespace {

constexpr ptrdiff_t kBlock = 32;
// The packed bytes are stored this many at a time.
constexpr int kStoreWidth = 8;
// Most "=" in the block after a step for which the step's stray bytes are
// sure to be written over (see above).
constexpr int kMaxEqualsAfter = 7;

// For each set of surviving bytes among eight (bit i for byte i): the
// positions of the survivors, packed to the front, as shuffle indices; a
// second table has the same for the upper eight bytes of a 16-byte lane.
struct PackTables {
  uint64_t low[256];
  uint64_t high[256];
};

constexpr PackTables MakePackTables() {
  PackTables tables{};
  for (int keep = 0; keep < 256; ++keep) {
    uint64_t low = 0, high = 0;
    int slot = 0;
    for (int i = 0; i < 8; ++i) {
      if (keep & (1 << i)) {
        low |= uint64_t(i) << (8 * slot);
        high |= uint64_t(i + 8) << (8 * slot);
        ++slot;
      }
    }
    tables.low[keep] = low;
    tables.high[keep] = high;
  }
  return tables;
}

constexpr PackTables kPack = MakePackTables();

CONTENTFILE_AVX2 inline __m256i Load(const unsigned char* p) {
  __m256i v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

CONTENTFILE_AVX2 inline uint32_t Mask(__m256i v) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(v));
}

CONTENTFILE_AVX2 inline uint32_t EqualsMask(__m256i v) {
  return Mask(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('=')));
}

// The values of 32 hex digits of either case (other bytes give garbage):
// x - 48 up to "9", (x | 0x20) - 87 above it; a digit has bit 0x20 set.
CONTENTFILE_AVX2 inline __m256i DigitValues(__m256i x) {
  const __m256i up_to_nine = _mm256_cmpeq_epi8(
      _mm256_subs_epu8(x, _mm256_set1_epi8('9')), _mm256_setzero_si256());
  return _mm256_add_epi8(
      _mm256_sub_epi8(_mm256_or_si256(x, _mm256_set1_epi8(0x20)),
                      _mm256_set1_epi8(87)),
      _mm256_and_si256(up_to_nine, _mm256_set1_epi8(39)));
}

// Bytes in [low, high], as unsigned values.
CONTENTFILE_AVX2 inline __m256i InRange(__m256i x, char low, char high) {
  const __m256i offset = _mm256_sub_epi8(x, _mm256_set1_epi8(low));
  return _mm256_cmpeq_epi8(
      _mm256_min_epu8(offset, _mm256_set1_epi8(static_cast<char>(high - low))),
      offset);
}

CONTENTFILE_AVX2 inline __m256i IsHexDigit(__m256i x) {
  return _mm256_or_si256(
      InRange(x, '0', '9'),
      InRange(_mm256_or_si256(x, _mm256_set1_epi8(0x20)), 'a', 'f'));
}

// The "=" among the 32 bytes at `p` that open no fixed-length sequence.
// Reads p[0, 34).
CONTENTFILE_AVX2 inline uint32_t IrregularEquals(const unsigned char* p,
                                                 uint32_t equals) {
  if (equals == 0) return 0;
  const __m256i first = Load(p + 1);
  const __m256i second = Load(p + 2);
  const __m256i hex_pair =
      _mm256_and_si256(IsHexDigit(first), IsHexDigit(second));
  const __m256i line_end =
      _mm256_and_si256(_mm256_cmpeq_epi8(first, _mm256_set1_epi8('\r')),
                       _mm256_cmpeq_epi8(second, _mm256_set1_epi8('\n')));
  return equals & ~Mask(_mm256_or_si256(hex_pair, line_end));
}

CONTENTFILE_AVX2 inline void Store8Low(__m128i v, unsigned char* out) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(static_cast<void*>(out)), v);
}

CONTENTFILE_AVX2 inline void Store8High(__m128i v, unsigned char* out) {
  Store8Low(_mm_unpackhi_epi64(v, v), out);
}

// Writes the bytes of `bytes` whose bit is set in `keep`, in order, at
// `out`; returns the end of what it wrote. Stores 8 bytes past that end.
CONTENTFILE_AVX2 inline unsigned char* PackStore(__m256i bytes, uint32_t keep,
                                                 unsigned char* out) {
  const uint32_t k0 = keep & 0xFF, k1 = (keep >> 8) & 0xFF,
                 k2 = (keep >> 16) & 0xFF, k3 = keep >> 24;
  const __m256i order =
      _mm256_setr_epi64x(static_cast<long long>(kPack.low[k0]),
                         static_cast<long long>(kPack.high[k1]),
                         static_cast<long long>(kPack.low[k2]),
                         static_cast<long long>(kPack.high[k3]));
  const __m256i packed = _mm256_shuffle_epi8(bytes, order);
  const __m128i lane0 = _mm256_castsi256_si128(packed);
  const __m128i lane1 = _mm256_extracti128_si256(packed, 1);
  Store8Low(lane0, out);
  out += __builtin_popcount(k0);
  Store8High(lane0, out);
  out += __builtin_popcount(k1);
  Store8Low(lane1, out);
  out += __builtin_popcount(k2);
  Store8High(lane1, out);
  return out + __builtin_popcount(k3);
}

}  // namespace

CONTENTFILE_AVX2 const unsigned char* QPDecodeBulkAvx2(
    const unsigned char* in, const unsigned char* end,
    unsigned char** out_position) {
  unsigned char* out = *out_position;
  // Bytes at the start of the block at `in` that belong to a sequence begun
  // in the block before: none, bit 0, or bits 0 and 1.
  uint32_t carried = 0;
  // Two blocks and the two bytes after them are read at each step.
  while (end - in >= 2 * kBlock + 2) {
    const __m256i plain = Load(in);
    const __m256i first = Load(in + 1);
    const uint32_t equals = EqualsMask(plain);
    // An "=" of another kind is the byte rules' to take.
    if (IrregularEquals(in, equals) != 0) break;
    const uint64_t paired =
        carried | uint64_t{equals} << 1 | uint64_t{equals} << 2;
    const uint32_t equals_after = EqualsMask(Load(in + kBlock));
    bool by_the_rules = (equals & static_cast<uint32_t>(paired)) != 0 ||
                        IrregularEquals(in + kBlock, equals_after) != 0;
    if (!by_the_rules && __builtin_popcount(equals_after) > kMaxEqualsAfter) {
      const uint32_t carried_after = static_cast<uint32_t>(paired >> 32);
      const uint32_t paired_after =
          carried_after | equals_after << 1 | equals_after << 2;
      const uint32_t soft_breaks_after =
          equals_after & Mask(_mm256_cmpeq_epi8(Load(in + kBlock + 1),
                                                _mm256_set1_epi8('\r')));
      by_the_rules =
          (equals_after & paired_after) != 0 ||
          __builtin_popcount(~(paired_after | soft_breaks_after)) < kStoreWidth;
    }
    if (by_the_rules) {
      // From the end of the sequence carried in up to the end of the last
      // sequence that starts in this block.
      const unsigned char* const stop = in + kBlock;
      in += __builtin_popcount(carried);
      carried = 0;
      while (in < stop) {
        if (*in != '=') {
          *out++ = *in++;
        } else {
          // A fixed-length sequence: two hex digits or CR LF.
          if (in[1] != '\r') {
            *out++ = static_cast<unsigned char>(kQPDigit[in[1]] << 4 |
                                                kQPDigit[in[2]]);
          }
          in += 3;
        }
      }
      continue;
    }
    const __m256i second = Load(in + 2);
    const uint32_t soft_breaks =
        equals & Mask(_mm256_cmpeq_epi8(first, _mm256_set1_epi8('\r')));
    carried = static_cast<uint32_t>(paired >> 32);
    const uint32_t keep = ~(static_cast<uint32_t>(paired) | soft_breaks);

    const __m256i pair_values = _mm256_add_epi8(
        _mm256_and_si256(_mm256_slli_epi16(DigitValues(first), 4),
                         _mm256_set1_epi8(static_cast<char>(0xF0))),
        DigitValues(second));
    const __m256i bytes = _mm256_blendv_epi8(
        plain, pair_values, _mm256_cmpeq_epi8(plain, _mm256_set1_epi8('=')));
    out = PackStore(bytes, keep, out);
    in += kBlock;
  }
  *out_position = out;
  return in + __builtin_popcount(carried);
}

}  // namespace contentfile_internal

#endif  // CONTENTFILE_HAVE_AVX2_KERNELS

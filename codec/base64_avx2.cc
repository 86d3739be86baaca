// The AVX2 base64 kernel: 32 characters checked and decoded at once, with
// the classification of "Faster Base64 Encoding and Decoding Using AVX2
// Instructions" (W. Mula, D. Lemire, 2018): each byte's high and low nibbles
// pick bit sets from two small tables whose intersection is empty exactly
// for the alphabet, and a third table, indexed by the high nibble, holds the
// offset that turns each character into its sextet.
//
// Compiled for AVX2 function by function (the target attribute), so that
// the rest of the library keeps the baseline instruction set and this code
// runs only after CpuHasAvx2().

#include "codec/base64_kernels.h"

#ifdef CONTENTFILE_HAVE_AVX2_KERNELS

#include <immintrin.h>

#include <cstring>

#define CONTENTFILE_AVX2 __attribute__((target("avx2")))

namespace contentfile_internal {
namespace {

constexpr int kBlock = 32;        // characters per step
constexpr int kBlockOutput = 24;  // bytes they decode to

CONTENTFILE_AVX2 inline __m256i Load(const unsigned char* p) {
  __m256i v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The 32 characters as sextets, and a bit per character that is outside the
// alphabet ("=" included).
struct Classified {
  __m256i sextets;
  uint32_t outside;
};

CONTENTFILE_AVX2 inline Classified Classify(__m256i chars) {
  const __m256i low_bits = _mm256_setr_epi8(
      0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
      0x1B, 0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
      0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m256i high_bits = _mm256_setr_epi8(
      0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
      0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,
      0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  // "/" shares its high nibble with "+" and takes the entry before it.
  const __m256i offsets = _mm256_setr_epi8(
      0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0,  //
      0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i nibble = _mm256_set1_epi8(0x0F);

  const __m256i high = _mm256_and_si256(_mm256_srli_epi32(chars, 4), nibble);
  const __m256i low = _mm256_and_si256(chars, nibble);
  const __m256i clash = _mm256_and_si256(_mm256_shuffle_epi8(low_bits, low),
                                         _mm256_shuffle_epi8(high_bits, high));
  const __m256i outside =
      _mm256_cmpgt_epi8(clash, _mm256_setzero_si256());  // clash is < 0x80
  const __m256i is_slash = _mm256_cmpeq_epi8(chars, _mm256_set1_epi8('/'));
  const __m256i offset =
      _mm256_shuffle_epi8(offsets, _mm256_add_epi8(high, is_slash));
  return {_mm256_add_epi8(chars, offset),
          static_cast<uint32_t>(_mm256_movemask_epi8(outside))};
}

// Packs eight groups of four sextets into their 24 bytes, in the low 24
// bytes of the result.
CONTENTFILE_AVX2 inline __m256i Pack(__m256i sextets) {
  // Within each 16-bit pair: first * 64 + second; within each 32-bit group:
  // first pair * 4096 + second pair, the group's 24 bits.
  const __m256i pairs =
      _mm256_maddubs_epi16(sextets, _mm256_set1_epi32(0x01400140));
  const __m256i groups =
      _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
  // The three bytes of each group, most significant first, 12 per lane.
  const __m256i bytes = _mm256_shuffle_epi8(
      groups,
      _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,
                       2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
  return _mm256_permutevar8x32_epi32(bytes,
                                     _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
}

CONTENTFILE_AVX2 inline void Store24(__m256i packed, unsigned char* out) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(static_cast<void*>(out)),
                   _mm256_castsi256_si128(packed));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(static_cast<void*>(out + 16)),
                   _mm256_extracti128_si256(packed, 1));
}

// Stores the bytes of the first `count` (a multiple of 3 below 24) of the
// packed bytes and nothing beyond them.
CONTENTFILE_AVX2 inline void StorePart(__m256i packed, size_t count,
                                       unsigned char* out) {
  alignas(32) unsigned char bytes[kBlock];
  _mm256_store_si256(reinterpret_cast<__m256i*>(static_cast<void*>(bytes)),
                     packed);
  std::memcpy(out, bytes, count);
}

// StorePart for a count known at compile time: a few fixed-size moves.
template <size_t kGroups>
CONTENTFILE_AVX2 inline void TakeGroups(__m256i packed,
                                        const unsigned char** in,
                                        unsigned char** out) {
  StorePart(packed, 3 * kGroups, *out);
  *in += 4 * kGroups;
  *out += 3 * kGroups;
}

}  // namespace

CONTENTFILE_AVX2 const unsigned char* Base64DecodeGroupsAvx2(
    const unsigned char* in, const unsigned char* end,
    unsigned char** out_position) {
  unsigned char* out = *out_position;
  while (end - in >= kBlock) {
    const Classified block = Classify(Load(in));
    const __m256i packed = Pack(block.sextets);
    if (block.outside == 0) {
      Store24(packed, out);
      in += kBlock;
      out += kBlockOutput;
      continue;
    }
    // Keep the whole groups before the first byte outside the alphabet. A
    // byte between groups other than "=" is skipped by the byte rules
    // anyway: step over it (CR LF together) and go on at full speed. One
    // inside a group, or "=", is for the byte rules. Where the byte stands
    // is branched on, not computed, so that the next block's load need not
    // wait for this block's classification when line lengths repeat.
    const unsigned first = static_cast<unsigned>(__builtin_ctz(block.outside));
    switch (first) {
      case 0:
        break;
      case 4:
        TakeGroups<1>(packed, &in, &out);
        break;
      case 8:
        TakeGroups<2>(packed, &in, &out);
        break;
      case 12:
        TakeGroups<3>(packed, &in, &out);
        break;
      case 16:
        TakeGroups<4>(packed, &in, &out);
        break;
      case 20:
        TakeGroups<5>(packed, &in, &out);
        break;
      case 24:
        TakeGroups<6>(packed, &in, &out);
        break;
      case 28:
        TakeGroups<7>(packed, &in, &out);
        break;
      default:  // inside a group
        StorePart(packed, first / 4 * 3, out);
        in += first / 4 * 4;
        out += first / 4 * 3;
        *out_position = out;
        return in;
    }
    if (in[0] == '\r' && end - in >= 2 && in[1] == '\n') {
      in += 2;
    } else if (in[0] != '=') {
      in += 1;
    } else {
      *out_position = out;  // "=" ends the data: the byte rules take it
      return in;
    }
  }
  *out_position = out;
  return Base64DecodeGroupsPortable(in, end, out_position);
}

}  // namespace contentfile_internal

#endif  // CONTENTFILE_HAVE_AVX2_KERNELS

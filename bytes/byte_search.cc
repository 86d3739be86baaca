#include "bytes/byte_search.h"

#include <climits>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace contentfile_internal {

namespace {

constexpr size_t kNone = SIZE_MAX;

inline bool IsAsciiLetter(unsigned char c) {
  return static_cast<unsigned char>((c | 0x20) - 'a') < 26;
}

// Byte equivalence of a search: exact, or ASCII letters without case.
struct ExactBytes {
  static unsigned char Canon(unsigned char c) { return c; }
  static constexpr bool kFolds = false;
};
struct FoldedBytes {
  static unsigned char Canon(unsigned char c) { return FoldCase(c); }
  static constexpr bool kFolds = true;
};

template <typename Bytes>
inline unsigned char CanonAt(const char* p, size_t i) {
  return Bytes::Canon(static_cast<unsigned char>(p[i]));
}

using Verdict = OccurrenceFilter::Verdict;

struct TakeEvery {
  Verdict operator()(const char* /*start*/) { return Verdict::kTake; }
};

// An OccurrenceFilter as the search engine calls its filters.
struct AskFilter {
  OccurrenceFilter& filter;
  Verdict operator()(const char* start) { return filter.Check(start); }
};

// --- Two-Way search (Crochemore and Perrin), over canonical bytes --------
//
// Linear time and constant space for any key. It reports occurrences in
// increasing order to `filter` and, after a skipped one, goes on with the
// shift it would take after a mismatch, which never passes over an
// occurrence.

// The maximal suffix of the key under the byte order, or under its reverse
// when `reversed`: returns the position one before the suffix (kNone for
// the whole key) and sets *period to the suffix's period.
template <typename Bytes>
size_t MaximalSuffix(const char* key, size_t key_length, bool reversed,
                     size_t* period) {
  size_t max_suffix = kNone;  // one before the suffix; wraps to 0 on +1
  size_t j = 0;
  size_t k = 1;
  size_t p = 1;
  while (j + k < key_length) {
    unsigned char a = CanonAt<Bytes>(key, j + k);
    unsigned char b = CanonAt<Bytes>(key, max_suffix + k);
    if (reversed ? b < a : a < b) {
      j += k;
      k = 1;
      p = j - max_suffix;
    } else if (a == b) {
      if (k != p) {
        ++k;
      } else {
        j += p;
        k = 1;
      }
    } else {
      max_suffix = j++;
      k = p = 1;
    }
  }
  *period = p;
  return max_suffix;
}

// Splits the key at a critical position, the later of the two maximal
// suffixes; *period receives the period of the right-hand part.
template <typename Bytes>
size_t CriticalFactorization(const char* key, size_t key_length,
                             size_t* period) {
  size_t forward_period = 1;
  size_t reverse_period = 1;
  const size_t forward =
      MaximalSuffix<Bytes>(key, key_length, false, &forward_period);
  const size_t reverse =
      MaximalSuffix<Bytes>(key, key_length, true, &reverse_period);
  if (reverse + 1 < forward + 1) {
    *period = forward_period;
    return forward + 1;
  }
  *period = reverse_period;
  return reverse + 1;
}

template <typename Bytes>
bool EqualCanon(const char* a, const char* b, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (CanonAt<Bytes>(a, i) != CanonAt<Bytes>(b, i)) return false;
  }
  return true;
}

// REQUIRES: 0 < key_length <= text_length.
template <typename Bytes, typename Filter>
const char* TwoWaySearch(const char* text, size_t text_length, const char* key,
                         size_t key_length, Filter& filter) {
  size_t period;
  const size_t suffix = CriticalFactorization<Bytes>(key, key_length, &period);
  const size_t last = text_length - key_length;
  size_t j = 0;
  if (EqualCanon<Bytes>(key, key + period, suffix)) {
    // The whole key has this period: the prefix already matched after a
    // shift by it is remembered in `memory`.
    size_t memory = 0;
    while (j <= last) {
      size_t i = suffix > memory ? suffix : memory;
      while (i < key_length &&
             CanonAt<Bytes>(key, i) == CanonAt<Bytes>(text, i + j)) {
        ++i;
      }
      if (i < key_length) {
        j += i - suffix + 1;
        memory = 0;
        continue;
      }
      i = suffix - 1;  // wraps when suffix is 0
      while (memory < i + 1 &&
             CanonAt<Bytes>(key, i) == CanonAt<Bytes>(text, i + j)) {
        --i;
      }
      if (i + 1 < memory + 1) {
        Verdict verdict = filter(text + j);
        if (verdict == Verdict::kTake) return text + j;
        if (verdict == Verdict::kStop) return nullptr;
      }
      j += period;
      memory = key_length - period;
    }
  } else {
    // No occurrences can lie closer than this.
    period = (suffix > key_length - suffix ? suffix : key_length - suffix) + 1;
    while (j <= last) {
      size_t i = suffix;
      while (i < key_length &&
             CanonAt<Bytes>(key, i) == CanonAt<Bytes>(text, i + j)) {
        ++i;
      }
      if (i < key_length) {
        j += i - suffix + 1;
        continue;
      }
      i = suffix - 1;
      while (i != kNone &&
             CanonAt<Bytes>(key, i) == CanonAt<Bytes>(text, i + j)) {
        --i;
      }
      if (i == kNone) {
        Verdict verdict = filter(text + j);
        if (verdict == Verdict::kTake) return text + j;
        if (verdict == Verdict::kStop) return nullptr;
      }
      j += period;
    }
  }
  return nullptr;
}

// --- Anchored scan --------------------------------------------------------
//
// The usual path: memchr finds the candidates by one byte of the key (the
// anchor, chosen to be rare in mail text) and each candidate is compared in
// full. Comparisons are counted; when they outgrow the text scanned so far
// (a key such as "aaa...a" over a text of "a"), the search goes on from the
// same place with Two-Way, so the whole stays linear.

// Guess of how common a byte is in mail and header text; lower is rarer.
int AnchorCost(unsigned char c, bool folds) {
  if (IsAsciiLetter(c)) return folds ? 4 : 3;  // folded: two bytes to find
  if (c == ' ') return 3;
  if ((c >= '0' && c <= '9') || c == '-' || c == '.') return 2;
  return 1;  // control bytes such as CR, punctuation, bytes above 127
}

// Finds the next byte equal to `first` or `second` with memchr, remembering
// the next hit of each so that no byte is scanned twice.
class AnchorScanner {
 public:
  AnchorScanner(const char* end, unsigned char first, unsigned char second)
      : end_(end),
        first_(first),
        second_(second),
        next_first_(nullptr),
        next_second_(first == second ? end : nullptr) {}

  // The first hit at or after `from`, or nullptr.
  const char* Next(const char* from) {
    if (from >= end_) return nullptr;
    Refresh(from, first_, &next_first_);
    Refresh(from, second_, &next_second_);
    const char* hit = next_first_ < next_second_ ? next_first_ : next_second_;
    return hit == end_ ? nullptr : hit;
  }

 private:
  void Refresh(const char* from, unsigned char c, const char** next) {
    if (*next != nullptr && *next >= from) return;
    const void* hit = std::memchr(from, c, static_cast<size_t>(end_ - from));
    *next = hit != nullptr ? static_cast<const char*>(hit) : end_;
  }

  const char* end_;
  unsigned char first_;
  unsigned char second_;
  const char* next_first_;
  const char* next_second_;
};

// Comparisons allowed before the switch to Two-Way: a fixed allowance plus
// kWorkPerByte per byte of text passed.
constexpr size_t kWorkAllowance = 256;
constexpr size_t kWorkPerByte = 4;

// REQUIRES: 0 < key_length <= text_length.
template <typename Bytes, typename Filter>
const char* Search(const char* text, size_t text_length, const char* key,
                   size_t key_length, Filter& filter) {
  size_t anchor = 0;
  int best_cost = INT_MAX;
  for (size_t i = 0; i < key_length && best_cost > 1; ++i) {
    int cost = AnchorCost(static_cast<unsigned char>(key[i]), Bytes::kFolds);
    if (cost < best_cost) {
      best_cost = cost;
      anchor = i;
    }
  }
  const unsigned char anchor_byte = CanonAt<Bytes>(key, anchor);
  const unsigned char other_case =
      Bytes::kFolds && IsAsciiLetter(anchor_byte)
          ? static_cast<unsigned char>(anchor_byte - 32)
          : anchor_byte;
  // A hit past this leaves no room for the key.
  const char* hits_end = text + (text_length - key_length) + anchor + 1;
  AnchorScanner scanner(hits_end, anchor_byte, other_case);

  const size_t allowance = kWorkAllowance + 2 * key_length;
  size_t work = 0;
  for (const char* hit = scanner.Next(text + anchor); hit != nullptr;
       hit = scanner.Next(hit + 1)) {
    const char* start = hit - anchor;
    size_t passed = static_cast<size_t>(start - text);
    if (work > allowance + kWorkPerByte * passed) {
      return TwoWaySearch<Bytes>(start, text_length - passed, key, key_length,
                                 filter);
    }
    size_t i = 0;
    while (i < key_length &&
           CanonAt<Bytes>(start, i) == CanonAt<Bytes>(key, i)) {
      ++i;
    }
    work += i + 1;
    if (i == key_length) {
      Verdict verdict = filter(start);
      if (verdict == Verdict::kTake) return start;
      if (verdict == Verdict::kStop) return nullptr;
    }
  }
  return nullptr;
}

}  // namespace

int32_t ParseDecimal(const char* text, size_t length) {
  DecimalScanner scanner;
  scanner.Add(text, length);
  return scanner.value();
}

void DecimalScanner::Add(const char* data, size_t length) {
  for (size_t i = 0; i < length && state_ != kDone; ++i) {
    const auto c = static_cast<unsigned char>(data[i]);
    if (state_ == kLeadingSpace) {
      if (IsSpace(c)) continue;
      state_ = kDigits;
      if (c == '-' || c == '+') {
        negative_ = c == '-';
        continue;
      }
    }
    // Anything else, a NUL too, ends the number.
    if (c < '0' || c > '9') {
      state_ = kDone;
      break;
    }
    value_ = value_ * 10U + static_cast<uint32_t>(c - '0');
  }
}

int32_t DecimalScanner::value() const {
  const uint32_t value = negative_ ? 0U - value_ : value_;
  // Two's complement reading of the low 32 bits, spelled out so that no
  // conversion depends on the implementation.
  return value <= static_cast<uint32_t>(INT32_MAX)
             ? static_cast<int32_t>(value)
             : -static_cast<int32_t>(~value) - 1;
}

const char* FindCaseInsensitive(const char* text, size_t text_length,
                                const char* key, size_t key_length) {
  if (key_length == 0) return text;
  if (key_length > text_length) return nullptr;
  TakeEvery filter;
  return Search<FoldedBytes>(text, text_length, key, key_length, filter);
}

bool EqualsCaseInsensitive(const char* a, size_t a_length, const char* b,
                           size_t b_length) {
  return a_length == b_length && EqualCanon<FoldedBytes>(a, b, a_length);
}

const char* FindBytes(const char* text, size_t text_length, const char* key,
                      size_t key_length) {
  if (key_length == 0) return text;
  if (key_length > text_length) return nullptr;
  if (key_length == 2) {
    // The keys of two bytes ("\r\n", "=?", "?=") are searched for often in
    // short texts, where memmem's set-up outweighs the search.
    return FindPair(text, text_length, key[0], key[1], false);
  }
  return static_cast<const char*>(memmem(text, text_length, key, key_length));
}

const char* FindAnyOf(const char* text, size_t text_length, const char* set,
                      size_t set_size) {
  const char* p = text;
  const char* const end = text + text_length;
#if defined(__SSE2__)
  __m128i wanted[16];
  for (size_t i = 0; i < set_size; ++i) wanted[i] = _mm_set1_epi8(set[i]);
  while (end - p >= 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i any = _mm_cmpeq_epi8(x, wanted[0]);
    for (size_t i = 1; i < set_size; ++i) {
      any = _mm_or_si128(any, _mm_cmpeq_epi8(x, wanted[i]));
    }
    const int mask = _mm_movemask_epi8(any);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  for (; p < end; ++p) {
    if (std::memchr(set, *p, set_size) != nullptr) return p;
  }
  return nullptr;
}

// Lone second bytes of a pair that FindPair passes with memchr before it
// compares many bytes at a time.
constexpr int kPairMemchrMisses = 4;

const char* FindPair(const char* text, size_t text_length, char first,
                     char second, bool fold_first) {
  if (text_length < 2) return nullptr;
  const auto fold = static_cast<unsigned char>(fold_first ? 0x20 : 0);
  const auto a =
      static_cast<unsigned char>(static_cast<unsigned char>(first) | fold);
  const auto b = static_cast<unsigned char>(second);
  // A pair's first byte lies before `last`, its second at or before it.
  const char* const last = text + text_length - 1;
  // While the second byte is rare, memchr finds it fastest and the byte
  // before it is compared; once it has occurred alone often, the pairs are
  // looked for many bytes at a time.
  const char* p = text;
  for (int alone = 0; alone < kPairMemchrMisses && p < last; ++alone) {
    const auto* hit = static_cast<const char*>(
        std::memchr(p + 1, second, static_cast<size_t>(last - p)));
    if (hit == nullptr) return nullptr;
    if ((static_cast<unsigned char>(hit[-1]) | fold) == a) return hit - 1;
    p = hit;
  }
#if defined(__SSE2__)
  const __m128i want_a = _mm_set1_epi8(static_cast<char>(a));
  const __m128i want_b = _mm_set1_epi8(static_cast<char>(b));
  const __m128i fold_bits = _mm_set1_epi8(static_cast<char>(fold));
  // 32 first bytes a step: p[0..31] and the bytes after them, p[32] at most
  // `last`.
  while (last - p >= 32) {
    const auto* q = reinterpret_cast<const __m128i*>(p);
    const auto* r = reinterpret_cast<const __m128i*>(p + 1);
    const __m128i lo = _mm_and_si128(
        _mm_cmpeq_epi8(_mm_or_si128(_mm_loadu_si128(q), fold_bits), want_a),
        _mm_cmpeq_epi8(_mm_loadu_si128(r), want_b));
    const __m128i hi = _mm_and_si128(
        _mm_cmpeq_epi8(_mm_or_si128(_mm_loadu_si128(q + 1), fold_bits), want_a),
        _mm_cmpeq_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 17)), want_b));
    const auto mask = static_cast<uint32_t>(_mm_movemask_epi8(lo)) |
                      (static_cast<uint32_t>(_mm_movemask_epi8(hi)) << 16);
    if (mask != 0) return p + __builtin_ctz(mask);
    p += 32;
  }
#endif
  for (; p < last; ++p) {
    if ((static_cast<unsigned char>(*p) | fold) == a &&
        static_cast<unsigned char>(p[1]) == b) {
      return p;
    }
  }
  return nullptr;
}

const char* FindFiltered(const char* text, size_t text_length, const char* key,
                         size_t key_length, bool fold_case,
                         OccurrenceFilter& filter) {
  if (key_length == 0) return text;
  if (key_length > text_length) return nullptr;
  AskFilter ask{filter};
  return fold_case
             ? Search<FoldedBytes>(text, text_length, key, key_length, ask)
             : Search<ExactBytes>(text, text_length, key, key_length, ask);
}

}  // namespace contentfile_internal

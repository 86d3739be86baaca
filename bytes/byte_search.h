// Byte searches and number scanning over byte ranges, the same in every
// locale: every function takes (pointer, length) and never reads outside
// the range, so callers find a text's NUL once and bound every search by it.
// Nothing here allocates or asks the system anything; codec/, platform/ and
// the rooms above share these.

#ifndef CONTENTFILE_BYTES_BYTE_SEARCH_H_
#define CONTENTFILE_BYTES_BYTE_SEARCH_H_

#include <cstddef>
#include <cstdint>

namespace contentfile_internal {

// Decimal text to integer by the rules of atoi: leading white space
// (space, \t, \n, \v, \f, \r) skipped, an optional sign, digits up to the
// first non-digit; 0 when there are none. A NUL ends the text. Overflow is
// defined: the value wraps modulo 2^32, as glibc's atoi does for every value
// that fits in a long.
int32_t ParseDecimal(const char* text, size_t length);

// ParseDecimal over a text handed in consecutive pieces, so that a text of
// any length costs no memory: after Add of every piece in order, value() is
// what ParseDecimal gives for the whole text.
class DecimalScanner {
 public:
  void Add(const char* data, size_t length);
  void operator()(const char* data, size_t length) { Add(data, length); }
  int32_t value() const;

 private:
  enum State { kLeadingSpace, kDigits, kDone };
  State state_ = kLeadingSpace;
  bool negative_ = false;
  uint32_t value_ = 0;
};

// True for space, \t, \n, \v, \f and \r.
inline bool IsSpace(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// ASCII letters folded to lower case; every other byte unchanged.
inline unsigned char FoldCase(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// First occurrence of `key` in `text`, comparing ASCII letters without
// regard to case (bytes above 127 compare exactly). Returns nullptr when
// there is none; an empty key matches at `text`. Candidates are found with
// memchr on one byte of the key, a control byte or punctuation where it has
// one (the CR of "\r\n--boundary": one memchr per line), and the search
// stays linear in the length of the text for every key.
const char* FindCaseInsensitive(const char* text, size_t text_length,
                                const char* key, size_t key_length);

// Whole-text comparison without regard to ASCII case.
bool EqualsCaseInsensitive(const char* a, size_t a_length, const char* b,
                           size_t b_length);

// First occurrence of `key` in `text`, exact bytes (memmem).
const char* FindBytes(const char* text, size_t text_length, const char* key,
                      size_t key_length);

// First byte of `text` that is one of the `set_size` bytes of `set`, or
// null; many bytes are compared at a time. REQUIRES: 0 < set_size <= 16.
const char* FindAnyOf(const char* text, size_t text_length, const char* set,
                      size_t set_size);

// First position in `text` where the byte `first` is followed by `second`,
// or null. With `fold_first`, `first` (an ASCII letter) matches in either
// case. Many bytes are compared at a time, so a pair is found at the same
// cost however often its first byte occurs alone.
const char* FindPair(const char* text, size_t text_length, char first,
                     char second, bool fold_first);

// Told of each occurrence of the key that FindFiltered meets, in
// increasing order of position: whether to take it, to pass over it or to
// end the search there.
class OccurrenceFilter {
 public:
  enum class Verdict { kTake, kSkip, kStop };
  virtual Verdict Check(const char* start) = 0;

 protected:
  ~OccurrenceFilter() = default;
};

// First occurrence of `key` in `text` that `filter` takes, comparing exact
// bytes or, with `fold_case`, ASCII letters without regard to case; the
// search stays linear in the text length for every key and filter. An
// empty key matches at `text` without asking the filter.
const char* FindFiltered(const char* text, size_t text_length, const char* key,
                         size_t key_length, bool fold_case,
                         OccurrenceFilter& filter);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_BYTES_BYTE_SEARCH_H_

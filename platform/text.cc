#include "platform/text.h"

#include <langinfo.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace contentfile_internal {

namespace {

using Verdict = OccurrenceFilter::Verdict;

// Walks the characters of the calling thread's LC_CTYPE locale from the
// start of a text, forward only, to tell whether a position begins a
// character. An invalid sequence counts as one byte; a character cut by the
// end of the text ends the search.
class CharacterBoundaries final : public OccurrenceFilter {
 public:
  CharacterBoundaries(const char* begin, const char* end)
      : position_(begin), end_(end), state_() {}

  // Positions must be asked in increasing order.
  Verdict Check(const char* target) override {
    while (position_ < target) {
      // The multibyte charsets of glibc locales are stateless and keep every
      // byte below 0x80 met at a character start as a character of its own
      // (only a trail byte may fall in that range).
      if (static_cast<unsigned char>(*position_) < 0x80) {
        ++position_;
        continue;
      }
      size_t length =
          mbrlen(position_, static_cast<size_t>(end_ - position_), &state_);
      if (length == static_cast<size_t>(-2)) return Verdict::kStop;
      if (length == static_cast<size_t>(-1)) {
        state_ = std::mbstate_t();
        length = 1;
      } else if (length == 0) {
        length = 1;  // the NUL character
      }
      position_ += length;
    }
    return position_ == target ? Verdict::kTake : Verdict::kSkip;
  }

 private:
  const char* position_;
  const char* end_;
  std::mbstate_t state_;
};

}  // namespace

bool ByteSearchesAreExact() {
  if (MB_CUR_MAX == 1) return true;
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
}

const char* FindCharMb(const char* text, size_t text_length, char c) {
  if (text_length == 0) return nullptr;
  const char* end = text + text_length;
  if (ByteSearchesAreExact()) {
    return static_cast<const char*>(std::memchr(text, c, text_length));
  }
  CharacterBoundaries boundaries(text, end);
  const char* from = text;
  while (from < end) {
    const char* hit = static_cast<const char*>(
        std::memchr(from, c, static_cast<size_t>(end - from)));
    if (hit == nullptr) return nullptr;
    switch (boundaries.Check(hit)) {
      case Verdict::kTake:
        return hit;
      case Verdict::kStop:
        return nullptr;
      case Verdict::kSkip:
        from = hit + 1;
        break;
    }
  }
  return nullptr;
}

const char* FindStringMb(const char* text, size_t text_length, const char* key,
                         size_t key_length) {
  if (ByteSearchesAreExact()) {
    return FindBytes(text, text_length, key, key_length);
  }
  if (key_length == 0) return text;
  if (key_length > text_length) return nullptr;
  CharacterBoundaries boundaries(text, text + text_length);
  return FindFiltered(text, text_length, key, key_length, false, boundaries);
}

const char* FindCaseInsensitiveMb(const char* text, size_t text_length,
                                  const char* key, size_t key_length) {
  if (ByteSearchesAreExact()) {
    return FindCaseInsensitive(text, text_length, key, key_length);
  }
  if (key_length == 0) return text;
  if (key_length > text_length) return nullptr;
  CharacterBoundaries boundaries(text, text + text_length);
  return FindFiltered(text, text_length, key, key_length, true, boundaries);
}
}  // namespace contentfile_internal

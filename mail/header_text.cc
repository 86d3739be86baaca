#include "mail/header_text.h"

#include <cstring>

#include "platform/text.h"

namespace contentfile_internal {

namespace {

// The first CR LF in [from, end), or null.
const char* FindLineEnd(const char* from, const char* end) {
  while (end - from >= 2) {
    const auto* lf = static_cast<const char*>(
        std::memchr(from + 1, '\n', static_cast<size_t>(end - from - 1)));
    if (lf == nullptr) return nullptr;
    if (lf[-1] == '\r') return lf - 1;
    from = lf;
  }
  return nullptr;
}

bool IsFold(const char* p, const char* end) {
  return end - p >= 3 && p[0] == '\r' && p[1] == '\n' &&
         (p[2] == ' ' || p[2] == '\t');
}
}  // namespace

namespace {

// FindFieldKey for a key taken literally.
size_t FindLiteralKey(const char* block, size_t length, std::string_view key) {
  if (key.substr(0, kLineEnd.size()) != kLineEnd) {
    const char* hit =
        FindCaseInsensitive(block, length, key.data(), key.size());
    if (hit == nullptr) return kNotFound;
    return static_cast<size_t>(hit - block) + key.size();
  }
  // The key's name is compared at the start of each line, the first line
  // included; that finds the first "\r\n" + name as a substring search
  // would, with one memchr per line.
  const std::string_view name = key.substr(kLineEnd.size());
  const char* const end = block + length;
  const char* line = block;
  while (true) {
    if (static_cast<size_t>(end - line) >= name.size() &&
        BeginsWithCaseInsensitive(line, name)) {
      return static_cast<size_t>(line - block) + name.size();
    }
    const char* line_end = FindLineEnd(line, end);
    if (line_end == nullptr) return kNotFound;
    line = line_end + kLineEnd.size();
  }
}

}  // namespace

size_t FindFieldKey(const char* block, size_t length, std::string_view key) {
  // "Name: " matches "Name:" too; the value then begins after the colon,
  // or after the one space that follows it.
  constexpr std::string_view kColonSpace = ": ";
  if (key.size() < kColonSpace.size() ||
      key.substr(key.size() - kColonSpace.size()) != kColonSpace) {
    return FindLiteralKey(block, length, key);
  }
  const size_t after_colon =
      FindLiteralKey(block, length, key.substr(0, key.size() - 1));
  if (after_colon == kNotFound) return kNotFound;
  return after_colon < length && block[after_colon] == ' ' ? after_colon + 1
                                                           : after_colon;
}

std::optional<std::string_view> FindHeadField(const char* block, size_t length,
                                              std::string_view key) {
  const size_t begin = FindFieldKey(block, length, key);
  if (begin == kNotFound) return std::nullopt;
  return FieldValueAt(block, length, begin);
}

size_t ScanHeadLines(const char* text, size_t length,
                     const std::string_view* keys, size_t count,
                     size_t* found) {
  // The names to compare ("From:" of "\r\nFrom: "), and which of them a
  // line's first letter may begin, as a bit per name.
  constexpr size_t kMaxKeys = 8;
  constexpr std::string_view kColonSpace = ": ";
  std::string_view names[kMaxKeys];
  uint8_t by_letter[32] = {};
  if (count > kMaxKeys) count = kMaxKeys;
  for (size_t i = 0; i < count; ++i) {
    found[i] = kNotFound;
    names[i] =
        keys[i].substr(kLineEnd.size(), keys[i].size() - kLineEnd.size() -
                                            kColonSpace.size() + 1);
    by_letter[(names[i][0] | 0x20) & 31] |= static_cast<uint8_t>(1u << i);
  }
  unsigned missing = (1u << count) - 1;
  const char* const end = text + length;
  size_t line = 0;
  while (true) {
    // Every line start but the first follows a CR LF: a CR LF right at it
    // ends the head. A field name never holds a CR, so a name matched on a
    // line of the head lies wholly inside the head.
    if (line < length) {
      const auto first = static_cast<unsigned char>(text[line]);
      if (line > 0 && first == '\r' && length - line >= kLineEnd.size() &&
          text[line + 1] == '\n') {
        return line - kLineEnd.size();
      }
      // Letters only: the bit of a name is set under its letter's low
      // five bits, which other bytes share.
      const bool letter = static_cast<unsigned char>((first | 0x20) - 'a') < 26;
      unsigned candidates =
          letter ? by_letter[(first | 0x20) & 31] & missing : 0;
      while (candidates != 0) {
        const unsigned i = static_cast<unsigned>(__builtin_ctz(candidates));
        candidates &= candidates - 1;
        if (length - line < names[i].size() ||
            !BeginsWithCaseInsensitive(text + line, names[i])) {
          continue;
        }
        size_t after = line + names[i].size();
        if (after < length && text[after] == ' ') ++after;
        found[i] = after;
        missing &= ~(1u << i);
      }
    }
    const char* line_end = FindLineEnd(text + line, end);
    if (line_end == nullptr) return kNotFound;
    line = static_cast<size_t>(line_end - text) + kLineEnd.size();
  }
}

void FindHeadFields(const char* block, size_t length,
                    const std::string_view* keys, size_t count,
                    std::string_view* values) {
  constexpr size_t kMaxKeys = 8;
  size_t found[kMaxKeys];
  // The walk ends at an empty line, which a header block does not hold;
  // should one hold it, each field is looked for on its own.
  const bool walked =
      ScanHeadLines(block, length, keys, count, found) == kNotFound;
  for (size_t i = 0; i < count; ++i) {
    if (!walked) {
      values[i] = FindHeadField(block, length, keys[i]).value_or("");
    } else {
      values[i] = found[i] == kNotFound ? std::string_view()
                                        : FieldValueAt(block, length, found[i]);
    }
  }
}

std::string_view FieldValueAt(const char* block, size_t length, size_t begin) {
  const char* const end = block + length;
  const char* value_end = end;
  const char* from = block + begin;
  while (const char* line_end = FindLineEnd(from, end)) {
    if (!IsFold(line_end, end)) {
      value_end = line_end;
      break;
    }
    from = line_end + kLineEnd.size();
  }
  return std::string_view(block + begin,
                          static_cast<size_t>(value_end - (block + begin)));
}

// Candidates for a match are the key's first letter, in either case, where
// a character begins. Such a byte is a character of its own, so the bytes
// after it begin characters too, and an ASCII key matched there lies wholly
// on character boundaries.
KeyScanner::KeyScanner(const char* text, size_t length, std::string_view key)
    : end_(text + length), key_(key) {
  const char first =
      static_cast<char>(FoldCase(static_cast<unsigned char>(key[0])));
  const char other = first >= 'a' && first <= 'z'
                         ? static_cast<char>(first - ('a' - 'A'))
                         : first;
  first_ = Candidates{first, nullptr, false};
  other_ = Candidates{other, nullptr, other == first};
}

const char* KeyScanner::Advance(Candidates& candidates,
                                const char* from) const {
  if (!candidates.exhausted &&
      (candidates.next == nullptr || candidates.next < from)) {
    candidates.next =
        FindCharMb(from, static_cast<size_t>(end_ - from), candidates.byte);
    candidates.exhausted = candidates.next == nullptr;
  }
  return candidates.exhausted ? nullptr : candidates.next;
}

const char* KeyScanner::Next(const char* from) {
  const std::string_view rest = key_.substr(1);
  while (from < end_) {
    const char* first = Advance(first_, from);
    const char* other = Advance(other_, from);
    if (first == nullptr && other == nullptr) return nullptr;
    const char* hit =
        other == nullptr || (first != nullptr && first < other) ? first : other;
    if (static_cast<size_t>(end_ - hit) < key_.size()) return nullptr;
    if (BeginsWithCaseInsensitive(hit + 1, rest)) {
      return hit;
    }
    from = hit + 1;
  }
  return nullptr;
}

std::string UnfoldHeaderValue(std::string_view value) {
  std::string unfolded;
  unfolded.reserve(value.size());
  const char* p = value.data();
  const char* const end = p + value.size();
  while (p < end) {
    const char* line_end = FindLineEnd(p, end);
    if (line_end == nullptr) {
      unfolded.append(p, end);
      break;
    }
    unfolded.append(p, line_end);
    if (!IsFold(line_end, end)) unfolded.append(kLineEnd);
    p = line_end + kLineEnd.size();
  }
  return unfolded;
}

std::string_view TrimHeaderSpace(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsSpace(static_cast<unsigned char>(text[begin]))) {
    ++begin;
  }
  while (end > begin && IsSpace(static_cast<unsigned char>(text[end - 1]))) {
    --end;
  }
  return text.substr(begin, end - begin);
}

}  // namespace contentfile_internal

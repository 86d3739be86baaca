#include "mail/header_text.h"

#include "platform/text.h"

namespace contentfile_internal {

namespace {
constexpr std::string_view kLineEnd = "\r\n";

bool IsFold(const char* p, const char* end) {
  return end - p >= 3 && p[0] == '\r' && p[1] == '\n' &&
         (p[2] == ' ' || p[2] == '\t');
}
}  // namespace

size_t FindFieldKey(const char* block, size_t length, std::string_view key) {
  if (key.substr(0, kLineEnd.size()) == kLineEnd) {
    const std::string_view first_line_key = key.substr(kLineEnd.size());
    if (length >= first_line_key.size() &&
        EqualsCaseInsensitive(block, first_line_key.size(),
                              first_line_key.data(), first_line_key.size())) {
      return first_line_key.size();
    }
  }
  const char* hit = FindCaseInsensitive(block, length, key.data(), key.size());
  if (hit == nullptr) return kNotFound;
  return static_cast<size_t>(hit - block) + key.size();
}

bool LookUpHeadField(const char* block, size_t length, std::string_view key,
                     std::string& value) {
  const size_t begin = FindFieldKey(block, length, key);
  if (begin == kNotFound) return false;
  const char* const end = block + length;
  const char* value_end = end;
  const char* from = block + begin;
  while (const char* line_end =
             FindBytes(from, static_cast<size_t>(end - from), kLineEnd.data(),
                       kLineEnd.size())) {
    if (!IsFold(line_end, end)) {
      value_end = line_end;
      break;
    }
    from = line_end + kLineEnd.size();
  }
  value.assign(block + begin, value_end);
  return true;
}

const char* FindCaseInsensitiveMb(const char* text, size_t length,
                                  std::string_view key) {
  if (key.empty()) return text;
  if (length < key.size()) return nullptr;
  const char* const end = text + length;
  // Candidates are the key's first letter, in either case, where a character
  // begins. Such a byte is a character of its own, so the bytes after it
  // begin characters too, and an ASCII key matched there lies wholly on
  // character boundaries.
  const char lower = static_cast<char>(FoldCase(key[0]));
  const char upper = (lower >= 'a' && lower <= 'z')
                         ? static_cast<char>(lower - ('a' - 'A'))
                         : lower;
  const char* next_lower = FindCharMb(text, length, lower);
  const char* next_upper =
      upper == lower ? nullptr : FindCharMb(text, length, upper);
  const std::string_view rest = key.substr(1);
  while (next_lower != nullptr || next_upper != nullptr) {
    const bool take_lower =
        next_upper == nullptr || (next_lower != nullptr && next_lower < next_upper);
    const char*& candidate = take_lower ? next_lower : next_upper;
    const char* hit = candidate;
    if (static_cast<size_t>(end - hit) < key.size()) return nullptr;
    if (EqualsCaseInsensitive(hit + 1, rest.size(), rest.data(), rest.size())) {
      return hit;
    }
    candidate = FindCharMb(hit + 1, static_cast<size_t>(end - hit - 1),
                           take_lower ? lower : upper);
  }
  return nullptr;
}

std::string UnfoldHeaderValue(std::string_view value) {
  std::string unfolded;
  unfolded.reserve(value.size());
  const char* p = value.data();
  const char* const end = p + value.size();
  while (p < end) {
    const char* line_end = FindBytes(p, static_cast<size_t>(end - p),
                                     kLineEnd.data(), kLineEnd.size());
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

#include "mail/empty_line_finder.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace contentfile_internal {

namespace {

constexpr size_t kEmptyLineLength = 4;

// First "\r\n\r\n" in [text, text + length), hopping from line end to line
// end: header lines are short, and the search usually ends within a few.
const char* FindEmptyLine(const char* text, size_t length) {
  if (length < kEmptyLineLength) return nullptr;
  const char* const end = text + length;
  // An empty line's first LF stands at offset 1 or later, its last byte
  // before `end`.
  const char* from = text + 1;
  while (static_cast<size_t>(end - from) >= kEmptyLineLength - 1) {
    const auto* lf = static_cast<const char*>(
        std::memchr(from, '\n', static_cast<size_t>(end - from) - 2));
    if (lf == nullptr) return nullptr;
    if (lf[-1] == '\r' && lf[1] == '\r' && lf[2] == '\n') return lf - 1;
    from = lf + 1;
  }
  return nullptr;
}

}  // namespace

void EmptyLineFinder::Reset(const char* text, size_t length) {
  text_ = text;
  length_ = text == nullptr ? 0 : length;
  known_.clear();
}

size_t EmptyLineFinder::Find(size_t from) {
  if (from >= length_) return kNone;
  // The first range that begins after `from`.
  auto next = known_.empty() || known_.back().found < from
                  ? known_.end()
                  : std::upper_bound(known_.begin(), known_.end(), from,
                                     [](size_t offset, const Range& range) {
                                       return offset < range.from;
                                     });
  if (next != known_.begin()) {
    const Range& previous = *std::prev(next);
    if (from <= previous.found) return previous.found;
  }
  // Scan only up to the next known range: an empty line that begins before
  // it is found here, and otherwise that range's answer holds for `from`.
  const size_t limit = next == known_.end() ? length_ : next->from;
  const size_t scan_end = limit + kEmptyLineLength - 1 < length_
                              ? limit + kEmptyLineLength - 1
                              : length_;
  const char* hit = FindEmptyLine(text_ + from, scan_end - from);
  if (hit == nullptr && next != known_.end()) {
    next->from = from;
    return next->found;
  }
  const size_t found =
      hit == nullptr ? kNone : static_cast<size_t>(hit - text_);
  known_.insert(next, Range{from, found});
  return found;
}

}  // namespace contentfile_internal

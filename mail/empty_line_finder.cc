#include "mail/empty_line_finder.h"

#include <iterator>

#include "platform/text.h"

namespace contentfile_internal {

namespace {
constexpr char kEmptyLine[] = "\r\n\r\n";
constexpr size_t kEmptyLineLength = sizeof(kEmptyLine) - 1;
}  // namespace

void EmptyLineFinder::Reset(const char* text, size_t length) {
  text_ = text;
  length_ = text == nullptr ? 0 : length;
  known_.clear();
}

size_t EmptyLineFinder::Find(size_t from) {
  if (from >= length_) return kNone;
  auto next = known_.upper_bound(from);
  if (next != known_.begin()) {
    auto previous = std::prev(next);
    if (from <= previous->second) return previous->second;
  }
  // Scan only up to the next known range: an empty line that begins before
  // it is found here, and otherwise that range's answer holds for `from`.
  const size_t limit = next == known_.end() ? length_ : next->first;
  const size_t scan_end = limit + kEmptyLineLength - 1 < length_
                              ? limit + kEmptyLineLength - 1
                              : length_;
  const char* hit = FindBytes(text_ + from, scan_end - from, kEmptyLine,
                              kEmptyLineLength);
  size_t found;
  if (hit != nullptr) {
    found = static_cast<size_t>(hit - text_);
  } else if (next != known_.end()) {
    found = next->second;
    next = known_.erase(next);
  } else {
    found = kNone;
  }
  known_.emplace_hint(next, from, found);
  return found;
}

}  // namespace contentfile_internal

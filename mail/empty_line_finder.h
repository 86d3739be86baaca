// The search for the empty line ("\r\n\r\n") that ends a header block, asked
// once for every part of a message. Parts are asked for mostly in message
// order, but a part may be asked for again, or a part that encloses earlier
// ones may be asked for later; every answer is the one an unbounded forward
// search would give, and each byte of the text is scanned at most once
// whatever the order of the questions, so the parts of a message cost time
// proportional to its size.

#ifndef CONTENTFILE_MAIL_EMPTY_LINE_FINDER_H_
#define CONTENTFILE_MAIL_EMPTY_LINE_FINDER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace contentfile_internal {

class EmptyLineFinder {
 public:
  static constexpr size_t kNone = SIZE_MAX;

  EmptyLineFinder() = default;

  // Searches `text` (borrowed, `length` bytes) from now on and forgets what
  // was learnt of any earlier text.
  void Reset(const char* text, size_t length);

  // Offset of the first "\r\n\r\n" that begins at or after `from`, or kNone.
  // May throw std::bad_alloc (one small record per question).
  size_t Find(size_t from);

 private:
  const char* text_ = nullptr;
  size_t length_ = 0;
  // A scanned range: no empty line begins in [from, found), and `found` is
  // the offset of one, or kNone when none begins from `from` to the end of
  // the text.
  struct Range {
    size_t from;
    size_t found;
  };
  // Disjoint ranges in increasing order. Questions mostly go forward, so a
  // new range is mostly appended; one inserted before others is a question
  // about a part that encloses the parts asked about since, which happens
  // once per enclosing part and moves only the ranges of its own parts.
  std::vector<Range> known_;
};

}  // namespace contentfile_internal

#endif  // CONTENTFILE_MAIL_EMPTY_LINE_FINDER_H_

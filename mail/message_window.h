// A fixed window onto a message source, moved forward as a scan proceeds,
// with single-byte access anywhere in the message for the few comparisons
// that reach past the window's edge (a delimiter, key or empty line split
// by it). The window is the scan's own: it is made per call that reads.

#ifndef CONTENTFILE_MAIL_MESSAGE_WINDOW_H_
#define CONTENTFILE_MAIL_MESSAGE_WINDOW_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mail/message_source.h"
#include "platform/memory.h"

namespace contentfile_internal {

class MessageWindow {
 public:
  // Window size used when the caller names none.
  static constexpr size_t kDefaultSize = size_t{256} << 10;

  // REQUIRES: size > 0. Allocates nothing until Reserve.
  MessageWindow(const MessageSource& source, size_t size);

  // Allocates the window; false when memory runs out.
  bool Reserve();

  // Makes the window hold the bytes from `offset` on, as many as fit; false
  // (and failed()) when they cannot be read. REQUIRES: offset < size().
  bool Load(uint32_t offset);

  // The bytes held: [base(), end()), starting at data().
  const char* data() const { return buffer_.get(); }
  uint32_t base() const { return base_; }
  uint32_t end() const { return end_; }
  uint32_t size() const { return source_.size(); }
  // Bytes the window holds at most: the size asked for, or the message's
  // size when that is smaller.
  size_t capacity() const { return capacity_; }
  const MessageSource& source() const { return source_; }
  bool Holds(uint32_t offset) const { return offset - base_ < end_ - base_; }

  // The byte at `offset` < size(), wherever it lies. A byte that cannot be
  // read gives 0 and sets failed().
  unsigned char At(uint32_t offset) {
    if (Holds(offset))
      return static_cast<unsigned char>(buffer_[offset - base_]);
    return AtOutside(offset);
  }

  // True once a read has failed; the scan's answers are then void.
  bool failed() const { return failed_; }

 private:
  unsigned char AtOutside(uint32_t offset);

  const MessageSource& source_;
  size_t capacity_;
  Buffer buffer_;
  uint32_t base_ = 0;
  uint32_t end_ = 0;
  // A small second window for the bytes just past (or before) the main one.
  static constexpr size_t kSideSize = 256;
  char side_[kSideSize];
  uint32_t side_base_ = 0;
  uint32_t side_end_ = 0;
  bool failed_ = false;
};

// Offset of the first occurrence of `key` (exact bytes, not empty) that
// begins at or after `from`, read window by window; SIZE_MAX when there is
// none or the message could not be read (then window.failed()).
// REQUIRES: the window is reserved.
size_t FindInMessage(MessageWindow& window, uint32_t from,
                     std::string_view key);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_MAIL_MESSAGE_WINDOW_H_

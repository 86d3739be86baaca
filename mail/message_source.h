// Where a parsed message's bytes are read from: the body range of an open
// capture, or a buffer (tests, fuzzing). The parser keeps offsets into the
// message and reads its bytes back through a source whenever a part is
// retrieved, so the message is never held whole in memory.
//
// A source is read-only after construction and keeps no position: any
// number of readers may use it at once, each with buffers of its own.

#ifndef CONTENTFILE_MAIL_MESSAGE_SOURCE_H_
#define CONTENTFILE_MAIL_MESSAGE_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/memory.h"

namespace contentfile_internal {

class FileHandle;

class MessageSource {
 public:
  explicit MessageSource(uint32_t size) : size_(size) {}
  virtual ~MessageSource() = default;
  MessageSource(const MessageSource&) = delete;
  MessageSource& operator=(const MessageSource&) = delete;

  // The message's length, as taken when the source was made.
  uint32_t size() const { return size_; }

  // Reads the `length` bytes at `offset` of the message into `buffer`.
  // False when they cannot all be read: a file that has shrunk since the
  // open, or a failing read. REQUIRES: offset + length <= size().
  virtual bool Read(uint32_t offset, char* buffer, size_t length) const = 0;

 private:
  uint32_t size_;
};

// The message held in a buffer of its own.
class MemorySource final : public MessageSource {
 public:
  MemorySource(Buffer data, uint32_t size)
      : MessageSource(size), data_(std::move(data)) {}
  bool Read(uint32_t offset, char* buffer, size_t length) const override;
  const char* data() const { return data_.get(); }

 private:
  Buffer data_;
};

// The message as `size` bytes of an open file from `offset` on; the file
// stays open as long as the source lives.
class FileRangeSource final : public MessageSource {
 public:
  FileRangeSource(std::shared_ptr<const FileHandle> file, uint32_t offset,
                  uint32_t size)
      : MessageSource(size), file_(std::move(file)), offset_(offset) {}
  bool Read(uint32_t offset, char* buffer, size_t length) const override;

 private:
  std::shared_ptr<const FileHandle> file_;
  uint32_t offset_;
};

}  // namespace contentfile_internal

#endif  // CONTENTFILE_MAIL_MESSAGE_SOURCE_H_

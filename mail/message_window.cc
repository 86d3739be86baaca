#include "mail/message_window.h"

#include "platform/text.h"

namespace contentfile_internal {

// A window never needs to be larger than the message. Keeping it no larger
// matters for small messages: a window of the full size would be a mapping
// of its own, made and unmade on every open, wherever the allocator's
// threshold for those has been pinned (as some process managers do).
MessageWindow::MessageWindow(const MessageSource& source, size_t size)
    : source_(source),
      capacity_(source.size() == 0 || source.size() >= size ? size
                                                            : source.size()) {}

bool MessageWindow::Reserve() {
  if (!buffer_) buffer_ = AllocateBuffer(capacity_);
  return buffer_ != nullptr;
}

bool MessageWindow::Load(uint32_t offset) {
  const uint32_t left = source_.size() - offset;
  const size_t n = left < capacity_ ? left : capacity_;
  base_ = offset;
  if (!source_.Read(offset, buffer_.get(), n)) {
    end_ = offset;
    failed_ = true;
    return false;
  }
  end_ = offset + static_cast<uint32_t>(n);
  return true;
}

unsigned char MessageWindow::AtOutside(uint32_t offset) {
  if (offset - side_base_ >= side_end_ - side_base_) {
    // Start the side window a little before `offset`: comparisons look a
    // few bytes back as well as forward.
    const uint32_t base = offset >= 8 ? offset - 8 : 0;
    const uint32_t left = source_.size() - base;
    const size_t n = left < kSideSize ? left : kSideSize;
    if (!source_.Read(base, side_, n)) {
      failed_ = true;
      side_end_ = side_base_ = 0;
      return 0;
    }
    side_base_ = base;
    side_end_ = base + static_cast<uint32_t>(n);
  }
  return static_cast<unsigned char>(side_[offset - side_base_]);
}

size_t FindInMessage(MessageWindow& window, uint32_t from,
                     std::string_view key) {
  const uint32_t size = window.size();
  const auto key_length = static_cast<uint32_t>(key.size());
  for (uint32_t at = from; at < size && size - at >= key_length;) {
    if (!window.Holds(at) && !window.Load(at)) return SIZE_MAX;
    const uint32_t end = window.end();
    const char* text = window.data() + (at - window.base());
    const char* hit = FindBytes(text, end - at, key.data(), key.size());
    if (hit != nullptr) return at + static_cast<size_t>(hit - text);
    // Occurrences that the window's end splits.
    const uint32_t split = end - at >= key_length ? end - key_length + 1 : at;
    for (uint32_t candidate = split; candidate < end; ++candidate) {
      if (size - candidate < key_length) return SIZE_MAX;
      uint32_t i = 0;
      while (i < key_length &&
             window.At(candidate + i) == static_cast<unsigned char>(key[i])) {
        ++i;
      }
      if (window.failed()) return SIZE_MAX;
      if (i == key_length) return candidate;
    }
    at = end;
  }
  return SIZE_MAX;
}

}  // namespace contentfile_internal

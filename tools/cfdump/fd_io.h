// Owned file descriptors and whole writes to them.

#ifndef CONTENTFILE_TOOLS_CFDUMP_FD_IO_H_
#define CONTENTFILE_TOOLS_CFDUMP_FD_IO_H_

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <utility>

namespace cfdump {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes the descriptor held (Linux releases it even on EINTR) and takes
  // `fd` instead.
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes the descriptor and returns 0 or the errno of close.
  int Close() {
    const int fd = std::exchange(fd_, -1);
    if (fd < 0 || ::close(fd) == 0) return 0;
    return errno == EINTR ? 0 : errno;
  }

 private:
  int fd_ = -1;
};

// Writes all `size` bytes, retrying on EINTR. Returns 0 or the errno of
// the failure (ENOSPC when the file takes no more bytes).
int WriteAll(int fd, const char* data, size_t size);

// True when `a` and `b` describe the same file.
inline bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_FD_IO_H_

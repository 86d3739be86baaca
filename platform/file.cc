#include "platform/file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <utility>

#include "contentfile.h"
#include "platform/descriptor.h"
#include "platform/fault_injection.h"

CFileError::CFileError(int error_number, const std::string& path,
                       const std::string& what)
    : std::system_error(error_number, std::generic_category(),
                        what + " '" + path + "'"),
      path_(path) {}
CFileError::CFileError(const CFileError&) = default;
CFileError& CFileError::operator=(const CFileError&) = default;
CFileError::~CFileError() = default;
const std::string& CFileError::path() const noexcept { return path_; }

namespace contentfile_internal {
namespace {

constexpr uint64_t kLargestFileSize = 0xFFFFFFFFull;

// A longer path is refused rather than cut: the cut path may name another
// file.
bool UsablePath(const char* path) {
  return path != nullptr && strnlen(path, kMaxPathLength + 1) <= kMaxPathLength;
}

void CloseQuietly(int fd) {
  // The descriptor is released even when close reports EINTR on Linux.
  ::close(fd);
}

}  // namespace

std::unique_ptr<FileHandle> FileHandle::Open(const char* path) {
  if (!UsablePath(path)) return nullptr;
  // O_NONBLOCK: opening a FIFO or a device must never wait.
  int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  const bool refused = ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
                       static_cast<uint64_t>(st.st_size) > kLargestFileSize ||
                       ::flock(fd, LOCK_SH | LOCK_NB) != 0;
  if (refused) {
    CloseQuietly(fd);
    return nullptr;
  }
  // Out of memory for the object or its path must not leak the descriptor
  // (and with it the lock).
  try {
    return std::unique_ptr<FileHandle>(
        new FileHandle(fd, static_cast<uint32_t>(st.st_size), path,
                       FileIdentity{static_cast<uint64_t>(st.st_dev),
                                    static_cast<uint64_t>(st.st_ino)}));
  } catch (...) {
    CloseQuietly(fd);
    throw;
  }
}

FileHandle::FileHandle(int fd, uint32_t size, std::string path,
                       FileIdentity identity)
    : fd_(fd), size_(size), path_(std::move(path)), identity_(identity) {}

FileHandle::~FileHandle() { CloseQuietly(fd_); }

size_t FileHandle::ReadAt(uint64_t offset, char* buffer, size_t length) const {
  if (length > 0 && offset <= prefix_size_ && length <= prefix_size_ - offset) {
    // A read all the same for the tests' failing reads.
    if (ShouldFail(Fault::kRead)) throw CFileError(EIO, path_, "cannot read");
    std::memcpy(buffer, prefix_.get() + offset, length);
    return length;
  }
  size_t done = 0;
  while (done < length) {
    if (ShouldFail(Fault::kRead)) throw CFileError(EIO, path_, "cannot read");
    ssize_t n = ::pread(fd_, buffer + done, length - done,
                        static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw CFileError(errno, path_, "cannot read");
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void FileHandle::HoldPrefix(size_t length) {
  DropPrefix();
  if (length > size_) length = size_;
  if (length == 0) return;
  std::unique_ptr<char[]> prefix(new char[length]);
  const size_t n = ReadAt(0, prefix.get(), length);
  prefix_ = std::move(prefix);
  prefix_size_ = n;
}

void FileHandle::DropPrefix() {
  prefix_.reset();
  prefix_size_ = 0;
}

LineReader::LineReader(const FileHandle& file) : file_(file) {}

bool LineReader::Fill() {
  if (begin_ > 0) {
    std::memmove(buffer_, buffer_ + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  const uint64_t left = file_.size() - read_offset_;
  size_t want = sizeof(buffer_) - end_;
  if (left < want) want = static_cast<size_t>(left);
  if (want == 0) return false;
  size_t n = file_.ReadAt(read_offset_, buffer_ + end_, want);
  read_offset_ += n;
  end_ += n;
  return n > 0;
}

std::unique_ptr<OutputFile> OutputFile::Create(const char* path) {
  if (!UsablePath(path)) return nullptr;
  constexpr int kFlags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  // Most targets are new: a file this call creates is known to be an empty
  // regular file without asking. Any other path is opened as it stands.
  struct stat st {};
  int fd = ::open(path, kFlags | O_EXCL, 0666);
  const bool created = fd >= 0;
  if (created) {
    st.st_mode = S_IFREG;
  } else if (errno == EEXIST) {
    fd = ::open(path, kFlags, 0666);
  }
  if (fd < 0) return nullptr;
  bool refused = (!created && ::fstat(fd, &st) != 0) ||
                 ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  if (!refused && !S_ISREG(st.st_mode)) {
    // Writes may block from here on, like any ordinary write (O_NONBLOCK
    // means nothing to a regular file, which needs no change).
    const int flags = ::fcntl(fd, F_GETFL);
    refused = flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0;
  }
  if (refused) {
    CloseQuietly(fd);
    return nullptr;
  }
  try {
    return std::unique_ptr<OutputFile>(new OutputFile(
        fd, S_ISREG(st.st_mode), S_ISREG(st.st_mode) && st.st_size > 0, path));
  } catch (...) {
    CloseQuietly(fd);
    throw;
  }
}

OutputFile::OutputFile(int fd, bool regular, bool needs_emptying,
                       std::string path)
    : fd_(fd),
      regular_(regular),
      needs_emptying_(needs_emptying),
      path_(std::move(path)) {}

OutputFile::~OutputFile() {
  if (fd_ >= 0) CloseQuietly(fd_);
}

void OutputFile::Truncate() {
  if (!needs_emptying_) return;
  if (::ftruncate(fd_, 0) != 0) throw CFileError(errno, path_, "cannot empty");
}

void OutputFile::Write(const char* data, size_t length) {
  WriteAll(fd_, data, length, path_, !regular_);
}

void OutputFile::Close() {
  int fd = fd_;
  fd_ = -1;
  bool injected = ShouldFail(Fault::kClose);
  if (::close(fd) != 0 && errno != EINTR) {
    throw CFileError(errno, path_, "cannot close");
  }
  if (injected) throw CFileError(EIO, path_, "cannot close");
}

}  // namespace contentfile_internal

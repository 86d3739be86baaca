#include "platform/descriptor.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "contentfile.h"
#include "platform/fault_injection.h"

namespace contentfile_internal {
namespace {

// Holds SIGPIPE off the calling thread for its life; a SIGPIPE raised
// meanwhile by a write of ours is taken back before the mask is restored.
// A SIGPIPE that was already pending is left alone, as is the mask of a
// thread that cannot be changed.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    if (sigpending(&pending) != 0 || sigismember(&pending, SIGPIPE) == 1) {
      return;
    }
    active_ = pthread_sigmask(SIG_BLOCK, &pipe_, &old_mask_) == 0;
  }
  ~SigpipeGuard() {
    if (!active_) return;
    const int saved_errno = errno;
    if (broken_) {
      const timespec no_wait{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &no_wait) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_mask_, nullptr);
    errno = saved_errno;
  }
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

  void NoteBrokenPipe() { broken_ = true; }

 private:
  sigset_t pipe_;
  sigset_t old_mask_;
  bool active_ = false;
  bool broken_ = false;
};

// Waits until a non-blocking descriptor takes bytes again; false when the
// wait itself fails.
bool WaitWritable(int fd) {
  pollfd waiting{fd, POLLOUT, 0};
  for (;;) {
    if (::poll(&waiting, 1, -1) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

void WriteLoop(int fd, const char* data, size_t length, const std::string& name,
               SigpipeGuard* guard) {
  size_t done = 0;
  while (done < length) {
    if (ShouldFail(Fault::kWrite)) {
      throw CFileError(ENOSPC, name, "cannot write");
    }
    const ssize_t n = ::write(fd, data + done, length - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitWritable(fd)) {
        continue;
      }
      if (errno == EPIPE && guard != nullptr) guard->NoteBrokenPipe();
      throw CFileError(errno, name, "cannot write");
    }
    if (n == 0) throw CFileError(ENOSPC, name, "short write to");
    done += static_cast<size_t>(n);
  }
}

// A second open file of the regular file behind `fd`, for probing its
// locks without touching the caller's own; -1 when it cannot be had.
int ReopenForProbe(int fd) {
  char link[32];
  std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
  for (const int mode : {O_RDONLY, O_WRONLY}) {
    const int probe = ::open(link, mode | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (probe >= 0) return probe;
  }
  return -1;
}

// True when some open file holds a shared lock on the file and none holds
// an exclusive one: the mark of a content file held open.
bool HeldAsContent(int fd) {
  const int probe = ReopenForProbe(fd);
  if (probe < 0) return false;
  bool held = false;
  if (::flock(probe, LOCK_EX | LOCK_NB) != 0) {
    held = ::flock(probe, LOCK_SH | LOCK_NB) == 0;
  }
  ::close(probe);  // drops whatever lock the probe took
  return held;
}

}  // namespace

void WriteAll(int fd, const char* data, size_t length, const std::string& name,
              bool may_break) {
  if (!may_break) {
    WriteLoop(fd, data, length, name, nullptr);
    return;
  }
  SigpipeGuard guard;
  WriteLoop(fd, data, length, name, &guard);
}

WriteTarget CheckWriteTarget(int fd, const FileHandle* capture, bool* regular) {
  if (fd < 0) return WriteTarget::kBad;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return WriteTarget::kBad;
#ifdef O_PATH
  if ((flags & O_PATH) != 0) return WriteTarget::kBad;
#endif
  const int access = flags & O_ACCMODE;
  if (access != O_WRONLY && access != O_RDWR) return WriteTarget::kBad;
  struct stat st;
  if (::fstat(fd, &st) != 0) return WriteTarget::kBad;
  if (capture != nullptr &&
      capture->identity() == FileIdentity{static_cast<uint64_t>(st.st_dev),
                                          static_cast<uint64_t>(st.st_ino)}) {
    return WriteTarget::kRefused;
  }
  if (S_ISREG(st.st_mode) && HeldAsContent(fd)) return WriteTarget::kRefused;
  *regular = S_ISREG(st.st_mode);
  return WriteTarget::kUsable;
}

}  // namespace contentfile_internal

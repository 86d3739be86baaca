#include "tools/cfdump/output_target.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "tools/cfdump/common.h"
#include "tools/cfdump/result_words.h"

namespace cfdump {
namespace {

constexpr char kHeldOpen[] =
    "it is a content file that a program holds open (the capture itself, a "
    "link to it, or one being read)";

// Folder part of `path`, for the checks of a file not yet there.
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool OutputTarget::Open(const std::string& path, const std::string& capture,
                        bool force, std::string* error) {
  path_ = path;
  struct stat input;
  const bool have_input = ::stat(capture.c_str(), &input) == 0;
  struct stat st;
  if (path == "-") {
    fd_ = STDOUT_FILENO;
    if (have_input && ::fstat(fd_, &st) == 0 && SameFile(st, input)) {
      *error = "standard output is the capture itself";
      return false;
    }
    return true;
  }
  const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  // O_NONBLOCK: a FIFO without a reader must not hang the open.
  file_.Reset(::open(path.c_str(), flags | O_CREAT | O_EXCL, 0666));
  created_ = file_.valid();
  if (!created_ && errno == EEXIST) {
    if (!force) {
      *error = "it exists; use --force to replace it";
      return false;
    }
    file_.Reset(::open(path.c_str(), flags));
  }
  if (!file_.valid()) {
    *error = "cannot create it: " + ErrnoInWords(errno);
    return false;
  }
  if (::fstat(file_.get(), &st) != 0) {
    *error = "cannot create it: " + ErrnoInWords(errno);
    return false;
  }
  opened_ = st;
  regular_ = S_ISREG(st.st_mode);
  if (have_input && SameFile(st, input)) {
    *error = "it is the capture itself";
    return false;
  }
  if (regular_ && ::flock(file_.get(), LOCK_EX | LOCK_NB) != 0) {
    *error = errno == EWOULDBLOCK ? std::string(kHeldOpen)
                                  : "cannot lock it: " + ErrnoInWords(errno);
    return false;
  }
  if (!regular_) {
    // From here on writes wait like any other write.
    const int status = ::fcntl(file_.get(), F_GETFL);
    if (status < 0 || ::fcntl(file_.get(), F_SETFL, status & ~O_NONBLOCK)) {
      *error = "cannot write it: " + ErrnoInWords(errno);
      return false;
    }
  }
  fd_ = file_.get();
  return true;
}

bool OutputTarget::Write(std::string_view bytes, std::string* error) {
  int write_error = 0;
  if (regular_ && !created_ && ::ftruncate(fd_, 0) != 0) write_error = errno;
  if (write_error == 0) write_error = WriteAll(fd_, bytes.data(), bytes.size());
  if (write_error == 0 && file_.valid()) write_error = file_.Close();
  if (write_error == 0) return true;
  if (created_) {
    // Only the file created here, never one that took its name meanwhile.
    struct stat named;
    if (::lstat(path_.c_str(), &named) == 0 && SameFile(opened_, named)) {
      ::unlink(path_.c_str());
    }
  }
  *error = path_ == "-"
               ? "cannot write to standard output: " + ErrnoInWords(write_error)
               : "cannot write it: " + ErrnoInWords(write_error);
  return false;
}

std::string WhyCannotWrite(const std::string& path) {
  if (path.size() > kMaxPathLength) {
    return "the path has more than 259 characters";
  }
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    const int lstat_error = errno;
    if (lstat_error != ENOENT) return ErrnoInWords(lstat_error);
    if (::access(FolderOf(path).c_str(), W_OK | X_OK) != 0) {
      return ErrnoInWords(errno);
    }
    return ErrnoInWords(lstat_error);
  }
  UniqueFd fd(
      ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) return ErrnoInWords(errno);
  if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) &&
      ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    return kHeldOpen;
  }
  return "the cause is not known";
}

}  // namespace cfdump

#include "tools/cfdump/stdin_spool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "tools/cfdump/common.h"
#include "tools/cfdump/fd_io.h"
#include "tools/cfdump/result_words.h"

namespace cfdump {
namespace {

constexpr size_t kCopyStep = 1 << 20;
constexpr char kFolderPattern[] = "/cfdump-XXXXXX";
constexpr char kFileName[] = "/stdin";

std::string TempRoot() {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string root = tmpdir != nullptr && tmpdir[0] == '/' ? tmpdir : "/tmp";
  // The spooled path must stay within the library's path limit.
  if (root.size() + sizeof(kFolderPattern) + sizeof(kFileName) >
      kMaxPathLength) {
    root = "/tmp";
  }
  return root;
}

}  // namespace

StdinSpool::~StdinSpool() {
  if (!file_.empty()) ::unlink(file_.c_str());
  if (!folder_.empty()) ::rmdir(folder_.c_str());
}

bool StdinSpool::Spool(std::string* error) {
  std::string folder = TempRoot() + kFolderPattern;
  if (::mkdtemp(folder.data()) == nullptr) {
    *error = "cannot make a temporary folder for standard input: " +
             ErrnoInWords(errno);
    return false;
  }
  folder_ = folder;
  const std::string file = folder + kFileName;
  UniqueFd out(::open(file.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0600));
  if (!out.valid()) {
    *error = "cannot spool standard input: " + ErrnoInWords(errno);
    return false;
  }
  file_ = file;
  std::vector<char> buffer(kCopyStep);
  while (true) {
    const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = "cannot read standard input: " + ErrnoInWords(errno);
      return false;
    }
    if (n == 0) break;
    if (int write_error =
            WriteAll(out.get(), buffer.data(), static_cast<size_t>(n))) {
      *error = "cannot spool standard input: " + ErrnoInWords(write_error);
      return false;
    }
  }
  if (int close_error = out.Close()) {
    *error = "cannot spool standard input: " + ErrnoInWords(close_error);
    return false;
  }
  return true;
}

}  // namespace cfdump

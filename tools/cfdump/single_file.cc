#include "tools/cfdump/single_file.h"

#include <contentfile.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "tools/cfdump/capture.h"
#include "tools/cfdump/common.h"
#include "tools/cfdump/result_words.h"
#include "tools/cfdump/text_report.h"

namespace cfdump {
namespace {

int Failure(const std::string& path, const std::string& why) {
  std::fprintf(stderr, "cfdump: %s: %s\n", Printable(path).c_str(),
               Printable(why).c_str());
  return 1;
}

// Writes `bytes` to a new file at `path` (an existing one only with
// `force`). A regular file left part-written is removed; a link, a device
// or a FIFO at `path` stays, as removing it would lose what it stands for.
bool WriteFile(const std::string& path, const std::string& bytes, bool force,
               std::string* error) {
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (force ? O_TRUNC : O_EXCL);
  int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0) {
    *error = errno == EEXIST ? "it exists; use --force to replace it"
                             : "cannot create it: " + ErrnoInWords(errno);
    return false;
  }
  struct stat opened;
  struct stat named;
  const bool removable = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                         ::lstat(path.c_str(), &named) == 0 &&
                         named.st_dev == opened.st_dev &&
                         named.st_ino == opened.st_ino;
  size_t done = 0;
  int write_error = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      write_error = n < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (::close(fd) != 0 && write_error == 0 && errno != EINTR) {
    write_error = errno;
  }
  if (write_error != 0) {
    if (removable) ::unlink(path.c_str());
    *error = "cannot write it: " + ErrnoInWords(write_error);
    return false;
  }
  return true;
}

// Writes `bytes` where the options say: standard output or -o OUT.
int Emit(const Options& options, const std::string& bytes) {
  if (!options.output.empty()) {
    std::string error;
    if (!WriteFile(options.output, bytes, options.force, &error)) {
      return Failure(options.output, error);
    }
    return 0;
  }
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fputs("cfdump: cannot write to standard output\n", stderr);
    return 1;
  }
  return 0;
}

// Saves the body through the library, which keeps it off the heap of this
// tool and reports its own failures.
int SaveBody(const Options& options, CContentFile* file) {
  const std::string& out = options.output;
  const bool existed = Exists(out);
  if (existed && !options.force) {
    return Failure(out, "it exists; use --force to replace it");
  }
  int32_t rc = file->SaveBody2File(out.c_str());
  if (rc == kEmptyBody) {
    // The library leaves an existing target as it was: empty it here, so
    // that OUT holds the body, which is empty.
    std::string error;
    if (!WriteFile(out, std::string(), true, &error)) {
      return Failure(out, error);
    }
    return 0;
  }
  if (rc != 0) {
    if (!existed) ::unlink(out.c_str());
    return Failure(out, SaveBodyInWords(rc));
  }
  return 0;
}

int RunHeadOrBody(const Options& options) {
  const std::string& path = options.paths.front();
  const bool body = options.command == Command::kBody;
  CContentFile file;
  int32_t rc;
  try {
    rc = file.OpenContentFile(path.c_str());
  } catch (const CFileError& e) {
    return Failure(path, HeadReadErrorInWords(e));
  }
  if (rc != 0) return Failure(path, BaseOpenInWords(rc, path));
  if (body && !options.output.empty()) return SaveBody(options, &file);
  std::string bytes;
  std::string error;
  if (!ReadRange(&file, body, &bytes, &error)) return Failure(path, error);
  return Emit(options, bytes);
}

int RunText(const Options& options) {
  const std::string& path = options.paths.front();
  Capture capture(path);
  const CaptureReport& report = capture.report();
  if (report.status == Status::kFailed && !report.head_read) {
    return Failure(path, report.error);
  }
  if (report.kind != Kind::kSmtp && report.kind != Kind::kPop3) {
    return Failure(
        path, std::string("not a mail capture: head line 2 names ") +
                  (report.kind == Kind::kHttpPost ? "HTTP POST"
                                                  : "neither SMTP nor POP3"));
  }
  if (!report.has_mail) return Failure(path, report.error);
  const uint32_t size = report.text_size;
  std::string text(size, '\0');
  if (size > 0) {
    text.resize(capture.mail()->GetMailText(text.data(), size));
  }
  return Emit(options, text);
}

}  // namespace

int RunSingleFile(const Options& options) {
  try {
    return options.command == Command::kText ? RunText(options)
                                             : RunHeadOrBody(options);
  } catch (const std::bad_alloc&) {
    return Failure(options.paths.front(), "out of memory");
  }
}

}  // namespace cfdump

#include "tools/cfdump/result_words.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/cfdump/common.h"

namespace cfdump {
namespace {

constexpr uint64_t kLargestContentFile = 0xFFFFFFFFull;

std::string WithCode(const std::string& words, int32_t code) {
  return words + " (code " + std::to_string(code) + ")";
}

std::string Unknown(int32_t code) {
  return WithCode("unexpected result", code);
}

// Why a file cannot be opened for reading, as far as the file system tells.
std::string CannotOpenReason(const std::string& path) {
  if (path.size() > kMaxPathLength) {
    return "the path has more than 259 characters";
  }
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return ErrnoInWords(errno);
  if (S_ISDIR(st.st_mode)) return "it is a folder";
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  if (static_cast<uint64_t>(st.st_size) > kLargestContentFile) {
    return "it is 4 GiB or larger";
  }
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return ErrnoInWords(errno);
  const bool locked =
      ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return locked ? "a program is writing it (it holds a lock on it)"
                : "the cause is not known";
}

}  // namespace

std::string ErrnoInWords(int error_number) {
  return std::strerror(error_number);
}

std::string HeadReadErrorInWords(const CFileError& error) {
  return "reading the log head failed: " + ErrnoInWords(error.code().value());
}

std::string BaseOpenInWords(int32_t code, const std::string& path) {
  switch (code) {
    case 0:
      return "opened";
    case -1:
      return WithCode("no path was given", code);
    case -2:
      return WithCode("cannot open the file: " + CannotOpenReason(path), code);
    case -3:
      return WithCode("the file is empty", code);
    case -4:
      return WithCode(
          "the file ends inside its log head (it has fewer lines than its "
          "first line announces)",
          code);
    default:
      return Unknown(code);
  }
}

std::string HttpPostOpenInWords(int32_t code) {
  switch (code) {
    case -10:
      return WithCode("the content file cannot be opened", code);
    case -11:
      return WithCode("the log head cannot be read", code);
    default:
      return Unknown(code);
  }
}

std::string MailOpenInWords(int32_t code, const std::string& path) {
  switch (code) {
    case -1:
    case -2:
    case -3:
    case -4:
      return BaseOpenInWords(code, path);
    case -11:
      return WithCode("the mail body is empty", code);
    case -12:
      return WithCode("out of memory for the mail body", code);
    case -13:
      return WithCode("reading the mail body failed", code);
    case -14:
      return WithCode("out of memory for the mail parser", code);
    case -15:
      return WithCode(
          "the mail message cannot be parsed (no empty line after its "
          "header, no Content-Type field, or a multipart boundary that never "
          "occurs)",
          code);
    case -16:
      return WithCode("the log head cannot be read", code);
    default:
      return Unknown(code);
  }
}

std::string ReadRangeInWords(int32_t code) {
  switch (code) {
    case -1:
      return WithCode("no file is open", code);
    case -2:
      return WithCode("no buffer was given", code);
    case -3:
      return WithCode("the file is shorter than when it was opened", code);
    case -4:
      return WithCode("reading the file failed", code);
    default:
      return Unknown(code);
  }
}

std::string SaveBodyInWords(int32_t code) {
  switch (code) {
    case -1:
      return WithCode("no file is open", code);
    case -2:
      return WithCode("the target cannot be created", code);
    case -3:
      return WithCode("the body is empty", code);
    case -4:
      return WithCode("out of memory for the body", code);
    case -5:
      return WithCode("reading the body failed", code);
    case -6:
      return WithCode("writing the target failed", code);
    default:
      return Unknown(code);
  }
}

std::string PartInWords(int32_t code) {
  switch (code) {
    case -1:
      return WithCode("no mail message was parsed", code);
    case -11:
      return WithCode("the target was refused", code);
    case -12:
    case -13:
      return WithCode("out of memory decoding it", code);
    case -14:
      return WithCode("there is no such part or attachment", code);
    case -15:
      return WithCode("writing it failed", code);
    case -16:
      return WithCode("the capture could not be read", code);
    default:
      return Unknown(code);
  }
}

std::string AttachmentInfoInWords(int32_t code) {
  switch (code) {
    case -1:
      return WithCode("no mail message was parsed", code);
    case -2:
      return WithCode("the name buffer was refused", code);
    default:
      return Unknown(code);
  }
}

}  // namespace cfdump

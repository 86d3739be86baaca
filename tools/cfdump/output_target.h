// Where head, body and text write: standard output ("-") or the file OUT.
//
// OUT is opened without being emptied and locked exclusively, as the
// library locks the files it writes: a content file that a program holds
// open through the library (the capture being read included) keeps its
// shared lock, so it is refused, and so is the capture itself, whatever
// name reaches it (a hard link, a symbolic link). OUT is emptied only when
// the bytes to write are in hand.

#ifndef CONTENTFILE_TOOLS_CFDUMP_OUTPUT_TARGET_H_
#define CONTENTFILE_TOOLS_CFDUMP_OUTPUT_TARGET_H_

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "tools/cfdump/fd_io.h"

namespace cfdump {

class OutputTarget {
 public:
  // Opens `path` ("-" for standard output); an existing file only with
  // `force`. `capture` is the file being read, refused as a target.
  // Returns false with *error in words.
  bool Open(const std::string& path, const std::string& capture, bool force,
            std::string* error);

  // Replaces what the target holds with `bytes` (appends, on standard
  // output or a device). A file this call created is removed again when
  // the write fails; a link, device or FIFO at OUT stays in place.
  bool Write(std::string_view bytes, std::string* error);

 private:
  std::string path_;
  UniqueFd file_;
  int fd_ = -1;  // file_ or standard output
  struct stat opened_ {};
  bool regular_ = false;
  bool created_ = false;
};

// Why `path` cannot be written, as far as the file system tells: for
// result codes of the library that stand for several causes.
std::string WhyCannotWrite(const std::string& path);

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_OUTPUT_TARGET_H_

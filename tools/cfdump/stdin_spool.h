// A capture piped to standard input, spooled to a private temporary file,
// since the library opens captures by path.

#ifndef CONTENTFILE_TOOLS_CFDUMP_STDIN_SPOOL_H_
#define CONTENTFILE_TOOLS_CFDUMP_STDIN_SPOOL_H_

#include <string>

namespace cfdump {

// The name that stands for standard input (and output) on the command line.
constexpr char kStdStream[] = "-";

class StdinSpool {
 public:
  StdinSpool() = default;
  StdinSpool(const StdinSpool&) = delete;
  StdinSpool& operator=(const StdinSpool&) = delete;
  // Removes the file and its folder.
  ~StdinSpool();

  // Copies standard input into a new file in a folder only this user can
  // enter ($TMPDIR, else /tmp). Returns false with *error in words.
  bool Spool(std::string* error);
  // The spooled file; empty before a successful Spool.
  const std::string& path() const { return file_; }

 private:
  std::string folder_;
  std::string file_;
};

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_STDIN_SPOOL_H_

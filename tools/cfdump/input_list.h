// The captures that the command line names: files as given, folders
// searched recursively in name order.

#ifndef CONTENTFILE_TOOLS_CFDUMP_INPUT_LIST_H_
#define CONTENTFILE_TOOLS_CFDUMP_INPUT_LIST_H_

#include <string>
#include <vector>

namespace cfdump {

struct Input {
  std::string path;       // as the user names it; "-" for standard input
  std::string error;      // set when the input cannot be listed (a folder)
  std::string open_path;  // the file to open when not `path` (a spool)
};

// The file whose name marks a folder that extract wrote; folder walks
// skip such folders.
constexpr char kExtractMarker[] = ".cfdump-extract";

// Every file named, in the order given (a link named is followed, as the
// user asked). In folders: regular files only, in byte order of their
// names; names beginning with ".", links of every kind, folders that
// extract wrote (they hold kExtractMarker) and the folder `skip` (when not
// empty: the extraction's DIR) are left out.
std::vector<Input> ListInputs(const std::vector<std::string>& paths,
                              const std::string& skip);

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_INPUT_LIST_H_

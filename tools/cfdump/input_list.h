// The captures that the command line names: files as given, folders
// searched recursively in name order.

#ifndef CONTENTFILE_TOOLS_CFDUMP_INPUT_LIST_H_
#define CONTENTFILE_TOOLS_CFDUMP_INPUT_LIST_H_

#include <string>
#include <vector>

namespace cfdump {

struct Input {
  std::string path;
  std::string error;  // set when the input cannot be listed (a folder)
};

// Every file named, in the order given. In folders: regular files and links
// to regular files, in byte order of their names; names beginning with "."
// are skipped, links to folders are not followed, and the folder `skip`
// (when not empty: the extraction's DIR) is left out.
std::vector<Input> ListInputs(const std::vector<std::string>& paths,
                              const std::string& skip);

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_INPUT_LIST_H_

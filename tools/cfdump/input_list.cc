#include "tools/cfdump/input_list.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/cfdump/result_words.h"
#include "tools/cfdump/stdin_spool.h"

namespace cfdump {
namespace {

struct FileId {
  bool valid = false;
  dev_t device = 0;
  ino_t inode = 0;
};

bool SameFile(const FileId& id, const struct stat& st) {
  return id.valid && id.device == st.st_dev && id.inode == st.st_ino;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

void ListFolder(const std::string& folder, const FileId& skip,
                std::vector<Input>* inputs) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) {
    inputs->push_back(
        {folder, "cannot read the folder: " + ErrnoInWords(errno), {}});
    return;
  }
  std::vector<std::string> names;
  errno = 0;
  while (const struct dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.' ||
        std::strcmp(entry->d_name, kExtractMarker) == 0) {
      names.push_back(entry->d_name);
    }
  }
  const int read_error = errno;
  ::closedir(dir);
  if (read_error != 0) {
    inputs->push_back(
        {folder, "cannot read the folder: " + ErrnoInWords(read_error), {}});
    return;
  }
  std::sort(names.begin(), names.end());
  if (std::binary_search(names.begin(), names.end(), kExtractMarker)) return;
  for (const std::string& name : names) {
    if (name[0] == '.') continue;
    const std::string path = Join(folder, name);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;  // gone meanwhile
    if (S_ISDIR(st.st_mode)) {
      if (!SameFile(skip, st)) ListFolder(path, skip, inputs);
    } else if (S_ISREG(st.st_mode)) {
      inputs->push_back({path, std::string(), std::string()});
    }
  }
}

}  // namespace

std::vector<Input> ListInputs(const std::vector<std::string>& paths,
                              const std::string& skip) {
  FileId skip_id;
  struct stat st;
  if (!skip.empty() && ::stat(skip.c_str(), &st) == 0) {
    skip_id = {true, st.st_dev, st.st_ino};
  }
  std::vector<Input> inputs;
  for (const std::string& path : paths) {
    if (path != kStdStream && ::stat(path.c_str(), &st) == 0 &&
        S_ISDIR(st.st_mode)) {
      if (!SameFile(skip_id, st)) ListFolder(path, skip_id, &inputs);
    } else {
      inputs.push_back({path, std::string(), std::string()});
    }
  }
  return inputs;
}

}  // namespace cfdump

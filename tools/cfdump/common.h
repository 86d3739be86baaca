// Small pieces that several parts of cfdump share: limits and result codes
// of the library that the tool acts on, and a file check.

#ifndef CONTENTFILE_TOOLS_CFDUMP_COMMON_H_
#define CONTENTFILE_TOOLS_CFDUMP_COMMON_H_

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace cfdump {

// The library hands out attachment names of at most this many bytes,
// cutting longer ones.
constexpr size_t kLongestLibraryName = 260;

// The library uses at most this many characters of a path.
constexpr size_t kMaxPathLength = 259;

// SaveBody2File's result for an empty body, after which an existing target
// is left as it was and a new one is empty.
constexpr int32_t kEmptyBody = -3;
// SaveBody2File's result when the target cannot be created.
constexpr int32_t kCannotCreate = -2;

// True when anything, a dangling link included, stands at `path`.
inline bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The text of a fixed-size field of the library's log structures, which is
// NUL-terminated unless it fills the field.
template <size_t N>
std::string_view FieldText(const char (&field)[N]) {
  return std::string_view(field, strnlen(field, N));
}

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_COMMON_H_

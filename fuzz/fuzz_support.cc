#include "fuzz/fuzz_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sanitizer/lsan_interface.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace contentfile_fuzz {
namespace {

std::string MakeScratchFolder() {
  std::string base = "/dev/shm";
  struct stat st;
  if (stat(base.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      access(base.c_str(), W_OK) != 0) {
    const char* tmp = std::getenv("TMPDIR");
    base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  }
  std::string pattern = base + "/contentfile_fuzz_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  return pattern;
}

void RemoveScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(ScratchFolder(), ignored);
}

}  // namespace

void CheckFailed(const char* condition, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::abort();
}

const std::string& ScratchFolder() {
  static const std::string* folder = [] {
    auto* path = new std::string(MakeScratchFolder());
    std::atexit(RemoveScratchFolder);
    return path;
  }();
  return *folder;
}

std::string ScratchPath(const std::string& name) {
  return ScratchFolder() + "/" + name;
}

void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  FUZZ_CHECK(fd >= 0);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    FUZZ_CHECK(n > 0);
    done += static_cast<size_t>(n);
  }
  FUZZ_CHECK(close(fd) == 0);
}

std::string ReadBytes(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  FUZZ_CHECK(fd >= 0);
  std::string bytes;
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof(chunk));
    FUZZ_CHECK(n >= 0);
    if (n == 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  return bytes;
}

long long FileSize(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<long long>(st.st_size);
}

std::set<std::string> ScratchNames() {
  std::set<std::string> names;
  DIR* dir = opendir(ScratchFolder().c_str());
  FUZZ_CHECK(dir != nullptr);
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.insert(name);
  }
  closedir(dir);
  return names;
}

void ClearScratch() {
  for (const std::string& name : ScratchNames()) {
    unlink(ScratchPath(name).c_str());
  }
}

int OpenDescriptors() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count - 3;  // ".", ".." and the folder's own descriptor
}

locale_t DoubleByteLocale() {
  static const locale_t locale = [] {
    // glibc keeps the LOCPATH list it builds here for the process's life;
    // that is not ours to report.
    __lsan_disable();
    const locale_t made =
        newlocale(LC_CTYPE_MASK, "zh_CN.GBK", static_cast<locale_t>(0));
    __lsan_enable();
    return made;
  }();
  return locale;
}

}  // namespace contentfile_fuzz

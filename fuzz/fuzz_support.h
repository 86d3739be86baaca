// Shared by the fuzz targets: a private scratch folder, files written into
// it, and the checks that abort the run when an invariant breaks.
//
// A failed check calls abort(), which libFuzzer reports as a crash and
// saves the input that caused it.

#ifndef CONTENTFILE_FUZZ_FUZZ_SUPPORT_H_
#define CONTENTFILE_FUZZ_FUZZ_SUPPORT_H_

#include <locale.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

namespace contentfile_fuzz {

// Aborts with the message when `condition` does not hold.
#define FUZZ_CHECK(condition)                                          \
  do {                                                                 \
    if (!(condition))                                                  \
      ::contentfile_fuzz::CheckFailed(#condition, __FILE__, __LINE__); \
  } while (0)
[[noreturn]] void CheckFailed(const char* condition, const char* file,
                              int line);

// A folder of this process, created on first use (under /dev/shm when it
// exists, else $TMPDIR or /tmp) and removed with its content at exit.
const std::string& ScratchFolder();

// ScratchFolder() + "/" + name.
std::string ScratchPath(const std::string& name);

// Writes exactly these bytes to `path`, replacing any file there.
void WriteBytes(const std::string& path, const uint8_t* data, size_t size);

// The whole content of `path`; aborts when it cannot be read.
std::string ReadBytes(const std::string& path);

// Size of the file at `path`, or -1 when there is none.
long long FileSize(const std::string& path);

// Names in the scratch folder.
std::set<std::string> ScratchNames();

// Removes every file of the scratch folder.
void ClearScratch();

// Number of open descriptors of this process.
int OpenDescriptors();

// The double-byte locale zh_CN.GBK, or (locale_t)0 when it is not installed
// (scripts/fuzz compiles one and points LOCPATH at it).
locale_t DoubleByteLocale();

}  // namespace contentfile_fuzz

#endif  // CONTENTFILE_FUZZ_FUZZ_SUPPORT_H_

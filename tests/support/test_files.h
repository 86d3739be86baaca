// Test support: temporary folders and content files built in them.

#ifndef CONTENTFILE_TESTS_SUPPORT_TEST_FILES_H_
#define CONTENTFILE_TESTS_SUPPORT_TEST_FILES_H_

#include <string>
#include <vector>

// 1 in builds with AddressSanitizer, whose shadow memory rules out
// address-space limits.
#if defined(__SANITIZE_ADDRESS__)
#define CONTENTFILE_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CONTENTFILE_UNDER_ASAN 1
#endif
#endif
#ifndef CONTENTFILE_UNDER_ASAN
#define CONTENTFILE_UNDER_ASAN 0
#endif

namespace contentfile_test {

// A fresh folder under $TMPDIR (or /tmp), removed with its content when the
// object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// A head of the given lines: the line count first, then each line with CR LF.
std::string MakeHead(const std::vector<std::string>& lines_after_count);

// A complete 14-line head: line 2 names `protocol`, endpoints
// 192.168.0.1:1025 -> 10.0.0.2:25, other lines "line<N>".
std::vector<std::string> StandardHeadLines(const std::string& protocol);

// Number of open descriptors of this process.
int CountOpenDescriptors();

// `bytes` in base64 as mail stores it: 76 characters a line, CR LF after
// each full line, "=" padding.
std::string EncodeBase64(const std::string& bytes);

}  // namespace contentfile_test

#endif  // CONTENTFILE_TESTS_SUPPORT_TEST_FILES_H_

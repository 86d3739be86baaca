// Test support: the double-byte locale zh_CN.GBK, built without root by
// localedef and switched on for the calling thread only.

#ifndef CONTENTFILE_TESTS_SUPPORT_GBK_LOCALE_H_
#define CONTENTFILE_TESTS_SUPPORT_GBK_LOCALE_H_

#include <locale.h>

#include <string>

namespace contentfile_test {

// While it lives, the calling thread uses a locale whose LC_CTYPE is
// zh_CN.GBK (the other categories are the global locale's at first use);
// the thread's previous locale comes back when it goes. The locale is
// compiled once under the build folder (or a temporary folder) and loaded
// once per process, so later tests and test processes reuse it.
class ScopedGbkLocale {
 public:
  ScopedGbkLocale();
  ~ScopedGbkLocale();
  ScopedGbkLocale(const ScopedGbkLocale&) = delete;
  ScopedGbkLocale& operator=(const ScopedGbkLocale&) = delete;

  bool ok() const { return locale_ != nullptr; }
  // True when the machine cannot build the locale at all (no localedef or
  // no zh_CN and GBK sources): the test should be skipped, not failed.
  bool unavailable() const { return unavailable_; }
  // Why ok() is false.
  const std::string& skip_reason() const { return reason_; }

 private:
  locale_t locale_ = nullptr;
  locale_t previous_ = nullptr;
  bool unavailable_ = false;
  std::string reason_;
};

}  // namespace contentfile_test

// Declares a ScopedGbkLocale named `var` in a test body; skips the test
// where the locale cannot be built on this machine and fails it where
// building or loading it went wrong.
#define CONTENTFILE_GBK_LOCALE_OR_SKIP(var)                   \
  ::contentfile_test::ScopedGbkLocale var;                    \
  if (!var.ok()) {                                            \
    if (var.unavailable()) GTEST_SKIP() << var.skip_reason(); \
    FAIL() << var.skip_reason();                              \
  }

#endif  // CONTENTFILE_TESTS_SUPPORT_GBK_LOCALE_H_

#include "tests/support/gbk_locale.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "tests/support/test_files.h"

namespace contentfile_test {

namespace {

constexpr char kLocaleName[] = "zh_CN.GBK";

struct LocaleFolder {
  std::string path;  // the LOCPATH holding zh_CN.GBK; empty on failure
  bool unavailable = false;
  std::string error;
};

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool HasCompiledLocale(const std::string& locpath) {
  return Exists(locpath + "/" + kLocaleName + "/LC_CTYPE");
}

std::string I18nSource(const char* kind, const char* name) {
  const char* base = std::getenv("I18NPATH");
  return std::string(base && *base ? base : "/usr/share/i18n") + "/" + kind +
         "/" + name;
}

// Compiles the locale under `parent`, in a private folder first and then
// renamed into place, so that test processes running side by side never
// see a half-written locale. Returns "" on success, else the reason.
std::string CompileInto(const std::string& parent) {
  std::string scratch = parent + "/build_XXXXXX";
  if (mkdtemp(scratch.data()) == nullptr) {
    return "mkdtemp under " + parent + ": " + std::strerror(errno);
  }
  std::string built = scratch + "/" + kLocaleName;
  std::string command =
      "localedef -i zh_CN -f GBK '" + built + "' >'" + scratch + "/log' 2>&1";
  int status = std::system(command.c_str());
  std::string result;
  if (!Exists(built + "/LC_CTYPE")) {
    result = "`" + command + "` failed (status " + std::to_string(status) + ")";
  } else if (std::rename(built.c_str(), (parent + "/" + kLocaleName).c_str()) !=
                 0 &&
             !HasCompiledLocale(parent)) {
    result =
        "cannot move the locale into " + parent + ": " + std::strerror(errno);
  }
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  return result;
}

LocaleFolder FindOrBuild() {
  LocaleFolder folder;
  if (std::system("command -v localedef >/dev/null 2>&1") != 0) {
    folder.unavailable = true;
    folder.error = "zh_CN.GBK test skipped: localedef is not installed";
    return folder;
  }
  if (!Exists(I18nSource("locales", "zh_CN")) ||
      (!Exists(I18nSource("charmaps", "GBK.gz")) &&
       !Exists(I18nSource("charmaps", "GBK")))) {
    folder.unavailable = true;
    folder.error =
        "zh_CN.GBK test skipped: the zh_CN locale source or the GBK charmap "
        "is missing under /usr/share/i18n (package `locales`)";
    return folder;
  }

#ifdef CONTENTFILE_BINARY_DIR
  // Shared by every test process of this build.
  std::string shared = std::string(CONTENTFILE_BINARY_DIR) + "/test-locales";
  mkdir(shared.c_str(), 0777);
  if (HasCompiledLocale(shared) ||
      (Exists(shared) && CompileInto(shared).empty())) {
    folder.path = shared;
    return folder;
  }
#endif
  // Private to this process, removed when it exits.
  static TempDir own;
  std::string error = CompileInto(own.path());
  if (error.empty()) {
    folder.path = own.path();
  } else {
    folder.error = "cannot build zh_CN.GBK: " + error;
  }
  return folder;
}

// Loads LC_CTYPE from LOCPATH=`locpath` into a locale object of its own.
// It goes through the global locale, put back at once, because newlocale
// leaks its copy of LOCPATH on every call.
locale_t LoadCtype(const std::string& locpath) {
  const char* old_ctype = setlocale(LC_CTYPE, nullptr);
  std::string saved_ctype = old_ctype ? old_ctype : "C";
  const char* old_locpath = std::getenv("LOCPATH");
  std::unique_ptr<std::string> saved_locpath(
      old_locpath ? new std::string(old_locpath) : nullptr);
  setenv("LOCPATH", locpath.c_str(), 1);
  locale_t loaded = setlocale(LC_CTYPE, kLocaleName) != nullptr
                        ? duplocale(LC_GLOBAL_LOCALE)
                        : locale_t();
  int error = errno;
  if (saved_locpath) {
    setenv("LOCPATH", saved_locpath->c_str(), 1);
  } else {
    unsetenv("LOCPATH");
  }
  setlocale(LC_CTYPE, saved_ctype.c_str());
  errno = error;
  return loaded;
}

struct LoadedLocale {
  locale_t locale = nullptr;  // kept for the life of the process
  bool unavailable = false;
  std::string error;
};

const LoadedLocale& Loaded() {
  static const LoadedLocale loaded = [] {
    LoadedLocale result;
    LocaleFolder folder = FindOrBuild();
    if (folder.path.empty()) {
      result.unavailable = folder.unavailable;
      result.error = folder.error;
      return result;
    }
    result.locale = LoadCtype(folder.path);
    if (result.locale == nullptr) {
      result.error = std::string("loading zh_CN.GBK under LOCPATH=") +
                     folder.path + " failed: " + std::strerror(errno);
    }
    return result;
  }();
  return loaded;
}

}  // namespace

ScopedGbkLocale::ScopedGbkLocale() {
  const LoadedLocale& loaded = Loaded();
  if (loaded.locale == nullptr) {
    unavailable_ = loaded.unavailable;
    reason_ = loaded.error;
    return;
  }
  locale_ = loaded.locale;
  previous_ = uselocale(locale_);
}

ScopedGbkLocale::~ScopedGbkLocale() {
  if (locale_ != nullptr) uselocale(previous_);
}

}  // namespace contentfile_test

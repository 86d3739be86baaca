#include "tools/cfdump/extract.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "tools/cfdump/common.h"
#include "tools/cfdump/result_words.h"
#include "tools/cfdump/safe_name.h"

namespace cfdump {
namespace {

// Room kept for file names inside a capture's folder.
constexpr size_t kFileNameRoom = 32;
// Shortest folder name that DIR must leave room for.
constexpr size_t kFolderNameRoom = 16;
// Numbered names tried before giving up on a name.
constexpr int kMostNumbers = 100000;

bool IsRealFolder(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string BaseName(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return std::string();
  size_t start = path.find_last_of('/', end);
  start = start == std::string::npos ? 0 : start + 1;
  return path.substr(start, end + 1 - start);
}

// The name tried the `n`th time for `wanted`, in at most `room` bytes:
// from the second time on, numbered "-n".
std::string Candidate(const std::string& wanted, size_t room, int n) {
  if (n == 1) return ShortenName(wanted, room);
  const std::string suffix = "-" + std::to_string(n);
  return NumberedName(ShortenName(wanted, room - suffix.size()), n);
}

// Claims a fresh file in `folder` for `wanted` (already safe), numbering it
// while the name is taken; with `force`, an existing non-folder entry is
// removed and its name reused. Returns the path, or "" with *error.
std::string ClaimFile(const std::string& folder, const std::string& wanted,
                      bool force, std::set<std::string>* taken,
                      std::string* error) {
  const size_t room =
      std::min(kMaxNameBytes, kMaxPathLength - folder.size() - 1);
  for (int n = 1; n <= kMostNumbers; ++n) {
    const std::string name = Candidate(wanted, room, n);
    if (!taken->insert(name).second) continue;
    std::string path = folder + "/" + name;
    if (force) {
      struct stat st;
      if (::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        ::unlink(path.c_str());
      }
    }
    int fd = ::open(path.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) {
      *error = "cannot create \"" + path + "\": " + ErrnoInWords(errno);
      return std::string();
    }
  }
  *error = "no free name for \"" + wanted + "\"";
  return std::string();
}

uint64_t FileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

void SaveAttachments(Capture* capture, const std::string& folder, bool force,
                     std::set<std::string>* taken) {
  CaptureReport& report = capture->report();
  int failures = 0;
  for (const AttachmentEntry& entry : report.attachments) {
    SavedFile saved;
    saved.index = entry.index;
    saved.name = entry.name;
    std::string wanted = SafeFileName(entry.name);
    if (wanted.empty()) wanted = "attachment-" + std::to_string(entry.index);
    saved.file = ClaimFile(folder, wanted, force, taken, &saved.error);
    if (!saved.file.empty()) {
      int32_t rc =
          capture->mail()->GetAttachment2File(entry.index, saved.file.c_str());
      if (rc == 0) {
        saved.bytes = FileSize(saved.file);
      } else {
        // The claimed file holds nothing or a part: never leave it looking
        // like a whole attachment.
        ::unlink(saved.file.c_str());
        saved.error = SaveAttachmentInWords(rc);
        saved.file.clear();
      }
    }
    if (!saved.error.empty()) ++failures;
    report.saved.push_back(std::move(saved));
  }
  if (failures > 0) {
    capture->Fail(Status::kFailed,
                  std::to_string(failures) + " of " +
                      std::to_string(report.attachments.size()) +
                      " attachments could not be saved");
  }
}

void SaveBody(Capture* capture, const std::string& folder, bool force,
              std::set<std::string>* taken) {
  SavedFile saved;
  saved.name = "body";
  saved.file = ClaimFile(folder, saved.name, force, taken, &saved.error);
  if (!saved.file.empty()) {
    int32_t rc = capture->file()->SaveBody2File(saved.file.c_str());
    // An empty body leaves the claimed file as it is: empty.
    if (rc == 0 || rc == kEmptyBody) {
      saved.bytes = FileSize(saved.file);
    } else {
      ::unlink(saved.file.c_str());
      saved.error = SaveBodyInWords(rc);
      saved.file.clear();
    }
  }
  if (!saved.error.empty()) {
    capture->Fail(Status::kFailed, "the body could not be saved");
  }
  capture->report().saved.push_back(std::move(saved));
}

}  // namespace

bool PrepareExtractDir(const std::string& dir, std::string* error) {
  if (dir.size() + 1 + kFolderNameRoom + 1 + kFileNameRoom > kMaxPathLength) {
    *error = "the folder \"" + dir +
             "\" has too long a path: the library takes paths of at most 259 "
             "characters";
    return false;
  }
  // Each missing folder along the path, from the top down.
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    const std::string part = dir.substr(0, slash);
    if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST &&
        !IsRealFolder(part)) {
      *error =
          "cannot create the folder \"" + part + "\": " + ErrnoInWords(errno);
      return false;
    }
    if (slash == std::string::npos) break;
  }
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = "\"" + dir + "\" is not a folder";
    return false;
  }
  return true;
}

std::vector<std::string> PlanCaptureFolders(const std::vector<Input>& inputs,
                                            const std::string& dir,
                                            bool force) {
  const size_t room = std::min(
      kMaxNameBytes, kMaxPathLength - dir.size() - 1 - 1 - kFileNameRoom);
  std::set<std::string> taken;
  std::vector<std::string> folders;
  folders.reserve(inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i) {
    std::string wanted = SafeFileName(BaseName(inputs[i].path));
    if (wanted.empty()) wanted = "capture-" + std::to_string(i + 1);
    for (int n = 1;; ++n) {
      const std::string name = Candidate(wanted, room, n);
      const std::string path = dir + "/" + name;
      if (taken.count(name) != 0) continue;
      if (Exists(path) && !(force && IsRealFolder(path))) continue;
      taken.insert(name);
      folders.push_back(path);
      break;
    }
  }
  return folders;
}

void ExtractCapture(Capture* capture, const std::string& folder, bool force) {
  CaptureReport& report = capture->report();
  if (!report.head_read) return;
  report.extracted = true;
  report.extract_dir = folder;
  if (::mkdir(folder.c_str(), 0777) != 0) {
    const int error_number = errno;
    if (!(error_number == EEXIST && force && IsRealFolder(folder))) {
      capture->Fail(Status::kFailed,
                    error_number == EEXIST
                        ? "the folder \"" + folder +
                              "\" was created by another program meanwhile"
                        : "cannot create the folder \"" + folder +
                              "\": " + ErrnoInWords(error_number));
      return;
    }
  }
  std::set<std::string> taken;
  if (report.has_mail) {
    SaveAttachments(capture, folder, force, &taken);
  } else {
    SaveBody(capture, folder, force, &taken);
  }
}

}  // namespace cfdump

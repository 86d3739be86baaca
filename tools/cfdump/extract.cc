#include "tools/cfdump/extract.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "tools/cfdump/common.h"
#include "tools/cfdump/result_words.h"
#include "tools/cfdump/safe_name.h"
#include "tools/cfdump/stdin_spool.h"

namespace cfdump {
namespace {

// Numbered names tried for one wanted name before giving up on it.
constexpr int kMostNumbers = 1000000;
constexpr int kCreateFlags =
    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;

std::string BaseName(const std::string& path) {
  size_t end = path.find_last_not_of('/');
  if (end == std::string::npos) return std::string();
  size_t start = path.find_last_of('/', end);
  start = start == std::string::npos ? 0 : start + 1;
  return path.substr(start, end + 1 - start);
}

std::string FolderName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The name tried the `n`th time for `wanted`, in at most `room` bytes:
// from the second time on, numbered "-n".
std::string Candidate(const std::string& wanted, size_t room, int n) {
  if (n == 1) return ShortenName(wanted, room);
  const std::string suffix = "-" + std::to_string(n);
  return NumberedName(ShortenName(wanted, room - suffix.size()), n);
}

// Hands out names in one folder: a wanted name, else the same numbered.
// Each wanted name keeps the number it reached, so claiming many equal
// names takes linear time.
class NameClaimer {
 public:
  // `try_name` returns 0 when the name is taken for the caller, EEXIST
  // when it is in use, or the errno that ends the claim.
  using TryName = std::function<int(const std::string&)>;

  void Reserve(const std::string& name) { taken_.insert(name); }

  // Returns 0 with *name, or the errno of the failure (EEXIST when every
  // number is used).
  int Claim(const std::string& wanted, const TryName& try_name,
            std::string* name) {
    int& next = next_number_[wanted];
    for (int n = next == 0 ? 1 : next; n <= kMostNumbers; ++n) {
      const std::string candidate = Candidate(wanted, kMaxNameBytes, n);
      if (taken_.count(candidate) != 0) continue;
      const int result = try_name(candidate);
      if (result == EEXIST) {
        taken_.insert(candidate);
        continue;
      }
      next = n + 1;
      if (result != 0) return result;
      taken_.insert(candidate);
      *name = candidate;
      return 0;
    }
    return EEXIST;
  }

 private:
  std::unordered_set<std::string> taken_;
  std::unordered_map<std::string, int> next_number_;
};

bool IsInput(const FolderIds& inputs, const struct stat& st) {
  return inputs.count({st.st_dev, st.st_ino}) != 0;
}

// Creates the files of one capture's folder, through its descriptor.
class FolderWriter {
 public:
  FolderWriter(int folder, const std::string& path, bool force)
      : folder_(folder), path_(path), force_(force) {
    claimer_.Reserve(kExtractMarker);
    claimer_.Reserve(kDigestFileName);
  }

  // A new file for `wanted` (already safe), numbered while the name is
  // taken; with force, an existing file of that name is removed first.
  UniqueFd Create(const std::string& wanted, std::string* name,
                  std::string* error) {
    UniqueFd file;
    const int result = claimer_.Claim(
        wanted,
        [&](const std::string& candidate) {
          file = CreateExactly(candidate);
          return file.valid() ? 0 : errno;
        },
        name);
    if (result != 0) {
      *error = result == EEXIST ? "no free name for \"" + wanted + "\""
                                : "cannot create \"" + PathOf(wanted) +
                                      "\": " + ErrnoInWords(result);
      return UniqueFd();
    }
    return file;
  }

  // The file `name` itself; with force, one there already is removed.
  UniqueFd CreateExactly(const std::string& name) {
    if (force_) {
      struct stat st;
      if (::fstatat(folder_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          !S_ISDIR(st.st_mode)) {
        ::unlinkat(folder_, name.c_str(), 0);
      }
    }
    return UniqueFd(::openat(folder_, name.c_str(), kCreateFlags, 0666));
  }

  // Removes `name` when it is still the file open at `file`.
  void Remove(const std::string& name, int file) {
    struct stat opened;
    struct stat named;
    if (::fstat(file, &opened) == 0 &&
        ::fstatat(folder_, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        SameFile(opened, named)) {
      ::unlinkat(folder_, name.c_str(), 0);
    }
  }

  std::string PathOf(const std::string& name) const {
    return path_ + "/" + name;
  }

 private:
  int folder_;
  std::string path_;
  bool force_;
  NameClaimer claimer_;
};

uint64_t SizeOf(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Writes one part into a new file; returns false when it failed.
bool SavePart(const Capture& capture, const ExtractSettings& settings,
              FolderWriter* writer, const std::string& wanted, SavedFile* saved,
              Decoded* decoded) {
  std::string name;
  UniqueFd file = writer->Create(wanted, &name, &saved->error);
  if (!file.valid()) return false;
  const int fd = file.get();
  saved->error = DecodePart(
      *capture.mail(), saved->part, settings.digests,
      [fd](const char* data, size_t size) { return WriteAll(fd, data, size); },
      decoded);
  if (saved->error.empty()) {
    if (const int close_error = file.Close()) {
      saved->error = "cannot write it: " + ErrnoInWords(close_error);
    }
  }
  if (!saved->error.empty()) {
    // Never leave a part-written file looking like a whole one.
    if (file.valid()) writer->Remove(name, file.get());
    *decoded = Decoded();
    return false;
  }
  saved->file = writer->PathOf(name);
  saved->bytes = decoded->size;
  saved->digests = decoded->digests;
  return true;
}

// Every text and attachment of the part list, in part order.
int SaveParts(Capture* capture, const ExtractSettings& settings,
              FolderWriter* writer) {
  CaptureReport& report = capture->report();
  const std::vector<contentfile::PartInfo>& parts = capture->parts();
  size_t text = 0;
  int failures = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    const contentfile::PartInfo& part = parts[i];
    SavedFile saved;
    saved.part = i;
    std::string wanted;
    Decoded* decoded = nullptr;
    if (part.kind == contentfile::PartKind::kText &&
        text < report.texts.size()) {
      wanted = "text" + TextExtension(part.media_type);
      decoded = &report.texts[text++].decoded;
      saved.name = part.name;
    } else if (part.kind == contentfile::PartKind::kAttachment &&
               part.attachment_index >= 0 &&
               static_cast<size_t>(part.attachment_index) <
                   report.attachments.size()) {
      AttachmentEntry& entry = report.attachments[part.attachment_index];
      saved.index = entry.index;
      saved.name = entry.name;
      wanted = SafeFileName(entry.has_name_utf8 ? entry.name_utf8 : entry.name);
      if (wanted.empty()) {
        wanted = "attachment-" + std::to_string(entry.index) +
                 ExtensionOfMediaType(part.media_type);
      } else if (entry.name.size() >= kLongestLibraryName &&
                 !HasExtension(wanted)) {
        // The library cut the name, and with it the extension: the media
        // type gives one back.
        wanted = ShortenName(wanted,
                             kMaxNameBytes -
                                 ExtensionOfMediaType(part.media_type).size()) +
                 ExtensionOfMediaType(part.media_type);
      }
      decoded = &entry.decoded;
    } else {
      continue;
    }
    if (!SavePart(*capture, settings, writer, wanted, &saved, decoded)) {
      ++failures;
    }
    report.saved.push_back(std::move(saved));
  }
  return failures;
}

// The mail text and the attachments by the library's calls without a part
// list (when listing the parts failed): the text decoded into memory, the
// attachments through the descriptors created for them.
int SaveWithoutPartList(Capture* capture, const ExtractSettings& settings,
                        FolderWriter* writer) {
  CaptureReport& report = capture->report();
  int failures = 0;
  if (report.text_size > 0) {
    SavedFile saved;
    std::string text(report.text_size, '\0');
    text.resize(capture->mail()->GetMailText(text.data(), report.text_size));
    std::string name;
    UniqueFd file = writer->Create("text.txt", &name, &saved.error);
    if (file.valid()) {
      int write_error = WriteAll(file.get(), text.data(), text.size());
      if (write_error == 0) write_error = file.Close();
      Hasher hasher(settings.digests);
      if (write_error != 0) {
        writer->Remove(name, file.get());
        saved.error = "cannot write it: " + ErrnoInWords(write_error);
      } else {
        saved.file = writer->PathOf(name);
        saved.bytes = text.size();
        if (!hasher.Update(text.data(), text.size()) ||
            !hasher.Finish(&saved.digests)) {
          saved.digests = DigestValues();
        }
      }
    }
    if (!saved.error.empty()) ++failures;
    report.saved.push_back(std::move(saved));
  }
  for (const AttachmentEntry& entry : report.attachments) {
    SavedFile saved;
    saved.index = entry.index;
    saved.name = entry.name;
    std::string wanted = SafeFileName(entry.name);
    if (wanted.empty()) wanted = "attachment-" + std::to_string(entry.index);
    std::string name;
    UniqueFd file = writer->Create(wanted, &name, &saved.error);
    if (file.valid()) {
      const int32_t rc =
          capture->mail()->GetAttachment2Fd(entry.index, file.get());
      if (rc == 0) {
        saved.file = writer->PathOf(name);
        saved.bytes = SizeOf(file.get());
      } else {
        writer->Remove(name, file.get());
        saved.error = PartInWords(rc);
      }
    }
    if (!saved.error.empty()) ++failures;
    report.saved.push_back(std::move(saved));
  }
  return failures;
}

void SaveBody(Capture* capture, FolderWriter* writer) {
  SavedFile saved;
  saved.body = true;
  saved.name = "body";
  std::string name;
  UniqueFd file = writer->Create(saved.name, &name, &saved.error);
  if (file.valid()) {
    const int32_t rc = capture->file()->SaveBody2Fd(file.get());
    // An empty body leaves the new file as it is: empty.
    if (rc == 0 || rc == kEmptyBody) {
      saved.file = writer->PathOf(name);
      saved.bytes = SizeOf(file.get());
    } else {
      writer->Remove(name, file.get());
      saved.error = SaveBodyInWords(rc);
    }
  }
  if (!saved.error.empty()) {
    capture->Fail(Status::kFailed, "the body could not be saved");
  }
  capture->report().saved.push_back(std::move(saved));
}

// SHA256SUMS: a line "DIGEST  NAME" for each file saved with a SHA-256.
// Saved names hold no control character and no "\", so no line needs the
// escaped form.
bool WriteDigestFile(const CaptureReport& report, FolderWriter* writer,
                     std::string* error) {
  std::string lines;
  for (const SavedFile& saved : report.saved) {
    if (saved.file.empty() || saved.digests.sha256.empty()) continue;
    lines += saved.digests.sha256 + "  " + BaseName(saved.file) + "\n";
  }
  if (lines.empty()) return true;
  UniqueFd file = writer->CreateExactly(kDigestFileName);
  int write_error = file.valid() ? 0 : errno;
  if (write_error == 0)
    write_error = WriteAll(file.get(), lines.data(), lines.size());
  if (write_error == 0) write_error = file.Close();
  if (write_error != 0) {
    if (file.valid()) writer->Remove(kDigestFileName, file.get());
    *error = "cannot write \"" + writer->PathOf(kDigestFileName) +
             "\": " + ErrnoInWords(write_error);
    return false;
  }
  return true;
}

// Leaves the marker in a capture's folder; one there already must be a
// plain file (never opened: it may be a FIFO or a device planted there).
bool MarkFolder(int folder) {
  UniqueFd marker(::openat(folder, kExtractMarker, kCreateFlags, 0666));
  if (marker.valid()) return true;
  if (errno != EEXIST) return false;
  struct stat st;
  if (::fstatat(folder, kExtractMarker, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  if (S_ISREG(st.st_mode)) return true;
  errno = EEXIST;
  return false;
}

}  // namespace

FolderIds InputFolders(const std::vector<Input>& inputs) {
  FolderIds ids;
  std::unordered_set<std::string> seen;
  for (const Input& input : inputs) {
    const std::string& path =
        input.open_path.empty() ? input.path : input.open_path;
    if (path == kStdStream && input.open_path.empty()) continue;
    std::string folder = FolderName(path);
    if (!seen.insert(folder).second) continue;
    std::unique_ptr<char, decltype(&::free)> real(
        ::realpath(folder.c_str(), nullptr), &::free);
    if (!real) continue;
    std::string above = real.get();
    while (true) {
      struct stat st;
      if (::stat(above.c_str(), &st) == 0) ids.insert({st.st_dev, st.st_ino});
      if (above == "/") break;
      above = FolderName(above);
    }
  }
  return ids;
}

bool ExtractDir::Open(const std::string& path, std::string* error) {
  path_ = path;
  // Each missing folder along the path, from the top down.
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0777) != 0) {
      const int mkdir_error = errno;
      struct stat st;
      if (mkdir_error != EEXIST &&
          !(::stat(part.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
        *error = "cannot create the folder \"" + part +
                 "\": " + ErrnoInWords(mkdir_error);
        return false;
      }
    }
    if (slash == std::string::npos) break;
  }
  fd_.Reset(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd_.valid()) {
    *error = "cannot open the folder \"" + path + "\": " + ErrnoInWords(errno);
    return false;
  }
  return true;
}

std::vector<std::string> PlanCaptureFolders(const std::vector<Input>& inputs,
                                            const ExtractDir& dir,
                                            const ExtractSettings& settings) {
  NameClaimer claimer;
  const NameClaimer::TryName free_here = [&](const std::string& name) {
    struct stat st;
    if (::fstatat(dir.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return errno == ENOENT ? 0 : errno;
    }
    const bool reusable =
        settings.force && S_ISDIR(st.st_mode) && !IsInput(settings.inputs, st);
    return reusable ? 0 : EEXIST;
  };
  std::vector<std::string> folders;
  folders.reserve(inputs.size());
  for (size_t i = 0; i < inputs.size(); ++i) {
    std::string wanted = inputs[i].path == kStdStream
                             ? std::string("stdin")
                             : SafeFileName(BaseName(inputs[i].path));
    if (wanted.empty()) wanted = "capture-" + std::to_string(i + 1);
    std::string name;
    if (claimer.Claim(wanted, free_here, &name) != 0) name.clear();
    folders.push_back(name);
  }
  return folders;
}

void ExtractCapture(Capture* capture, const ExtractDir& dir,
                    const std::string& folder,
                    const ExtractSettings& settings) {
  CaptureReport& report = capture->report();
  if (!report.head_read) return;
  const std::string path = dir.path() + "/" + folder;
  if (folder.empty()) {
    capture->Fail(Status::kFailed,
                  "no free folder name under \"" + dir.path() + "\"");
    return;
  }
  if (::mkdirat(dir.fd(), folder.c_str(), 0777) != 0) {
    const int mkdir_error = errno;
    if (!(mkdir_error == EEXIST && settings.force)) {
      capture->Fail(Status::kFailed,
                    mkdir_error == EEXIST
                        ? "the folder \"" + path +
                              "\" was created by another program meanwhile"
                        : "cannot create the folder \"" + path +
                              "\": " + ErrnoInWords(mkdir_error));
      return;
    }
  }
  UniqueFd folder_fd(::openat(dir.fd(), folder.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder_fd.valid()) {
    const int open_error = errno;
    capture->Fail(Status::kFailed,
                  open_error == ELOOP || open_error == ENOTDIR
                      ? "the folder \"" + path +
                            "\" was replaced by a link or a file meanwhile"
                      : "cannot open the folder \"" + path +
                            "\": " + ErrnoInWords(open_error));
    return;
  }
  struct stat st;
  if (::fstat(folder_fd.get(), &st) != 0 || IsInput(settings.inputs, st)) {
    capture->Fail(Status::kFailed,
                  "the folder \"" + path + "\" holds an input of this run");
    return;
  }
  if (!MarkFolder(folder_fd.get())) {
    capture->Fail(Status::kFailed, "cannot mark the folder \"" + path +
                                       "\": " + ErrnoInWords(errno));
    return;
  }
  report.extracted = true;
  report.extract_dir = path;

  FolderWriter writer(folder_fd.get(), path, settings.force);
  if (!report.has_mail) {
    SaveBody(capture, &writer);
  } else {
    const int failures = capture->parts().empty()
                             ? SaveWithoutPartList(capture, settings, &writer)
                             : SaveParts(capture, settings, &writer);
    if (failures > 0) {
      capture->Fail(Status::kFailed, std::to_string(failures) + " of " +
                                         std::to_string(report.saved.size()) +
                                         " files could not be saved");
    }
  }
  std::string error;
  if (!WriteDigestFile(report, &writer, &error)) {
    capture->Fail(Status::kFailed, error);
  }
}

}  // namespace cfdump

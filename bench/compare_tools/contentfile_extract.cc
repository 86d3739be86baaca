// Extraction driver of bench/compare over the public interface only: for each
// line "capture<TAB>output folder" of the list file, opens the capture as a
// mail content file, writes its mail text to mailtext.txt and every
// attachment, under its decoded name, into the output folder.
//
//   contentfile_extract LIST
//
// Exits with 1 when any capture or attachment could not be handled, after
// trying all of them.

#include <contentfile.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int32_t kNameCapacity = 260;

// The decoded attachment name as one safe path component: separators,
// control bytes and a leading dot become '_', and the index keeps names
// that decode alike apart.
std::string OutputName(int32_t index, const char* name) {
  std::string out = std::to_string(index) + "-";
  for (const char* p = name; *p != '\0' && out.size() < 120; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    out += (c < 0x20 || c == '/' || c == '\\' || c == 0x7F) ? '_' : *p;
  }
  return out;
}

// Writes the mail text as the floor writes its files (open, write, close):
// the driver's own writes should cost what the floor's do.
bool WriteWhole(const std::string& path, const char* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool written = true;
  while (size > 0 && written) {
    const ssize_t n = ::write(fd, data, size);
    written = n > 0;
    if (written) {
      data += n;
      size -= static_cast<size_t>(n);
    }
  }
  return ::close(fd) == 0 && written;
}

// Extracts one capture; returns the number of failures.
int ExtractOne(const std::string& capture, const std::string& folder,
               std::vector<char>& text) {
  CMailContentFile mail;
  const int32_t opened = mail.OpenContentFile(capture.c_str());
  if (opened != 0) {
    std::fprintf(stderr, "%s: open failed (%d)\n", capture.c_str(), opened);
    return 1;
  }
  int failures = 0;
  // The head record is part of what a client reads from every capture.
  const ST_MAIL_LOG_INFO& info = mail.GetLogInfo();
  if (info.nLogType != LOG_TYPE_SMTP) ++failures;

  const uint32_t text_size = mail.GetMailTextSize();
  if (text_size > 0) {
    if (text.size() < text_size) text.resize(text_size);
    const uint32_t length = mail.GetMailText(text.data(), text_size);
    if (!WriteWhole(folder + "/mailtext.txt", text.data(), length)) {
      std::fprintf(stderr, "%s: mail text not written\n", capture.c_str());
      ++failures;
    }
  }

  const int32_t count = mail.GetAttachmentCount();
  for (int32_t i = 0; i < count; ++i) {
    char name[kNameCapacity + 1] = {};
    uint32_t stored_size = 0;
    if (mail.GetAttachmentInfo(i, name, kNameCapacity, stored_size) != 0) {
      ++failures;
      continue;
    }
    const std::string path = folder + "/" + OutputName(i, name);
    const int32_t saved = mail.GetAttachment2File(i, path.c_str());
    if (saved != 0) {
      std::fprintf(stderr, "%s: attachment %d not saved (%d)\n",
                   capture.c_str(), i, saved);
      ++failures;
    }
  }
  return failures;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: contentfile_extract LIST\n");
    return 2;
  }
  std::ifstream list(argv[1]);
  if (!list) {
    std::fprintf(stderr, "contentfile_extract: cannot read %s\n", argv[1]);
    return 2;
  }
  std::vector<char> text;
  std::string line;
  int failures = 0;
  while (std::getline(list, line)) {
    const size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    try {
      failures += ExtractOne(line.substr(0, tab), line.substr(tab + 1), text);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s: %s\n", line.c_str(), e.what());
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}

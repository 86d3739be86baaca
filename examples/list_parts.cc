// Lists every part of each mail capture named on the command line (its kind,
// media type, charset, name, stored and decoded sizes) and saves each part,
// decoded, through a descriptor into a folder:
//
//   cf_list_parts OUT_FOLDER CAPTURE...
//
// Each part goes to OUT_FOLDER/<capture number>-<part number>.part. The
// files are created with O_EXCL, so an existing file (or a link planted in
// the folder) is never written through; the names in the message are shown
// but never used as paths.
#include <contentfile.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* KindName(contentfile::PartKind kind) {
  switch (kind) {
    case contentfile::PartKind::kText:
      return "text";
    case contentfile::PartKind::kAttachment:
      return "attachment";
    case contentfile::PartKind::kUnclassified:
      break;
  }
  return "unclassified";
}

// Message text as printable ASCII: other bytes are shown as \xNN, so a
// hostile capture cannot drive the terminal.
std::string Printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

// Saves part `index` into a new file of the folder; false on failure.
bool SavePart(const CMailContentFile& mail, size_t index,
              const std::string& path) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(path.c_str());
    return false;
  }
  const int32_t rc = mail.SavePart2Fd(index, fd);
  // The library never closes the caller's descriptor: a failing close is
  // a failed save too (data may not have reached the disk).
  const bool closed = close(fd) == 0;
  if (rc != 0 || !closed) {
    std::fprintf(stderr, "%s: save failed (%d)\n", path.c_str(),
                 static_cast<int>(rc));
    return false;
  }
  return true;
}

bool ListCapture(const char* capture, int number, const std::string& folder) {
  CMailContentFile mail;
  const int32_t opened = mail.OpenContentFile(capture);
  if (opened != 0) {
    std::fprintf(stderr, "%s: cannot open as mail (%d)\n", capture,
                 static_cast<int>(opened));
    return false;
  }
  std::vector<contentfile::PartInfo> parts;
  if (mail.GetParts(parts) != 0) {
    std::fprintf(stderr, "%s: cannot list the parts\n", capture);
    return false;
  }
  std::printf("%s: %zu parts\n", capture, parts.size());
  bool ok = true;
  for (size_t i = 0; i < parts.size(); ++i) {
    const contentfile::PartInfo& part = parts[i];
    uint64_t decoded = 0;
    const bool sized = mail.GetPartDecodedSize(i, decoded) == 0;
    std::printf(
        "  %zu %-12s %*s%s charset=%s name=\"%s\" stored=%llu decoded=%s\n", i,
        KindName(part.kind), static_cast<int>(2 * part.depth), "",
        part.media_type.empty() ? "(none)" : Printable(part.media_type).c_str(),
        Printable(part.charset).c_str(), Printable(part.name).c_str(),
        static_cast<unsigned long long>(part.stored_size),
        sized ? std::to_string(decoded).c_str() : "?");
    const std::string path = folder + "/" + std::to_string(number) + "-" +
                             std::to_string(i) + ".part";
    ok = SavePart(mail, i, path) && ok;
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUT_FOLDER CAPTURE...\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  bool ok = true;
  for (int i = 2; i < argc; ++i) {
    ok = ListCapture(argv[i], i - 1, folder) && ok;
  }
  return ok ? 0 : 1;
}

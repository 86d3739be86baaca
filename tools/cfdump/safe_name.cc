#include "tools/cfdump/safe_name.h"

#include "tools/cfdump/utf8.h"

namespace cfdump {
namespace {

// Extensions longer than this (dot included) are not kept apart.
constexpr size_t kMaxExtensionBytes = 16;

// The position of the extension's dot, or npos. A leading dot (".profile")
// starts no extension.
size_t ExtensionStart(const std::string& name) {
  size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return std::string::npos;
  if (name.size() - dot > kMaxExtensionBytes) return std::string::npos;
  return dot;
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, with or without an extension:
// names that other systems open as devices, should the folder travel.
bool IsDeviceName(const std::string& name) {
  std::string stem = name.substr(0, name.find('.'));
  for (char& c : stem) c = AsciiUpper(c);
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") {
    return true;
  }
  return stem.size() == 4 &&
         (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

std::string SafeFileName(std::string_view name) {
  size_t last_separator = name.find_last_of("/\\");
  if (last_separator != std::string_view::npos) {
    name.remove_prefix(last_separator + 1);
  }
  std::string safe;
  safe.reserve(name.size());
  bool only_dots = true;
  for (size_t pos = 0; pos < name.size();) {
    uint32_t code_point = 0;
    const size_t length = Utf8SequenceLength(name, pos, &code_point);
    const unsigned char byte = static_cast<unsigned char>(name[pos]);
    if (byte < 0x20 || byte == 0x7F ||
        (length > 1 && IsDirectionMark(code_point))) {
      safe += '_';
    } else {
      safe.append(name.data() + pos, length == 0 ? 1 : length);
    }
    if (name[pos] != '.') only_dots = false;
    pos += length == 0 ? 1 : length;
  }
  if (only_dots) return std::string();
  if (safe[0] == '-') safe[0] = '_';
  if (IsDeviceName(safe)) safe.insert(0, "_");
  return ShortenName(safe, kMaxNameBytes);
}

std::string ShortenName(const std::string& name, size_t limit) {
  if (name.size() <= limit) return name;
  size_t dot = ExtensionStart(name);
  std::string extension;
  if (dot != std::string::npos && name.size() - dot < limit) {
    extension = name.substr(dot);
  }
  std::string stem = name.substr(0, name.size() - extension.size());
  stem.resize(Utf8SafeCut(stem, limit - extension.size()));
  if (stem.empty()) {
    // Nothing of the stem fits: cut the whole name instead.
    return name.substr(0, Utf8SafeCut(name, limit));
  }
  return stem + extension;
}

bool HasExtension(const std::string& name) {
  return ExtensionStart(name) != std::string::npos;
}

std::string ExtensionOfMediaType(std::string_view media_type) {
  static const struct {
    const char* media_type;
    const char* extension;
  } kKnown[] = {
      {"application/gzip", ".gz"},
      {"application/json", ".json"},
      {"application/msword", ".doc"},
      {"application/octet-stream", ".bin"},
      {"application/pdf", ".pdf"},
      {"application/pgp-signature", ".asc"},
      {"application/pkcs7-mime", ".p7m"},
      {"application/pkcs7-signature", ".p7s"},
      {"application/rtf", ".rtf"},
      {"application/vnd.ms-excel", ".xls"},
      {"application/vnd.ms-powerpoint", ".ppt"},
      {"application/vnd.openxmlformats-officedocument.presentationml."
       "presentation",
       ".pptx"},
      {"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
       ".xlsx"},
      {"application/vnd.openxmlformats-officedocument.wordprocessingml."
       "document",
       ".docx"},
      {"application/x-7z-compressed", ".7z"},
      {"application/x-pkcs7-signature", ".p7s"},
      {"application/x-rar-compressed", ".rar"},
      {"application/x-tar", ".tar"},
      {"application/xml", ".xml"},
      {"application/zip", ".zip"},
      {"audio/mpeg", ".mp3"},
      {"audio/wav", ".wav"},
      {"image/bmp", ".bmp"},
      {"image/gif", ".gif"},
      {"image/jpeg", ".jpg"},
      {"image/png", ".png"},
      {"image/svg+xml", ".svg"},
      {"image/tiff", ".tif"},
      {"image/webp", ".webp"},
      {"message/rfc822", ".eml"},
      {"text/calendar", ".ics"},
      {"text/csv", ".csv"},
      {"text/html", ".html"},
      {"text/plain", ".txt"},
      {"text/xml", ".xml"},
      {"video/mp4", ".mp4"},
      {"video/mpeg", ".mpg"},
  };
  for (const auto& known : kKnown) {
    if (media_type == known.media_type) return known.extension;
  }
  if (media_type.compare(0, 5, "text/") == 0) return ".txt";
  return std::string();
}

std::string TextExtension(std::string_view media_type) {
  if (media_type == "text/html") return ".html";
  if (media_type.empty() || media_type.compare(0, 5, "text/") == 0) {
    return ".txt";
  }
  const std::string known = ExtensionOfMediaType(media_type);
  return known.empty() ? ".bin" : known;
}

std::string NumberedName(const std::string& name, int n) {
  size_t dot = ExtensionStart(name);
  if (dot == std::string::npos) dot = name.size();
  return name.substr(0, dot) + "-" + std::to_string(n) + name.substr(dot);
}

}  // namespace cfdump

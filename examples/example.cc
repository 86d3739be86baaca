// Opens each content file named on the command line and prints its head and
// body sizes. An HTTP POST capture is shown with its analysed log head: the
// protocol, the two endpoints, the text lines, line 9 and the body size; any
// other capture with its raw head.
#include <contentfile.h>

#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Head text as printable bytes: control bytes are shown as \xNN, so a
// hostile capture cannot drive the terminal.
std::string Printable(const char* text) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || c == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
      out += escaped;
    } else {
      out += *p;
    }
  }
  return out;
}

std::string Endpoint(uint32_t address, uint16_t port) {
  char text[32];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u:%u", (address >> 24) & 0xFF,
                (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF,
                static_cast<unsigned>(port));
  return text;
}

const char* ProtocolName(int32_t log_type) {
  switch (log_type) {
    case LOG_TYPE_HTTP_POST:
      return "HTTP POST";
    case LOG_TYPE_SMTP:
      return "SMTP";
    case LOG_TYPE_POP3:
      return "POP3";
    default:
      return "other";
  }
}

void PrintHttpPost(const ST_HTTPPOST_LOG_INFO& info, uint32_t body_size) {
  std::printf("  protocol:  %s\n", ProtocolName(info.nLogType));
  std::printf("  endpoints: %s -> %s\n",
              Endpoint(info.dwAddr1, info.wPort1).c_str(),
              Endpoint(info.dwAddr2, info.wPort2).c_str());
  std::printf("  line 3:    %s\n", Printable(info.szLine3).c_str());
  std::printf("  line 4:    %s ; %s\n", Printable(info.szLine4Left).c_str(),
              Printable(info.szLine4Right).c_str());
  std::printf("  line 9:    %s\n", Printable(info.szLine9).c_str());
  const char* const texts[] = {info.szLine11, info.szLine12, info.szLine13,
                               info.szLine14};
  for (int i = 0; i < 4; ++i) {
    std::printf("  line %d:   %s\n", 11 + i, Printable(texts[i]).c_str());
  }
  std::printf("  body:      %u bytes\n", body_size);
}

void PrintRawHead(CContentFile& file) {
  uint32_t length = file.GetHeadSize();
  if (length == 0) return;
  std::vector<char> head(length);
  if (file.GetContentHead(head.data(), length) == 0) {
    std::fwrite(head.data(), 1, length, stdout);
  }
}

// Returns false when the capture cannot be opened at all.
bool ShowCapture(const char* path) {
  CHttpPostContentFile file;
  bool analysed = false;
  try {
    const int32_t rc = file.OpenContentFile(path);
    if (rc == -10) {
      std::fprintf(stderr, "%s: cannot open as a content file\n", path);
      return false;
    }
    analysed = rc == 0;
  } catch (const std::invalid_argument&) {
    // The file is open, but its head lacks lines the analysis needs.
    std::fprintf(stderr, "%s: the log head is incomplete\n", path);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", path, e.what());
    return false;
  }
  std::printf("%s: head %u bytes, body %u bytes\n", path, file.GetHeadSize(),
              file.GetBodySize());
  if (analysed && file.GetLogInfo().nLogType == LOG_TYPE_HTTP_POST) {
    PrintHttpPost(file.GetLogInfo(), file.GetBodySize());
  } else {
    PrintRawHead(file);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    if (!ShowCapture(argv[i])) ++failures;
  }
  return failures == 0 ? 0 : 1;
}

// The log head: arbitrary bytes written to a file, split into head lines by
// ReadLogHeadLines (checked against a plain split of the head's bytes, of
// which it keeps the lines the analyses take) and analysed by the HTTP POST
// open into its record.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "content/log_head.h"
#include "contentfile.h"
#include "fuzz/fuzz_support.h"

namespace {

using contentfile_fuzz::ScratchPath;

// The head's text up to its first NUL, cut at every CR LF; the bytes after
// the last CR LF make no line.
std::vector<std::string> SplitHead(const std::string& head) {
  const std::string text = head.substr(0, head.find('\0'));
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t crlf; (crlf = text.find("\r\n", start)) != std::string::npos;
       start = crlf + 2) {
    lines.push_back(text.substr(start, crlf - start));
  }
  return lines;
}

// A text field ends in a NUL and holds nothing after its first NUL.
template <size_t kWidth>
void CheckField(const char (&field)[kWidth]) {
  const size_t n = strnlen(field, kWidth);
  FUZZ_CHECK(n < kWidth);
  for (size_t i = n; i < kWidth; ++i) FUZZ_CHECK(field[i] == '\0');
}

void CheckRecord(const ST_HTTPPOST_LOG_INFO& info) {
  CheckField(info.szLine3);
  CheckField(info.szLine4Left);
  CheckField(info.szLine4Right);
  CheckField(info.szLine11);
  CheckField(info.szLine12);
  CheckField(info.szLine13);
  CheckField(info.szLine14);
  CheckField(info.szLine9);
  for (uint8_t b : info.byReserved1) FUZZ_CHECK(b == 0);
  for (uint8_t b : info.byReserved2) FUZZ_CHECK(b == 0);
  FUZZ_CHECK(info.nLogType == LOG_TYPE_OTHER ||
             info.nLogType == LOG_TYPE_HTTP_POST ||
             info.nLogType == LOG_TYPE_SMTP || info.nLogType == LOG_TYPE_POP3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 24)) return 0;
  const std::string path = ScratchPath("head.cf");
  contentfile_fuzz::WriteBytes(path, data, size);
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  CContentFile file;
  if (file.OpenContentFile(path.c_str()) == 0) {
    const uint32_t head_size = file.GetHeadSize();
    FUZZ_CHECK(head_size <= size);
    FUZZ_CHECK(head_size + file.GetBodySize() == size);
    contentfile_internal::HeadLines lines;
    const bool read = contentfile_internal::ReadLogHeadLines(file, &lines);
    FUZZ_CHECK(read == (head_size > 0));
    if (read) {
      std::vector<std::string> split = SplitHead(bytes.substr(0, head_size));
      if (split.size() > contentfile_internal::kLastAnalysedLine) {
        split.resize(contentfile_internal::kLastAnalysedLine);
      }
      FUZZ_CHECK(lines == split);
    }
  }

  CHttpPostContentFile post;
  try {
    const int32_t result = post.OpenContentFile(path.c_str());
    FUZZ_CHECK(result == 0 || result == -10 || result == -11);
    if (result == 0) {
      FUZZ_CHECK(post.GetHeadSize() + post.GetBodySize() == size);
    }
  } catch (const std::invalid_argument&) {
    // A head without a line the analysis needs: documented.
  }
  CheckRecord(post.GetLogInfo());
  return 0;
}

// Reading the log head into lines, and the common analysis of those lines
// into ST_LOG_INFO.

#include "content/log_head.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "content/result_codes.h"
#include "contentfile.h"
#include "platform/memory.h"
#include "platform/net.h"
#include "platform/text.h"

namespace contentfile_internal {
namespace {

// Head line numbers of the common fields.
constexpr size_t kProtocolLine = 2;
constexpr size_t kLine3 = 3;
constexpr size_t kLine4 = 4;
constexpr size_t kAddress1Line = 5;
constexpr size_t kPort1Line = 6;
constexpr size_t kAddress2Line = 7;
constexpr size_t kPort2Line = 8;
constexpr size_t kLine11 = 11;
constexpr size_t kLine12 = 12;
constexpr size_t kLine13 = 13;
constexpr size_t kLine14 = 14;

// Protocol names of line 2, in the order they are tried: the first found
// decides.
struct ProtocolName {
  std::string_view name;
  int32_t log_type;
};
constexpr ProtocolName kProtocolNames[] = {
    {"SMTP", LOG_TYPE_SMTP},
    {"POP3", LOG_TYPE_POP3},
    {"Http Post", LOG_TYPE_HTTP_POST},
};

int32_t ProtocolOf(const std::string& line) {
  for (const ProtocolName& protocol : kProtocolNames) {
    if (FindStringMb(line.data(), line.size(), protocol.name.data(),
                     protocol.name.size()) != nullptr) {
      return protocol.log_type;
    }
  }
  return LOG_TYPE_OTHER;
}

uint16_t PortOf(const std::string& line) {
  // Only the low 16 bits are kept: 70000 gives 4464.
  return static_cast<uint16_t>(
      static_cast<uint32_t>(ParseDecimal(line.data(), line.size())));
}

}  // namespace

namespace {

bool SplitHeadLines(CContentFile& file, HeadLines* lines, size_t max_lines) {
  const uint32_t head_size = file.GetHeadSize();
  if (head_size == 0) return false;
  Buffer buffer = AllocateBuffer(head_size);
  if (!buffer) return false;
  uint32_t length = head_size;
  if (file.GetContentHead(buffer.get(), length) != kOk) return false;
  // An overriding GetContentHead may report more than the buffer holds.
  if (length > head_size) length = head_size;

  const char* text = buffer.get();
  const char* nul = static_cast<const char*>(std::memchr(text, '\0', length));
  const char* const end = nul != nullptr ? nul : text + length;
  const char* line = text;
  lines->reserve(max_lines < kLastAnalysedLine ? max_lines : kLastAnalysedLine);
  // A lone CR is part of its line.
  while (lines->size() < max_lines) {
    const char* line_end =
        FindBytes(line, static_cast<size_t>(end - line), "\r\n", 2);
    if (line_end == nullptr) break;
    lines->emplace_back(line, line_end - line);
    line = line_end + 2;
  }
  return true;
}

}  // namespace

bool ReadLogHeadLines(CContentFile& file, HeadLines* lines, size_t max_lines) {
  lines->clear();
  // Out of memory for the lines, or in the read (while its file error was
  // being raised, say), is a head that could not be read.
  try {
    if (SplitHeadLines(file, lines, max_lines)) return true;
  } catch (const std::bad_alloc&) {
  }
  lines->clear();
  return false;
}

const std::string& HeadLine(const HeadLines& lines, size_t number) {
  if (number == 0 || number > lines.size()) {
    throw std::invalid_argument("log head line " + std::to_string(number) +
                                " is missing");
  }
  return lines[number - 1];
}

void CopyToField(std::string_view text, char* field, size_t width) {
  if (width == 0) return;
  const size_t capacity = width - 1;
  size_t n = text.size() < capacity ? text.size() : capacity;
  if (n > 0) {
    const void* nul = std::memchr(text.data(), '\0', n);
    if (nul != nullptr) n = static_cast<const char*>(nul) - text.data();
    std::memcpy(field, text.data(), n);
  }
  std::memset(field + n, 0, capacity - n);
}

namespace {

// Each line is taken only when its field is due, so a missing line raises
// with every field before it stored.
int32_t AnalyseCommonFields(const HeadLines& head, ST_LOG_INFO* info) {
  info->nLogType = ProtocolOf(HeadLine(head, kProtocolLine));
  CopyToField(HeadLine(head, kLine3), info->szLine3);

  const std::string& line4 = HeadLine(head, kLine4);
  const char* separator = FindCharMb(line4.data(), line4.size(), ';');
  if (separator == nullptr) return kAnalyseBadLine4;
  const std::string_view whole(line4);
  const size_t left_length = separator - line4.data();
  CopyToField(whole.substr(0, left_length), info->szLine4Left);
  CopyToField(whole.substr(left_length + 1), info->szLine4Right);

  info->dwAddr1 = ParseIpv4Address(HeadLine(head, kAddress1Line).c_str());
  info->wPort1 = PortOf(HeadLine(head, kPort1Line));
  info->dwAddr2 = ParseIpv4Address(HeadLine(head, kAddress2Line).c_str());
  info->wPort2 = PortOf(HeadLine(head, kPort2Line));

  CopyToField(HeadLine(head, kLine11), info->szLine11);
  CopyToField(HeadLine(head, kLine12), info->szLine12);
  CopyToField(HeadLine(head, kLine13), info->szLine13);
  CopyToField(HeadLine(head, kLine14), info->szLine14);
  return kOk;
}

}  // namespace
}  // namespace contentfile_internal

int32_t CContentFile::AnalyseLogHead(void* lines, ST_LOG_INFO* info) {
  if (lines == nullptr || info == nullptr) {
    throw std::invalid_argument("log head analysis without lines or record");
  }
  return contentfile_internal::AnalyseCommonFields(
      *static_cast<const contentfile_internal::HeadLines*>(lines), info);
}

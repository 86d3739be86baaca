#include "tools/cfdump/text_report.h"

#include <cstdio>
#include <vector>

#include "tools/cfdump/common.h"
#include "tools/cfdump/utf8.h"

namespace cfdump {
namespace {

void AppendHexByte(uint8_t byte, std::string* out) {
  char text[5];
  std::snprintf(text, sizeof(text), "\\x%02X", byte);
  *out += text;
}

bool IsControl(uint32_t code_point) {
  return code_point < 0x20 || (code_point >= 0x7F && code_point < 0xA0);
}

class Lines {
 public:
  explicit Lines(std::string* out) : out_(out) {}
  void Field(const char* label, const std::string& value) {
    char text[32];
    std::snprintf(text, sizeof(text), value.empty() ? "  %s" : "  %-13s",
                  label);
    *out_ += text;
    *out_ += value;
    *out_ += '\n';
  }
  void Bytes(const char* label, uint64_t count) {
    Field(label, std::to_string(count) + " bytes");
  }

 private:
  std::string* out_;
};

void AppendLogLines(const CaptureReport& report, Lines* lines) {
  const ST_LOG_INFO& log = report.log;
  lines->Field("endpoints", Endpoint(log.dwAddr1, log.wPort1) + " -> " +
                                Endpoint(log.dwAddr2, log.wPort2));
  lines->Field("line 3", Printable(FieldText(log.szLine3)));
  lines->Field("line 4", Printable(FieldText(log.szLine4Left)) + ";" +
                             Printable(FieldText(log.szLine4Right)));
  if (report.has_line9) lines->Field("line 9", Printable(report.line9));
  lines->Field("line 11", Printable(FieldText(log.szLine11)));
  lines->Field("line 12", Printable(FieldText(log.szLine12)));
  lines->Field("line 13", Printable(FieldText(log.szLine13)));
  lines->Field("line 14", Printable(FieldText(log.szLine14)));
}

void AppendMail(const CaptureReport& report, Lines* lines, std::string* out) {
  lines->Field("from", Printable(report.from));
  lines->Field("to", Printable(report.to));
  lines->Field("cc", Printable(report.cc));
  lines->Field("subject", Printable(report.subject));
  lines->Bytes("mail text", report.text_size);
  lines->Field("attachments", std::to_string(report.attachments.size()));
  if (report.attachments.empty()) return;
  *out += "      index        size  name\n";
  for (const AttachmentEntry& entry : report.attachments) {
    char text[48];
    std::snprintf(text, sizeof(text), "  %9d  %10u  ", entry.index, entry.size);
    *out += text;
    *out += Printable(entry.name);
    *out += '\n';
  }
}

void AppendRawHead(const CaptureReport& report, std::string* out) {
  *out += "  head lines\n";
  bool bare_lf = false;
  int number = 0;
  const std::vector<std::string> lines = SplitHeadLines(report.head, &bare_lf);
  for (const std::string& line : lines) {
    char text[24];
    std::snprintf(text, sizeof(text), "  %6d  ", ++number);
    *out += text;
    *out += Printable(line);
    *out += '\n';
  }
}

void AppendSaved(const CaptureReport& report, Lines* lines) {
  lines->Field("extracted to", Printable(report.extract_dir));
  for (const SavedFile& saved : report.saved) {
    if (saved.error.empty()) {
      lines->Field("saved", Printable(saved.file) + " (" +
                                std::to_string(saved.bytes) + " bytes)");
    } else {
      lines->Field("not saved", "\"" + Printable(saved.name) +
                                    "\": " + Printable(saved.error));
    }
  }
}

}  // namespace

std::string Printable(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t pos = 0;
  while (pos < bytes.size()) {
    uint32_t code_point = 0;
    size_t length = Utf8SequenceLength(bytes, pos, &code_point);
    if (length > 1 && IsDirectionMark(code_point)) {
      char text[8];
      std::snprintf(text, sizeof(text), "\\u%04X", code_point);
      out += text;
    } else if (length == 0 || IsControl(code_point)) {
      if (length == 0) length = 1;
      for (size_t i = 0; i < length; ++i) {
        AppendHexByte(static_cast<uint8_t>(bytes[pos + i]), &out);
      }
    } else {
      out.append(bytes.data() + pos, length);
    }
    pos += length;
  }
  return out;
}

std::string FormatTextReport(const CaptureReport& report) {
  std::string out = Printable(report.path) + "\n";
  Lines lines(&out);
  if (report.kind != Kind::kUnknown) lines.Field("kind", KindName(report.kind));
  if (report.head_read) {
    lines.Bytes("head", report.head_size);
    lines.Bytes("body", report.body_size);
  }
  if (report.has_log) AppendLogLines(report, &lines);
  if (report.has_mail) AppendMail(report, &lines, &out);
  if (report.head_read && !report.has_log) AppendRawHead(report, &out);
  if (report.extracted) AppendSaved(report, &lines);
  for (const std::string& warning : report.warnings) {
    out += "  warning: " + Printable(warning) + "\n";
  }
  if (report.status == Status::kPartial) {
    out += "  warning: " + Printable(report.error) +
           "; shown as a plain content file\n";
  } else if (report.status == Status::kFailed) {
    out += "  error: " + Printable(report.error) + "\n";
  }
  out += '\n';
  return out;
}

}  // namespace cfdump

#include "tools/cfdump/text_report.h"

#include <cstdio>
#include <utility>
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

// The decoded size in a table cell; "-" when not known.
std::string DecodedSize(const Decoded& decoded) {
  return decoded.known ? std::to_string(decoded.size) : std::string("-");
}

void AppendDigests(const DigestValues& digests, std::string* out) {
  const std::pair<const char*, const std::string*> rows[] = {
      {"md5", &digests.md5},
      {"sha1", &digests.sha1},
      {"sha256", &digests.sha256}};
  for (const auto& [name, value] : rows) {
    if (value->empty()) continue;
    *out += "             ";
    *out += name;
    *out += ' ';
    *out += *value;
    *out += '\n';
  }
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
  if (report.has_subject_utf8) {
    lines->Field("subject utf8", Printable(report.subject_utf8));
  }
  lines->Bytes("mail text", report.text_size);
  if (!report.texts.empty()) {
    lines->Field("texts", std::to_string(report.texts.size()));
    *out += "       part  decoded size  stored size  type\n";
    for (const TextEntry& text : report.texts) {
      char row[64];
      std::snprintf(row, sizeof(row), "  %9zu  %12s  %11llu  ", text.part,
                    DecodedSize(text.decoded).c_str(),
                    static_cast<unsigned long long>(text.stored_size));
      *out += row;
      *out += Printable(text.media_type);
      if (!text.charset.empty()) *out += "; charset=" + Printable(text.charset);
      *out += '\n';
      AppendDigests(text.decoded.digests, out);
    }
  }
  lines->Field("attachments", std::to_string(report.attachments.size()));
  if (report.attachments.empty()) return;
  *out += "      index  decoded size  stored size  name\n";
  for (const AttachmentEntry& entry : report.attachments) {
    char row[64];
    std::snprintf(row, sizeof(row), "  %9d  %12s  %11u  ", entry.index,
                  DecodedSize(entry.decoded).c_str(), entry.size);
    *out += row;
    *out += Printable(entry.name);
    *out += '\n';
    if (entry.has_name_utf8) {
      *out +=
          "             name as UTF-8: " + Printable(entry.name_utf8) + "\n";
    }
    AppendDigests(entry.decoded.digests, out);
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
  bool all_saved = true;
  for (const SavedFile& saved : report.saved) {
    if (!saved.error.empty()) all_saved = false;
  }
  lines->Field(
      all_saved && report.status != Status::kFailed ? "extracted to" : "folder",
      Printable(report.extract_dir));
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

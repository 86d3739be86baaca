#include "tools/cfdump/capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <stdexcept>

#include "tools/cfdump/charset.h"
#include "tools/cfdump/common.h"
#include "tools/cfdump/fd_io.h"
#include "tools/cfdump/result_words.h"

namespace cfdump {
namespace {

// Head lines the kinds' analysis reads; line 4 splits at its first ";".
constexpr size_t kAnalysedHeadLines = 14;
constexpr size_t kEndpointLine = 4;
// Bytes read to judge line 1.
constexpr size_t kLineOneProbe = 64;
constexpr char kPngSignature[] = "\x89PNG\r\n";
// The name buffer the library fills: its longest name and a NUL.
constexpr int32_t kNameBufferSize = kLongestLibraryName + 1;

std::string TooFewLines(const std::string& head) {
  bool bare_lf = false;
  const size_t lines = SplitHeadLines(head, &bare_lf).size();
  if (bare_lf) {
    return "the log head's lines end in LF alone, where its analysis needs "
           "CR LF";
  }
  return "the log head lacks a line that its analysis needs (it has " +
         std::to_string(lines) + " lines; " +
         std::to_string(kAnalysedHeadLines) + " are expected)";
}

// Opens `file` again as the class of its kind. Returns why it cannot be
// read as that kind, or "" when it opened; `in_words` says a result code.
template <typename InWords>
std::string OpenAsKind(CContentFile* file, const std::string& path,
                       const std::string& head, InWords in_words) {
  try {
    const int32_t rc = file->OpenContentFile(path.c_str());
    return rc == 0 ? std::string() : in_words(rc);
  } catch (const std::invalid_argument&) {
    return TooFewLines(head);
  } catch (const CFileError& e) {
    return HeadReadErrorInWords(e);
  }
}

}  // namespace

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kOther:
      return "other";
    case Kind::kHttpPost:
      return "HTTP POST";
    case Kind::kSmtp:
      return "SMTP";
    case Kind::kPop3:
      return "POP3";
    case Kind::kUnknown:
      break;
  }
  return "unknown";
}

const char* KindJsonName(Kind kind) {
  switch (kind) {
    case Kind::kOther:
      return "other";
    case Kind::kHttpPost:
      return "http_post";
    case Kind::kSmtp:
      return "smtp";
    case Kind::kPop3:
      return "pop3";
    case Kind::kUnknown:
      break;
  }
  return nullptr;
}

const char* StatusJsonName(Status status) {
  switch (status) {
    case Status::kOk:
      return "ok";
    case Status::kPartial:
      return "partial";
    case Status::kFailed:
      break;
  }
  return "failed";
}

bool ReadRange(CContentFile* file, bool body, std::string* bytes,
               std::string* error) {
  const uint32_t size = body ? file->GetBodySize() : file->GetHeadSize();
  bytes->assign(size, '\0');
  if (size == 0) return true;
  uint32_t length = size;
  int32_t rc = body ? file->GetContentBody(bytes->data(), length)
                    : file->GetContentHead(bytes->data(), length);
  if (rc != 0) {
    *error = std::string(body ? "reading the body failed: "
                              : "reading the log head failed: ") +
             ReadRangeInWords(rc);
    return false;
  }
  bytes->resize(length);
  return true;
}

std::vector<std::string> SplitHeadLines(const std::string& head,
                                        bool* bare_lf) {
  std::vector<std::string> lines;
  *bare_lf = false;
  size_t start = 0;
  while (start < head.size()) {
    size_t end = head.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(head.substr(start));
      break;
    }
    size_t text_end = end;
    if (text_end > start && head[text_end - 1] == '\r') {
      --text_end;
    } else {
      *bare_lf = true;
    }
    lines.push_back(head.substr(start, text_end - start));
    start = end + 1;
  }
  return lines;
}

std::string NotACaptureReason(const std::string& path) {
  // Enough of line 1 for any line count the library takes.
  char start[kLineOneProbe];
  UniqueFd fd(
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) return std::string();
  const ssize_t n = ::read(fd.get(), start, sizeof(start));
  if (n <= 0) return std::string();
  const std::string_view bytes(start, static_cast<size_t>(n));
  std::string_view line = bytes.substr(0, bytes.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
    line.remove_prefix(1);
  }
  if (!line.empty() &&
      line.find_first_not_of("0123456789") == std::string_view::npos) {
    return std::string();
  }
  std::string why = "not a content file: its line 1 is not a line count";
  const size_t colon = line.find(':');
  if (bytes.compare(0, sizeof(kPngSignature) - 1, kPngSignature) == 0) {
    why += " (it is a PNG image)";
  } else if (colon != std::string_view::npos && colon > 0 &&
             line.find_first_of(" \t") > colon) {
    why += " (it looks like a mail message without a log head)";
  }
  return why;
}

Kind KindOfHeadLines(const std::vector<std::string>& lines) {
  if (lines.size() < 2) return Kind::kOther;
  // The same searches, in the same order, as the library's analysis.
  const std::string& line = lines[1];
  if (line.find("SMTP") != std::string::npos) return Kind::kSmtp;
  if (line.find("POP3") != std::string::npos) return Kind::kPop3;
  if (line.find("Http Post") != std::string::npos) return Kind::kHttpPost;
  return Kind::kOther;
}

std::string Endpoint(uint32_t address, uint16_t port) {
  return std::to_string(address >> 24) + "." +
         std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." +
         std::to_string(address & 0xFF) + ":" + std::to_string(port);
}

Capture::Capture(const std::string& path, const std::string& open_path)
    : open_path_(open_path) {
  report_.path = path;
  try {
    if (!ReadHead()) return;
    switch (report_.kind) {
      case Kind::kHttpPost:
        ReadHttpPost();
        break;
      case Kind::kSmtp:
      case Kind::kPop3:
        ReadMail();
        break;
      case Kind::kOther:
      case Kind::kUnknown:
        break;
    }
  } catch (const std::bad_alloc&) {
    Fail(Status::kFailed, "out of memory");
  }
}

void Capture::Fail(Status status, const std::string& why) {
  if (!report_.error.empty()) report_.error += "; ";
  report_.error += why;
  if (status == Status::kFailed || report_.status == Status::kOk) {
    report_.status = status;
  }
}

bool Capture::ReadHead() {
  const std::string& path = open_path_;
  base_ = std::make_unique<CContentFile>();
  const std::string not_a_capture = NotACaptureReason(path);
  int32_t rc;
  try {
    rc = base_->OpenContentFile(path.c_str());
  } catch (const CFileError& e) {
    Fail(Status::kFailed, HeadReadErrorInWords(e));
    return false;
  }
  if (rc != 0) {
    Fail(Status::kFailed, BaseOpenInWords(rc, path));
    if (!not_a_capture.empty()) Fail(Status::kFailed, not_a_capture);
    return false;
  }
  if (!not_a_capture.empty()) report_.warnings.push_back(not_a_capture);
  report_.head_size = base_->GetHeadSize();
  report_.body_size = base_->GetBodySize();
  std::string head;
  std::string error;
  if (!ReadRange(base_.get(), false, &head, &error)) {
    Fail(Status::kFailed, error);
    return false;
  }
  report_.head = std::move(head);
  report_.head_read = true;

  bool bare_lf = false;
  std::vector<std::string> lines = SplitHeadLines(report_.head, &bare_lf);
  report_.kind = KindOfHeadLines(lines);
  if (report_.kind != Kind::kOther && lines.size() >= kEndpointLine &&
      lines[kEndpointLine - 1].find(';') == std::string::npos) {
    report_.warnings.push_back(
        "head line 4 holds no \";\", so the endpoints and lines 11 to 14 are "
        "not analysed");
  }
  return true;
}

void Capture::ReadHttpPost() {
  // Only the analysed head is kept: the body is saved through base_.
  CHttpPostContentFile http_post;
  const std::string why =
      OpenAsKind(&http_post, open_path_, report_.head, HttpPostOpenInWords);
  if (!why.empty()) {
    Fail(Status::kPartial, "cannot be read as HTTP POST: " + why);
    return;
  }
  const ST_HTTPPOST_LOG_INFO& info = http_post.GetLogInfo();
  report_.has_log = true;
  report_.log = info;
  report_.has_line9 = true;
  report_.line9 = FieldText(info.szLine9);
}

void Capture::ReadMail() {
  const std::string& path = open_path_;
  mail_ = std::make_unique<CMailContentFile>();
  const std::string why =
      OpenAsKind(mail_.get(), path, report_.head,
                 [&](int32_t rc) { return MailOpenInWords(rc, path); });
  if (!why.empty()) {
    mail_.reset();
    Fail(Status::kPartial, "cannot be read as mail: " + why);
    return;
  }
  const ST_MAIL_LOG_INFO& info = mail_->GetLogInfo();
  report_.has_log = true;
  report_.log = info;
  report_.has_mail = true;
  report_.from = FieldText(info.szFrom);
  report_.to = FieldText(info.szTo);
  report_.cc = FieldText(info.szCc);
  report_.subject = FieldText(info.szSubject);
  report_.text_size = mail_->GetMailTextSize();
  const int32_t count = mail_->GetAttachmentCount();
  for (int32_t i = 0; i < count; ++i) {
    char name[kNameBufferSize];
    AttachmentEntry entry;
    entry.index = i;
    int32_t rc = mail_->GetAttachmentInfo(i, name, kNameBufferSize, entry.size);
    if (rc != 0) {
      Fail(Status::kFailed, "attachment " + std::to_string(i) + ": " +
                                AttachmentInfoInWords(rc));
      continue;
    }
    entry.name.assign(name, strnlen(name, sizeof(name)));
    report_.attachments.push_back(std::move(entry));
  }
  if (mail_->GetParts(parts_) != 0) {
    parts_.clear();
    return;
  }
  for (size_t i = 0; i < parts_.size(); ++i) {
    const contentfile::PartInfo& part = parts_[i];
    if (part.kind == contentfile::PartKind::kText) {
      TextEntry text;
      text.part = i;
      text.media_type = part.media_type;
      text.charset = part.charset;
      text.stored_size = part.stored_size;
      report_.texts.push_back(std::move(text));
    } else if (part.kind == contentfile::PartKind::kAttachment &&
               part.attachment_index >= 0 &&
               static_cast<size_t>(part.attachment_index) <
                   report_.attachments.size()) {
      AttachmentEntry& entry = report_.attachments[part.attachment_index];
      entry.part = i;
      entry.media_type = part.media_type;
    }
  }
}

void Capture::ConvertToUtf8() {
  if (mail_ == nullptr) return;
  std::string why;
  std::vector<contentfile::HeaderField> fields;
  report_.has_subject_utf8 = true;
  if (mail_->GetHeaderFields("Subject", fields) != 0) {
    if (!cfdump::ConvertToUtf8(report_.subject, "", &report_.subject_utf8,
                               &why)) {
      report_.warnings.push_back("subject: " + why + "; shown as bytes");
    }
  } else if (!fields.empty()) {
    for (const contentfile::HeaderSegment& segment : fields.front().segments) {
      std::string converted;
      if (!cfdump::ConvertToUtf8(segment.text, segment.charset, &converted,
                                 &why)) {
        report_.warnings.push_back("subject: " + why + "; shown as bytes");
      }
      report_.subject_utf8 += converted;
    }
  }
  for (AttachmentEntry& entry : report_.attachments) {
    const std::string charset =
        entry.part == kNoPart ? std::string() : parts_[entry.part].name_charset;
    entry.has_name_utf8 = true;
    if (!cfdump::ConvertToUtf8(entry.name, charset, &entry.name_utf8, &why)) {
      report_.warnings.push_back("attachment " + std::to_string(entry.index) +
                                 " name: " + why + "; shown as bytes");
    }
  }
}

void Capture::MeasureParts(const DigestChoice& digests) {
  if (mail_ == nullptr) return;
  const auto measure = [&](size_t part, Decoded* decoded) {
    if (part == kNoPart) return;
    const std::string why = DecodePart(*mail_, part, digests, nullptr, decoded);
    if (!why.empty()) {
      report_.warnings.push_back("part " + std::to_string(part) +
                                 " cannot be decoded: " + why);
    }
  };
  for (AttachmentEntry& entry : report_.attachments) {
    measure(entry.part, &entry.decoded);
  }
  for (TextEntry& text : report_.texts) measure(text.part, &text.decoded);
}

std::string DecodePart(const CMailContentFile& mail, size_t part,
                       const DigestChoice& digests,
                       const std::function<int(const char*, size_t)>& write,
                       Decoded* decoded) {
  Hasher hasher(digests);
  uint64_t size = 0;
  int write_error = 0;
  bool hash_failed = false;
  const int32_t rc =
      mail.StreamPart(part, [&](const char* data, size_t length) {
        if (write) write_error = write(data, length);
        if (write_error != 0) return false;
        hash_failed = hash_failed || !hasher.Update(data, length);
        size += length;
        return true;
      });
  if (write_error != 0) return "cannot write it: " + ErrnoInWords(write_error);
  if (rc != 0) return PartInWords(rc);
  decoded->known = true;
  decoded->size = size;
  if (hash_failed || !hasher.Finish(&decoded->digests)) {
    decoded->digests = DigestValues();
    return "its digests cannot be computed (out of memory)";
  }
  return std::string();
}

}  // namespace cfdump

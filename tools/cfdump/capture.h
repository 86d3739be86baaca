// One capture read through the library: its kind, decided from head line 2,
// and everything the report shows about it.
//
// A capture is first opened as a plain content file to read its head; then
// it is opened again with the class of its kind. When that open fails or
// raises, the capture is shown as a plain content file and the report says
// why. The library objects live as long as the Capture, so that the
// extraction can save through them; a Capture serves one thread at a time.

#ifndef CONTENTFILE_TOOLS_CFDUMP_CAPTURE_H_
#define CONTENTFILE_TOOLS_CFDUMP_CAPTURE_H_

#include <contentfile.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/cfdump/digests.h"

namespace cfdump {

// No part of the part list.
constexpr size_t kNoPart = static_cast<size_t>(-1);

// The kind as head line 2 names it; kUnknown when the head cannot be read.
enum class Kind { kUnknown, kOther, kHttpPost, kSmtp, kPop3 };

// kPartial: shown as a plain content file because it cannot be read as its
// kind (the reports add that to the error). Anything but kOk makes the run
// fail.
enum class Status { kOk, kPartial, kFailed };

const char* KindName(Kind kind);      // "HTTP POST", "SMTP", ...
const char* KindJsonName(Kind kind);  // "http_post", "smtp", ...
const char* StatusJsonName(Status status);

// What decoding a part found: its size and digests.
struct Decoded {
  bool known = false;  // false until the part was decoded whole
  uint64_t size = 0;
  DigestValues digests;
};

struct AttachmentEntry {
  int32_t index = 0;
  std::string name;        // as the library decodes it, not yet made safe
  uint32_t size = 0;       // stored (encoded) size
  size_t part = kNoPart;   // its place in the part list, when known
  std::string media_type;  // from the part list; "" when not known
  Decoded decoded;
  bool has_name_utf8 = false;  // --utf8: name_utf8 is the name converted
  std::string name_utf8;
};

// A text of the mail (not an attachment), from the part list.
struct TextEntry {
  size_t part = kNoPart;
  std::string media_type;
  std::string charset;
  uint64_t stored_size = 0;
  Decoded decoded;
};

// A file written by the extraction.
struct SavedFile {
  int32_t index = -1;     // attachment index; -1 for a text and the body
  size_t part = kNoPart;  // its place in the part list; none for the body
  bool body = false;      // the body of a capture that is no parsed mail
  std::string name;       // the name in the capture ("body" for the body)
  std::string file;       // the path written; empty when nothing was written
  uint64_t bytes = 0;
  DigestValues digests;  // empty when not computed
  std::string error;     // empty on success
};

struct CaptureReport {
  std::string path;
  Kind kind = Kind::kUnknown;
  Status status = Status::kOk;
  std::string error;  // why status is not kOk
  std::vector<std::string> warnings;

  bool head_read = false;  // head_size, body_size and head are valid
  uint32_t head_size = 0;
  uint32_t body_size = 0;
  std::string head;

  bool has_log = false;  // the analysed head of an HTTP POST or mail capture
  ST_LOG_INFO log{};
  bool has_line9 = false;
  std::string line9;

  bool has_mail = false;
  std::string from, to, cc, subject;
  uint32_t text_size = 0;
  std::vector<AttachmentEntry> attachments;
  std::vector<TextEntry> texts;   // empty without the part list
  bool has_subject_utf8 = false;  // --utf8
  std::string subject_utf8;

  bool extracted = false;
  std::string extract_dir;
  std::vector<SavedFile> saved;
};

class Capture {
 public:
  // Reads the capture at `open_path`, reported as `path` (they differ for
  // standard input, read from a copy); failures end up in the report.
  Capture(const std::string& path, const std::string& open_path);
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  CaptureReport& report() { return report_; }
  const CaptureReport& report() const { return report_; }

  // The parsed mail; null unless report().has_mail.
  const CMailContentFile* mail() const { return mail_.get(); }
  // The part list; empty when the library gives none.
  const std::vector<contentfile::PartInfo>& parts() const { return parts_; }

  // Sets the subject and the attachment names converted to UTF-8 from the
  // charsets they declare; where that fails, the bytes as they are, with a
  // warning.
  void ConvertToUtf8();

  // Decodes every attachment and text of the part list once, without
  // saving them, for their decoded sizes and digests.
  void MeasureParts(const DigestChoice& digests);
  // The capture opened as a plain content file; null unless
  // report().head_read.
  CContentFile* file() { return report_.head_read ? base_.get() : nullptr; }

  // Marks the capture failed or partial and adds `why` to its error text.
  void Fail(Status status, const std::string& why);

 private:
  bool ReadHead();
  void ReadHttpPost();
  void ReadMail();

  CaptureReport report_;
  std::string open_path_;
  std::unique_ptr<CContentFile> base_;
  std::unique_ptr<CMailContentFile> mail_;
  std::vector<contentfile::PartInfo> parts_;
};

// Streams part `part` of `mail` into `write` (may be null) and *decoded.
// Returns "" or why it failed; `write` returns 0 or an errno.
std::string DecodePart(const CMailContentFile& mail, size_t part,
                       const DigestChoice& digests,
                       const std::function<int(const char*, size_t)>& write,
                       Decoded* decoded);

// Reads the head, or with `body` the body, of an open content file into
// *bytes. Returns false with *error in words.
bool ReadRange(CContentFile* file, bool body, std::string* bytes,
               std::string* error);

// The head split into its lines: at LF, a CR before it dropped. Sets
// *bare_lf when a line ends in LF alone.
std::vector<std::string> SplitHeadLines(const std::string& head, bool* bare_lf);

// Why the file at `path` is not a content file, judged from its line 1,
// which must be a line count; "" when it may be one.
std::string NotACaptureReason(const std::string& path);

// The kind that line 2 of these lines names.
Kind KindOfHeadLines(const std::vector<std::string>& lines);

// "a.b.c.d:port" for an address in host byte order.
std::string Endpoint(uint32_t address, uint16_t port);

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_CAPTURE_H_

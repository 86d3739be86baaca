// The mail parser on a message in memory, then every retrieval of the part
// table. The first input byte chooses the LC_CTYPE locale (C or, when it is
// installed, the double-byte zh_CN.GBK); the rest is the message.
//
// Besides the sanitizers' watch, the part table must stay inside the
// message and the retrievals inside their buffers.

#include <locale.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "mail/header_fields.h"
#include "mail/mail_parser.h"
#include "mail/part_list.h"
#include "mail/part_retrieval.h"
#include "platform/memory.h"

namespace {

using contentfile_internal::CMailParser;
using contentfile_internal::ST_MAIL_PART;

// Attachments saved per input: enough to reach every path, few enough to
// keep the run fast on messages with thousands of parts.
constexpr int32_t kMaxSaved = 8;

void CheckPartTable(const CMailParser& parser) {
  bool classifying = true;
  uint32_t previous_end = 0;
  for (const ST_MAIL_PART& part : parser.Parts()) {
    // Parts follow one another and never repeat.
    FUZZ_CHECK(part.nStart >= previous_end);
    previous_end = part.nEnd;
    FUZZ_CHECK(part.nStart <= part.nEnd);
    FUZZ_CHECK(part.nEnd <= parser.DataLength());
    FUZZ_CHECK(part.nType >= contentfile_internal::MAIL_PART_UNCLASSIFIED &&
               part.nType <= contentfile_internal::MAIL_PART_ATTACHMENT);
    if (part.nType == contentfile_internal::MAIL_PART_UNCLASSIFIED) {
      // Classification stops at the first part it cannot analyse.
      classifying = false;
      continue;
    }
    FUZZ_CHECK(classifying);
    FUZZ_CHECK(part.nDataStart >= part.nStart);
    FUZZ_CHECK(part.nDataStart <= part.nEnd);
    // A named part is an attachment; a nameless one may be too.
    FUZZ_CHECK(parser.Name(part).empty() ||
               part.nType == contentfile_internal::MAIL_PART_ATTACHMENT);
  }
}

void Retrieve(const CMailParser& parser) {
  using namespace contentfile_internal;
  const int32_t count = CountAttachments(parser);
  FUZZ_CHECK(count >= 0);
  FUZZ_CHECK(static_cast<size_t>(count) <= parser.Parts().size());
  for (int32_t index = -1; index <= count && index <= kMaxSaved; ++index) {
    std::unique_ptr<char[]> name(new char[kMaxNameLength + 1]);
    uint32_t size = 0xDEADBEEF;
    const bool found = DescribeAttachment(parser, index, name.get(), size);
    FUZZ_CHECK(found == (index >= 0 && index < count));
    if (found) {
      FUZZ_CHECK(strnlen(name.get(), kMaxNameLength + 1) <= kMaxNameLength);
      FUZZ_CHECK(size <= parser.DataLength());
      const int32_t saved = SaveAttachment(parser, index, "/dev/null");
      FUZZ_CHECK(saved == kAttachmentSaved);
    } else {
      FUZZ_CHECK(SaveAttachment(parser, index, "/dev/null") ==
                 kAttachmentNoSuchIndex);
    }
  }

  const uint32_t text_size = MeasureMailText(parser);
  FUZZ_CHECK(text_size <= parser.DataLength());
  // A buffer of the measured size, then one of half of it: each exactly
  // as large as the length passed.
  for (const uint32_t length : {text_size, text_size / 2}) {
    std::unique_ptr<char[]> text(new char[length == 0 ? 1 : length]);
    const uint32_t written = ReadMailText(parser, text.get(), length);
    FUZZ_CHECK(written <= length);
  }
}

// Drops what it is given and counts it.
class CountingSink final : public contentfile_internal::DecodedSink {
 public:
  bool Take(const char*, size_t size) override {
    count += size;
    return true;
  }
  uint64_t count = 0;
};

// Two parses of one message agree on every field and entry.
bool SameResults(const CMailParser& a, const CMailParser& b) {
  if (a.From() != b.From() || a.To() != b.To() || a.Cc() != b.Cc() ||
      a.Subject() != b.Subject() || a.ContentType() != b.ContentType() ||
      a.Boundary() != b.Boundary() || a.Head() != b.Head() ||
      a.Parts().size() != b.Parts().size() ||
      a.AttachmentEntries() != b.AttachmentEntries()) {
    return false;
  }
  for (size_t i = 0; i < a.Parts().size(); ++i) {
    const ST_MAIL_PART& x = a.Parts()[i];
    const ST_MAIL_PART& y = b.Parts()[i];
    if (x.nStart != y.nStart || x.nEnd != y.nEnd ||
        x.nDataStart != y.nDataStart || x.nType != y.nType ||
        x.encoding != y.encoding || x.nDepth != y.nDepth ||
        a.Name(x) != b.Name(y)) {
      return false;
    }
  }
  return true;
}

// The part list stays inside the message and agrees with the table; the
// head fields' segments make up their decoded values.
void ListAndLookUp(const CMailParser& parser, const char* message,
                   size_t size) {
  using namespace contentfile_internal;
  std::vector<contentfile::PartInfo> parts;
  FUZZ_CHECK(ListParts(parser, parts));
  FUZZ_CHECK(parts.size() == parser.Parts().size());
  for (size_t i = 0; i < parts.size(); ++i) {
    const contentfile::PartInfo& info = parts[i];
    FUZZ_CHECK(info.header_offset <= info.content_offset);
    FUZZ_CHECK(info.content_offset + info.stored_size <= parser.DataLength());
    FUZZ_CHECK(info.name.size() <= kMaxNameLength);
    if (i < static_cast<size_t>(kMaxSaved)) {
      CountingSink sink;
      FUZZ_CHECK(DecodePart(parser, parser.Parts()[i], sink) ==
                 DecodeEnd::kDone);
      FUZZ_CHECK(sink.count <= info.stored_size);
    }
  }
  // The head the parser copied is the message up to its empty line.
  const size_t head = HeadLength(message, size);
  FUZZ_CHECK(parser.Head() == std::string_view(message, head));
  for (const char* name : {"received", "Subject", "content-type"}) {
    std::vector<contentfile::HeaderField> fields;
    FindHeaderFields(message, head, name, fields);
    for (const contentfile::HeaderField& field : fields) {
      FUZZ_CHECK(field.decoded.size() <= field.raw.size());
      std::string joined;
      for (const contentfile::HeaderSegment& segment : field.segments) {
        joined += segment.text;
      }
      FUZZ_CHECK(joined == field.decoded);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (1u << 24)) return 0;
  const bool double_byte = (data[0] & 1) != 0;
  ++data;
  --size;

  const locale_t locale = contentfile_fuzz::DoubleByteLocale();
  if (double_byte && locale != static_cast<locale_t>(0)) uselocale(locale);

  contentfile_internal::Buffer message =
      contentfile_internal::AllocateBuffer(size + 1);
  FUZZ_CHECK(message != nullptr);
  if (size > 0) std::memcpy(message.get(), data, size);
  message[size] = '\0';

  // The same message read through a window of a few bytes, its delimiters
  // looked up rather than compared: every search meets window edges, and
  // the results must not change.
  contentfile_internal::Buffer copy =
      contentfile_internal::AllocateBuffer(size + 1);
  FUZZ_CHECK(copy != nullptr);
  if (size > 0) std::memcpy(copy.get(), data, size);
  CMailParser narrow;
  narrow.SetContent(std::move(copy), static_cast<uint32_t>(size));
  narrow.set_window_size(1 + (size > 0 ? data[0] % 23 : 0));
  narrow.set_compared_levels(0);

  CMailParser parser;
  parser.SetContent(std::move(message), static_cast<uint32_t>(size));
  parser.set_compared_levels(SIZE_MAX);
  const int32_t result = parser.Parse();
  FUZZ_CHECK(narrow.Parse() == result);
  if (result == CMailParser::kParsed) {
    FUZZ_CHECK(SameResults(parser, narrow));
    CheckPartTable(parser);
    Retrieve(parser);
    ListAndLookUp(parser, reinterpret_cast<const char*>(data), size);
  }
  uselocale(LC_GLOBAL_LOCALE);
  return 0;
}

#include "mail/part_retrieval.h"

#include <cstring>
#include <memory>

#include "codec/base64.h"
#include "codec/encoded_word.h"
#include "codec/quoted_printable.h"
#include "contentfile.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/text.h"

namespace contentfile_internal {
namespace {

enum class Encoding { kNone, kBase64, kQuotedPrintable };

// The transfer encoding, compared as a whole word without regard to case: a
// value with blanks around the word selects no decoding.
Encoding EncodingOf(const ST_MAIL_PART& part) {
  const std::string& e = part.strEncoding;
  static constexpr char kBase64[] = "base64";
  static constexpr char kQuotedPrintable[] = "quoted-printable";
  if (EqualsCaseInsensitive(e.data(), e.size(), kBase64, sizeof(kBase64) - 1)) {
    return Encoding::kBase64;
  }
  if (EqualsCaseInsensitive(e.data(), e.size(), kQuotedPrintable,
                            sizeof(kQuotedPrintable) - 1)) {
    return Encoding::kQuotedPrintable;
  }
  return Encoding::kNone;
}

const char* StoredContent(const CMailParser& parser, const ST_MAIL_PART& part) {
  return parser.Data() + part.nDataStart;
}

// Decodes `stored` bytes of content step by step through one buffer.
template <typename StreamDecoder>
DecodeEnd DecodeSteps(const char* content, uint32_t stored, DecodedSink& sink) {
  const uint32_t step = stored < kSaveStep ? stored : kSaveStep;
  const Buffer buffer =
      AllocateBuffer(size_t{step} + StreamDecoder::kMaxExtraOutput +
                     StreamDecoder::kMaxFinishOutput);
  if (!buffer) return DecodeEnd::kNoMemory;
  sink.Begin();
  StreamDecoder decoder;
  for (uint32_t at = 0; at < stored;) {
    const uint32_t length = stored - at < step ? stored - at : step;
    const size_t n = decoder.Decode(content + at, length, buffer.get());
    if (n > 0 && !sink.Take(buffer.get(), n)) return DecodeEnd::kStopped;
    at += length;
  }
  const size_t n = decoder.Finish(buffer.get());
  if (n > 0 && !sink.Take(buffer.get(), n)) return DecodeEnd::kStopped;
  return DecodeEnd::kDone;
}

// Writes every decoded byte to a file, which is emptied once decoding is
// sure to start.
class FileSink final : public DecodedSink {
 public:
  explicit FileSink(OutputFile& target) : target_(target) {}
  void Begin() override { target_.Truncate(); }
  bool Take(const char* data, size_t size) override {
    target_.Write(data, size);
    return true;
  }

 private:
  OutputFile& target_;
};

const ST_MAIL_PART* FirstTextPart(const CMailParser& parser) {
  for (const ST_MAIL_PART& part : parser.Parts()) {
    if (part.nType == MAIL_PART_TEXT) return &part;
  }
  return nullptr;
}

}  // namespace

int32_t CountAttachments(const CMailParser& parser) {
  return static_cast<int32_t>(parser.AttachmentEntries().size());
}

const ST_MAIL_PART* FindAttachment(const CMailParser& parser, int32_t index) {
  const std::vector<uint32_t>& attachments = parser.AttachmentEntries();
  if (index < 0 || static_cast<size_t>(index) >= attachments.size()) {
    return nullptr;
  }
  return &parser.Parts()[attachments[static_cast<size_t>(index)]];
}

uint32_t StoredSize(const ST_MAIL_PART& part) {
  // An entry never analysed has no content (its nDataStart is 0).
  if (part.nType == MAIL_PART_UNCLASSIFIED) return 0;
  return part.nEnd - part.nDataStart;
}

size_t DecodedPartName(const ST_MAIL_PART& part, char* name,
                       EncodedWordObserver* observer) {
  // The whole name is decoded, then cut: an encoded word longer than the
  // name buffer still comes out decoded. Decoding never lengthens it.
  const std::string& stored = part.strName;
  std::string decoded(stored.size(), '\0');
  decoded.resize(DecodeWord(stored.data(), static_cast<uint32_t>(stored.size()),
                            decoded.data(), observer));
  // A name is a C string: it ends at its first NUL.
  decoded.resize(std::strlen(decoded.c_str()));
  if (decoded.size() > kMaxNameLength) decoded.resize(kMaxNameLength);
  std::memcpy(name, decoded.data(), decoded.size());
  name[decoded.size()] = '\0';
  return decoded.size();
}

bool DescribeAttachment(const CMailParser& parser, int32_t index, char* name,
                        uint32_t& size) {
  const ST_MAIL_PART* part = FindAttachment(parser, index);
  if (part == nullptr) return false;
  DecodedPartName(*part, name, nullptr);
  size = StoredSize(*part);
  return true;
}

uint32_t MeasureMailText(const CMailParser& parser) {
  const ST_MAIL_PART* part = FirstTextPart(parser);
  return part == nullptr ? 0 : StoredSize(*part);
}

uint32_t ReadMailText(const CMailParser& parser, char* buffer,
                      uint32_t length) {
  if (buffer == nullptr || length == 0) return 0;
  const ST_MAIL_PART* part = FirstTextPart(parser);
  if (part == nullptr) return 0;
  const uint32_t stored = StoredSize(*part);
  const uint32_t n = stored < length ? stored : length;
  const char* content = StoredContent(parser, *part);
  switch (EncodingOf(*part)) {
    case Encoding::kBase64:
      return static_cast<uint32_t>(Base64Decode(content, n, buffer));
    case Encoding::kQuotedPrintable:
      // A length below the stored size cuts the content short.
      return static_cast<uint32_t>(QPDecode(content, n, buffer, n == stored));
    case Encoding::kNone:
      break;
  }
  std::memcpy(buffer, content, n);
  return n;
}

DecodeEnd DecodePart(const CMailParser& parser, const ST_MAIL_PART& part,
                     DecodedSink& sink) {
  const char* content = StoredContent(parser, part);
  const uint32_t stored = StoredSize(part);
  switch (EncodingOf(part)) {
    case Encoding::kBase64:
      return DecodeSteps<Base64StreamDecoder>(content, stored, sink);
    case Encoding::kQuotedPrintable:
      return DecodeSteps<QPStreamDecoder>(content, stored, sink);
    case Encoding::kNone:
      break;
  }
  sink.Begin();
  for (uint32_t at = 0; at < stored;) {
    const uint32_t length = stored - at < kSaveStep ? stored - at : kSaveStep;
    if (!sink.Take(content + at, length)) return DecodeEnd::kStopped;
    at += length;
  }
  return DecodeEnd::kDone;
}

int32_t NoMemoryCode(const ST_MAIL_PART& part) {
  return EncodingOf(part) == Encoding::kQuotedPrintable
             ? kAttachmentNoMemoryQP
             : kAttachmentNoMemoryBase64;
}

int32_t SaveAttachment(const CMailParser& parser, int32_t index,
                       const char* path) {
  const ST_MAIL_PART* part = FindAttachment(parser, index);
  if (part == nullptr) return kAttachmentNoSuchIndex;
  return SavePart(parser, *part, path);
}

int32_t SavePart(const CMailParser& parser, const ST_MAIL_PART& part,
                 const char* path) {
  std::unique_ptr<OutputFile> target = OutputFile::Create(path);
  if (!target) return kAttachmentCannotCreate;
  FileSink sink(*target);
  try {
    if (DecodePart(parser, part, sink) == DecodeEnd::kNoMemory) {
      return NoMemoryCode(part);
    }
    target->Close();
  } catch (const CFileError&) {
    return kAttachmentWriteFailed;
  }
  return kAttachmentSaved;
}

}  // namespace contentfile_internal

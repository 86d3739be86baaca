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

uint32_t StoredSize(const ST_MAIL_PART& part) {
  return part.nEnd - part.nDataStart;
}

const char* StoredContent(const CMailParser& parser, const ST_MAIL_PART& part) {
  return parser.Data() + part.nDataStart;
}

// Decodes `stored` bytes of content into the target step by step through
// one buffer, emptying the target only once that buffer is had: without
// memory the target is left as it was and `no_memory` returned.
template <typename StreamDecoder>
int32_t DecodeToFile(const char* content, uint32_t stored, OutputFile& target,
                     int32_t no_memory) {
  const uint32_t step = stored < kSaveStep ? stored : kSaveStep;
  const Buffer buffer =
      AllocateBuffer(size_t{step} + StreamDecoder::kMaxExtraOutput +
                     StreamDecoder::kMaxFinishOutput);
  if (!buffer) return no_memory;
  StreamDecoder decoder;
  try {
    target.Truncate();
    for (uint32_t at = 0; at < stored;) {
      const uint32_t length = stored - at < step ? stored - at : step;
      target.Write(buffer.get(),
                   decoder.Decode(content + at, length, buffer.get()));
      at += length;
    }
    target.Write(buffer.get(), decoder.Finish(buffer.get()));
    target.Close();
  } catch (const CFileError&) {
    return kAttachmentWriteFailed;
  }
  return kAttachmentSaved;
}

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

bool DescribeAttachment(const CMailParser& parser, int32_t index, char* name,
                        uint32_t& size) {
  const ST_MAIL_PART* part = FindAttachment(parser, index);
  if (part == nullptr) return false;
  // The whole name is decoded, then cut: an encoded word longer than the
  // name buffer still comes out decoded. Decoding never lengthens it.
  const std::string& stored = part->strName;
  std::string decoded(stored.size(), '\0');
  decoded.resize(DecodeWord(stored.data(), static_cast<uint32_t>(stored.size()),
                            decoded.data()));
  // A name is a C string: it ends at its first NUL.
  decoded.resize(std::strlen(decoded.c_str()));
  if (decoded.size() > kMaxNameLength) decoded.resize(kMaxNameLength);
  std::memcpy(name, decoded.data(), decoded.size());
  name[decoded.size()] = '\0';
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

int32_t SaveAttachment(const CMailParser& parser, int32_t index,
                       const char* path) {
  const ST_MAIL_PART* part = FindAttachment(parser, index);
  if (part == nullptr) return kAttachmentNoSuchIndex;
  std::unique_ptr<OutputFile> target = OutputFile::Create(path);
  if (!target) return kAttachmentCannotCreate;

  const char* content = StoredContent(parser, *part);
  const uint32_t stored = StoredSize(*part);
  switch (EncodingOf(*part)) {
    case Encoding::kBase64:
      return DecodeToFile<Base64StreamDecoder>(content, stored, *target,
                                               kAttachmentNoMemoryBase64);
    case Encoding::kQuotedPrintable:
      return DecodeToFile<QPStreamDecoder>(content, stored, *target,
                                           kAttachmentNoMemoryQP);
    case Encoding::kNone:
      break;
  }
  try {
    target->Truncate();
    target->Write(content, stored);
    target->Close();
  } catch (const CFileError&) {
    return kAttachmentWriteFailed;
  }
  return kAttachmentSaved;
}

}  // namespace contentfile_internal

#include "mail/part_retrieval.h"

#include <cstring>
#include <memory>
#include <type_traits>

#include "codec/base64.h"
#include "codec/encoded_word.h"
#include "codec/quoted_printable.h"
#include "contentfile.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/text.h"

namespace contentfile_internal {
namespace {

uint32_t StoredSize(const ST_MAIL_PART& part) {
  return part.nEnd - part.nDataStart;
}

// Stored bytes read per step when the mail text is decoded: small enough to
// stay in the cache, large enough that the reads cost little.
constexpr uint32_t kTextStep = uint32_t{64} << 10;

// Decodes the part's stored content into the target step by step, reading
// it from the message through one buffer and decoding through another,
// emptying the target only once both are had: without memory the target is
// left as it was and `no_memory` returned. A read that fails stops the
// save; what was written stays.
template <typename StreamDecoder>
int32_t DecodeToFile(const MessageSource& source, const ST_MAIL_PART& part,
                     OutputFile& target, int32_t no_memory) {
  const uint32_t stored = StoredSize(part);
  const uint32_t step = stored < kSaveStep ? stored : kSaveStep;
  const Buffer raw = AllocateBuffer(step);
  if (!raw) return no_memory;
  const Buffer buffer =
      AllocateBuffer(size_t{step} + StreamDecoder::kMaxExtraOutput +
                     StreamDecoder::kMaxFinishOutput);
  if (!buffer) return no_memory;
  StreamDecoder decoder;
  // The first step is read before the target is emptied: a message that
  // cannot be read at all leaves an existing target as it was.
  if (!source.Read(part.nDataStart, raw.get(), step)) {
    return kAttachmentReadFailed;
  }
  try {
    target.Truncate();
    for (uint32_t at = 0; at < stored;) {
      const uint32_t length = stored - at < step ? stored - at : step;
      if (at > 0 && !source.Read(part.nDataStart + at, raw.get(), length)) {
        return kAttachmentReadFailed;
      }
      target.Write(buffer.get(),
                   decoder.Decode(raw.get(), length, buffer.get()));
      at += length;
    }
    target.Write(buffer.get(), decoder.Finish(buffer.get()));
    target.Close();
  } catch (const CFileError&) {
    return kAttachmentWriteFailed;
  }
  return kAttachmentSaved;
}

// The stored bytes as they are, through one buffer.
int32_t CopyToFile(const MessageSource& source, const ST_MAIL_PART& part,
                   OutputFile& target) {
  const uint32_t stored = StoredSize(part);
  const uint32_t step = stored < kSaveStep ? stored : kSaveStep;
  const Buffer raw = AllocateBuffer(step);
  if (!raw) return kAttachmentNoMemoryBase64;
  if (!source.Read(part.nDataStart, raw.get(), step)) {
    return kAttachmentReadFailed;
  }
  try {
    target.Truncate();
    for (uint32_t at = 0; at < stored;) {
      const uint32_t length = stored - at < step ? stored - at : step;
      if (at > 0 && !source.Read(part.nDataStart + at, raw.get(), length)) {
        return kAttachmentReadFailed;
      }
      target.Write(raw.get(), length);
      at += length;
    }
    target.Close();
  } catch (const CFileError&) {
    return kAttachmentWriteFailed;
  }
  return kAttachmentSaved;
}

// Decodes `stored` bytes of the part's content into `output` step by step;
// returns the bytes written, those decoded before a failing read included.
// REQUIRES: output holds `stored` bytes (decoding never lengthens).
template <typename StreamDecoder>
uint32_t DecodeToBuffer(const MessageSource& source, const ST_MAIL_PART& part,
                        uint32_t stored, bool complete, char* output) {
  const uint32_t step = stored < kTextStep ? stored : kTextStep;
  const Buffer raw = AllocateBuffer(step);
  if (!raw) return 0;
  StreamDecoder decoder;
  if constexpr (std::is_same_v<StreamDecoder, QPStreamDecoder>) {
    decoder.set_content_complete(complete);
  }
  size_t written = 0;
  for (uint32_t at = 0; at < stored;) {
    const uint32_t length = stored - at < step ? stored - at : step;
    if (!source.Read(part.nDataStart + at, raw.get(), length)) {
      return static_cast<uint32_t>(written);
    }
    written += decoder.Decode(raw.get(), length, output + written);
    at += length;
  }
  written += decoder.Finish(output + written);
  return static_cast<uint32_t>(written);
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
  const std::string_view stored = parser.Name(*part);
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
  const MessageSource& source = *parser.Source();
  switch (part->encoding) {
    case TransferEncoding::kBase64:
      return DecodeToBuffer<Base64StreamDecoder>(source, *part, n, true,
                                                 buffer);
    case TransferEncoding::kQuotedPrintable:
      // A length below the stored size cuts the content short.
      return DecodeToBuffer<QPStreamDecoder>(source, *part, n, n == stored,
                                             buffer);
    case TransferEncoding::kNone:
      break;
  }
  for (uint32_t at = 0; at < n;) {
    const uint32_t step = n - at < kTextStep ? n - at : kTextStep;
    if (!source.Read(part->nDataStart + at, buffer + at, step)) return at;
    at += step;
  }
  return n;
}

int32_t SaveAttachment(const CMailParser& parser, int32_t index,
                       const char* path) {
  const ST_MAIL_PART* part = FindAttachment(parser, index);
  if (part == nullptr) return kAttachmentNoSuchIndex;
  std::unique_ptr<OutputFile> target = OutputFile::Create(path);
  if (!target) return kAttachmentCannotCreate;

  const MessageSource& source = *parser.Source();
  switch (part->encoding) {
    case TransferEncoding::kBase64:
      return DecodeToFile<Base64StreamDecoder>(source, *part, *target,
                                               kAttachmentNoMemoryBase64);
    case TransferEncoding::kQuotedPrintable:
      return DecodeToFile<QPStreamDecoder>(source, *part, *target,
                                           kAttachmentNoMemoryQP);
    case TransferEncoding::kNone:
      break;
  }
  return CopyToFile(source, *part, *target);
}

}  // namespace contentfile_internal

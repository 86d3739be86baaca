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

// Stored bytes read per step when the mail text is decoded into the
// caller's buffer.
constexpr uint32_t kTextStep = uint32_t{64} << 10;

// Reads the stored content of `part` step by step into `raw` (`step`
// bytes) and hands each step to `take(const char*, uint32_t)`, which
// returns false to stop. The first step is read before `begin()` runs, so
// a message that cannot be read at all leaves the sink untouched.
template <typename Begin, typename Take>
DecodeEnd ReadSteps(const MessageSource& source, const ST_MAIL_PART& part,
                    char* raw, uint32_t step, Begin&& begin, Take&& take) {
  const uint32_t stored = StoredSize(part);
  for (uint32_t at = 0; at < stored || at == 0;) {
    const uint32_t length = stored - at < step ? stored - at : step;
    if (!source.Read(part.nDataStart + at, raw, length)) {
      return DecodeEnd::kReadFailed;
    }
    if (at == 0) begin();
    if (length == 0) break;
    if (!take(raw, length)) return DecodeEnd::kStopped;
    at += length;
  }
  return DecodeEnd::kDone;
}

// Decodes the stored content step by step: read through one buffer,
// decoded through another.
template <typename StreamDecoder>
DecodeEnd DecodeSteps(const MessageSource& source, const ST_MAIL_PART& part,
                      DecodedSink& sink) {
  const uint32_t stored = StoredSize(part);
  const uint32_t step = stored < kSaveStep ? stored : kSaveStep;
  const Buffer raw = AllocateBuffer(step);
  const Buffer buffer =
      raw ? AllocateBuffer(size_t{step} + StreamDecoder::kMaxExtraOutput +
                           StreamDecoder::kMaxFinishOutput)
          : Buffer();
  if (!buffer) return DecodeEnd::kNoMemory;
  StreamDecoder decoder;
  // The bytes the decoder holds back at the end go out with the last step,
  // so that a small part reaches the sink in one piece; empty content has
  // no step, and nothing held back.
  uint32_t consumed = 0;
  return ReadSteps(
      source, part, raw.get(), step, [&] { sink.Begin(); },
      [&](const char* data, uint32_t length) {
        size_t n = decoder.Decode(data, length, buffer.get());
        consumed += length;
        if (consumed == stored) n += decoder.Finish(buffer.get() + n);
        return n == 0 || sink.Take(buffer.get(), n);
      });
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

uint32_t StoredSize(const ST_MAIL_PART& part) {
  // An entry never analysed has no content (its nDataStart is 0).
  if (part.nType == MAIL_PART_UNCLASSIFIED) return 0;
  return part.nEnd - part.nDataStart;
}

size_t DecodedPartName(const CMailParser& parser, const ST_MAIL_PART& part,
                       char* name, EncodedWordObserver* observer) {
  // The whole name is decoded, then cut: an encoded word longer than the
  // name buffer still comes out decoded. Decoding never lengthens it.
  const std::string_view stored = parser.Name(part);
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
  DecodedPartName(parser, *part, name, nullptr);
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

DecodeEnd DecodePart(const CMailParser& parser, const ST_MAIL_PART& part,
                     DecodedSink& sink) {
  const MessageSource& source = *parser.Source();
  switch (part.encoding) {
    case TransferEncoding::kBase64:
      return DecodeSteps<Base64StreamDecoder>(source, part, sink);
    case TransferEncoding::kQuotedPrintable:
      return DecodeSteps<QPStreamDecoder>(source, part, sink);
    case TransferEncoding::kNone:
      break;
  }
  const uint32_t stored = StoredSize(part);
  const uint32_t step = stored < kSaveStep ? stored : kSaveStep;
  const Buffer raw = AllocateBuffer(step);
  if (!raw) return DecodeEnd::kNoMemory;
  return ReadSteps(
      source, part, raw.get(), step, [&] { sink.Begin(); },
      [&](const char* data, uint32_t length) {
        return sink.Take(data, length);
      });
}

int32_t NoMemoryCode(const ST_MAIL_PART& part) {
  return part.encoding == TransferEncoding::kQuotedPrintable
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
    switch (DecodePart(parser, part, sink)) {
      case DecodeEnd::kNoMemory:
        return NoMemoryCode(part);
      case DecodeEnd::kReadFailed:
        return kAttachmentReadFailed;
      case DecodeEnd::kDone:
      case DecodeEnd::kStopped:
        break;
    }
    target->Close();
  } catch (const CFileError&) {
    return kAttachmentWriteFailed;
  }
  return kAttachmentSaved;
}

}  // namespace contentfile_internal

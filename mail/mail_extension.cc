// The extension of CMailContentFile: every part, header fields by name,
// retrieval into buffers, sinks and descriptors. Lack of memory is a result
// code here, never a raised std::bad_alloc.

#include <cstring>
#include <new>
#include <string>

#include "content/content_access.h"
#include "content/result_codes.h"
#include "contentfile.h"
#include "mail/header_fields.h"
#include "mail/mail_parser.h"
#include "mail/part_list.h"
#include "mail/part_retrieval.h"
#include "mail/result_codes.h"
#include "platform/descriptor.h"

using namespace contentfile_internal;

namespace {

// Counts the decoded bytes and keeps none.
class CountingSink final : public DecodedSink {
 public:
  bool Take(const char*, size_t size) override {
    count_ += size;
    return true;
  }
  uint64_t count() const { return count_; }

 private:
  uint64_t count_ = 0;
};

// Fills a caller's buffer and stops once it is full.
class BufferSink final : public DecodedSink {
 public:
  BufferSink(char* buffer, size_t capacity)
      : buffer_(buffer), capacity_(capacity) {}
  bool Take(const char* data, size_t size) override {
    const size_t room = capacity_ - written_;
    const size_t n = size < room ? size : room;
    std::memcpy(buffer_ + written_, data, n);
    written_ += n;
    return written_ < capacity_;
  }
  size_t written() const { return written_; }

 private:
  char* buffer_;
  size_t capacity_;
  size_t written_ = 0;
};

class CallbackSink final : public DecodedSink {
 public:
  explicit CallbackSink(const contentfile::PartSink& sink) : sink_(sink) {}
  bool Take(const char* data, size_t size) override {
    return sink_(data, size);
  }

 private:
  const contentfile::PartSink& sink_;
};

// Writes to a caller's descriptor; a failing write raises CFileError.
class DescriptorSink final : public DecodedSink {
 public:
  DescriptorSink(int fd, bool regular)
      : fd_(fd), regular_(regular), name_("descriptor " + std::to_string(fd)) {}
  bool Take(const char* data, size_t size) override {
    WriteAll(fd_, data, size, name_, !regular_);
    return true;
  }

 private:
  int fd_;
  bool regular_;
  std::string name_;
};

const ST_MAIL_PART* PartAt(const CMailParser& parser, size_t index) {
  const std::vector<ST_MAIL_PART>& parts = parser.Parts();
  return index < parts.size() ? &parts[index] : nullptr;
}

// Decodes `part` (null: no such part) into a caller's descriptor, after
// checking it.
int32_t DecodeToDescriptor(const CMailParser& parser, const ST_MAIL_PART* part,
                           int fd, const FileHandle* capture) {
  if (part == nullptr) return kNoSuchPart;
  bool regular = false;
  try {
    if (CheckWriteTarget(fd, capture, &regular) != WriteTarget::kUsable) {
      return kPartBadTarget;
    }
    DescriptorSink sink(fd, regular);
    if (DecodePart(parser, *part, sink) == DecodeEnd::kNoMemory) {
      return PublicAttachmentCode(NoMemoryCode(*part));
    }
  } catch (const CFileError&) {
    return kPartWriteFailed;
  } catch (const std::bad_alloc&) {
    return kPartNoMemory;
  }
  return kOk;
}

}  // namespace

int32_t CMailContentFile::GetParts(
    std::vector<contentfile::PartInfo>& parts) const {
  parts.clear();
  if (!m_pMailParser) return kMailNotParsed;
  try {
    ListParts(*m_pMailParser, parts);
  } catch (const std::bad_alloc&) {
    parts.clear();
    return kPartNoMemory;
  }
  return kOk;
}

int32_t CMailContentFile::GetPartDecodedSize(size_t index,
                                             uint64_t& size) const {
  if (!m_pMailParser) return kMailNotParsed;
  const ST_MAIL_PART* part = PartAt(*m_pMailParser, index);
  if (part == nullptr) return kNoSuchPart;
  CountingSink sink;
  if (DecodePart(*m_pMailParser, *part, sink) == DecodeEnd::kNoMemory) {
    return PublicAttachmentCode(NoMemoryCode(*part));
  }
  size = sink.count();
  return kOk;
}

int32_t CMailContentFile::ReadPart(size_t index, char* buffer, size_t capacity,
                                   size_t& written) const {
  written = 0;
  if (!m_pMailParser) return kMailNotParsed;
  if (buffer == nullptr && capacity > 0) return kExtensionBadArgument;
  const ST_MAIL_PART* part = PartAt(*m_pMailParser, index);
  if (part == nullptr) return kNoSuchPart;
  if (capacity == 0) return kOk;
  BufferSink sink(buffer, capacity);
  if (DecodePart(*m_pMailParser, *part, sink) == DecodeEnd::kNoMemory) {
    return PublicAttachmentCode(NoMemoryCode(*part));
  }
  written = sink.written();
  return kOk;
}

int32_t CMailContentFile::StreamPart(size_t index,
                                     const contentfile::PartSink& sink) const {
  if (!m_pMailParser) return kMailNotParsed;
  if (!sink) return kExtensionBadArgument;
  const ST_MAIL_PART* part = PartAt(*m_pMailParser, index);
  if (part == nullptr) return kNoSuchPart;
  CallbackSink callback(sink);
  try {
    switch (DecodePart(*m_pMailParser, *part, callback)) {
      case DecodeEnd::kDone:
        return kOk;
      case DecodeEnd::kStopped:
        return kPartWriteFailed;
      case DecodeEnd::kNoMemory:
        break;
    }
  } catch (const std::bad_alloc&) {
    return kPartNoMemory;
  }
  return PublicAttachmentCode(NoMemoryCode(*part));
}

int32_t CMailContentFile::SavePart2Fd(size_t index, int fd) const {
  if (!m_pMailParser) return kMailNotParsed;
  return DecodeToDescriptor(*m_pMailParser, PartAt(*m_pMailParser, index), fd,
                            ContentFileAccess::Capture(*this));
}

int32_t CMailContentFile::SavePart2File(size_t index, const char* path) const {
  if (!m_pMailParser) return kMailNotParsed;
  const ST_MAIL_PART* part = PartAt(*m_pMailParser, index);
  if (part == nullptr) return kNoSuchPart;
  try {
    return PublicAttachmentCode(SavePart(*m_pMailParser, *part, path));
  } catch (const std::bad_alloc&) {
    return kPartNoMemory;
  }
}

int32_t CMailContentFile::GetAttachment2Fd(int32_t index, int fd) const {
  if (!m_pMailParser) return kMailNotParsed;
  return DecodeToDescriptor(*m_pMailParser,
                            FindAttachment(*m_pMailParser, index), fd,
                            ContentFileAccess::Capture(*this));
}

int32_t CMailContentFile::GetHeaderFields(
    std::string_view name,
    std::vector<contentfile::HeaderField>& fields) const {
  fields.clear();
  if (!m_pMailParser) return kMailNotParsed;
  const char* const message = m_pMailParser->Data();
  try {
    FindHeaderFields(message, HeadLength(message, m_pMailParser->DataLength()),
                     name, fields);
  } catch (const std::bad_alloc&) {
    fields.clear();
    return kPartNoMemory;
  }
  return kOk;
}

int32_t CMailContentFile::GetRecordField(contentfile::RecordField field,
                                         std::string& value) const {
  if (!m_pMailParser) return kMailNotParsed;
  const std::string* source = nullptr;
  switch (field) {
    case contentfile::RecordField::kFrom:
      source = &m_pMailParser->From();
      break;
    case contentfile::RecordField::kTo:
      source = &m_pMailParser->To();
      break;
    case contentfile::RecordField::kCc:
      source = &m_pMailParser->Cc();
      break;
    case contentfile::RecordField::kSubject:
      source = &m_pMailParser->Subject();
      break;
  }
  if (source == nullptr) return kExtensionBadArgument;
  try {
    value.assign(*source);
  } catch (const std::bad_alloc&) {
    return kPartNoMemory;
  }
  return kOk;
}

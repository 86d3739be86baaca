// The extension of CMailContentFile: every part, header fields by name,
// retrieval into buffers, sinks and descriptors.
//
// Placeholder bodies: each call reports that no mail is parsed until the
// part list and the descriptor writers are built.

#include "content/result_codes.h"
#include "contentfile.h"
#include "mail/result_codes.h"

using namespace contentfile_internal;

int32_t CContentFile::SaveBody2Fd(int /*fd*/) { return kSaveNoFile; }

int32_t CMailContentFile::GetParts(
    std::vector<contentfile::PartInfo>& /*parts*/) const {
  return kMailNotParsed;
}
int32_t CMailContentFile::GetPartDecodedSize(size_t /*index*/,
                                             uint64_t& /*size*/) const {
  return kMailNotParsed;
}
int32_t CMailContentFile::ReadPart(size_t /*index*/, char* /*buffer*/,
                                   size_t /*capacity*/, size_t& written) const {
  written = 0;
  return kMailNotParsed;
}
int32_t CMailContentFile::StreamPart(
    size_t /*index*/, const contentfile::PartSink& /*sink*/) const {
  return kMailNotParsed;
}
int32_t CMailContentFile::SavePart2Fd(size_t /*index*/, int /*fd*/) const {
  return kMailNotParsed;
}
int32_t CMailContentFile::SavePart2File(size_t /*index*/,
                                        const char* /*path*/) const {
  return kMailNotParsed;
}
int32_t CMailContentFile::GetAttachment2Fd(int32_t /*index*/,
                                           int /*fd*/) const {
  return kMailNotParsed;
}
int32_t CMailContentFile::GetHeaderFields(
    std::string_view /*name*/,
    std::vector<contentfile::HeaderField>& /*fields*/) const {
  return kMailNotParsed;
}
int32_t CMailContentFile::GetRecordField(contentfile::RecordField /*field*/,
                                         std::string& /*value*/) const {
  return kMailNotParsed;
}

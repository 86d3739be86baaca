#include "mail/attachment_name.h"

#include <optional>

#include "mail/header_text.h"
#include "mail/mime_parameter.h"

namespace contentfile_internal {

namespace {
constexpr char kDispositionKey[] = "\r\nContent-Disposition: ";
constexpr char kContentTypeKey[] = "\r\nContent-Type: ";
}  // namespace

std::string AttachmentName(const char* block, size_t length) {
  std::string disposition;
  LookUpHeadField(block, length, kDispositionKey, disposition);
  // A "filename=" that is present decides, even with an empty value.
  std::optional<std::string> name = SimpleParameter(disposition, "filename=");
  if (!name) name = SimpleParameter(disposition, "name=");
  if (!name || name->empty()) name = ExtendedParameter(disposition, "filename");
  if (name->empty()) {
    std::string content_type;
    LookUpHeadField(block, length, kContentTypeKey, content_type);
    name = SimpleParameter(content_type, "name=");
    if (!name || name->empty()) name = ExtendedParameter(content_type, "name");
  }
  if (name->size() > kMaxAttachmentNameLength) {
    name->resize(kMaxAttachmentNameLength);
  }
  return std::move(*name);
}

}  // namespace contentfile_internal

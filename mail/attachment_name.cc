#include "mail/attachment_name.h"

#include <optional>

#include "mail/header_text.h"
#include "mail/mime_parameter.h"

namespace contentfile_internal {

namespace {
constexpr char kDispositionKey[] = "\r\nContent-Disposition: ";
}  // namespace

std::string AttachmentName(const char* block, size_t length,
                           std::string* charset) {
  if (charset != nullptr) charset->clear();
  const std::string_view disposition =
      FindHeadField(block, length, kDispositionKey).value_or("");
  // A "filename=" that is present decides, even with an empty value.
  std::optional<std::string> name = SimpleParameter(disposition, "filename=");
  if (!name) name = SimpleParameter(disposition, "name=");
  if (!name || name->empty()) {
    name = ExtendedParameter(disposition, "filename", charset);
  }
  if (name->empty()) {
    if (charset != nullptr) charset->clear();
    const std::string_view content_type =
        FindHeadField(block, length, kContentTypeKey).value_or("");
    name = SimpleParameter(content_type, "name=");
    if (!name || name->empty()) {
      name = ExtendedParameter(content_type, "name", charset);
    }
  }
  if (name->empty() && charset != nullptr) charset->clear();
  if (name->size() > kMaxAttachmentNameLength) {
    name->resize(kMaxAttachmentNameLength);
  }
  return std::move(*name);
}

}  // namespace contentfile_internal

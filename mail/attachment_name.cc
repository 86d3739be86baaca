#include "mail/attachment_name.h"

#include <optional>

#include "mail/header_text.h"
#include "mail/mime_parameter.h"
#include "platform/text.h"

namespace contentfile_internal {

namespace {

// The Content-Disposition and Content-Type values of a header block.
struct NamingFields {
  std::string_view disposition;
  std::string_view content_type;
};

NamingFields FindNamingFields(const char* block, size_t length) {
  static constexpr std::string_view kKeys[] = {kDispositionKey,
                                               kContentTypeKey};
  std::string_view values[2];
  FindHeadFields(block, length, kKeys, 2, values);
  return NamingFields{values[0], values[1]};
}

}  // namespace

std::string AttachmentName(const char* block, size_t length,
                           std::string* charset) {
  const NamingFields fields = FindNamingFields(block, length);
  return AttachmentName(fields.disposition, fields.content_type, charset);
}

std::string AttachmentName(std::string_view disposition,
                           std::string_view content_type,
                           std::string* charset) {
  if (charset != nullptr) charset->clear();
  // A "filename=" that is present decides, even with an empty value.
  std::optional<std::string> name = SimpleParameter(disposition, "filename=");
  if (!name) name = SimpleParameter(disposition, "name=");
  if (!name || name->empty()) {
    name = ExtendedParameter(disposition, "filename", charset);
  }
  if (name->empty()) {
    if (charset != nullptr) charset->clear();
    name = SimpleParameter(content_type, "name=");
    if (!name || name->empty()) {
      name = ExtendedParameter(content_type, "name", charset);
    }
  }
  if (name->empty() && charset != nullptr) charset->clear();
  return std::move(*name);
}

namespace {

std::string_view SkipLeadingSpace(std::string_view text) {
  while (!text.empty() && IsSpace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  return text;
}

bool BeginsWithWord(std::string_view text, std::string_view word) {
  return text.size() >= word.size() &&
         BeginsWithCaseInsensitive(text.data(), word);
}

}  // namespace

bool IsNamelessAttachment(const char* block, size_t length) {
  const NamingFields fields = FindNamingFields(block, length);
  return IsNamelessAttachment(fields.disposition, fields.content_type);
}

bool IsNamelessAttachment(std::string_view disposition,
                          std::string_view content_type) {
  disposition = SkipLeadingSpace(disposition);
  if (BeginsWithWord(disposition, "attachment")) return true;
  // The media type: its type up to "/", ";" or white space.
  content_type = SkipLeadingSpace(content_type);
  size_t type_end = 0;
  while (type_end < content_type.size() && content_type[type_end] != '/' &&
         content_type[type_end] != ';' &&
         !IsSpace(static_cast<unsigned char>(content_type[type_end]))) {
    ++type_end;
  }
  const std::string_view type = content_type.substr(0, type_end);
  if (type.empty()) return false;
  constexpr std::string_view kText = "text";
  constexpr std::string_view kMultipart = "multipart";
  return !EqualsCaseInsensitive(type.data(), type.size(), kText.data(),
                                kText.size()) &&
         !EqualsCaseInsensitive(type.data(), type.size(), kMultipart.data(),
                                kMultipart.size());
}

}  // namespace contentfile_internal

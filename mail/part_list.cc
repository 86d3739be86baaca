#include "mail/part_list.h"

#include <optional>
#include <string>
#include <string_view>

#include "codec/encoded_word.h"
#include "mail/attachment_name.h"
#include "mail/header_text.h"
#include "mail/mime_parameter.h"
#include "mail/part_retrieval.h"
#include "platform/text.h"

namespace contentfile_internal {

namespace {

constexpr std::string_view kDispositionKey = "\r\nContent-Disposition: ";
constexpr std::string_view kContentIdKey = "\r\nContent-ID: ";
constexpr std::string_view kEmptyLine = "\r\n\r\n";

// Where an entry's header block and content lie in the message.
struct PartLayout {
  size_t header_begin;  // its first header line
  size_t header_end;    // the empty line after its header block
  size_t content_begin;
};

PartLayout LayoutOf(const CMailParser& parser, const ST_MAIL_PART& part) {
  const char* const text = parser.Data();
  PartLayout layout{part.nStart, part.nEnd, part.nEnd};
  // The rest of the delimiter line (blanks, then its CR LF) opens the part;
  // its header lines begin after it.
  size_t p = part.nStart;
  while (p < part.nEnd && (text[p] == ' ' || text[p] == '\t')) ++p;
  if (part.nEnd - p >= 2 && text[p] == '\r' && text[p + 1] == '\n') {
    layout.header_begin = p + 2;
  }
  if (part.nType != MAIL_PART_UNCLASSIFIED &&
      part.nDataStart >= part.nStart + kEmptyLine.size() &&
      part.nDataStart < part.nEnd) {
    layout.header_end = part.nDataStart - kEmptyLine.size();
    layout.content_begin = part.nDataStart;
  } else {
    // No content: the header block is what lies before an empty line in the
    // part, or all of it.
    const char* empty = FindBytes(text + part.nStart, part.nEnd - part.nStart,
                                  kEmptyLine.data(), kEmptyLine.size());
    if (empty != nullptr) {
      layout.header_end = static_cast<size_t>(empty - text);
    }
  }
  if (layout.header_begin > layout.header_end) {
    layout.header_begin = layout.header_end;
  }
  return layout;
}

// The leading token of a field value ("text/plain" of "text/plain;
// charset=x"), ASCII letters in lower case.
std::string LeadingToken(std::string_view value) {
  const std::string_view trimmed = TrimHeaderSpace(value);
  size_t end = 0;
  while (end < trimmed.size() && trimmed[end] != ';' && trimmed[end] != '(' &&
         !IsSpace(static_cast<unsigned char>(trimmed[end]))) {
    ++end;
  }
  std::string token(trimmed.substr(0, end));
  for (char& c : token) {
    c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
  }
  return token;
}

std::string LowerCase(std::string_view value) {
  std::string lower(value);
  for (char& c : lower) {
    c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
  }
  return lower;
}

// Keeps the charset of the first encoded word of a name.
class FirstCharset final : public EncodedWordObserver {
 public:
  void OnRun(uint32_t, uint32_t, std::string_view charset) override {
    if (!found_ && !charset.empty()) {
      charset_.assign(charset);
      found_ = true;
    }
  }
  std::string& charset() { return charset_; }

 private:
  std::string charset_;
  bool found_ = false;
};

void Describe(const CMailParser& parser, const ST_MAIL_PART& part,
              contentfile::PartInfo& info) {
  const PartLayout layout = LayoutOf(parser, part);
  info.header_offset = layout.header_begin;
  info.content_offset = layout.content_begin;
  info.stored_size = part.nEnd - layout.content_begin;
  info.depth = part.nDepth;
  info.kind = part.nType == MAIL_PART_TEXT ? contentfile::PartKind::kText
              : part.nType == MAIL_PART_ATTACHMENT
                  ? contentfile::PartKind::kAttachment
                  : contentfile::PartKind::kUnclassified;

  // The block as the parse read it: from the part's first byte, so that its
  // first line is preceded by the delimiter line's CR LF.
  const char* const block = parser.Data() + part.nStart;
  const size_t length = layout.header_end - part.nStart;
  const std::string_view content_type =
      FindHeadField(block, length, kContentTypeKey).value_or("");
  info.media_type = LeadingToken(content_type);
  info.charset = NamedParameter(content_type, "charset").value_or("");
  info.format = NamedParameter(content_type, "format").value_or("");
  info.delsp = NamedParameter(content_type, "delsp").value_or("");
  info.disposition =
      LeadingToken(FindHeadField(block, length, kDispositionKey).value_or(""));
  if (const auto id = FindHeadField(block, length, kContentIdKey)) {
    const std::string unfolded = UnfoldHeaderValue(*id);
    const std::string_view value = TrimHeaderSpace(unfolded);
    info.content_id.assign(value);
    if (value.size() >= 2 && value.front() == '<' && value.back() == '>') {
      info.content_id.assign(value.substr(1, value.size() - 2));
    }
  }
  // The encoding as the decoding compares it: whole, only the case folded.
  info.transfer_encoding = LowerCase(part.strEncoding);

  if (!part.strName.empty()) {
    char name[kMaxNameLength + 1];
    FirstCharset word_charset;
    info.name.assign(name, DecodedPartName(part, name, &word_charset));
    std::string rfc2231_charset;
    AttachmentName(block, length, &rfc2231_charset);
    info.name_charset = !rfc2231_charset.empty()
                            ? std::move(rfc2231_charset)
                            : std::move(word_charset.charset());
  }
}

}  // namespace

void ListParts(const CMailParser& parser,
               std::vector<contentfile::PartInfo>& parts) {
  parts.clear();
  const std::vector<ST_MAIL_PART>& table = parser.Parts();
  parts.resize(table.size());
  int32_t attachments = 0;
  for (size_t i = 0; i < table.size(); ++i) {
    Describe(parser, table[i], parts[i]);
    if (table[i].nType == MAIL_PART_ATTACHMENT) {
      parts[i].attachment_index = attachments++;
    }
  }
}

}  // namespace contentfile_internal

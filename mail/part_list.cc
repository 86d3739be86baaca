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

constexpr std::string_view kContentIdKey = "\r\nContent-ID: ";
constexpr std::string_view kEmptyLine = "\r\n\r\n";

// Where an entry's header block and content lie in the message.
struct PartLayout {
  size_t header_begin;  // its first header line
  size_t header_end;    // the empty line after its header block
  size_t content_begin;
};

// Reads [begin, end) of the message into `bytes`; false when it cannot.
bool ReadRange(const CMailParser& parser, size_t begin, size_t end,
               std::string& bytes) {
  bytes.resize(end - begin);
  return parser.Source()->Read(static_cast<uint32_t>(begin), bytes.data(),
                               bytes.size());
}

// The layout of the entry, with its header area [nStart, header_end) read
// into `block`; false when the message cannot be read back.
bool LayoutOf(const CMailParser& parser, const ST_MAIL_PART& part,
              PartLayout& layout, std::string& block, bool& analysed) {
  layout = PartLayout{part.nStart, part.nEnd, part.nEnd};
  analysed = false;
  if (part.nType != MAIL_PART_UNCLASSIFIED &&
      part.nDataStart >= part.nStart + kEmptyLine.size() &&
      part.nDataStart < part.nEnd) {
    layout.header_end = part.nDataStart - kEmptyLine.size();
    layout.content_begin = part.nDataStart;
    analysed = true;
    if (!ReadRange(parser, part.nStart, layout.header_end, block)) {
      return false;
    }
  } else {
    // No content: the header block is what lies before an empty line in the
    // part, or all of it.
    if (!ReadRange(parser, part.nStart, part.nEnd, block)) return false;
    const char* empty = FindBytes(block.data(), block.size(), kEmptyLine.data(),
                                  kEmptyLine.size());
    if (empty != nullptr) {
      layout.header_end =
          part.nStart + static_cast<size_t>(empty - block.data());
      block.resize(layout.header_end - part.nStart);
      analysed = part.nType != MAIL_PART_UNCLASSIFIED;
    }
  }
  // The rest of the delimiter line (blanks, then its CR LF) opens the part;
  // its header lines begin after it.
  size_t p = 0;
  while (p < block.size() && (block[p] == ' ' || block[p] == '\t')) ++p;
  if (block.size() - p >= 2 && block[p] == '\r' && block[p + 1] == '\n') {
    layout.header_begin = part.nStart + p + 2;
  }
  if (layout.header_begin > layout.header_end) {
    layout.header_begin = layout.header_end;
  }
  return true;
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

bool Describe(const CMailParser& parser, const ST_MAIL_PART& part,
              contentfile::PartInfo& info) {
  PartLayout layout;
  // The block as the parse read it: from the part's first byte, so that its
  // first line is preceded by the delimiter line's CR LF.
  std::string block_bytes;
  bool analysed = false;
  if (!LayoutOf(parser, part, layout, block_bytes, analysed)) return false;
  info.header_offset = layout.header_begin;
  info.content_offset = layout.content_begin;
  info.stored_size = part.nEnd - layout.content_begin;
  info.depth = part.nDepth;
  info.kind = part.nType == MAIL_PART_TEXT ? contentfile::PartKind::kText
              : part.nType == MAIL_PART_ATTACHMENT
                  ? contentfile::PartKind::kAttachment
                  : contentfile::PartKind::kUnclassified;

  const char* const block = block_bytes.data();
  const size_t length = block_bytes.size();
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
  // The encoding as the decoding compares it: whole, only the case folded;
  // a header block that runs past its part was never analysed.
  if (analysed) {
    info.transfer_encoding =
        LowerCase(FindHeadField(block, length, kEncodingKey).value_or(""));
  }

  if (!parser.Name(part).empty()) {
    char name[kMaxNameLength + 1];
    FirstCharset word_charset;
    info.name.assign(name, DecodedPartName(parser, part, name, &word_charset));
    std::string rfc2231_charset;
    AttachmentName(block, length, &rfc2231_charset);
    info.name_charset = !rfc2231_charset.empty()
                            ? std::move(rfc2231_charset)
                            : std::move(word_charset.charset());
  }
  return true;
}

}  // namespace

bool ListParts(const CMailParser& parser,
               std::vector<contentfile::PartInfo>& parts) {
  parts.clear();
  const std::vector<ST_MAIL_PART>& table = parser.Parts();
  parts.resize(table.size());
  int32_t attachments = 0;
  for (size_t i = 0; i < table.size(); ++i) {
    if (!Describe(parser, table[i], parts[i])) return false;
    if (table[i].nType == MAIL_PART_ATTACHMENT) {
      parts[i].attachment_index = attachments++;
    }
  }
  return true;
}

}  // namespace contentfile_internal

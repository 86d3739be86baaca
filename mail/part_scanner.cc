// The part table: where each MIME part of the message lies, and what its
// header block says of it.

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "mail/attachment_name.h"
#include "mail/header_text.h"
#include "mail/mail_parser.h"
#include "mail/mime_parameter.h"
#include "platform/memory.h"
#include "platform/text.h"

namespace contentfile_internal {

namespace {

constexpr char kEncodingKey[] = "\r\nContent-Transfer-Encoding: ";
constexpr std::string_view kDelimiterPrefix = "\r\n--";
constexpr std::string_view kClosingMark = "--";
constexpr size_t kEmptyLineLength = 4;

// Both searches below run through the message with memchr, from one line
// end or one "=" to the next, and need no set-up per call: the scan calls
// them once or twice for every part.

// True when the delimiter whose boundary ends right before `after` makes a
// whole line: "--" follows (a close delimiter), or spaces or tabs and then
// CR LF or the end of the message. Any other line merely begins like one.
bool EndsDelimiterLine(const char* text, size_t text_length, size_t after) {
  if (text_length - after >= kClosingMark.size() && text[after] == '-' &&
      text[after + 1] == '-') {
    return true;
  }
  while (after < text_length && (text[after] == ' ' || text[after] == '\t')) {
    ++after;
  }
  return after == text_length ||
         (text_length - after >= kLineEnd.size() && text[after] == '\r' &&
          text[after + 1] == '\n');
}

// Offset of the first delimiter line (CR LF, then the rest of `delimiter`
// with letters compared without regard to case, then the end of a
// delimiter line) that begins in [from, limit), or kNotFound. Reads no
// further than such a line reaches.
//
// The scan jumps with memchr from one "-" to the next and looks back for the
// CR LF: "-" never occurs in base64, which makes up most of a large message,
// so whole attachments pass in one memchr call. A boundary holds no CR or
// LF, so no two candidate comparisons overlap and the scan stays linear.
size_t FindDelimiter(const char* text, size_t text_length, size_t from,
                     size_t limit, std::string_view delimiter) {
  const std::string_view rest = delimiter.substr(kLineEnd.size());
  // The first "-" of a delimiter that begins in [from, limit).
  size_t dash_from = from + kLineEnd.size();
  const size_t dash_limit = limit + kLineEnd.size() < text_length
                                ? limit + kLineEnd.size()
                                : text_length;
  while (dash_from < dash_limit) {
    const auto* dash = static_cast<const char*>(
        std::memchr(text + dash_from, '-', dash_limit - dash_from));
    if (dash == nullptr) return kNotFound;
    const auto at = static_cast<size_t>(dash - text);
    if (dash[-1] == '\n' && dash[-2] == '\r' &&
        text_length - at >= rest.size() &&
        BeginsWithCaseInsensitive(dash, rest) &&
        EndsDelimiterLine(text, text_length, at + rest.size())) {
      return at - kLineEnd.size();
    }
    dash_from = at + 1;
  }
  return kNotFound;
}

// Offset of the first "boundary=" (letters compared without regard to case)
// that begins in [from, limit), or kNotFound.
size_t FindBoundaryKey(const char* text, size_t text_length, size_t from,
                       size_t limit) {
  // A key that begins before `limit` ends before limit + its length - 1.
  const size_t reach = limit + kBoundaryKey.size() - 1;
  const size_t end = reach < text_length ? reach : text_length;
  if (end <= from) return kNotFound;
  const char* key = FindCaseInsensitive(
      text + from, end - from, kBoundaryKey.data(), kBoundaryKey.size());
  return key == nullptr ? kNotFound : static_cast<size_t>(key - text);
}

// Bytes of a part that ScanPart searches twice while they are in cache.
constexpr size_t kScanWindow = size_t{256} << 10;

// A part as ScanPart finds it: the delimiter that ends it and the first
// "boundary=" key in it, each kNotFound when there is none.
struct ScannedPart {
  size_t end;
  size_t boundary_key;
};

// FindDelimiter(text, text_length, from, limit, delimiter) and, when
// `want_key`, FindBoundaryKey(text, text_length, from, end) for the `end`
// it returns, in one pass: both searches take the part window by window,
// the key search over what the delimiter search has just brought into the
// cache, so that a large part is read from memory once rather than twice.
// The key search stops at the delimiter, so each byte is searched at most
// twice however small the parts. Both searches find what begins in a
// range, so splitting the range finds the same offsets.
ScannedPart ScanPart(const char* text, size_t text_length, size_t from,
                     size_t limit, std::string_view delimiter, bool want_key) {
  ScannedPart found{kNotFound, kNotFound};
  for (size_t window = from; window < limit;) {
    const size_t window_end =
        limit - window > kScanWindow ? window + kScanWindow : limit;
    found.end = FindDelimiter(text, text_length, window, window_end, delimiter);
    if (want_key && found.boundary_key == kNotFound) {
      const size_t key_limit = found.end != kNotFound ? found.end : window_end;
      found.boundary_key =
          FindBoundaryKey(text, text_length, window, key_limit);
    }
    if (found.end != kNotFound) break;
    window = window_end;
  }
  return found;
}

// True when [start, end) holds nothing but the padding of the delimiter
// line that opens it: an empty part.
bool IsEmptyPart(const char* text, size_t start, size_t end) {
  for (size_t at = start; at < end; ++at) {
    if (text[at] != ' ' && text[at] != '\t') return false;
  }
  return true;
}

// True when the delimiter that ends right before `after` closes its
// multipart ("--" follows it).
bool IsClosing(const char* text, size_t text_length, size_t after) {
  return text_length - after >= kClosingMark.size() &&
         text[after] == kClosingMark[0] && text[after + 1] == kClosingMark[1];
}

}  // namespace

int32_t CMailParser::ParseParts() {
  return m_strBoundary.empty() ? ParseSinglePart() : ParseMultipart();
}

int32_t CMailParser::ParseSinglePart() {
  // A message of head lines only has no part.
  if (head_only_) return kPartsFound;
  // The part's header block is the whole head, wherever its Content-Type
  // line stands; a message without one is text/plain all the same.
  AppendEntry(0, m_nDataLen, 0);
  return kPartsFound;
}

int32_t CMailParser::ParseMultipart() {
  const char* const text = m_pData.get();
  std::string delimiter(kDelimiterPrefix);
  delimiter += m_strBoundary;

  // A multipart whose delimiter never occurs is served as one part.
  if (head_only_) return kPartsFound;
  size_t current =
      FindDelimiter(text, text_length_, 0, text_length_, delimiter);
  if (current == kNotFound) return ParseSinglePart();
  // A closing delimiter ends the walk: the epilogue, and any stray delimiter
  // lines after it, belong to no part.
  while (!IsClosing(text, text_length_, current + delimiter.size())) {
    const size_t start = current + delimiter.size();
    // The message's own parts are level 1, always followed.
    static_assert(kMaxNestingLevels >= 1, "level 1 is followed");
    const ScannedPart part =
        ScanPart(text, text_length_, start, text_length_, delimiter, true);
    // A part that no delimiter closes (a cut-off message) gets no entry.
    if (part.end == kNotFound) return kPartsFound;
    // An empty part gets no entry; the walk goes on.
    if (!IsEmptyPart(text, start, part.end)) {
      AppendPart(start, part.end, part.boundary_key);
    }
    current = part.end;
  }
  return kPartsFound;
}

void CMailParser::AppendPart(size_t start, size_t end, size_t boundary_key) {
  // One multipart being walked: the part that holds it and its inner
  // delimiter. An explicit stack keeps deep nesting off the call stack.
  struct Walk {
    size_t start;
    size_t end;
    std::string delimiter;
    size_t current;  // the inner delimiter that opens the next part
    int level;       // level of the part that holds the multipart
  };
  std::vector<Walk> walks;
  const char* const text = m_pData.get();

  // Enters the part [part_start, part_end), whose first "boundary=" key is
  // `key` (kNotFound below the deepest level followed, where no key is
  // looked for): a walk when it holds a multipart whose inner delimiter
  // occurs inside it, one entry of its own otherwise.
  auto enter = [&](size_t part_start, size_t part_end, int part_level,
                   size_t key) {
    if (key != kNotFound) {
      const ParameterValue inner =
          ReadParameterValue(text + key + kBoundaryKey.size(), text + part_end,
                             /*keep_leading_space=*/true);
      std::string delimiter(kDelimiterPrefix);
      delimiter += inner.text;
      const size_t first = FindDelimiter(text, text_length_,
                                         static_cast<size_t>(inner.stop - text),
                                         part_end, delimiter);
      if (first != kNotFound) {
        walks.push_back(Walk{part_start, part_end, std::move(delimiter), first,
                             part_level});
        return;
      }
    }
    AppendEntry(part_start, part_end, static_cast<uint32_t>(part_level - 1));
  };

  enter(start, end, 1, boundary_key);
  while (!walks.empty()) {
    Walk& walk = walks.back();
    const size_t sub_start = walk.current + walk.delimiter.size();
    if (IsClosing(text, text_length_, sub_start)) {
      walks.pop_back();
      continue;
    }
    const int sub_level = walk.level + 1;
    const ScannedPart sub =
        ScanPart(text, text_length_, sub_start, walk.end, walk.delimiter,
                 sub_level <= kMaxNestingLevels);
    if (sub.end == kNotFound) {
      walks.pop_back();
      continue;
    }
    walk.current = sub.end;
    // An empty part gets no entry: the table never holds a part twice.
    if (!IsEmptyPart(text, sub_start, sub.end)) {
      // May move `walk`.
      enter(sub_start, sub.end, sub_level, sub.boundary_key);
    }
  }
}

void CMailParser::AppendEntry(size_t start, size_t end, uint32_t depth) {
  ST_MAIL_PART part;
  part.nStart = static_cast<uint32_t>(start);
  part.nEnd = static_cast<uint32_t>(end);
  part.nDepth = depth;
  m_arrParts.push_back(std::move(part));
  if (classifying_) ClassifyEntry(m_arrParts.size() - 1);
}

int32_t CMailParser::ParsePartHead(ST_MAIL_PART& part,
                                   bool* nameless_attachment) {
  part.nType = MAIL_PART_UNCLASSIFIED;
  if (nameless_attachment != nullptr) *nameless_attachment = false;
  // The empty line is searched for up to the end of the message, not only
  // within the part.
  const size_t empty_line = empty_lines_.Find(part.nStart);
  if (empty_line == EmptyLineFinder::kNone) return kNoHeaderEnd;
  const size_t data_start = empty_line + kEmptyLineLength;
  if (data_start > part.nEnd) {
    // The header block runs past the part: no content, nothing analysed.
    part.nDataStart = part.nEnd;
    return kPartAnalysed;
  }
  part.nDataStart = static_cast<uint32_t>(data_start);

  const size_t block_length = empty_line - part.nStart;
  Buffer block = AllocateBuffer(block_length + 1);
  if (block == nullptr) return kNoMemory;
  std::memcpy(block.get(), m_pData.get() + part.nStart, block_length);
  block[block_length] = '\0';

  GetHeadField(block.get(), block_length, kEncodingKey, part.strEncoding);
  part.strName = AttachmentName(block.get(), block_length);
  if (nameless_attachment != nullptr && part.strName.empty()) {
    *nameless_attachment = IsNamelessAttachment(block.get(), block_length);
  }
  return kPartAnalysed;
}

}  // namespace contentfile_internal

#include "mail/part_table.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "mail/attachment_name.h"
#include "mail/header_text.h"
#include "mail/mime_parameter.h"
#include "platform/text.h"

namespace contentfile_internal {

namespace {

constexpr std::string_view kDashes = "--";
constexpr uint32_t kEmptyLineLength = 4;
constexpr uint32_t kNone = UINT32_MAX;

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t'; }

}  // namespace

TransferEncoding ParseTransferEncoding(std::string_view value) {
  static constexpr std::string_view kBase64 = "base64";
  static constexpr std::string_view kQuotedPrintable = "quoted-printable";
  if (EqualsCaseInsensitive(value.data(), value.size(), kBase64.data(),
                            kBase64.size())) {
    return TransferEncoding::kBase64;
  }
  if (EqualsCaseInsensitive(value.data(), value.size(), kQuotedPrintable.data(),
                            kQuotedPrintable.size())) {
    return TransferEncoding::kQuotedPrintable;
  }
  return TransferEncoding::kNone;
}

PartHeader AnalysePartHeader(const char* block, size_t length) {
  enum : size_t { kEncoding, kDisposition, kContentType, kFields };
  static constexpr std::string_view kKeys[kFields] = {
      kEncodingKey, kDispositionKey, kContentTypeKey};
  std::string_view values[kFields];
  FindHeadFields(block, length, kKeys, kFields, values);
  PartHeader header;
  header.encoding = values[kEncoding];
  header.name = AttachmentName(values[kDisposition], values[kContentType]);
  if (header.name.empty()) {
    header.nameless_attachment =
        IsNamelessAttachment(values[kDisposition], values[kContentType]);
  }
  return header;
}

// The one pass over a multipart message. Positions are offsets into the
// message; every byte comparison goes through the window, which answers
// from its buffer and reads past its edge only for the few bytes a
// comparison there needs.
class MultipartScanner {
 public:
  MultipartScanner(PartTable& table, MessageWindow& window,
                   size_t compared_levels)
      : table_(table),
        window_(window),
        size_(window.size()),
        compared_levels_(compared_levels) {}

  int32_t Run(std::string_view boundary);

 private:
  struct Match {
    uint32_t at = kNone;  // the CR of the delimiter line
    size_t level = 0;
    bool inner = false;  // the first delimiter of the open part's multipart
  };

  // The leaf part open at the innermost level, and what has been learnt of
  // it so far.
  struct OpenPart {
    uint32_t start = 0;
    uint32_t empty_line = kNone;  // its first empty line
    bool wants_key = false;       // "boundary=" is looked for in it
  };

  // A level's delimiter as the lookup knows it.
  struct Key {
    uint32_t hash = 0;
    uint32_t length = 0;
    uint32_t level = 0;
  };

  unsigned char At(uint32_t offset) { return window_.At(offset); }
  static uint32_t Hash(uint32_t hash, unsigned char c) {
    return (hash ^ FoldCase(c)) * 16777619u;
  }
  void RebuildFilter();
  static Key KeyOf(const std::string& level);
  void PushLevel(std::string level);
  void KeepLevels(size_t count);
  void RebuildKeys();
  size_t LookUpLevel(uint32_t cr);
  bool MatchesPrefix(uint32_t dash, std::string_view rest);
  bool IsClosing(uint32_t after);
  bool EndsDelimiterLine(uint32_t after);
  bool MatchesAt(uint32_t cr, std::string_view rest);
  Match MatchAt(uint32_t cr, bool outer, bool inner);
  Match FindDelimiter(uint32_t from, uint32_t to, bool outer, bool inner);
  uint32_t FindKey(uint32_t from, uint32_t to);
  uint32_t FindEmptyLine(uint32_t from, uint32_t to);
  void ReadInnerBoundary(uint32_t key);
  bool NeedsEmptyLine() const {
    return (open_ && part_.empty_line == kNone) || headless_pending_;
  }
  void FoundEmptyLine(uint32_t at);
  uint32_t Enter(const Match& match);
  void Open(uint32_t start, size_t level);
  void CloseLeaf(uint32_t end);
  bool IsEmptyPart(uint32_t start, uint32_t end);

  PartTable& table_;
  MessageWindow& window_;
  const uint32_t size_;
  // The delimiters of the open levels, outermost first, without their
  // CR LF: "--" and the boundary.
  std::vector<std::string> levels_;
  bool open_ = false;  // a leaf part is open at the innermost level
  OpenPart part_;
  // The open part's own multipart, once its "boundary=" is read: its
  // delimiter, looked for from `inner_from_` on.
  bool key_seen_ = false;
  bool has_inner_ = false;
  std::string inner_;
  uint32_t inner_from_ = 0;
  bool found_delimiter_ = false;
  bool done_ = false;  // the message's own multipart is closed
  // Leaves appended without an empty line of their own, waiting to learn
  // whether one follows them at all: from this entry on.
  bool headless_pending_ = false;
  size_t first_headless_ = 0;
  bool read_failed_ = false;
  std::string block_;
  // The bytes (letters folded) that may follow the "--" of a delimiter of
  // any open level or of the open part's own multipart; rebuilt when the
  // levels change.
  bool first_bytes_[256] = {};
  bool filter_dirty_ = true;
  // With more open levels than this, delimiters are looked up: each
  // level's key (made as it opens), found through slots_ (open addressing
  // on the hash; a slot holds a level + 1).
  const size_t compared_levels_;
  std::vector<Key> level_keys_;
  bool keys_dirty_ = true;
  std::vector<uint32_t> slots_;
  uint32_t longest_level_ = 0;
};

void MultipartScanner::RebuildFilter() {
  filter_dirty_ = false;
  std::fill(std::begin(first_bytes_), std::end(first_bytes_), false);
  auto allow = [&](const std::string& rest) {
    if (rest.size() <= kDashes.size()) {
      // An empty boundary: whatever ends a delimiter line may follow.
      std::fill(std::begin(first_bytes_), std::end(first_bytes_), true);
      return;
    }
    first_bytes_[FoldCase(static_cast<unsigned char>(rest[kDashes.size()]))] =
        true;
  };
  for (const std::string& level : levels_) allow(level);
  if (has_inner_) allow(inner_);
}

MultipartScanner::Key MultipartScanner::KeyOf(const std::string& level) {
  Key key;
  for (char c : level) key.hash = Hash(key.hash, static_cast<unsigned char>(c));
  key.length = static_cast<uint32_t>(level.size());
  return key;
}

void MultipartScanner::PushLevel(std::string level) {
  level_keys_.push_back(KeyOf(level));
  level_keys_.back().level = static_cast<uint32_t>(levels_.size());
  levels_.push_back(std::move(level));
  keys_dirty_ = true;
}

void MultipartScanner::KeepLevels(size_t count) {
  if (count == levels_.size()) return;
  levels_.resize(count);
  level_keys_.resize(count);
  keys_dirty_ = true;
}

// Takes the levels' keys (made once, as each level opened) into the lookup
// table: a cost per level, not per byte of the delimiters.
void MultipartScanner::RebuildKeys() {
  keys_dirty_ = false;
  longest_level_ = 0;
  size_t slot_count = 16;
  while (slot_count < 2 * levels_.size()) slot_count *= 2;
  slots_.assign(slot_count, 0);
  for (const Key& key : level_keys_) {
    if (key.length > longest_level_) longest_level_ = key.length;
    size_t slot = key.hash & (slot_count - 1);
    while (slots_[slot] != 0) slot = (slot + 1) & (slot_count - 1);
    slots_[slot] = key.level + 1;
  }
}

// The outermost level whose delimiter line begins at `cr`, or
// levels_.size() for none. The line's beginnings that a delimiter line
// could end after (a "--", blanks up to a CR LF, the message's end) are
// hashed in one pass up to the line's end and looked up, so a line costs
// the same however many levels are open. No delimiter holds a CR or LF (a
// boundary ends with its unfolded line), so none reaches past that end.
size_t MultipartScanner::LookUpLevel(uint32_t cr) {
  if (keys_dirty_) RebuildKeys();
  const uint32_t dash = cr + static_cast<uint32_t>(kLineEnd.size());
  const uint32_t room = size_ - dash;
  const uint32_t limit = room < longest_level_ ? room : longest_level_;
  const size_t mask = slots_.size() - 1;
  size_t best = levels_.size();
  uint32_t hash = 0;
  // Whether the blanks from a position on reach a line's end: known for
  // the positions up to blank_end.
  uint32_t blank_end = 0;
  bool blanks_end_line = false;
  for (uint32_t length = 0;; ++length) {
    const uint32_t after = dash + length;
    const unsigned char c = after < size_ ? At(after) : 0;
    bool ends = after == size_;
    if (!ends && c == '-' && size_ - after >= kDashes.size() &&
        At(after + 1) == '-') {
      ends = true;
    } else if (!ends && (IsBlank(c) || c == '\r')) {
      if (after > blank_end) {
        uint32_t end = after;
        while (end < size_ && IsBlank(At(end))) ++end;
        blank_end = end;
        blanks_end_line =
            end == size_ || (size_ - end >= kLineEnd.size() &&
                             At(end) == '\r' && At(end + 1) == '\n');
      }
      ends = blanks_end_line;
    }
    for (size_t slot = hash & mask; ends && slots_[slot] != 0;
         slot = (slot + 1) & mask) {
      const Key& key = level_keys_[slots_[slot] - 1];
      if (key.hash == hash && key.length == length && key.level < best &&
          MatchesPrefix(dash, levels_[key.level])) {
        best = key.level;
      }
    }
    if (length == limit || c == '\r' || c == '\n') break;
    hash = Hash(hash, c);
  }
  return best;
}

// Whether the message holds `rest` (letters without regard to case) from
// `dash` on. REQUIRES: it has that many bytes from there.
bool MultipartScanner::MatchesPrefix(uint32_t dash, std::string_view rest) {
  const uint32_t after = dash + static_cast<uint32_t>(rest.size());
  if (rest.empty()) return true;
  if (window_.Holds(dash) && window_.Holds(after - 1)) {
    return BeginsWithCaseInsensitive(window_.data() + (dash - window_.base()),
                                     rest);
  }
  for (size_t i = 0; i < rest.size(); ++i) {
    if (FoldCase(At(dash + static_cast<uint32_t>(i))) !=
        FoldCase(static_cast<unsigned char>(rest[i]))) {
      return false;
    }
  }
  return true;
}

bool MultipartScanner::IsClosing(uint32_t after) {
  return size_ - after >= kDashes.size() && At(after) == '-' &&
         At(after + 1) == '-';
}

bool MultipartScanner::EndsDelimiterLine(uint32_t after) {
  if (IsClosing(after)) return true;
  while (after < size_ && IsBlank(At(after))) ++after;
  return after == size_ || (size_ - after >= kLineEnd.size() &&
                            At(after) == '\r' && At(after + 1) == '\n');
}

bool MultipartScanner::MatchesAt(uint32_t cr, std::string_view rest) {
  const uint32_t dash = cr + static_cast<uint32_t>(kLineEnd.size());
  if (size_ - dash < rest.size()) return false;
  return MatchesPrefix(dash, rest) &&
         EndsDelimiterLine(dash + static_cast<uint32_t>(rest.size()));
}

// The delimiter that begins at `cr` (a CR LF "--" is there): the outermost
// level's first, then the open part's own, or none.
MultipartScanner::Match MultipartScanner::MatchAt(uint32_t cr, bool outer,
                                                  bool inner) {
  Match match;
  // Most lines that begin with "--" are no delimiter of any level: one
  // look at the byte after the dashes settles them.
  if (filter_dirty_) RebuildFilter();
  const uint32_t first = cr + 4;
  if (first < size_ && !first_bytes_[FoldCase(At(first))]) return match;
  if (outer && levels_.size() > compared_levels_) {
    const size_t level = LookUpLevel(cr);
    if (level < levels_.size()) {
      match.at = cr;
      match.level = level;
      return match;
    }
  } else if (outer) {
    for (size_t level = 0; level < levels_.size(); ++level) {
      if (MatchesAt(cr, levels_[level])) {
        match.at = cr;
        match.level = level;
        return match;
      }
    }
  }
  if (inner && has_inner_ && cr >= inner_from_ && MatchesAt(cr, inner_)) {
    match.at = cr;
    match.inner = true;
  }
  return match;
}

// The first delimiter line that begins in [from, to), `to` at most the
// window's end. Jumps with memchr from one "-" to the next: "-" never occurs
// in base64, which makes up most of a large message.
MultipartScanner::Match MultipartScanner::FindDelimiter(uint32_t from,
                                                        uint32_t to, bool outer,
                                                        bool inner) {
  const char* const data = window_.data();
  const uint32_t base = window_.base();
  // The first "-" of a delimiter that begins in [from, to).
  const uint32_t dash_to = size_ - to >= 2 ? to + 2 : size_;
  const uint32_t in_window_to =
      dash_to < window_.end() ? dash_to : window_.end();
  uint32_t dash_from = from + 2;
  auto check = [&](uint32_t dash) {
    if (At(dash - 1) != '\n' || At(dash - 2) != '\r' || dash + 1 >= size_ ||
        At(dash + 1) != '-') {
      return Match{};
    }
    return MatchAt(dash - 2, outer, inner);
  };
  // Its "--" pairs that lie wholly in the window, the first dash before
  // in_window_to; then a dash right at the window's end.
  const uint32_t pairs_end =
      in_window_to < window_.end() ? in_window_to + 1 : window_.end();
  while (dash_from + 1 < pairs_end) {
    const char* hit = FindPair(data + (dash_from - base), pairs_end - dash_from,
                               '-', '-', false);
    if (hit == nullptr) break;
    const auto dash = static_cast<uint32_t>(hit - data) + base;
    const Match match = check(dash);
    if (match.at != kNone) return match;
    dash_from = dash + 1;
  }
  uint32_t tail = pairs_end == in_window_to && in_window_to > 0
                      ? in_window_to - 1
                      : in_window_to;
  if (tail < dash_from) tail = dash_from;
  // A dash at the window's last byte, and a delimiter that the window's end
  // splits after its CR or LF.
  for (uint32_t dash = tail; dash < dash_to; ++dash) {
    if (At(dash) != '-') continue;
    const Match match = check(dash);
    if (match.at != kNone) return match;
  }
  return Match{};
}

// The first "boundary=" (letters without regard to case) that begins in
// [from, to), `to` at most the window's end; kNone when there is none.
uint32_t MultipartScanner::FindKey(uint32_t from, uint32_t to) {
  const uint32_t key_length = static_cast<uint32_t>(kBoundaryKey.size());
  const uint32_t base = window_.base();
  const uint32_t reach = to + key_length - 1;
  const uint32_t end = reach < window_.end() ? reach : window_.end();
  if (end > from && end - from >= key_length) {
    // Candidates are its last two bytes, "y=" in either case, which are
    // rare in encoded content and prose alike.
    const char* const text = window_.data() + (from - base);
    const size_t length = end - from;
    const std::string_view head = kBoundaryKey.substr(0, key_length - 2);
    for (size_t at = head.size(); at + 1 < length;) {
      const char* pair = FindPair(text + at, length - at, 'y', '=', true);
      if (pair == nullptr) break;
      const char* key = pair - head.size();
      if (BeginsWithCaseInsensitive(key, head)) {
        const uint32_t found = from + static_cast<uint32_t>(key - text);
        return found < to ? found : kNone;
      }
      at = static_cast<size_t>(pair - text) + 1;
    }
  }
  // Keys that the window's end splits.
  const uint32_t split_from = window_.end() - from > key_length - 1
                                  ? window_.end() - key_length + 1
                                  : from;
  for (uint32_t at = split_from; at < to; ++at) {
    if (size_ - at < key_length) break;
    bool equal = true;
    for (uint32_t i = 0; i < key_length && equal; ++i) {
      equal =
          FoldCase(At(at + i)) == static_cast<unsigned char>(kBoundaryKey[i]);
    }
    if (equal) return at;
  }
  return kNone;
}

// The first empty line ("\r\n\r\n") that begins in [from, to), `to` at most
// the window's end; kNone when there is none.
uint32_t MultipartScanner::FindEmptyLine(uint32_t from, uint32_t to) {
  // Its first LF stands in [from + 1, to + 1).
  const uint32_t lf_to = size_ - to >= 1 ? to + 1 : size_;
  const uint32_t in_window_to = lf_to < window_.end() ? lf_to : window_.end();
  const char* const data = window_.data();
  const uint32_t base = window_.base();
  auto check = [&](uint32_t lf) {
    return size_ - lf >= 3 && At(lf - 1) == '\r' && At(lf + 1) == '\r' &&
           At(lf + 2) == '\n';
  };
  uint32_t lf_from = from + 1;
  while (lf_from < in_window_to) {
    const auto* hit = static_cast<const char*>(
        std::memchr(data + (lf_from - base), '\n', in_window_to - lf_from));
    if (hit == nullptr) break;
    const auto lf = static_cast<uint32_t>(hit - data) + base;
    if (check(lf)) return lf - 1;
    lf_from = lf + 1;
  }
  for (uint32_t lf = in_window_to > lf_from ? in_window_to : lf_from;
       lf < lf_to; ++lf) {
    if (At(lf) == '\n' && check(lf)) return lf - 1;
  }
  return kNone;
}

// Reads the value of the "boundary=" at `key`: it ends with its (unfolded)
// line, so only that line is copied.
void MultipartScanner::ReadInnerBoundary(uint32_t key) {
  const uint32_t value = key + static_cast<uint32_t>(kBoundaryKey.size());
  std::string line;
  for (uint32_t at = value; at < size_;) {
    const unsigned char c = At(at);
    if (c == '\r' || c == '\n' || c == '\0') {
      if (c == '\r' && size_ - at >= 3 && At(at + 1) == '\n' &&
          IsBlank(At(at + 2))) {
        line.push_back('\r');
        line.push_back('\n');
        line.push_back(static_cast<char>(At(at + 2)));
        at += 3;
        continue;
      }
      break;
    }
    line.push_back(static_cast<char>(c));
    ++at;
  }
  const ParameterValue inner = ReadParameterValue(
      line.data(), line.data() + line.size(), /*keep_leading_space=*/true);
  inner_ = std::string(kDashes);
  inner_ += inner.text;
  inner_from_ = value + static_cast<uint32_t>(inner.stop - line.data());
  has_inner_ = true;
  filter_dirty_ = true;  // the inner delimiter's first byte joins the filter
}

void MultipartScanner::FoundEmptyLine(uint32_t at) {
  if (open_ && part_.empty_line == kNone) part_.empty_line = at;
  if (headless_pending_) {
    // An empty line follows them: they are text without content.
    std::vector<ST_MAIL_PART>& entries = table_.entries_;
    for (size_t i = first_headless_; i < entries.size(); ++i) {
      if (entries[i].nType == MAIL_PART_UNCLASSIFIED) {
        entries[i].nType = MAIL_PART_TEXT;
        entries[i].nDataStart = entries[i].nEnd;
      }
    }
    headless_pending_ = false;
  }
}

void MultipartScanner::Open(uint32_t start, size_t level) {
  open_ = true;
  part_ = OpenPart{};
  part_.start = start;
  // The message's own parts are level 1.
  part_.wants_key = level + 1 <= PartTable::kMaxNestingLevels;
  key_seen_ = false;
  has_inner_ = false;
}

bool MultipartScanner::IsEmptyPart(uint32_t start, uint32_t end) {
  for (uint32_t at = start; at < end; ++at) {
    if (!IsBlank(At(at))) return false;
  }
  return true;
}

void MultipartScanner::CloseLeaf(uint32_t end) {
  const uint32_t start = part_.start;
  if (IsEmptyPart(start, end)) return;
  // Multiparts around the part below the message's own.
  const auto depth = static_cast<uint8_t>(levels_.size() - 1);
  const uint32_t empty = part_.empty_line;
  if (empty == kNone) {
    // Whether any empty line follows decides between text without content
    // and neither kind.
    if (!headless_pending_) first_headless_ = table_.entries_.size();
    headless_pending_ = true;
    table_.entries_.push_back(ST_MAIL_PART{start, end, 0, ST_MAIL_PART::kNoName,
                                           MAIL_PART_UNCLASSIFIED,
                                           TransferEncoding::kNone, depth});
    return;
  }
  if (end - empty < kEmptyLineLength) {
    // The header block runs into the delimiter: no content.
    table_.entries_.push_back(
        ST_MAIL_PART{start, end, end, ST_MAIL_PART::kNoName, MAIL_PART_TEXT,
                     TransferEncoding::kNone, depth});
    return;
  }
  const char* block;
  const size_t length = empty - start;
  if (length == 0 || (window_.Holds(start) && window_.Holds(empty - 1))) {
    block = window_.data() + (start - window_.base());
  } else {
    block_.resize(length);
    if (!window_.source().Read(start, block_.data(), length)) {
      read_failed_ = true;
      return;
    }
    block = block_.data();
  }
  table_.AppendLeaf(start, end, empty + kEmptyLineLength, depth, block, length);
}

// Takes the delimiter `match`, closing what it closes, and returns where
// the scan goes on: right after its boundary.
uint32_t MultipartScanner::Enter(const Match& match) {
  size_t level;
  const size_t levels_before = levels_.size();
  if (match.inner) {
    // The open part holds a multipart: its parts are entered in its place.
    PushLevel(std::move(inner_));
    level = levels_.size() - 1;
  } else {
    level = match.level;
    if (open_ && level + 1 == levels_.size()) CloseLeaf(match.at);
    // An outer delimiter closes every inner part still open: they get no
    // entry.
    KeepLevels(level + 1);
    found_delimiter_ = true;
  }
  open_ = false;
  has_inner_ = false;
  // A filter left wider than the open levels need is still right: it is
  // rebuilt only when a level is added or removed.
  if (levels_.size() != levels_before) filter_dirty_ = true;
  const uint32_t after = match.at + static_cast<uint32_t>(kLineEnd.size()) +
                         static_cast<uint32_t>(levels_[level].size());
  if (IsClosing(after)) {
    KeepLevels(levels_.size() - 1);
    // The epilogue after the message's own close delimiter, and any
    // delimiter lines in it, belong to no part.
    if (levels_.empty()) done_ = true;
    return after;
  }
  Open(after, level);
  return after;
}

int32_t MultipartScanner::Run(std::string_view boundary) {
  PushLevel(std::string(kDashes) + std::string(boundary));
  uint32_t at = 0;
  while (at < size_ && !read_failed_) {
    if (done_ && !headless_pending_) break;
    if (!window_.Holds(at) && !window_.Load(at)) break;
    const uint32_t window_end = window_.end();
    if (done_) {
      const uint32_t empty = FindEmptyLine(at, window_end);
      if (empty != kNone) FoundEmptyLine(empty);
      at = window_end;
      continue;
    }
    Match match = FindDelimiter(at, window_end, true, true);
    uint32_t segment_end = match.at != kNone ? match.at : window_end;
    if (open_ && part_.wants_key && !key_seen_) {
      const uint32_t key = FindKey(at, segment_end);
      if (key != kNone) {
        key_seen_ = true;
        ReadInnerBoundary(key);
        const uint32_t from = inner_from_ > at ? inner_from_ : at;
        if (from < segment_end) {
          const Match inner = FindDelimiter(from, segment_end, false, true);
          if (inner.at != kNone) {
            match = inner;
            segment_end = inner.at;
          }
        }
      }
    }
    if (NeedsEmptyLine()) {
      const uint32_t empty = FindEmptyLine(at, segment_end);
      if (empty != kNone) FoundEmptyLine(empty);
    }
    at = match.at != kNone ? Enter(match) : window_end;
  }
  if (read_failed_ || window_.failed()) return PartTable::kReadFailed;
  if (!found_delimiter_) return PartTable::kNoDelimiter;
  return PartTable::kScanned;
}

void PartTable::Clear() {
  entries_.clear();
  attachments_.clear();
  names_.clear();
}

void PartTable::SetName(ST_MAIL_PART& entry, const std::string& name) {
  const auto length = static_cast<uint32_t>(name.size());
  entry.nName = static_cast<uint32_t>(names_.size());
  char prefix[sizeof(length)];
  std::memcpy(prefix, &length, sizeof(length));
  names_.append(prefix, sizeof(prefix));
  names_.append(name);
}

std::string_view PartTable::Name(const ST_MAIL_PART& entry) const {
  if (entry.nName == ST_MAIL_PART::kNoName) return {};
  uint32_t length;
  std::memcpy(&length, names_.data() + entry.nName, sizeof(length));
  return std::string_view(names_.data() + entry.nName + sizeof(length), length);
}

void PartTable::AppendLeaf(uint32_t start, uint32_t end, uint32_t data_start,
                           uint8_t depth, const char* block,
                           size_t block_length) {
  const PartHeader header = AnalysePartHeader(block, block_length);
  ST_MAIL_PART entry;
  entry.nStart = start;
  entry.nEnd = end;
  entry.nDataStart = data_start;
  entry.nType = MAIL_PART_TEXT;
  entry.encoding = ParseTransferEncoding(header.encoding);
  entry.nDepth = depth;
  if (!header.name.empty()) {
    SetName(entry, header.name);
    entry.nType = MAIL_PART_ATTACHMENT;
  } else if (header.nameless_attachment) {
    entry.nType = MAIL_PART_ATTACHMENT;
  }
  entries_.push_back(entry);
}

void PartTable::AddWholeMessage(uint32_t length, const char* head,
                                size_t head_length) {
  AppendLeaf(0, length, static_cast<uint32_t>(head_length) + kEmptyLineLength,
             0, head, head_length);
  IndexAttachments();
}

int32_t PartTable::Scan(MessageWindow& window, std::string_view boundary,
                        size_t compared_levels) {
  MultipartScanner scanner(*this, window, compared_levels);
  const int32_t result = scanner.Run(boundary);
  IndexAttachments();
  return result;
}

void PartTable::IndexAttachments() {
  attachments_.clear();
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].nType == MAIL_PART_ATTACHMENT) {
      attachments_.push_back(static_cast<uint32_t>(i));
    }
  }
}

}  // namespace contentfile_internal

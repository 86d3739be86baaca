// The head fields in the form handed out: bare addresses and a decoded
// subject.

#include <iterator>
#include <string>
#include <string_view>

#include "bytes/byte_search.h"
#include "codec/encoded_word.h"
#include "mail/header_text.h"
#include "mail/mail_parser.h"
#include "platform/text.h"

namespace contentfile_internal {

void CMailParser::NormalizeHead() {
  // Decoding never lengthens a value, so the unfolded subject's own length
  // bounds the output, however long the subject.
  std::string subject = UnfoldHeaderValue(m_strSubject);
  if (!subject.empty()) {
    std::string decoded(subject.size(), '\0');
    decoded.resize(DecodeWord(
        subject.data(), static_cast<uint32_t>(subject.size()), decoded.data()));
    subject = std::move(decoded);
  }
  m_strSubject = std::move(subject);

  m_strFrom = ExtractAddresses(m_strFrom);
  m_strTo = ExtractAddresses(m_strTo);
  m_strCc = ExtractAddresses(m_strCc);
}

namespace {

// The bytes that structure an address list.
constexpr char kSpecials[] = {',', '"', '(', ')', '<', '>', ':', ';', '\\'};

// Successive occurrences of the bytes that structure an address list, each
// on a character boundary of the LC_CTYPE locale (never the trail byte of
// a double-byte character). In single-byte and UTF-8 locales one search
// finds any of them; in others each byte of the value is searched
// once per kind of byte, however many occurrences are asked for.
class AddressSpecials {
 public:
  explicit AddressSpecials(const char* end)
      : end_(end), bytewise_(ByteSearchesAreExact()) {
    for (size_t i = 0; i < kKinds; ++i) {
      candidates_[i] = Candidate{kSpecials[i], nullptr, false};
    }
  }

  // The first special byte at or after `from`, or null.
  // REQUIRES: `from` lies on a character boundary, at or after the `from`
  // of the call before.
  const char* Next(const char* from) {
    if (bytewise_) {
      return FindAnyOf(from, static_cast<size_t>(end_ - from), kSpecials,
                       kKinds);
    }
    const char* first = nullptr;
    for (Candidate& c : candidates_) {
      if (!c.exhausted && (c.next == nullptr || c.next < from)) {
        c.next = FindCharMb(from, static_cast<size_t>(end_ - from), c.byte);
        c.exhausted = c.next == nullptr;
      }
      if (!c.exhausted && (first == nullptr || c.next < first)) first = c.next;
    }
    return first;
  }

 private:
  static constexpr size_t kKinds = std::size(kSpecials);

  struct Candidate {
    char byte;
    const char* next;
    bool exhausted;
  };
  const char* end_;
  bool bytewise_;
  Candidate candidates_[kKinds];
};

// One mailbox of an address list: its text, and the first "<" outside
// quoted strings and comments with the first ">" after it.
struct Mailbox {
  const char* begin;
  const char* end;
  const char* open;   // null: none
  const char* close;  // null: none
};

// The mailbox without its comments and the white space around it.
std::string BareAddress(const Mailbox& mailbox) {
  std::string bare;
  int depth = 0;
  bool quoted = false;
  for (const char* p = mailbox.begin; p < mailbox.end; ++p) {
    char c = *p;
    if (depth == 0 && !quoted) {
      if (c == '(') {
        ++depth;
        continue;
      }
      if (c == '"') quoted = true;
      bare.push_back(c);
    } else if (quoted) {
      if (c == '\\' && p + 1 < mailbox.end) {
        bare.push_back(c);
        c = *++p;
      } else if (c == '"') {
        quoted = false;
      }
      bare.push_back(c);
    } else {
      if (c == '\\') {
        ++p;
      } else if (c == '(') {
        ++depth;
      } else if (c == ')') {
        --depth;
      }
    }
  }
  return std::string(TrimHeaderSpace(bare));
}

}  // namespace

std::string CMailParser::ExtractAddresses(const std::string& value) {
  const std::string unfolded = UnfoldHeaderValue(value);
  const char* const begin = unfolded.data();
  const char* const end = begin + unfolded.size();

  // Split at commas outside quoted strings, angle brackets and comments; a
  // group's display name ("Team:") is dropped and its ";" ends a mailbox.
  // Each mailbox gives its address as soon as it ends.
  std::string addresses;
  addresses.reserve(unfolded.size());
  bool any_address = false;
  bool first = true;
  const auto take = [&](const Mailbox& mailbox) {
    std::string bare;
    std::string_view address;
    if (mailbox.open != nullptr && mailbox.close != nullptr) {
      address = std::string_view(
          mailbox.open + 1,
          static_cast<size_t>(mailbox.close - mailbox.open - 1));
      any_address = true;
    } else {
      bare = BareAddress(mailbox);
      if (bare.empty()) return;
      if (bare.find('@') != std::string::npos) any_address = true;
      address = bare;
    }
    if (!first) addresses.push_back(',');
    addresses += address;
    first = false;
  };

  Mailbox current{begin, end, nullptr, nullptr};
  bool quoted = false;
  int depth = 0;  // of comments
  AddressSpecials specials(end);
  const char* from = begin;
  while (const char* p = specials.Next(from)) {
    from = p + 1;
    const char c = *p;
    if (c == '\\') {
      // An escaped special stands for itself.
      if ((quoted || depth > 0) && p + 1 < end &&
          specials.Next(p + 1) == p + 1) {
        from = p + 2;
      }
      continue;
    }
    if (quoted) {
      if (c == '"') quoted = false;
      continue;
    }
    if (depth > 0) {
      if (c == '(') ++depth;
      if (c == ')') --depth;
      continue;
    }
    if (current.open != nullptr && current.close == nullptr) {
      if (c == '>') current.close = p;
      continue;
    }
    switch (c) {
      case '"':
        quoted = true;
        break;
      case '(':
        depth = 1;
        break;
      case '<':
        if (current.open == nullptr) current.open = p;
        break;
      case ':':
        current = Mailbox{p + 1, end, nullptr, nullptr};
        break;
      case ',':
      case ';':
        current.end = p;
        take(current);
        current = Mailbox{p + 1, end, nullptr, nullptr};
        break;
      default:
        break;
    }
  }
  current.end = end;
  take(current);
  // A value with no address in it (a name, "undisclosed-recipients:;")
  // stays as it is.
  if (!any_address) return value;
  return addresses;
}

}  // namespace contentfile_internal

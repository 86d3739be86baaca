// The head fields in the form handed out: bare addresses and a decoded
// subject.

#include <string>

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

std::string CMailParser::ExtractAddresses(const std::string& value) {
  std::string addresses;
  bool found_pair = false;
  const char* const end = value.data() + value.size();
  const char* position = value.data();
  while (position < end) {
    const char* open =
        FindCharMb(position, static_cast<size_t>(end - position), '<');
    if (open == nullptr) break;
    const char* close =
        FindCharMb(open + 1, static_cast<size_t>(end - open - 1), '>');
    if (close == nullptr) break;
    addresses.append(open + 1, close);
    addresses.push_back(',');
    found_pair = true;
    position = close;
  }
  if (!found_pair) return value;
  addresses.pop_back();
  return addresses;
}

}  // namespace contentfile_internal

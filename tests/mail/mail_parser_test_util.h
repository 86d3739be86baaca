// Test support for the mail parser: messages built in memory and access to
// the parser's single steps.

#ifndef CONTENTFILE_TESTS_MAIL_MAIL_PARSER_TEST_UTIL_H_
#define CONTENTFILE_TESTS_MAIL_MAIL_PARSER_TEST_UTIL_H_

#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "mail/mail_parser.h"
#include "platform/memory.h"

namespace contentfile_internal {

class MailParserTestPeer {
 public:
  static int32_t ParseMailHead(CMailParser& parser) {
    MessageWindow window(*parser.source_, parser.window_size_);
    if (!window.Reserve()) return CMailParser::kHeadReadFailed;
    return parser.ParseMailHead(window);
  }
};

}  // namespace contentfile_internal

namespace contentfile_test {

using contentfile_internal::CMailParser;
using contentfile_internal::ST_MAIL_PART;

// A parser that holds `message` in a buffer of its own, with its NUL.
inline std::unique_ptr<CMailParser> LoadMessage(std::string_view message) {
  contentfile_internal::Buffer buffer =
      contentfile_internal::AllocateBuffer(message.size() + 1);
  std::memcpy(buffer.get(), message.data(), message.size());
  buffer[message.size()] = '\0';
  auto parser = std::make_unique<CMailParser>();
  parser->SetContent(std::move(buffer), static_cast<uint32_t>(message.size()));
  return parser;
}

// The lines, each followed by CR LF.
inline std::string Lines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    text.append(line);
    text.append("\r\n");
  }
  return text;
}

// The stored content of a part, read back from the message.
inline std::string Content(const CMailParser& parser,
                           const ST_MAIL_PART& part) {
  if (part.nDataStart >= part.nEnd) return std::string();
  std::string content(part.nEnd - part.nDataStart, '\0');
  if (!parser.Source()->Read(part.nDataStart, content.data(), content.size())) {
    return "<unreadable>";
  }
  return content;
}

// The encoding a Content-Transfer-Encoding value selects.
inline contentfile_internal::TransferEncoding EncodingOf(
    std::string_view value) {
  return contentfile_internal::ParseTransferEncoding(value);
}

}  // namespace contentfile_test

#endif  // CONTENTFILE_TESTS_MAIL_MAIL_PARSER_TEST_UTIL_H_

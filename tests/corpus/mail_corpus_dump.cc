// Opens one mail message as a captured content file through the public
// interface and prints what a caller gets, as one line of JSON with every
// byte string in hexadecimal: the open's result, From, To, Cc, Subject, the
// mail text and each attachment's name and saved bytes.
//
// Usage: mail_corpus_dump MESSAGE.eml WORK_DIR

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "contentfile.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s MESSAGE.eml WORK_DIR\n", argv[0]);
    return 2;
  }
  const std::string work = argv[2];
  const std::string capture = work + "/message.cf";
  {
    std::ofstream out(capture, std::ios::binary);
    out << "14\r\nSMTP\r\nline3\r\n192.168.0.1\r\n1025\r\n10.0.0.2\r\n25\r\n";
    for (int line = 8; line <= 14; ++line) out << "line" << line << "\r\n";
    out << ReadAll(argv[1]);
  }
  CMailContentFile mail;
  const int32_t result = mail.OpenContentFile(capture.c_str());
  const CMailContentFile::ST_MAIL_LOG_INFO& info = mail.GetLogInfo();
  std::ostringstream json;
  json << "{\"result\":" << result << ",\"from\":\"" << Hex(info.szFrom)
       << "\",\"to\":\"" << Hex(info.szTo) << "\",\"cc\":\"" << Hex(info.szCc)
       << "\",\"subject\":\"" << Hex(info.szSubject) << "\"";
  std::string text(mail.GetMailTextSize(), '\0');
  text.resize(mail.GetMailText(&text[0], static_cast<uint32_t>(text.size())));
  json << ",\"text\":\"" << Hex(text) << "\",\"attachments\":[";
  for (int32_t i = 0; i < mail.GetAttachmentCount(); ++i) {
    char name[261] = {};
    uint32_t size = 0;
    mail.GetAttachmentInfo(i, name, 260, size);
    const std::string saved = work + "/attachment";
    const int32_t saved_result = mail.GetAttachment2File(i, saved.c_str());
    json << (i == 0 ? "" : ",") << "{\"name\":\"" << Hex(name)
         << "\",\"saved\":" << saved_result << ",\"data\":\""
         << Hex(ReadAll(saved)) << "\"}";
  }
  json << "]}";
  std::printf("%s\n", json.str().c_str());
  return 0;
}

// Test support for the hardening tests: a mail capture that reaches every
// decoding path, with the results a correct open must give.

#ifndef CONTENTFILE_TESTS_HARDENING_SAMPLE_MAIL_H_
#define CONTENTFILE_TESTS_HARDENING_SAMPLE_MAIL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

namespace contentfile_test {

// A multipart message with a quoted-printable mail text and three
// attachments, one for each way of storing content: base64 (index 0),
// quoted-printable (1) and as it stands (2).
struct SampleMail {
  std::string message;
  std::string text;                      // the mail text, decoded
  std::vector<std::string> names;        // attachment names, decoded
  std::vector<std::string> attachments;  // attachment contents, decoded
};

inline SampleMail MakeSampleMail(size_t attachment_size = 3000) {
  SampleMail mail;
  std::string binary(attachment_size, '\0');
  for (size_t i = 0; i < binary.size(); ++i) {
    binary[i] = static_cast<char>((i * 7919) >> 3);
  }
  mail.text = "Caf\xC3\xA9 = ok, a long line joined by a soft break.";
  mail.names = {"data.bin", "r\xC3\xA9sum\xC3\xA9.txt", "plain.txt"};
  mail.attachments = {binary, "line=1\r\nline 2", "as it stands\r\n"};
  mail.message =
      "From: Ann <ann@example.org>\r\n"
      "To: Bob <bob@example.org>, <carl@example.org>\r\n"
      "Cc: dan@example.org\r\n"
      "Subject: =?utf-8?B?SGVsbG8=?= =?utf-8?Q?w=C3=B6rld?=\r\n"
      "Content-Type: multipart/mixed; boundary=\"XX\"\r\n"
      "\r\n"
      "preamble\r\n"
      "--XX\r\n"
      "Content-Type: text/plain\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n"
      "\r\n"
      "Caf=C3=A9 =3D ok, a long line joined =\r\nby a soft break.\r\n"
      "--XX\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=\"data.bin\"\r\n"
      "\r\n" +
      EncodeBase64(binary) +
      "\r\n"
      "--XX\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n"
      "Content-Disposition: attachment;\r\n"
      " filename==?utf-8?Q?r=C3=A9sum=C3=A9?=.txt\r\n"
      "\r\n"
      "line=3D1\r\nline 2\r\n"
      "--XX\r\n"
      "Content-Type: text/plain; name=plain.txt\r\n"
      "\r\n"
      "as it stands\r\n\r\n"
      "--XX--\r\n"
      "epilogue\r\n";
  return mail;
}

// The message behind a complete 14-line head naming `protocol`.
inline std::string MakeCapture(const std::string& message,
                               const std::string& protocol = "SMTP") {
  return MakeHead(StandardHeadLines(protocol)) + message;
}

}  // namespace contentfile_test

#endif  // CONTENTFILE_TESTS_HARDENING_SAMPLE_MAIL_H_

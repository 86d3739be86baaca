// Test support for cfdump: running the built tool as a process, reading
// its JSON back, and captures generated for it.

#ifndef CONTENTFILE_TESTS_SUPPORT_CFDUMP_RUN_H_
#define CONTENTFILE_TESTS_SUPPORT_CFDUMP_RUN_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace cfdump_test {

// The built cfdump.
extern const char kCfdump[];

struct RunResult {
  int status = -1;  // the exit status; 128 when killed by a signal
  std::string out;
  std::string err;
};

// Runs cfdump with `args`; its standard input is the file `input` when
// given.
RunResult RunCfdump(const std::vector<std::string>& args,
                    const std::string& input = std::string());

// `text` split into lines, without their LF.
std::vector<std::string> Lines(const std::string& text);

// A JSON value; strings are kept as code points.
struct Json {
  enum Type { kNull, kBool, kNumber, kString, kArray, kObject } type = kNull;
  bool boolean = false;
  double number = 0;
  std::u32string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;

  const Json& operator[](const std::string& key) const {
    auto it = members.find(key);
    if (it == members.end()) throw std::runtime_error("no key " + key);
    return it->second;
  }
  bool is_null() const { return type == kNull; }
};

// Parses one JSON text; throws std::runtime_error on a syntax error or on
// raw bytes that are not UTF-8.
Json ParseJson(const std::string& line);

// Code points as UTF-8.
std::string Utf8(const std::u32string& text);

// The bytes of the string at `pointer` in a report, by the documented rule:
// strings listed in byte_strings are Latin-1, one byte per character; all
// others are UTF-8.
std::string BytesAt(const Json& report, const std::string& pointer);

struct Attachment {
  std::string filename;  // as written after filename= in the part header
  std::string encoding;  // Content-Transfer-Encoding, "" for none
  std::string stored;    // the part's content as it stands in the message
  std::string decoded;   // what extraction must save
};

Attachment Base64Attachment(const std::string& filename,
                            const std::string& bytes);

// A multipart mail: a text/plain part with `text`, then the attachments.
std::string Mail(const std::string& subject, const std::string& text,
                 const std::vector<Attachment>& attachments);

// A capture of the standard head naming `protocol`, then `body`.
std::string Capture(const std::string& protocol, const std::string& body);

std::string MailCapture(const std::string& subject,
                        const std::vector<Attachment>& attachments);

std::string RandomBytes(size_t size, uint32_t seed);

// Every regular file below `root` that extraction saved from a capture,
// by path, with its bytes (the folder marker and the digest list left out).
std::map<std::string, std::string> FilesBelow(const std::string& root);

}  // namespace cfdump_test

#endif  // CONTENTFILE_TESTS_SUPPORT_CFDUMP_RUN_H_

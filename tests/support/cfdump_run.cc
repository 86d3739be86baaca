#include "tests/support/cfdump_run.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <sstream>
#include <stdexcept>

#include "gtest/gtest.h"
#include "tests/support/test_files.h"

namespace cfdump_test {

namespace fs = std::filesystem;
using contentfile_test::EncodeBase64;
using contentfile_test::MakeHead;
using contentfile_test::ReadFile;
using contentfile_test::StandardHeadLines;
using contentfile_test::TempDir;

const char kCfdump[] = CONTENTFILE_BINARY_DIR "/tools/cfdump/cfdump";

// ---- running cfdump ----

RunResult RunCfdump(const std::vector<std::string>& args,
                    const std::string& input) {
  if (access(kCfdump, X_OK) != 0) {
    ADD_FAILURE() << kCfdump << " is not built";
    return RunResult();
  }
  TempDir streams;
  const std::string out_path = streams.File("out");
  const std::string err_path = streams.File("err");
  std::vector<std::string> argv_text = {kCfdump};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    if (!input.empty()) {
      int in = open(input.c_str(), O_RDONLY);
      if (in < 0 || dup2(in, 0) < 0) _exit(126);
    }
    execv(kCfdump, argv.data());
    _exit(127);
  }
  RunResult result;
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  result.out = ReadFile(out_path);
  result.err = ReadFile(err_path);
  return result;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// ---- a small JSON reader, strings kept as code points ----

namespace {

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : s_(text) {}
  Json Read() {
    Json value = Value();
    Space();
    if (pos_ != s_.size()) Fail("trailing bytes");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error("JSON: " + what + " at " + std::to_string(pos_));
  }
  void Space() {
    while (pos_ < s_.size() && s_[pos_] != '\0' &&
           std::strchr(" \t\r\n", s_[pos_]) != nullptr) {
      ++pos_;
    }
  }
  bool Eat(char c) {
    Space();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Word(const char* word) {
    size_t n = std::strlen(word);
    if (s_.compare(pos_, n, word) != 0) return false;
    pos_ += n;
    return true;
  }
  uint32_t Hex4() {
    if (pos_ + 4 > s_.size()) Fail("short \\u");
    uint32_t value =
        static_cast<uint32_t>(std::stoul(s_.substr(pos_, 4), nullptr, 16));
    pos_ += 4;
    return value;
  }
  std::u32string String() {
    if (!Eat('"')) Fail("string expected");
    std::u32string out;
    while (true) {
      if (pos_ >= s_.size()) Fail("open string");
      unsigned char c = static_cast<unsigned char>(s_[pos_++]);
      if (c == '"') return out;
      if (c < 0x20) Fail("raw control character");
      if (c == '\\') {
        char e = s_[pos_++];
        const char* from = "\"\\/bfnrt";
        const char* to = "\"\\/\b\f\n\r\t";
        if (const char* p = std::strchr(from, e); p != nullptr && e != 0) {
          out += static_cast<char32_t>(to[p - from]);
        } else if (e == 'u') {
          uint32_t unit = Hex4();
          if (unit >= 0xD800 && unit < 0xDC00 && Word("\\u")) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (Hex4() - 0xDC00);
          }
          out += static_cast<char32_t>(unit);
        } else {
          Fail("bad escape");
        }
      } else if (c < 0x80) {
        out += static_cast<char32_t>(c);
      } else {
        // Raw UTF-8: the reader insists on well-formed sequences.
        int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (length == 0) Fail("not UTF-8");
        uint32_t value = c & (0x3F >> (length - 1));
        for (int i = 1; i < length; ++i) {
          unsigned char next = static_cast<unsigned char>(s_[pos_++]);
          if ((next & 0xC0) != 0x80) Fail("not UTF-8");
          value = (value << 6) | (next & 0x3F);
        }
        out += static_cast<char32_t>(value);
      }
    }
  }
  Json Value() {
    Json v;
    Space();
    if (pos_ >= s_.size()) Fail("value expected");
    char c = s_[pos_];
    if (c == '{') {
      ++pos_;
      v.type = Json::kObject;
      if (Eat('}')) return v;
      do {
        std::u32string key = String();
        if (!Eat(':')) Fail(": expected");
        v.members[std::string(key.begin(), key.end())] = Value();
      } while (Eat(','));
      if (!Eat('}')) Fail("} expected");
    } else if (c == '[') {
      ++pos_;
      v.type = Json::kArray;
      if (Eat(']')) return v;
      do {
        v.items.push_back(Value());
      } while (Eat(','));
      if (!Eat(']')) Fail("] expected");
    } else if (c == '"') {
      v.type = Json::kString;
      v.text = String();
    } else if (Word("null")) {
    } else if (Word("true")) {
      v.type = Json::kBool;
      v.boolean = true;
    } else if (Word("false")) {
      v.type = Json::kBool;
    } else {
      size_t used = 0;
      v.type = Json::kNumber;
      v.number = std::stod(s_.substr(pos_, 32), &used);
      pos_ += used;
    }
    return v;
  }

  const std::string& s_;
  size_t pos_ = 0;
};

}  // namespace

Json ParseJson(const std::string& line) { return JsonReader(line).Read(); }

std::string Utf8(const std::u32string& text) {
  std::string out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The bytes of the string at `pointer` in a report, by the documented rule:
// strings listed in byte_strings are Latin-1, one byte per character; all
// others are UTF-8.
std::string BytesAt(const Json& report, const std::string& pointer) {
  const Json* value = &report;
  std::istringstream parts(pointer.substr(1));
  for (std::string part; std::getline(parts, part, '/');) {
    value = value->type == Json::kArray ? &value->items.at(std::stoul(part))
                                        : &(*value)[part];
  }
  EXPECT_EQ(value->type, Json::kString) << pointer;
  bool as_bytes = false;
  for (const Json& listed : report["byte_strings"].items) {
    if (Utf8(listed.text) == pointer) as_bytes = true;
  }
  if (!as_bytes) return Utf8(value->text);
  std::string bytes;
  for (char32_t c : value->text) {
    EXPECT_LE(c, 0xFFu) << pointer;
    bytes += static_cast<char>(c);
  }
  return bytes;
}

// ---- generated captures ----

Attachment Base64Attachment(const std::string& filename,
                            const std::string& bytes) {
  return {filename, "base64", EncodeBase64(bytes), bytes};
}

std::string Mail(const std::string& subject, const std::string& text,
                 const std::vector<Attachment>& attachments) {
  std::string m =
      "From: Sender <sender@example.org>\r\n"
      "To: <rcpt@example.net>\r\n"
      "Cc: <copy@example.net>\r\n";
  m += "Subject: " + subject + "\r\n";
  m += "Content-Type: multipart/mixed; boundary=\"b0undary\"\r\n"
       "\r\n"
       "--b0undary\r\n"
       "Content-Type: text/plain\r\n"
       "\r\n";
  m += text + "\r\n";
  for (const Attachment& a : attachments) {
    m += "--b0undary\r\nContent-Type: application/octet-stream\r\n";
    if (!a.encoding.empty()) {
      m += "Content-Transfer-Encoding: " + a.encoding + "\r\n";
    }
    m += "Content-Disposition: attachment; filename=\"" + a.filename +
         "\"\r\n\r\n" + a.stored + "\r\n";
  }
  return m + "--b0undary--\r\n";
}

std::string Capture(const std::string& protocol, const std::string& body) {
  return MakeHead(StandardHeadLines(protocol)) + body;
}

std::string MailCapture(const std::string& subject,
                        const std::vector<Attachment>& attachments) {
  return Capture("SMTP", Mail(subject, "Hello there.", attachments));
}

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  return bytes;
}

// Every regular file below `root` that extraction saved from a capture,
// by path, with its bytes (the folder marker and the digest list left out).
std::map<std::string, std::string> FilesBelow(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_symlink()) {
      ADD_FAILURE() << "link left in the extraction: " << entry.path();
    } else if (entry.is_regular_file() && name != ".cfdump-extract" &&
               name != "SHA256SUMS") {
      files[entry.path().string()] = ReadFile(entry.path().string());
    }
  }
  return files;
}

}  // namespace cfdump_test

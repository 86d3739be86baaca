#include "tools/cfdump/options.h"

#include <algorithm>
#include <cstring>

namespace cfdump {
namespace {

constexpr int kMostJobs = 256;

const char kHelp[] = R"(Usage: cfdump [info] [options] PATH...
       cfdump extract [options] PATH... -d DIR
       cfdump head FILE [-o OUT]
       cfdump body FILE [-o OUT]
       cfdump text FILE [-o OUT]

Reads the content files of a network content capture: a short log head (line
count, protocol, two IPv4 endpoints, further text lines) and the captured
body. A PATH that is a folder is searched recursively in name order; files
in it whose names begin with ".", links of every kind and folders that an
earlier extract wrote are skipped. A link named on the command line is
followed. "-" as PATH or FILE reads a capture from standard input.

Commands:
  info     (the default) a report per capture: the kind (HTTP POST, SMTP,
           POP3 or other, as head line 2 names it), head and body sizes, the
           endpoints as a.b.c.d:port -> a.b.c.d:port, the other head lines,
           line 9 for HTTP POST, and for mail From, To, Cc, Subject, the mail
           text size, the texts of the mail and the attachments (index,
           decoded size, stored size, name, SHA-256).
           A capture whose head cannot be read as its kind is shown as a
           plain content file (sizes and raw head) with a warning saying why;
           a file whose line 1 is no line count is named as no content file.
  extract  saves each capture into a folder of its own under DIR, named
           after the capture file: the texts of a mail ("text.txt",
           "text.html", then "text-2.txt"... in the order of the mail) and
           its attachments, or the body ("body") of any other capture or of
           a mail that cannot be parsed. Each folder gets a list of SHA-256
           digests of its texts and attachments, SHA256SUMS, that
           "sha256sum -c" checks (unless --hash leaves out sha256), and a
           marker file, .cfdump-extract, by which later runs skip it.
           Attachment names come from the mail and are not trusted: only
           their last path component is kept ("/" and "\" separate), control
           characters and marks of text direction become "_", a leading "-"
           becomes "_", the names "", "." and ".." (and names of dots only)
           are replaced by "attachment-INDEX" with an extension from the
           media type, device names such as CON or NUL get a leading "_",
           names longer than 255 bytes are shortened (extension kept), and a
           name already taken gets "-2", "-3"... before its extension. No
           existing file or folder is overwritten unless --force is given,
           a folder holding an input is never reused, and nothing is written
           outside DIR: every file is created new through folders held open,
           so links swapped in meanwhile are not followed. DIR is created if
           missing.
  head     writes the raw log head of FILE.
  body     writes the raw body of FILE.
  text     writes the decoded mail text of a mail capture FILE.

Options:
  --json             info, extract: JSON Lines, one object per capture
  -j, --jobs N       work on N captures at once (default: one per core);
                     the output keeps the order of the input
  -d, --dir DIR      extract: the folder to extract into
  -o, --output OUT   head, body, text: write to OUT ("-": standard output).
                     OUT is never the capture or a content file that a
                     program holds open, and is emptied only when the bytes
                     to write are in hand
  -f, --force        extract, -o: replace existing files
  -q, --quiet        info, extract: print only the paths of the files saved,
                     one a line; no report and no progress bar
  --hash LIST        digests to compute, of md5, sha1 and sha256 (default
                     sha256), e.g. --hash md5,sha1,sha256
  --utf8             info, extract, text: the subject, attachment names and
                     text also converted to UTF-8 from their declared
                     charsets (extract names files by the converted names);
                     where that fails, the bytes with a warning
  -h, --help         this text
  --version          the version of cfdump and of the library
  --                 every later argument is a PATH

On a terminal, a progress bar is drawn on standard error when more than four
captures are read. A summary (captures read, failures, files and bytes
saved, bytes read, time) ends every info and extract run on standard error.
Every failure names its file and says what happened; the run goes on with
the next capture.

JSON keys (every object has all of them; null where they do not apply):
  path         the capture's path ("-" for standard input)
  kind         "http_post", "smtp", "pop3", "other"; null when the head
               cannot be read
  status       "ok"; "partial": shown as a plain content file because it
               cannot be read as its kind; "failed"
  error        why the status is not "ok", in words; else null
  warnings     array of notes on the head that did not stop the report
  head_size, body_size, head
               sizes in bytes and the raw log head
  log          the analysed head: log_type (0 other, 1 HTTP POST, 3 SMTP,
               4 POP3), line3, line4_left, line4_right, src and dst
               ("a.b.c.d:port"), line9 (HTTP POST, else null), line11,
               line12, line13, line14
  mail         from, to, cc, subject, subject_utf8 (--utf8), text_size,
               attachments: array of {index, name, name_utf8 (--utf8),
               media_type, size (stored, encoded), decoded_size, md5, sha1,
               sha256}, texts: array of {part, media_type, charset,
               stored_size, decoded_size, md5, sha1, sha256}
  extract      extract only: dir (the capture's folder) and files: array of
               {index (of the attachment; null for texts and the body),
               part (in the mail; null for the body), name (as in the
               capture), file (the path written, null when nothing was),
               bytes, md5, sha1, sha256, error}
  byte_strings the JSON Pointers (e.g. "/mail/subject") of the strings in
               this object whose bytes are not valid UTF-8
Strings keep every byte. A string whose bytes are valid UTF-8 is written as
that text. Any other string is written byte by byte, each byte from 0x80 as
\u0080..\u00ff, and is listed in byte_strings: encode a listed string as
Latin-1 to get its bytes back. Control characters and marks of text
direction are escaped in both. In the text report, control characters and
bytes that are not UTF-8 are shown as \xNN, marks of text direction as
\uNNNN.

Exit status: 0 every capture was read (and saved); 1 any capture failed or
was only partly read; 2 usage error.

Examples:
  cfdump samples/
  cfdump --json -j 4 captures/ > report.jsonl
  cfdump extract captures/ -d out
  cfdump extract -q captures/ -d out | xargs file
  cfdump body post.cf -o post.bin
  cat mail.cf | cfdump text --utf8 - | less
)";

bool IsCommand(const char* word, Command* command) {
  static const struct {
    const char* name;
    Command command;
  } kCommands[] = {{"info", Command::kInfo},
                   {"extract", Command::kExtract},
                   {"head", Command::kHead},
                   {"body", Command::kBody},
                   {"text", Command::kText}};
  for (const auto& entry : kCommands) {
    if (std::strcmp(word, entry.name) == 0) {
      *command = entry.command;
      return true;
    }
  }
  return false;
}

bool ParseJobs(const std::string& text, int* jobs) {
  if (text.empty() || text.size() > 4) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > kMostJobs) return false;
  *jobs = value;
  return true;
}

// Matches `arg` against an option that takes a value, in the forms "-x V",
// "-xV", "--long V" and "--long=V" (`short_name` may be null). Returns false
// when `arg` is another option; sets *missing when the value is absent.
bool TakeValue(const char* arg, const char* short_name, const char* long_name,
               int argc, const char* const* argv, int* i, std::string* value,
               bool* missing) {
  const size_t long_length = std::strlen(long_name);
  const char* inline_value = nullptr;
  const bool is_short =
      short_name != nullptr && std::strcmp(arg, short_name) == 0;
  if (is_short || std::strcmp(arg, long_name) == 0) {
    // The value is the next argument.
  } else if (std::strncmp(arg, long_name, long_length) == 0 &&
             arg[long_length] == '=') {
    inline_value = arg + long_length + 1;
  } else if (short_name != nullptr &&
             std::strncmp(arg, short_name, std::strlen(short_name)) == 0 &&
             arg[std::strlen(short_name)] != '\0') {
    inline_value = arg + std::strlen(short_name);
  } else {
    return false;
  }
  if (inline_value != nullptr) {
    *value = inline_value;
  } else if (*i + 1 < argc) {
    *value = argv[++*i];
  } else {
    *missing = true;
  }
  return true;
}

ParseOutcome Usage(std::string* error, const std::string& message) {
  *error = message;
  return ParseOutcome::kUsageError;
}

}  // namespace

const char* HelpText() { return kHelp; }

ParseOutcome ParseOptions(int argc, const char* const* argv, Options* options,
                          std::string* error) {
  bool command_seen = false;
  bool only_paths = false;
  bool dir_given = false;
  bool output_given = false;
  bool jobs_given = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (only_paths || arg[0] != '-' || std::strcmp(arg, "-") == 0) {
      if (!command_seen && !only_paths && options->paths.empty()) {
        command_seen = true;
        if (IsCommand(arg, &options->command)) continue;
      }
      options->paths.push_back(arg);
      continue;
    }
    std::string value;
    bool missing = false;
    if (std::strcmp(arg, "--") == 0) {
      only_paths = true;
    } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
      return ParseOutcome::kHelp;
    } else if (std::strcmp(arg, "--version") == 0) {
      return ParseOutcome::kVersion;
    } else if (std::strcmp(arg, "--json") == 0) {
      options->json = true;
    } else if (std::strcmp(arg, "-f") == 0 ||
               std::strcmp(arg, "--force") == 0) {
      options->force = true;
    } else if (std::strcmp(arg, "-q") == 0 ||
               std::strcmp(arg, "--quiet") == 0) {
      options->quiet = true;
    } else if (TakeValue(arg, "-j", "--jobs", argc, argv, &i, &value,
                         &missing)) {
      if (missing) return Usage(error, "-j needs a number");
      if (!ParseJobs(value, &options->jobs)) {
        return Usage(error, "-j needs a number from 1 to " +
                                std::to_string(kMostJobs) + ", not \"" + value +
                                "\"");
      }
      jobs_given = true;
    } else if (std::strcmp(arg, "--utf8") == 0) {
      options->utf8 = true;
    } else if (TakeValue(arg, nullptr, "--hash", argc, argv, &i, &value,
                         &missing)) {
      if (missing || !ParseDigestChoice(value, &options->digests)) {
        return Usage(error, "--hash needs a list of md5, sha1 and sha256");
      }
    } else if (TakeValue(arg, "-d", "--dir", argc, argv, &i, &value,
                         &missing)) {
      if (missing || value.empty()) return Usage(error, "-d needs a folder");
      options->dir = value;
      dir_given = true;
    } else if (TakeValue(arg, "-o", "--output", argc, argv, &i, &value,
                         &missing)) {
      if (missing || value.empty()) return Usage(error, "-o needs a file");
      options->output = value;
      output_given = true;
    } else {
      return Usage(error, std::string("unknown option \"") + arg + "\"");
    }
  }

  const bool batch = options->command == Command::kInfo ||
                     options->command == Command::kExtract;
  if (options->paths.empty()) {
    return Usage(error, batch ? "no capture given" : "no FILE given");
  }
  if (options->command == Command::kExtract && !dir_given) {
    return Usage(error, "extract needs -d DIR");
  }
  if (options->command != Command::kExtract && dir_given) {
    return Usage(error, "-d is for extract only");
  }
  if (std::count(options->paths.begin(), options->paths.end(), "-") > 1) {
    return Usage(error, "\"-\" (standard input) can be read only once");
  }
  if (options->quiet && options->json) {
    return Usage(error, "-q prints only the saved paths, not --json");
  }
  if (batch && output_given) {
    return Usage(error, "-o is for head, body and text only");
  }
  if (!batch) {
    if (options->paths.size() > 1) {
      return Usage(error, "head, body and text take one FILE");
    }
    if (options->json) return Usage(error, "--json is for info and extract");
    if (jobs_given) return Usage(error, "-j is for info and extract");
    if (options->utf8 && options->command != Command::kText) {
      return Usage(error, "--utf8 is for info, extract and text");
    }
  }
  return ParseOutcome::kRun;
}

}  // namespace cfdump

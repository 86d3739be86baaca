#include "tools/cfdump/single_file.h"

#include <contentfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tools/cfdump/capture.h"
#include "tools/cfdump/charset.h"
#include "tools/cfdump/common.h"
#include "tools/cfdump/fd_io.h"
#include "tools/cfdump/output_target.h"
#include "tools/cfdump/result_words.h"
#include "tools/cfdump/stdin_spool.h"
#include "tools/cfdump/text_report.h"

namespace cfdump {
namespace {

int Failure(const std::string& path, const std::string& why) {
  std::fprintf(stderr, "cfdump: %s: %s\n", Printable(path).c_str(),
               Printable(why).c_str());
  return 1;
}

// Writes `bytes` where the options say: standard output or -o OUT, never
// onto `capture`, the file being read.
int Emit(const Options& options, const std::string& capture,
         const std::string& bytes) {
  const std::string& out =
      options.output.empty() ? std::string(kStdStream) : options.output;
  OutputTarget target;
  std::string error;
  if (!target.Open(out, capture, options.force, &error) ||
      !target.Write(bytes, &error)) {
    return Failure(out, error);
  }
  return 0;
}

// Saves the body through the library, which keeps it off the heap of this
// tool, leaves an existing OUT as it was when the save fails and refuses a
// content file held open, the capture included.
int SaveBody(const Options& options, const std::string& capture,
             CContentFile* file) {
  const std::string& out = options.output;
  const bool existed = Exists(out);
  if (existed && !options.force) {
    return Failure(out, "it exists; use --force to replace it");
  }
  struct stat target;
  struct stat input;
  if (::stat(out.c_str(), &target) == 0 &&
      ::stat(capture.c_str(), &input) == 0 && SameFile(target, input)) {
    return Failure(out, "it is the capture itself");
  }
  int32_t rc = file->SaveBody2File(out.c_str());
  if (rc == kEmptyBody) {
    // The library leaves an existing target as it was: empty it here, so
    // that OUT holds the body, which is empty.
    OutputTarget empty;
    std::string error;
    if (!empty.Open(out, capture, true, &error) ||
        !empty.Write(std::string_view(), &error)) {
      return Failure(out, error);
    }
    return 0;
  }
  if (rc != 0) {
    if (!existed) ::unlink(out.c_str());
    return Failure(out, rc == kCannotCreate
                            ? "cannot create it: " + WhyCannotWrite(out)
                            : SaveBodyInWords(rc));
  }
  return 0;
}

int RunHeadOrBody(const Options& options, const std::string& path) {
  const bool body = options.command == Command::kBody;
  CContentFile file;
  int32_t rc;
  try {
    rc = file.OpenContentFile(path.c_str());
  } catch (const CFileError& e) {
    return Failure(options.paths.front(), HeadReadErrorInWords(e));
  }
  if (rc != 0) {
    return Failure(options.paths.front(), BaseOpenInWords(rc, path));
  }
  if (body && !options.output.empty() && options.output != kStdStream) {
    return SaveBody(options, path, &file);
  }
  if (body) {
    // Streamed by the library, never held whole in memory here.
    OutputTarget target;
    std::string error;
    if (!target.Open(kStdStream, path, false, &error)) {
      return Failure(kStdStream, error);
    }
    std::fflush(stdout);
    rc = file.SaveBody2Fd(STDOUT_FILENO);
    if (rc != 0 && rc != kEmptyBody) {
      return Failure(kStdStream, SaveBodyInWords(rc));
    }
    return 0;
  }
  std::string bytes;
  std::string error;
  if (!ReadRange(&file, body, &bytes, &error)) {
    return Failure(options.paths.front(), error);
  }
  return Emit(options, path, bytes);
}

int RunText(const Options& options, const std::string& path) {
  Capture capture(options.paths.front(), path);
  const CaptureReport& report = capture.report();
  if (report.status == Status::kFailed && !report.head_read) {
    return Failure(report.path, report.error);
  }
  if (report.kind != Kind::kSmtp && report.kind != Kind::kPop3) {
    return Failure(
        report.path,
        std::string("not a mail capture: head line 2 names ") +
            (report.kind == Kind::kHttpPost ? "HTTP POST"
                                            : "neither SMTP nor POP3"));
  }
  if (!report.has_mail) return Failure(report.path, report.error);
  const uint32_t size = report.text_size;
  std::string text(size, '\0');
  if (size > 0) {
    text.resize(capture.mail()->GetMailText(text.data(), size));
  }
  if (options.utf8) {
    // The mail text is the first text of the mail.
    const std::string charset =
        report.texts.empty() ? std::string() : report.texts.front().charset;
    std::string converted;
    std::string why;
    if (!ConvertToUtf8(text, charset, &converted, &why)) {
      std::fprintf(stderr, "cfdump: %s: warning: text: %s; written as is\n",
                   Printable(report.path).c_str(), Printable(why).c_str());
    }
    text = std::move(converted);
  }
  return Emit(options, path, text);
}

}  // namespace

int RunSingleFile(const Options& options) {
  try {
    // A capture on standard input is read from a private copy.
    StdinSpool spool;
    std::string path = options.paths.front();
    if (path == kStdStream) {
      std::string error;
      if (!spool.Spool(&error)) return Failure(path, error);
      path = spool.path();
    }
    return options.command == Command::kText ? RunText(options, path)
                                             : RunHeadOrBody(options, path);
  } catch (const std::bad_alloc&) {
    return Failure(options.paths.front(), "out of memory");
  }
}

}  // namespace cfdump

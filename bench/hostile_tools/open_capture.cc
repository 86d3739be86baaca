// Driver of bench/hostile over the public interface only: opens one capture
// in a process of its own and, for a mail capture, reads what a client reads
// of it: the record, the mail text into a buffer of its size, the names of
// the attachments and the first ones (and the last) saved into a file.
//
//   open_capture mail|post CAPTURE SCRATCH_FILE MAX_SAVED
//
// Prints to standard error (run_measured, which starts it, discards its
// standard output) "result N", "attachments N", "text_bytes N",
// "open_seconds S" and "seconds S" (the open and every retrieval, timed
// inside the process).
// Exits with 0 when every call ran and returned what it documents, however
// the open itself ended; 1 when a retrieval failed.

#include <contentfile.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The open's result; 1 for a head without a line the analysis needs, which
// the open documents as raised.
int32_t Open(CContentFile& file, const char* capture) {
  try {
    return file.OpenContentFile(capture);
  } catch (const std::invalid_argument&) {
    return 1;
  }
}

void Report(int32_t result, int32_t count, uint32_t text_bytes,
            double open_seconds, double seconds) {
  std::fprintf(stderr, "result %d\nattachments %d\ntext_bytes %u\n", result,
               count, text_bytes);
  std::fprintf(stderr, "open_seconds %.6f\nseconds %.6f\n", open_seconds,
               seconds);
}

int RunMail(const char* capture, const char* scratch, int32_t max_saved) {
  const Clock::time_point start = Clock::now();
  CMailContentFile mail;
  const int32_t result = Open(mail, capture);
  const double open_seconds = Since(start);
  int failures = 0;
  volatile char sink = mail.GetLogInfo().szSubject[0];
  (void)sink;
  const uint32_t text_size = mail.GetMailTextSize();
  std::vector<char> text(text_size);
  uint32_t text_bytes = 0;
  if (text_size > 0) text_bytes = mail.GetMailText(text.data(), text_size);
  const int32_t count = mail.GetAttachmentCount();
  for (int32_t i = 0; i < count; ++i) {
    char name[261] = {};
    uint32_t size = 0;
    if (mail.GetAttachmentInfo(i, name, 260, size) != 0) ++failures;
    if (i < max_saved || i == count - 1) {
      if (mail.GetAttachment2File(i, scratch) != 0) ++failures;
    }
  }
  Report(result, count, text_bytes, open_seconds, Since(start));
  return failures == 0 ? 0 : 1;
}

int RunPost(const char* capture) {
  const Clock::time_point start = Clock::now();
  CHttpPostContentFile post;
  const int32_t result = Open(post, capture);
  const double seconds = Since(start);
  Report(result, 0, 0, seconds, seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr,
                 "usage: open_capture mail|post CAPTURE SCRATCH MAX_SAVED\n");
    return 2;
  }
  const std::string kind = argv[1];
  try {
    if (kind == "post") return RunPost(argv[2]);
    return RunMail(argv[2], argv[3], std::atoi(argv[4]));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "open_capture: %s raised: %s\n", argv[2], e.what());
    return 1;
  }
}

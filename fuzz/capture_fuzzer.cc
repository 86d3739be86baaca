// A whole capture from arbitrary bytes: the bytes written to a file, opened
// as each of the three kinds of content file, then every retrieval
// operation, the body and the attachments saved into the scratch folder.
//
// Beyond the sanitizers' watch it checks what a caller relies on: the head
// and body read back are the file's own bytes, saved files hold no more than
// they should, no descriptor outlives its objects, and no file is written
// but those named (the capture itself, named as a target, stays as it was).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>

#include "contentfile.h"
#include "fuzz/fuzz_support.h"

namespace {

using contentfile_fuzz::FileSize;
using contentfile_fuzz::ReadBytes;
using contentfile_fuzz::ScratchPath;

constexpr int32_t kMaxSaved = 8;
constexpr int32_t kNameLength = 261;

template <size_t kWidth>
void CheckField(const char (&field)[kWidth]) {
  FUZZ_CHECK(strnlen(field, kWidth) < kWidth);
}

struct Paths {
  std::string capture = ScratchPath("capture.cf");
  std::string body = ScratchPath("body");
  std::string attachment = ScratchPath("attachment");
};

void ExerciseContentFile(const Paths& paths, const std::string& bytes) {
  CContentFile file;
  const int32_t result = file.OpenContentFile(paths.capture.c_str());
  FUZZ_CHECK(result == 0 || result == -3 || result == -4);
  if (result != 0) {
    // -3 and -4 leave the file open with no head and no body.
    FUZZ_CHECK(file.GetHeadSize() == 0 && file.GetBodySize() == 0);
    return;
  }
  const uint32_t head_size = file.GetHeadSize();
  const uint32_t body_size = file.GetBodySize();
  FUZZ_CHECK(static_cast<size_t>(head_size) + body_size == bytes.size());
  FUZZ_CHECK(head_size > 0);

  std::unique_ptr<char[]> head(new char[head_size]);
  uint32_t length = head_size;
  FUZZ_CHECK(file.GetContentHead(head.get(), length) == 0);
  FUZZ_CHECK(length == head_size);
  FUZZ_CHECK(std::memcmp(head.get(), bytes.data(), head_size) == 0);

  if (body_size > 0) {
    std::unique_ptr<char[]> body(new char[body_size]);
    length = body_size;
    FUZZ_CHECK(file.GetContentBody(body.get(), length) == 0);
    FUZZ_CHECK(length == body_size);
    FUZZ_CHECK(std::memcmp(body.get(), bytes.data() + head_size, body_size) ==
               0);
    char first = 0;
    length = 1;
    FUZZ_CHECK(file.GetContentBody(&first, length) == 0 && length == 1);
    FUZZ_CHECK(first == bytes[head_size]);
  }

  const int32_t saved = file.SaveBody2File(paths.body.c_str());
  FUZZ_CHECK(saved == (body_size == 0 ? -3 : 0));
  if (saved == 0) FUZZ_CHECK(ReadBytes(paths.body) == bytes.substr(head_size));
  // The content file itself is no target while it is open.
  FUZZ_CHECK(file.SaveBody2File(paths.capture.c_str()) == -2);
}

void ExerciseHttpPost(const Paths& paths) {
  CHttpPostContentFile post;
  try {
    const int32_t result = post.OpenContentFile(paths.capture.c_str());
    FUZZ_CHECK(result == 0 || result == -10 || result == -11);
  } catch (const std::invalid_argument&) {
  } catch (const CFileError&) {
  }
  const ST_HTTPPOST_LOG_INFO& info = post.GetLogInfo();
  CheckField(info.szLine3);
  CheckField(info.szLine9);
  CheckField(info.szLine14);
}

// `parsed`: the open attached a parser (it returned 0 or raised for a short
// head); without one every retrieval answers as for a closed object.
void ExerciseMailRetrieval(const Paths& paths, const CMailContentFile& mail,
                           bool parsed) {
  const ST_MAIL_LOG_INFO& info = mail.GetLogInfo();
  CheckField(info.szFrom);
  CheckField(info.szTo);
  CheckField(info.szCc);
  CheckField(info.szSubject);

  const uint32_t body_size = mail.GetBodySize();
  const int32_t count = mail.GetAttachmentCount();
  FUZZ_CHECK(count >= 0);
  FUZZ_CHECK(parsed || count == 0);
  const int32_t info_result = parsed ? 0 : -1;
  for (int32_t index = -1; index <= count && index <= kMaxSaved; ++index) {
    const bool exists = index >= 0 && index < count;
    // Name buffers of exactly the length passed, from none to a full one.
    uint32_t size = 0;
    FUZZ_CHECK(mail.GetAttachmentInfo(index, nullptr, 0, size) == info_result);
    for (const int32_t length : {1, 7, kNameLength}) {
      std::unique_ptr<char[]> name(new char[length]);
      size = 0xFFFFFFFF;
      FUZZ_CHECK(mail.GetAttachmentInfo(index, name.get(), length, size) ==
                 info_result);
      if (exists) FUZZ_CHECK(size <= body_size);
    }
    const int32_t saved =
        mail.GetAttachment2File(index, paths.attachment.c_str());
    if (exists) {
      FUZZ_CHECK(saved == 0);
      FUZZ_CHECK(FileSize(paths.attachment) >= 0);
      FUZZ_CHECK(static_cast<uint64_t>(FileSize(paths.attachment)) <= size);
    } else {
      // No such attachment: the path is not touched.
      FUZZ_CHECK(saved == (parsed ? -14 : -1));
      FUZZ_CHECK(FileSize(paths.attachment) == -1);
    }
    std::remove(paths.attachment.c_str());
  }
  if (count > 0) {
    // The open capture is refused as a target and stays as it was.
    FUZZ_CHECK(mail.GetAttachment2File(0, paths.capture.c_str()) == -11);
  }

  const uint32_t text_size = mail.GetMailTextSize();
  FUZZ_CHECK(text_size <= body_size);
  std::unique_ptr<char[]> text(new char[text_size == 0 ? 1 : text_size]);
  FUZZ_CHECK(mail.GetMailText(text.get(), text_size) <= text_size);
}

void ExerciseMail(const Paths& paths) {
  auto mail = std::make_unique<CMailContentFile>();
  bool parsed = false;
  try {
    const int32_t result = mail->OpenContentFile(paths.capture.c_str());
    FUZZ_CHECK(result == 0 || (result >= -4 && result <= -1) ||
               (result >= -16 && result <= -11));
    parsed = result == 0;
  } catch (const std::invalid_argument&) {
    parsed = true;  // the parser stays attached; the mail fields are empty
  } catch (const CFileError&) {
  }
  if (!parsed) FUZZ_CHECK(mail->GetMailTextSize() == 0);
  ExerciseMailRetrieval(paths, *mail, parsed);

  // A copy keeps working once the original is closed and gone, and reads
  // the same mail text.
  const uint32_t text_size = mail->GetMailTextSize();
  std::string text(text_size, '\0');
  text.resize(mail->GetMailText(text.data(), text_size));
  CMailContentFile copy(*mail);
  mail->CloseContentFile();
  mail.reset();
  FUZZ_CHECK(copy.GetMailTextSize() == text_size);
  std::string again(text_size, '\0');
  again.resize(copy.GetMailText(again.data(), text_size));
  FUZZ_CHECK(again == text);
  CMailContentFile assigned;
  assigned = copy;
  FUZZ_CHECK(assigned.GetAttachmentCount() == copy.GetAttachmentCount());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 24)) return 0;
  static const Paths paths;
  static const std::set<std::string> kNamed = {"capture.cf", "body",
                                               "attachment"};
  contentfile_fuzz::ClearScratch();
  contentfile_fuzz::WriteBytes(paths.capture, data, size);
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const int descriptors = contentfile_fuzz::OpenDescriptors();

  ExerciseContentFile(paths, bytes);
  ExerciseHttpPost(paths);
  ExerciseMail(paths);

  FUZZ_CHECK(contentfile_fuzz::OpenDescriptors() == descriptors);
  FUZZ_CHECK(ReadBytes(paths.capture) == bytes);
  for (const std::string& name : contentfile_fuzz::ScratchNames()) {
    FUZZ_CHECK(kNamed.count(name) == 1);
  }
  return 0;
}

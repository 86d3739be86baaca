// Result codes and raised errors of the library, said in words for people.
// Every text names the code too, so a report can be matched with the
// library's documentation.

#ifndef CONTENTFILE_TOOLS_CFDUMP_RESULT_WORDS_H_
#define CONTENTFILE_TOOLS_CFDUMP_RESULT_WORDS_H_

#include <contentfile.h>

#include <cstdint>
#include <string>

namespace cfdump {

// CContentFile::OpenContentFile. `path` refines -2 with the reason the
// file system gives.
std::string BaseOpenInWords(int32_t code, const std::string& path);
// CHttpPostContentFile::OpenContentFile.
std::string HttpPostOpenInWords(int32_t code);
// CMailContentFile::OpenContentFile.
std::string MailOpenInWords(int32_t code, const std::string& path);
// GetContentHead and GetContentBody.
std::string ReadRangeInWords(int32_t code);
// SaveBody2File.
std::string SaveBodyInWords(int32_t code);
// The part and attachment retrievals of CMailContentFile (StreamPart,
// GetAttachment2File and their kin).
std::string PartInWords(int32_t code);
// CMailContentFile::GetAttachmentInfo.
std::string AttachmentInfoInWords(int32_t code);
// An errno value, e.g. "No such file or directory".
std::string ErrnoInWords(int error_number);
// The CFileError that OpenContentFile raises when reading the head fails.
std::string HeadReadErrorInWords(const CFileError& error);

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_RESULT_WORDS_H_

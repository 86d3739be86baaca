// CContentFile: opening a content file, finding its head and body ranges,
// reading them and saving the body.

#include <cstring>
#include <new>
#include <string>

#include "content/content_access.h"
#include "content/result_codes.h"
#include "contentfile.h"
#include "platform/descriptor.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/text.h"

using contentfile_internal::FileHandle;

namespace {
// Body bytes SaveBody2Fd reads and writes at a time.
constexpr uint32_t kBodyWindow = uint32_t{256} << 10;
// The capture's first bytes that an open reads once and holds while it
// lasts: the whole of most captures of small messages.
constexpr size_t kOpenPrefixSize = size_t{64} << 10;
}  // namespace

CContentFile::CContentFile() { ClearState(); }

CContentFile::CContentFile(const CContentFile& other) = default;

CContentFile& CContentFile::operator=(const CContentFile& other) = default;

CContentFile::~CContentFile() {
  m_hFile.reset();
  ClearState();
}

void CContentFile::ClearState() {
  std::memset(m_szFileName, 0, sizeof(m_szFileName));
  m_hFile.reset();
  m_dwFileSize = 0;
  m_dwHeadOffset = 0;
  m_dwHeadSize = 0;
  m_dwBodyOffset = 0;
  m_dwBodySize = 0;
}

int32_t CContentFile::OpenContentFile(const char* path) {
  contentfile_internal::OpenPrefix prefix(*this);
  return contentfile_internal::ContentFileAccess::OpenHoldingPrefix(*this,
                                                                    path);
}

namespace contentfile_internal {

int32_t ContentFileAccess::OpenHoldingPrefix(CContentFile& f,
                                             const char* path) {
  f.CloseContentFile();
  if (path == nullptr) return kOpenNullPath;

  const size_t path_length = strnlen(path, kMaxPathLength + 1);
  std::memcpy(f.m_szFileName, path,
              path_length > kMaxPathLength ? kMaxPathLength : path_length);
  // A longer path is refused by the open (a cut path may name another
  // file). Out of memory anywhere in the open, also while a file error is
  // being raised, closes the file again: the open failed.
  try {
    std::unique_ptr<FileHandle> file = FileHandle::Open(path);
    if (!file) return kOpenCannotOpen;
    f.m_hFile = std::move(file);
    f.m_dwFileSize = f.m_hFile->size();
    // The head lines are read from here, and the open that called this
    // reads them again, with a small message after them.
    f.m_hFile->HoldPrefix(kOpenPrefixSize);

    // The head ends with line N, N being the number on line 1. A file error
    // while reading the lines leaves the file open with sizes 0.
    LineReader reader(*f.m_hFile);
    // Line 1 is read by the rules of atoi as it streams in, so a line of
    // any length costs no memory.
    DecimalScanner count;
    if (!reader.ReadLine(count)) return kOpenEmptyFile;
    const int64_t lines = count.value();
    for (int64_t line = 1; line < lines; ++line) {
      if (!reader.ReadLine([](const char*, size_t) {})) return kOpenHeadCut;
    }

    f.m_dwHeadOffset = 0;
    f.m_dwHeadSize = static_cast<uint32_t>(reader.consumed());
    f.m_dwBodyOffset = f.m_dwHeadSize + f.m_dwHeadOffset;
    f.m_dwBodySize = f.m_dwFileSize - f.m_dwHeadSize - f.m_dwHeadOffset;
    return kOk;
  } catch (const std::bad_alloc&) {
    f.m_hFile.reset();
    f.m_dwFileSize = 0;
    return kOpenCannotOpen;
  }
}

}  // namespace contentfile_internal

int32_t CContentFile::CloseContentFile() {
  ClearState();
  return contentfile_internal::kOk;
}

uint32_t CContentFile::GetHeadSize() const {
  return m_hFile ? m_dwHeadSize : 0;
}

uint32_t CContentFile::GetBodySize() const {
  return m_hFile ? m_dwBodySize : 0;
}

int32_t CContentFile::GetContentHead(char* buffer, uint32_t& length) {
  return ReadRange(m_dwHeadOffset, m_dwHeadSize, buffer, length);
}

int32_t CContentFile::GetContentBody(char* buffer, uint32_t& length) {
  return ReadRange(m_dwBodyOffset, m_dwBodySize, buffer, length);
}

int32_t CContentFile::ReadRange(uint32_t offset, uint32_t size, char* buffer,
                                uint32_t& length) {
  using namespace contentfile_internal;
  if (!m_hFile) return kReadNoFile;
  if (buffer == nullptr || length == 0) return kReadBadArgument;
  const uint32_t n = size < length ? size : length;
  try {
    if (m_hFile->ReadAt(offset, buffer, n) != n) return kReadShort;
  } catch (const CFileError&) {
    return kReadFileError;
  }
  length = n;
  return kOk;
}

int32_t CContentFile::SaveBody2File(const char* path) {
  using namespace contentfile_internal;
  if (!m_hFile) return kSaveNoFile;
  // The target is opened without truncation and locked: a content file
  // held open by any object refuses the lock and stays untouched, and an
  // existing target is emptied only once the body is in hand.
  std::unique_ptr<OutputFile> target = OutputFile::Create(path);
  if (!target) return kSaveCannotCreate;

  uint32_t size = GetBodySize();
  if (size == 0) return kSaveEmptyBody;
  Buffer body = AllocateBuffer(size);
  if (!body) return kSaveNoMemory;
  if (GetContentBody(body.get(), size) != kOk) return kSaveReadFailed;
  try {
    target->Truncate();
    target->Write(body.get(), size);
    target->Close();
  } catch (const CFileError&) {
    return kSaveWriteFailed;
  }
  return kOk;
}

int32_t CContentFile::SaveBody2Fd(int fd) {
  using namespace contentfile_internal;
  if (!m_hFile) return kSaveNoFile;
  bool regular = false;
  if (CheckWriteTarget(fd, m_hFile.get(), &regular) != WriteTarget::kUsable) {
    return kSaveCannotCreate;
  }
  const uint32_t size = GetBodySize();
  if (size == 0) return kSaveEmptyBody;
  // Nothing here can be kept as it was (the descriptor is never emptied),
  // so the body goes across window by window rather than in one buffer.
  const uint32_t window = size < kBodyWindow ? size : kBodyWindow;
  Buffer buffer = AllocateBuffer(window);
  if (!buffer) return kSaveNoMemory;
  try {
    const std::string name = "descriptor " + std::to_string(fd);
    for (uint32_t at = 0; at < size;) {
      const uint32_t n = size - at < window ? size - at : window;
      try {
        if (m_hFile->ReadAt(uint64_t{m_dwBodyOffset} + at, buffer.get(), n) !=
            n) {
          return kSaveReadFailed;
        }
      } catch (const CFileError&) {
        return kSaveReadFailed;
      }
      try {
        WriteAll(fd, buffer.get(), n, name, !regular);
      } catch (const CFileError&) {
        return kSaveWriteFailed;
      }
      at += n;
    }
  } catch (const std::bad_alloc&) {
    return kSaveNoMemory;
  }
  return kOk;
}

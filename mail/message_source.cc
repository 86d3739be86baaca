#include "mail/message_source.h"

#include <cstring>
#include <new>

#include "contentfile.h"
#include "platform/file.h"

namespace contentfile_internal {

bool MemorySource::Read(uint32_t offset, char* buffer, size_t length) const {
  if (length > 0) std::memcpy(buffer, data_.get() + offset, length);
  return true;
}

bool FileRangeSource::Read(uint32_t offset, char* buffer, size_t length) const {
  try {
    return file_->ReadAt(uint64_t{offset_} + offset, buffer, length) == length;
  } catch (const CFileError&) {
    return false;
  } catch (const std::bad_alloc&) {
    // Out of memory while a read's file error is being raised: a failed
    // read all the same.
    return false;
  }
}

}  // namespace contentfile_internal

// Heap buffers for message bodies, header copies and decoding: allocation
// failure is reported as a null buffer, never raised, so that each caller
// can turn it into its own result code.

#ifndef CONTENTFILE_PLATFORM_MEMORY_H_
#define CONTENTFILE_PLATFORM_MEMORY_H_

#include <cstddef>
#include <memory>
#include <new>

#include "platform/fault_injection.h"

namespace contentfile_internal {

struct BufferDeleter {
  void operator()(char* p) const noexcept;
};
using Buffer = std::unique_ptr<char[], BufferDeleter>;

// An uninitialised buffer of `size` bytes (at least one byte is always
// reserved), or a null buffer when memory runs out.
Buffer AllocateBuffer(size_t size) noexcept;

// A new object of type T, or null when memory runs out (its constructor's
// own std::bad_alloc included).
template <typename T>
std::unique_ptr<T> NewObject() noexcept {
  if (ShouldFail(Fault::kAllocation)) return nullptr;
  try {
    return std::unique_ptr<T>(new T());
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace contentfile_internal

#endif  // CONTENTFILE_PLATFORM_MEMORY_H_

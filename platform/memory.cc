#include "platform/memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

#include "platform/fault_injection.h"

namespace contentfile_internal {
namespace {

// Large buffers (message bodies) are aligned to the huge page size and
// advised to use huge pages: filling fresh memory page by page costs more
// than reading the file itself, and huge pages cut the page faults by 512.
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kHugeBufferThreshold = size_t{8} << 20;

}  // namespace

void BufferDeleter::operator()(char* p) const noexcept { std::free(p); }

Buffer AllocateBuffer(size_t size) noexcept {
  if (ShouldFail(Fault::kAllocation)) return Buffer();
  if (size >= kHugeBufferThreshold && size <= SIZE_MAX - kHugePage) {
    const size_t rounded = (size + kHugePage - 1) & ~(kHugePage - 1);
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (p == nullptr) return Buffer();
#ifdef MADV_HUGEPAGE
    ::madvise(p, rounded, MADV_HUGEPAGE);  // advice only: failure is fine
#endif
    return Buffer(static_cast<char*>(p));
  }
  return Buffer(static_cast<char*>(std::malloc(size == 0 ? 1 : size)));
}

}  // namespace contentfile_internal

#include "platform/memory.h"

#include <cstdlib>

#include "platform/fault_injection.h"

namespace contentfile_internal {

void BufferDeleter::operator()(char* p) const noexcept { std::free(p); }

// Plain heap memory: no alignment or page advice, so that the cost of a
// buffer does not depend on how fragmented the machine's memory is.
Buffer AllocateBuffer(size_t size) noexcept {
  if (ShouldFail(Fault::kAllocation)) return Buffer();
  return Buffer(static_cast<char*>(std::malloc(size == 0 ? 1 : size)));
}

}  // namespace contentfile_internal

#include "platform/memory.h"

#include <cstdlib>

#include "platform/fault_injection.h"

namespace contentfile_internal {

void BufferDeleter::operator()(char* p) const noexcept { std::free(p); }

Buffer AllocateBuffer(size_t size) noexcept {
  if (ShouldFail(Fault::kAllocation)) return Buffer();
  return Buffer(static_cast<char*>(std::malloc(size == 0 ? 1 : size)));
}

}  // namespace contentfile_internal

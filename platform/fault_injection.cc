#include "platform/fault_injection.h"

#ifdef CONTENTFILE_TESTING

namespace contentfile_internal {
namespace {

struct Pending {
  int skip = 0;
  int count = 0;
};

// Test builds only: one pending fault per kind, per thread.
thread_local Pending pending[4];

}  // namespace

void InjectFault(Fault kind, int skip, int count) {
  pending[static_cast<int>(kind)] = Pending{skip, count};
}

void ClearFaults() {
  for (Pending& p : pending) p = Pending{};
}

bool ShouldFail(Fault kind) {
  Pending& p = pending[static_cast<int>(kind)];
  if (p.count <= 0) return false;
  if (p.skip > 0) {
    --p.skip;
    return false;
  }
  --p.count;
  return true;
}

}  // namespace contentfile_internal

#endif  // CONTENTFILE_TESTING

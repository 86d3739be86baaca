// Test seam for failure paths: in the test build (CONTENTFILE_TESTING) a
// test can make the next allocations, reads, writes or closes of the
// platform layer fail on the calling thread. In the library as shipped the
// seam compiles to nothing and keeps no state.

#ifndef CONTENTFILE_PLATFORM_FAULT_INJECTION_H_
#define CONTENTFILE_PLATFORM_FAULT_INJECTION_H_

namespace contentfile_internal {

enum class Fault { kAllocation, kRead, kWrite, kClose };

#ifdef CONTENTFILE_TESTING
// Lets `skip` operations of `kind` succeed, then fails the next `count`.
void InjectFault(Fault kind, int skip, int count = 1);
// Cancels every pending fault of the calling thread.
void ClearFaults();
// Consumed by the platform layer: true when this operation must fail.
bool ShouldFail(Fault kind);
#else
inline bool ShouldFail(Fault) { return false; }
#endif

}  // namespace contentfile_internal

#endif  // CONTENTFILE_PLATFORM_FAULT_INJECTION_H_

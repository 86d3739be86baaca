#include "codec/cpu_features.h"

namespace contentfile_internal {

bool CpuHasAvx2() {
#ifdef CONTENTFILE_HAVE_AVX2_KERNELS
  static const bool has_avx2 = [] {
    // The decoders may run from static initialisers of a caller, before the
    // compiler's own CPU probe has run.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has_avx2;
#else
  return false;
#endif
}

}  // namespace contentfile_internal

// The bulk kernels of the quoted-printable decoder. A kernel decodes the
// bulk of a content, runs of plain bytes and the "=" sequences between
// them, and leaves its last stretch, where the input may end inside an "="
// sequence, to the byte rules of quoted_printable.cc. Every kernel gives the
// same bytes; they differ only in speed and in the instructions they need.

#ifndef CONTENTFILE_CODEC_QUOTED_PRINTABLE_KERNELS_H_
#define CONTENTFILE_CODEC_QUOTED_PRINTABLE_KERNELS_H_

#include "codec/cpu_features.h"

namespace contentfile_internal {

// Decodes from `in`, which is not inside an "=" sequence, writing at *out
// and moving *out past what it wrote; returns where it stopped, again not
// inside an "=" sequence. Reads nothing outside [in, end). It may store
// bytes beyond *out, but only where the decoding of the rest of [in, end)
// is sure to write again, so that nothing beyond the final count is left
// changed. Null when this CPU has no bulk kernel: the byte rules then take
// the whole input.
using QPKernel = const unsigned char* (*)(const unsigned char* in,
                                          const unsigned char* end,
                                          unsigned char** out);

#ifdef CONTENTFILE_HAVE_AVX2_KERNELS
// 32 bytes at a time. REQUIRES: CpuHasAvx2().
const unsigned char* QPDecodeBulkAvx2(const unsigned char* in,
                                      const unsigned char* end,
                                      unsigned char** out);
#endif

// The fastest kernel this CPU runs, or null.
QPKernel SelectedQPKernel();

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CODEC_QUOTED_PRINTABLE_KERNELS_H_

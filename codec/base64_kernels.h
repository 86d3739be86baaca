// The bulk kernels of the base64 decoder. A kernel decodes the stretch where
// the input comes in whole groups of four alphabet characters, stepping over
// line breaks that fall between groups, and stops where anything else
// begins: the byte rules of base64.cc take over there and call the kernel
// again once a group is complete. Every kernel gives the same bytes; they
// differ only in speed and in the instructions they need.

#ifndef CONTENTFILE_CODEC_BASE64_KERNELS_H_
#define CONTENTFILE_CODEC_BASE64_KERNELS_H_

#include <cstdint>

#include "codec/cpu_features.h"

namespace contentfile_internal {

// Decodes whole groups from `in`, which starts a group, writing three bytes
// per group at *out and moving *out past them; returns where it stopped, a
// position where a group begins (or `end`). Reads nothing outside
// [in, end) and writes exactly the bytes it counts.
using Base64Kernel = const unsigned char* (*)(const unsigned char* in,
                                              const unsigned char* end,
                                              unsigned char** out);

// Four table look-ups per group; runs anywhere.
const unsigned char* Base64DecodeGroupsPortable(const unsigned char* in,
                                                const unsigned char* end,
                                                unsigned char** out);

#ifdef CONTENTFILE_HAVE_AVX2_KERNELS
// 32 characters at a time. REQUIRES: CpuHasAvx2().
const unsigned char* Base64DecodeGroupsAvx2(const unsigned char* in,
                                            const unsigned char* end,
                                            unsigned char** out);
#endif

// The fastest kernel this CPU runs.
Base64Kernel SelectedBase64Kernel();

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CODEC_BASE64_KERNELS_H_

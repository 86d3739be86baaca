// Which optional instruction sets the running CPU offers, asked once. The
// decoders choose their bulk kernels by it, so one build runs on any x86-64
// (and on other processors with the portable kernels only).

#ifndef CONTENTFILE_CODEC_CPU_FEATURES_H_
#define CONTENTFILE_CODEC_CPU_FEATURES_H_

// Defined where kernels compiled for AVX2 are built in: on x86 processors,
// unless the build asks for the portable kernels alone
// (-DCONTENTFILE_PORTABLE_ONLY, as on other processors).
#if (defined(__x86_64__) || defined(__i386__)) && \
    !defined(CONTENTFILE_PORTABLE_ONLY)
#define CONTENTFILE_HAVE_AVX2_KERNELS 1
#endif

namespace contentfile_internal {

// True when the kernels compiled for AVX2 are built in and may run on this
// CPU.
bool CpuHasAvx2();

}  // namespace contentfile_internal

#endif  // CONTENTFILE_CODEC_CPU_FEATURES_H_

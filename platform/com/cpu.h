// Process-wide processor feature detection for the SIMD kernels (colour converters, scalers).
//
// Kernels are chosen once, when their owner is built or its format changes, from
// PlenorCpuFlags(): the features this processor and the operating system support, limited by a
// process-wide mask. Tests and benchmarks lower the mask to force each kernel variant in turn.
#pragma once

#include "platform/com/wintypes.h"

enum : DWORD {
  kCpuSSE2 = 0x0001,
  kCpuSSSE3 = 0x0002,
  kCpuSSE41 = 0x0004,
  kCpuAVX2 = 0x0008,        // AVX2 with the operating system saving the YMM state
  kCpuAVX512BW = 0x0010,    // AVX-512 F, BW, VL with the operating system saving the ZMM state
  kCpuAVX512VBMI = 0x0020,  // AVX-512 VBMI (byte permutes), implies kCpuAVX512BW
  kCpuAVX512VNNI = 0x0040,  // AVX-512 VNNI (multiply-accumulate of words), implies kCpuAVX512BW
  kCpuAVXVNNI = 0x0080,     // AVX-VNNI (the same multiply-accumulates on YMM), implies kCpuAVX2
  kCpuAllFeatures = 0xFFFFFFFFu,
};

// Features detected on this processor (never masked). Thread-safe.
PLENOR_EXPORT DWORD PlenorCpuDetected();
// Detected features limited by the current mask. Thread-safe.
PLENOR_EXPORT DWORD PlenorCpuFlags();
// Sets the mask applied by PlenorCpuFlags (kCpuAllFeatures by default). Kernels already chosen by
// existing objects are not changed; objects built afterwards use the new set.
PLENOR_EXPORT void PlenorSetCpuMask(DWORD mask);
PLENOR_EXPORT DWORD PlenorCpuMask();

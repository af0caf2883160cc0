// Processor feature detection with CPUID and XGETBV.
#include "platform/com/cpu.h"

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

#if defined(__x86_64__) || defined(__i386__)
unsigned long long ReadXcr0() {
  unsigned int eax = 0, edx = 0;
  __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
  return (static_cast<unsigned long long>(edx) << 32) | eax;
}

DWORD Detect() {
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
    return 0;
  DWORD flags = 0;
  if (edx & (1u << 26))
    flags |= kCpuSSE2;
  if (ecx & (1u << 9))
    flags |= kCpuSSSE3;
  if (ecx & (1u << 19))
    flags |= kCpuSSE41;
  const bool osxsave = (ecx & (1u << 27)) != 0;
  const bool avx = (ecx & (1u << 28)) != 0;
  if (!osxsave || !avx)
    return flags;
  const unsigned long long xcr0 = ReadXcr0();
  const bool ymmState = (xcr0 & 0x6) == 0x6;      // SSE and AVX state
  const bool zmmState = (xcr0 & 0xE6) == 0xE6;    // plus opmask and both ZMM halves
  unsigned int maxLeaf = __get_cpuid_max(0, nullptr);
  if (maxLeaf < 7 || !ymmState)
    return flags;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  const unsigned int maxSubleaf = eax;
  if (ebx & (1u << 5))
    flags |= kCpuAVX2;
  const bool avx512f = (ebx & (1u << 16)) != 0;
  const bool avx512bw = (ebx & (1u << 30)) != 0;
  const bool avx512vl = (ebx & (1u << 31)) != 0;
  if ((flags & kCpuAVX2) && zmmState && avx512f && avx512bw && avx512vl) {
    flags |= kCpuAVX512BW;
    if (ecx & (1u << 1))
      flags |= kCpuAVX512VBMI;
    if (ecx & (1u << 11))
      flags |= kCpuAVX512VNNI;
  }
  if ((flags & kCpuAVX2) && maxSubleaf >= 1) {
    __cpuid_count(7, 1, eax, ebx, ecx, edx);
    if (eax & (1u << 4))
      flags |= kCpuAVXVNNI;
  }
  return flags;
}
#else
DWORD Detect() { return 0; }
#endif

std::atomic<DWORD> g_mask{kCpuAllFeatures};

}  // namespace

DWORD PlenorCpuDetected() {
  static const DWORD detected = Detect();
  return detected;
}

DWORD PlenorCpuFlags() { return PlenorCpuDetected() & g_mask.load(std::memory_order_relaxed); }

void PlenorSetCpuMask(DWORD mask) { g_mask.store(mask, std::memory_order_relaxed); }

DWORD PlenorCpuMask() { return g_mask.load(std::memory_order_relaxed); }

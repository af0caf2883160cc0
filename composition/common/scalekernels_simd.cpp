// SIMD variants of the fast scaler's row kernels. Column sums widen 16 (SSE4.1, AVX2) or 32
// (AVX-512) source bytes per step; the row filter works on 8, 16 or 32 bytes per step, reading the
// neighbours' column sums at one pixel (3 or 4 bytes) to either side with unaligned loads, the
// row's first and last pixel (whose neighbours are clamped) and the tail byte by byte. All
// arithmetic is in 16-bit lanes: the largest sum, 9 x 255 + 7 x 255 + 8, fits.
#include <immintrin.h>


#include "composition/common/scalekernels.h"
#include "platform/com/cpu.h"

namespace composition {

#if defined(__x86_64__)

namespace {

__attribute__((target("sse4.1"))) void ColumnSumsSSE41(const uint8_t* above, const uint8_t* centre,
                                                        const uint8_t* below, uint16_t* sums, uint16_t* centre16,
                                                        int n) {
  int k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m128i a = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(above + k)));
    const __m128i c = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(centre + k)));
    const __m128i b = _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(below + k)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(sums + k), _mm_add_epi16(_mm_add_epi16(a, c), b));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(centre16 + k), c);
  }
  for (; k < n; ++k) {
    sums[k] = static_cast<uint16_t>(above[k] + centre[k] + below[k]);
    centre16[k] = centre[k];
  }
}

__attribute__((target("sse4.1"))) void FilterRowSSE41(const uint16_t* sums, const uint16_t* centre, uint8_t* filtered,
                                                       int n, int b, bool copyFourth) {
  if (n <= 2 * b) return FilterRowRange(sums, centre, filtered, 0, n, n, b, copyFourth);
  FilterRowRange(sums, centre, filtered, 0, b, n, b, copyFourth);
  const __m128i seven = _mm_set1_epi16(7), eight = _mm_set1_epi16(8);
  int k = b;  // a multiple of 4 for 4-byte pixels, so the fourth bytes are lanes 3 and 7
  for (; k + 8 <= n - b; k += 8) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(centre + k));
    __m128i s = _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + k - b)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + k)));
    s = _mm_add_epi16(s, _mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + k + b)));
    s = _mm_add_epi16(s, _mm_add_epi16(_mm_mullo_epi16(c, seven), eight));
    __m128i p = _mm_srli_epi16(s, 4);
    if (copyFourth) p = _mm_blend_epi16(p, c, 0x88);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(filtered + k), _mm_packus_epi16(p, p));
  }
  FilterRowRange(sums, centre, filtered, k, n, n, b, copyFourth);
}

__attribute__((target("avx2"))) void ColumnSumsAVX2(const uint8_t* above, const uint8_t* centre,
                                                     const uint8_t* below, uint16_t* sums, uint16_t* centre16, int n) {
  int k = 0;
  for (; k + 16 <= n; k += 16) {
    const __m256i a = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(above + k)));
    const __m256i c = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(centre + k)));
    const __m256i b = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(below + k)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums + k), _mm256_add_epi16(_mm256_add_epi16(a, c), b));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(centre16 + k), c);
  }
  ColumnSumsSSE41(above + k, centre + k, below + k, sums + k, centre16 + k, n - k);
}

__attribute__((target("avx2"))) void FilterRowAVX2(const uint16_t* sums, const uint16_t* centre, uint8_t* filtered,
                                                    int n, int b, bool copyFourth) {
  if (n <= 2 * b) return FilterRowRange(sums, centre, filtered, 0, n, n, b, copyFourth);
  FilterRowRange(sums, centre, filtered, 0, b, n, b, copyFourth);
  const __m256i seven = _mm256_set1_epi16(7), eight = _mm256_set1_epi16(8);
  int k = b;
  for (; k + 16 <= n - b; k += 16) {
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(centre + k));
    __m256i s = _mm256_add_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + k - b)),
                                 _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + k)));
    s = _mm256_add_epi16(s, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sums + k + b)));
    s = _mm256_add_epi16(s, _mm256_add_epi16(_mm256_mullo_epi16(c, seven), eight));
    __m256i p = _mm256_srli_epi16(s, 4);
    if (copyFourth) p = _mm256_blend_epi16(p, c, 0x88);
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(p, p), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(filtered + k), _mm256_castsi256_si128(packed));
  }
  FilterRowRange(sums, centre, filtered, k, n, n, b, copyFourth);
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) void ColumnSumsAVX512(const uint8_t* above,
                                                                            const uint8_t* centre,
                                                                            const uint8_t* below, uint16_t* sums,
                                                                            uint16_t* centre16, int n) {
  int k = 0;
  for (; k + 32 <= n; k += 32) {
    const __m512i a = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(above + k)));
    const __m512i c = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(centre + k)));
    const __m512i b = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(below + k)));
    _mm512_storeu_si512(sums + k, _mm512_add_epi16(_mm512_add_epi16(a, c), b));
    _mm512_storeu_si512(centre16 + k, c);
  }
  ColumnSumsAVX2(above + k, centre + k, below + k, sums + k, centre16 + k, n - k);
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) void FilterRowAVX512(const uint16_t* sums,
                                                                          const uint16_t* centre, uint8_t* filtered,
                                                                          int n, int b, bool copyFourth) {
  if (n <= 2 * b) return FilterRowRange(sums, centre, filtered, 0, n, n, b, copyFourth);
  FilterRowRange(sums, centre, filtered, 0, b, n, b, copyFourth);
  const __m512i seven = _mm512_set1_epi16(7), eight = _mm512_set1_epi16(8);
  int k = b;
  for (; k + 32 <= n - b; k += 32) {
    const __m512i c = _mm512_loadu_si512(centre + k);
    __m512i s = _mm512_add_epi16(_mm512_loadu_si512(sums + k - b), _mm512_loadu_si512(sums + k));
    s = _mm512_add_epi16(s, _mm512_loadu_si512(sums + k + b));
    s = _mm512_add_epi16(s, _mm512_add_epi16(_mm512_mullo_epi16(c, seven), eight));
    __m512i p = _mm512_srli_epi16(s, 4);
    if (copyFourth) p = _mm512_mask_blend_epi16(0x88888888u, p, c);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(filtered + k), _mm512_mask_cvtepi16_epi8(_mm256_setzero_si256(), 0xFFFFFFFFu, p));
  }
  FilterRowRange(sums, centre, filtered, k, n, n, b, copyFourth);
}

}  // namespace

const ScaleKernels kScaleKernelsSSE41 = {"SSE41", ColumnSumsSSE41, FilterRowSSE41};
const ScaleKernels kScaleKernelsAVX2 = {"AVX2", ColumnSumsAVX2, FilterRowAVX2};
const ScaleKernels kScaleKernelsAVX512 = {"AVX512", ColumnSumsAVX512, FilterRowAVX512};

#endif

const ScaleKernels& SelectScaleKernels(DWORD cpuFlags) {
#if defined(__x86_64__)
  if (cpuFlags & kCpuAVX512BW) return kScaleKernelsAVX512;
  if (cpuFlags & kCpuAVX2) return kScaleKernelsAVX2;
  if (cpuFlags & kCpuSSE41) return kScaleKernelsSSE41;
#endif
  (void)cpuFlags;
  return kScaleKernelsC;
}

}  // namespace composition

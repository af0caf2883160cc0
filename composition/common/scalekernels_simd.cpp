// SIMD variants of the fast scaler's row kernels. Column sums widen 16 (SSE4.1, AVX2) or 32
// (AVX-512) source bytes per step; the combination of 4-byte pixels does 2, 4 or 8 pixels per
// step, gathering the three column sums of each output pixel by its precomputed indices. 3-byte
// pixels are combined one at a time with a 4-lane register (the fourth lane is ignored and the
// fourth byte written is the next pixel's, rewritten by it; the last pixel goes byte by byte).
// All arithmetic is in 16-bit lanes: the largest sum, 9 x 255 + 7 x 255 + 8, fits.
#include <immintrin.h>

#include <cstring>

#include "composition/common/scalekernels.h"
#include "platform/com/cpu.h"

namespace composition {

#if defined(__x86_64__)

namespace {

// The last pixel(s) of a row and every pixel of 3-byte rows that SIMD does not handle.
inline void CombineTail(const uint16_t* sums, const uint16_t* centre, const int32_t* columns, uint8_t* dst, int j,
                        int width, int b, bool copyFourth) {
  for (; j < width; ++j) {
    const int l = columns[j] * b, c = columns[width + j] * b, r = columns[2 * width + j] * b;
    for (int k = 0; k < b; ++k) {
      if (k == 3 && copyFourth)
        dst[j * b + k] = static_cast<uint8_t>(centre[c + k]);
      else
        dst[j * b + k] = static_cast<uint8_t>((sums[l + k] + sums[c + k] + sums[r + k] + 7u * centre[c + k] + 8u) >> 4);
    }
  }
}

__attribute__((target("sse4.1"))) inline __m128i Load64(const uint16_t* p) {
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}

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

// One output pixel of 3 or 4 lanes as 16-bit words.
__attribute__((target("sse4.1"))) inline __m128i Pixel(const uint16_t* sums, const uint16_t* centre, int l, int c,
                                                        int r) {
  const __m128i seven = _mm_set1_epi16(7), eight = _mm_set1_epi16(8);
  __m128i s = _mm_add_epi16(_mm_add_epi16(Load64(sums + l), Load64(sums + c)), Load64(sums + r));
  s = _mm_add_epi16(s, _mm_add_epi16(_mm_mullo_epi16(Load64(centre + c), seven), eight));
  return _mm_srli_epi16(s, 4);
}

__attribute__((target("sse4.1"))) void Combine24SSE41(const uint16_t* sums, const uint16_t* centre,
                                                       const int32_t* columns, uint8_t* dst, int width) {
  int j = 0;
  for (; j + 1 < width; ++j) {
    const __m128i p = Pixel(sums, centre, columns[j] * 3, columns[width + j] * 3, columns[2 * width + j] * 3);
    const int v = _mm_cvtsi128_si32(_mm_packus_epi16(p, p));
    std::memcpy(dst + j * 3, &v, 4);  // the fourth byte is the next pixel's, written next
  }
  CombineTail(sums, centre, columns, dst, j, width, 3, false);
}

__attribute__((target("sse4.1"))) void CombineSSE41(const uint16_t* sums, const uint16_t* centre,
                                                     const int32_t* columns, uint8_t* dst, int width, int b,
                                                     bool copyFourth) {
  if (b == 3) return Combine24SSE41(sums, centre, columns, dst, width);
  int j = 0;
  for (; j + 2 <= width; j += 2) {
    const int c0 = columns[width + j] * 4, c1 = columns[width + j + 1] * 4;
    const __m128i p0 = Pixel(sums, centre, columns[j] * 4, c0, columns[2 * width + j] * 4);
    const __m128i p1 = Pixel(sums, centre, columns[j + 1] * 4, c1, columns[2 * width + j + 1] * 4);
    __m128i p = _mm_unpacklo_epi64(p0, p1);
    if (copyFourth) p = _mm_blend_epi16(p, _mm_unpacklo_epi64(Load64(centre + c0), Load64(centre + c1)), 0x88);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + j * 4), _mm_packus_epi16(p, p));
  }
  CombineTail(sums, centre, columns, dst, j, width, 4, copyFourth);
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

__attribute__((target("avx2"))) void CombineAVX2(const uint16_t* sums, const uint16_t* centre, const int32_t* columns,
                                                  uint8_t* dst, int width, int b, bool copyFourth) {
  if (b == 3) return Combine24SSE41(sums, centre, columns, dst, width);
  const auto* s64 = reinterpret_cast<const long long*>(sums);
  const auto* c64 = reinterpret_cast<const long long*>(centre);
  const __m256i seven = _mm256_set1_epi16(7), eight = _mm256_set1_epi16(8);
  int j = 0;
  for (; j + 4 <= width; j += 4) {
    const __m128i il = _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + j));
    const __m128i ic = _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + width + j));
    const __m128i ir = _mm_loadu_si128(reinterpret_cast<const __m128i*>(columns + 2 * width + j));
    const __m256i c = _mm256_i32gather_epi64(c64, ic, 8);
    __m256i s = _mm256_add_epi16(_mm256_i32gather_epi64(s64, il, 8), _mm256_i32gather_epi64(s64, ic, 8));
    s = _mm256_add_epi16(s, _mm256_i32gather_epi64(s64, ir, 8));
    s = _mm256_add_epi16(s, _mm256_add_epi16(_mm256_mullo_epi16(c, seven), eight));
    __m256i p = _mm256_srli_epi16(s, 4);
    if (copyFourth) p = _mm256_blend_epi16(p, c, 0x88);
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(p, p), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j * 4), _mm256_castsi256_si128(packed));
  }
  CombineTail(sums, centre, columns, dst, j, width, 4, copyFourth);
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

__attribute__((target("avx512f,avx512bw,avx512vl"))) void CombineAVX512(const uint16_t* sums, const uint16_t* centre,
                                                                         const int32_t* columns, uint8_t* dst,
                                                                         int width, int b, bool copyFourth) {
  if (b == 3) return Combine24SSE41(sums, centre, columns, dst, width);
  const auto* s64 = reinterpret_cast<const long long*>(sums);
  const auto* c64 = reinterpret_cast<const long long*>(centre);
  const __m512i seven = _mm512_set1_epi16(7), eight = _mm512_set1_epi16(8);
  int j = 0;
  for (; j + 8 <= width; j += 8) {
    const __m256i il = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columns + j));
    const __m256i ic = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columns + width + j));
    const __m256i ir = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columns + 2 * width + j));
    const __m512i c = _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), 0xFF, ic, c64, 8);
    __m512i s = _mm512_add_epi16(_mm512_mask_i32gather_epi64(_mm512_setzero_si512(), 0xFF, il, s64, 8), _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), 0xFF, ic, s64, 8));
    s = _mm512_add_epi16(s, _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), 0xFF, ir, s64, 8));
    s = _mm512_add_epi16(s, _mm512_add_epi16(_mm512_mullo_epi16(c, seven), eight));
    __m512i p = _mm512_srli_epi16(s, 4);
    if (copyFourth) p = _mm512_mask_blend_epi16(0x88888888u, p, c);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + j * 4), _mm512_mask_cvtepi16_epi8(_mm256_setzero_si256(), 0xFFFFFFFFu, p));
  }
  CombineTail(sums, centre, columns, dst, j, width, 4, copyFourth);
}

}  // namespace

const ScaleKernels kScaleKernelsSSE41 = {"SSE41", ColumnSumsSSE41, CombineSSE41};
const ScaleKernels kScaleKernelsAVX2 = {"AVX2", ColumnSumsAVX2, CombineAVX2};
const ScaleKernels kScaleKernelsAVX512 = {"AVX512", ColumnSumsAVX512, CombineAVX512};

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

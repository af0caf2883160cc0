// SIMD variants of the fast scaler's row filter. SSE4.1 makes two passes: column sums of 8 bytes
// per step into the scratch rows, then the row filter reading the neighbours' sums at one pixel
// (3 or 4 bytes) to either side with unaligned loads. AVX2 and AVX-512 make one pass of 16 or 32
// bytes per step: the column sums of the step and of the next one are kept in registers and the
// neighbours' sums are shifted in from the previous and next step's, so nothing goes through
// memory between the source rows and the filtered row. The first and last pixel's neighbours are
// clamped by repeating their sums before and after the row; a last part step goes byte by byte. All arithmetic is in 16-bit lanes:
// the largest sum, 9 x 255 + 7 x 255 + 8, fits.
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

__attribute__((target("sse4.1"))) void FilterSumsSSE41(const uint16_t* sums, const uint16_t* centre, uint8_t* filtered,
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

__attribute__((target("sse4.1"))) void FilterRowSSE41(const uint8_t* above, const uint8_t* centre, const uint8_t* below,
                                                       uint16_t* sums, uint16_t* centre16, uint8_t* filtered, int n, int b,
                                                       bool copyFourth) {
  ColumnSumsSSE41(above, centre, below, sums, centre16, n);
  FilterSumsSSE41(sums, centre16, filtered, n, b, copyFourth);
}

// Column sums of the 16 bytes at k, widened.
__attribute__((target("avx2"))) inline __m256i VerticalAVX2(const uint8_t* above, const uint8_t* centre,
                                                              const uint8_t* below, int k, __m256i* c) {
  *c = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(centre + k)));
  const __m256i a = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(above + k)));
  const __m256i b = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(below + k)));
  return _mm256_add_epi16(_mm256_add_epi16(a, *c), b);
}

template <int B>
__attribute__((target("avx2"))) void FilterRowAVX2Impl(const uint8_t* above, const uint8_t* centre,
                                                       const uint8_t* below, uint8_t* filtered, int n, bool copyFourth) {
  constexpr int kShift = 2 * B;  // one pixel of 16-bit lanes, in bytes
  if (n < 32) return FilterRowRangeFromRows(above, centre, below, filtered, 0, n, n, B, copyFourth);
  const __m256i seven = _mm256_set1_epi16(7), eight = _mm256_set1_epi16(8);
  __m256i c, cNext = _mm256_setzero_si256();
  __m256i cur = VerticalAVX2(above, centre, below, 0, &c);
  // Before the row: the first pixel's sums again, in the last lanes (its left neighbour is itself).
  __m256i prev = _mm256_inserti128_si256(_mm256_setzero_si256(), _mm_slli_si128(_mm256_castsi256_si128(cur), 16 - kShift), 1);
  int k = 0;  // a multiple of 4, so the fourth bytes of 4-byte pixels are lanes 3, 7, 11 and 15
  for (;; k += 16) {
    const bool last = k + 32 > n;
    __m256i next;
    if (!last) {
      next = VerticalAVX2(above, centre, below, k + 16, &cNext);
    } else if (k + 16 == n) {
      // After the row: the last pixel's sums again, in the first lanes.
      next = _mm256_castsi128_si256(_mm_srli_si128(_mm256_extracti128_si256(cur, 1), 16 - kShift));
    } else {
      break;  // a part step: byte by byte
    }
    // Lanes shifted by one pixel: left[i] = sums at k + i - B, right[i] = sums at k + i + B.
    const __m256i left = _mm256_alignr_epi8(cur, _mm256_permute2x128_si256(prev, cur, 0x21), 16 - kShift);
    const __m256i right = _mm256_alignr_epi8(_mm256_permute2x128_si256(cur, next, 0x21), cur, kShift);
    __m256i s = _mm256_add_epi16(_mm256_add_epi16(left, cur), right);
    s = _mm256_add_epi16(s, _mm256_add_epi16(_mm256_mullo_epi16(c, seven), eight));
    __m256i p = _mm256_srli_epi16(s, 4);
    if (copyFourth) p = _mm256_blend_epi16(p, c, 0x88);
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(p, p), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(filtered + k), _mm256_castsi256_si128(packed));
    if (last) {
      k += 16;
      break;
    }
    prev = cur;
    cur = next;
    c = cNext;
  }
  FilterRowRangeFromRows(above, centre, below, filtered, k, n, n, B, copyFourth);
}

// 8 output pixels per step when their source pixels lie within 16 (two registers, two permutes
// and a blend); the others one at a time.
__attribute__((target("avx2"))) void Pick32AVX2(const uint8_t* filtered, const int32_t* columns, uint8_t* dst,
                                                 int width) {
  const __m256i seven = _mm256_set1_epi32(7);
  int j = 0;
  for (; j + 8 <= width; j += 8) {
    const int base = columns[j];
    if (columns[j + 7] - base >= 64) {
      PickPixels32(filtered, columns, dst, j, j + 8);
      continue;
    }
    const __m256i idx = _mm256_srli_epi32(
        _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(columns + j)), _mm256_set1_epi32(base)), 2);
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(filtered + base));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(filtered + base + 32));
    const __m256i p = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, idx), _mm256_permutevar8x32_epi32(hi, idx),
                                         _mm256_cmpgt_epi32(idx, seven));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * j), p);
  }
  PickPixels32(filtered, columns, dst, j, width);
}

__attribute__((target("avx2"))) void FilterRowAVX2(const uint8_t* above, const uint8_t* centre, const uint8_t* below,
                                                    uint16_t*, uint16_t*, uint8_t* filtered, int n, int b,
                                                    bool copyFourth) {
  if (b == 4)
    FilterRowAVX2Impl<4>(above, centre, below, filtered, n, copyFourth);
  else
    FilterRowAVX2Impl<3>(above, centre, below, filtered, n, copyFourth);
}

// Column sums of the 32 bytes at k, widened.
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512i VerticalAVX512(const uint8_t* above,
                                                                                     const uint8_t* centre,
                                                                                     const uint8_t* below, int k,
                                                                                     __m512i* c) {
  *c = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(centre + k)));
  const __m512i a = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(above + k)));
  const __m512i b = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(below + k)));
  return _mm512_add_epi16(_mm512_add_epi16(a, *c), b);
}

template <int B>
__attribute__((target("avx512f,avx512bw,avx512vl"))) void FilterRowAVX512Impl(const uint8_t* above,
                                                                               const uint8_t* centre,
                                                                               const uint8_t* below, uint8_t* filtered,
                                                                               int n, bool copyFourth) {
  if (n < 64) return FilterRowRangeFromRows(above, centre, below, filtered, 0, n, n, B, copyFourth);
  // Word permutes over two registers: left[i] = (prev:cur)[32 + i - B], right[i] = (cur:next)[i + B];
  // and the sums before and after the row: the first and last pixel's again.
  alignas(64) int16_t leftIndex[32], rightIndex[32], headIndex[32], tailIndex[32];
  for (int i = 0; i < 32; ++i) {
    leftIndex[i] = static_cast<int16_t>(32 + i - B);
    rightIndex[i] = static_cast<int16_t>(i + B);
    headIndex[i] = static_cast<int16_t>(i >= 32 - B ? i - (32 - B) : 0);
    tailIndex[i] = static_cast<int16_t>(i < B ? 32 - B + i : 31);
  }
  const __m512i li = _mm512_load_si512(leftIndex), ri = _mm512_load_si512(rightIndex);
  const __m512i seven = _mm512_set1_epi16(7), eight = _mm512_set1_epi16(8);
  __m512i c, cNext = _mm512_setzero_si512();
  __m512i cur = VerticalAVX512(above, centre, below, 0, &c);
  __m512i prev = _mm512_permutexvar_epi16(_mm512_load_si512(headIndex), cur);
  int k = 0;  // a multiple of 4: the fourth bytes of 4-byte pixels are every fourth lane from 3
  for (;; k += 32) {
    const bool last = k + 64 > n;
    __m512i next;
    if (!last)
      next = VerticalAVX512(above, centre, below, k + 32, &cNext);
    else if (k + 32 == n)
      next = _mm512_permutexvar_epi16(_mm512_load_si512(tailIndex), cur);
    else
      break;  // a part step: byte by byte
    __m512i left, right;
    if constexpr (B == 4) {  // one pixel is one quadword: a cheaper shift
      left = _mm512_mask_alignr_epi64(cur, 0xFF, cur, prev, 7);
      right = _mm512_mask_alignr_epi64(cur, 0xFF, next, cur, 1);
    } else {
      left = _mm512_permutex2var_epi16(prev, li, cur);
      right = _mm512_permutex2var_epi16(cur, ri, next);
    }
    __m512i s = _mm512_add_epi16(_mm512_add_epi16(left, cur), right);
    s = _mm512_add_epi16(s, _mm512_add_epi16(_mm512_mullo_epi16(c, seven), eight));
    __m512i p = _mm512_srli_epi16(s, 4);
    if (copyFourth) p = _mm512_mask_blend_epi16(0x88888888u, p, c);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(filtered + k),
                        _mm512_mask_cvtepi16_epi8(_mm256_setzero_si256(), 0xFFFFFFFFu, p));
    if (last) {
      k += 32;
      break;
    }
    prev = cur;
    cur = next;
    c = cNext;
  }
  FilterRowRangeFromRows(above, centre, below, filtered, k, n, n, B, copyFourth);
}

// 16 output pixels per step when their source pixels lie within 32 (one two-register permute);
// the others one at a time.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void Pick32AVX512(const uint8_t* filtered, const int32_t* columns,
                                                                        uint8_t* dst, int width) {
  int j = 0;
  for (; j + 16 <= width; j += 16) {
    const int base = columns[j];
    if (columns[j + 15] - base >= 128) {
      PickPixels32(filtered, columns, dst, j, j + 16);
      continue;
    }
    const __m512i idx =
        _mm512_maskz_srli_epi32(0xFFFF, _mm512_sub_epi32(_mm512_loadu_si512(columns + j), _mm512_set1_epi32(base)), 2);
    const __m512i lo = _mm512_loadu_si512(filtered + base);
    const __m512i hi = _mm512_loadu_si512(filtered + base + 64);
    _mm512_storeu_si512(dst + 4 * j, _mm512_permutex2var_epi32(lo, idx, hi));
  }
  PickPixels32(filtered, columns, dst, j, width);
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) void FilterRowAVX512(const uint8_t* above, const uint8_t* centre,
                                                                           const uint8_t* below, uint16_t*, uint16_t*,
                                                                           uint8_t* filtered, int n, int b,
                                                                           bool copyFourth) {
  if (b == 4)
    FilterRowAVX512Impl<4>(above, centre, below, filtered, n, copyFourth);
  else
    FilterRowAVX512Impl<3>(above, centre, below, filtered, n, copyFourth);
}

}  // namespace

const ScaleKernels kScaleKernelsSSE41 = {"SSE41", FilterRowSSE41, Pick32OneByOne};
const ScaleKernels kScaleKernelsAVX2 = {"AVX2", FilterRowAVX2, Pick32AVX2};
const ScaleKernels kScaleKernelsAVX512 = {"AVX512", FilterRowAVX512, Pick32AVX512};

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

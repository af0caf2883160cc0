// SIMD variants of the fast scaler's row filter. SSE4.1 makes two passes: column sums of 8 bytes
// per step into the scratch rows, then the row filter reading the neighbours' sums at one pixel
// (3 or 4 bytes) to either side with unaligned loads. AVX2 and AVX-512 make one pass: the column
// sums of the step and of the next one are kept in registers and the neighbours' sums are shifted
// in from the previous and next step's, so nothing goes through memory between the source rows
// and the filtered row. The first and last pixel's neighbours are clamped by repeating their sums
// before and after the row. 3-byte pixels go 16 or 32 bytes per step, a last part step byte by
// byte; 4-byte pixels go 32 or 64 bytes per step (FilterRow32AVX2, FilterRow32AVX512), a last part
// step with masked loads and stores. All arithmetic is in 16-bit lanes: the largest sum,
// 9 x 255 + 7 x 255 + 8, fits.
#include <immintrin.h>

#include <cstring>


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

// 3-byte pixels, 16 bytes per step, ending in the byte average as the 4-byte kernels do
// (Row32AVX2): Q = S[x-1] + S[x+1] + S[x] - centre.
__attribute__((target("avx2"))) void FilterRow24AVX2(const uint8_t* above, const uint8_t* centre,
                                                      const uint8_t* below, uint8_t* filtered, int n) {
  constexpr int kShift = 6;  // one pixel of 16-bit lanes, in bytes
  if (n < 32) return FilterRowRangeFromRows(above, centre, below, filtered, 0, n, n, 3, false);
  __m256i c, cNext = _mm256_setzero_si256();
  __m256i cur = VerticalAVX2(above, centre, below, 0, &c);
  // Before the row: the first pixel's sums again, in the last lanes (its left neighbour is itself).
  __m256i prev = _mm256_inserti128_si256(_mm256_setzero_si256(), _mm_slli_si128(_mm256_castsi256_si128(cur), 16 - kShift), 1);
  int k = 0;
  for (;; k += 16) {
    const bool last = k + 32 > n;
    __m256i next;
    if (!last) {
      next = VerticalAVX2(above, centre, below, k + 16, &cNext);
      if ((k & 48) == 0) {
        _mm_prefetch(reinterpret_cast<const char*>(centre + k + 1024), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(below + k + 1024), _MM_HINT_T0);
      }
    } else if (k + 16 == n) {
      // After the row: the last pixel's sums again, in the first lanes.
      next = _mm256_castsi128_si256(_mm_srli_si128(_mm256_extracti128_si256(cur, 1), 16 - kShift));
    } else {
      break;  // a part step: byte by byte
    }
    // Lanes shifted by one pixel: left[i] = sums at k + i - 3, right[i] = sums at k + i + 3.
    const __m256i left = _mm256_alignr_epi8(cur, _mm256_permute2x128_si256(prev, cur, 0x21), 16 - kShift);
    const __m256i right = _mm256_alignr_epi8(_mm256_permute2x128_si256(cur, next, 0x21), cur, kShift);
    const __m256i q = _mm256_sub_epi16(_mm256_add_epi16(_mm256_add_epi16(left, right), cur), c);
    const __m256i u = _mm256_srli_epi16(q, 3);
    const __m128i packed = _mm_packus_epi16(_mm256_castsi256_si128(u), _mm256_extracti128_si256(u, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(filtered + k),
                     _mm_avg_epu8(packed, _mm_loadu_si128(reinterpret_cast<const __m128i*>(centre + k))));
    if (last) {
      k += 16;
      break;
    }
    prev = cur;
    cur = next;
    c = cNext;
  }
  FilterRowRangeFromRows(above, centre, below, filtered, k, n, n, 3, false);
}

// 4-byte pixels, 8 per step: each row's 32 bytes are widened by unpacking against zero, so lo
// holds pixels 0,1 | 4,5 and hi 2,3 | 6,7 (16-bit lanes, one pixel per quadword) and the
// neighbours' sums are quadword shifts within 128-bit lanes; packing lo with hi gives the pixels
// back in order. The kernel is rewritten so that it ends in an average of bytes:
// (S[x-1] + S[x] + S[x+1] + 7 c + 8) >> 4 = (Q + 8 (c + 1)) >> 4 = ((Q >> 3) + c + 1) >> 1, with
// Q = S[x-1] + S[x+1] + above + below <= 2040 (nested floor divisions, 8 (c + 1) a multiple of 8),
// which is the rounding average of the byte Q >> 3 with the centre byte.
struct Window32AVX2 {
  __m256i vlo, vhi, ablo, abhi, c;  // column sums, above + below, the centre bytes
};

__attribute__((target("avx2"))) inline Window32AVX2 LoadWindow32AVX2(const uint8_t* above, const uint8_t* centre,
                                                                     const uint8_t* below, int k, int n) {
  __m256i a, c, b;
  if (k + 32 <= n) {
    a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(above + k));
    c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(centre + k));
    b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(below + k));
  } else {  // the pixels left in the row; masked-off ones are not read (no fault past the row)
    const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32((n - k) / 4), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    a = _mm256_maskload_epi32(reinterpret_cast<const int*>(above + k), mask);
    c = _mm256_maskload_epi32(reinterpret_cast<const int*>(centre + k), mask);
    b = _mm256_maskload_epi32(reinterpret_cast<const int*>(below + k), mask);
  }
  const __m256i zero = _mm256_setzero_si256(), ones = _mm256_set1_epi8(1);
  Window32AVX2 w;
  // above + below: the two rows' bytes interleaved, each pair added into one 16-bit lane
  w.ablo = _mm256_maddubs_epi16(_mm256_unpacklo_epi8(a, b), ones);
  w.abhi = _mm256_maddubs_epi16(_mm256_unpackhi_epi8(a, b), ones);
  w.vlo = _mm256_add_epi16(w.ablo, _mm256_unpacklo_epi8(c, zero));
  w.vhi = _mm256_add_epi16(w.abhi, _mm256_unpackhi_epi8(c, zero));
  w.c = c;
  return w;
}

// The left neighbours of w's lo pixels (0,1 | 4,5): pixels -1,0 | 3,4, pixel -1 being the last of
// prevHi.
__attribute__((target("avx2"))) inline __m256i LeftOfLo32AVX2(const Window32AVX2& w, __m256i prevHi) {
  return _mm256_alignr_epi8(w.vlo, _mm256_permute2x128_si256(prevHi, w.vhi, 0x21), 8);
}

// The 8 filtered pixels of w from the left neighbours of its lo pixels and of the next step's
// (whose lower lane, pixels 7,8, holds the right neighbours of its last two).
__attribute__((target("avx2"))) inline __m256i Filter32AVX2(const Window32AVX2& w, __m256i left, __m256i leftNext,
                                                            bool copyFourth) {
  const __m256i mid = _mm256_alignr_epi8(w.vhi, w.vlo, 8);            // right of lo = left of hi
  const __m256i right = _mm256_permute2x128_si256(left, leftNext, 0x21);  // right of hi: 3,4 | 7,8
  const __m256i qlo = _mm256_add_epi16(_mm256_add_epi16(left, mid), w.ablo);
  const __m256i qhi = _mm256_add_epi16(_mm256_add_epi16(mid, right), w.abhi);
  __m256i p = _mm256_avg_epu8(_mm256_packus_epi16(_mm256_srli_epi16(qlo, 3), _mm256_srli_epi16(qhi, 3)), w.c);
  if (copyFourth) p = _mm256_blendv_epi8(p, w.c, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
  return p;
}

// One row of 4-byte pixels, 8 at a time; sink.Full(k, p) takes the filtered pixels of bytes k to
// k + 32, sink.Part(k, p, last) those of the part step at the end (p is valid but for the last
// pixel, given apart in last).
template <bool kCopyFourth, class Sink>
__attribute__((target("avx2"))) inline void Row32AVX2(const uint8_t* above, const uint8_t* centre,
                                                       const uint8_t* below, int n, Sink& sink) {
  constexpr bool copyFourth = kCopyFourth;
  Window32AVX2 cur = LoadWindow32AVX2(above, centre, below, 0, n);
  // The first pixel is its own left neighbour.
  __m256i left = LeftOfLo32AVX2(cur, _mm256_permute4x64_epi64(cur.vlo, 0x00));
  int k = 0;
  // Two steps a turn while whole windows follow (half the register moves between steps).
  for (; k + 96 <= n; k += 64) {
    const Window32AVX2 w1 = LoadWindow32AVX2(above, centre, below, k + 32, n);
    const __m256i left1 = LeftOfLo32AVX2(w1, cur.vhi);
    sink.Full(k, Filter32AVX2(cur, left, left1, copyFourth));
    const Window32AVX2 w2 = LoadWindow32AVX2(above, centre, below, k + 64, n);
    const __m256i left2 = LeftOfLo32AVX2(w2, w1.vhi);
    _mm_prefetch(reinterpret_cast<const char*>(centre + k + 1024), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(below + k + 1024), _MM_HINT_T0);
    sink.Full(k + 32, Filter32AVX2(w1, left1, left2, copyFourth));
    cur = w2;
    left = left2;
  }
  for (;; k += 32) {
    if (k + 32 < n) {
      const Window32AVX2 next = LoadWindow32AVX2(above, centre, below, k + 32, n);
      if ((k & 32) == 0) {
        _mm_prefetch(reinterpret_cast<const char*>(centre + k + 1024), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(below + k + 1024), _MM_HINT_T0);
      }
      const __m256i leftNext = LeftOfLo32AVX2(next, cur.vhi);
      sink.Full(k, Filter32AVX2(cur, left, leftNext, copyFourth));
      left = leftNext;
      cur = next;
      continue;
    }
    if (k + 32 == n) {  // the last pixel is its own right neighbour: pixels 7,7 after the row
      sink.Full(k, Filter32AVX2(cur, left, _mm256_permute4x64_epi64(cur.vhi, 0xFF), copyFourth));
    } else {  // a part step: the last pixel's right neighbour is not in a register
      uint8_t last[4];
      LastPixel32(above, centre, below, n, copyFourth, last);
      sink.Part(k, Filter32AVX2(cur, left, _mm256_setzero_si256(), copyFourth), last);
    }
    return;
  }
}

// Into the filtered row.
struct RowSink32AVX2 {
  uint8_t* filtered;
  int n;
  __attribute__((target("avx2"))) void Full(int k, __m256i p) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(filtered + k), p);
  }
  __attribute__((target("avx2"))) void Part(int k, __m256i p, const uint8_t* last) {
    const __m256i mask =
        _mm256_cmpgt_epi32(_mm256_set1_epi32((n - k) / 4 - 1), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    _mm256_maskstore_epi32(reinterpret_cast<int*>(filtered + k), mask, p);
    std::memcpy(filtered + n - 4, last, 4);
  }
};

// Straight into the output row: the step's output pixels, permuted into place by the plan, with
// one store (the lanes past them are overwritten by the next step's; near the end of the row
// only the pixels themselves are written).
struct PickSink32AVX2 {
  const int32_t* plan;
  const uint8_t* counts;
  uint8_t* dst;
  int n, width, o;
  __attribute__((target("avx2"))) void Full(int, __m256i p) {
    const __m256i q = _mm256_permutevar8x32_epi32(p, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(plan)));
    const int count = *counts++;
    if (count <= 4 && o + 4 <= width) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * o), _mm256_castsi256_si128(q));
    } else if (o + 8 <= width) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * o), q);
    } else {
      alignas(32) uint8_t t[32];
      _mm256_store_si256(reinterpret_cast<__m256i*>(t), q);
      std::memcpy(dst + 4 * o, t, 4 * count);
    }
    o += count;
    plan += 8;
  }
  __attribute__((target("avx2"))) void Part(int k, __m256i p, const uint8_t* last) {
    alignas(32) uint8_t t[32];
    _mm256_store_si256(reinterpret_cast<__m256i*>(t), p);
    PickStep32(t, n - 4 - k, last, plan, *counts, dst, &o);
  }
};

__attribute__((target("avx2"))) void FilterRow32AVX2(const uint8_t* above, const uint8_t* centre, const uint8_t* below,
                                                      uint8_t* filtered, int n, bool copyFourth) {
  RowSink32AVX2 sink{filtered, n};
  if (copyFourth)
    Row32AVX2<true>(above, centre, below, n, sink);
  else
    Row32AVX2<false>(above, centre, below, n, sink);
}

__attribute__((target("avx2"))) void FilterPick32AVX2(const uint8_t* above, const uint8_t* centre,
                                                       const uint8_t* below, const int32_t* plan,
                                                       const uint8_t* counts, uint8_t* dst, int n, int width,
                                                       bool copyFourth) {
  PickSink32AVX2 sink{plan, counts, dst, n, width, 0};
  if (copyFourth)
    Row32AVX2<true>(above, centre, below, n, sink);
  else
    Row32AVX2<false>(above, centre, below, n, sink);
}

// Enlarging rows of 4-byte pixels (shrinking goes through FilterPick32AVX2): 8 output pixels read
// at most 8 neighbouring source pixels, so one permute of one register (indices precomputed,
// pickIndex) gives them; blocks whose pixels lie further apart go one at a time.
__attribute__((target("avx2"))) void Pick32AVX2(const uint8_t* filtered, const int32_t* columns,
                                                 const int32_t* pickIndex, uint8_t* dst, int width) {
  int j = 0;
  for (; j + 8 <= width; j += 8) {
    const int base = columns[j];
    if (columns[j + 7] - base >= 32) {
      PickPixels32(filtered, columns, dst, j, j + 8);
      continue;
    }
    const __m256i idx = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pickIndex + j));
    const __m256i window = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(filtered + base));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * j), _mm256_permutevar8x32_epi32(window, idx));
  }
  PickPixels32(filtered, columns, dst, j, width);
}

__attribute__((target("avx2"))) void FilterRowAVX2(const uint8_t* above, const uint8_t* centre, const uint8_t* below,
                                                    uint16_t*, uint16_t*, uint8_t* filtered, int n, int b,
                                                    bool copyFourth) {
  if (b == 4)
    FilterRow32AVX2(above, centre, below, filtered, n, copyFourth);
  else
    FilterRow24AVX2(above, centre, below, filtered, n);
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

// 3-byte pixels, 32 bytes per step, as FilterRow24AVX2.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void FilterRow24AVX512(const uint8_t* above,
                                                                             const uint8_t* centre,
                                                                             const uint8_t* below, uint8_t* filtered,
                                                                             int n) {
  constexpr int B = 3;
  if (n < 64) return FilterRowRangeFromRows(above, centre, below, filtered, 0, n, n, B, false);
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
  __m512i c, cNext = _mm512_setzero_si512();
  __m512i cur = VerticalAVX512(above, centre, below, 0, &c);
  __m512i prev = _mm512_permutexvar_epi16(_mm512_load_si512(headIndex), cur);
  int k = 0;
  for (;; k += 32) {
    const bool last = k + 64 > n;
    __m512i next;
    if (!last) {
      next = VerticalAVX512(above, centre, below, k + 32, &cNext);
      if ((k & 32) == 0) {
        _mm_prefetch(reinterpret_cast<const char*>(centre + k + 1024), _MM_HINT_T0);
        _mm_prefetch(reinterpret_cast<const char*>(below + k + 1024), _MM_HINT_T0);
      }
    } else if (k + 32 == n) {
      next = _mm512_permutexvar_epi16(_mm512_load_si512(tailIndex), cur);
    } else {
      break;  // a part step: byte by byte
    }
    const __m512i left = _mm512_permutex2var_epi16(prev, li, cur);
    const __m512i right = _mm512_permutex2var_epi16(cur, ri, next);
    const __m512i q = _mm512_sub_epi16(_mm512_add_epi16(_mm512_add_epi16(left, right), cur), c);
    const __m256i packed = _mm512_mask_cvtepi16_epi8(_mm256_setzero_si256(), 0xFFFFFFFFu, _mm512_srli_epi16(q, 3));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(filtered + k),
                        _mm256_avg_epu8(packed, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(centre + k))));
    if (last) {
      k += 32;
      break;
    }
    prev = cur;
    cur = next;
    c = cNext;
  }
  FilterRowRangeFromRows(above, centre, below, filtered, k, n, n, B, false);
}

// 4-byte pixels, 16 per step, as FilterRow32AVX2 with 512-bit registers: lo holds pixels
// 0,1 | 4,5 | 8,9 | 12,13 and hi 2,3 | 6,7 | 10,11 | 14,15; the part step at the end of a row
// uses masked loads and stores.
struct Window32AVX512 {
  __m512i vlo, vhi, ablo, abhi, c;
};

__attribute__((target("avx512f,avx512bw,avx512vl"))) inline Window32AVX512 LoadWindow32AVX512(
    const uint8_t* above, const uint8_t* centre, const uint8_t* below, int k, int n) {
  __m512i a, c, b;
  if (k + 64 <= n) {
    a = _mm512_loadu_si512(above + k);
    c = _mm512_loadu_si512(centre + k);
    b = _mm512_loadu_si512(below + k);
  } else {
    const __mmask64 mask = (~0ull) >> (64 - (n - k));
    a = _mm512_maskz_loadu_epi8(mask, above + k);
    c = _mm512_maskz_loadu_epi8(mask, centre + k);
    b = _mm512_maskz_loadu_epi8(mask, below + k);
  }
  const __m512i zero = _mm512_setzero_si512(), ones = _mm512_set1_epi8(1);
  Window32AVX512 w;
  w.ablo = _mm512_maddubs_epi16(_mm512_unpacklo_epi8(a, b), ones);
  w.abhi = _mm512_maddubs_epi16(_mm512_unpackhi_epi8(a, b), ones);
  w.vlo = _mm512_add_epi16(w.ablo, _mm512_unpacklo_epi8(c, zero));
  w.vhi = _mm512_add_epi16(w.abhi, _mm512_unpackhi_epi8(c, zero));
  w.c = c;
  return w;
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) inline __m512i Filter32AVX512(const Window32AVX512& w,
                                                                                     __m512i prevHi, __m512i nextLo,
                                                                                     bool copyFourth) {
  const __m512i mid = _mm512_alignr_epi8(w.vhi, w.vlo, 8);
  // Quadword lanes moved by one 128-bit lane: the previous step's last two pixels come in first,
  // the next step's first two last.
  const __m512i left = _mm512_alignr_epi8(w.vlo, _mm512_mask_alignr_epi64(w.vhi, 0xFF, w.vhi, prevHi, 6), 8);
  const __m512i right = _mm512_alignr_epi8(_mm512_mask_alignr_epi64(w.vlo, 0xFF, nextLo, w.vlo, 2), w.vhi, 8);
  const __m512i qlo = _mm512_add_epi16(_mm512_add_epi16(left, mid), w.ablo);
  const __m512i qhi = _mm512_add_epi16(_mm512_add_epi16(mid, right), w.abhi);
  __m512i p = _mm512_avg_epu8(_mm512_packus_epi16(_mm512_srli_epi16(qlo, 3), _mm512_srli_epi16(qhi, 3)), w.c);
  if (copyFourth) p = _mm512_mask_blend_epi8(0x8888888888888888ull, p, w.c);
  return p;
}

template <bool kCopyFourth, class Sink>
__attribute__((target("avx512f,avx512bw,avx512vl"))) inline void Row32AVX512(const uint8_t* above,
                                                                              const uint8_t* centre,
                                                                              const uint8_t* below, int n,
                                                                              Sink& sink) {
  constexpr bool copyFourth = kCopyFourth;
  Window32AVX512 cur = LoadWindow32AVX512(above, centre, below, 0, n);
  __m512i prevHi = _mm512_mask_permutexvar_epi64(cur.vlo, 0xFF, _mm512_setzero_si512(), cur.vlo);
  for (int k = 0;; k += 64) {
    if (k + 64 < n) {
      const Window32AVX512 next = LoadWindow32AVX512(above, centre, below, k + 64, n);
      _mm_prefetch(reinterpret_cast<const char*>(centre + k + 1024), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(below + k + 1024), _MM_HINT_T0);
      sink.Full(k, Filter32AVX512(cur, prevHi, next.vlo, copyFourth));
      prevHi = cur.vhi;
      cur = next;
      continue;
    }
    if (k + 64 == n) {
      sink.Full(k, Filter32AVX512(cur, prevHi,
                                  _mm512_mask_permutexvar_epi64(cur.vhi, 0xFF, _mm512_set1_epi64(7), cur.vhi),
                                  copyFourth));
    } else {
      uint8_t last[4];
      LastPixel32(above, centre, below, n, copyFourth, last);
      sink.Part(k, Filter32AVX512(cur, prevHi, _mm512_setzero_si512(), copyFourth), last);
    }
    return;
  }
}

struct RowSink32AVX512 {
  uint8_t* filtered;
  int n;
  __attribute__((target("avx512f,avx512bw,avx512vl"))) void Full(int k, __m512i p) {
    _mm512_storeu_si512(filtered + k, p);
  }
  __attribute__((target("avx512f,avx512bw,avx512vl"))) void Part(int k, __m512i p, const uint8_t* last) {
    const int bytes = n - k - 4;  // all but the last pixel
    _mm512_mask_storeu_epi8(filtered + k, bytes > 0 ? (~0ull) >> (64 - bytes) : 0, p);
    std::memcpy(filtered + n - 4, last, 4);
  }
};

struct PickSink32AVX512 {
  const int32_t* plan;
  const uint8_t* counts;
  uint8_t* dst;
  int n, width, o;
  __attribute__((target("avx512f,avx512bw,avx512vl"))) void Full(int, __m512i p) {
    const __m512i q = _mm512_mask_permutexvar_epi32(p, 0xFFFF, _mm512_loadu_si512(plan), p);
    const int count = *counts++;
    if (count <= 8 && o + 8 <= width)  // a narrower store crosses fewer cache lines
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * o),
                          _mm512_mask_extracti64x4_epi64(_mm256_setzero_si256(), 0xF, q, 0));
    else if (o + 16 <= width)
      _mm512_storeu_si512(dst + 4 * o, q);
    else
      _mm512_mask_storeu_epi32(dst + 4 * o, static_cast<__mmask16>((1u << count) - 1), q);
    o += count;
    plan += 16;
  }
  __attribute__((target("avx512f,avx512bw,avx512vl"))) void Part(int k, __m512i p, const uint8_t* last) {
    alignas(64) uint8_t t[64];
    _mm512_store_si512(t, p);
    PickStep32(t, n - 4 - k, last, plan, *counts, dst, &o);
  }
};

__attribute__((target("avx512f,avx512bw,avx512vl"))) void FilterRow32AVX512(const uint8_t* above,
                                                                             const uint8_t* centre,
                                                                             const uint8_t* below, uint8_t* filtered,
                                                                             int n, bool copyFourth) {
  RowSink32AVX512 sink{filtered, n};
  if (copyFourth)
    Row32AVX512<true>(above, centre, below, n, sink);
  else
    Row32AVX512<false>(above, centre, below, n, sink);
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) void FilterPick32AVX512(
    const uint8_t* above, const uint8_t* centre, const uint8_t* below, const int32_t* plan, const uint8_t* counts,
    uint8_t* dst, int n, int width, bool copyFourth) {
  PickSink32AVX512 sink{plan, counts, dst, n, width, 0};
  if (copyFourth)
    Row32AVX512<true>(above, centre, below, n, sink);
  else
    Row32AVX512<false>(above, centre, below, n, sink);
}

// Enlarging rows of 4-byte pixels: 16 output pixels per step from the one register their source
// pixels lie in; blocks whose pixels lie further apart one at a time.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void Pick32AVX512(const uint8_t* filtered, const int32_t* columns,
                                                                        const int32_t*, uint8_t* dst, int width) {
  int j = 0;
  for (; j + 16 <= width; j += 16) {
    const int base = columns[j];
    if (columns[j + 15] - base >= 64) {
      PickPixels32(filtered, columns, dst, j, j + 16);
      continue;
    }
    const __m512i idx =
        _mm512_maskz_srli_epi32(0xFFFF, _mm512_sub_epi32(_mm512_loadu_si512(columns + j), _mm512_set1_epi32(base)), 2);
    const __m512i window = _mm512_loadu_si512(filtered + base);
    _mm512_storeu_si512(dst + 4 * j, _mm512_mask_permutexvar_epi32(window, 0xFFFF, idx, window));
  }
  PickPixels32(filtered, columns, dst, j, width);
}

// 3-byte pixels, 16 output pixels (48 bytes) per step by one byte permute over the 128 bytes from
// the block's first source pixel (indices precomputed per geometry), when the block's source
// pixels lie within them (reductions up to about 2.6 to 1); the others one at a time.
__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi"))) void Pick24AVX512VBMI(const uint8_t* filtered,
                                                                                      const int32_t* columns,
                                                                                      const uint8_t* pickIndex,
                                                                                      uint8_t* dst, int width) {
  int j = 0;
  for (; j + 16 <= width; j += 16, pickIndex += 64) {
    const int base = columns[j];
    if (columns[j + 15] - base + 3 > 128) {
      PickPixels24From(filtered, columns, dst, j, j + 16);
      continue;
    }
    const __m512i q = _mm512_permutex2var_epi8(_mm512_loadu_si512(filtered + base), _mm512_loadu_si512(pickIndex),
                                               _mm512_loadu_si512(filtered + base + 64));
    _mm512_mask_storeu_epi8(dst + 3 * j, 0xFFFFFFFFFFFFull, q);
  }
  PickPixels24From(filtered, columns, dst, j, width);
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) void FilterRowAVX512(const uint8_t* above, const uint8_t* centre,
                                                                           const uint8_t* below, uint16_t*, uint16_t*,
                                                                           uint8_t* filtered, int n, int b,
                                                                           bool copyFourth) {
  if (b == 4)
    FilterRow32AVX512(above, centre, below, filtered, n, copyFourth);
  else
    FilterRow24AVX512(above, centre, below, filtered, n);
}

}  // namespace

const ScaleKernels kScaleKernelsSSE41 = {"SSE41", FilterRowSSE41, Pick32OneByOne, PickPixels24, 0, nullptr};
const ScaleKernels kScaleKernelsAVX2 = {"AVX2", FilterRowAVX2, Pick32AVX2, PickPixels24, 8, FilterPick32AVX2};
const ScaleKernels kScaleKernelsAVX512 = {"AVX512", FilterRowAVX512, Pick32AVX512, PickPixels24, 16,
                                          FilterPick32AVX512};
const ScaleKernels kScaleKernelsAVX512VBMI = {"AVX512", FilterRowAVX512, Pick32AVX512, Pick24AVX512VBMI, 16,
                                              FilterPick32AVX512};

#endif

const ScaleKernels& SelectScaleKernels(DWORD cpuFlags) {
#if defined(__x86_64__)
  if (cpuFlags & kCpuAVX512VBMI) return kScaleKernelsAVX512VBMI;
  if (cpuFlags & kCpuAVX512BW) return kScaleKernelsAVX512;
  if (cpuFlags & kCpuAVX2) return kScaleKernelsAVX2;
  if (cpuFlags & kCpuSSE41) return kScaleKernelsSSE41;
#endif
  (void)cpuFlags;
  return kScaleKernelsC;
}

}  // namespace composition

// YUV 4:2:0 -> RGB24 with AVX2, 32 pixels (16 blocks) of a row pair per step.
//
// Each channel is clamp(Y + offset - (Y < threshold)) with per-block integer offsets (the floors
// of the exact chroma terms, see kernels.h). Where a term is an exact integer the double sum
// Y + term decides by rounding: for the R term a per-value threshold derived from the reference
// settles it (the B term is never an integer); the rare blocks whose G term is exact are
// recomputed by the reference. The pixels stay bytes, as in the AVX-512 kernel: a B or R offset o
// is split into P = clamp(o, 0, 255) and N = clamp(-o, 0, 255), so that clamp(Y + o) is a
// saturating add of P and a saturating subtract of N, and the threshold's 1 is a second
// saturating subtract (the tests prove that this equals the exact form for every Y and offset);
// the G offset fits a signed byte and is added to Y - 128 with signed saturation.
#include <immintrin.h>

#include "kernels/kernels.h"

#if defined(__x86_64__) || defined(__i386__)

#pragma GCC push_options
#pragma GCC target("avx2")
// clang has no GCC target pragma: the same instruction sets as an attribute of every function.
#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#endif

#include "kernels/avx2_division.h"

namespace colour {
namespace {

struct Interleave {
  __m256i m[3][3];  // [output chunk][channel]
};

inline Interleave MakeInterleave() {
  Interleave il;
  for (int chunk = 0; chunk < 3; ++chunk)
    for (int ch = 0; ch < 3; ++ch) {
      alignas(32) signed char b[32];
      for (int k = 0; k < 32; ++k) {
        const int pos = 16 * chunk + (k & 15);
        b[k] = pos % 3 == ch ? static_cast<signed char>(pos / 3) : static_cast<signed char>(-128);
      }
      il.m[chunk][ch] = _mm256_load_si256(reinterpret_cast<const __m256i*>(b));
    }
  return il;
}

// Writes 32 pixels (96 bytes) from B, G, R bytes in pixel order.
inline void Store96(BYTE* out, __m256i b, __m256i g, __m256i r, const Interleave& il) {
  __m256i o[3];
  for (int chunk = 0; chunk < 3; ++chunk)
    o[chunk] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, il.m[chunk][0]),
                                               _mm256_shuffle_epi8(g, il.m[chunk][1])),
                               _mm256_shuffle_epi8(r, il.m[chunk][2]));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(o[0], o[1], 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32),
                      _mm256_permute2x128_si256(o[2], o[0], 0x30));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64),
                      _mm256_permute2x128_si256(o[1], o[2], 0x31));
}

// The per-pixel bytes of one step, each block's value twice: the P and N parts of the B and R
// offsets, the G offset as a signed byte and the R threshold.
struct PixelTerms {
  __m256i pb, nb, pr, nr, og, tr;
};

// Bytes of 16 block words, saturated to 0..255, for the 32 pixels: packus puts blocks 0-7 and
// 8-15 in the low halves of the two 128-bit lanes, and unpacking them with themselves doubles
// each byte in pixel order. Two sets of words at once: the low (a) and the high (b) halves.
inline void SpreadUnsigned(__m256i a, __m256i b, __m256i* pa, __m256i* pb) {
  const __m256i p = _mm256_packus_epi16(a, b);
  *pa = _mm256_unpacklo_epi8(p, p);
  *pb = _mm256_unpackhi_epi8(p, p);
}

inline void Row(const BYTE* y, BYTE* out, const PixelTerms& pt, const Interleave& il) {
  const __m256i yv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
  const __m256i one = _mm256_set1_epi8(1), bias = _mm256_set1_epi8(-128);
  const __m256i b = _mm256_subs_epu8(_mm256_adds_epu8(yv, pt.pb), pt.nb);
  // G with Y - 128 in signed bytes: signed saturation at -128 and 127 is the clamp to 0..255.
  const __m256i g = _mm256_xor_si256(_mm256_adds_epi8(_mm256_xor_si256(yv, bias), pt.og), bias);
  // R, less 1 where Y < threshold (threshold - Y saturated is then at least 1).
  const __m256i r = _mm256_subs_epu8(_mm256_subs_epu8(_mm256_adds_epu8(yv, pt.pr), pt.nr),
                                     _mm256_min_epu8(_mm256_subs_epu8(pt.tr, yv), one));
  Store96(out, b, g, r, il);
}

// kReadNext: prefetches the next row pair's Y rows; kWriteNext: its RGB24 rows, for writing
// (YuvNextRows). As template flags: a test in the step loop costs more than the prefetches save.
template <bool kReadNext, bool kWriteNext>
void RowPairWith(const BYTE* yA, const BYTE* yB, const BYTE* u, const BYTE* v, BYTE* outA,
                 BYTE* outB, int blocks, int offset, const YuvNextRows& next) {
  // In locals: the stores through BYTE pointers could otherwise alias `next` and force reloads.
  const BYTE* const nextYA = next.yA;
  const BYTE* const nextYB = next.yB;
  BYTE* const nextOutA = next.outA;
  BYTE* const nextOutB = next.outB;
  const Interleave il = MakeInterleave();
  const ExactTermThresholds& th = GetExactTermThresholds();
  const __m256i tabR = _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(th.tR)));
  const __m128i off = _mm_set1_epi8(static_cast<char>(offset));
  const __m256i c128 = _mm256_set1_epi16(128), hiZero = _mm256_set1_epi16(-32768);
  const __m256i split = SplitControl();
  const int steps = blocks / 16;
  for (int s = 0; s < steps; ++s) {
    // The next rows, as far as this step reads or writes of these.
    if constexpr (kReadNext)
      PrefetchRows<false>(nextYA, nextYB, 32 * s, 32);
    if constexpr (kWriteNext)
      PrefetchRows<true>(nextOutA, nextOutB, 96 * s, 96);
    const __m256i cb = _mm256_cvtepi8_epi16(_mm_add_epi8(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + 16 * s)), off));
    const __m256i cr = _mm256_cvtepi8_epi16(_mm_add_epi8(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + 16 * s)), off));

    // B offset: 2 Cb + floor((8 Cb + 1125) / 250) - 4 (never an exact term).
    const __m256i yb = _mm256_add_epi16(_mm256_slli_epi16(cb, 3), _mm256_set1_epi16(1125));
    const __m256i qb = _mm256_srli_epi16(_mm256_mulhi_epu16(yb, _mm256_set1_epi16(4195)), 4);
    const __m256i ob = _mm256_add_epi16(_mm256_add_epi16(cb, cb),
                                        _mm256_sub_epi16(qb, _mm256_set1_epi16(4)));
    // R offset: Cr + floor((7 Cr + 925) / 50) - 18.
    const __m256i yr = _mm256_add_epi16(_mm256_mullo_epi16(cr, _mm256_set1_epi16(7)),
                                        _mm256_set1_epi16(925));
    const __m256i qr = _mm256_srli_epi16(_mm256_mulhi_epu16(yr, _mm256_set1_epi16(20972)), 4);
    const __m256i orr = _mm256_add_epi16(cr, _mm256_sub_epi16(qr, _mm256_set1_epi16(18)));
    const __m256i exR = _mm256_cmpeq_epi16(yr, _mm256_mullo_epi16(qr, _mm256_set1_epi16(50)));
    // The R threshold where the R term is exact.
    const __m256i tr = _mm256_and_si256(
        exR, _mm256_shuffle_epi8(tabR, _mm256_or_si256(
                                           _mm256_srli_epi16(_mm256_add_epi16(cr, c128), 4), hiZero)));
    // G offset: floor(x / 1000) - 124 with x = 124500 - 581 Cr - 394 Cb, below 2^18. The
    // multiply-adds form 32 x in 32-bit lanes (blocks [0-3 | 8-11] and [4-7 | 12-15]), so that
    // x >> 3 and the dropped bits fall in whole bytes: the luma division by 1000, over a range it
    // is proven for, with its mark of the exact multiples.
    static_assert(124500 + (581 + 394) * 128 <= kLumaNumeratorMax, "x is in the proven range");
    __m256i x[2];
    for (int h = 0; h < 2; ++h) {
      const __m256i crcb = h == 0 ? _mm256_unpacklo_epi16(cr, cb) : _mm256_unpackhi_epi16(cr, cb);
      x[h] = _mm256_add_epi32(_mm256_madd_epi16(crcb, Pair16(-581 * kLumaScale, -394 * kLumaScale)),
                              _mm256_set1_epi32(124500 * kLumaScale));
    }
    __m256i checkG;
    const __m256i og =  // block order 0..15
        _mm256_sub_epi16(DivideScaled(x[0], x[1], split, &checkG), _mm256_set1_epi16(124));
    const unsigned gFix = ZeroWords(checkG);

    PixelTerms pt;
    const __m256i zero = _mm256_setzero_si256();
    SpreadUnsigned(ob, _mm256_sub_epi16(zero, ob), &pt.pb, &pt.nb);
    SpreadUnsigned(orr, _mm256_sub_epi16(zero, orr), &pt.pr, &pt.nr);
    __m256i unused;
    SpreadUnsigned(tr, zero, &pt.tr, &unused);
    const __m256i og8 = _mm256_packs_epi16(og, og);  // -124..125: no saturation
    pt.og = _mm256_unpacklo_epi8(og8, og8);
    Row(yA + 32 * s, outA + 96 * s, pt, il);
    Row(yB + 32 * s, outB + 96 * s, pt, il);

    // Blocks whose G term is exact: the reference decides.
    for (unsigned m = gFix; m; m &= m - 1) {
      const int bit = __builtin_ctz(m);
      if (bit & 1)
        continue;  // two mask bits per block
      const int j = 16 * s + bit / 2;
      RefYuvBlock(yA, yB, u, v, outA, outB, j, offset);
    }
  }
  const int done = 16 * steps;
  if (done < blocks)
    kYuvToRgb24C.rowPair(yA + 2 * done, yB + 2 * done, u + done, v + done, outA + 6 * done,
                         outB + 6 * done, blocks - done, offset);
}

void RowPairAVX2(const BYTE* yA, const BYTE* yB, const BYTE* u, const BYTE* v, BYTE* outA,
                 BYTE* outB, int blocks, int offset) {
  RowPairWith<false, false>(yA, yB, u, v, outA, outB, blocks, offset, YuvNextRows{});
}

void RowPairAheadAVX2(const BYTE* yA, const BYTE* yB, const BYTE* u, const BYTE* v,
                      BYTE* outA, BYTE* outB, int blocks, int offset, const YuvNextRows& next) {
  if (next.outA)
    RowPairWith<true, true>(yA, yB, u, v, outA, outB, blocks, offset, next);
  else
    RowPairWith<true, false>(yA, yB, u, v, outA, outB, blocks, offset, next);
}

}  // namespace

const YuvToRgbKernels kYuvToRgb24AVX2 = {"AVX2", RowPairAVX2, RowPairAheadAVX2};

}  // namespace colour

#ifdef __clang__
#pragma clang attribute pop
#endif
#pragma GCC pop_options

#endif

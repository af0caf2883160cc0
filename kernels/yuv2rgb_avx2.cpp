// YUV 4:2:0 -> RGB24 with AVX2, 32 pixels (16 blocks) of a row pair per step.
//
// Each channel is clamp(Y + offset - (Y < threshold)) with per-block integer offsets (the floors
// of the exact chroma terms, see kernels.h). Where a term is an exact integer the double sum
// Y + term decides by rounding: for the B and R terms a per-value threshold derived from the
// reference settles it; the rare blocks whose G term is exact are recomputed by the reference.
#include <immintrin.h>

#include "kernels/kernels.h"

#if defined(__x86_64__) || defined(__i386__)

#pragma GCC push_options
#pragma GCC target("avx2")
// clang has no GCC target pragma: the same instruction sets as an attribute of every function.
#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#endif

namespace colour {
namespace {

inline __m256i Pair16(int lo, int hi) {
  return _mm256_set1_epi32(static_cast<int>((static_cast<unsigned>(lo) & 0xFFFFu) |
                                            (static_cast<unsigned>(hi) << 16)));
}

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

// One channel for 32 pixels: offsets and thresholds are per pixel words in the order
// [0-7 | 16-23] (lo) and [8-15 | 24-31] (hi), matching the byte unpacking of the Y row.
inline __m256i Channel(__m256i ylo, __m256i yhi, __m256i olo, __m256i ohi, __m256i tlo,
                       __m256i thi) {
  const __m256i lo = _mm256_add_epi16(_mm256_add_epi16(ylo, olo), _mm256_cmpgt_epi16(tlo, ylo));
  const __m256i hi = _mm256_add_epi16(_mm256_add_epi16(yhi, ohi), _mm256_cmpgt_epi16(thi, yhi));
  return _mm256_packus_epi16(lo, hi);
}

inline void Row(const BYTE* y, BYTE* out, const __m256i (&o)[3][2], const __m256i (&t)[3][2],
                const Interleave& il) {
  const __m256i yv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i ylo = _mm256_unpacklo_epi8(yv, zero), yhi = _mm256_unpackhi_epi8(yv, zero);
  const __m256i b = Channel(ylo, yhi, o[0][0], o[0][1], t[0][0], t[0][1]);
  const __m256i g = Channel(ylo, yhi, o[1][0], o[1][1], t[1][0], t[1][1]);
  const __m256i r = Channel(ylo, yhi, o[2][0], o[2][1], t[2][0], t[2][1]);
  Store96(out, b, g, r, il);
}

void RowPairAVX2(const BYTE* yA, const BYTE* yB, const BYTE* u, const BYTE* v, BYTE* outA,
                 BYTE* outB, int blocks, int offset) {
  const Interleave il = MakeInterleave();
  const ExactTermThresholds& th = GetExactTermThresholds();
  const __m256i tabB = _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(th.tB)));
  const __m256i tabR = _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(th.tR)));
  const __m128i off = _mm_set1_epi8(static_cast<char>(offset));
  const __m256i c128 = _mm256_set1_epi16(128), hiZero = _mm256_set1_epi16(-32768);
  const int steps = blocks / 16;
  for (int s = 0; s < steps; ++s) {
    const __m256i cb = _mm256_cvtepi8_epi16(_mm_add_epi8(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + 16 * s)), off));
    const __m256i cr = _mm256_cvtepi8_epi16(_mm_add_epi8(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + 16 * s)), off));

    // B offset: 2 Cb + floor((8 Cb + 1125) / 250) - 4.
    const __m256i yb = _mm256_add_epi16(_mm256_slli_epi16(cb, 3), _mm256_set1_epi16(1125));
    const __m256i qb = _mm256_srli_epi16(_mm256_mulhi_epu16(yb, _mm256_set1_epi16(4195)), 4);
    const __m256i ob = _mm256_add_epi16(_mm256_add_epi16(cb, cb),
                                        _mm256_sub_epi16(qb, _mm256_set1_epi16(4)));
    const __m256i exB = _mm256_cmpeq_epi16(yb, _mm256_mullo_epi16(qb, _mm256_set1_epi16(250)));
    // R offset: Cr + floor((7 Cr + 925) / 50) - 18.
    const __m256i yr = _mm256_add_epi16(_mm256_mullo_epi16(cr, _mm256_set1_epi16(7)),
                                        _mm256_set1_epi16(925));
    const __m256i qr = _mm256_srli_epi16(_mm256_mulhi_epu16(yr, _mm256_set1_epi16(20972)), 4);
    const __m256i orr = _mm256_add_epi16(cr, _mm256_sub_epi16(qr, _mm256_set1_epi16(18)));
    const __m256i exR = _mm256_cmpeq_epi16(yr, _mm256_mullo_epi16(qr, _mm256_set1_epi16(50)));
    // Thresholds where the B or R term is exact.
    const __m256i tb = _mm256_and_si256(
        exB, _mm256_shuffle_epi8(tabB, _mm256_or_si256(
                                           _mm256_srli_epi16(_mm256_add_epi16(cb, c128), 4), hiZero)));
    const __m256i tr = _mm256_and_si256(
        exR, _mm256_shuffle_epi8(tabR, _mm256_or_si256(
                                           _mm256_srli_epi16(_mm256_add_epi16(cr, c128), 4), hiZero)));
    // G offset: floor((124500 - 581 Cr - 394 Cb) / 1000) - 124 in 32-bit lanes, blocks
    // [0-3 | 8-11] and [4-7 | 12-15].
    __m256i og2[2], exG2[2];
    for (int h = 0; h < 2; ++h) {
      const __m256i crcb = h == 0 ? _mm256_unpacklo_epi16(cr, cb) : _mm256_unpackhi_epi16(cr, cb);
      const __m256i x = _mm256_add_epi32(_mm256_madd_epi16(crcb, Pair16(-581, -394)),
                                         _mm256_set1_epi32(124500));
      const __m256i y = _mm256_srli_epi32(x, 3);
      const __m256i q = _mm256_srli_epi32(_mm256_mulhi_epu16(y, Pair16(33555, 0)), 6);
      const __m256i r = _mm256_sub_epi32(y, _mm256_mullo_epi16(q, Pair16(125, 0)));
      exG2[h] = _mm256_cmpeq_epi32(_mm256_or_si256(r, _mm256_and_si256(x, _mm256_set1_epi32(7))),
                                   _mm256_setzero_si256());
      og2[h] = _mm256_sub_epi32(q, _mm256_set1_epi32(124));
    }
    const __m256i og = _mm256_packs_epi32(og2[0], og2[1]);  // block order 0..15
    const unsigned gFix = static_cast<unsigned>(
        _mm256_movemask_epi8(_mm256_packs_epi32(exG2[0], exG2[1])));

    // Per pixel words: each block's value twice.
    const __m256i zero = _mm256_setzero_si256();
    const __m256i o[3][2] = {{_mm256_unpacklo_epi16(ob, ob), _mm256_unpackhi_epi16(ob, ob)},
                             {_mm256_unpacklo_epi16(og, og), _mm256_unpackhi_epi16(og, og)},
                             {_mm256_unpacklo_epi16(orr, orr), _mm256_unpackhi_epi16(orr, orr)}};
    const __m256i t[3][2] = {{_mm256_unpacklo_epi16(tb, tb), _mm256_unpackhi_epi16(tb, tb)},
                             {zero, zero},
                             {_mm256_unpacklo_epi16(tr, tr), _mm256_unpackhi_epi16(tr, tr)}};
    Row(yA + 32 * s, outA + 96 * s, o, t, il);
    Row(yB + 32 * s, outB + 96 * s, o, t, il);

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

}  // namespace

const YuvToRgbKernels kYuvToRgb24AVX2 = {"AVX2", RowPairAVX2};

}  // namespace colour

#ifdef __clang__
#pragma clang attribute pop
#endif
#pragma GCC pop_options

#endif

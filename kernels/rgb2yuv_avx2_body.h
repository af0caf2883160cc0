// RGB24/RGB32 -> YUV 4:2:0 with AVX2, 16 pixels (8 blocks) of a row pair per step. Compiled
// twice, inside each translation unit's instruction-set region: rgb2yuv_avx2.cpp for AVX2 and
// rgb2yuv_avxvnni.cpp for AVX2 with AVX-VNNI, whose multiply-accumulates (vpdpwssd) replace each
// multiply-add and the addition after it. The including file defines kVnni in colour's anonymous
// namespace before it includes this one, and defines the kernel tables from RowPairAVX2 and
// FrameAVX2.
//
// Luma: N = 299R + 587G + 114B + 500 in 32-bit lanes, Y = floor(N / 1000) computed as
// floor((N >> 3) / 125) with a 16-bit multiply-high (DivideBy125Shifted in kernels.h); the
// multiply-adds scale N so that N >> 3 and the dropped bits sit in whole bytes, which byte
// shuffles pack into words. Where N is a multiple of 1000 the double sum of the reference can
// land just below the integer, so those pixels are recomputed by the reference.
//
// Chroma: A = 436 SB - 147 SR - 289 SG (U) or 615 SR - 515 SG - 100 SB (V) over the block sums;
// the byte is clamp(floor((A + c) / 4000)) with c = 2000 (RGB24) or 512500 (RGB32) except where
// A + c is a multiple of 4000 (kernels.h): x = A + bias (always positive) of both planes is
// packed into words and divided at once, those blocks go through the reference. The step loop
// only stores the exact-case checks; the few steps with one are settled after a chunk.
#pragma once

#include <immintrin.h>

#include "kernels/avx2_division.h"
#include "kernels/kernels.h"

namespace colour {
namespace {

// A sum of two word-pair multiply-adds and a start value: acc + madd(a, ca) + madd(b, cb).
inline __m256i MultiplyAccumulate2(__m256i acc, __m256i a, __m256i ca, __m256i b, __m256i cb) {
  if constexpr (kVnni)
    return _mm256_dpwssd_avx_epi32(_mm256_dpwssd_avx_epi32(acc, a, ca), b, cb);
  else
    return _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(a, ca), _mm256_madd_epi16(b, cb)), acc);
}

// Eight pixels as words (blue, red) and (green, ignored) in each 32-bit lane.
struct Px8 {
  __m256i br, gx;
};

struct Shuffles24 {
  __m256i br, g;
};

inline Shuffles24 MakeShuffles24() {
  alignas(32) signed char br[32], g[32];
  for (int lane = 0; lane < 2; ++lane) {
    // The low lane holds bytes 0..15 (pixels 0..3 at 0, 3, 6, 9), the high lane bytes 8..23
    // (pixels 4..7 at 4, 7, 10, 13 relative to byte 8).
    for (int i = 0; i < 4; ++i) {
      const int o = lane == 0 ? 3 * i : 4 + 3 * i;
      signed char* pbr = br + 16 * lane + 4 * i;
      signed char* pg = g + 16 * lane + 4 * i;
      pbr[0] = static_cast<signed char>(o);
      pbr[1] = -128;
      pbr[2] = static_cast<signed char>(o + 2);
      pbr[3] = -128;
      pg[0] = static_cast<signed char>(o + 1);
      pg[1] = -128;
      pg[2] = -128;
      pg[3] = -128;
    }
  }
  return {_mm256_load_si256(reinterpret_cast<const __m256i*>(br)),
          _mm256_load_si256(reinterpret_cast<const __m256i*>(g))};
}

// Reads exactly 24 bytes.
inline Px8 Load24(const BYTE* p, const Shuffles24& s) {
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
  const __m256i v = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
  return {_mm256_shuffle_epi8(v, s.br), _mm256_shuffle_epi8(v, s.g)};
}

// Reads exactly 32 bytes.
inline Px8 Load32(const BYTE* p) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  return {_mm256_and_si256(v, _mm256_set1_epi32(0x00FF00FF)), _mm256_srli_epi16(v, 8)};
}

// Luma numerators N scaled by kLumaScale.
inline __m256i LumaNumerator8(const Px8& p) {
  constexpr int m = kLumaScale;
  return MultiplyAccumulate2(_mm256_set1_epi32(500 * m), p.br, Pair16(114 * m, 299 * m), p.gx,
                             Pair16(587 * m, 0));
}

// Block sums of 16 columns (s0: columns 0-7, s1: 8-15) as words (SB, SR) or (SG, ignored):
// lane 2k holds block k, lane 2k + 1 block 4 + k.
inline __m256i BlockPairs(__m256i s0, __m256i s1) {
  const __m256i even = _mm256_blend_epi32(s0, s1, 0xAA);  // s0 column 2k, s1 column 2k + 1
  const __m256i odd = _mm256_shuffle_epi32(_mm256_blend_epi32(s1, s0, 0xAA), 0xB1);
  return _mm256_add_epi16(even, odd);
}

// Pixel of luma word w of a step's row: words are [0-3, 8-11 | 4-7, 12-15].
inline int PixelOfLumaWord(int w) { return 4 * (w / 8) + (w % 8 < 4 ? w % 8 : 4 + w % 8); }

// The exact cases of one step, as found by the step loop, as byte masks of zero words (two bits
// a word): a word of `luma` marks a pixel of row A or of row B (or both), one of `chroma` U or V of
// a block (word k of 128-bit lane L: block 4L + k % 4). The step loop only stores them; the steps
// with a case, which are few, are settled after a chunk.
struct CheckMasks {
  unsigned luma, chroma;
};

// Gives the exact cases of step `step` to the reference: the candidates of a luma word are
// tested with the integer form (kernels.h); a chroma block is redone whole.
template <int Bpp>
void Settle(const BYTE* srcA, const BYTE* srcB, BYTE* yA, BYTE* yB, BYTE* u, BYTE* v, int step,
            CheckMasks c, int offset) {
  for (unsigned m = c.luma & 0x55555555u; m; m &= m - 1) {
    const int x = 16 * step + PixelOfLumaWord(__builtin_ctz(m) / 2);
    SettleLumaColumn<Bpp>(srcA, srcB, yA, yB, x);
  }
  for (unsigned m = c.chroma & 0x55555555u; m; m &= m - 1) {
    const int word = __builtin_ctz(m) / 2;
    const int j = 8 * step + 4 * (word / 8) + word % 4;
    RefChromaBlock<Bpp>(srcA, srcB, u, v, j, offset);
  }
}

struct Consts {
  Shuffles24 shuf;
  __m256i split, blockOrder, lumaOrder, chromaOrder, chromaPairOrder, quotientBias, chromaAdd;
};

inline Consts MakeConsts(int bpp, int offset) {
  return {MakeShuffles24(),
          SplitControl(),
          _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7),
          _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7),
          _mm256_setr_epi32(0, 4, 1, 5, 2, 3, 6, 7),
          _mm256_setr_epi32(0, 4, 2, 6, 1, 5, 3, 7),
          _mm256_set1_epi16(kChromaQuotientBias),
          _mm256_set1_epi8(static_cast<char>(bpp == 3 ? offset : kChromaByteAdd32))};
}

// One step: luma quotient words of both rows ([0-3, 8-11 | 4-7, 12-15] of the step's 16 pixels),
// the chroma quotients less the bias ([u0-3, v0-3 | u4-7, v4-7]) and the exact-case masks.
struct Step {
  __m256i qa, qb, w;
  CheckMasks masks;
};

template <int Bpp>
inline Step ComputeStep(const BYTE* pa, const BYTE* pb, const Consts& k) {
  Px8 a0, a1, b0, b1;
  if constexpr (Bpp == 3) {
    a0 = Load24(pa, k.shuf);
    a1 = Load24(pa + 24, k.shuf);
    b0 = Load24(pb, k.shuf);
    b1 = Load24(pb + 24, k.shuf);
  } else {
    a0 = Load32(pa);
    a1 = Load32(pa + 32);
    b0 = Load32(pb);
    b1 = Load32(pb + 32);
  }
  Step st;
  // Luma of both rows.
  __m256i checkA, checkB;
  // Y = floor(N / 1000) as words [0-3, 8-11 | 4-7, 12-15]; zero check words at multiples of 1000.
  st.qa = DivideScaled(LumaNumerator8(a0), LumaNumerator8(a1), k.split, &checkA);
  st.qb = DivideScaled(LumaNumerator8(b0), LumaNumerator8(b1), k.split, &checkB);

  // Chroma of the eight blocks, lanes in block order 0, 4, 1, 5, 2, 6, 3, 7.
  const __m256i br = BlockPairs(_mm256_add_epi16(a0.br, b0.br), _mm256_add_epi16(a1.br, b1.br));
  const __m256i gx = BlockPairs(_mm256_add_epi16(a0.gx, b0.gx), _mm256_add_epi16(a1.gx, b1.gx));
  constexpr int m = kChromaScale;
  // Both chroma planes divided at once: x = A + bias in block order, packed as words
  // [u0-3, v0-3 | u4-7, v4-7] of x >> 5 and of the dropped bits (DivideBy125Shifted).
  const __m256i bias = _mm256_set1_epi32(m * (Bpp == 3 ? kChromaBias24 : kChromaBias32));
  const __m256i xu = _mm256_permutevar8x32_epi32(
      MultiplyAccumulate2(bias, br, Pair16(436 * m, -147 * m), gx, Pair16(-289 * m, 0)), k.blockOrder);
  const __m256i xv = _mm256_permutevar8x32_epi32(
      MultiplyAccumulate2(bias, br, Pair16(-100 * m, 615 * m), gx, Pair16(-515 * m, 0)), k.blockOrder);
  __m256i checkC;
  st.w = _mm256_sub_epi16(DivideScaled(xu, xv, k.split, &checkC), k.quotientBias);
  st.masks = {ZeroWords(_mm256_min_epu16(checkA, checkB)), ZeroWords(checkC)};
  return st;
}

template <int Bpp, bool kPrefetchNext>
__attribute__((always_inline)) inline void RowPairWith(const Consts& k, const BYTE* srcA,
                                                       const BYTE* srcB, BYTE* yA, BYTE* yB, BYTE* u,
                                                       BYTE* v, int blocks, int offset,
                                                       const BYTE* nextA, const BYTE* nextB) {
  const int steps = blocks / 8;
  constexpr int kChunk = 64;
  CheckMasks checks[kChunk];
  for (int s0 = 0; s0 < steps; s0 += kChunk) {
    const int s1 = steps - s0 < kChunk ? steps : s0 + kChunk;
    int s = s0;
    // Two steps per iteration: their chains interleave, and each plane's row gets one store for
    // both (32 bytes of Y per row, 16 of U and of V).
    for (; s + 2 <= s1; s += 2) {
      // The next row pair's rows, as far as this iteration reads of these (see ForEachRowPair).
      if constexpr (kPrefetchNext)
        PrefetchRows<false>(nextA, nextB, 16 * Bpp * s, 32 * Bpp);
      const Step t0 = ComputeStep<Bpp>(srcA + 16 * Bpp * s, srcB + 16 * Bpp * s, k);
      const Step t1 = ComputeStep<Bpp>(srcA + 16 * Bpp * (s + 1), srcB + 16 * Bpp * (s + 1), k);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(yA + 16 * s),
                          _mm256_permutevar8x32_epi32(_mm256_packus_epi16(t0.qa, t1.qa), k.lumaOrder));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(yB + 16 * s),
                          _mm256_permutevar8x32_epi32(_mm256_packus_epi16(t0.qb, t1.qb), k.lumaOrder));
      // Signed bytes of q - 157 plus the offset (RGB24) or 128 (RGB32): dwords [u0-3, v0-3 of t0,
      // u0-3, v0-3 of t1 | the same of blocks 4-7] go to [U of t0 and t1 | V of t0 and t1].
      const __m256i c8 = _mm256_permutevar8x32_epi32(
          _mm256_add_epi8(_mm256_packs_epi16(t0.w, t1.w), k.chromaAdd), k.chromaPairOrder);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(u + 8 * s), _mm256_castsi256_si128(c8));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(v + 8 * s), _mm256_extracti128_si256(c8, 1));
      checks[s - s0] = t0.masks;
      checks[s + 1 - s0] = t1.masks;
    }
    if (s < s1) {  // an odd step at the end
      const Step st = ComputeStep<Bpp>(srcA + 16 * Bpp * s, srcB + 16 * Bpp * s, k);
      const __m256i ybytes =
          _mm256_permutevar8x32_epi32(_mm256_packus_epi16(st.qa, st.qb), k.lumaOrder);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(yA + 16 * s), _mm256_castsi256_si128(ybytes));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(yB + 16 * s), _mm256_extracti128_si256(ybytes, 1));
      const __m128i c = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(
          _mm256_add_epi8(_mm256_packs_epi16(st.w, st.w), k.chromaAdd), k.chromaOrder));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(u + 8 * s), c);  // [u0-7, v0-7]
      _mm_storel_epi64(reinterpret_cast<__m128i*>(v + 8 * s), _mm_unpackhi_epi64(c, c));
      checks[s - s0] = st.masks;
    }
    for (s = s0; s < s1; ++s) {
      const CheckMasks c = checks[s - s0];
      if ((c.luma | c.chroma) != 0)
        Settle<Bpp>(srcA, srcB, yA, yB, u, v, s, c, offset);
    }
  }
  const int done = 8 * steps;
  if (done < blocks) {
    const RgbToYuvKernels& c = Bpp == 3 ? kRgb24ToYuvC : kRgb32ToYuvC;
    c.rowPair(srcA + 2 * Bpp * done, srcB + 2 * Bpp * done, yA + 2 * done, yB + 2 * done, u + done,
              v + done, blocks - done, offset);
  }
}

template <int Bpp>
void RowPairAVX2(const BYTE* srcA, const BYTE* srcB, BYTE* yA, BYTE* yB, BYTE* u, BYTE* v,
                 int blocks, int offset) {
  RowPairWith<Bpp, false>(MakeConsts(Bpp, offset), srcA, srcB, yA, yB, u, v, blocks, offset, srcA,
                          srcB);
}

// A whole frame: the constants are made once, and one row pair follows the other without a call
// in between.
template <int Bpp>
void FrameAVX2(const RgbRowPairs& f) {
  const Consts k = MakeConsts(Bpp, f.offset);
  ForEachRowPair(f, [&](const BYTE* a, const BYTE* b, BYTE* yA, BYTE* yB, BYTE* u,
                        BYTE* v, const BYTE* nextA, const BYTE* nextB) {
    RowPairWith<Bpp, true>(k, a, b, yA, yB, u, v, f.blocks, f.offset, nextA, nextB);
  });
}

}  // namespace
}  // namespace colour

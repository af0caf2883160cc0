// SSE4.1 kernels for processors without AVX2: the AVX2 kernels' integer forms on 128-bit
// vectors (see rgb2yuv_avx2.cpp and yuv2rgb_avx2.cpp for the arithmetic). RGB -> YUV takes 8
// pixels (4 blocks) of a row pair per step, YUV -> RGB24 16 pixels (8 blocks).
#include <immintrin.h>

#include "kernels/kernels.h"

#if defined(__x86_64__) || defined(__i386__)

#pragma GCC push_options
#pragma GCC target("sse4.1")
// clang has no GCC target pragma: the same instruction sets as an attribute of every function.
#ifdef __clang__
#pragma clang attribute push(__attribute__((target("sse4.1"))), apply_to = function)
#endif

namespace colour {
namespace {

inline __m128i Pair16(int lo, int hi) {
  return _mm_set1_epi32(static_cast<int>((static_cast<unsigned>(lo) & 0xFFFFu) |
                                         (static_cast<unsigned>(hi) << 16)));
}

// y / 125 for words y below 57,690 (DivideBy125Shifted in kernels.h): the quotient, and in
// *fraction a word that is zero exactly where y is a multiple of 125.
inline __m128i Divide125(__m128i y, __m128i* fraction) {
  const __m128i m = _mm_add_epi16(y, _mm_mulhi_epu16(y, _mm_set1_epi16(kRecip125Low)));
  *fraction = _mm_and_si128(m, _mm_set1_epi16(kFractionMask));
  return _mm_srli_epi16(m, kQuotientShift);
}

inline __m128i Bytes16(const signed char (&b)[16]) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
}

// Four pixels as words (blue, red) and (green, ignored) per 32-bit lane.
struct Px4 {
  __m128i br, gx;
};

struct Shuffles24 {
  __m128i br[2], g[2];  // pixels 0-3 from bytes 0..15, pixels 4-7 from bytes 8..23
};

inline Shuffles24 MakeShuffles24() {
  Shuffles24 s;
  for (int half = 0; half < 2; ++half) {
    signed char br[16], g[16];
    for (int i = 0; i < 4; ++i) {
      const int o = half == 0 ? 3 * i : 4 + 3 * i;
      br[4 * i] = static_cast<signed char>(o);
      br[4 * i + 1] = -128;
      br[4 * i + 2] = static_cast<signed char>(o + 2);
      br[4 * i + 3] = -128;
      g[4 * i] = static_cast<signed char>(o + 1);
      g[4 * i + 1] = g[4 * i + 2] = g[4 * i + 3] = -128;
    }
    s.br[half] = Bytes16(br);
    s.g[half] = Bytes16(g);
  }
  return s;
}

inline __m128i LumaNumerator4(const Px4& p) {
  const __m128i n = _mm_add_epi32(_mm_madd_epi16(p.br, Pair16(114, 299)),
                                  _mm_madd_epi16(p.gx, Pair16(587, 0)));
  return _mm_add_epi32(n, _mm_set1_epi32(500));
}

// floor(x / (125 << S)) of the 32-bit lanes of x0 then x1 as words: x >> S and the dropped bits
// packed to words, then the one division by 125 (DivideBy125Shifted in kernels.h); *exact marks
// the multiples of 125 << S.
template <int S>
inline __m128i DivideShifted8(__m128i x0, __m128i x1, __m128i* exact) {
  const __m128i y = _mm_packus_epi32(_mm_srli_epi32(x0, S), _mm_srli_epi32(x1, S));
  const __m128i lowBits = _mm_set1_epi32((1 << S) - 1);
  const __m128i dropped = _mm_packus_epi32(_mm_and_si128(x0, lowBits), _mm_and_si128(x1, lowBits));
  __m128i fraction;
  const __m128i q = Divide125(y, &fraction);
  *exact = _mm_cmpeq_epi16(_mm_or_si128(fraction, dropped), _mm_setzero_si128());
  return q;
}

// Block sums of 8 columns (s0: columns 0-3, s1: 4-7) as words (SB, SR) or (SG, ignored), lanes
// in block order 0, 2, 1, 3.
inline __m128i BlockPairs(__m128i s0, __m128i s1) {
  const __m128i even = _mm_blend_epi16(s0, s1, 0xCC);  // s0 column 2k, s1 column 2k + 1
  const __m128i odd = _mm_shuffle_epi32(_mm_blend_epi16(s1, s0, 0xCC), 0xB1);
  return _mm_add_epi16(even, odd);
}

template <int Bpp>
inline void Load8(const BYTE* p, const Shuffles24& sh, Px4* first, Px4* second) {
  if constexpr (Bpp == 3) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
    *first = {_mm_shuffle_epi8(lo, sh.br[0]), _mm_shuffle_epi8(lo, sh.g[0])};
    *second = {_mm_shuffle_epi8(hi, sh.br[1]), _mm_shuffle_epi8(hi, sh.g[1])};
  } else {
    const __m128i mask = _mm_set1_epi32(0x00FF00FF);
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    *first = {_mm_and_si128(lo, mask), _mm_srli_epi16(lo, 8)};
    *second = {_mm_and_si128(hi, mask), _mm_srli_epi16(hi, 8)};
  }
}

template <int Bpp>
void RgbRowPairSSE41(const BYTE* srcA, const BYTE* srcB, BYTE* yA, BYTE* yB, BYTE* u, BYTE* v,
                     int blocks, int offset) {
  const Shuffles24 sh = MakeShuffles24();
  const int steps = blocks / 4;
  for (int s = 0; s < steps; ++s) {
    Px4 a0, a1, b0, b1;
    Load8<Bpp>(srcA + 8 * Bpp * s, sh, &a0, &a1);
    Load8<Bpp>(srcB + 8 * Bpp * s, sh, &b0, &b1);

    __m128i exA, exB;
    const __m128i qa = DivideShifted8<3>(LumaNumerator4(a0), LumaNumerator4(a1), &exA);  // Y, / 1000
    const __m128i qb = DivideShifted8<3>(LumaNumerator4(b0), LumaNumerator4(b1), &exB);
    const __m128i ybytes = _mm_packus_epi16(qa, qb);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(yA + 8 * s), ybytes);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(yB + 8 * s), _mm_unpackhi_epi64(ybytes, ybytes));
    unsigned lumaFix = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(exA, exB)));

    const __m128i br = BlockPairs(_mm_add_epi16(a0.br, b0.br), _mm_add_epi16(a1.br, b1.br));
    const __m128i gx = BlockPairs(_mm_add_epi16(a0.gx, b0.gx), _mm_add_epi16(a1.gx, b1.gx));
    const __m128i bias = _mm_set1_epi32(Bpp == 3 ? kChromaBias24 : kChromaBias32);
    const __m128i au = _mm_add_epi32(_mm_madd_epi16(br, Pair16(436, -147)),
                                     _mm_madd_epi16(gx, Pair16(-289, 0)));
    const __m128i av = _mm_add_epi32(_mm_madd_epi16(br, Pair16(-100, 615)),
                                     _mm_madd_epi16(gx, Pair16(-515, 0)));
    // Both planes divided at once (see the AVX2 kernel): x = A + bias in block order, packed as
    // words [u0-3, v0-3] of x >> 5 and of the dropped bits.
    const __m128i xu = _mm_shuffle_epi32(_mm_add_epi32(au, bias), 0xD8);
    const __m128i xv = _mm_shuffle_epi32(_mm_add_epi32(av, bias), 0xD8);
    __m128i exC;
    const __m128i q = DivideShifted8<5>(xu, xv, &exC);  // / 4000
    const unsigned chromaFix = static_cast<unsigned>(_mm_movemask_epi8(exC));
    const __m128i w = _mm_sub_epi16(q, _mm_set1_epi16(kChromaQuotientBias));
    const __m128i c8 = _mm_add_epi8(
        _mm_packs_epi16(w, w),
        _mm_set1_epi8(static_cast<char>(Bpp == 3 ? offset : kChromaByteAdd32)));
    const int uv = _mm_cvtsi128_si32(c8), vv = _mm_extract_epi32(c8, 1);
    __builtin_memcpy(u + 4 * s, &uv, 4);
    __builtin_memcpy(v + 4 * s, &vv, 4);

    while (lumaFix) {
      const int bit = __builtin_ctz(lumaFix);
      lumaFix &= lumaFix - 1;
      const int x = 8 * s + (bit & 7);
      const BYTE* p = (bit < 8 ? srcA : srcB) + Bpp * x;
      (bit < 8 ? yA : yB)[x] = RefLuma(p[2], p[1], p[0], Bpp == 3);
    }
    // One mask bit pair per word; words 0-3 are the U of blocks 0-3, words 4-7 their V.
    for (unsigned m = chromaFix & 0x5555u; m; m &= m - 1)
      RefRgbBlock<Bpp>(srcA, srcB, yA, yB, u, v, 4 * s + (__builtin_ctz(m) / 2) % 4, offset);
  }
  const int done = 4 * steps;
  if (done < blocks) {
    const RgbToYuvKernels& c = Bpp == 3 ? kRgb24ToYuvC : kRgb32ToYuvC;
    c.rowPair(srcA + 2 * Bpp * done, srcB + 2 * Bpp * done, yA + 2 * done, yB + 2 * done, u + done,
              v + done, blocks - done, offset);
  }
}

struct Interleave {
  __m128i m[3][3];  // [output chunk][channel]
};

inline Interleave MakeInterleave() {
  Interleave il;
  for (int chunk = 0; chunk < 3; ++chunk)
    for (int ch = 0; ch < 3; ++ch) {
      signed char b[16];
      for (int k = 0; k < 16; ++k) {
        const int pos = 16 * chunk + k;
        b[k] = pos % 3 == ch ? static_cast<signed char>(pos / 3) : static_cast<signed char>(-128);
      }
      il.m[chunk][ch] = Bytes16(b);
    }
  return il;
}

inline __m128i Channel(__m128i ylo, __m128i yhi, __m128i olo, __m128i ohi, __m128i tlo,
                       __m128i thi) {
  const __m128i lo = _mm_add_epi16(_mm_add_epi16(ylo, olo), _mm_cmpgt_epi16(tlo, ylo));
  const __m128i hi = _mm_add_epi16(_mm_add_epi16(yhi, ohi), _mm_cmpgt_epi16(thi, yhi));
  return _mm_packus_epi16(lo, hi);
}

inline void YuvRow(const BYTE* y, BYTE* out, const __m128i (&o)[3][2], const __m128i (&t)[3][2],
                   const Interleave& il) {
  const __m128i yv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
  const __m128i zero = _mm_setzero_si128();
  const __m128i ylo = _mm_unpacklo_epi8(yv, zero), yhi = _mm_unpackhi_epi8(yv, zero);
  const __m128i c[3] = {Channel(ylo, yhi, o[0][0], o[0][1], t[0][0], t[0][1]),
                        Channel(ylo, yhi, o[1][0], o[1][1], t[1][0], t[1][1]),
                        Channel(ylo, yhi, o[2][0], o[2][1], t[2][0], t[2][1])};
  for (int chunk = 0; chunk < 3; ++chunk)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * chunk),
                     _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(c[0], il.m[chunk][0]),
                                               _mm_shuffle_epi8(c[1], il.m[chunk][1])),
                                  _mm_shuffle_epi8(c[2], il.m[chunk][2])));
}

void YuvRowPairSSE41(const BYTE* yA, const BYTE* yB, const BYTE* u, const BYTE* v, BYTE* outA,
                     BYTE* outB, int blocks, int offset) {
  const Interleave il = MakeInterleave();
  const ExactTermThresholds& th = GetExactTermThresholds();
  const __m128i tabB = _mm_loadu_si128(reinterpret_cast<const __m128i*>(th.tB));
  const __m128i tabR = _mm_loadu_si128(reinterpret_cast<const __m128i*>(th.tR));
  const __m128i off = _mm_set1_epi8(static_cast<char>(offset));
  const __m128i c128 = _mm_set1_epi16(128), hiZero = _mm_set1_epi16(-32768);
  const int steps = blocks / 8;
  for (int s = 0; s < steps; ++s) {
    const __m128i cb = _mm_cvtepi8_epi16(
        _mm_add_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + 8 * s)), off));
    const __m128i cr = _mm_cvtepi8_epi16(
        _mm_add_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + 8 * s)), off));

    const __m128i yb = _mm_add_epi16(_mm_slli_epi16(cb, 3), _mm_set1_epi16(1125));
    const __m128i qb = _mm_srli_epi16(_mm_mulhi_epu16(yb, _mm_set1_epi16(4195)), 4);
    const __m128i ob =
        _mm_add_epi16(_mm_add_epi16(cb, cb), _mm_sub_epi16(qb, _mm_set1_epi16(4)));
    const __m128i exB = _mm_cmpeq_epi16(yb, _mm_mullo_epi16(qb, _mm_set1_epi16(250)));
    const __m128i yr = _mm_add_epi16(_mm_mullo_epi16(cr, _mm_set1_epi16(7)), _mm_set1_epi16(925));
    const __m128i qr = _mm_srli_epi16(_mm_mulhi_epu16(yr, _mm_set1_epi16(20972)), 4);
    const __m128i orr = _mm_add_epi16(cr, _mm_sub_epi16(qr, _mm_set1_epi16(18)));
    const __m128i exR = _mm_cmpeq_epi16(yr, _mm_mullo_epi16(qr, _mm_set1_epi16(50)));
    const __m128i tb = _mm_and_si128(
        exB, _mm_shuffle_epi8(tabB, _mm_or_si128(_mm_srli_epi16(_mm_add_epi16(cb, c128), 4), hiZero)));
    const __m128i tr = _mm_and_si128(
        exR, _mm_shuffle_epi8(tabR, _mm_or_si128(_mm_srli_epi16(_mm_add_epi16(cr, c128), 4), hiZero)));
    // G offset: floor(x / 1000) - 124 with x = 124500 - 581 Cr - 394 Cb (675..249,300), divided
    // like the luma.
    __m128i x[2];
    for (int h = 0; h < 2; ++h) {
      const __m128i crcb = h == 0 ? _mm_unpacklo_epi16(cr, cb) : _mm_unpackhi_epi16(cr, cb);
      x[h] = _mm_add_epi32(_mm_madd_epi16(crcb, Pair16(-581, -394)), _mm_set1_epi32(124500));
    }
    __m128i exG;
    const __m128i og = _mm_sub_epi16(DivideShifted8<3>(x[0], x[1], &exG), _mm_set1_epi16(124));
    const unsigned gFix = static_cast<unsigned>(_mm_movemask_epi8(exG));

    const __m128i zero = _mm_setzero_si128();
    const __m128i o[3][2] = {{_mm_unpacklo_epi16(ob, ob), _mm_unpackhi_epi16(ob, ob)},
                             {_mm_unpacklo_epi16(og, og), _mm_unpackhi_epi16(og, og)},
                             {_mm_unpacklo_epi16(orr, orr), _mm_unpackhi_epi16(orr, orr)}};
    const __m128i t[3][2] = {{_mm_unpacklo_epi16(tb, tb), _mm_unpackhi_epi16(tb, tb)},
                             {zero, zero},
                             {_mm_unpacklo_epi16(tr, tr), _mm_unpackhi_epi16(tr, tr)}};
    YuvRow(yA + 16 * s, outA + 48 * s, o, t, il);
    YuvRow(yB + 16 * s, outB + 48 * s, o, t, il);

    for (unsigned m = gFix & 0x5555u; m; m &= m - 1)
      RefYuvBlock(yA, yB, u, v, outA, outB, 8 * s + __builtin_ctz(m) / 2, offset);
  }
  const int done = 8 * steps;
  if (done < blocks)
    kYuvToRgb24C.rowPair(yA + 2 * done, yB + 2 * done, u + done, v + done, outA + 6 * done,
                         outB + 6 * done, blocks - done, offset);
}

}  // namespace

const RgbToYuvKernels kRgb24ToYuvSSE41 = {"SSE41", RgbRowPairSSE41<3>};
const RgbToYuvKernels kRgb32ToYuvSSE41 = {"SSE41", RgbRowPairSSE41<4>};
const YuvToRgbKernels kYuvToRgb24SSE41 = {"SSE41", YuvRowPairSSE41};

}  // namespace colour

#ifdef __clang__
#pragma clang attribute pop
#endif
#pragma GCC pop_options

#endif

// RGB24/RGB32 -> YUV 4:2:0 with AVX-512 (BW; VBMI for the byte permutes; VNNI for the
// multiply-accumulates), 32 pixels (16 blocks) of a row pair per step.
//
// Pixels become words (blue, red) and (green, ignored) per 32-bit lane. Luma numerators and the
// chroma terms come from multiply-accumulates on those word pairs, with coefficients scaled so
// that each numerator's quotient part fills bytes 1-2 of its lane and its dropped bits byte 0;
// byte permutes pack two registers of numerators into one of words, so that one multiply-high
// divides 32 values at once (DivideBy125Shifted in kernels.h is the same arithmetic on one
// value). The exact cases, which the reference decides, are found as zero words. The step loop
// only stores them (as two bit masks); the steps that have one (about one in twelve on a varied
// picture) are found and settled after a chunk. Two steps share each row's stores.
#include <immintrin.h>

#include <cstdint>

#include "kernels/kernels.h"

#if defined(__x86_64__) || defined(__i386__)

namespace colour {
namespace {

// Index tables, built once without any instruction-set attribute.
struct Tables512 {
  alignas(64) std::uint8_t load24BR[2][64];  // RGB24 bytes -> words (blue, red) per pixel
  alignas(64) std::uint8_t load24G[2][64];   // RGB24 bytes -> words (green, 0) per pixel
  alignas(64) std::uint8_t quotient[64];      // two registers' lanes -> words, see Divide32
  alignas(64) std::uint32_t pairOdd[16];      // see BlockPairs
  alignas(64) std::uint8_t lumaBytes[64];     // Y words of two registers -> 64 bytes, pixel order
  alignas(64) std::uint8_t chromaBytes[64];   // packed chroma of two steps -> U and V, block order
  alignas(64) std::uint16_t fractionMask[32];  // kFractionMask in every word
};

// Chroma lane L of a block-sum register holds block L / 2 (even L) or 8 + L / 2 (odd L).
constexpr int LaneOfBlock(int j) { return j < 8 ? 2 * j : 2 * (j - 8) + 1; }
constexpr int BlockOfLane(int lane) { return (lane & 1) ? 8 + lane / 2 : lane / 2; }
// Divide32 puts lane j of its first register in word 2j and lane j of its second in word 2j + 1:
// for a row, pixel j and pixel 16 + j.
constexpr int PixelOfWord(int w) { return (w & 1) ? 16 + w / 2 : w / 2; }
constexpr int WordOfPixel(int x) { return x < 16 ? 2 * x : 2 * (x - 16) + 1; }

Tables512 MakeTables512() {
  Tables512 t{};
  // Pixels 0-15 of a 32-pixel run are bytes 0..47 of a load at the run's start, pixels 16-31
  // bytes 16..63 of a load 32 bytes further on.
  for (int half = 0; half < 2; ++half)
    for (int i = 0; i < 16; ++i) {
      const int o = 16 * half + 3 * i;
      t.load24BR[half][4 * i] = static_cast<std::uint8_t>(o);
      t.load24BR[half][4 * i + 2] = static_cast<std::uint8_t>(o + 2);
      t.load24G[half][4 * i] = static_cast<std::uint8_t>(o + 1);
    }
  // Word 2j takes bytes 1-2 (the quotient part) of lane j of the first register, word 2j + 1
  // those of lane j of the second (byte indexes 64 and up).
  for (int j = 0; j < 16; ++j)
    for (int r = 0; r < 2; ++r) {
      t.quotient[4 * j + 2 * r] = static_cast<std::uint8_t>(64 * r + 4 * j + 1);
      t.quotient[4 * j + 2 * r + 1] = static_cast<std::uint8_t>(64 * r + 4 * j + 2);
    }
  for (int k = 0; k < 8; ++k) {
    t.pairOdd[2 * k] = static_cast<std::uint32_t>(2 * k + 1);  // first register, column 2k + 1
    t.pairOdd[2 * k + 1] = static_cast<std::uint32_t>(16 + 2 * k);  // second register, column 2k
  }
  // Byte x of 64 pixels: the low byte of the word of pixel x % 32 in the first register (x < 32)
  // or the second.
  for (int x = 0; x < 64; ++x)
    t.lumaBytes[x] = static_cast<std::uint8_t>(64 * (x / 32) + 2 * WordOfPixel(x % 32));
  // Two steps' chroma words (u and v of lane j at words 2j and 2j + 1) packed to bytes, 128-bit
  // lane L holding words 8L..8L+7 of the first step then of the second; out: U of block k of the
  // first step at k, of the second at 16 + k, V at 32 + k and 48 + k.
  for (int o = 0; o < 64; ++o) {
    const int plane = o / 32, second = (o / 16) & 1, k = o & 15;
    const int w = 2 * LaneOfBlock(k) + plane;
    t.chromaBytes[o] = static_cast<std::uint8_t>(16 * (w / 8) + 8 * second + w % 8);
  }
  for (auto& w : t.fractionMask)
    w = kFractionMask;
  return t;
}

const Tables512& GetTables512() {
  static const Tables512 tables = MakeTables512();
  return tables;
}

}  // namespace
}  // namespace colour

#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vnni,avx2")
// clang has no GCC target pragma: the same instruction sets as an attribute of every function.
#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vnni,avx2"))), apply_to = function)
#endif
// GCC 12 reports the deliberately undefined start values inside its AVX-512 intrinsics.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

namespace colour {
namespace {

inline __m512i Pair16(int lo, int hi) {
  return _mm512_set1_epi32(static_cast<int>((static_cast<unsigned>(lo) & 0xFFFFu) |
                                            (static_cast<unsigned>(hi) << 16)));
}

struct Consts {
  __m512i load24BR[2], load24G[2], quotient, pairOdd, lumaBytes, chromaBytes, fractionMask;
};

Consts LoadConsts() {
  const Tables512& t = GetTables512();
  Consts c;
  for (int h = 0; h < 2; ++h) {
    c.load24BR[h] = _mm512_load_si512(t.load24BR[h]);
    c.load24G[h] = _mm512_load_si512(t.load24G[h]);
  }
  c.quotient = _mm512_load_si512(t.quotient);
  c.pairOdd = _mm512_load_si512(t.pairOdd);
  c.lumaBytes = _mm512_load_si512(t.lumaBytes);
  c.chromaBytes = _mm512_load_si512(t.chromaBytes);
  c.fractionMask = _mm512_load_si512(t.fractionMask);
  return c;
}

// Sixteen pixels as words (blue, red) and (green, ignored) per 32-bit lane.
struct Px16 {
  __m512i br, gx;
};

// One row of 32 pixels; RGB24 reads exactly 96 bytes, RGB32 128.
template <int Bpp>
inline void LoadRow(const BYTE* p, const Consts& c, Px16* first, Px16* second) {
  if constexpr (Bpp == 3) {
    constexpr __mmask64 kBR = 0x5555555555555555ull, kG = 0x1111111111111111ull;
    const __m512i r0 = _mm512_loadu_si512(p);
    const __m512i r1 = _mm512_loadu_si512(p + 32);
    *first = {_mm512_maskz_permutexvar_epi8(kBR, c.load24BR[0], r0),
              _mm512_maskz_permutexvar_epi8(kG, c.load24G[0], r0)};
    *second = {_mm512_maskz_permutexvar_epi8(kBR, c.load24BR[1], r1),
               _mm512_maskz_permutexvar_epi8(kG, c.load24G[1], r1)};
  } else {
    const __m512i mask = _mm512_set1_epi32(0x00FF00FF);
    const __m512i v0 = _mm512_loadu_si512(p), v1 = _mm512_loadu_si512(p + 64);
    *first = {_mm512_and_si512(v0, mask), _mm512_srli_epi16(v0, 8)};
    *second = {_mm512_and_si512(v1, mask), _mm512_srli_epi16(v1, 8)};
  }
}

// Division by 125 << S (DivideBy125Shifted) of two registers of numerators given as
// x * 2^(8 - S) (the scale is in the multiply-accumulate coefficients): bytes 1-2 of a lane are
// x >> S, byte 0 holds the dropped bits above zeros, byte 3 is zero (scaled x < 2^24). Quotients
// come as words, lane j of x0 in word 2j and lane j of x1 in word 2j + 1, and *check has a zero
// word where x is an exact multiple. The dropped bits stay where they are: x0's in byte 0 and
// x1's moved to byte 3 of the same lane, i.e. into the word of their own value.
inline __m512i Divide32(__m512i x0, __m512i x1, __m512i quotientBytes, __m512i fractionMask,
                        __m512i* check) {
  const __m512i y = _mm512_permutex2var_epi8(x0, quotientBytes, x1);
  const __m512i m = _mm512_add_epi16(y, _mm512_mulhi_epu16(y, _mm512_set1_epi16(kRecip125Low)));
  // (x0 & 0xFF) | (x1 << 24): x1 << 24 is x1's byte 0 alone.
  const __m512i dropped = _mm512_ternarylogic_epi32(x0, _mm512_slli_epi32(x1, 24),
                                                    _mm512_set1_epi32(0xFF), 0xEC);
  *check = _mm512_ternarylogic_epi32(m, fractionMask, dropped, 0xEA);  // (m & mask) | dropped
  return _mm512_srli_epi16(m, kQuotientShift);
}

// Luma numerators N scaled by kLumaScale.
inline __m512i LumaNumerators(const Px16& p) {
  const __m512i n = _mm512_dpwssd_epi32(_mm512_set1_epi32(500 * kLumaScale), p.br,
                                        Pair16(114 * kLumaScale, 299 * kLumaScale));
  return _mm512_dpwssd_epi32(n, p.gx, Pair16(587 * kLumaScale, 0));
}

// Block sums of 32 columns (s0: columns 0-15, s1: 16-31) in the lane order of LaneOfBlock.
inline __m512i BlockPairs(__m512i s0, __m512i s1, __m512i pairOdd) {
  const __m512i even = _mm512_mask_blend_epi32(0xAAAA, s0, s1);  // s0 column 2k, s1 column 2k+1
  return _mm512_add_epi16(even, _mm512_permutex2var_epi32(s0, pairOdd, s1));
}

// Everything one step computes: Y words per row (pixel j at word WordOfPixel(j)), chroma
// quotient words (u and v of block-sum lane j at words 2j and 2j + 1) and the exact-case checks in
// the same orders.
struct Step {
  __m512i yA, yB, c, checkA, checkB, checkC;
};

template <int Bpp>
inline Step ComputeStep(const BYTE* pa, const BYTE* pb, const Consts& k) {
  Px16 a0, a1, b0, b1;
  LoadRow<Bpp>(pa, k, &a0, &a1);
  LoadRow<Bpp>(pb, k, &b0, &b1);
  Step st;
  st.yA = Divide32(LumaNumerators(a0), LumaNumerators(a1), k.quotient, k.fractionMask, &st.checkA);
  st.yB = Divide32(LumaNumerators(b0), LumaNumerators(b1), k.quotient, k.fractionMask, &st.checkB);

  const __m512i br = BlockPairs(_mm512_add_epi16(a0.br, b0.br), _mm512_add_epi16(a1.br, b1.br),
                                k.pairOdd);
  const __m512i gx = BlockPairs(_mm512_add_epi16(a0.gx, b0.gx), _mm512_add_epi16(a1.gx, b1.gx),
                                k.pairOdd);
  // x = A + bias, scaled by kChromaScale.
  constexpr int m = kChromaScale;
  const __m512i bias = _mm512_set1_epi32(m * (Bpp == 3 ? kChromaBias24 : kChromaBias32));
  const __m512i xu = _mm512_dpwssd_epi32(_mm512_dpwssd_epi32(bias, br, Pair16(436 * m, -147 * m)),
                                         gx, Pair16(-289 * m, 0));
  const __m512i xv = _mm512_dpwssd_epi32(_mm512_dpwssd_epi32(bias, br, Pair16(-100 * m, 615 * m)),
                                         gx, Pair16(-515 * m, 0));
  st.c = Divide32(xu, xv, k.quotient, k.fractionMask, &st.checkC);
  return st;
}

// The exact cases of one step, as found by the main loop: bit w of `luma` marks pixel
// PixelOfWord(w) of row A or of row B (or both), bit 2j of `chroma` U and bit 2j + 1 V of block
// BlockOfLane(j). The loop
// stores them as two words per step; the steps that have a case, which are few, are settled
// after a chunk.
struct CheckMasks {
  std::uint32_t luma, chroma;
};

inline CheckMasks MasksOf(const Step& st) {
  const __m512i luma = _mm512_min_epu16(st.checkA, st.checkB);
  return {_cvtmask32_u32(_mm512_testn_epi16_mask(luma, luma)),
          _cvtmask32_u32(_mm512_testn_epi16_mask(st.checkC, st.checkC))};
}

// Gives the exact cases of step `step` to the reference: the candidates of a luma column are
// tested with the integer form (kernels.h), a chroma block is redone whole (one of its two planes
// is exact, and the reference bytes are right for the other too).
template <int Bpp>
void Settle(const BYTE* srcA, const BYTE* srcB, BYTE* yA, BYTE* yB, BYTE* u, BYTE* v, int step,
            CheckMasks c, int offset) {
  for (unsigned m = c.luma; m; m &= m - 1) {
    const int x = 32 * step + PixelOfWord(__builtin_ctz(m));
    SettleLumaColumn<Bpp>(srcA, srcB, yA, yB, x);
  }
  for (unsigned m = (c.chroma | c.chroma >> 1) & 0x55555555u; m; m &= m - 1) {
    const int j = 16 * step + BlockOfLane(__builtin_ctz(m) / 2);
    RefChromaBlock<Bpp>(srcA, srcB, u, v, j, offset);
  }
}

template <int Bpp, bool kPrefetchNext>
__attribute__((always_inline)) inline void RowPairWith(const Consts& k, const BYTE* srcA,
                                                       const BYTE* srcB, BYTE* yA, BYTE* yB, BYTE* u,
                                                       BYTE* v, int blocks, int offset,
                                                       const BYTE* nextA, const BYTE* nextB) {
  const char add = static_cast<char>(Bpp == 3 ? offset : kChromaByteAdd32);
  const __m512i chromaAdd = _mm512_set1_epi8(add);
  const __m512i quotientBias = _mm512_set1_epi16(kChromaQuotientBias);
  const int steps = blocks / 16;
  constexpr int kChunk = 64;
  CheckMasks checks[kChunk];
  for (int s0 = 0; s0 < steps; s0 += kChunk) {
    const int s1 = steps - s0 < kChunk ? steps : s0 + kChunk;
    int s = s0;
    // Two steps per iteration: their chains interleave, and each plane's row gets one store for
    // both (64 bytes of Y per row, 32 of U and of V).
    for (; s + 2 <= s1; s += 2) {
      // The next row pair's rows, as far as this iteration reads of these (see ForEachRowPair).
      if constexpr (kPrefetchNext)
        PrefetchRows<false>(nextA, nextB, 32 * Bpp * s, 64 * Bpp);
      const Step t0 = ComputeStep<Bpp>(srcA + 32 * Bpp * s, srcB + 32 * Bpp * s, k);
      const Step t1 = ComputeStep<Bpp>(srcA + 32 * Bpp * (s + 1), srcB + 32 * Bpp * (s + 1), k);
      _mm512_storeu_si512(yA + 32 * s, _mm512_permutex2var_epi8(t0.yA, k.lumaBytes, t1.yA));
      _mm512_storeu_si512(yB + 32 * s, _mm512_permutex2var_epi8(t0.yB, k.lumaBytes, t1.yB));
      // Saturated to signed bytes, 128-bit lane L holds words 8L..8L+7 of t0 then of t1;
      // chromaBytes sorts them to [U of t0, U of t1 | V of t0, V of t1].
      const __m512i packed = _mm512_packs_epi16(_mm512_sub_epi16(t0.c, quotientBias),
                                                _mm512_sub_epi16(t1.c, quotientBias));
      const __m512i c8 = _mm512_add_epi8(_mm512_permutexvar_epi8(k.chromaBytes, packed), chromaAdd);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(u + 16 * s), _mm512_castsi512_si256(c8));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(v + 16 * s), _mm512_extracti64x4_epi64(c8, 1));
      checks[s - s0] = MasksOf(t0);
      checks[s + 1 - s0] = MasksOf(t1);
    }
    if (s < s1) {  // an odd step at the end
      const Step st = ComputeStep<Bpp>(srcA + 32 * Bpp * s, srcB + 32 * Bpp * s, k);
      const __m512i ybytes = _mm512_permutex2var_epi8(st.yA, k.lumaBytes, st.yB);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(yA + 32 * s), _mm512_castsi512_si256(ybytes));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(yB + 32 * s),
                          _mm512_extracti64x4_epi64(ybytes, 1));
      // As for two steps, with this one in both places: U at bytes 0-15, V at 32-47.
      const __m512i w = _mm512_sub_epi16(st.c, quotientBias);
      const __m512i c8 =
          _mm512_add_epi8(_mm512_permutexvar_epi8(k.chromaBytes, _mm512_packs_epi16(w, w)), chromaAdd);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(u + 16 * s), _mm512_castsi512_si128(c8));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(v + 16 * s), _mm512_extracti32x4_epi32(c8, 2));
      checks[s - s0] = MasksOf(st);
    }
    for (s = s0; s < s1; ++s) {
      const CheckMasks c = checks[s - s0];
      if ((c.luma | c.chroma) != 0)
        Settle<Bpp>(srcA, srcB, yA, yB, u, v, s, c, offset);
    }
  }
  const int done = 16 * steps;
  if (done < blocks) {
    const RgbToYuvKernels& rest = Bpp == 3 ? kRgb24ToYuvAVX2 : kRgb32ToYuvAVX2;
    rest.rowPair(srcA + 2 * Bpp * done, srcB + 2 * Bpp * done, yA + 2 * done, yB + 2 * done,
                 u + done, v + done, blocks - done, offset);
  }
}

template <int Bpp>
void RowPairAVX512(const BYTE* srcA, const BYTE* srcB, BYTE* yA, BYTE* yB, BYTE* u, BYTE* v,
                   int blocks, int offset) {
  RowPairWith<Bpp, false>(LoadConsts(), srcA, srcB, yA, yB, u, v, blocks, offset, srcA, srcB);
}

// A whole frame: the constants are loaded once, and one row pair follows the other without a call
// in between.
template <int Bpp>
void FrameAVX512(const RgbRowPairs& f) {
  const Consts k = LoadConsts();
  ForEachRowPair(f, [&](const BYTE* a, const BYTE* b, BYTE* yA, BYTE* yB, BYTE* u,
                        BYTE* v, const BYTE* nextA, const BYTE* nextB) {
    RowPairWith<Bpp, true>(k, a, b, yA, yB, u, v, f.blocks, f.offset, nextA, nextB);
  });
}

}  // namespace

const RgbToYuvKernels kRgb24ToYuvAVX512 = {"AVX512", RowPairAVX512<3>, FrameAVX512<3>};
const RgbToYuvKernels kRgb32ToYuvAVX512 = {"AVX512", RowPairAVX512<4>, FrameAVX512<4>};

}  // namespace colour

#pragma GCC diagnostic pop
#ifdef __clang__
#pragma clang attribute pop
#endif
#pragma GCC pop_options

#endif

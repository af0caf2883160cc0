// YUV 4:2:0 -> RGB24 with AVX-512 (BW and VBMI), 64 pixels (32 blocks) of a row pair per step.
// Same per-block offsets and thresholds as the AVX2 kernel (see yuv2rgb_avx2.cpp), but the pixels
// stay bytes: a B or R offset o is split into P = clamp(o, 0, 255) and N = clamp(-o, 0, 255), so
// that clamp(Y + o) is a saturating add of P and a saturating subtract of N; the G offset fits a
// signed byte and is added to Y - 128 with signed saturation. The threshold's 1 is a second
// saturating subtract. clamp(clamp(Y + o) - d) differs from clamp(Y + o - d) only where
// Y + o > 255 and Y < threshold, which no exact term meets (the tests check every Y and value);
// the B term is never an integer, so B has no threshold. Blocks whose G term is exact take the G
// threshold of their Cb (see kernels.h) instead of going to the reference; they are found by
// comparing Cr with the one Cr byte per Cb that makes the term exact. B and R depend on one
// chroma byte each, so their P, N and threshold bytes are looked up per pixel in 256-entry tables
// with two-table byte permutes; Cb, Cr >= 0 give o >= 0 and negative ones o < 0, so P comes from
// the table of the bytes 0..127 and N from that of 128..255, the other half masked to zero. The
// packed output is assembled with two-table byte permutes.
#include <immintrin.h>

#include <cstdint>

#include "kernels/kernels.h"

#if defined(__x86_64__) || defined(__i386__)

namespace colour {
namespace {

// The kernel's permute indices and chroma tables, built once.
struct Interleave512 {
  alignas(64) std::uint8_t bg[3][64];      // output chunk -> index into [B 64 | G 64]
  alignas(64) std::uint8_t r[3][64];       // output chunk -> index into R
  std::uint64_t rMask[3];                  // output chunk bytes that take R
  alignas(64) std::uint8_t spread[2][64];  // pixel -> its block's byte: packs(w, w); in order
  // By chroma byte c (the decoded value as a byte): P of B and R for c 0..127, N for c 128..255
  // (indexed c - 128), the R threshold for every c.
  alignas(64) std::uint8_t posB[128], negB[128], posR[128], negR[128], thrR[256];
  // By Cb byte: the Cr byte whose pair with it has an exact G term, and that pair's threshold (0,
  // with any Cr byte, where there is none).
  alignas(64) std::uint8_t exactCr[256], thrG[256];
};

inline std::uint8_t Saturate(int n) {
  return static_cast<std::uint8_t>(n < 0 ? 0 : (n > 255 ? 255 : n));
}

Interleave512 MakeInterleave512() {
  Interleave512 t{};
  const ExactTermThresholds& th = GetExactTermThresholds();
  for (int k = 0; k < 128; ++k) {
    t.posB[k] = Saturate(OffsetB(k));
    t.negB[k] = Saturate(-OffsetB(k - 128));
    t.posR[k] = Saturate(OffsetR(k));
    t.negR[k] = Saturate(-OffsetR(k - 128));
  }
  for (int c = -128; c < 128; ++c) {
    t.thrR[c & 255] = OffsetRExact(c) ? th.tR[((c + 128) >> 4) & 15] : 0;
    t.thrG[c & 255] = th.tG[c & 255];
    for (int cr = -128; cr < 128; ++cr)
      if (OffsetGExact(c, cr))
        t.exactCr[c & 255] = static_cast<std::uint8_t>(cr & 255);
  }
  for (int chunk = 0; chunk < 3; ++chunk)
    for (int j = 0; j < 64; ++j) {
      const int pos = 64 * chunk + j, pixel = pos / 3, ch = pos % 3;
      t.bg[chunk][j] = static_cast<std::uint8_t>(ch == 0 ? pixel : 64 + pixel);
      t.r[chunk][j] = static_cast<std::uint8_t>(pixel);
      if (ch == 2)
        t.rMask[chunk] |= 1ull << j;
    }
  // packs_epi16(w, w) puts the words of blocks 8L..8L+7 of w into bytes 0..7 of 128-bit lane L.
  for (int p = 0; p < 64; ++p) {
    t.spread[0][p] = static_cast<std::uint8_t>(16 * (p / 16) + (p / 2) % 8);
    t.spread[1][p] = static_cast<std::uint8_t>(p / 2);
  }
  return t;
}

const Interleave512& GetInterleave512() {
  static const Interleave512 t = MakeInterleave512();
  return t;
}

}  // namespace
}  // namespace colour

#pragma GCC push_options
#pragma GCC target("avx512f,avx512bw,avx512vl,avx512vbmi,avx2")
// clang has no GCC target pragma: the same instruction sets as an attribute of every function.
#ifdef __clang__
#pragma clang attribute push(__attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,avx2"))), apply_to = function)
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

// Per-pixel bytes of one step: saturated positive and negative parts of the B and R offsets (index
// 0 B, 1 R), the G offset as a signed byte (it lies in -124..125) and the G and R thresholds.
struct PixelTerms {
  __m512i p[2], n[2], og, tg, tr;
};

// clamp(clamp(Y + o) - (Y < t)) for 64 pixels.
inline __m512i Thresholded(__m512i yv, __m512i p, __m512i n, __m512i t) {
  const __m512i c = _mm512_subs_epu8(_mm512_adds_epu8(yv, p), n);
  return _mm512_mask_subs_epu8(c, _mm512_cmplt_epu8_mask(yv, t), c, _mm512_set1_epi8(1));
}

// One 64-byte chunk of the packed output from the B, G, R bytes of 64 pixels.
inline void Chunk(BYTE* out, __m512i b, __m512i g, __m512i r, __m512i idxBG, __m512i idxR,
                  __mmask64 rMask) {
  const __m512i bg = _mm512_permutex2var_epi8(b, idxBG, g);
  _mm512_storeu_si512(out, _mm512_mask_permutexvar_epi8(bg, rMask, idxR, r));
}

// Table bytes by 64 index bytes: entries 0..127 and 128..255 by two-table permutes, the top bit
// (neg) choosing.
inline __m512i Lookup256(const std::uint8_t* table, __m512i index, __mmask64 neg) {
  return _mm512_mask_blend_epi8(
      neg, _mm512_permutex2var_epi8(_mm512_load_si512(table), index, _mm512_load_si512(table + 64)),
      _mm512_permutex2var_epi8(_mm512_load_si512(table + 128), index,
                               _mm512_load_si512(table + 192)));
}

inline void Row(const BYTE* y, BYTE* out, const PixelTerms& pt, const Interleave512& il,
                const __m512i (&idxBG)[3], const __m512i (&idxR)[3]) {
  const __m512i yv = _mm512_loadu_si512(y);
  const __m512i b = _mm512_subs_epu8(_mm512_adds_epu8(yv, pt.p[0]), pt.n[0]);
  // G with Y - 128 in signed bytes: signed saturation at -128 and 127 is the clamp to 0..255.
  const __m512i bias = _mm512_set1_epi8(-128);
  __m512i gs = _mm512_adds_epi8(_mm512_xor_si512(yv, bias), pt.og);
  gs = _mm512_mask_subs_epi8(gs, _mm512_cmplt_epu8_mask(yv, pt.tg), gs, _mm512_set1_epi8(1));
  const __m512i g = _mm512_xor_si512(gs, bias);
  const __m512i r = Thresholded(yv, pt.p[1], pt.n[1], pt.tr);
  // Written out: GCC at -O2 keeps the chunk loop and reloads the indices from the stack.
  Chunk(out, b, g, r, idxBG[0], idxR[0], il.rMask[0]);
  Chunk(out + 64, b, g, r, idxBG[1], idxR[1], il.rMask[1]);
  Chunk(out + 128, b, g, r, idxBG[2], idxR[2], il.rMask[2]);
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
  const Interleave512& il = GetInterleave512();
  const __m512i idxBG[3] = {_mm512_load_si512(il.bg[0]), _mm512_load_si512(il.bg[1]),
                            _mm512_load_si512(il.bg[2])};
  const __m512i idxR[3] = {_mm512_load_si512(il.r[0]), _mm512_load_si512(il.r[1]),
                           _mm512_load_si512(il.r[2])};
  const __m512i spreadPacked = _mm512_load_si512(il.spread[0]);
  const __m512i spreadInOrder = _mm512_load_si512(il.spread[1]);
  const __m256i off = _mm256_set1_epi8(static_cast<char>(offset));
  const int steps = blocks / 32;
  for (int s = 0; s < steps; ++s) {
    // The next rows, as far as this step reads or writes of these.
    if constexpr (kReadNext)
      PrefetchRows<false>(nextYA, nextYB, 64 * s, 64);
    if constexpr (kWriteNext)
      PrefetchRows<true>(nextOutA, nextOutB, 192 * s, 192);
    const __m256i cbBytes =
        _mm256_add_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(u + 32 * s)), off);
    const __m512i cb = _mm512_cvtepi8_epi16(cbBytes);
    const __m256i crBytes =
        _mm256_add_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + 32 * s)), off);
    const __m512i cr = _mm512_cvtepi8_epi16(crBytes);

    PixelTerms pt;
    const __m512i cbPix = _mm512_permutexvar_epi8(spreadInOrder, _mm512_zextsi256_si512(cbBytes));
    const __m512i crPix = _mm512_permutexvar_epi8(spreadInOrder, _mm512_zextsi256_si512(crBytes));
    const __mmask64 cbNeg = _mm512_movepi8_mask(cbPix), crNeg = _mm512_movepi8_mask(crPix);
    pt.p[0] = _mm512_maskz_permutex2var_epi8(~cbNeg, _mm512_load_si512(il.posB), cbPix,
                                             _mm512_load_si512(il.posB + 64));
    pt.n[0] = _mm512_maskz_permutex2var_epi8(cbNeg, _mm512_load_si512(il.negB), cbPix,
                                             _mm512_load_si512(il.negB + 64));
    pt.p[1] = _mm512_maskz_permutex2var_epi8(~crNeg, _mm512_load_si512(il.posR), crPix,
                                             _mm512_load_si512(il.posR + 64));
    pt.n[1] = _mm512_maskz_permutex2var_epi8(crNeg, _mm512_load_si512(il.negR), crPix,
                                             _mm512_load_si512(il.negR + 64));
    pt.tr = Lookup256(il.thrR, crPix, crNeg);
    // The G threshold of the Cb where Cr is the one that makes the G term exact, else none.
    pt.tg = _mm512_maskz_mov_epi8(
        _mm512_cmpeq_epi8_mask(crPix, Lookup256(il.exactCr, cbPix, cbNeg)),
        Lookup256(il.thrG, cbPix, cbNeg));

    // G offset floor(x / 1000) - 124, x = 124500 - 581 Cr - 394 Cb > 0, in dword lanes: x >> 3,
    // then the division by 125 (see kernels.h); the words come back in block order.
    __m512i og2[2];
    for (int h = 0; h < 2; ++h) {
      const __m512i crcb = h == 0 ? _mm512_unpacklo_epi16(cr, cb) : _mm512_unpackhi_epi16(cr, cb);
      const __m512i x = _mm512_add_epi32(_mm512_madd_epi16(crcb, Pair16(-581, -394)),
                                         _mm512_set1_epi32(124500));
      const __m512i y = _mm512_srli_epi32(x, 3);
      const __m512i q = _mm512_srli_epi32(_mm512_mulhi_epu16(y, Pair16(33555, 0)), 6);
      og2[h] = _mm512_sub_epi32(q, _mm512_set1_epi32(124));
    }
    const __m512i og = _mm512_packs_epi32(og2[0], og2[1]);
    pt.og = _mm512_permutexvar_epi8(spreadPacked, _mm512_packs_epi16(og, og));
    Row(yA + 64 * s, outA + 192 * s, pt, il, idxBG, idxR);
    Row(yB + 64 * s, outB + 192 * s, pt, il, idxBG, idxR);
  }
  const int done = 32 * steps;
  if (done < blocks)
    kYuvToRgb24AVX2.rowPair(yA + 2 * done, yB + 2 * done, u + done, v + done, outA + 6 * done,
                            outB + 6 * done, blocks - done, offset);
}

void RowPairAVX512(const BYTE* yA, const BYTE* yB, const BYTE* u, const BYTE* v, BYTE* outA,
                   BYTE* outB, int blocks, int offset) {
  RowPairWith<false, false>(yA, yB, u, v, outA, outB, blocks, offset, YuvNextRows{});
}

void RowPairAheadAVX512(const BYTE* yA, const BYTE* yB, const BYTE* u, const BYTE* v,
                        BYTE* outA, BYTE* outB, int blocks, int offset, const YuvNextRows& next) {
  if (next.outA)
    RowPairWith<true, true>(yA, yB, u, v, outA, outB, blocks, offset, next);
  else
    RowPairWith<true, false>(yA, yB, u, v, outA, outB, blocks, offset, next);
}

}  // namespace

const YuvToRgbKernels kYuvToRgb24AVX512 = {"AVX512", RowPairAVX512, RowPairAheadAVX512};

}  // namespace colour

#pragma GCC diagnostic pop
#ifdef __clang__
#pragma clang attribute pop
#endif
#pragma GCC pop_options

#endif

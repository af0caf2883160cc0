// Internal to the colour converters: the kernel tables and the per-pixel reference arithmetic.
//
// A kernel converts one pair of picture rows (one row of 2x2 blocks). Fast kernels compute with
// integers where that is proven to give the reference bytes and send the few pixels or blocks
// where it is not through the reference arithmetic below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com/wintypes.h"

namespace colour {

// srcA, srcB: source rows of picture rows 2i and 2i + 1; yA, yB: the matching Y rows; u, v: chroma
// row i. Converts `blocks` 2x2 blocks. `offset` is the RGB24 chroma offset (ignored for RGB32).
using RgbRowPairFn = void (*)(const BYTE* srcA, const BYTE* srcB, BYTE* yA, BYTE* yB, BYTE* u,
                              BYTE* v, int blocks, int offset);
// The row pairs of a whole frame, for kernels that convert them in one call: pair i reads the
// source rows srcA + i * srcStep and that plus srcPair, and writes the Y rows y + 2i * yStride and
// the next one and the chroma rows u + i * uStride and v + i * vStride.
struct RgbRowPairs {
  const BYTE* srcA;
  std::ptrdiff_t srcStep, srcPair;
  BYTE* y;
  std::ptrdiff_t yStride;
  BYTE* u;
  std::ptrdiff_t uStride;
  BYTE* v;
  std::ptrdiff_t vStride;
  int blocks, pairs, offset;
};
using RgbFrameFn = void (*)(const RgbRowPairs& frame);
// Calls pair(srcA, srcB, yA, yB, u, v, nextA, nextB) for the row pairs of a frame in turn, with
// nextA and nextB the next pair's rows (the pair's own rows for the last pair), which the kernels
// prefetch as they go. In a bottom-up picture the next rows lie below these in memory, where the
// processor's own prefetch does not look; in a top-down one they follow, but where the picture
// comes from memory rather than the cache (as each new frame of a stream does) the processor's
// prefetch does not run far enough ahead of a kernel this fast.
template <class Pair>
inline void ForEachRowPair(const RgbRowPairs& f, Pair&& pair) {
  for (int i = 0; i < f.pairs; ++i) {
    const BYTE* a = f.srcA + i * f.srcStep;
    const BYTE* next = i + 1 < f.pairs ? a + f.srcStep : a;
    BYTE* y = f.y + 2 * i * f.yStride;
    pair(a, a + f.srcPair, y, y + f.yStride, f.u + i * f.uStride, f.v + i * f.vStride, next,
         next + f.srcPair);
  }
}

// Prefetches `bytes` bytes from offset `at` of the rows a and b, a 64-byte line at a time (for
// writing if kWrite): the kernels' look ahead into the next row pair.
template <bool kWrite>
inline void PrefetchRows(const BYTE* a, const BYTE* b, std::ptrdiff_t at, int bytes) {
  for (int line = 0; line < bytes; line += 64) {
    __builtin_prefetch(a + at + line, kWrite, 3);
    __builtin_prefetch(b + at + line, kWrite, 3);
  }
}

struct RgbToYuvKernels {
  const char* name;
  RgbRowPairFn rowPair;
  RgbFrameFn frame = nullptr;  // optional: the same bytes as rowPair on each pair in turn
};

// yA, yB: Y rows 2i and 2i + 1; outA, outB: the RGB24 rows they go to; u, v: chroma row i.
using YuvRowPairFn = void (*)(const BYTE* yA, const BYTE* yB, const BYTE* u, const BYTE* v,
                              BYTE* outA, BYTE* outB, int blocks, int offset);
// The row pair after the one a kernel converts, which it prefetches along the way: its Y rows
// (where the planes come from memory rather than the cache, as each new frame of a stream does,
// the processor's own prefetch does not run far enough ahead of a kernel this fast; prefetching
// the chroma rows as well gained nothing) and, if outA and outB are not null, its RGB24 rows for
// writing: in a bottom-up picture those lie below these in memory, where the processor's
// prefetch does not look.
struct YuvNextRows {
  const BYTE* yA;
  const BYTE* yB;
  BYTE* outA;
  BYTE* outB;
};
// As YuvRowPairFn, and prefetches `next` along the way.
using YuvRowPairAheadFn = void (*)(const BYTE* yA, const BYTE* yB, const BYTE* u, const BYTE* v,
                                   BYTE* outA, BYTE* outB, int blocks, int offset,
                                   const YuvNextRows& next);
struct YuvToRgbKernels {
  const char* name;
  YuvRowPairFn rowPair;
  YuvRowPairAheadFn rowPairAhead = nullptr;  // optional
};

extern const RgbToYuvKernels kRgb24ToYuvC;
extern const RgbToYuvKernels kRgb32ToYuvC;
extern const YuvToRgbKernels kYuvToRgb24C;
#if defined(__x86_64__) || defined(__i386__)
extern const RgbToYuvKernels kRgb24ToYuvSSE41;
extern const RgbToYuvKernels kRgb32ToYuvSSE41;
extern const YuvToRgbKernels kYuvToRgb24SSE41;
extern const RgbToYuvKernels kRgb24ToYuvAVX2;
extern const RgbToYuvKernels kRgb32ToYuvAVX2;
extern const RgbToYuvKernels kRgb24ToYuvAVXVNNI;
extern const RgbToYuvKernels kRgb32ToYuvAVXVNNI;
extern const YuvToRgbKernels kYuvToRgb24AVX2;
extern const RgbToYuvKernels kRgb24ToYuvAVX512;
extern const RgbToYuvKernels kRgb32ToYuvAVX512;
extern const YuvToRgbKernels kYuvToRgb24AVX512;
#endif

// Best kernels for a feature set (PlenorCpuFlags()).
const RgbToYuvKernels& SelectRgb24ToYuv(DWORD cpuFlags);
const RgbToYuvKernels& SelectRgb32ToYuv(DWORD cpuFlags);
const YuvToRgbKernels& SelectYuvToRgb24(DWORD cpuFlags);

// ---- Reference arithmetic. Every operation is a double-precision operation in the order
// written; the build uses -ffp-contract=off so no multiply-add is fused. ----

inline BYTE RefLuma(BYTE r, BYTE g, BYTE b, bool clampHigh) {
  const double R = r, G = g, B = b;
  double y = R * 0.299;
  y = y + 0.5;
  y = y + G * 0.587;
  y = y + B * 0.114;
  int n = static_cast<int>(y);
  if (clampHigh) {
    if (n > 255)
      n = 255;
    if (n < 0)
      n = 0;
  }
  return static_cast<BYTE>(n);
}

// Chroma of the RGB24 converter from the four pixels of a block (pixel order 0, 1, 2, 3; each
// pointer at blue, green, red).
inline void RefChroma24(const BYTE* const px[4], int offset, BYTE* u, BYTE* v) {
  double su = 0.0, sv = 0.0;
  for (int k = 0; k < 4; ++k) {
    const double B = px[k][0], G = px[k][1], R = px[k][2];
    const double uk = B * 0.436 - (R * 0.147 + G * 0.289);
    const double vk = (R * 0.615 - G * 0.515) - B * 0.1;
    su = k == 0 ? uk : su + uk;
    sv = k == 0 ? vk : sv + vk;
  }
  int nu = static_cast<int>(su), nv = static_cast<int>(sv);
  nu = (nu < 0 ? nu - 2 : nu + 2) / 4;
  nv = (nv < 0 ? nv - 2 : nv + 2) / 4;
  nu = nu < -128 ? -128 : (nu > 127 ? 127 : nu);
  nv = nv < -128 ? -128 : (nv > 127 ? 127 : nv);
  *u = static_cast<BYTE>((nu + offset) & 0xFF);
  *v = static_cast<BYTE>((nv + offset) & 0xFF);
}

inline void RefChroma32(const BYTE* const px[4], BYTE* u, BYTE* v) {
  double su = 0.0, sv = 0.0;
  for (int k = 0; k < 4; ++k) {
    const double B = px[k][0], G = px[k][1], R = px[k][2];
    const double uk = ((128.0 - R * 0.147) - G * 0.289) + B * 0.436;
    const double vk = ((R * 0.615 + 128.0) - G * 0.515) - B * 0.1;
    su = k == 0 ? uk : su + uk;
    sv = k == 0 ? vk : sv + vk;
  }
  int nu = static_cast<int>((su + 0.5) * 0.25);
  int nv = static_cast<int>((sv + 0.5) * 0.25);
  nu = nu < 0 ? 0 : (nu > 255 ? 255 : nu);
  nv = nv < 0 ? 0 : (nv > 255 ? 255 : nv);
  *u = static_cast<BYTE>(nu);
  *v = static_cast<BYTE>(nv);
}

// Decodes a chroma byte with the offset: the low 8 bits of (c + offset) read as signed.
inline int DecodeChroma(BYTE c, int offset) {
  return static_cast<int>(static_cast<std::int8_t>(static_cast<BYTE>((c + offset) & 0xFF)));
}

struct RefRgbTerms {
  double tb, tg, tr;
};

inline RefRgbTerms RefTerms(int cb, int cr) {
  const double Cb = cb, Cr = cr;
  RefRgbTerms t;
  t.tb = Cb * 2.032 + 0.5;
  t.tg = (Cr * -0.581 + Cb * -0.394) + 0.5;
  t.tr = Cr * 1.14 + 0.5;
  return t;
}

inline BYTE RefChannel(BYTE y, double term) {
  int n = static_cast<int>(static_cast<double>(y) + term);
  return static_cast<BYTE>(n > 255 ? 255 : (n < 0 ? 0 : n));
}

inline void RefPixel(BYTE y, const RefRgbTerms& t, BYTE* out) {
  out[0] = RefChannel(y, t.tb);
  out[1] = RefChannel(y, t.tg);
  out[2] = RefChannel(y, t.tr);
}

// The chroma pair of block j by the reference.
template <int Bpp>
inline void RefChromaBlock(const BYTE* srcA, const BYTE* srcB, BYTE* u, BYTE* v, int j, int offset) {
  const BYTE* const px[4] = {srcA + 2 * j * Bpp, srcA + (2 * j + 1) * Bpp, srcB + 2 * j * Bpp,
                             srcB + (2 * j + 1) * Bpp};
  if constexpr (Bpp == 3)
    RefChroma24(px, offset, u + j, v + j);
  else
    RefChroma32(px, u + j, v + j);
}

// One whole block by the reference: four luma samples and the chroma pair of block j.
template <int Bpp>
inline void RefRgbBlock(const BYTE* srcA, const BYTE* srcB, BYTE* yA, BYTE* yB, BYTE* u, BYTE* v,
                        int j, int offset) {
  const bool clampHigh = Bpp == 3;
  for (int k = 0; k < 2; ++k) {
    const BYTE* a = srcA + (2 * j + k) * Bpp;
    const BYTE* b = srcB + (2 * j + k) * Bpp;
    yA[2 * j + k] = RefLuma(a[2], a[1], a[0], clampHigh);
    yB[2 * j + k] = RefLuma(b[2], b[1], b[0], clampHigh);
  }
  RefChromaBlock<Bpp>(srcA, srcB, u, v, j, offset);
}

// The four RGB24 pixels of block j by the reference.
inline void RefYuvBlock(const BYTE* yA, const BYTE* yB, const BYTE* u, const BYTE* v, BYTE* outA,
                        BYTE* outB, int j, int offset) {
  const RefRgbTerms t = RefTerms(DecodeChroma(u[j], offset), DecodeChroma(v[j], offset));
  RefPixel(yA[2 * j], t, outA + 6 * j);
  RefPixel(yA[2 * j + 1], t, outA + 6 * j + 3);
  RefPixel(yB[2 * j], t, outB + 6 * j);
  RefPixel(yB[2 * j + 1], t, outB + 6 * j + 3);
}

// ---- Integer forms used by the fast kernels (proven against the reference by the tests). ----

// Luma: floor(N / 1000) with N = 299R + 587G + 114B + 500, except where N is a multiple of 1000:
// there the double sum can fall either side of the integer and the reference decides.
inline int LumaNumerator(int r, int g, int b) { return 299 * r + 587 * g + 114 * b + 500; }
constexpr int kLumaNumeratorMax = 299 * 255 + 587 * 255 + 114 * 255 + 500;

// Chroma: A = 436 SB - 147 SR - 289 SG (U) or 615 SR - 515 SG - 100 SB (V) over a block's sums.
// Both converters' chroma is clamp(floor((A + c) / 4000)) with c = 2000 (RGB24, clamp to
// -128..127, then the offset added) or c = 512500 (RGB32, clamp to 0..255), except where A + c is
// a multiple of 4000: there the double sums' rounding can change the byte and the reference
// decides. The kernels divide x = A + bias, which is positive, and store the byte from q - 157,
// saturated to -128..127, plus the offset (RGB24) or kChromaByteAdd32.
constexpr int kChromaTermMax = 615 * 1020;  // |A| for byte input
constexpr int kChromaBias24 = 2000 + 157 * 4000;
constexpr int kChromaBias32 = 512500 + 29 * 4000;
constexpr int kChromaQuotientBias = 157;
constexpr int kChromaByteAdd32 = 128;

// Column x of a row pair whose luma check was zero: the kernels merge the two rows' checks, so
// each row's pixel is redone by the reference if its numerator is an exact multiple of 1000.
template <int Bpp>
inline void SettleLumaColumn(const BYTE* srcA, const BYTE* srcB, BYTE* yA, BYTE* yB, int x) {
  const BYTE* pa = srcA + Bpp * x;
  const BYTE* pb = srcB + Bpp * x;
  if (LumaNumerator(pa[2], pa[1], pa[0]) % 1000 == 0)
    yA[x] = RefLuma(pa[2], pa[1], pa[0], Bpp == 3);
  if (LumaNumerator(pb[2], pb[1], pb[0]) % 1000 == 0)
    yB[x] = RefLuma(pb[2], pb[1], pb[0], Bpp == 3);
}

// The SIMD kernels' numerator scales: they put the quotient part x >> s in bytes 1-2 of a 32-bit
// lane and the dropped bits in byte 0 (byte 3 stays zero: scaled x < 2^24): luma divides by
// 1000 = 125 << 3, chroma by 4000 = 125 << 5.
constexpr int kLumaScale = 1 << (8 - 3);
constexpr int kChromaScale = 1 << (8 - 5);
static_assert(kLumaScale * kLumaNumeratorMax < 1 << 24, "scaled luma numerator fits 3 bytes");
static_assert(kChromaScale * (kChromaTermMax + kChromaBias24) < 1 << 24 &&
                  kChromaScale * (kChromaTermMax + kChromaBias32) < 1 << 24 &&
                  kChromaBias24 >= kChromaTermMax && kChromaBias32 >= kChromaTermMax,
              "scaled chroma numerator is positive and fits 3 bytes");

// Division by 125 << s in 16-bit lanes, the way the SIMD kernels do it: x << (16 - s) splits x
// into y = x >> s (high word) and the dropped bits (low word). One multiply-high gives
// m = y + ((y * kRecip125Low) >> 16) = floor(y * 2 * 33555 / 2^16) = 128 q + f with q = floor(y / 125)
// (33555 * 125 = 2^22 + 71) and a fraction f of 7 bits that is zero exactly where y is a multiple of
// 125, while y < 57,690: m >> 7 is the quotient, and x is a multiple of 125 << s exactly where
// (m & 127) | low is zero. Proven over every numerator the kernels form; m stays below 2^16.
constexpr int kRecip125 = 33555;
constexpr int kRecip125Low = 2 * kRecip125 - 65536;  // the multiplier of the multiply-high
constexpr int kQuotientShift = 7;                    // m >> 7 is the quotient
constexpr int kFractionMask = 127;                   // m & 127 is zero for a multiple
struct ShiftedQuotient {
  int q;
  bool exact;
};
inline ShiftedQuotient DivideBy125Shifted(std::uint32_t x, int s) {
  const std::uint32_t t = x << (16 - s);
  const std::uint32_t y = t >> 16, low = t & 0xFFFFu;
  const std::uint32_t m = (y + ((y * kRecip125Low) >> 16)) & 0xFFFFu;  // a 16-bit lane
  return {static_cast<int>(m >> kQuotientShift), ((m & kFractionMask) | low) == 0};
}

// I420 -> RGB24 per-block channel offsets: a channel is clamp(Y + offset - (Y < threshold)).
// The offsets are the floors of the exact terms; where a term is an exact integer the double sum
// Y + term can round either way and a threshold (derived from the reference) or the reference
// itself decides.
inline int OffsetB(int cb) { return 2 * cb + (8 * cb + 1125) / 250 - 4; }
inline bool OffsetBExact(int cb) { return (8 * cb + 1125) % 250 == 0; }
inline int OffsetR(int cr) { return cr + (7 * cr + 925) / 50 - 18; }
inline bool OffsetRExact(int cr) { return (7 * cr + 925) % 50 == 0; }
inline int OffsetG(int cb, int cr) { return (124500 - 581 * cr - 394 * cb) / 1000 - 124; }
inline bool OffsetGExact(int cb, int cr) { return (124500 - 581 * cr - 394 * cb) % 1000 == 0; }

// Thresholds for the B and R channels where the term is an exact integer, indexed by
// ((c + 128) >> 4) & 15 of the decoded chroma value c, and for G by the Cb byte (cb & 255): the
// threshold of the one Cr, if any, whose pair with that Cb makes the G term exact. Derived once
// from the reference; `valid` is false if the exact values do not fit this form (the fast kernels
// are then not used).
struct ExactTermThresholds {
  BYTE tB[16];
  BYTE tR[16];
  BYTE tG[256];
  bool valid;
};
const ExactTermThresholds& GetExactTermThresholds();

}  // namespace colour

// RGB24/RGB32 -> YUV 4:2:0 with AVX-512 (BW; VBMI for the byte permutes; VNNI for the
// multiply-accumulates), 32 pixels (16 blocks)
// of a row pair per step. Same integer forms as the AVX2 kernel (see rgb2yuv_avx2.cpp); exact
// cases come out as mask bits and go through the reference.
#include <immintrin.h>

#include <cstdint>

#include "kernels/kernels.h"

#if defined(__x86_64__) || defined(__i386__)

namespace colour {
namespace {

// Byte tables, built once without any instruction-set attribute.
struct Tables512 {
  alignas(64) std::uint8_t load24BR[2][64];  // RGB24 bytes -> words (blue, red) per pixel
  alignas(64) std::uint8_t load24G[2][64];   // RGB24 bytes -> words (green, 0) per pixel
  alignas(64) std::uint16_t lowWords[32];   // words 0, 2, 4, ... of two registers
  alignas(64) std::uint8_t lowBytes[64];    // bytes 0, 2, 4, ... of two registers
  alignas(64) std::uint8_t chromaOrder[64];  // packed chroma bytes -> [u 0-15, v 0-15]
  std::uint8_t chromaLaneBlock[16];  // 32-bit lane of a chroma vector -> block
};

Tables512 MakeTables512() {
  Tables512 t{};
  // Pixels 0-15 of a 32-pixel run come from its first 64 bytes, pixels 16-31 from bytes 48..95
  // (indexes 64 and up select the second register).
  for (int half = 0; half < 2; ++half)
    for (int i = 0; i < 16; ++i) {
      const int o = 48 * half + 3 * i;
      t.load24BR[half][4 * i] = static_cast<std::uint8_t>(o);
      t.load24BR[half][4 * i + 2] = static_cast<std::uint8_t>(o + 2);
      t.load24G[half][4 * i] = static_cast<std::uint8_t>(o + 1);
    }
  for (int i = 0; i < 32; ++i)
    t.lowWords[i] = static_cast<std::uint16_t>(i < 16 ? 2 * i : 32 + 2 * (i - 16));
  for (int i = 0; i < 64; ++i)
    t.lowBytes[i] = static_cast<std::uint8_t>(i < 32 ? 2 * i : 64 + 2 * (i - 32));
  // Chroma lanes hold block p/2 at even p and block 8 + p/2 at odd p; packs_epi32(u, v) and the
  // byte pack give per 128-bit lane [u 4 bytes, v 4 bytes, u 4 bytes, v 4 bytes].
  for (int p = 0; p < 16; ++p) {
    const int block = p % 2 == 0 ? p / 2 : 8 + p / 2;
    t.chromaLaneBlock[p] = static_cast<std::uint8_t>(block);
    const int lane = p / 4, k = p % 4;
    t.chromaOrder[block] = static_cast<std::uint8_t>(16 * lane + k);
    t.chromaOrder[16 + block] = static_cast<std::uint8_t>(16 * lane + 4 + k);
  }
  for (int i = 32; i < 64; ++i)
    t.chromaOrder[i] = 0;
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

struct Px16 {
  __m512i br, gx;
};

// Reads exactly 96 bytes (32 pixels) with plain loads.
inline void Load24x32(const BYTE* p, const __m512i (&idxBR)[2], const __m512i (&idxG)[2], Px16* first,
                      Px16* second) {
  constexpr __mmask64 kBR = 0x5555555555555555ull, kG = 0x1111111111111111ull;
  const __m512i r0 = _mm512_loadu_si512(p);
  const __m512i r1 =
      _mm512_zextsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 64)));
  *first = {_mm512_maskz_permutexvar_epi8(kBR, idxBR[0], r0),
            _mm512_maskz_permutexvar_epi8(kG, idxG[0], r0)};
  *second = {_mm512_maskz_permutex2var_epi8(kBR, r0, idxBR[1], r1),
             _mm512_maskz_permutex2var_epi8(kG, r0, idxG[1], r1)};
}

inline Px16 Load32(const BYTE* p) {
  const __m512i v = _mm512_loadu_si512(p);
  return {_mm512_and_si512(v, _mm512_set1_epi32(0x00FF00FF)), _mm512_srli_epi16(v, 8)};
}

inline __m512i LumaNumerator16(const Px16& p) {
  const __m512i n = _mm512_dpwssd_epi32(_mm512_set1_epi32(500), p.br, Pair16(114, 299));
  return _mm512_dpwssd_epi32(n, p.gx, Pair16(587, 0));
}

// Y = floor(N / 1000) for 32 pixels (numerators n0: pixels 0-15, n1: 16-31) as words in pixel
// order; *exact gets the pixels whose N is a multiple of 1000.
inline __m512i Luma32(__m512i n0, __m512i n1, __m512i lowWords, __mmask32* exact) {
  const __m512i y =
      _mm512_permutex2var_epi16(_mm512_srli_epi32(n0, 3), lowWords, _mm512_srli_epi32(n1, 3));
  const __m512i q = _mm512_srli_epi16(_mm512_mulhi_epu16(y, _mm512_set1_epi16(-31981)), 6);
  const __mmask32 multipleOf125 =
      _mm512_cmpeq_epi16_mask(y, _mm512_mullo_epi16(q, _mm512_set1_epi16(125)));
  const __m512i seven = _mm512_set1_epi32(7);
  const __mmask32 multipleOf8 =
      _mm512_kunpackw(_mm512_testn_epi32_mask(n1, seven), _mm512_testn_epi32_mask(n0, seven));
  *exact = multipleOf125 & multipleOf8;
  return q;
}

inline __m512i Div4000(__m512i x, __mmask16* exact) {
  const __m512i y = _mm512_srli_epi32(x, 5);
  const __m512i q = _mm512_srli_epi32(_mm512_mulhi_epu16(y, Pair16(33555, 0)), 6);
  *exact = _mm512_cmpeq_epi32_mask(y, _mm512_mullo_epi16(q, Pair16(125, 0))) &
           _mm512_testn_epi32_mask(x, _mm512_set1_epi32(31));
  return q;
}

inline void BlockSums(const Px16& a, const Px16& b, __m512i* br, __m512i* gx) {
  __m512i s = _mm512_add_epi16(a.br, b.br);
  *br = _mm512_add_epi16(s, _mm512_srli_epi64(s, 32));
  s = _mm512_add_epi16(a.gx, b.gx);
  *gx = _mm512_add_epi16(s, _mm512_srli_epi64(s, 32));
}

template <int Bpp>
void RowPairAVX512(const BYTE* srcA, const BYTE* srcB, BYTE* yA, BYTE* yB, BYTE* u, BYTE* v,
                   int blocks, int offset) {
  const Tables512& tab = GetTables512();
  const __m512i idxBR[2] = {_mm512_load_si512(tab.load24BR[0]), _mm512_load_si512(tab.load24BR[1])};
  const __m512i idxG[2] = {_mm512_load_si512(tab.load24G[0]), _mm512_load_si512(tab.load24G[1])};
  const __m512i lowWords = _mm512_load_si512(tab.lowWords);
  const __m512i lowBytes = _mm512_load_si512(tab.lowBytes);
  const __m512i chromaOrder = _mm512_load_si512(tab.chromaOrder);
  const __m512i zero = _mm512_setzero_si512();
  const int steps = blocks / 16;
  for (int s = 0; s < steps; ++s) {
    const BYTE* pa = srcA + 32 * Bpp * s;
    const BYTE* pb = srcB + 32 * Bpp * s;
    Px16 a0, a1, b0, b1;
    if constexpr (Bpp == 3) {
      Load24x32(pa, idxBR, idxG, &a0, &a1);
      Load24x32(pb, idxBR, idxG, &b0, &b1);
    } else {
      a0 = Load32(pa);
      a1 = Load32(pa + 64);
      b0 = Load32(pb);
      b1 = Load32(pb + 64);
    }

    __mmask32 exA, exB;
    const __m512i qa = Luma32(LumaNumerator16(a0), LumaNumerator16(a1), lowWords, &exA);
    const __m512i qb = Luma32(LumaNumerator16(b0), LumaNumerator16(b1), lowWords, &exB);
    const __m512i ybytes = _mm512_permutex2var_epi8(qa, lowBytes, qb);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(yA + 32 * s), _mm512_castsi512_si256(ybytes));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(yB + 32 * s),
                        _mm512_extracti64x4_epi64(ybytes, 1));

    __m512i br0, gx0, br1, gx1;
    BlockSums(a0, b0, &br0, &gx0);
    BlockSums(a1, b1, &br1, &gx1);
    const __m512i br = _mm512_mask_blend_epi32(0xAAAA, br0, _mm512_slli_epi64(br1, 32));
    const __m512i gx = _mm512_mask_blend_epi32(0xAAAA, gx0, _mm512_slli_epi64(gx1, 32));
    const __m512i au = _mm512_dpwssd_epi32(_mm512_madd_epi16(br, Pair16(436, -147)), gx,
                                           Pair16(-289, 0));
    const __m512i av = _mm512_dpwssd_epi32(_mm512_madd_epi16(br, Pair16(-100, 615)), gx,
                                           Pair16(-515, 0));
    __m512i cu, cv;
    __mmask16 exU, exV;
    if constexpr (Bpp == 3) {
      const __m512i bias = _mm512_set1_epi32(2000);
      cu = Div4000(_mm512_add_epi32(_mm512_abs_epi32(au), bias), &exU);
      cv = Div4000(_mm512_add_epi32(_mm512_abs_epi32(av), bias), &exV);
      cu = _mm512_mask_sub_epi32(cu, _mm512_cmplt_epi32_mask(au, zero), zero, cu);
      cv = _mm512_mask_sub_epi32(cv, _mm512_cmplt_epi32_mask(av, zero), zero, cv);
    } else {
      const __m512i bias = _mm512_set1_epi32(512500), one = _mm512_set1_epi32(1);
      cu = Div4000(_mm512_max_epi32(_mm512_add_epi32(au, bias), one), &exU);
      cv = Div4000(_mm512_max_epi32(_mm512_add_epi32(av, bias), one), &exV);
    }
    const __m512i w = _mm512_packs_epi32(cu, cv);
    __m512i c8;
    if constexpr (Bpp == 3)
      c8 = _mm512_add_epi8(_mm512_packs_epi16(w, w), _mm512_set1_epi8(static_cast<char>(offset)));
    else
      c8 = _mm512_packus_epi16(w, w);
    c8 = _mm512_permutexvar_epi8(chromaOrder, c8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(u + 16 * s), _mm512_castsi512_si128(c8));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(v + 16 * s), _mm512_extracti32x4_epi32(c8, 1));

    // The rare pixels and blocks the integer form cannot decide.
    for (int row = 0; row < 2; ++row)
      for (unsigned m = row == 0 ? exA : exB; m; m &= m - 1) {
        const int x = 32 * s + __builtin_ctz(m);
        const BYTE* p = (row == 0 ? srcA : srcB) + Bpp * x;
        (row == 0 ? yA : yB)[x] = RefLuma(p[2], p[1], p[0], Bpp == 3);
      }
    for (unsigned m = static_cast<unsigned>(exU | exV); m; m &= m - 1) {
      const int j = 16 * s + tab.chromaLaneBlock[__builtin_ctz(m)];
      RefRgbBlock<Bpp>(srcA, srcB, yA, yB, u, v, j, offset);
    }
  }
  const int done = 16 * steps;
  if (done < blocks) {
    const RgbToYuvKernels& rest = Bpp == 3 ? kRgb24ToYuvAVX2 : kRgb32ToYuvAVX2;
    rest.rowPair(srcA + 2 * Bpp * done, srcB + 2 * Bpp * done, yA + 2 * done, yB + 2 * done,
                 u + done, v + done, blocks - done, offset);
  }
}

}  // namespace

const RgbToYuvKernels kRgb24ToYuvAVX512 = {"AVX512", RowPairAVX512<3>};
const RgbToYuvKernels kRgb32ToYuvAVX512 = {"AVX512", RowPairAVX512<4>};

}  // namespace colour

#pragma GCC diagnostic pop
#ifdef __clang__
#pragma clang attribute pop
#endif
#pragma GCC pop_options

#endif

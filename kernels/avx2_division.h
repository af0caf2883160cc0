// AVX2 helpers shared by the RGB -> YUV and YUV -> RGB kernels: word-pair constants, and the
// division by 125 << s of scaled numerators (DivideBy125Shifted in kernels.h) with its
// exact-multiple mark. Included inside each file's AVX2 instruction-set region.
#pragma once

#include <immintrin.h>

#include "kernels/kernels.h"

namespace colour {
namespace {

inline __m256i Pair16(int lo, int hi) {
  return _mm256_set1_epi32(static_cast<int>((static_cast<unsigned>(lo) & 0xFFFFu) |
                                            (static_cast<unsigned>(hi) << 16)));
}

// y / 125 for words y below 57,690 (DivideBy125Shifted in kernels.h): the quotient, and in
// *fraction a word that is zero exactly where y is a multiple of 125.
inline __m256i Divide125(__m256i y, __m256i* fraction) {
  const __m256i m = _mm256_add_epi16(y, _mm256_mulhi_epu16(y, _mm256_set1_epi16(kRecip125Low)));
  *fraction = _mm256_and_si256(m, _mm256_set1_epi16(kFractionMask));
  return _mm256_srli_epi16(m, kQuotientShift);
}

// Per 128-bit lane: bytes 1-2 of the four 32-bit lanes as words 0-3, bytes 0 and 3 as words 4-7.
inline __m256i SplitControl() {
  return _mm256_setr_epi8(1, 2, 5, 6, 9, 10, 13, 14, 0, 3, 4, 7, 8, 11, 12, 15, 1, 2, 5, 6, 9, 10,
                          13, 14, 0, 3, 4, 7, 8, 11, 12, 15);
}

// Two registers of scaled numerators as words: *y = x >> s, *dropped zero where the dropped bits
// are, in the order [x0 0-3, x1 0-3 | x0 4-7, x1 4-7].
inline void SplitScaled(__m256i x0, __m256i x1, __m256i control, __m256i* y, __m256i* dropped) {
  const __m256i s0 = _mm256_shuffle_epi8(x0, control), s1 = _mm256_shuffle_epi8(x1, control);
  *y = _mm256_unpacklo_epi64(s0, s1);
  *dropped = _mm256_unpackhi_epi64(s0, s1);
}

// floor(x / (125 << s)) of two registers of scaled numerators (see SplitScaled) as words in
// SplitScaled's order; *check has a zero word where x is a multiple of 125 << s.
inline __m256i DivideScaled(__m256i x0, __m256i x1, __m256i control, __m256i* check) {
  __m256i y, dropped, fraction;
  SplitScaled(x0, x1, control, &y, &dropped);
  const __m256i q = Divide125(y, &fraction);
  *check = _mm256_or_si256(fraction, dropped);
  return q;
}

// Two mask bits for each zero word of v.
inline unsigned ZeroWords(__m256i v) {
  return static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi16(v, _mm256_setzero_si256())));
}

}  // namespace
}  // namespace colour

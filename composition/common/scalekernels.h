// The fast scaler's row kernels (internal to composition/common). One table per instruction set;
// every entry gives exactly the bytes of the C entry.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/com/wintypes.h"

namespace composition {

struct ScaleKernels {
  const char* name;
  // One source row with the 3x3 kernel applied, from the rows above, at and below it (n bytes
  // each, read exactly): for each byte k < n, filtered[k] = (S[k - b] + S[k] + S[k + b] +
  // 7 x centre[k] + 8) >> 4, where S[k] = above[k] + centre[k] + below[k], b = bytesPerPixel and
  // a neighbour outside the row is the pixel itself; except the fourth byte of a 4-byte pixel
  // when copyFourth (centre[k]). The output row then picks whole filtered pixels by column.
  // sums and centre16 are scratch rows of n + 64 elements the kernel may use; exactly n bytes of
  // filtered are written.
  void (*filterRow)(const uint8_t* above, const uint8_t* centre, const uint8_t* below, uint16_t* sums,
                    uint16_t* centre16, uint8_t* filtered, int n, int bytesPerPixel, bool copyFourth);
  // 4-byte pixels: dst pixel j = the filtered pixel at byte offset columns[j], for j < width.
  // filtered holds at least 64 bytes beyond the row (whole-register loads). pickIndex: see
  // PickIndex32.
  void (*pick32)(const uint8_t* filtered, const int32_t* columns, const int32_t* pickIndex, uint8_t* dst, int width);
  // 3-byte pixels likewise; pickIndex: 64 bytes per block of 16 output pixels, see PickIndex24.
  void (*pick24)(const uint8_t* filtered, const int32_t* columns, const uint8_t* pickIndex, uint8_t* dst, int width);
  // Shrinking rows of 4-byte pixels in one pass (0 and null in tables without it): the source
  // row's filtered pixels are computed planStep at a time and the output pixels that read them
  // are written from the register at once, so no filtered row goes through memory. The plan has,
  // for each step s, planStep entries: the step's output pixels in order as the index of their
  // source pixel within the step (counts[s] of them, at most planStep since a shrinking row reads
  // every source pixel at most once). dst gets exactly width pixels; n is the source row in bytes.
  int planStep;
  void (*filterPick32)(const uint8_t* above, const uint8_t* centre, const uint8_t* below, const int32_t* plan,
                       const uint8_t* counts, uint8_t* dst, int n, int width, bool copyFourth);
};

// The second step of a two-pass filterRow, for the bytes from <= k < to of a row of n bytes, one
// at a time, from the column sums S (sums) and the centre row widened (centre16).
inline void FilterRowRange(const uint16_t* sums, const uint16_t* centre16, uint8_t* filtered, int from, int to, int n,
                           int bytesPerPixel, bool copyFourth) {
  const int b = bytesPerPixel;
  for (int k = from; k < to; ++k) {
    if (copyFourth && k % 4 == 3) {
      filtered[k] = static_cast<uint8_t>(centre16[k]);
      continue;
    }
    const int l = k >= b ? k - b : k, r = k + b < n ? k + b : k;
    filtered[k] = static_cast<uint8_t>((sums[l] + sums[k] + sums[r] + 7u * centre16[k] + 8u) >> 4);
  }
}

// filterRow for the bytes from <= k < to straight from the three rows, one at a time: the edges
// and tails of the one-pass SIMD kernels.
inline void FilterRowRangeFromRows(const uint8_t* above, const uint8_t* centre, const uint8_t* below, uint8_t* filtered,
                                   int from, int to, int n, int bytesPerPixel, bool copyFourth) {
  const int b = bytesPerPixel;
  for (int k = from; k < to; ++k) {
    if (copyFourth && k % 4 == 3) {
      filtered[k] = centre[k];
      continue;
    }
    const int l = k >= b ? k - b : k, r = k + b < n ? k + b : k;
    const unsigned sum = above[l] + centre[l] + below[l] + above[k] + 8u * centre[k] + below[k] + above[r] +
                         centre[r] + below[r] + 8u;
    filtered[k] = static_cast<uint8_t>(sum >> 4);
  }
}

// For output pixel j in a block of 8, the pixel index of its source pixel counted from the block's
// first one's (one table lookup per block for pick32).
inline int32_t PickIndex32(const int32_t* columns, int j) { return (columns[j] - columns[j & ~7]) / 4; }

// For byte t of output pixel j (3-byte pixels) in a block of 16, its offset in the filtered row
// counted from the block's first source pixel (a byte permute over 128 bytes when below 128).
inline uint8_t PickIndex24(const int32_t* columns, int j, int t) {
  const int offset = columns[j] - columns[j & ~15] + t;
  return static_cast<uint8_t>(offset < 128 ? offset : 127);
}

// pick24 one pixel at a time: four bytes are moved per pixel (one load and one store; the fourth
// is overwritten by the next pixel, and filtered has room past its row), the last pixel's three.
inline void PickPixels24From(const uint8_t* filtered, const int32_t* columns, uint8_t* dst, int from, int width) {
  int j = from;
  for (; j + 1 < width; ++j) std::memcpy(dst + j * 3, filtered + columns[j], 4);
  if (j < width) std::memcpy(dst + j * 3, filtered + columns[j], 3);
}

inline void PickPixels24(const uint8_t* filtered, const int32_t* columns, const uint8_t*, uint8_t* dst, int width) {
  PickPixels24From(filtered, columns, dst, 0, width);
}

// pick32 for the pixels from <= j < width, one at a time.
inline void PickPixels32(const uint8_t* filtered, const int32_t* columns, uint8_t* dst, int from, int width) {
  for (int j = from; j < width; ++j) std::memcpy(dst + 4 * j, filtered + columns[j], 4);
}

inline void Pick32OneByOne(const uint8_t* filtered, const int32_t* columns, const int32_t*, uint8_t* dst, int width) {
  PickPixels32(filtered, columns, dst, 0, width);
}

// The last 4-byte pixel of a filtered row (its right neighbour is itself), into out[0..3].
inline void LastPixel32(const uint8_t* above, const uint8_t* centre, const uint8_t* below, int n, bool copyFourth,
                        uint8_t* out) {
  const int base = n >= 8 ? n - 8 : 0;  // the last two pixels (or the only one) as a row of their own
  uint8_t t[8];
  FilterRowRangeFromRows(above + base, centre + base, below + base, t, n - 4 - base, n - base, n - base, 4,
                         copyFourth);
  std::memcpy(out, t + (n - 4 - base), 4);
}

// The part step at the end of a row in filterPick32, one pixel at a time, from the step's filtered
// pixels in memory whose last (at byte lastAt) is given apart.
inline void PickStep32(uint8_t* stepPixels, int lastAt, const uint8_t* last, const int32_t* plan, int count,
                       uint8_t* dst, int* o) {
  std::memcpy(stepPixels + lastAt, last, 4);
  for (int i = 0; i < count; ++i, ++*o) std::memcpy(dst + 4 * *o, stepPixels + 4 * plan[i], 4);
}

extern const ScaleKernels kScaleKernelsC;
extern const ScaleKernels kScaleKernelsSSE41;
extern const ScaleKernels kScaleKernelsAVX2;
extern const ScaleKernels kScaleKernelsAVX512;
extern const ScaleKernels kScaleKernelsAVX512VBMI;  // also named "AVX512": byte permutes pick 3-byte pixels

// The fastest table the CPU flags allow.
const ScaleKernels& SelectScaleKernels(DWORD cpuFlags);

}  // namespace composition

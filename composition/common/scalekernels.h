// The fast scaler's row kernels (internal to composition/common). One table per instruction set;
// every entry gives exactly the bytes of the C entry.
#pragma once

#include <cstdint>

#include "platform/com/wintypes.h"

namespace composition {

struct ScaleKernels {
  const char* name;
  // sums[k] = above[k] + centre[k] + below[k] and centre16[k] = centre[k] for k < n. Reads
  // exactly n bytes of each row.
  void (*columnSums)(const uint8_t* above, const uint8_t* centre, const uint8_t* below, uint16_t* sums,
                     uint16_t* centre16, int n);
  // For each byte k < n of a source row of n bytes: filtered[k] = (sums[k - b] + sums[k] +
  // sums[k + b] + 7 x centre16[k] + 8) >> 4, b = bytesPerPixel, a neighbour outside the row being
  // the pixel itself; except the fourth byte of a 4-byte pixel when copyFourth (centre16[k]). The
  // output row then picks whole filtered pixels by column. sums and centre16 hold at least 64
  // elements beyond the n-th (whole-register loads); exactly n bytes of filtered are written.
  void (*filterRow)(const uint16_t* sums, const uint16_t* centre16, uint8_t* filtered, int n, int bytesPerPixel,
                    bool copyFourth);
};

// filterRow for the bytes from <= k < to of a row of n bytes, one at a time: the whole C kernel,
// and the edges and tails of the SIMD ones.
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

extern const ScaleKernels kScaleKernelsC;
extern const ScaleKernels kScaleKernelsSSE41;
extern const ScaleKernels kScaleKernelsAVX2;
extern const ScaleKernels kScaleKernelsAVX512;

// The fastest table the CPU flags allow.
const ScaleKernels& SelectScaleKernels(DWORD cpuFlags);

}  // namespace composition

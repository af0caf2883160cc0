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
  // For each output pixel j < width: columns[j], columns[width + j] and columns[2 width + j] are
  // the left, centre and right source pixel indices; every byte is (the three column sums + 7 x
  // centre + 8) >> 4, except the fourth byte of a 4-byte pixel when copyFourth (the centre's
  // byte). sums and centre16 hold at least 64 bytes beyond the last source pixel (whole-register
  // loads); exactly width x bytesPerPixel bytes of dst are written.
  void (*combine)(const uint16_t* sums, const uint16_t* centre16, const int32_t* columns, uint8_t* dst, int width,
                  int bytesPerPixel, bool copyFourth);
};

extern const ScaleKernels kScaleKernelsC;
extern const ScaleKernels kScaleKernelsSSE41;
extern const ScaleKernels kScaleKernelsAVX2;
extern const ScaleKernels kScaleKernelsAVX512;

// The fastest table the CPU flags allow.
const ScaleKernels& SelectScaleKernels(DWORD cpuFlags);

}  // namespace composition

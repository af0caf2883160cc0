// Picture scalers: resample a 24- or 32-bit picture to another size, smoothing each selected
// source pixel with a fixed 3x3 kernel, optionally writing the rows in reverse vertical order.
//
// Row i of the output reads source row floor(((i + 1) * srcHeight - 1) / dstHeight) and pixel j
// reads source column floor(((j + 1) * srcWidth - 1) / dstWidth). Each output byte is
// (8 * centre + the eight neighbours + 8) >> 4, neighbours outside the picture clamped to the edge
// (a clamped neighbour is the centre row or column counted again). Bytes are independent
// channels; the 32-bit portable class copies the fourth byte of the centre pixel instead of
// filtering it.
//
// Rows are m_nSrcStride / m_nDstStride bytes apart (0: tightly packed, width x bytes per pixel),
// so that bitmap rows padded to 4 bytes are read and written in place. The owner sets sizes of
// at least 1 and buffers of at least stride x height bytes.
//
// Every class has a plain reference (ScaleReference: one division per pixel, straight from the
// arithmetic) and a fast path (column indices precomputed when the geometry changes, the kernel
// computed as three vertical column sums plus seven times the centre, SIMD variants chosen from
// the process CPU mask). Both give the same bytes; the tests prove it.
//
// Threads: Scale runs on the streaming thread; the owner serialises geometry changes with it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace composition {
struct ScaleKernels;
}

class PicScalerBase {
 public:
  virtual ~PicScalerBase();
  // Writes the m_nDstWidth x m_nDstHeight picture. False (nothing written) for a null buffer or
  // a source size below 1.
  virtual bool Scale(unsigned char* destination, const unsigned char* source, bool flip);
  virtual int BitsPerPixel() const = 0;
  // The reference arithmetic, for tests and benchmarks; same contract as Scale.
  bool ScaleReference(unsigned char* destination, const unsigned char* source, bool flip);
  // Chooses the fast kernel again from the current CPU mask.
  void SelectKernel();
  // "C", "SSE41", "AVX2" or "AVX512": the kernel Scale uses.
  const char* KernelName() const;

  int m_nDstWidth = 1;
  int m_nDstHeight = 1;
  int m_nSrcWidth = 1;
  int m_nSrcHeight = 1;
  int m_nSrcStride = 0;  // bytes between source rows; 0: packed
  int m_nDstStride = 0;  // bytes between destination rows; 0: packed

 protected:
  // bytesPerPixel 3 or 4; filterFourth: the fourth byte of a 4-byte pixel is filtered (else the
  // centre's is copied).
  PicScalerBase(int bytesPerPixel, bool filterFourth);

 private:
  bool Valid(const unsigned char* destination, const unsigned char* source) const;
  void PrepareGeometry();
  // True when the kernel table shrinks 4-byte rows in one pass; builds its plan for the geometry.
  bool PreparePlan();

  const int m_nBytes;
  const bool m_bFilterFourth;
  const composition::ScaleKernels* m_pKernels = nullptr;
  // Precomputed per geometry (sizes seen when they were built).
  int m_nTableSrcWidth = 0, m_nTableDstWidth = 0;
  std::vector<int32_t> m_columns;      // byte offset of each output pixel's source pixel in a row
  std::vector<int32_t> m_pickIndex;    // the same within blocks of 8 output pixels (PickIndex32)
  std::vector<uint8_t> m_pick24Index;  // 3-byte pixels: per block of 16 output pixels (PickIndex24)
  std::vector<uint16_t> m_columnSums;  // per source byte of the current row: above + centre + below
  std::vector<uint16_t> m_centre16;    // per source byte of the current row: the centre byte
  std::vector<uint8_t> m_filtered;     // the current source row with the 3x3 kernel applied
  int m_nPlanStep = -1;                // step of the plan below (-1: none built for this geometry)
  std::vector<int32_t> m_plan;         // per step of source pixels: its output pixels' source indices
  std::vector<uint8_t> m_planCounts;   // per step: how many output pixels read it
};

class PicScalerRGB24Impl : public PicScalerBase {
 public:
  PicScalerRGB24Impl() : PicScalerBase(3, true) {}
  int BitsPerPixel() const override { return 24; }
};

// Fourth byte copied from the centre source pixel.
class PicScalerRGB32Impl : public PicScalerBase {
 public:
  PicScalerRGB32Impl() : PicScalerBase(4, false) {}
  int BitsPerPixel() const override { return 32; }
};

// Fourth byte filtered like the other three.
class PicScalerARGB32MMX : public PicScalerBase {
 public:
  PicScalerARGB32MMX() : PicScalerBase(4, true) {}
  int BitsPerPixel() const override { return 32; }
};

class PicScalerARGB32SSE : public PicScalerBase {
 public:
  PicScalerARGB32SSE() : PicScalerBase(4, true) {}
  int BitsPerPixel() const override { return 32; }
};

// The 32-bit scaler for this processor: SSE present -> PicScalerARGB32SSE, else MMX present ->
// PicScalerARGB32MMX, else PicScalerRGB32Impl (features as detected, not as masked).
std::unique_ptr<PicScalerBase> CreatePicScaler32();
// A scaler of depth bits (24 or 32); null for another depth.
std::unique_ptr<PicScalerBase> CreatePicScaler(int bits);

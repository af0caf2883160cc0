// Colour converters between packed RGB (24 or 32 bits, blue first) and planar YUV 4:2:0.
//
// The output bytes are fixed by double-precision arithmetic (see reference.cpp); every faster
// kernel must give exactly the same bytes. Each converter chooses its kernel once, when it is
// built, from PlenorCpuFlags(); SelectKernel() chooses again (after a mask change).
//
// Frames are walked in 2x2 blocks. An odd last column or row is not converted: those Y bytes
// (and RGB pixels, in the other direction) are left as they were, and nothing outside the
// planes or the packed frame is read or written.
//
// Threads: Convert runs on the streaming thread. The size, m_nChromaOffset and m_bInvert are read
// once at the start of each frame, so a change the owner makes takes effect from the next frame
// (the members are plain fields: an owner changing them from another thread while a frame is
// converted must accept that unsynchronised access, as the filters do).
#pragma once

#include "platform/com/wintypes.h"

namespace colour {
struct RgbToYuvKernels;
struct YuvToRgbKernels;
}  // namespace colour

// Plane pointers and row strides (in bytes) of a YUV 4:2:0 frame.
struct YUV420Planes {
  BYTE* pY = nullptr;
  BYTE* pU = nullptr;
  BYTE* pV = nullptr;
  LONG nYStride = 0;
  LONG nUStride = 0;
  LONG nVStride = 0;
};

class RGBtoYUV420Converter {
 public:
  virtual ~RGBtoYUV420Converter();
  // Converts one frame with tightly packed rows: source stride 3 x width (RGB24) or 4 x width
  // (RGB32), Y stride width, U and V strides width / 2.
  virtual void Convert(const BYTE* pSrc, BYTE* pY, BYTE* pU, BYTE* pV) = 0;
  // Converts one frame with explicit strides: nSrcStride bytes from one source row to the next
  // in memory (the first row in memory is the bottom picture row when m_bInvert is true), plane
  // strides as given. Strides must be at least the row sizes.
  virtual void ConvertStrided(const BYTE* pSrc, LONG nSrcStride, const YUV420Planes& planes);
  // Name of the kernel in use: "C", "SSE41", "AVX2", "AVXVNNI" (AVX2 with AVX-VNNI) or "AVX512".
  const char* KernelName() const;
  // Chooses the kernel again from the current PlenorCpuFlags().
  virtual void SelectKernel() = 0;

  LONG m_nWidth = 0;
  LONG m_nHeight = 0;
  LONG m_nChromaOffset = 0;
  bool m_bInvert = false;

 protected:
  RGBtoYUV420Converter(LONG nWidth, LONG nHeight, LONG nChromaOffset);

  const colour::RgbToYuvKernels* m_pKernels = nullptr;
};

class RealRGB24toYUV420Converter : public RGBtoYUV420Converter {
 public:
  RealRGB24toYUV420Converter(LONG nWidth, LONG nHeight, LONG nChromaOffset);
  void Convert(const BYTE* pSrc, BYTE* pY, BYTE* pU, BYTE* pV) override;
  void SelectKernel() override;
};

// Chroma is biased by 128 inside the arithmetic; m_nChromaOffset is not used.
class RealRGB32toYUV420Converter : public RGBtoYUV420Converter {
 public:
  RealRGB32toYUV420Converter(LONG nWidth, LONG nHeight);
  void Convert(const BYTE* pSrc, BYTE* pY, BYTE* pU, BYTE* pV) override;
  void SelectKernel() override;
};

class YUV420toRGBConverter {
 public:
  virtual ~YUV420toRGBConverter();
  // Converts one frame with tightly packed planes (Y stride width, U and V strides width / 2) into
  // RGB24 rows of exactly 3 x width bytes.
  virtual void Convert(const BYTE* pY, const BYTE* pU, const BYTE* pV, BYTE* pDst) = 0;
  // Same with explicit strides; nDstStride is the distance between output rows in memory (for
  // example 3 x width rounded up to a multiple of 4 for a bitmap).
  virtual void ConvertStrided(const BYTE* pY, LONG nYStride, const BYTE* pU, LONG nUStride,
                              const BYTE* pV, LONG nVStride, BYTE* pDst, LONG nDstStride) = 0;
  virtual const char* KernelName() const = 0;
  virtual void SelectKernel() = 0;

 protected:
  YUV420toRGBConverter() = default;
};

class RealYUV420toRGB24Converter : public YUV420toRGBConverter {
 public:
  RealYUV420toRGB24Converter();
  void Convert(const BYTE* pY, const BYTE* pU, const BYTE* pV, BYTE* pDst) override;
  void ConvertStrided(const BYTE* pY, LONG nYStride, const BYTE* pU, LONG nUStride, const BYTE* pV,
                      LONG nVStride, BYTE* pDst, LONG nDstStride) override;
  const char* KernelName() const override;
  void SelectKernel() override;

  LONG m_nWidth = 0;
  LONG m_nHeight = 0;
  LONG m_nChromaOffset = 0;
  bool m_bInvert = false;

 private:
  const colour::YuvToRgbKernels* m_pKernels = nullptr;
};

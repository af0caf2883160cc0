#include "colourfilter_helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>

#include "kernels/converters.h"
#include "platform/com/cpu.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/uuids.h"
#include "tests/utilities/support_utilities.h"
#include "tests/support/modules.h"

namespace colourfilter {

namespace {

// Builds converters with the scalar kernels while it lives.
class ScalarKernels {
 public:
  ScalarKernels() : m_mask(PlenorCpuMask()) { PlenorSetCpuMask(0); }
  ~ScalarKernels() { PlenorSetCpuMask(m_mask); }

 private:
  DWORD m_mask;
};

}  // namespace

CMediaType RgbType(const GUID& subtype, LONG width, LONG height) {
  return plenor::test::MakeVideoType(subtype, width, height, subtype == MEDIASUBTYPE_RGB32 ? 32 : 24);
}

CMediaType YuvType(const GUID& subtype, LONG width, LONG height) {
  DWORD fourcc = MAKEFOURCC('I', '4', '2', '0');
  if (subtype == MEDIASUBTYPE_YV12) fourcc = MAKEFOURCC('Y', 'V', '1', '2');
  return plenor::test::MakeVideoType(subtype, width, height, 12, fourcc);
}

VIDEOINFOHEADER VideoInfo(const AM_MEDIA_TYPE& mt) {
  VIDEOINFOHEADER vih{};
  EXPECT_EQ(mt.formattype, FORMAT_VideoInfo);
  EXPECT_GE(mt.cbFormat, sizeof vih);
  if (mt.pbFormat && mt.cbFormat >= sizeof vih) std::memcpy(&vih, mt.pbFormat, sizeof vih);
  return vih;
}

Bytes SolidRgb(int width, int height, int bytesPerPixel, long stride, BYTE r, BYTE g, BYTE b) {
  Bytes frame(static_cast<size_t>(stride) * height, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      BYTE* p = frame.data() + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * bytesPerPixel;
      p[0] = b;
      p[1] = g;
      p[2] = r;
      if (bytesPerPixel == 4) p[3] = 0x5A;  // ignored by the conversion
    }
  return frame;
}

Bytes RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes bytes(n);
  for (BYTE& b : bytes) b = static_cast<BYTE>(rng());
  return bytes;
}

Bytes ReferenceI420(const Bytes& rgb, int width, int height, int bytesPerPixel, long srcStride, bool bottomUp,
                    int offset) {
  const size_t pixels = static_cast<size_t>(width) * height, chroma = pixels / 4;
  Bytes out(pixels + 2 * chroma, 0);
  ScalarKernels scalar;
  std::unique_ptr<RGBtoYUV420Converter> converter;
  if (bytesPerPixel == 4)
    converter = std::make_unique<RealRGB32toYUV420Converter>(width, height);
  else
    converter = std::make_unique<RealRGB24toYUV420Converter>(width, height, offset);
  EXPECT_STREQ(converter->KernelName(), "C");
  converter->m_bInvert = bottomUp;
  converter->ConvertStrided(rgb.data(), srcStride,
                            YUV420Planes{out.data(), out.data() + pixels, out.data() + pixels + chroma, width,
                                         width / 2, width / 2});
  return out;
}

Bytes ReferenceRgb24(const Bytes& i420, int width, int height, bool bottomUp, int offset, long dstStride) {
  const size_t pixels = static_cast<size_t>(width) * height, chroma = pixels / 4;
  Bytes out(static_cast<size_t>(dstStride) * height, 0);
  ScalarKernels scalar;
  RealYUV420toRGB24Converter converter;
  EXPECT_STREQ(converter.KernelName(), "C");
  converter.m_nWidth = width;
  converter.m_nHeight = height;
  converter.m_nChromaOffset = offset;
  converter.m_bInvert = bottomUp;
  converter.ConvertStrided(i420.data(), width, i420.data() + pixels, width / 2, i420.data() + pixels + chroma,
                           width / 2, out.data(), dstStride);
  return out;
}

void RegisterModules() {
  static std::once_flag once;
  std::call_once(once, [] {
    utiltest::RegisterUtilities();
    plenor::test::RegisterPluginModules({"RgbToI420Filter.so", "I420ToRgbFilter.so"}, PLENOR_UTILITIES_PLUGIN_DIR);
  });
}

void ExpectOddEdges(Bytes* frame, size_t offset, long w, long h, long stride, int bpp, bool bottomUp) {
  uint8_t* p = frame->data() + offset;
  if (w == 1 || h == 1) {
    for (long y = 0; y < h; ++y) std::fill(p + y * stride, p + y * stride + w * bpp, 0);
    return;
  }
  const long even = h / 2 * 2, first = bottomUp ? h - even : 0;
  if (w % 2)
    for (long y = first; y < first + even; ++y)
      for (int b = 0; b < bpp; ++b) p[y * stride + (w - 1) * bpp + b] = p[y * stride + (w - 2) * bpp + b];
  if (h % 2) {
    const long last = bottomUp ? 0 : h - 1, before = bottomUp ? 1 : h - 2;
    std::copy(p + before * stride, p + before * stride + w * bpp, p + last * stride);
  }
}

}  // namespace colourfilter

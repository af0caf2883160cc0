// Converter objects: frame walk (orientation, strides, odd sizes) and kernel choice.
#include "kernels/converters.h"

#include <cstddef>

#include "kernels/kernels.h"
#include "platform/com/cpu.h"

namespace colour {
namespace {
constexpr DWORD kRgbToYuvAVX512Needs = kCpuAVX512BW | kCpuAVX512VBMI | kCpuAVX512VNNI;
constexpr DWORD kYuvToRgbAVX512Needs = kCpuAVX512BW | kCpuAVX512VBMI;
constexpr DWORD kAVXVNNINeeds = kCpuAVX2 | kCpuAVXVNNI;
constexpr DWORD kSSE41Needs = kCpuSSSE3 | kCpuSSE41;
}  // namespace

const RgbToYuvKernels& SelectRgb24ToYuv(DWORD cpuFlags) {
#if defined(__x86_64__) || defined(__i386__)
  if ((cpuFlags & kRgbToYuvAVX512Needs) == kRgbToYuvAVX512Needs)
    return kRgb24ToYuvAVX512;
  if ((cpuFlags & kAVXVNNINeeds) == kAVXVNNINeeds)
    return kRgb24ToYuvAVXVNNI;
  if (cpuFlags & kCpuAVX2)
    return kRgb24ToYuvAVX2;
  if ((cpuFlags & kSSE41Needs) == kSSE41Needs)
    return kRgb24ToYuvSSE41;
#endif
  (void)cpuFlags;
  return kRgb24ToYuvC;
}

const RgbToYuvKernels& SelectRgb32ToYuv(DWORD cpuFlags) {
#if defined(__x86_64__) || defined(__i386__)
  if ((cpuFlags & kRgbToYuvAVX512Needs) == kRgbToYuvAVX512Needs)
    return kRgb32ToYuvAVX512;
  if ((cpuFlags & kAVXVNNINeeds) == kAVXVNNINeeds)
    return kRgb32ToYuvAVXVNNI;
  if (cpuFlags & kCpuAVX2)
    return kRgb32ToYuvAVX2;
  if ((cpuFlags & kSSE41Needs) == kSSE41Needs)
    return kRgb32ToYuvSSE41;
#endif
  (void)cpuFlags;
  return kRgb32ToYuvC;
}

const YuvToRgbKernels& SelectYuvToRgb24(DWORD cpuFlags) {
#if defined(__x86_64__) || defined(__i386__)
  if (GetExactTermThresholds().valid) {
    if ((cpuFlags & kYuvToRgbAVX512Needs) == kYuvToRgbAVX512Needs)
      return kYuvToRgb24AVX512;
    if (cpuFlags & kCpuAVX2)
      return kYuvToRgb24AVX2;
    if ((cpuFlags & kSSE41Needs) == kSSE41Needs)
      return kYuvToRgb24SSE41;
  }
#endif
  (void)cpuFlags;
  return kYuvToRgb24C;
}

}  // namespace colour

namespace {

inline BYTE* RowAt(BYTE* base, LONG stride, int row) {
  return base + static_cast<std::ptrdiff_t>(stride) * row;
}
inline const BYTE* RowAt(const BYTE* base, LONG stride, int row) {
  return base + static_cast<std::ptrdiff_t>(stride) * row;
}

}  // namespace

RGBtoYUV420Converter::RGBtoYUV420Converter(LONG nWidth, LONG nHeight, LONG nChromaOffset)
    : m_nWidth(nWidth), m_nHeight(nHeight), m_nChromaOffset(nChromaOffset) {}

RGBtoYUV420Converter::~RGBtoYUV420Converter() = default;

const char* RGBtoYUV420Converter::KernelName() const { return m_pKernels->name; }

void RGBtoYUV420Converter::ConvertStrided(const BYTE* pSrc, LONG nSrcStride,
                                          const YUV420Planes& planes) {
  // Read once per frame so that a change made by the owner during a frame applies to the next.
  const int width = m_nWidth, height = m_nHeight;
  const bool invert = m_bInvert;
  const int offset = static_cast<int>(static_cast<DWORD>(m_nChromaOffset) & 0xFF);
  const int blocksX = width / 2, blocksY = height / 2;
  if (blocksX <= 0 || blocksY <= 0 || !pSrc || !planes.pY || !planes.pU || !planes.pV)
    return;
  if (m_pKernels->frame) {
    const std::ptrdiff_t stride = nSrcStride;
    m_pKernels->frame({RowAt(pSrc, nSrcStride, invert ? height - 1 : 0), invert ? -2 * stride : 2 * stride,
                       invert ? -stride : stride, planes.pY, planes.nYStride, planes.pU, planes.nUStride,
                       planes.pV, planes.nVStride, blocksX, blocksY, offset});
    return;
  }
  for (int i = 0; i < blocksY; ++i) {
    const int a = invert ? height - 1 - 2 * i : 2 * i;
    const int b = invert ? height - 2 - 2 * i : 2 * i + 1;
    m_pKernels->rowPair(RowAt(pSrc, nSrcStride, a), RowAt(pSrc, nSrcStride, b),
                        RowAt(planes.pY, planes.nYStride, 2 * i),
                        RowAt(planes.pY, planes.nYStride, 2 * i + 1),
                        RowAt(planes.pU, planes.nUStride, i), RowAt(planes.pV, planes.nVStride, i),
                        blocksX, offset);
  }
}

RealRGB24toYUV420Converter::RealRGB24toYUV420Converter(LONG nWidth, LONG nHeight,
                                                       LONG nChromaOffset)
    : RGBtoYUV420Converter(nWidth, nHeight, nChromaOffset) {
  SelectKernel();
}

void RealRGB24toYUV420Converter::SelectKernel() {
  m_pKernels = &colour::SelectRgb24ToYuv(PlenorCpuFlags());
}

void RealRGB24toYUV420Converter::Convert(const BYTE* pSrc, BYTE* pY, BYTE* pU, BYTE* pV) {
  const LONG w = m_nWidth;
  ConvertStrided(pSrc, 3 * w, YUV420Planes{pY, pU, pV, w, w / 2, w / 2});
}

RealRGB32toYUV420Converter::RealRGB32toYUV420Converter(LONG nWidth, LONG nHeight)
    : RGBtoYUV420Converter(nWidth, nHeight, 0) {
  SelectKernel();
}

void RealRGB32toYUV420Converter::SelectKernel() {
  m_pKernels = &colour::SelectRgb32ToYuv(PlenorCpuFlags());
}

void RealRGB32toYUV420Converter::Convert(const BYTE* pSrc, BYTE* pY, BYTE* pU, BYTE* pV) {
  const LONG w = m_nWidth;
  ConvertStrided(pSrc, 4 * w, YUV420Planes{pY, pU, pV, w, w / 2, w / 2});
}

YUV420toRGBConverter::~YUV420toRGBConverter() = default;

RealYUV420toRGB24Converter::RealYUV420toRGB24Converter() { SelectKernel(); }

void RealYUV420toRGB24Converter::SelectKernel() {
  m_pKernels = &colour::SelectYuvToRgb24(PlenorCpuFlags());
}

const char* RealYUV420toRGB24Converter::KernelName() const { return m_pKernels->name; }

void RealYUV420toRGB24Converter::Convert(const BYTE* pY, const BYTE* pU, const BYTE* pV,
                                         BYTE* pDst) {
  const LONG w = m_nWidth;
  ConvertStrided(pY, w, pU, w / 2, pV, w / 2, pDst, 3 * w);
}

void RealYUV420toRGB24Converter::ConvertStrided(const BYTE* pY, LONG nYStride, const BYTE* pU,
                                                LONG nUStride, const BYTE* pV, LONG nVStride,
                                                BYTE* pDst, LONG nDstStride) {
  const int width = m_nWidth, height = m_nHeight;
  const bool invert = m_bInvert;
  const int offset = static_cast<int>(static_cast<DWORD>(m_nChromaOffset) & 0xFF);
  const int blocksX = width / 2, blocksY = height / 2;
  if (blocksX <= 0 || blocksY <= 0 || !pY || !pU || !pV || !pDst)
    return;
  for (int i = 0; i < blocksY; ++i) {
    const int a = invert ? height - 1 - 2 * i : 2 * i;
    const int b = invert ? height - 2 - 2 * i : 2 * i + 1;
    BYTE* outA = RowAt(pDst, nDstStride, a);
    BYTE* outB = RowAt(pDst, nDstStride, b);
    // The kernel prefetches the next pair's Y rows, and bottom-up its RGB24 rows, the two below
    // these.
    if (m_pKernels->rowPairAhead && i + 1 < blocksY) {
      const colour::YuvNextRows next{RowAt(pY, nYStride, 2 * i + 2), RowAt(pY, nYStride, 2 * i + 3),
                                     invert ? RowAt(pDst, nDstStride, a - 2) : nullptr,
                                     invert ? RowAt(pDst, nDstStride, b - 2) : nullptr};
      m_pKernels->rowPairAhead(RowAt(pY, nYStride, 2 * i), RowAt(pY, nYStride, 2 * i + 1),
                               RowAt(pU, nUStride, i), RowAt(pV, nVStride, i), outA, outB, blocksX,
                               offset, next);
    } else
      m_pKernels->rowPair(RowAt(pY, nYStride, 2 * i), RowAt(pY, nYStride, 2 * i + 1),
                          RowAt(pU, nUStride, i), RowAt(pV, nVStride, i), outA, outB, blocksX,
                          offset);
  }
}

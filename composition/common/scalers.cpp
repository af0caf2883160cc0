#include "composition/common/scalers.h"

#include <algorithm>
#include <cstring>

#include "composition/common/scalekernels.h"
#include "platform/com/cpu.h"

namespace composition {

namespace {

void ColumnSumsC(const uint8_t* above, const uint8_t* centre, const uint8_t* below, uint16_t* sums,
                 uint16_t* centre16, int n) {
  for (int k = 0; k < n; ++k) {
    sums[k] = static_cast<uint16_t>(above[k] + centre[k] + below[k]);
    centre16[k] = centre[k];
  }
}

void FilterRowC(const uint8_t* above, const uint8_t* centre, const uint8_t* below, uint16_t* sums, uint16_t* centre16,
                uint8_t* filtered, int n, int bytesPerPixel, bool copyFourth) {
  ColumnSumsC(above, centre, below, sums, centre16, n);
  FilterRowRange(sums, centre16, filtered, 0, n, n, bytesPerPixel, copyFourth);
}

}  // namespace

const ScaleKernels kScaleKernelsC = {"C", FilterRowC, Pick32OneByOne, PickPixels24, 0, nullptr};

}  // namespace composition

using composition::ScaleKernels;

PicScalerBase::PicScalerBase(int bytesPerPixel, bool filterFourth) : m_nBytes(bytesPerPixel), m_bFilterFourth(filterFourth) {
  SelectKernel();
}

PicScalerBase::~PicScalerBase() = default;

void PicScalerBase::SelectKernel() { m_pKernels = &composition::SelectScaleKernels(PlenorCpuFlags()); }

const char* PicScalerBase::KernelName() const { return m_pKernels->name; }

bool PicScalerBase::Valid(const unsigned char* destination, const unsigned char* source) const {
  return destination && source && m_nSrcWidth > 0 && m_nSrcHeight > 0 && m_nDstWidth > 0 && m_nDstHeight > 0;
}

namespace {

// Source index for output element i (closed form of the stepping accumulator), in 64 bits.
inline int SourceIndex(long long i, int src, int dst) {
  return static_cast<int>(((i + 1) * src - 1) / dst);
}


}  // namespace

bool PicScalerBase::ScaleReference(unsigned char* destination, const unsigned char* source, bool flip) {
  if (!Valid(destination, source)) return false;
  const int b = m_nBytes;
  const long long srcStride = m_nSrcStride > 0 ? m_nSrcStride : static_cast<long long>(m_nSrcWidth) * b;
  const long long dstStride = m_nDstStride > 0 ? m_nDstStride : static_cast<long long>(m_nDstWidth) * b;
  for (int i = 0; i < m_nDstHeight; ++i) {
    const int y = SourceIndex(i, m_nSrcHeight, m_nDstHeight);
    const unsigned char* above = source + std::max(y - 1, 0) * srcStride;
    const unsigned char* centre = source + y * srcStride;
    const unsigned char* below = source + std::min(y + 1, m_nSrcHeight - 1) * srcStride;
    unsigned char* out = destination + (flip ? m_nDstHeight - 1 - i : i) * dstStride;
    for (int j = 0; j < m_nDstWidth; ++j, out += b) {
      const int x = SourceIndex(j, m_nSrcWidth, m_nDstWidth);
      const int l = std::max(x - 1, 0) * b, c = x * b, r = std::min(x + 1, m_nSrcWidth - 1) * b;
      for (int k = 0; k < b; ++k) {
        if (k == 3 && !m_bFilterFourth) {
          out[k] = centre[c + k];
          continue;
        }
        const unsigned sum = 8u * centre[c + k] + above[l + k] + above[c + k] + above[r + k] + centre[l + k] +
                             centre[r + k] + below[l + k] + below[c + k] + below[r + k] + 8u;
        out[k] = static_cast<unsigned char>(sum >> 4);
      }
    }
  }
  return true;
}

void PicScalerBase::PrepareGeometry() {
  if (m_nTableSrcWidth == m_nSrcWidth && m_nTableDstWidth == m_nDstWidth) return;
  const int w = m_nDstWidth;
  m_columns.resize(static_cast<size_t>(w));
  for (int j = 0; j < w; ++j) m_columns[j] = SourceIndex(j, m_nSrcWidth, w) * m_nBytes;
  if (m_nBytes == 4) {
    m_pickIndex.resize(static_cast<size_t>(w));
    for (int j = 0; j < w; ++j) m_pickIndex[j] = composition::PickIndex32(m_columns.data(), j);
  } else {
    m_pick24Index.assign(static_cast<size_t>(w + 15) / 16 * 64, 0);
    for (int j = 0; j < w; ++j)
      for (int t = 0; t < 3; ++t) m_pick24Index[j / 16 * 64 + j % 16 * 3 + t] = composition::PickIndex24(m_columns.data(), j, t);
  }
  // Room for whole registers past the last byte, so SIMD kernels may load them.
  m_columnSums.assign(static_cast<size_t>(m_nSrcWidth) * m_nBytes + 64, 0);
  m_centre16.assign(static_cast<size_t>(m_nSrcWidth) * m_nBytes + 64, 0);
  m_filtered.assign(static_cast<size_t>(m_nSrcWidth) * m_nBytes + 128, 0);
  m_nTableSrcWidth = m_nSrcWidth;
  m_nTableDstWidth = m_nDstWidth;
  m_nPlanStep = -1;
}

bool PicScalerBase::PreparePlan() {
  const int step = m_pKernels->planStep;
  if (m_nBytes != 4 || step == 0 || m_nDstWidth > m_nSrcWidth) return false;
  if (m_nPlanStep == step) return true;
  const int steps = (m_nSrcWidth + step - 1) / step;
  m_plan.assign(static_cast<size_t>(steps) * step, 0);
  m_planCounts.assign(static_cast<size_t>(steps), 0);
  for (int j = 0; j < m_nDstWidth; ++j) {
    const int x = m_columns[j] / 4, s = x / step;
    m_plan[static_cast<size_t>(s) * step + m_planCounts[s]++] = x - s * step;
  }
  m_nPlanStep = step;
  return true;
}

bool PicScalerBase::Scale(unsigned char* destination, const unsigned char* source, bool flip) {
  if (!Valid(destination, source)) return false;
  PrepareGeometry();  // allocates only when the widths change
  const int b = m_nBytes;
  const long long srcStride = m_nSrcStride > 0 ? m_nSrcStride : static_cast<long long>(m_nSrcWidth) * b;
  const long long dstStride = m_nDstStride > 0 ? m_nDstStride : static_cast<long long>(m_nDstWidth) * b;
  const int rowBytes = m_nSrcWidth * b;
  const bool copyFourth = b == 4 && !m_bFilterFourth;
  int lastRow = -1;
  if (PreparePlan()) {  // shrinking 4-byte rows: filtered and picked in one pass
    const unsigned char* lastOut = nullptr;
    for (int i = 0; i < m_nDstHeight; ++i) {
      const int y = SourceIndex(i, m_nSrcHeight, m_nDstHeight);
      unsigned char* out = destination + (flip ? m_nDstHeight - 1 - i : i) * dstStride;
      if (y == lastRow) {  // enlarging reads the same source row several times
        std::memcpy(out, lastOut, static_cast<size_t>(m_nDstWidth) * 4);
      } else {
        m_pKernels->filterPick32(source + std::max(y - 1, 0) * srcStride, source + y * srcStride,
                                 source + std::min(y + 1, m_nSrcHeight - 1) * srcStride, m_plan.data(),
                                 m_planCounts.data(), out, rowBytes, m_nDstWidth, copyFourth);
      }
      lastRow = y;
      lastOut = out;
    }
    return true;
  }
  for (int i = 0; i < m_nDstHeight; ++i) {
    const int y = SourceIndex(i, m_nSrcHeight, m_nDstHeight);
    const unsigned char* centre = source + y * srcStride;
    if (y != lastRow) {  // enlarging reads the same source row several times
      const unsigned char* above = source + std::max(y - 1, 0) * srcStride;
      const unsigned char* below = source + std::min(y + 1, m_nSrcHeight - 1) * srcStride;
      m_pKernels->filterRow(above, centre, below, m_columnSums.data(), m_centre16.data(), m_filtered.data(), rowBytes,
                            b, copyFourth);
      lastRow = y;
    }
    unsigned char* out = destination + (flip ? m_nDstHeight - 1 - i : i) * dstStride;
    if (b == 4)
      m_pKernels->pick32(m_filtered.data(), m_columns.data(), m_pickIndex.data(), out, m_nDstWidth);
    else
      m_pKernels->pick24(m_filtered.data(), m_columns.data(), m_pick24Index.data(), out, m_nDstWidth);
  }
  return true;
}

std::unique_ptr<PicScalerBase> CreatePicScaler32() {
  // Every x86-64 processor has SSE (SSE2 is part of the architecture).
  const DWORD detected = PlenorCpuDetected();
  if (detected & kCpuSSE2) return std::make_unique<PicScalerARGB32SSE>();
  return std::make_unique<PicScalerRGB32Impl>();
}

std::unique_ptr<PicScalerBase> CreatePicScaler(int bits) {
  if (bits == 24) return std::make_unique<PicScalerRGB24Impl>();
  if (bits == 32) return CreatePicScaler32();
  return nullptr;
}

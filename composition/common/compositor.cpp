#include "composition/common/compositor.h"

#include <algorithm>
#include <cstring>

PicInPicBase::~PicInPicBase() = default;

void PicInPicBase::Recompute() {
  m_nVisibleWidth = m_nSubWidth + m_nOffsetX > m_nFrameWidth ? m_nFrameWidth - m_nOffsetX : m_nSubWidth;
  m_nVisibleHeight = m_nSubHeight + m_nOffsetY > m_nFrameHeight ? m_nFrameHeight - m_nOffsetY : m_nSubHeight;
}

void PicInPicBase::SetFrameSize(int width, int height) {
  m_nFrameWidth = width;
  m_nFrameHeight = height;
  Recompute();
}

void PicInPicBase::SetSubSize(int width, int height) {
  m_nSubWidth = width;
  m_nSubHeight = height;
  Recompute();
}

void PicInPicBase::SetOffset(int x, int y) {
  m_nOffsetX = x;
  m_nOffsetY = y;
  Recompute();
}

long long PicInPicBase::FrameStride() const {
  return m_nFrameStride > 0 ? m_nFrameStride : static_cast<long long>(m_nFrameWidth) * m_nBytes;
}

long long PicInPicBase::SubStride() const {
  return m_nSubStride > 0 ? m_nSubStride : static_cast<long long>(m_nSubWidth) * m_nBytes;
}

bool PicInPicBase::Drawable() const {
  // Negative offsets and sizes would place rows or pixels outside the frame.
  return m_nVisibleWidth > 0 && m_nVisibleHeight > 0 && m_nOffsetX >= 0 && m_nOffsetY >= 0 && m_nFrameWidth > 0 &&
         m_nFrameHeight > 0 && m_nVisibleWidth <= m_nSubWidth && m_nVisibleHeight <= m_nSubHeight;
}

void PicInPicBase::Compose(const unsigned char* sub, unsigned char* frame, bool flip) {
  if (!sub || !frame || !Drawable()) return;
  const long long frameStride = FrameStride(), subStride = SubStride();
  const size_t bytes = static_cast<size_t>(m_nVisibleWidth) * m_nBytes;
  for (int i = 0; i < m_nVisibleHeight; ++i) {
    const long long r = flip ? static_cast<long long>(m_nFrameHeight) - m_nOffsetY - 1 - i : m_nOffsetY + i;
    std::memcpy(frame + r * frameStride + static_cast<long long>(m_nOffsetX) * m_nBytes, sub + i * subStride, bytes);
  }
}

void PicInPicRGB24Impl::ComposeBordered(const unsigned char* sub, unsigned char* frame) {
  if (!sub || !frame || !Drawable()) return;
  constexpr int kBand = 5;
  const long long frameStride = FrameStride(), subStride = SubStride();
  const int w = m_nVisibleWidth;
  auto green = [](unsigned char* p, int count) {
    for (int k = 0; k < count; ++k, p += 3) {
      p[0] = 0;
      p[1] = 255;
      p[2] = 0;
    }
  };
  for (int i = 0; i < m_nVisibleHeight; ++i) {
    unsigned char* row = frame + (m_nOffsetY + i) * frameStride + static_cast<long long>(m_nOffsetX) * 3;
    if (i < kBand || i >= m_nVisibleHeight - kBand) {
      green(row, w);
      continue;
    }
    std::memcpy(row, sub + i * subStride, static_cast<size_t>(w) * 3);
    // Bands of a visible area narrower than ten pixels overlap; they stay inside the row.
    green(row, std::min(kBand, w));
    green(row + static_cast<long long>(std::max(w - kBand, 0)) * 3, std::min(kBand, w));
  }
}

std::unique_ptr<PicInPicBase> CreatePicInPic(int bits) {
  if (bits == 24) return std::make_unique<PicInPicRGB24Impl>();
  if (bits == 32) return std::make_unique<PicInPicRGB32Impl>();
  return nullptr;
}

#include "composition/common/joiner.h"

#include <algorithm>
#include <cstdlib>

PicConcatBase::PicConcatBase(int bits) : m_pCompositor(CreatePicInPic(bits)), m_nBits(bits) {}

PicConcatBase::~PicConcatBase() = default;

bool PicConcatBase::ResetCompositor() {
  m_pCompositor = CreatePicInPic(m_nBits);
  return m_pCompositor != nullptr;
}

int PicConcatBase::EffectiveCode(bool flip) const {
  if (flip && m_nArrangement == 0) return 1;
  if (flip && m_nArrangement == 1) return 0;
  return m_nArrangement;
}

namespace {

// Offsets of the two pictures for a placement code.
void Offsets(int code, int W, int H, int /*w0*/, int h0, int w1, int h1, int* x0, int* y0, int* x1, int* y1) {
  *x0 = *y0 = *x1 = *y1 = 0;
  if (code == 0) {
    *y1 = std::max(H - h1, 0);
  } else if (code == 1) {
    *y0 = std::max(H - h0, 0);
  } else if (code == 3) {
    *x1 = std::max(W - w1, 0);
  }
}

JoinRect Clip(int x, int y, int w, int h, int W, int H) {
  JoinRect r{x, y, std::max(0, std::min(w, W - x)), std::max(0, std::min(h, H - y))};
  if (r.width == 0 || r.height == 0) r = JoinRect{};
  return r;
}

}  // namespace

void PicConcatBase::Placement(bool flip, JoinRect* first, JoinRect* second) const {
  const int W = std::abs(m_nOutWidth), H = std::abs(m_nOutHeight);
  const int w0 = std::abs(m_nFirstWidth), h0 = std::abs(m_nFirstHeight);
  const int w1 = std::abs(m_nSecondWidth), h1 = std::abs(m_nSecondHeight);
  int x0, y0, x1, y1;
  Offsets(EffectiveCode(flip), W, H, w0, h0, w1, h1, &x0, &y0, &x1, &y1);
  // The compositor measures rows from the other end of the frame when flipped.
  *first = Clip(x0, y0, w0, h0, W, H);
  *second = Clip(x1, y1, w1, h1, W, H);
  if (flip) {
    if (first->height) first->y = H - first->y - first->height;
    if (second->height) second->y = H - second->y - second->height;
  }
}

bool PicConcatBase::Join(const unsigned char* first, const unsigned char* second, unsigned char* out, bool flip) {
  if (!first || !second || !out || !m_pCompositor) return false;
  PicInPicBase& c = *m_pCompositor;
  const int W = std::abs(m_nOutWidth), H = std::abs(m_nOutHeight);
  int x0, y0, x1, y1;
  Offsets(EffectiveCode(flip), W, H, std::abs(m_nFirstWidth), std::abs(m_nFirstHeight), std::abs(m_nSecondWidth),
          std::abs(m_nSecondHeight), &x0, &y0, &x1, &y1);
  c.m_nFrameStride = m_nOutStride;
  c.SetFrameSize(W, H);

  c.m_nSubStride = m_nSecondStride;
  c.SetSubSize(std::abs(m_nSecondWidth), std::abs(m_nSecondHeight));
  c.SetOffset(x1, y1);
  if (c.m_nBorderWidth != 0)
    c.ComposeBordered(second, out);
  else
    c.Compose(second, out, flip);

  c.m_nSubStride = m_nFirstStride;
  c.SetSubSize(std::abs(m_nFirstWidth), std::abs(m_nFirstHeight));
  c.SetOffset(x0, y0);
  if (c.m_nBorderWidth != 0)
    c.ComposeBordered(first, out);
  else
    c.Compose(first, out, flip);
  return true;
}

std::unique_ptr<PicConcatBase> CreatePicConcat(int bits) {
  if (bits == 24) return std::make_unique<PicConcatRGB24Impl>();
  if (bits == 32) return std::make_unique<PicConcatRGB32Impl>();
  return nullptr;
}

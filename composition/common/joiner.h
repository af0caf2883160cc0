// Picture concatenation: two pictures side by side or one above the other in one output
// picture, each at its own size (no resampling), each placed with the compositor, so clipping and
// flipped outputs are the compositor's. The second picture is drawn first, so where they overlap
// the first wins. Parts of the output covered by neither picture are not written (the owner
// clears them).
//
// Placement codes: 0 first at (0, 0), second at (0, max(H - h1, 0)); 1 first at
// (0, max(H - h0, 0)), second at (0, 0); 3 first at (0, 0), second at (max(W - w1, 0), 0). With
// flip codes 0 and 1 are exchanged.
//
// Rows are m_nOutStride, m_nFirstStride and m_nSecondStride bytes apart (0: packed).
#pragma once

#include <memory>

#include "composition/common/compositor.h"

struct JoinRect {
  int x = 0, y = 0, width = 0, height = 0;
};

class PicConcatBase {
 public:
  virtual ~PicConcatBase();
  // False (nothing drawn) for a null buffer or a missing compositor.
  bool Join(const unsigned char* first, const unsigned char* second, unsigned char* out, bool flip);
  int BitsPerPixel() const { return m_pCompositor ? m_pCompositor->BitsPerPixel() : 0; }
  // Replaces the compositor by a new one of the same depth; false when that fails.
  bool ResetCompositor();

  // Where the two pictures land in buffer rows (clipped to the output) for the placement code
  // and flip, for an owner that clears what they leave uncovered.
  void Placement(bool flip, JoinRect* first, JoinRect* second) const;

  int m_nOutWidth = 0, m_nOutHeight = 0;
  int m_nFirstWidth = 0, m_nFirstHeight = 0;
  int m_nSecondWidth = 0, m_nSecondHeight = 0;
  int m_nArrangement = 0;
  int m_nOutStride = 0, m_nFirstStride = 0, m_nSecondStride = 0;
  std::unique_ptr<PicInPicBase> m_pCompositor;

 protected:
  explicit PicConcatBase(int bits);

 private:
  int EffectiveCode(bool flip) const;
  const int m_nBits;
};

class PicConcatRGB24Impl : public PicConcatBase {
 public:
  PicConcatRGB24Impl() : PicConcatBase(24) {}
};

class PicConcatRGB32Impl : public PicConcatBase {
 public:
  PicConcatRGB32Impl() : PicConcatBase(32) {}
};

std::unique_ptr<PicConcatBase> CreatePicConcat(int bits);

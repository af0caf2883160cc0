// Picture-in-picture compositor: copies a sub-picture into a frame at an offset, clipped at the
// frame's right and bottom edges; with flip the offset is measured from the frame's other end
// and the sub-picture's rows are laid in reverse order (for a frame written in the opposite
// vertical order). Bytes of a pixel are not interpreted.
//
// Rows are m_nFrameStride / m_nSubStride bytes apart (0: tightly packed), so that bitmap rows
// padded to 4 bytes are handled in place. Nothing is drawn outside the frame: a negative offset,
// or a visible width or height of 0 or less, draws nothing.
//
// Threads: the owner's streaming thread; the owner serialises the setters with drawing.
#pragma once

#include <memory>

class PicInPicBase {
 public:
  virtual ~PicInPicBase();
  virtual int BitsPerPixel() const = 0;
  void Compose(const unsigned char* sub, unsigned char* frame, bool flip);
  // 24-bit: the sub-picture with its outer 5 pixels on each side painted pure green
  // (0, 255, 0); 32-bit: Compose without flip.
  virtual void ComposeBordered(const unsigned char* sub, unsigned char* frame) = 0;

  void SetFrameSize(int width, int height);
  void SetSubSize(int width, int height);
  void SetOffset(int x, int y);

  int m_nFrameWidth = 0, m_nFrameHeight = 0;
  int m_nSubWidth = 0, m_nSubHeight = 0;
  int m_nOffsetX = 0, m_nOffsetY = 0;
  int m_nVisibleWidth = 0, m_nVisibleHeight = 0;
  int m_nBorderWidth = 0;
  int m_nFrameStride = 0;  // bytes between frame rows; 0: packed
  int m_nSubStride = 0;    // bytes between sub-picture rows; 0: packed

 protected:
  explicit PicInPicBase(int bytesPerPixel) : m_nBytes(bytesPerPixel) {}
  // True when a non-empty visible part lies inside the frame.
  bool Drawable() const;
  long long FrameStride() const;
  long long SubStride() const;
  void Recompute();

  const int m_nBytes;
};

class PicInPicRGB24Impl : public PicInPicBase {
 public:
  PicInPicRGB24Impl() : PicInPicBase(3) {}
  int BitsPerPixel() const override { return 24; }
  void ComposeBordered(const unsigned char* sub, unsigned char* frame) override;
};

class PicInPicRGB32Impl : public PicInPicBase {
 public:
  PicInPicRGB32Impl() : PicInPicBase(4) {}
  int BitsPerPixel() const override { return 32; }
  void ComposeBordered(const unsigned char* sub, unsigned char* frame) override { Compose(sub, frame, false); }
};

// A compositor of depth bits (24 or 32); null for another depth.
std::unique_ptr<PicInPicBase> CreatePicInPic(int bits);

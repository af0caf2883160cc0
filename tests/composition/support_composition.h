// Helpers of the composition tests: a reference of the scaling and placement arithmetic written
// independently of the filters (closed forms, one pixel at a time), pictures as bitmap rows, and
// the media types the inputs connect with.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "platform/strmbase/mtype.h"

namespace comptest {

using Bytes = std::vector<uint8_t>;

// A picture of bitmap rows (stride bytes apart) of w x h pixels of b bytes.
struct Picture {
  int w = 0, h = 0, b = 3;
  long stride = 0;
  Bytes bytes;
  Picture() = default;
  // Rows padded to 4 bytes when padded, else tightly packed; zero bytes.
  Picture(int width, int height, int bytesPerPixel, bool padded = true);
  uint8_t* Pixel(int x, int y) { return bytes.data() + y * stride + x * b; }
  const uint8_t* Pixel(int x, int y) const { return bytes.data() + y * stride + x * b; }
};

Picture RandomPicture(int w, int h, int b, std::mt19937& rng, bool padded = true);
Picture SolidPicture(int w, int h, int b, const uint8_t* pixel);

// The 3x3 smoothing resample of src to w x h (rows in reverse order with flip); fourth bytes
// copied from the centre pixel unless filterFourth.
Picture ReferenceScale(const Picture& src, int w, int h, bool flip, bool filterFourth, bool padded = true);
// Copies sub (its top-left visible part) into frame at (x, y), clipped at the right and bottom;
// with flip the row is counted from the frame's other end and the rows go in reverse order.
void ReferencePlace(const Picture& sub, Picture* frame, int x, int y, bool flip);
// Reverses the row order.
Picture Flipped(const Picture& p);
Picture FromBytes(const Bytes& bytes, int w, int h, int b);

// An RGB video type (VideoInfo, rows padded, biSizeImage = stride x |h|) with the frame duration.
CMediaType VideoType(const GUID& subtype, int w, int h, REFERENCE_TIME avgTimePerFrame = 0);
inline long Stride(long w, int b) { return (w * b + 3) / 4 * 4; }

}  // namespace comptest

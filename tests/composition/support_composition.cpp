#include "tests/composition/support_composition.h"

#include <algorithm>
#include <cstring>

#include "platform/strmbase/amvideo.h"
#include "platform/strmbase/uuids.h"

namespace comptest {

Picture::Picture(int width, int height, int bytesPerPixel, bool padded)
    : w(width), h(height), b(bytesPerPixel), stride(padded ? Stride(width, bytesPerPixel) : long(width) * bytesPerPixel),
      bytes(static_cast<size_t>(stride) * height, 0) {}

Picture RandomPicture(int w, int h, int b, std::mt19937& rng, bool padded) {
  Picture p(w, h, b, padded);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w * b; ++x) p.bytes[y * p.stride + x] = static_cast<uint8_t>(rng());
  return p;
}

Picture SolidPicture(int w, int h, int b, const uint8_t* pixel) {
  Picture p(w, h, b);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) std::memcpy(p.Pixel(x, y), pixel, b);
  return p;
}

Picture ReferenceScale(const Picture& src, int w, int h, bool flip, bool filterFourth, bool padded) {
  Picture out(w, h, src.b, padded);
  for (int i = 0; i < h; ++i) {
    const int y = static_cast<int>(((i + 1LL) * src.h - 1) / h);
    const int rows[3] = {std::max(y - 1, 0), y, std::min(y + 1, src.h - 1)};
    for (int j = 0; j < w; ++j) {
      const int x = static_cast<int>(((j + 1LL) * src.w - 1) / w);
      const int cols[3] = {std::max(x - 1, 0), x, std::min(x + 1, src.w - 1)};
      uint8_t* o = out.Pixel(j, flip ? h - 1 - i : i);
      for (int k = 0; k < src.b; ++k) {
        if (k == 3 && !filterFourth) {
          o[k] = src.Pixel(x, y)[k];
          continue;
        }
        int sum = 8;
        for (int r : rows)
          for (int c : cols) sum += src.Pixel(c, r)[k];
        sum += 7 * src.Pixel(x, y)[k];  // the centre weighs 8
        o[k] = static_cast<uint8_t>(sum / 16);
      }
    }
  }
  return out;
}

void ReferencePlace(const Picture& sub, Picture* frame, int x, int y, bool flip) {
  for (int i = 0; i < sub.h && y + i < frame->h; ++i)
    for (int j = 0; j < sub.w && x + j < frame->w; ++j) {
      const int row = flip ? frame->h - 1 - y - i : y + i;
      std::memcpy(frame->Pixel(x + j, row), sub.Pixel(j, i), sub.b);
    }
}

Picture Flipped(const Picture& p) {
  Picture out = p;
  for (int y = 0; y < p.h; ++y) std::memcpy(out.Pixel(0, y), p.Pixel(0, p.h - 1 - y), p.stride);
  return out;
}

Picture FromBytes(const Bytes& bytes, int w, int h, int b) {
  Picture p(w, h, b);
  std::memcpy(p.bytes.data(), bytes.data(), std::min(bytes.size(), p.bytes.size()));
  return p;
}

CMediaType VideoType(const GUID& subtype, int w, int h, REFERENCE_TIME avgTimePerFrame) {
  const int bits = subtype == MEDIASUBTYPE_RGB24 ? 24 : 32;
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&subtype);
  mt.SetFormatType(&FORMAT_VideoInfo);
  VIDEOINFOHEADER vih{};
  vih.AvgTimePerFrame = avgTimePerFrame;
  vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih.bmiHeader.biWidth = w;
  vih.bmiHeader.biHeight = h;
  vih.bmiHeader.biPlanes = 1;
  vih.bmiHeader.biBitCount = static_cast<WORD>(bits);
  vih.bmiHeader.biSizeImage = static_cast<DWORD>(Stride(w, bits / 8) * std::abs(h));
  mt.SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof vih);
  mt.SetSampleSize(vih.bmiHeader.biSizeImage);
  return mt;
}

}  // namespace comptest

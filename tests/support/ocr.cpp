#include "tests/support/ocr.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace plenor::test {

bool OcrAvailable() { return std::system("tesseract --version >/dev/null 2>&1") == 0; }

std::string OcrLine(const RgbImage& image, int x, int y, int width, int height) {
  constexpr int kScale = 3;
  constexpr int kMargin = 10;
  char dir[] = "/tmp/plenor_ocr_XXXXXX";
  if (!mkdtemp(dir)) return "<ocr failed>";
  const std::string ppm = std::string(dir) + "/region.ppm";
  {
    const int w = width * kScale + 2 * kMargin, h = height * kScale + 2 * kMargin;
    std::ofstream out(ppm, std::ios::binary);
    out << "P6\n" << w << " " << h << "\n255\n";
    for (int oy = 0; oy < h; ++oy) {
      for (int ox = 0; ox < w; ++ox) {
        uint8_t px[3] = {0, 0, 0};
        const int sx = (ox - kMargin) / kScale + x, sy = (oy - kMargin) / kScale + y;
        if (ox >= kMargin && oy >= kMargin && ox < w - kMargin && oy < h - kMargin && sx >= 0 && sy >= 0 &&
            sx < image.width && sy < image.height)
          std::copy_n(&image.rgb[(static_cast<size_t>(sy) * image.width + sx) * 3], 3, px);
        out.write(reinterpret_cast<const char*>(px), 3);
      }
    }
  }
  const std::string txt = std::string(dir) + "/out";
  const std::string command = "tesseract " + ppm + " " + txt + " --psm 7 >/dev/null 2>&1";
  std::string result = "<ocr failed>";
  if (std::system(command.c_str()) == 0) {
    std::ifstream in(txt + ".txt");
    std::stringstream ss;
    ss << in.rdbuf();
    result = ss.str();
    const auto notBlank = [](unsigned char c) { return !std::isspace(c) && c != '\f'; };
    result.erase(result.begin(), std::find_if(result.begin(), result.end(), notBlank));
    result.erase(std::find_if(result.rbegin(), result.rend(), notBlank).base(), result.end());
  }
  std::remove((txt + ".txt").c_str());
  std::remove(ppm.c_str());
  rmdir(dir);
  return result;
}

RgbImage FromDib(const uint8_t* bits, int width, int height, int bytesPerPixel) {
  RgbImage image;
  image.width = width;
  image.height = height < 0 ? -height : height;
  image.rgb.resize(static_cast<size_t>(image.width) * image.height * 3);
  const size_t stride = (static_cast<size_t>(width) * bytesPerPixel + 3) & ~size_t{3};
  for (int r = 0; r < image.height; ++r) {
    const uint8_t* row = bits + (height > 0 ? image.height - 1 - r : r) * stride;
    for (int c = 0; c < width; ++c) {
      uint8_t* out = &image.rgb[(static_cast<size_t>(r) * width + c) * 3];
      out[0] = row[c * bytesPerPixel + 2];
      out[1] = row[c * bytesPerPixel + 1];
      out[2] = row[c * bytesPerPixel + 0];
    }
  }
  return image;
}

}  // namespace plenor::test

// Reading drawn text back with the tesseract OCR program, as an independent reader of the
// overlays: the picture region is written as a PPM file (scaled up, as OCR wants text well above
// 20 pixels high) and tesseract's single-line output is returned.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plenor::test {

// A top-down RGB picture, 3 bytes per pixel in red, green, blue order.
struct RgbImage {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

// True when the tesseract program can be run.
bool OcrAvailable();
// The text tesseract reads in the region (one line), blanks at both ends removed; "<ocr failed>"
// when it cannot run.
std::string OcrLine(const RgbImage& image, int x, int y, int width, int height);

// Converts a BGR(A) picture as a DIB holds it (bottom-up when height > 0) to a top-down RgbImage.
RgbImage FromDib(const uint8_t* bits, int width, int height, int bytesPerPixel);

}  // namespace plenor::test

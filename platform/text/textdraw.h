// Text drawing into uncompressed RGB pictures held in caller memory, in place.
//
// A TextRenderer holds one font face at one size (by default the family "Arial" at 16 points and
// 96 dots per inch, resolved through fontconfig to a metric-compatible face, or to the generic
// sans-serif face when no such face is installed) and draws one line of text in solid opaque
// green, its anti-aliased edges blended over the picture. Glyphs are rasterised the first time
// they are drawn and kept: drawing a text whose characters were all seen before allocates
// nothing and rasterises nothing.
//
//   auto renderer = plenor::text::TextRenderer::Create();
//   if (renderer) renderer->Draw(buffer, picture, L"25.00 fps", {10, 20, 350, 50});
//
// A renderer is used by one thread at a time (each filter owns its own and draws on its
// streaming thread).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace plenor::text {

// The face a family name resolved to.
struct ResolvedFont {
  std::string requestedFamily;  // e.g. "Arial"
  std::string family;           // the face's family, e.g. "Liberation Sans"
  std::string file;             // its font file
  int index = 0;                // face index within the file
  bool generic = false;         // true when the generic sans-serif face was taken instead
};

// Resolves a family through fontconfig: the face fontconfig matches for the family when that
// face is the family itself or one that fontconfig's own rules bind to it as the same family
// (its metric-compatible replacements, such as Liberation Sans for Arial); otherwise the generic
// sans-serif face. False when fontconfig finds no font file at all.
bool ResolveFamily(const std::string& family, ResolvedFont* out);

// What the header of the picture says (the fields of a BITMAPINFOHEADER that drawing needs).
struct PictureFormat {
  int32_t width = 0;
  int32_t height = 0;         // positive: bottom-up rows; negative: top-down rows
  uint16_t bitCount = 0;      // 24 or 32 are drawn on
  uint32_t compression = 0;   // 0 (uncompressed RGB) is drawn on
};

// Rows are padded to a multiple of 4 bytes; 0 when the format is not one that is drawn on or
// its size does not fit in 63 bits.
uint64_t PictureBytes(const PictureFormat& format);

// The layout box in picture coordinates (pixels from the top-left corner of the picture).
struct Box {
  uint32_t x = 0, y = 0;
  uint32_t width = 0, height = 0;
};

struct FontRequest {
  std::string family = "Arial";
  double points = 16.0;
  unsigned dpi = 96;
};

class TextRenderer {
 public:
  // Null when no face can be loaded.
  static std::unique_ptr<TextRenderer> Create(const FontRequest& request = {});
  ~TextRenderer();
  TextRenderer(const TextRenderer&) = delete;
  TextRenderer& operator=(const TextRenderer&) = delete;

  const ResolvedFont& Font() const;
  // Height of one line in pixels (ascender to descender).
  int LineHeight() const;

  // Draws text left-aligned in one line, its top-left corner at the box's top-left corner,
  // clipped to the box and to the picture. Draws nothing (and never touches the buffer) when the
  // format is not uncompressed 24- or 32-bit RGB or when the buffer is shorter than the picture.
  // True when the picture was a drawable one (whether or not any pixel fell inside).
  bool Draw(std::span<uint8_t> buffer, const PictureFormat& format, std::wstring_view text, const Box& box);

  // Glyphs rasterised so far (each character once).
  size_t CachedGlyphs() const;

 private:
  struct Impl;
  explicit TextRenderer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

}  // namespace plenor::text

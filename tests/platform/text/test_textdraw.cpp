// Text drawing into RGB pictures: placement, orientation, clipping, pictures that are not drawn
// on, the glyph cache and legibility to an OCR program.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/text/textdraw.h"
#include "tests/support/ocr.h"

using namespace plenor::text;
using plenor::test::FromDib;
using plenor::test::OcrLine;

namespace {

// Every allocation of the process is counted, so that drawing can be shown to allocate nothing.
std::atomic<long> g_allocations{0};

}  // namespace

void* operator new(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr uint8_t kGrey = 0x40;

struct Picture {
  PictureFormat format;
  std::vector<uint8_t> bytes;  // the picture, then a guard area that must stay untouched
  size_t size = 0;

  Picture(int width, int height, int bits, uint32_t compression = 0)
      : format{width, height, static_cast<uint16_t>(bits), compression} {
    const size_t stride = (static_cast<size_t>(width) * bits / 8 + 3) & ~size_t{3};
    size = stride * static_cast<size_t>(height < 0 ? -height : height);
    bytes.assign(size + 64, kGrey);
    for (size_t i = size; i < bytes.size(); ++i) bytes[i] = 0xA5;
  }
  std::span<uint8_t> Span() { return {bytes.data(), size}; }
  bool GuardIntact() const {
    for (size_t i = size; i < bytes.size(); ++i)
      if (bytes[i] != 0xA5) return false;
    return true;
  }
  int Bpp() const { return format.bitCount / 8; }
  // Pixel (x, y) from the top-left corner.
  const uint8_t* At(int x, int y) const {
    const int rows = format.height < 0 ? -format.height : format.height;
    const size_t stride = (static_cast<size_t>(format.width) * Bpp() + 3) & ~size_t{3};
    const int row = format.height > 0 ? rows - 1 - y : y;
    return &bytes[row * stride + static_cast<size_t>(x) * Bpp()];
  }
  // Bounding rectangle of the changed pixels [x0, x1) x [y0, y1); x0 = -1 when none changed.
  struct Rect {
    int x0 = -1, y0 = -1, x1 = -1, y1 = -1;
  };
  Rect Changed() const {
    Rect r;
    const int rows = format.height < 0 ? -format.height : format.height;
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < format.width; ++x) {
        const uint8_t* p = At(x, y);
        if (p[0] == kGrey && p[1] == kGrey && p[2] == kGrey && (Bpp() == 3 || p[3] == kGrey)) continue;
        if (r.x0 < 0) r = {x, y, x + 1, y + 1};
        r.x0 = std::min(r.x0, x);
        r.y0 = std::min(r.y0, y);
        r.x1 = std::max(r.x1, x + 1);
        r.y1 = std::max(r.y1, y + 1);
      }
    return r;
  }
};

std::unique_ptr<TextRenderer> Renderer() {
  auto renderer = TextRenderer::Create();
  EXPECT_TRUE(renderer) << "no font could be loaded through fontconfig";
  return renderer;
}

}  // namespace

TEST(FontResolution, ArialResolvesToAMetricCompatibleFaceOrTheGenericSansSerif) {
  ResolvedFont arial;
  ASSERT_TRUE(ResolveFamily("Arial", &arial));
  EXPECT_FALSE(arial.file.empty());
  // fonts-liberation2 is installed by scripts/setup: its Liberation Sans is what fontconfig puts
  // in Arial's place.
  EXPECT_EQ(arial.family, "Liberation Sans");
  EXPECT_FALSE(arial.generic);
  ResolvedFont none;
  ASSERT_TRUE(ResolveFamily("No Such Family Plenor", &none));
  EXPECT_TRUE(none.generic);
  ResolvedFont sans;
  ASSERT_TRUE(ResolveFamily("sans-serif", &sans));
  EXPECT_EQ(none.file, sans.file);
}

// Each layout: green text whose top-left corner sits at the box corner (within the glyphs' own
// side bearings and the line's internal leading), nothing changed outside the box, the guard
// bytes after the picture untouched, and the same picture whatever the row order.
TEST(TextDraw, PlacedAtTheBoxCornerUprightInEveryLayout) {
  auto renderer = Renderer();
  ASSERT_TRUE(renderer);
  const struct {
    int bits;
    int height;
  } layouts[] = {{24, 240}, {24, -240}, {32, 240}, {32, -240}};
  std::vector<plenor::test::RgbImage> images;
  for (const auto& l : layouts) {
    SCOPED_TRACE(testing::Message() << l.bits << " bits, height " << l.height);
    Picture picture(321, l.height, l.bits);
    ASSERT_TRUE(renderer->Draw(picture.Span(), picture.format, L"25.00 fps", {10, 20, 350, 50}));
    EXPECT_TRUE(picture.GuardIntact());
    const Picture::Rect r = picture.Changed();
    ASSERT_GE(r.x0, 10);
    EXPECT_LE(r.x0, 13);
    EXPECT_GE(r.y0, 20);
    EXPECT_LE(r.y0, 20 + renderer->LineHeight() / 3);
    EXPECT_LE(r.y1, 20 + renderer->LineHeight());
    EXPECT_GT(r.x1 - r.x0, 60);  // nine characters of about 12 pixels
    // Solid green in the strokes, blended at the edges: only green rises, blue and red fall.
    int solid = 0;
    for (int y = r.y0; y < r.y1; ++y)
      for (int x = r.x0; x < r.x1; ++x) {
        const uint8_t* p = picture.At(x, y);
        EXPECT_LE(p[0], kGrey);
        EXPECT_GE(p[1], kGrey);
        EXPECT_LE(p[2], kGrey);
        if (p[0] == 0 && p[1] == 255 && p[2] == 0) ++solid;
        if (l.bits == 32) {
          EXPECT_EQ(p[3], kGrey);
        }
      }
    EXPECT_GT(solid, 50);
    images.push_back(FromDib(picture.bytes.data(), 321, l.height, l.bits / 8));
  }
  for (size_t i = 1; i < images.size(); ++i) EXPECT_EQ(images[i].rgb, images[0].rgb) << i;
}

// Boxes partly or wholly outside the picture draw only what lies inside; nothing outside the box
// is drawn either, and no byte past the picture is written.
TEST(TextDraw, ClippedToTheBoxAndToThePicture) {
  auto renderer = Renderer();
  ASSERT_TRUE(renderer);
  const struct {
    const char* what;
    Box box;
    int width, height;
    bool anyPixel;
  } cases[] = {
      {"right edge", {300, 100, 350, 50}, 320, 240, true},
      {"bottom edge", {10, 230, 350, 50}, 320, 240, true},
      {"bottom-right corner, bottom-up", {310, 228, 350, 50}, 320, 240, true},
      {"bottom-right corner, top-down", {310, 228, 350, 50}, 320, -240, true},
      {"beyond the right edge", {320, 0, 350, 50}, 320, 240, false},
      {"beyond the bottom", {0, 240, 350, 50}, 320, 240, false},
      {"far outside", {4000000000u, 4000000000u, 350, 50}, 320, 240, false},
      {"narrow box", {0, 0, 30, 50}, 320, 240, true},
      {"low box", {0, 0, 200, 10}, 320, 240, true},
      {"empty box", {0, 0, 0, 50}, 320, 240, false},
      {"picture narrower than a glyph", {0, 0, 350, 50}, 3, 12, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (int bits : {24, 32}) {
      Picture picture(c.width, c.height, bits);
      ASSERT_TRUE(renderer->Draw(picture.Span(), picture.format, L"8888888888888888888888888888888", c.box));
      EXPECT_TRUE(picture.GuardIntact());
      const Picture::Rect r = picture.Changed();
      EXPECT_EQ(r.x0 >= 0, c.anyPixel);
      if (r.x0 < 0) continue;
      EXPECT_GE(r.x0, static_cast<int64_t>(c.box.x));
      EXPECT_GE(r.y0, static_cast<int64_t>(c.box.y));
      EXPECT_LE(r.x1, static_cast<int64_t>(c.box.x) + c.box.width);
      EXPECT_LE(r.y1, static_cast<int64_t>(c.box.y) + c.box.height);
    }
  }
}

// Pictures that are not uncompressed 24- or 32-bit RGB, and buffers shorter than the picture,
// are left byte for byte as they were.
TEST(TextDraw, OtherPicturesAndShortBuffersAreNotTouched) {
  auto renderer = Renderer();
  ASSERT_TRUE(renderer);
  const struct {
    const char* what;
    int width, height, bits;
    uint32_t compression;
    size_t shortBy;
  } cases[] = {
      {"planar YUV", 64, 48, 12, 0x30323449, 0},
      {"H.264", 64, 48, 24, 0x34363248, 0},
      {"bit fields", 64, 48, 32, 3, 0},
      {"16-bit RGB", 64, 48, 16, 0, 0},
      {"8-bit palette", 64, 48, 8, 0, 0},
      {"zero width", 0, 48, 24, 0, 0},
      {"zero height", 64, 0, 24, 0, 0},
      {"negative width", -64, 48, 24, 0, 0},
      {"one byte short", 64, 48, 24, 0, 1},
      {"one row short", 64, -48, 32, 0, 256},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Picture picture(c.width > 0 ? c.width : 64, c.height != 0 ? c.height : 48, c.bits >= 8 ? c.bits : 24);
    picture.format = {c.width, c.height, static_cast<uint16_t>(c.bits), c.compression};
    const std::vector<uint8_t> before = picture.bytes;
    EXPECT_FALSE(renderer->Draw(std::span<uint8_t>(picture.bytes.data(), picture.size - c.shortBy), picture.format,
                                L"25.00 fps", {0, 0, 350, 50}));
    EXPECT_EQ(picture.bytes, before);
  }
}

TEST(TextDraw, GlyphsAreRasterisedOnceAndDrawingAllocatesNothing) {
  auto renderer = Renderer();
  ASSERT_TRUE(renderer);
  Picture picture(1920, 1080, 24);
  ASSERT_TRUE(renderer->Draw(picture.Span(), picture.format, L"25.00 fps", {0, 0, 350, 50}));
  EXPECT_EQ(renderer->CachedGlyphs(), 8u);  // 2 5 . 0 space f p s
  const long before = g_allocations.load();
  for (int i = 0; i < 20; ++i)
    renderer->Draw(picture.Span(), picture.format, i % 2 ? L"52.05 spf" : L"00.25 fps", {0, 0, 350, 50});
  EXPECT_EQ(g_allocations.load(), before);
  EXPECT_EQ(renderer->CachedGlyphs(), 8u);
  renderer->Draw(picture.Span(), picture.format, L"\u00e9t\u00e9 \u20ac", {0, 0, 350, 50});
  EXPECT_EQ(renderer->CachedGlyphs(), 11u);  // three more
}

// An OCR program reads what was drawn at the default size, on dark and light pictures and in
// both row orders.
TEST(TextDrawOcr, DrawnTextsAreReadBack) {
  if (!plenor::test::OcrAvailable()) GTEST_SKIP() << "tesseract is not installed (scripts/setup installs it)";
  auto renderer = Renderer();
  ASSERT_TRUE(renderer);
  const struct {
    const wchar_t* text;
    const char* expected;
    uint8_t background;
    int height;
  } cases[] = {
      {L"25.00 fps", "25.00 fps", 0x00, 60},
      {L"1234.6 kbps", "1234.6 kbps", 0x20, -60},
      {L"14:03:59", "14:03:59", 0x30, 60},
      {L"09/12/2026 14:03:59 29.97 fps", "09/12/2026 14:03:59 29.97 fps", 0x10, -60},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    Picture picture(360, c.height, 24);
    std::fill(picture.bytes.begin(), picture.bytes.begin() + static_cast<ptrdiff_t>(picture.size), c.background);
    renderer->Draw(picture.Span(), picture.format, c.text, {5, 5, 350, 50});
    EXPECT_EQ(OcrLine(FromDib(picture.bytes.data(), 360, c.height, 3), 0, 0, 360, 60), c.expected);
  }
}

// The composition kernels on raw buffers: the scalers' worked examples, every kernel variant equal
// to the reference byte for byte (random pictures, odd and even sizes, up and down by non-integer
// ratios, 1-pixel pictures, padded rows, buffers that end at a guard page), the compositor's
// placement and clipping, and the joiner's arrangements.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "composition/common/compositor.h"
#include "composition/common/joiner.h"
#include "composition/common/scalers.h"
#include "tests/colour/support_colour.h"
#include "tests/composition/support_composition.h"

using namespace comptest;

namespace {

std::unique_ptr<PicScalerBase> Scaler(int bytes, bool filterFourth) {
  if (bytes == 3) return std::make_unique<PicScalerRGB24Impl>();
  if (filterFourth) return std::make_unique<PicScalerARGB32SSE>();
  return std::make_unique<PicScalerRGB32Impl>();
}

// Scale with sizes and strides of the pictures.
void RunScale(PicScalerBase& s, const Picture& src, Picture* dst, bool flip, bool reference) {
  s.m_nSrcWidth = src.w;
  s.m_nSrcHeight = src.h;
  s.m_nDstWidth = dst->w;
  s.m_nDstHeight = dst->h;
  s.m_nSrcStride = static_cast<int>(src.stride);
  s.m_nDstStride = static_cast<int>(dst->stride);
  if (reference)
    ASSERT_TRUE(s.ScaleReference(dst->bytes.data(), src.bytes.data(), flip));
  else
    ASSERT_TRUE(s.Scale(dst->bytes.data(), src.bytes.data(), flip));
}

struct WorkedScale {
  const char* name;
  int bytes;
  bool filterFourth;
  int srcW, srcH;
  std::vector<uint8_t> src;  // tightly packed
  int dstW, dstH;
  bool flip;
  std::vector<uint8_t> want;
};

TEST(Scalers, WorkedExamples) {
  const std::vector<uint8_t> oneRow = {0, 0, 0, 160, 160, 160, 0, 0, 0};
  std::vector<uint8_t> alpha(5 * 5 * 4, 0);
  alpha[(2 * 5 + 2) * 4 + 3] = 255;  // one interior pixel's fourth byte
  std::vector<uint8_t> alphaCopied(alpha.size(), 0), alphaFiltered(alpha.size(), 0);
  alphaCopied[(2 * 5 + 2) * 4 + 3] = 255;
  for (int y = 1; y <= 3; ++y)
    for (int x = 1; x <= 3; ++x) alphaFiltered[(y * 5 + x) * 4 + 3] = (x == 2 && y == 2) ? 128 : 16;
  // Four rows of distinct values, shrunk to 2 rows: rows 1 and 3 are read. In a 1-pixel column
  // the left and right neighbours are the centre column: 10 x centre + 3 x above + 3 x below.
  const std::vector<uint8_t> rows = {10, 10, 10, 50, 50, 50, 90, 90, 90, 200, 200, 200};
  const WorkedScale cases[] = {
      {"same size still smooths", 3, true, 3, 1, oneRow, 3, 1, false, {30, 30, 30, 100, 100, 100, 30, 30, 30}},
      {"1x1 to 4x4", 3, true, 1, 1, {7, 80, 250}, 4, 4, false, std::vector<uint8_t>(16 * 3, 0)},
      {"shrink 4 rows to 2", 3, true, 1, 4, rows, 1, 2, false, {(10 * 50 + 3 * 10 + 3 * 90 + 8) / 16, 0, 0,
                                                                  (10 * 200 + 3 * 90 + 3 * 200 + 8) / 16, 0, 0}},
      {"flip puts the first row at the bottom", 3, true, 1, 4, rows, 1, 4, true, {}},
      {"portable 32-bit copies the fourth byte", 4, false, 5, 5, alpha, 5, 5, false, alphaCopied},
      {"SSE 32-bit filters the fourth byte", 4, true, 5, 5, alpha, 5, 5, false, alphaFiltered},
  };
  for (const WorkedScale& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> want = c.want;
    if (std::string(c.name) == "1x1 to 4x4")
      for (size_t i = 0; i < want.size(); ++i) want[i] = c.src[i % 3];
    if (std::string(c.name) == "shrink 4 rows to 2")
      for (int r = 0; r < 2; ++r) want[r * 3 + 1] = want[r * 3 + 2] = want[r * 3];
    if (c.flip) {  // the unflipped picture, rows reversed
      Picture src(c.srcW, c.srcH, c.bytes, false);
      src.bytes = c.src;
      want = Flipped(ReferenceScale(src, c.dstW, c.dstH, false, true, false)).bytes;
    }
    for (bool reference : {true, false}) {
      std::unique_ptr<PicScalerBase> s = Scaler(c.bytes, c.filterFourth);
      Picture src(c.srcW, c.srcH, c.bytes, false), dst(c.dstW, c.dstH, c.bytes, false);
      src.bytes = c.src;
      RunScale(*s, src, &dst, c.flip, reference);
      EXPECT_EQ(dst.bytes, want) << (reference ? "reference" : s->KernelName());
    }
  }
}

TEST(Scalers, OneColourStaysAndBadArgumentsWriteNothing) {
  const uint8_t colour[4] = {12, 200, 77, 255};
  for (int b : {3, 4}) {
    const Picture src = SolidPicture(37, 21, b, colour);
    for (auto [w, h] : {std::pair{5, 3}, std::pair{100, 61}, std::pair{1, 1}}) {
      Picture dst(w, h, b);
      auto s = Scaler(b, true);
      RunScale(*s, src, &dst, false, false);
      EXPECT_EQ(dst.bytes, SolidPicture(w, h, b, colour).bytes) << b << " " << w << "x" << h;
    }
    auto s = Scaler(b, true);
    std::vector<uint8_t> dst(64, 0xAB), in(64, 1);
    EXPECT_FALSE(s->Scale(nullptr, in.data(), false));
    EXPECT_FALSE(s->Scale(dst.data(), nullptr, false));
    s->m_nSrcWidth = 0;
    EXPECT_FALSE(s->Scale(dst.data(), in.data(), false));
    EXPECT_FALSE(s->ScaleReference(dst.data(), in.data(), false));
    EXPECT_EQ(dst, std::vector<uint8_t>(64, 0xAB));
  }
}

TEST(Scalers, FactoryChoosesTheFilteringClassOnThisProcessor) {
  std::unique_ptr<PicScalerBase> s = CreatePicScaler32();
  ASSERT_TRUE(s);
  EXPECT_TRUE(dynamic_cast<PicScalerARGB32SSE*>(s.get()));  // every x86-64 processor has SSE
  EXPECT_EQ(CreatePicScaler(24)->BitsPerPixel(), 24);
  EXPECT_EQ(CreatePicScaler(16), nullptr);
}

class ScalerVariant : public testing::TestWithParam<colourtest::Variant> {};

// Every variant against the independent reference and the class's own reference, on pictures
// whose last byte is the last before a guard page (source and destination).
TEST_P(ScalerVariant, EqualsTheReferenceByteForByte) {
  colourtest::ForcedVariant forced(GetParam());
  if (!forced.available()) GTEST_SKIP() << "processor lacks " << GetParam().name;
  std::mt19937 rng(1234);
  struct Size {
    int sw, sh, dw, dh;
  };
  const Size sizes[] = {{1, 1, 1, 1},     {1, 1, 7, 5},      {7, 5, 1, 1},     {33, 17, 33, 17}, {640, 48, 256, 19},
                        {97, 31, 211, 67}, {211, 67, 97, 31}, {64, 8, 128, 16}, {3, 2, 2, 3},     {129, 3, 43, 9},
                        {45, 45, 150, 2},  {2, 9, 1000, 4},
                        // rows of exactly one, two and several whole SIMD steps (first and last
                        // pixel clamped inside a step) and one pixel more
                        {4, 3, 3, 2},      {8, 3, 5, 2},      {16, 3, 9, 5},    {17, 3, 9, 5},    {48, 5, 31, 7},
                        {32, 4, 40, 6},    {90, 4, 60, 3},    {31, 3, 31, 3},
                        // strong reductions: output pixels whose source pixels lie further
                        // apart than one register holds (near 4 to 1, and beyond)
                        {131, 5, 35, 4},   {300, 7, 40, 3}};
  for (int b : {3, 4})
    for (bool filterFourth : {false, true}) {
      if (b == 3 && !filterFourth) continue;
      for (const Size& z : sizes)
        for (bool padded : {false, true})
          for (bool flip : {false, true}) {
            SCOPED_TRACE(testing::Message() << b << " bytes " << z.sw << "x" << z.sh << " -> " << z.dw << "x" << z.dh
                                            << (padded ? " padded" : "") << (flip ? " flip" : ""));
            const Picture src = RandomPicture(z.sw, z.sh, b, rng, padded);
            const Picture want = ReferenceScale(src, z.dw, z.dh, flip, filterFourth, padded);
            colourtest::GuardedBuffer in(src.bytes.size()), out(want.bytes.size());
            std::memcpy(in.data(), src.bytes.data(), src.bytes.size());
            for (bool reference : {false, true}) {
              std::unique_ptr<PicScalerBase> s = Scaler(b, filterFourth);
              if (!reference) {
                ASSERT_STREQ(s->KernelName(), GetParam().name);
              }
              s->m_nSrcWidth = z.sw;
              s->m_nSrcHeight = z.sh;
              s->m_nDstWidth = z.dw;
              s->m_nDstHeight = z.dh;
              s->m_nSrcStride = padded ? static_cast<int>(src.stride) : 0;
              s->m_nDstStride = padded ? static_cast<int>(want.stride) : 0;
              std::memset(out.data(), 0, out.size());
              ASSERT_TRUE(reference ? s->ScaleReference(out.data(), in.data(), flip) : s->Scale(out.data(), in.data(), flip));
              const std::vector<uint8_t> got(out.data(), out.data() + out.size());
              ASSERT_EQ(colourtest::FirstDifference(got, want.bytes), -1) << (reference ? "reference" : "kernel");
            }
          }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, ScalerVariant, testing::ValuesIn(colourtest::YuvVariants()),
                         colourtest::VariantName);

// A geometry change after frames were scaled takes effect (the precomputed columns follow).
TEST(Scalers, GeometryChangeBetweenFrames) {
  std::mt19937 rng(5);
  const Picture src = RandomPicture(50, 20, 4, rng);
  auto s = Scaler(4, true);
  for (auto [w, h] : {std::pair{20, 10}, std::pair{77, 30}, std::pair{20, 10}}) {
    Picture dst(w, h, 4);
    RunScale(*s, src, &dst, false, false);
    EXPECT_EQ(dst.bytes, ReferenceScale(src, w, h, false, true).bytes) << w;
  }
}

// The kernel chosen again between frames (another instruction set, another step of the one-pass
// shrink's plan) still gives the reference's bytes, also back and forth over one geometry.
TEST(Scalers, KernelChangeBetweenFrames) {
  const std::vector<colourtest::Variant> all = colourtest::YuvVariants();
  std::mt19937 rng(21);
  const Picture src = RandomPicture(101, 13, 4, rng);
  struct Frame {
    int w, h;
  };
  const Frame frames[] = {{40, 7}, {40, 7}, {101, 13}, {150, 20}, {40, 7}};
  for (size_t first = 0; first < all.size(); ++first) {
    auto s = Scaler(4, true);
    for (size_t f = 0; f < std::size(frames); ++f) {
      const colourtest::Variant& v = all[(first + f) % all.size()];
      colourtest::ForcedVariant forced(v);
      if (!forced.available()) continue;
      s->SelectKernel();
      SCOPED_TRACE(testing::Message() << v.name << " frame " << f);
      Picture dst(frames[f].w, frames[f].h, 4);
      RunScale(*s, src, &dst, f % 2 == 1, false);
      EXPECT_EQ(dst.bytes, ReferenceScale(src, frames[f].w, frames[f].h, f % 2 == 1, true).bytes);
    }
  }
}

struct PlaceCase {
  const char* name;
  int frameW, frameH, subW, subH, x, y;
  bool flip;
  bool drawsNothing;
};

TEST(Compositor, PlacesClipsAndFlips) {
  const PlaceCase cases[] = {
      {"4x3 at (2,1)", 10, 10, 4, 3, 2, 1, false, false},
      {"4x3 at (2,1) flipped lands in rows 8, 7, 6", 10, 10, 4, 3, 2, 1, true, false},
      {"4x4 at (8,8) keeps its top-left 2x2", 10, 10, 4, 4, 8, 8, false, false},
      {"at the right edge", 10, 10, 4, 4, 10, 2, false, true},
      {"below the bottom", 10, 10, 4, 4, 2, 12, false, true},
      {"negative offset", 10, 10, 4, 4, -3, 2, false, true},
      {"negative row offset", 10, 10, 4, 4, 2, -1, true, true},
  };
  std::mt19937 rng(9);
  for (int b : {3, 4})
    for (const PlaceCase& c : cases) {
      SCOPED_TRACE(testing::Message() << c.name << " " << b);
      const Picture sub = RandomPicture(c.subW, c.subH, b, rng);
      Picture frame = RandomPicture(c.frameW, c.frameH, b, rng);
      Picture want = frame;
      if (!c.drawsNothing) ReferencePlace(sub, &want, c.x, c.y, c.flip);
      std::unique_ptr<PicInPicBase> p = CreatePicInPic(b * 8);
      p->SetFrameSize(c.frameW, c.frameH);
      p->SetSubSize(c.subW, c.subH);
      p->SetOffset(c.x, c.y);
      p->m_nFrameStride = static_cast<int>(frame.stride);
      p->m_nSubStride = static_cast<int>(sub.stride);
      p->Compose(sub.bytes.data(), frame.bytes.data(), c.flip);
      EXPECT_EQ(frame.bytes, want.bytes);
    }
  // Flipped rows of the first case: sub row 0 in frame row 8.
  Picture sub(4, 3, 3), frame(10, 10, 3);
  sub.Pixel(0, 0)[0] = 99;
  PicInPicRGB24Impl p;
  p.SetFrameSize(10, 10);
  p.SetSubSize(4, 3);
  p.SetOffset(2, 1);
  p.m_nFrameStride = static_cast<int>(frame.stride);
  p.m_nSubStride = static_cast<int>(sub.stride);
  p.Compose(sub.bytes.data(), frame.bytes.data(), true);
  EXPECT_EQ(frame.Pixel(2, 8)[0], 99);
}

TEST(Compositor, BorderedPaintsFivePixelsGreenOn24BitOnly) {
  std::mt19937 rng(3);
  for (auto [w, h] : {std::pair{20, 20}, std::pair{7, 30}, std::pair{30, 6}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    const Picture sub = RandomPicture(w, h, 3, rng);
    Picture frame(40, 40, 3);
    PicInPicRGB24Impl p;
    p.SetFrameSize(40, 40);
    p.SetSubSize(w, h);
    p.SetOffset(3, 4);
    p.m_nFrameStride = static_cast<int>(frame.stride);
    p.m_nSubStride = static_cast<int>(sub.stride);
    p.ComposeBordered(sub.bytes.data(), frame.bytes.data());
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 40; ++x) {
        const uint8_t* got = frame.Pixel(x, y);
        const int i = y - 4, j = x - 3;
        if (i < 0 || j < 0 || i >= h || j >= w) {
          ASSERT_EQ(got[0] | got[1] | got[2], 0) << x << "," << y;  // outside: untouched
        } else if (i < 5 || i >= h - 5 || j < 5 || j >= w - 5) {
          ASSERT_TRUE(got[0] == 0 && got[1] == 255 && got[2] == 0) << x << "," << y;
        } else {
          ASSERT_EQ(std::memcmp(got, sub.Pixel(j, i), 3), 0) << x << "," << y;
        }
      }
  }
  // 32-bit: the same as Compose without flip.
  const Picture sub = RandomPicture(20, 20, 4, rng);
  Picture frame(40, 40, 4), want(40, 40, 4);
  ReferencePlace(sub, &want, 3, 4, false);
  PicInPicRGB32Impl p;
  p.SetFrameSize(40, 40);
  p.SetSubSize(20, 20);
  p.SetOffset(3, 4);
  p.ComposeBordered(sub.bytes.data(), frame.bytes.data());
  EXPECT_EQ(frame.bytes, want.bytes);
}

struct JoinCase {
  const char* name;
  int code;
  bool flip;
  int w0, h0, w1, h1, W, H;
  int x0, y0, x1, y1;  // where each picture lands in buffer rows (before flip mirroring)
};

TEST(Joiner, Arrangements) {
  const JoinCase cases[] = {
      {"side by side", 3, false, 320, 240, 320, 240, 640, 240, 0, 0, 320, 0},
      {"stacked, first in the upper half of a bottom-up picture", 1, false, 320, 240, 320, 240, 320, 480, 0, 240, 0, 0},
      {"stacked with flip: the second fills the first buffer rows", 1, true, 320, 240, 320, 240, 320, 480, 0, 240, 0, 0},
      {"smaller second picture at column 320", 3, false, 320, 240, 160, 120, 480, 240, 0, 0, 320, 0},
      {"code 0", 0, false, 30, 20, 30, 10, 30, 30, 0, 0, 0, 20},
  };
  std::mt19937 rng(11);
  for (int b : {3, 4})
    for (const JoinCase& c : cases) {
      SCOPED_TRACE(testing::Message() << c.name << " " << b);
      // Odd widths: the 24-bit rows are padded.
      const int w0 = c.w0 + 1, w1 = c.w1 + 1, W = c.W + 2;
      const int x1 = c.x1 ? c.x1 + 1 : 0;
      const Picture first = RandomPicture(w0, c.h0, b, rng), second = RandomPicture(w1, c.h1, b, rng);
      Picture out = RandomPicture(W, c.H, b, rng);
      Picture want = out;
      // The flip exchanges codes 0 and 1 and the compositor mirrors rows.
      const int code = c.flip && c.code < 2 ? 1 - c.code : c.code;
      const int fy0 = code == 1 ? std::max(c.H - c.h0, 0) : 0, fy1 = code == 0 ? std::max(c.H - c.h1, 0) : 0;
      ReferencePlace(second, &want, x1, fy1, c.flip);
      ReferencePlace(first, &want, 0, fy0, c.flip);
      std::unique_ptr<PicConcatBase> j = CreatePicConcat(b * 8);
      j->m_nOutWidth = W;
      j->m_nOutHeight = c.H;
      j->m_nFirstWidth = w0;
      j->m_nFirstHeight = c.h0;
      j->m_nSecondWidth = w1;
      j->m_nSecondHeight = c.h1;
      j->m_nArrangement = c.code;
      j->m_nOutStride = static_cast<int>(out.stride);
      j->m_nFirstStride = static_cast<int>(first.stride);
      j->m_nSecondStride = static_cast<int>(second.stride);
      ASSERT_TRUE(j->Join(first.bytes.data(), second.bytes.data(), out.bytes.data(), c.flip));
      EXPECT_EQ(out.bytes, want.bytes);
      EXPECT_FALSE(j->Join(nullptr, second.bytes.data(), out.bytes.data(), c.flip));
    }
}

// The second example of the joiner with flip: the second picture occupies buffer rows 0 to 239.
TEST(Joiner, FlippedStackPutsTheSecondPictureFirstInTheBuffer) {
  const uint8_t red[3] = {0, 0, 255}, blue[3] = {255, 0, 0};
  const Picture first = SolidPicture(8, 4, 3, red), second = SolidPicture(8, 4, 3, blue);
  Picture out(8, 8, 3);
  PicConcatRGB24Impl j;
  j.m_nOutWidth = 8;
  j.m_nOutHeight = 8;
  j.m_nFirstWidth = j.m_nSecondWidth = 8;
  j.m_nFirstHeight = j.m_nSecondHeight = 4;
  j.m_nArrangement = 1;
  ASSERT_TRUE(j.Join(first.bytes.data(), second.bytes.data(), out.bytes.data(), true));
  EXPECT_EQ(out.Pixel(0, 0)[0], 255);  // second
  EXPECT_EQ(out.Pixel(0, 7)[2], 255);  // first
  JoinRect a, c;
  j.Placement(true, &a, &c);
  EXPECT_EQ(a.y, 4);
  EXPECT_EQ(c.y, 0);
}

}  // namespace

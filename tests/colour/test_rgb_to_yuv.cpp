// RGB24/RGB32 -> YUV 4:2:0: every kernel variant gives the reference kernel's bytes, and the
// reference gives the documented values.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "kernels/converters.h"
#include "kernels/kernels.h"
#include "tests/colour/support_colour.h"

namespace {

using colourtest::FirstDifference;
using colourtest::GuardedBuffer;
using colourtest::QuickMode;
using colourtest::Variant;
using Bytes = std::vector<std::uint8_t>;

struct Case {
  int bpp;  // 3 (RGB24) or 4 (RGB32)
  Variant variant;
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << (c.bpp == 3 ? "RGB24 " : "RGB32 ") << c.variant.name;
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (const Variant& v : colourtest::Rgb24Variants())
    cases.push_back({3, v});
  for (const Variant& v : colourtest::Rgb32Variants())
    cases.push_back({4, v});
  return cases;
}

std::unique_ptr<RGBtoYUV420Converter> MakeConverter(int bpp, int w, int h, int offset) {
  if (bpp == 3)
    return std::make_unique<RealRGB24toYUV420Converter>(w, h, offset);
  return std::make_unique<RealRGB32toYUV420Converter>(w, h);
}

std::unique_ptr<RGBtoYUV420Converter> MakeReference(int bpp, int w, int h, int offset) {
  const DWORD saved = PlenorCpuMask();
  PlenorSetCpuMask(0);
  auto c = MakeConverter(bpp, w, h, offset);
  PlenorSetCpuMask(saved);
  EXPECT_STREQ(c->KernelName(), "C");
  return c;
}

struct Yuv {
  Bytes y, u, v;
};

// Converts a tightly packed frame into planes pre-filled with `fill`.
Yuv ConvertFrame(RGBtoYUV420Converter& c, const Bytes& src, std::uint8_t fill = 0xA5) {
  const int w = c.m_nWidth, h = c.m_nHeight;
  Yuv out{Bytes(static_cast<size_t>(w) * h, fill),
          Bytes(static_cast<size_t>(w / 2) * (h / 2), fill),
          Bytes(static_cast<size_t>(w / 2) * (h / 2), fill)};
  c.Convert(src.data(), out.y.data(), out.u.data(), out.v.data());
  return out;
}

Bytes Flat(int bpp, int w, int h, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  Bytes px(static_cast<size_t>(w) * h * bpp, 0x77);
  for (size_t i = 0; i < px.size(); i += bpp) {
    px[i] = b;
    px[i + 1] = g;
    px[i + 2] = r;
  }
  return px;
}

void ExpectSameAsReference(int bpp, int w, int h, int offset, bool invert, const Bytes& src,
                           RGBtoYUV420Converter& c, const char* what) {
  auto ref = MakeReference(bpp, w, h, offset);
  ref->m_bInvert = invert;
  c.m_bInvert = invert;
  c.m_nChromaOffset = offset;
  const Yuv want = ConvertFrame(*ref, src), got = ConvertFrame(c, src);
  EXPECT_EQ(FirstDifference(want.y, got.y), -1) << what << ": Y differs";
  EXPECT_EQ(FirstDifference(want.u, got.u), -1) << what << ": U differs";
  EXPECT_EQ(FirstDifference(want.v, got.v), -1) << what << ": V differs";
}

class RgbToYuv : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    forced_ = std::make_unique<colourtest::ForcedVariant>(GetParam().variant);
    if (!forced_->available())
      GTEST_SKIP() << "this processor lacks the instructions of the " << GetParam().variant.name
                   << " kernel";
  }
  void TearDown() override { forced_.reset(); }

  int bpp() const { return GetParam().bpp; }
  // The reference kernel is what the others are compared with; comparing it with itself proves
  // nothing.
  bool IsReference() const { return std::string(GetParam().variant.name) == "C"; }

  // A converter that must be running the forced variant.
  std::unique_ptr<RGBtoYUV420Converter> Make(int w, int h, int offset = 128) {
    auto c = MakeConverter(bpp(), w, h, offset);
    EXPECT_STREQ(c->KernelName(), GetParam().variant.name);
    return c;
  }

  std::unique_ptr<colourtest::ForcedVariant> forced_;
};

struct Expected {
  std::uint8_t r, g, b;
  int offset;
  int y, u, v;
};

TEST_P(RgbToYuv, FlatColoursGiveTheWorkedValues) {
  // Wide enough for every kernel's vector steps and a tail.
  const int w = 90, h = 4;
  std::vector<Expected> cases;
  if (bpp() == 3) {
    cases = {{100, 100, 100, 128, 100, 128, 128}, {255, 0, 0, 128, 76, 91, 255},
             {0, 0, 255, 128, 29, 239, 102},      {0, 255, 0, 128, 150, 54, 0},
             {100, 100, 100, 0, 100, 0, 0},       {100, 100, 100, 300, 100, 44, 44},
             {255, 255, 255, 128, 255, 128, 128}, {0, 0, 0, 128, 0, 128, 128}};
  } else {
    // White: the four V terms sum to slightly less than 512, but (512 - e + 0.5) * 0.25 still
    // truncates to 128, so white keeps v = 128 like u.
    cases = {{100, 100, 100, 0, 100, 128, 128}, {255, 0, 0, 0, 76, 90, 255},
             {0, 255, 0, 0, 150, 54, 0},        {255, 255, 255, 0, 255, 128, 128},
             {0, 0, 0, 0, 0, 128, 128}};
  }
  for (const Expected& e : cases) {
    auto c = Make(w, h, e.offset);
    const Yuv out = ConvertFrame(*c, Flat(bpp(), w, h, e.r, e.g, e.b));
    SCOPED_TRACE(testing::Message() << "rgb " << int(e.r) << "," << int(e.g) << "," << int(e.b)
                                    << " offset " << e.offset);
    EXPECT_EQ(out.y, Bytes(out.y.size(), static_cast<std::uint8_t>(e.y)));
    EXPECT_EQ(out.u, Bytes(out.u.size(), static_cast<std::uint8_t>(e.u)));
    EXPECT_EQ(out.v, Bytes(out.v.size(), static_cast<std::uint8_t>(e.v)));
  }
}

TEST_P(RgbToYuv, OffsetChangesApplyToTheNextFrameAndRgb32IgnoresIt) {
  const int w = 40, h = 2;
  auto c = Make(w, h, 128);
  const Bytes grey = Flat(bpp(), w, h, 60, 60, 60);
  EXPECT_EQ(ConvertFrame(*c, grey).u[0], 128);
  c->m_nChromaOffset = 0;
  EXPECT_EQ(ConvertFrame(*c, grey).u[5], bpp() == 3 ? 0 : 128);
  c->m_nChromaOffset = -1;  // low 8 bits: 255
  EXPECT_EQ(ConvertFrame(*c, grey).v[19], bpp() == 3 ? 255 : 128);
}

TEST_P(RgbToYuv, InvertTakesTheFirstYRowFromTheLastSourceRow) {
  const int w = 34, h = 6;
  Bytes src(static_cast<size_t>(w) * h * bpp());
  for (int r = 0; r < h; ++r)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = &src[(static_cast<size_t>(r) * w + x) * bpp()];
      p[0] = p[1] = p[2] = static_cast<std::uint8_t>(20 * r + x);
    }
  auto c = Make(w, h);
  c->m_bInvert = true;
  const Yuv out = ConvertFrame(*c, src);
  for (int r = 0; r < h; ++r)
    for (int x = 0; x < w; ++x)
      ASSERT_EQ(out.y[static_cast<size_t>(r) * w + x], 20 * (h - 1 - r) + x) << r << "," << x;
  // Flipping the source rows and not inverting gives the same planes.
  Bytes flipped(src.size());
  const size_t row = static_cast<size_t>(w) * bpp();
  for (int r = 0; r < h; ++r)
    std::memcpy(&flipped[r * row], &src[(h - 1 - r) * row], row);
  c->m_bInvert = false;
  const Yuv again = ConvertFrame(*c, flipped);
  EXPECT_EQ(again.y, out.y);
  EXPECT_EQ(again.u, out.u);
  EXPECT_EQ(again.v, out.v);
}

TEST_P(RgbToYuv, ThreeByThreeConvertsOneBlockOnly) {
  auto c = Make(3, 3);
  Bytes src = Flat(bpp(), 3, 3, 255, 0, 0);
  Bytes y(9, 0xEE), u(1, 0xEE), v(1, 0xEE);
  c->Convert(src.data(), y.data(), u.data(), v.data());
  EXPECT_EQ(y, (Bytes{76, 76, 0xEE, 76, 76, 0xEE, 0xEE, 0xEE, 0xEE}));
  EXPECT_EQ(u[0], bpp() == 3 ? 91 : 90);
  EXPECT_EQ(v[0], 255);
}

// All 2^24 colours once each (a 4096 x 4096 picture of every RGB value): luma of every colour and
// chroma of 4M blocks. Quick mode keeps every 17th red value.
TEST_P(RgbToYuv, EveryColourMatchesTheReference) {
  if (IsReference())
    GTEST_SKIP() << "reference kernel";
  const int w = 4096;
  std::vector<int> reds;
  for (int r = 0; r < 256; r += QuickMode() ? 17 : 1)
    reds.push_back(r);
  const int h = static_cast<int>(reds.size()) * 16;
  Bytes src(static_cast<size_t>(w) * h * bpp());
  for (size_t ri = 0; ri < reds.size(); ++ri)
    for (int gb = 0; gb < 65536; ++gb) {
      std::uint8_t* p = &src[(ri * 65536 + gb) * bpp()];
      p[0] = static_cast<std::uint8_t>(gb & 255);
      p[1] = static_cast<std::uint8_t>(gb >> 8);
      p[2] = static_cast<std::uint8_t>(reds[ri]);
      if (bpp() == 4)
        p[3] = static_cast<std::uint8_t>(gb * 7);
    }
  auto c = Make(w, h);
  ExpectSameAsReference(bpp(), w, h, 128, false, src, *c, "all colours");
}

TEST_P(RgbToYuv, RandomBlocksMatchTheReference) {
  if (IsReference())
    GTEST_SKIP() << "reference kernel";
  // 10 x 2^20 blocks in the full run.
  const int w = QuickMode() ? 256 : 2048, h = QuickMode() ? 256 : 2048;
  const int rounds = QuickMode() ? 1 : 10;
  std::mt19937 rng(1234 + bpp());
  Bytes src(static_cast<size_t>(w) * h * bpp());
  auto c = Make(w, h);
  const int offsets[] = {128, 0, 300, -7};
  for (int round = 0; round < rounds; ++round) {
    colourtest::FillRandom(src, rng);
    ExpectSameAsReference(bpp(), w, h, offsets[round % 4], round % 2 == 1, src, *c, "random");
    if (HasFailure())
      break;
  }
}

// Blocks whose chroma numerator sits exactly on a multiple of 1000 (RGB24) or whose biased RGB32
// sum sits on a multiple of 1000 or 4000: the cases where the double sums decide by rounding.
// Built by searching, for random pixels 0 to 2 and random red and green of pixel 3, every value
// of one channel of pixel 3.
Bytes ExactMultipleBlocks(int bpp, int wantBlocks, std::mt19937& rng) {
  Bytes blocks;  // 4 pixels per block, bpp bytes each, pixel order 0, 1, 2, 3
  std::uniform_int_distribution<int> byte(0, 255), channel(0, 2);
  while (static_cast<int>(blocks.size()) < wantBlocks * 4 * bpp) {
    std::uint8_t px[4][4];
    for (auto& p : px)
      for (auto& c : p)
        c = static_cast<std::uint8_t>(byte(rng));
    const int ch = channel(rng);
    for (int value = 0; value < 256; ++value) {
      px[3][ch] = static_cast<std::uint8_t>(value);
      int sb = 0, sg = 0, sr = 0;
      for (auto& p : px) {
        sb += p[0];
        sg += p[1];
        sr += p[2];
      }
      const int au = 436 * sb - 147 * sr - 289 * sg;
      const int av = 615 * sr - 515 * sg - 100 * sb;
      bool hit;
      if (bpp == 3)
        hit = (au % 1000 == 0 && au != 0) || (av % 1000 == 0 && av != 0);
      else
        hit = (au + 512500) % 1000 == 0 || (av + 512500) % 1000 == 0;
      if (!hit)
        continue;
      for (auto& p : px)
        blocks.insert(blocks.end(), p, p + bpp);
    }
  }
  blocks.resize(static_cast<size_t>(wantBlocks) * 4 * bpp);
  return blocks;
}

TEST_P(RgbToYuv, ExactMultipleChromaBlocksMatchTheReference) {
  if (IsReference())
    GTEST_SKIP() << "reference kernel";
  std::mt19937 rng(99 + bpp());
  const int blocksX = 256, blocksY = QuickMode() ? 16 : 512;
  const Bytes blocks = ExactMultipleBlocks(bpp(), blocksX * blocksY, rng);
  const int w = 2 * blocksX, h = 2 * blocksY;
  Bytes src(static_cast<size_t>(w) * h * bpp());
  for (int by = 0; by < blocksY; ++by)
    for (int bx = 0; bx < blocksX; ++bx) {
      const std::uint8_t* b = &blocks[(static_cast<size_t>(by) * blocksX + bx) * 4 * bpp()];
      for (int k = 0; k < 4; ++k) {
        const size_t x = 2 * bx + (k & 1), y = 2 * by + (k >> 1);
        std::memcpy(&src[(y * w + x) * bpp()], b + k * bpp(), bpp());
      }
    }
  auto c = Make(w, h);
  for (int offset : {128, 0, 77})
    ExpectSameAsReference(bpp(), w, h, offset, false, src, *c, "exact multiples");
}

TEST_P(RgbToYuv, GreysPrimariesWhiteAndBlackMatchTheReference) {
  if (IsReference())
    GTEST_SKIP() << "reference kernel";
  const int w = 66, h = 2;
  std::vector<std::array<std::uint8_t, 3>> colours = {
      {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {255, 0, 255}, {0, 255, 255}};
  for (int g = 0; g < 256; ++g)
    colours.push_back({static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(g),
                       static_cast<std::uint8_t>(g)});
  auto c = Make(w, h);
  for (const auto& col : colours)
    ExpectSameAsReference(bpp(), w, h, 128, false, Flat(bpp(), w, h, col[0], col[1], col[2]), *c,
                          "flat");
}

// Odd and small sizes, every plane and the source ending at a guard page, tight and padded
// (multiple of 4) source rows: nothing outside the frame is touched, the odd last column and row
// of Y and everything beyond the blocks keep their bytes, and the result equals the reference.
TEST_P(RgbToYuv, OddSizesStayInsideBuffersEndingAtAGuardPage) {
  std::mt19937 rng(7);
  const int widths[] = {1, 2, 3, 5, 15, 16, 17, 31, 33, 34, 47, 63, 65, 66, 97, 130, 161};
  const int heights[] = {1, 2, 3, 5};
  for (int w : widths)
    for (int h : heights)
      for (bool padded : {false, true})
        for (bool invert : {false, true}) {
          SCOPED_TRACE(testing::Message() << w << "x" << h << (padded ? " padded" : " tight")
                                          << (invert ? " inverted" : ""));
          const int rowBytes = w * bpp();
          const int stride = padded ? (rowBytes + 3) & ~3 : rowBytes;
          GuardedBuffer src(static_cast<size_t>(stride) * h);
          colourtest::FillRandom(src.data(), src.size(), rng);
          const int cw = w / 2, ch = h / 2;
          GuardedBuffer y(static_cast<size_t>(w) * h), u(std::max(1, cw * ch)),
              v(std::max(1, cw * ch));
          std::memset(y.data(), 0xEE, y.size());
          std::memset(u.data(), 0xEE, u.size());
          std::memset(v.data(), 0xEE, v.size());
          auto c = Make(w, h);
          c->m_bInvert = invert;
          c->ConvertStrided(src.data(), stride, YUV420Planes{y.data(), u.data(), v.data(), w, cw, cw});

          // The reference on the same pixels, packed tightly.
          Bytes tight(static_cast<size_t>(rowBytes) * h);
          for (int r = 0; r < h; ++r)
            std::memcpy(&tight[static_cast<size_t>(r) * rowBytes], src.data() + r * stride, rowBytes);
          auto ref = MakeReference(bpp(), w, h, 128);
          ref->m_bInvert = invert;
          const Yuv want = ConvertFrame(*ref, tight, 0xEE);
          ASSERT_EQ(FirstDifference(want.y, Bytes(y.data(), y.data() + y.size())), -1);
          if (cw * ch > 0) {
            ASSERT_EQ(FirstDifference(want.u, Bytes(u.data(), u.data() + u.size())), -1);
            ASSERT_EQ(FirstDifference(want.v, Bytes(v.data(), v.data() + v.size())), -1);
          } else {
            ASSERT_EQ(u.data()[0], 0xEE);
            ASSERT_EQ(v.data()[0], 0xEE);
          }
          for (int r = 0; r < h; ++r)
            for (int x = 0; x < w; ++x) {
              if (x >= 2 * cw || r >= 2 * ch) {
                ASSERT_EQ(y.data()[r * w + x], 0xEE) << "unconverted Y byte " << x << "," << r;
              }
            }
        }
}

TEST_P(RgbToYuv, PlaneStridesLeaveTheGapsAlone) {
  const int w = 70, h = 6, ys = 80, cs = 40;
  std::mt19937 rng(5);
  Bytes src(static_cast<size_t>(w) * h * bpp());
  colourtest::FillRandom(src, rng);
  Bytes y(ys * h, 0xEE), u(cs * h / 2, 0xEE), v(cs * h / 2, 0xEE);
  auto c = Make(w, h);
  c->ConvertStrided(src.data(), w * bpp(), YUV420Planes{y.data(), u.data(), v.data(), ys, cs, cs});
  auto ref = MakeReference(bpp(), w, h, 128);
  const Yuv want = ConvertFrame(*ref, src);
  for (int r = 0; r < h; ++r)
    for (int x = 0; x < ys; ++x)
      ASSERT_EQ(y[r * ys + x], x < w ? want.y[r * w + x] : 0xEE) << x << "," << r;
  for (int r = 0; r < h / 2; ++r)
    for (int x = 0; x < cs; ++x) {
      ASSERT_EQ(u[r * cs + x], x < w / 2 ? want.u[r * (w / 2) + x] : 0xEE);
      ASSERT_EQ(v[r * cs + x], x < w / 2 ? want.v[r * (w / 2) + x] : 0xEE);
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, RgbToYuv, testing::ValuesIn(AllCases()),
                         [](const testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.bpp == 3 ? "RGB24_" : "RGB32_") +
                                  info.param.variant.name;
                         });

// The reasoning the integer kernels rest on, checked over every colour: the reference luma is
// floor((299R + 587G + 114B + 500) / 1000) wherever that numerator is not a multiple of 1000.
TEST(RgbToYuvArithmetic, LumaIsTheIntegerFloorExceptOnExactMultiples) {
  int exact = 0, below = 0;
  for (int r = 0; r < 256; r += QuickMode() ? 5 : 1)
    for (int g = 0; g < 256; ++g)
      for (int b = 0; b < 256; ++b) {
        const int n = colour::LumaNumerator(r, g, b);
        const int ref = colour::RefLuma(static_cast<BYTE>(r), static_cast<BYTE>(g),
                                        static_cast<BYTE>(b), true);
        if (n % 1000 != 0) {
          ASSERT_EQ(ref, n / 1000) << r << "," << g << "," << b;
          continue;
        }
        ++exact;
        ASSERT_TRUE(ref == n / 1000 || ref == n / 1000 - 1);
        below += ref != n / 1000;
      }
  // Both outcomes occur, which is why those pixels go through the double arithmetic.
  EXPECT_GT(exact, 0);
  EXPECT_GT(below, 0);
  EXPECT_LT(below, exact);
}

}  // namespace

namespace {

// The multiply-high division of the SIMD kernels, over every numerator they form: luma
// numerators divided by 1000 (shift 3) and biased chroma terms divided by 4000 (shift 5), both
// biases, with the exact-multiple mark. Every value from 0 up is checked, so also the smallest.
TEST(RgbToYuvArithmetic, ShiftedReciprocalDivisionIsExactForEveryNumerator) {
  struct Range {
    const char* what;
    int shift;
    std::uint32_t max;
  };
  const Range ranges[] = {
      {"luma / 1000", 3, colour::kLumaNumeratorMax},
      {"RGB24 chroma / 4000", 5, colour::kChromaBias24 + colour::kChromaTermMax},
      {"RGB32 chroma / 4000", 5, colour::kChromaBias32 + colour::kChromaTermMax},
  };
  for (const Range& r : ranges) {
    const std::uint32_t divisor = 125u << r.shift;
    for (std::uint32_t x = 0; x <= r.max; ++x) {
      const colour::ShiftedQuotient d = colour::DivideBy125Shifted(x, r.shift);
      const bool multiple = x % divisor == 0;
      if (d.q != static_cast<int>(x / divisor) || d.exact != multiple) {
        ADD_FAILURE() << r.what << ": x = " << x << " gives " << d.q << (d.exact ? " exact" : "");
        break;
      }
    }
  }
}

// The biased chroma forms: for every chroma term A a block can have, the byte the kernels make
// from the quotient of A + bias equals the converter's integer chroma (wherever the double sums
// cannot decide otherwise, that is where A + c is not a multiple of 4000), for offsets that
// wrap and for RGB32; and the biased numerator stays positive and in the proven range.
TEST(RgbToYuvArithmetic, BiasedChromaQuotientGivesTheConvertersBytes) {
  struct Form {
    const char* what;
    int bias, add;
    bool rgb24;
    int offset;
  };
  const Form forms[] = {
      {"RGB24 offset 128", colour::kChromaBias24, 128, true, 128},
      {"RGB24 offset 0", colour::kChromaBias24, 0, true, 0},
      {"RGB24 offset 255", colour::kChromaBias24, 255, true, 255},
      {"RGB32", colour::kChromaBias32, colour::kChromaByteAdd32, false, 0},
  };
  for (const Form& f : forms) {
    for (int a = -colour::kChromaTermMax; a <= colour::kChromaTermMax; ++a) {
      const int x = a + f.bias;
      ASSERT_GT(x, 0) << f.what << " A = " << a;
      const colour::ShiftedQuotient d =
          colour::DivideBy125Shifted(static_cast<std::uint32_t>(x), 5);
      const int n = std::clamp(d.q - colour::kChromaQuotientBias, -128, 127);
      const int got = (n + f.add) & 0xFF;
      int want;
      if (f.rgb24) {
        // Truncation to n, bias by 2 away from zero, division by 4, clamp, offset.
        const int t = a / 1000;
        const int q = std::clamp((t < 0 ? t - 2 : t + 2) / 4, -128, 127);
        want = (q + f.offset) & 0xFF;
      } else {
        // (SU + 0.5) * 0.25 truncated, SU = (A + 512000) / 1000, clamp.
        const int num = a + 512500;
        want = std::clamp(num >= 0 ? num / 4000 : -((-num) / 4000), 0, 255);
      }
      const bool decidedByRounding = (a + (f.rgb24 ? 2000 : 512500)) % 4000 == 0;
      if (decidedByRounding != d.exact || (!d.exact && got != want)) {
        ADD_FAILURE() << f.what << ": A = " << a << " gives " << got << ", want " << want
                      << (d.exact ? " (exact)" : "");
        break;
      }
    }
  }
}

}  // namespace

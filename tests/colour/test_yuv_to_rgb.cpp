// YUV 4:2:0 -> RGB24: every kernel variant gives the reference kernel's bytes over all 2^24
// (Y, U, V), and the reference gives the documented values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
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

std::unique_ptr<RealYUV420toRGB24Converter> MakeConverter(int w, int h, int offset, bool invert) {
  auto c = std::make_unique<RealYUV420toRGB24Converter>();
  c->m_nWidth = w;
  c->m_nHeight = h;
  c->m_nChromaOffset = offset;
  c->m_bInvert = invert;
  return c;
}

std::unique_ptr<RealYUV420toRGB24Converter> MakeReference(int w, int h, int offset, bool invert) {
  const DWORD saved = PlenorCpuMask();
  PlenorSetCpuMask(0);
  auto c = MakeConverter(w, h, offset, invert);
  PlenorSetCpuMask(saved);
  EXPECT_STREQ(c->KernelName(), "C");
  return c;
}

struct Planes {
  int w, h;
  Bytes y, u, v;
  Planes(int width, int height)
      : w(width), h(height), y(static_cast<size_t>(w) * h), u(static_cast<size_t>(w / 2) * (h / 2)),
        v(u.size()) {}
};

Bytes ConvertFrame(RealYUV420toRGB24Converter& c, const Planes& p, std::uint8_t fill = 0xA5) {
  Bytes out(static_cast<size_t>(p.w) * p.h * 3, fill);
  c.Convert(p.y.data(), p.u.data(), p.v.data(), out.data());
  return out;
}

class YuvToRgb : public testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    forced_ = std::make_unique<colourtest::ForcedVariant>(GetParam());
    if (!forced_->available())
      GTEST_SKIP() << "this processor lacks the instructions of the " << GetParam().name
                   << " kernel";
  }
  void TearDown() override { forced_.reset(); }
  bool IsReference() const { return std::string(GetParam().name) == "C"; }

  std::unique_ptr<RealYUV420toRGB24Converter> Make(int w, int h, int offset = 128,
                                                   bool invert = false) {
    auto c = MakeConverter(w, h, offset, invert);
    EXPECT_STREQ(c->KernelName(), GetParam().name);
    return c;
  }

  void ExpectSameAsReference(const Planes& p, int offset, bool invert, const char* what) {
    auto c = Make(p.w, p.h, offset, invert);
    auto ref = MakeReference(p.w, p.h, offset, invert);
    const long diff = FirstDifference(ConvertFrame(*ref, p), ConvertFrame(*c, p));
    EXPECT_EQ(diff, -1) << what << ", offset " << offset << ": first difference at pixel "
                        << diff / 3 << " (x " << (diff / 3) % p.w << ", row " << (diff / 3) / p.w
                        << ")";
  }

  std::unique_ptr<colourtest::ForcedVariant> forced_;
};

struct Expected {
  int y, u, v, offset;
  int b, g, r;
};

TEST_P(YuvToRgb, FlatFramesGiveTheWorkedValues) {
  const Expected cases[] = {
      {128, 128, 128, 128, 128, 128, 128}, {255, 128, 128, 128, 255, 255, 255},
      {0, 128, 128, 128, 0, 0, 0},         {76, 91, 255, 128, 1, 17, 221},
      {29, 239, 102, 128, 255, 0, 0},      {150, 54, 0, 128, 0, 254, 4},
      {90, 0, 0, 0, 90, 90, 90},           {90, 212, 212, 300, 90, 90, 90}};
  const int w = 100, h = 4;  // vector steps and a tail
  for (const Expected& e : cases) {
    Planes p(w, h);
    std::fill(p.y.begin(), p.y.end(), static_cast<std::uint8_t>(e.y));
    std::fill(p.u.begin(), p.u.end(), static_cast<std::uint8_t>(e.u));
    std::fill(p.v.begin(), p.v.end(), static_cast<std::uint8_t>(e.v));
    auto c = Make(w, h, e.offset);
    const Bytes out = ConvertFrame(*c, p);
    SCOPED_TRACE(testing::Message() << "yuv " << e.y << "," << e.u << "," << e.v << " offset "
                                    << e.offset);
    for (size_t i = 0; i < out.size(); i += 3) {
      ASSERT_EQ(out[i], e.b) << "pixel " << i / 3;
      ASSERT_EQ(out[i + 1], e.g) << "pixel " << i / 3;
      ASSERT_EQ(out[i + 2], e.r) << "pixel " << i / 3;
    }
  }
}

TEST_P(YuvToRgb, InvertWritesTheLastPictureRowFirst) {
  const int w = 66, h = 6;
  Planes p(w, h);
  for (int r = 0; r < h; ++r)
    for (int x = 0; x < w; ++x)
      p.y[r * w + x] = static_cast<std::uint8_t>(30 * r + x);
  std::fill(p.u.begin(), p.u.end(), 128);
  std::fill(p.v.begin(), p.v.end(), 128);
  auto c = Make(w, h, 128, true);
  const Bytes out = ConvertFrame(*c, p);
  for (int r = 0; r < h; ++r)
    for (int x = 0; x < w; ++x)
      ASSERT_EQ(out[(static_cast<size_t>(r) * w + x) * 3], 30 * (h - 1 - r) + x) << x << "," << r;
}

// Every (Y, U, V): a 4096 x 4096 frame whose 2^22 blocks take each (U, V) pair 64 times, with the
// 256 Y values spread over those 64 blocks. Quick mode keeps every 16th U value.
TEST_P(YuvToRgb, EveryYuvTripleMatchesTheReference) {
  if (IsReference())
    GTEST_SKIP() << "reference kernel";
  const int us = QuickMode() ? 16 : 256;
  const int w = 4096, h = us * 16;
  Planes p(w, h);
  const int bw = w / 2;
  for (int by = 0; by < h / 2; ++by)
    for (int bx = 0; bx < bw; ++bx) {
      const int block = by * bw + bx;
      const int pair = block >> 6, k = block & 63;
      p.u[block] = static_cast<std::uint8_t>((pair >> 8) * (256 / us));
      p.v[block] = static_cast<std::uint8_t>(pair & 255);
      for (int i = 0; i < 4; ++i)
        p.y[(2 * by + (i >> 1)) * w + 2 * bx + (i & 1)] = static_cast<std::uint8_t>(4 * k + i);
    }
  for (int offset : {128, 0, 300})
    ExpectSameAsReference(p, offset, false, "all triples");
}

TEST_P(YuvToRgb, RandomFramesMatchTheReferenceForAnyOffset) {
  if (IsReference())
    GTEST_SKIP() << "reference kernel";
  std::mt19937 rng(11);
  Planes p(1024, 64);
  for (int offset : {1, 127, 129, 255, -1, -129, 100000}) {
    colourtest::FillRandom(p.y, rng);
    colourtest::FillRandom(p.u, rng);
    colourtest::FillRandom(p.v, rng);
    ExpectSameAsReference(p, offset, offset < 0, "random");
  }
}

// Odd and small sizes with every plane and the output ending at a guard page, tight and bitmap
// (multiple of 4) output rows: only whole blocks are written, padding and the odd last column and
// row keep their bytes, and the result equals the reference.
TEST_P(YuvToRgb, OddSizesStayInsideBuffersEndingAtAGuardPage) {
  std::mt19937 rng(3);
  const int widths[] = {1, 2, 3, 5, 31, 32, 33, 63, 64, 65, 66, 95, 127, 130};
  const int heights[] = {1, 2, 3, 5};
  for (int w : widths)
    for (int h : heights)
      for (bool padded : {false, true})
        for (bool invert : {false, true}) {
          SCOPED_TRACE(testing::Message() << w << "x" << h << (padded ? " padded" : " tight")
                                          << (invert ? " inverted" : ""));
          const int cw = w / 2, ch = h / 2;
          GuardedBuffer y(static_cast<size_t>(w) * h), u(std::max(1, cw * ch)),
              v(std::max(1, cw * ch));
          colourtest::FillRandom(y.data(), y.size(), rng);
          colourtest::FillRandom(u.data(), u.size(), rng);
          colourtest::FillRandom(v.data(), v.size(), rng);
          const int row = 3 * w, stride = padded ? (row + 3) & ~3 : row;
          GuardedBuffer out(static_cast<size_t>(stride) * h);
          std::memset(out.data(), 0xEE, out.size());
          auto c = Make(w, h, 128, invert);
          c->ConvertStrided(y.data(), w, u.data(), cw, v.data(), cw, out.data(), stride);

          Planes p(w, h);
          std::memcpy(p.y.data(), y.data(), p.y.size());
          if (!p.u.empty()) {
            std::memcpy(p.u.data(), u.data(), p.u.size());
            std::memcpy(p.v.data(), v.data(), p.v.size());
          }
          const Bytes want = ConvertFrame(*MakeReference(w, h, 128, invert), p, 0xEE);
          for (int r = 0; r < h; ++r)
            for (int x = 0; x < stride; ++x)
              ASSERT_EQ(out.data()[r * stride + x], x < row ? want[r * row + x] : 0xEE)
                  << "byte " << x << " of row " << r;
          // The reference leaves the odd last column and row alone.
          if (w % 2 == 1 && h >= 2) {
            ASSERT_EQ(want[(invert ? h - 1 : 0) * row + row - 1], 0xEE);
          }
          if (h % 2 == 1) {
            ASSERT_EQ(want[(invert ? 0 : h - 1) * row], 0xEE);
          }
        }
}

TEST_P(YuvToRgb, PlaneStridesAreHonoured) {
  const int w = 68, h = 4, ys = 100, cs = 50;
  std::mt19937 rng(8);
  Planes p(w, h);
  colourtest::FillRandom(p.y, rng);
  colourtest::FillRandom(p.u, rng);
  colourtest::FillRandom(p.v, rng);
  Bytes y(ys * h, 0), u(cs * h / 2, 0), v(cs * h / 2, 0);
  for (int r = 0; r < h; ++r)
    std::memcpy(&y[r * ys], &p.y[r * w], w);
  for (int r = 0; r < h / 2; ++r) {
    std::memcpy(&u[r * cs], &p.u[r * (w / 2)], w / 2);
    std::memcpy(&v[r * cs], &p.v[r * (w / 2)], w / 2);
  }
  Bytes out(static_cast<size_t>(w) * h * 3, 0xA5);
  auto c = Make(w, h);
  c->ConvertStrided(y.data(), ys, u.data(), cs, v.data(), cs, out.data(), 3 * w);
  EXPECT_EQ(FirstDifference(out, ConvertFrame(*MakeReference(w, h, 128, false), p)), -1);
}

INSTANTIATE_TEST_SUITE_P(Kernels, YuvToRgb, testing::ValuesIn(colourtest::YuvVariants()),
                         colourtest::VariantName);

// The reasoning the integer kernels rest on, over every (Y, Cb, Cr): each channel is
// clamp(Y + floor(term)) wherever the exact term is not an integer.
TEST(YuvToRgbArithmetic, ChannelsAreYPlusTheFlooredTermExceptOnExactTerms) {
  int exactG = 0;
  for (int cb = -128; cb < 128; cb += QuickMode() ? 7 : 1)
    for (int cr = -128; cr < 128; ++cr) {
      const colour::RefRgbTerms t = colour::RefTerms(cb, cr);
      const bool eb = colour::OffsetBExact(cb), eg = colour::OffsetGExact(cb, cr),
                 er = colour::OffsetRExact(cr);
      ASSERT_FALSE(eb) << "the B term is never an integer";
      exactG += eg;
      for (int y = 0; y < 256; ++y) {
        auto clamp = [](int n) { return n < 0 ? 0 : (n > 255 ? 255 : n); };
        const BYTE yy = static_cast<BYTE>(y);
        ASSERT_EQ(colour::RefChannel(yy, t.tb), clamp(y + colour::OffsetB(cb)));
        if (!eg) {
          ASSERT_EQ(colour::RefChannel(yy, t.tg), clamp(y + colour::OffsetG(cb, cr)))
              << y << "," << cb << "," << cr;
        }
        if (!er) {
          ASSERT_EQ(colour::RefChannel(yy, t.tr), clamp(y + colour::OffsetR(cr)));
        }
      }
    }
  EXPECT_GT(exactG, 0);
  EXPECT_TRUE(colour::GetExactTermThresholds().valid);
}

// The byte-domain kernels clamp before taking the threshold's 1 off: clamp(clamp(Y + o) - d) must
// equal the reference for every Y, every R value and every (Cb, Cr) pair with an exact G term, with
// their derived thresholds (B has none; the other pairs are covered above).
TEST(YuvToRgbArithmetic, SaturatingBytesGiveTheReferenceWithTheThresholds) {
  const colour::ExactTermThresholds& th = colour::GetExactTermThresholds();
  ASSERT_TRUE(th.valid);
  struct Case {
    const char* channel;
    int cb, cr, offset, threshold;
    double term;
  };
  std::vector<Case> cases;
  for (int c = -128; c < 128; ++c) {
    cases.push_back({"R", 0, c, colour::OffsetR(c),
                     colour::OffsetRExact(c) ? th.tR[((c + 128) >> 4) & 15] : 0,
                     colour::RefTerms(0, c).tr});
    for (int cr = -128; cr < 128; ++cr)
      if (colour::OffsetGExact(c, cr))
        cases.push_back({"G", c, cr, colour::OffsetG(c, cr), th.tG[c & 255],
                         colour::RefTerms(c, cr).tg});
  }
  auto clamp = [](int n) { return n < 0 ? 0 : (n > 255 ? 255 : n); };
  int thresholded[2] = {};
  for (const Case& c : cases) {
    thresholded[c.channel[0] == 'G'] += c.threshold > 0;
    for (int y = 0; y < 256; ++y)
      ASSERT_EQ(colour::RefChannel(static_cast<BYTE>(y), c.term),
                std::max(clamp(y + c.offset) - (y < c.threshold ? 1 : 0), 0))
          << c.channel << ": Y " << y << ", Cb " << c.cb << ", Cr " << c.cr << ", threshold "
          << c.threshold;
  }
  EXPECT_GT(thresholded[0], 0);
  EXPECT_GT(thresholded[1], 0);
}

}  // namespace

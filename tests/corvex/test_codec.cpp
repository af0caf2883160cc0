// Encoding and decoding through ICodecv2: stream layout, parameter sets in band, the frame bit
// limit, the decoder's output against the suite's own colour converter, and rate control.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kernels/converters.h"
#include "tests/corvex/support_corvex.h"

namespace {

using namespace corvextest;

constexpr int kW = 176;
constexpr int kH = 144;

int UnitType(const std::vector<uint8_t>& s, size_t nUnit) { return s[nUnit] & 0x1F; }

// Opens pCodec as a decoder the way the decoder filter does.
void OpenDecoder(ICodecv2* pCodec, const ParamSets& sets, int nOutColour, int nFlip) {
  Set(pCodec, "width", std::to_string(kW));
  Set(pCodec, "height", std::to_string(kH));
  Set(pCodec, "outcolour", std::to_string(nOutColour));
  Set(pCodec, "flip", std::to_string(nFlip));
  std::vector<uint8_t> scratch(256);
  ASSERT_EQ(pCodec->Decode(sets.sps.data(), static_cast<int>(sets.sps.size() * 8),
                           scratch.data()),
            CORVEX_NO_PICTURE)
      << pCodec->GetErrorText();
  ASSERT_EQ(pCodec->Decode(sets.pps.data(), static_cast<int>(sets.pps.size() * 8),
                           scratch.data()),
            CORVEX_NO_PICTURE)
      << pCodec->GetErrorText();
  Set(pCodec, "generate param set on open", "0");
  ASSERT_NE(pCodec->Open(), 0) << pCodec->GetErrorText();
}

TEST(CorvexCodec, ParameterSetsAndPicturesAreStartCodeLedAndInBandSetsLeadEveryIntraPicture) {
  for (bool bInBand : {false, true}) {
    SCOPED_TRACE(bInBand ? "in band" : "out of band");
    auto enc = MakeCodec();
    Set(enc.get(), "switchframeperiod", "5");
    const ParamSets sets = OpenEncoder(enc.get(), kW, kH, 0, bInBand);
    ASSERT_GE(sets.sps.size(), 8u);
    ASSERT_GE(sets.pps.size(), 5u);
    EXPECT_EQ(std::memcmp(sets.sps.data(), "\0\0\0\1", 4), 0);
    EXPECT_EQ(sets.sps[4] & 0x1F, 7);
    EXPECT_EQ(std::memcmp(sets.pps.data(), "\0\0\0\1", 4), 0);
    EXPECT_EQ(sets.pps[4] & 0x1F, 8);
    int nIntra = 0;
    for (int n = 0; n < 12; ++n) {
      const std::vector<uint8_t> rgb = RgbFrame(kW, kH, n);
      const std::vector<uint8_t> coded = CodeOne(enc.get(), rgb.data(), kW, kH);
      ASSERT_GE(coded.size(), 5u);
      ASSERT_EQ(std::memcmp(coded.data(), "\0\0\0\1", 4), 0) << "frame " << n;
      const auto units = Units(coded);
      for (const auto& u : units) {
        ASSERT_GE(u.first, 4u);
        EXPECT_EQ(std::memcmp(&coded[u.first - 4], "\0\0\0\1", 4), 0) << "4-byte start codes";
      }
      const bool bIntra = Get(enc.get(), "last pic coding type") == "0";
      EXPECT_EQ(bIntra, n % 5 == 0) << "frame " << n;
      nIntra += bIntra;
      std::vector<int> types;
      for (const auto& u : units) types.push_back(UnitType(coded, u.first));
      const int nSlice = bIntra ? 5 : 1;
      if (bInBand && bIntra) {
        EXPECT_EQ(types, (std::vector<int>{7, 8, nSlice})) << "frame " << n;
        // The in-band sets are those handed out before Open.
        EXPECT_EQ(std::vector<uint8_t>(coded.begin(), coded.begin() + sets.sps.size()), sets.sps);
      } else {
        EXPECT_EQ(types, std::vector<int>{nSlice}) << "frame " << n;
      }
    }
    EXPECT_EQ(nIntra, 3);
  }
}

TEST(CorvexCodec, RestartMakesTheNextPictureIntra) {
  auto enc = MakeCodec();
  OpenEncoder(enc.get(), kW, kH, 0, true);
  for (int n = 0; n < 6; ++n) {
    if (n == 3) {
      ASSERT_NE(enc->Restart(), 0);
    }
    const std::vector<uint8_t> rgb = RgbFrame(kW, kH, n);
    ASSERT_FALSE(CodeOne(enc.get(), rgb.data(), kW, kH).empty());
    EXPECT_EQ(Get(enc.get(), "last pic coding type"), n == 0 || n == 3 ? "0" : "1") << n;
  }
}

TEST(CorvexCodec, APictureOverTheBitLimitWritesNothingAndTheNextPictureIsIntra) {
  auto enc = MakeCodec();
  OpenEncoder(enc.get(), kW, kH, 0, false);
  const std::vector<uint8_t> rgb0 = RgbFrame(kW, kH, 0);
  ASSERT_FALSE(CodeOne(enc.get(), rgb0.data(), kW, kH).empty());
  for (int nLimitBytes : {0, 1, 20}) {
    SCOPED_TRACE(nLimitBytes);
    std::vector<uint8_t> out(4096, 0xAB);
    const std::vector<uint8_t> rgb = RgbFrame(kW, kH, 1);
    EXPECT_EQ(enc->Code(rgb.data(), out.data(), nLimitBytes * 8 + 7), 0);
    EXPECT_NE(std::string(enc->GetErrorText()).find("frame bit limit"), std::string::npos);
    EXPECT_EQ(enc->GetCompressedLength(), 0);
    EXPECT_EQ(out, std::vector<uint8_t>(4096, 0xAB)) << "bytes written on failure";
  }
  const std::vector<uint8_t> rgb2 = RgbFrame(kW, kH, 2);
  ASSERT_FALSE(CodeOne(enc.get(), rgb2.data(), kW, kH).empty());
  EXPECT_EQ(Get(enc.get(), "last pic coding type"), "0");
  // A parameter set larger than its limit is refused the same way.
  Set(enc.get(), "picture coding type", "2");
  std::vector<uint8_t> out(16, 0xAB);
  EXPECT_EQ(enc->Code(nullptr, out.data(), 6 * 8), 0);
  EXPECT_EQ(out, std::vector<uint8_t>(16, 0xAB));
}

TEST(CorvexCodec, CodingBeforeOpenOrWithoutAPictureFails) {
  auto enc = MakeCodec();
  Set(enc.get(), "width", "176");
  Set(enc.get(), "height", "144");
  std::vector<uint8_t> out(kW * kH * 3);
  const std::vector<uint8_t> rgb = RgbFrame(kW, kH, 0);
  EXPECT_EQ(enc->IsReady(), 0);
  EXPECT_EQ(enc->Code(rgb.data(), out.data(), kW * kH * 24), 0);
  EXPECT_NE(std::string(enc->GetErrorText()).find("not open"), std::string::npos);
  ASSERT_NE(enc->Open(), 0) << enc->GetErrorText();
  EXPECT_EQ(enc->IsReady(), 1);
  EXPECT_EQ(enc->Code(nullptr, out.data(), kW * kH * 24), 0);
  ASSERT_NE(enc->Close(), 0);
  EXPECT_EQ(enc->IsReady(), 0);
}

// Every decoded RGB24 picture is the suite's I420-to-RGB24 conversion (offset 128) of the decoded
// 4:2:0 picture, in either row order.
TEST(CorvexCodec, DecodedRgbIsTheSuitesConversionOfTheDecodedPlanes) {
  auto enc = MakeCodec();
  const ParamSets sets = OpenEncoder(enc.get(), kW, kH, 0, true);
  std::vector<std::vector<uint8_t>> stream;
  for (int n = 0; n < 8; ++n) {
    const std::vector<uint8_t> rgb = RgbFrame(kW, kH, n);
    stream.push_back(CodeOne(enc.get(), rgb.data(), kW, kH));
  }
  for (int nFlip : {0, 1}) {
    SCOPED_TRACE(nFlip);
    auto toRgb = MakeCodec();
    auto toYuv = MakeCodec();
    OpenDecoder(toRgb.get(), sets, 0, nFlip);
    OpenDecoder(toYuv.get(), sets, 16, nFlip);
    RealYUV420toRGB24Converter reference;
    reference.m_nWidth = kW;
    reference.m_nHeight = kH;
    reference.m_nChromaOffset = 128;
    reference.m_bInvert = nFlip != 0;
    for (const auto& picture : stream) {
      std::vector<uint8_t> rgb(kW * kH * 3 + 16, 0x5A);
      std::vector<uint8_t> yuv(kW * kH * 3 / 2 + 16, 0x5A);
      ASSERT_EQ(toRgb->Decode(picture.data(), static_cast<int>(picture.size() * 8), rgb.data()),
                CORVEX_PICTURE)
          << toRgb->GetErrorText();
      ASSERT_EQ(toYuv->Decode(picture.data(), static_cast<int>(picture.size() * 8), yuv.data()),
                CORVEX_PICTURE)
          << toYuv->GetErrorText();
      for (int i = 0; i < 16; ++i) {
        ASSERT_EQ(rgb[kW * kH * 3 + i], 0x5A) << "written past the picture";
        ASSERT_EQ(yuv[kW * kH * 3 / 2 + i], 0x5A) << "written past the picture";
      }
      std::vector<uint8_t> expected(kW * kH * 3);
      const uint8_t* pY = yuv.data();
      reference.Convert(pY, pY + kW * kH, pY + kW * kH * 5 / 4, expected.data());
      ASSERT_TRUE(std::equal(expected.begin(), expected.end(), rgb.begin()));
    }
  }
}

TEST(CorvexCodec, ParameterSetsYieldNoPictureAndAStreamOfAnotherSizeIsRefused) {
  auto enc = MakeCodec();
  const ParamSets sets = OpenEncoder(enc.get(), kW, kH, 0, true);
  // Unset size: learnt from the SPS, as the file source reads it back after Open.
  {
    auto dec = MakeCodec();
    std::vector<uint8_t> scratch(256, 0x5A);
    EXPECT_EQ(dec->Decode(sets.sps.data(), static_cast<int>(sets.sps.size() * 8), scratch.data()),
              CORVEX_NO_PICTURE);
    EXPECT_EQ(dec->Decode(sets.pps.data(), static_cast<int>(sets.pps.size() * 8), scratch.data()),
              CORVEX_NO_PICTURE);
    EXPECT_EQ(scratch, std::vector<uint8_t>(256, 0x5A)) << "a parameter set wrote a picture";
    ASSERT_NE(dec->Open(), 0) << dec->GetErrorText();
    EXPECT_EQ(Get(dec.get(), "width"), "176");
    EXPECT_EQ(Get(dec.get(), "height"), "144");
  }
  // Given size that differs from the stream: refused, naming both sizes.
  {
    auto dec = MakeCodec();
    Set(dec.get(), "width", "352");
    Set(dec.get(), "height", "288");
    std::vector<uint8_t> scratch(256);
    EXPECT_EQ(dec->Decode(sets.sps.data(), static_cast<int>(sets.sps.size() * 8), scratch.data()),
              0);
    EXPECT_NE(std::string(dec->GetErrorText()).find("176x144"), std::string::npos);
    EXPECT_NE(std::string(dec->GetErrorText()).find("352x288"), std::string::npos);
  }
  // Broken input is refused, not decoded into the buffer.
  {
    auto dec = MakeCodec();
    std::vector<uint8_t> scratch(256);
    const std::vector<std::vector<uint8_t>> bad = {
        {0x67, 0x42, 0, 0x1e},             // no start code
        {0, 0, 0, 1, 0x67, 0x42},          // SPS cut short
        {0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1e, 0, 0, 0, 0, 0, 0x80},  // a field too long
    };
    for (const auto& b : bad) {
      EXPECT_EQ(dec->Decode(b.data(), static_cast<int>(b.size() * 8), scratch.data()), 0);
      EXPECT_STRNE(dec->GetErrorText(), "");
    }
    EXPECT_EQ(dec->Decode(nullptr, 80, scratch.data()), 0);
  }
}

int64_t StreamBits(int nMode, int nQuality, int nBitsPerFrame, int nFrames, int nW, int nH,
                   int nMinQp = 0) {
  auto enc = MakeCodec();
  Set(enc.get(), "minimum intra qp", std::to_string(nMinQp));
  Set(enc.get(), "minimum inter qp", std::to_string(nMinQp));
  Set(enc.get(), "mode of operation", std::to_string(nMode));
  Set(enc.get(), "quality", std::to_string(nQuality));
  Set(enc.get(), "max bits per frame", std::to_string(nBitsPerFrame));
  Set(enc.get(), "num rate control frames", "25");
  Set(enc.get(), "switchframeperiod", "50");
  OpenEncoder(enc.get(), nW, nH, 0, true);
  int64_t nBits = 0;
  for (int n = 0; n < nFrames; ++n) {
    const std::vector<uint8_t> rgb = RgbFrame(nW, nH, n);
    nBits += static_cast<int64_t>(CodeOne(enc.get(), rgb.data(), nW, nH).size()) * 8;
  }
  return nBits;
}

TEST(CorvexCodec, BitRateModesLandWithinTenPercentOfTheirTarget) {
  const struct {
    int mode, quality, bitsPerFrame, minQp;
    bool reachable;  // false: the quantiser floor keeps the stream below its target
  } cases[] = {
      {1, 1, 4000, 0, true},   {1, 1, 12000, 0, true}, {1, 1, 4000, 16, true},  // the filter's floor
      {2, 1, 4000, 4, true},   {2, 1, 40000, 0, true}, {2, 20, 40000, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("mode " + std::to_string(c.mode) + ", " + std::to_string(c.bitsPerFrame) +
                 " bits a picture, lowest quantiser " + std::to_string(c.minQp));
    const int64_t nBits = StreamBits(c.mode, c.quality, c.bitsPerFrame, 300, kW, kH, c.minQp);
    const double dRatio = static_cast<double>(nBits) / (int64_t{c.bitsPerFrame} * 300);
    if (c.reachable) {
      EXPECT_GT(dRatio, 0.9);
    } else {
      EXPECT_LT(dRatio, 0.8) << "mode 2 coded below \"quality\"";
    }
    EXPECT_LT(dRatio, 1.1);
  }
}

TEST(CorvexCodec, ALowerQuantiserGivesALargerStream) {
  int64_t nPrevious = 0;
  for (int nQuality : {36, 28, 20, 12}) {
    const int64_t nBits = StreamBits(0, nQuality, 1, 20, kW, kH);
    EXPECT_GT(nBits, nPrevious * 5 / 4) << "quality " << nQuality;
    nPrevious = nBits;
  }
  // Mode 2 never codes below "quality": with a generous target a high quantiser caps the size.
  EXPECT_LT(StreamBits(2, 36, 200000, 20, kW, kH) * 2, StreamBits(2, 20, 200000, 20, kW, kH));
}

TEST(CorvexCodec, TheNalWalkFindsEveryUnitAndNoStartCodeInsideOne) {
  using Units = std::vector<std::pair<size_t, size_t>>;  // (offset of the header byte, length)
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    Units units;
  } cases[] = {
      {"one unit, 3-byte code", {0, 0, 1, 0x65, 0xAA}, {{3, 2}}},
      {"4-byte codes: the zero before a code is not the unit's",
       {0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x68, 5},
       {{4, 3}, {11, 2}}},
      {"01 bytes without zeros before them, a code at the very end",
       {1, 1, 0, 0, 1, 0x41, 1, 0, 1, 0, 0, 1},
       {{5, 4}}},
      {"an empty unit between two codes", {0, 0, 1, 0, 0, 1, 9}, {{3, 0}, {6, 1}}},
      {"no start code", {1, 2, 0, 1, 0, 0}, {}},
      {"a start code alone", {0, 0, 1}, {}},
      {"nothing", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(corvextest::Units(c.bytes), c.units);
  }

  // Long units of bytes that are mostly 00, 01 and FF, with an emulation-prevention 03 after every
  // two zeros, as in real slices: the walk must cross many near-misses of the pattern.
  std::vector<uint8_t> stream;
  Units expected;
  uint32_t seed = 12345;
  for (size_t length : {70000u, 1u, 5000u}) {
    stream.insert(stream.end(), {0, 0, 0, 1});
    expected.emplace_back(stream.size(), length);
    int zeros = 0;
    for (size_t i = 0; i < length; ++i) {
      seed = seed * 1103515245u + 12345u;
      static constexpr uint8_t kBytes[] = {0, 0, 1, 0xFF, 0x41};
      uint8_t b = i == 0 ? 0x41 : kBytes[(seed >> 16) % 5];
      if (zeros == 2 && i + 1 < length) b = 3;
      if (zeros == 2 && i + 1 == length) b = 0xFF;
      zeros = b == 0 ? zeros + 1 : 0;
      stream.push_back(b);
    }
    if (stream.back() == 0) stream.back() = 0xFF;  // a trailing zero would join the next code
  }
  EXPECT_EQ(corvextest::Units(stream), expected);
}

}  // namespace

// RateOverlayFilter from its module: accepted types, the two clocks, frames that are not
// measured, a frozen measurement, Stop.
#include <gtest/gtest.h>

#include "overlay/rateoverlay/rateoverlay.h"
#include "platform/strmbase/uuids.h"
#include "support_overlay.h"

using namespace overlaytest;

namespace {

constexpr LONG kW = 320, kH = 240;
std::vector<BYTE> Grey() { return std::vector<BYTE>(PictureSize(24, kW, kH), 0x30); }

ComPtr<IBaseFilter> Display(const char* mode) {
  ComPtr<IBaseFilter> f = CreateFilter(CLSID_RateOverlayFilter);
  if (f) {
    EXPECT_EQ(SetParam(f.Get(), "mode", mode), S_OK);
  }
  return f;
}

}  // namespace

TEST(RateOverlayTypes, OnlyBottomUpRgb24AndRgb32WithVideoInfo) {
  CMediaType vih2;
  vih2.SetType(&MEDIATYPE_Video);
  vih2.SetSubtype(&MEDIASUBTYPE_RGB24);
  vih2.SetFormatType(&FORMAT_VideoInfo2);
  vih2.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2));
  const struct {
    const char* what;
    CMediaType type;
    HRESULT expected;
  } cases[] = {
      {"RGB24", RgbType(24, kW, kH), S_OK},
      {"RGB32", RgbType(32, kW, kH), S_OK},
      {"top-down RGB32", RgbType(32, kW, -kH), VFW_E_TYPE_NOT_ACCEPTED},
      {"top-down RGB24", RgbType(24, kW, -kH), VFW_E_TYPE_NOT_ACCEPTED},
      {"planar YUV", MakeVideoType(MEDIASUBTYPE_I420, kW, kH, 12, 0x30323449), VFW_E_TYPE_NOT_ACCEPTED},
      {"VIDEOINFOHEADER2", vih2, VFW_E_TYPE_NOT_ACCEPTED},
      {"no format block", MakeSimpleType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24), VFW_E_TYPE_NOT_ACCEPTED},
  };
  for (const auto& c : cases) {
    PushChain chain({Display("0")}, c.type);
    EXPECT_EQ(chain.connected, c.expected) << c.what;
  }
}

TEST(RateOverlayMeasuring, SampleTimesRepeatsFramesWithoutTimesAndFreezing) {
  PushChain chain({Display("0")}, RgbType(24, kW, kH), 300000);
  ASSERT_EQ(chain.connected, S_OK);
  IBaseFilter* f = chain.filters[0].Get();
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  ASSERT_EQ(chain.Push(Grey(), 0), S_OK);
  EXPECT_EQ(chain.Last(), Grey());  // first frame: no text
  ASSERT_EQ(chain.Push(Grey(), 400000), S_OK);
  const std::vector<BYTE> first = chain.Last();
  EXPECT_NE(first, Grey());
  EXPECT_EQ(GetParam(f, "estimatedframerate"), "25.00");
  EXPECT_EQ(OcrLine(FromDib(first.data(), kW, kH, 3), 0, 0, 200, 50), "25.00 fps");

  // An equal start time is not measured; a frame without times still carries the figure.
  ASSERT_EQ(chain.Push(Grey(), 400000), S_OK);
  EXPECT_EQ(chain.Last(), first);
  ASSERT_EQ(chain.Push(Grey(), std::nullopt), S_OK);
  EXPECT_EQ(chain.Last(), first);
  // 20 fps now: the average of 400,000 and 600,000 is 500,000 units.
  ASSERT_EQ(chain.Push(Grey(), 1'000'000), S_OK);
  EXPECT_EQ(GetParam(f, "estimatedframerate"), "20.00");
  const std::vector<BYTE> twenty = chain.Last();
  // Another mode freezes the measurement: the same text on every frame.
  ASSERT_EQ(SetParam(f, "mode", "5"), S_OK);
  for (REFERENCE_TIME t : {1'100'000, 9'000'000}) {
    ASSERT_EQ(chain.Push(Grey(), t), S_OK);
    EXPECT_EQ(chain.Last(), twenty);
  }
  EXPECT_EQ(GetParam(f, "estimatedframerate"), "20.00");

  ASSERT_EQ(chain.host.control->Stop(), S_OK);
  EXPECT_EQ(GetParam(f, "estimatedframerate"), "0.00");
  ASSERT_EQ(SetParam(f, "mode", "1"), S_OK);
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  ASSERT_EQ(chain.Push(Grey(), 0), S_OK);
  EXPECT_EQ(chain.Last(), Grey());
  // By the performance counter the second frame carries a figure whatever its time stamp.
  ASSERT_EQ(chain.Push(Grey(), 0), S_OK);
  EXPECT_NE(chain.Last(), Grey());
  EXPECT_NE(GetParam(f, "estimatedframerate"), "0.00");
}

TEST(RateOverlayMeasuring, OffsetsMoveTheTextAndShortSamplesPassUnchanged) {
  PushChain chain({Display("0")}, RgbType(24, kW, kH), 300000);
  ASSERT_EQ(chain.connected, S_OK);
  IBaseFilter* f = chain.filters[0].Get();
  ASSERT_EQ(SetParam(f, "X", "100"), S_OK);
  ASSERT_EQ(SetParam(f, "Y", "150"), S_OK);
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  ASSERT_EQ(chain.Push(Grey(), 0), S_OK);
  ASSERT_EQ(chain.Push(Grey(), 400000), S_OK);
  const RgbImage image = FromDib(chain.Last().data(), kW, kH, 3);
  EXPECT_EQ(OcrLine(image, 100, 150, 200, 50), "25.00 fps");
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x)
      if (x < 100 || y < 150 || x >= 300 || y >= 200) {
        ASSERT_EQ(image.rgb[(y * kW + x) * 3 + 1], 0x30) << x << "," << y;
      }
  std::vector<BYTE> part(1000, 0x30);
  ASSERT_EQ(chain.Push(part, 800000), S_OK);
  EXPECT_EQ(chain.Last(), part);
}

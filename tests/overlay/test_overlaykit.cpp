// OverlayKitFilter from its module, with pushed pictures: accepted types, what each mode draws
// and publishes, measurement restarts, the upstream source and its info text, pictures that are
// not drawn on, and persistence of "x", "y" and "mode".
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "framework/guids.h"
#include "framework/infosource.h"
#include "overlay/overlaykit/overlaykit.h"
#include "platform/com/oleauto.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/uuids.h"
#include "support_overlay.h"

using namespace overlaytest;

namespace {

constexpr LONG kW = 320, kH = 240;
constexpr uint8_t kGrey = 0x30;

std::vector<BYTE> Grey(int bits = 24, LONG h = kH) { return std::vector<BYTE>(PictureSize(bits, kW, h), kGrey); }

ComPtr<IBaseFilter> Kit(std::initializer_list<std::pair<const char*, const char*>> parameters) {
  ComPtr<IBaseFilter> f = CreateFilter(CLSID_OverlayKitFilter);
  if (!f) return f;
  for (const auto& [name, value] : parameters) EXPECT_EQ(SetParam(f.Get(), name, value), S_OK) << name;
  return f;
}

std::string Ocr(const std::vector<BYTE>& bits, int bpp = 3, LONG h = kH) {
  return OcrLine(FromDib(bits.data(), kW, h, bpp), 0, 0, 350, 50);
}

// True when every byte outside the top-left w x h pixels equals the original grey.
bool OnlyBoxChanged(const std::vector<BYTE>& bits, int x0, int y0, int w, int h, int bpp = 3) {
  const RgbImage image = FromDib(bits.data(), kW, kH, bpp);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      if (x >= x0 && x < x0 + w && y >= y0 && y < y0 + h) continue;
      const uint8_t* p = &image.rgb[(y * kW + x) * 3];
      if (p[0] != kGrey || p[1] != kGrey || p[2] != kGrey) return false;
    }
  return true;
}

std::string InfoText(IBaseFilter* filter, int size, HRESULT* hr) {
  ComPtr<IFilterInfoSourceInterface> info;
  *hr = filter->QueryInterface(IID_IFilterInfoSourceInterface, info.AsOut());
  if (FAILED(*hr)) return "";
  std::string buffer(static_cast<size_t>(size) + 1, '#');
  int length = size;
  *hr = info->GetInfoText(buffer.data(), &length);
  return SUCCEEDED(*hr) ? buffer.substr(0, static_cast<size_t>(length)) + "|" + buffer.substr(length, 1) : buffer;
}

}  // namespace

TEST(OverlayKitTypes, VideoWithVideoInfoHeadersOfAnySubtype) {
  CMediaType vih2;
  vih2.SetType(&MEDIATYPE_Video);
  vih2.SetSubtype(&MEDIASUBTYPE_RGB32);
  vih2.SetFormatType(&FORMAT_VideoInfo2);
  auto* v2 = reinterpret_cast<VIDEOINFOHEADER2*>(vih2.AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
  v2->bmiHeader = {sizeof(BITMAPINFOHEADER), kW, kH, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  const struct {
    const char* what;
    CMediaType type;
    HRESULT expected;
  } cases[] = {
      {"RGB24", RgbType(24, kW, kH), S_OK},
      {"top-down RGB32", RgbType(32, kW, -kH), S_OK},
      {"planar YUV", MakeVideoType(MEDIASUBTYPE_I420, kW, kH, 12, 0x30323449), S_OK},
      {"VIDEOINFOHEADER2", vih2, S_OK},
      {"no format block", MakeSimpleType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24), VFW_E_TYPE_NOT_ACCEPTED},
      {"audio", MakeSimpleType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM), VFW_E_TYPE_NOT_ACCEPTED},
  };
  for (const auto& c : cases) {
    PushChain chain({Kit({})}, c.type);
    EXPECT_EQ(chain.connected, c.expected) << c.what;
  }
}

// Mode 0 by sample times, frames 40 ms apart: nothing on the first frame, then the rate with
// "precision" decimals at the top-left corner; only the box changes.
TEST(OverlayKitModes, FrameRateBySampleTimes) {
  PushChain chain({Kit({{"mode", "0"}, {"precision", "2"}})}, RgbType(24, kW, kH), 300000);
  ASSERT_EQ(chain.connected, S_OK);
  IBaseFilter* kit = chain.filters[0].Get();
  EXPECT_EQ(GetParam(kit, "estimated_framerate"), "-1.00");
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  ASSERT_EQ(chain.Push(Grey(), 0), S_OK);
  EXPECT_EQ(chain.Last(), Grey());
  ASSERT_EQ(chain.Push(Grey(), 400000), S_OK);
  const std::vector<BYTE> drawn = chain.Last();
  EXPECT_NE(drawn, Grey());
  EXPECT_TRUE(OnlyBoxChanged(drawn, 0, 0, 350, 50));
  EXPECT_EQ(GetParam(kit, "estimated_framerate"), "25.00");
  EXPECT_EQ(Ocr(drawn), "25.00 fps");

  // "precision" 3 restarts the measurement: the next frame is not drawn on, then three decimals.
  ASSERT_EQ(SetParam(kit, "precision", "3"), S_OK);
  ASSERT_EQ(chain.Push(Grey(), 800000), S_OK);
  EXPECT_EQ(chain.Last(), Grey());
  ASSERT_EQ(chain.Push(Grey(), 1200000), S_OK);
  EXPECT_EQ(Ocr(chain.Last()), "25.000 fps");

  // A frame without times fails in a measuring mode.
  EXPECT_TRUE(FAILED(chain.Push(Grey(), std::nullopt)));

  // A 6 s gap empties the window: 0 fps until new intervals arrive; the bit rate reads -1.
  ASSERT_EQ(chain.Push(Grey(), 61'200'000), S_OK);
  EXPECT_EQ(GetParam(kit, "estimated_framerate"), "0.00");
  EXPECT_EQ(GetParam(kit, "estimated_bitrate"), "-1.00");

  // Stop: the frame rate reads 0, the bit rate keeps its value, the next run starts afresh.
  ASSERT_EQ(chain.Push(Grey(), 71'200'000), S_OK);
  ASSERT_EQ(chain.Push(Grey(), 81'200'000), S_OK);
  const std::string bitrate = GetParam(kit, "estimated_bitrate");
  EXPECT_NE(bitrate, "-1.00");
  ASSERT_EQ(chain.host.control->Stop(), S_OK);
  EXPECT_EQ(GetParam(kit, "estimated_framerate"), "0.00");
  EXPECT_EQ(GetParam(kit, "estimated_bitrate"), bitrate);
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  ASSERT_EQ(chain.Push(Grey(), 0), S_OK);
  EXPECT_EQ(chain.Last(), Grey());
}

TEST(OverlayKitModes, HistoryOfZeroReadsZeroAndModeNonePassesUntouched) {
  const struct {
    const char* mode;
    const char* history;
    const char* rate;
    bool drawn;
  } cases[] = {
      {"0", "0", "0.0", true}, {"8", "200", "-1.0", false}, {"9", "200", "-1.0", false}, {"6", "200", "25.0", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    PushChain chain({Kit({{"mode", c.mode}, {"history_size", c.history}})}, RgbType(32, kW, kH), 400000);
    ASSERT_EQ(chain.connected, S_OK);
    ASSERT_EQ(chain.host.control->Run(), S_OK);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(chain.Push(Grey(32), i * 400000), S_OK);
    EXPECT_EQ(chain.Last() != Grey(32), c.drawn);
    EXPECT_EQ(GetParam(chain.filters[0].Get(), "estimated_framerate"), std::string(c.rate) + "0");
  }
}

// One instance measures the bit rate with drawing off; a second one downstream shows its text.
TEST(OverlayKitUpstream, BitRateShownByASecondInstance) {
  PushChain chain({Kit({{"mode", "6"}, {"writeonframe", "false"}}), Kit({{"mode", "7"}})}, RgbType(24, kW, kH),
                  300000);
  ASSERT_EQ(chain.connected, S_OK);
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  ASSERT_EQ(chain.Push(Grey(), 0), S_OK);
  // No text yet upstream: an empty text is drawn, which changes nothing.
  EXPECT_EQ(chain.Last(), Grey());
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(chain.Push(Grey(), i * 10'000'000LL), S_OK);
  // Three records of 230,400 bytes over 2 s: (691,200 / 1000 -> 691) * 8 / 2 = 2764 kbps.
  EXPECT_EQ(GetParam(chain.filters[0].Get(), "estimated_bitrate"), "2764.00");
  HRESULT hr = E_FAIL;
  EXPECT_EQ(InfoText(chain.filters[0].Get(), 64, &hr), "2764.0 kbps|#");
  EXPECT_EQ(hr, S_OK);
  const std::vector<BYTE> drawn = chain.Last();
  EXPECT_TRUE(OnlyBoxChanged(drawn, 0, 0, 350, 50));
  EXPECT_EQ(Ocr(drawn), "2764.0 kbps");
}

TEST(OverlayKitUpstream, InfoTextBufferRules) {
  PushChain chain({Kit({{"mode", "0"}})}, RgbType(24, kW, kH), 300000);
  ASSERT_EQ(chain.connected, S_OK);
  HRESULT hr = E_FAIL;
  EXPECT_EQ(InfoText(chain.filters[0].Get(), 0, &hr), "|#");  // nothing measured yet: empty
  EXPECT_EQ(hr, S_OK);
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  ASSERT_EQ(chain.Push(Grey(), 0), S_OK);
  ASSERT_EQ(chain.Push(Grey(), 400000), S_OK);
  EXPECT_EQ(InfoText(chain.filters[0].Get(), 8, &hr), "25.0 fps|#");  // exactly fits, no zero
  EXPECT_EQ(InfoText(chain.filters[0].Get(), 7, &hr), "########");    // too short: nothing copied
  EXPECT_EQ(hr, E_FAIL);
}

TEST(OverlayKitUpstream, WithoutASourceUpstreamEveryFrameFails) {
  PushChain chain({Kit({{"mode", "7"}})}, RgbType(24, kW, kH), 300000);
  ASSERT_EQ(chain.connected, S_OK);
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  EXPECT_EQ(chain.Push(Grey(), 0), E_FAIL);
  EXPECT_EQ(chain.Push(Grey(), 400000), E_FAIL);
  ASSERT_EQ(chain.host.control->Stop(), S_OK);
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  EXPECT_EQ(chain.Push(Grey(), 0), E_FAIL);
  // Other modes still work.
  ASSERT_EQ(SetParam(chain.filters[0].Get(), "mode", "2"), S_OK);
  EXPECT_EQ(chain.Push(Grey(), 0), S_OK);
}

// Pictures that cannot be drawn on pass unchanged and the frame succeeds: a compressed stream
// with drawing on, a sample shorter than its picture, offsets outside the picture.
TEST(OverlayKitDrawing, UndrawablePicturesPassUnchanged) {
  const struct {
    const char* what;
    CMediaType type;
    size_t bytes;
    const char* x;
    const char* y;
  } cases[] = {
      {"H.264 with writeonframe", MakeVideoType(MEDIASUBTYPE_PLENOR_H264, kW, kH, 24, 0x34363248), 1500, "0", "0"},
      {"planar YUV", MakeVideoType(MEDIASUBTYPE_I420, kW, kH, 12, 0x30323449), PictureSize(12, kW, kH), "0", "0"},
      {"sample shorter than the picture", RgbType(24, kW, kH), PictureSize(24, kW, kH) - 1, "0", "0"},
      {"x beyond the picture", RgbType(24, kW, kH), PictureSize(24, kW, kH), "320", "0"},
      {"y beyond the picture", RgbType(24, kW, -kH), PictureSize(24, kW, kH), "0", "4294967295"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PushChain chain({Kit({{"mode", "0"}, {"x", c.x}, {"y", c.y}})}, c.type, 300000);
    ASSERT_EQ(chain.connected, S_OK);
    ASSERT_EQ(chain.host.control->Run(), S_OK);
    std::vector<BYTE> data(c.bytes);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 7 + 1);
    ASSERT_EQ(chain.Push(data, 0), S_OK);
    ASSERT_EQ(chain.Push(data, 400000), S_OK);
    EXPECT_EQ(chain.Last(), data);
    EXPECT_EQ(GetParam(chain.filters[0].Get(), "estimated_framerate"), "25.00");
  }
}

TEST(OverlayKitDrawing, OffsetsPartlyOutsideDrawOnlyInside) {
  PushChain chain({Kit({{"mode", "0"}, {"x", "300"}, {"y", "225"}})}, RgbType(24, kW, kH), 300000);
  ASSERT_EQ(chain.connected, S_OK);
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  ASSERT_EQ(chain.Push(Grey(), 0), S_OK);
  ASSERT_EQ(chain.Push(Grey(), 400000), S_OK);
  const std::vector<BYTE> drawn = chain.Last();
  EXPECT_EQ(drawn.size(), Grey().size());
  EXPECT_NE(drawn, Grey());
  EXPECT_TRUE(OnlyBoxChanged(drawn, 300, 225, 20, 15));
}

TEST(OverlayKitPersistence, TwelveByteRecordAndUnsignedProperties) {
  ComPtr<IBaseFilter> kit = Kit({{"x", "1"}, {"y", "258"}, {"mode", "6"}, {"precision", "4"}});
  ASSERT_TRUE(kit);
  ComPtr<IPersistStream> persist = kit.As<IPersistStream>();
  ASSERT_TRUE(persist);
  ULARGE_INTEGER size{};
  ASSERT_EQ(persist->GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, 12u);
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateStreamOnMemory(nullptr, 0, stream.ReleaseAndGetAddressOf()), S_OK);
  ASSERT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  LARGE_INTEGER zero{};
  ASSERT_EQ(stream->Seek(zero, STREAM_SEEK_SET, nullptr), S_OK);
  BYTE record[16] = {};
  ULONG read = 0;
  stream->Read(record, sizeof record, &read);
  ASSERT_EQ(read, 12u);
  const BYTE expected[12] = {1, 0, 0, 0, 2, 1, 0, 0, 6, 0, 0, 0};
  EXPECT_EQ(std::memcmp(record, expected, 12), 0);

  ComPtr<IPropertyBag> bag = kit.As<IPropertyBag>();
  ASSERT_TRUE(bag);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = -1;
  EXPECT_EQ(bag->Write(L"\"mode\"", &v), E_INVALIDARG);
  v.vt = VT_BOOL;
  v.boolVal = VARIANT_TRUE;
  EXPECT_EQ(bag->Write(L"\"MODE\"", &v), S_OK);
  EXPECT_EQ(GetParam(kit.Get(), "mode"), "4294967295");
  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(bag->Read(L"\"y\"", &out, nullptr), S_OK);
  EXPECT_EQ(out.vt, VT_UINT);
  EXPECT_EQ(out.uintVal, 258u);
  EXPECT_EQ(bag->Read(L"precision", &out, nullptr), E_INVALIDARG);
}

// Both conversion filters loaded from their modules and run through the graph manager: the
// utilities' test pattern source (RGB24 and RGB32, bottom-up) and a source the test pushes from
// (top-down) -> RgbToI420Filter -> I420ToRgbFilter -> sample grabber. The YUV bytes must equal the
// scalar reference converter's, the RGB that comes back the reference's for those bytes and, for
// colours whose chroma does not saturate, the source's within 2 levels.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "colour/rgb2yuv/rgbtoi420.h"
#include "colour/yuv2rgb/i420torgb.h"
#include "colourfilter_helpers.h"
#include "platform/strmbase/uuids.h"
#include "tests/colour/support_colour.h"
#include "tests/utilities/support_utilities.h"

using namespace colourfilter;
using namespace utiltest;

namespace {

ComPtr<IBaseFilter> Converter(const CLSID& clsid) {
  RegisterModules();
  return CreateFilter(clsid);
}

ComPtr<IBaseFilter> PatternSource(const char* format, int width, int height, const char* pattern,
                                  const char* colour = "0080FF") {
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_TestPatternSource);
  EXPECT_EQ(Set(source.Get(), "format", format), S_OK);
  EXPECT_EQ(Set(source.Get(), "width", std::to_string(width)), S_OK);
  EXPECT_EQ(Set(source.Get(), "height", std::to_string(height)), S_OK);
  EXPECT_EQ(Set(source.Get(), "frames", "3"), S_OK);
  EXPECT_EQ(Set(source.Get(), "pattern", pattern), S_OK);
  EXPECT_EQ(Set(source.Get(), "colour", colour), S_OK);
  return source;
}

// Runs source -> filters... -> grabber to the end and returns what the grabber received and the
// type it was connected with.
struct GraphRun {
  std::vector<Grabbed> samples;
  CMediaType type;
};
GraphRun RunChain(std::vector<ComPtr<IBaseFilter>> filters) {
  GraphRun run;
  Graph graph;
  ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
  filters.push_back(grabber);
  for (auto& f : filters) EXPECT_EQ(graph.Add(f.Get()), S_OK);
  EXPECT_EQ(graph.ConnectChain(), S_OK);
  EXPECT_EQ(graph.RunToEnd(), EC_COMPLETE);
  run.samples = ReadGrabber(grabber.Get());
  AM_MEDIA_TYPE mt = GrabberType(grabber.Get());
  run.type.Set(mt);
  FreeMediaType(mt);
  return run;
}

// Luma of one pixel as the conversion defines it, for checks that do not go through a converter.
int Luma(const BYTE* bgr) {
  return static_cast<int>(((bgr[2] * 0.299 + 0.5) + bgr[1] * 0.587) + bgr[0] * 0.114);
}

class ColourPipeline : public testing::TestWithParam<const char*> {
 protected:
  bool Rgb32() const { return std::string(GetParam()) == "RGB32"; }
  int Bpp() const { return Rgb32() ? 4 : 3; }
};

// 90 pixels: RGB24 rows of 270 bytes padded to 272, chroma rows of 45 bytes.
TEST_P(ColourPipeline, BarsConvertToTheReferenceBytesBothWays) {
  const int w = 90, h = 60;
  const long srcStride = BitmapStride(w, Bpp()), rgbStride = BitmapStride(w, 3);
  const GraphRun source = RunChain({PatternSource(GetParam(), w, h, "bars")});
  const GraphRun yuv = RunChain({PatternSource(GetParam(), w, h, "bars"), Converter(CLSID_RgbToI420Filter)});
  const GraphRun rgb = RunChain({PatternSource(GetParam(), w, h, "bars"), Converter(CLSID_RgbToI420Filter),
                            Converter(CLSID_I420ToRgbFilter)});
  ASSERT_EQ(source.samples.size(), 3u);
  ASSERT_EQ(yuv.samples.size(), 3u);
  ASSERT_EQ(rgb.samples.size(), 3u);

  EXPECT_EQ(*yuv.type.Subtype(), MEDIASUBTYPE_I420);
  VIDEOINFOHEADER vih = VideoInfo(yuv.type);
  EXPECT_EQ(vih.bmiHeader.biHeight, h);
  EXPECT_EQ(vih.bmiHeader.biSizeImage, 8100u);
  EXPECT_EQ(yuv.type.GetSampleSize(), 8100u);
  EXPECT_EQ(*rgb.type.Subtype(), MEDIASUBTYPE_RGB24);
  vih = VideoInfo(rgb.type);
  EXPECT_EQ(vih.bmiHeader.biHeight, h);  // "invert" true: bottom-up, as the source
  EXPECT_EQ(vih.bmiHeader.biSizeImage, static_cast<DWORD>(rgbStride * h));
  EXPECT_EQ(rgb.type.GetSampleSize(), static_cast<ULONG>(rgbStride * h));

  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const Bytes& frame = source.samples[i].bytes;
    ASSERT_EQ(frame.size(), static_cast<size_t>(srcStride * h));
    const Bytes expectedYuv = ReferenceI420(frame, w, h, Bpp(), srcStride, true, 128);
    EXPECT_EQ(colourtest::FirstDifference(yuv.samples[i].bytes, expectedYuv), -1);
    // The top picture row (the frame counter's row) is the last row in memory of the bottom-up
    // source and the first row of the Y plane.
    for (int x = 0; x < w; ++x)
      ASSERT_EQ(yuv.samples[i].bytes[x], Luma(frame.data() + (h - 1) * srcStride + x * Bpp())) << x;
    EXPECT_EQ(colourtest::FirstDifference(rgb.samples[i].bytes, ReferenceRgb24(expectedYuv, w, h, true, 128, rgbStride)),
              -1);
    EXPECT_EQ(rgb.samples[i].info.tStart, source.samples[i].info.tStart);
    EXPECT_EQ(rgb.samples[i].info.tStop, source.samples[i].info.tStop);
  }
}

TEST_P(ColourPipeline, UnsaturatedSolidColoursComeBackWithinTwoLevels) {
  const int w = 34, h = 10;
  for (const char* colour : {"0080FF", "C86432", "3C78B4", "808080", "10F0A0"}) {
    SCOPED_TRACE(colour);
    const GraphRun rgb = RunChain({PatternSource(GetParam(), w, h, "solid", colour), Converter(CLSID_RgbToI420Filter),
                              Converter(CLSID_I420ToRgbFilter)});
    ASSERT_EQ(rgb.samples.size(), 3u);
    const int want[3] = {std::stoi(std::string(colour + 4, 2), nullptr, 16),
                         std::stoi(std::string(colour + 2, 2), nullptr, 16),
                         std::stoi(std::string(colour, 2), nullptr, 16)};
    const long stride = BitmapStride(w, 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) {
          const int got = rgb.samples[0].bytes[y * stride + x * 3 + c];
          ASSERT_LE(std::abs(got - want[c]), 2) << "pixel " << x << "," << y << " channel " << c;
        }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, ColourPipeline, testing::Values("RGB24", "RGB32"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

// A top-down picture pushed by the test through a real graph (RgbToI420Filter reads it top down);
// I420ToRgbFilter writes the rows top down or bottom up as "invert" says.
struct TopDownCase {
  const GUID* subtype;
  bool invertOutput;
};

void PrintTo(const TopDownCase& c, std::ostream* os) {
  *os << (*c.subtype == MEDIASUBTYPE_RGB32 ? "RGB32" : "RGB24") << (c.invertOutput ? " to bottom-up" : " to top-down");
}

class TopDownPipeline : public testing::TestWithParam<TopDownCase> {};

TEST_P(TopDownPipeline, RowOrderFollowsTheSignsOfTheHeights) {
  const GUID& subtype = *GetParam().subtype;
  const bool invert = GetParam().invertOutput;
  const int bpp = subtype == MEDIASUBTYPE_RGB32 ? 4 : 3, w = 38, h = 20;
  const long stride = BitmapStride(w, bpp), rgbStride = BitmapStride(w, 3);
  const Bytes frame = RandomBytes(static_cast<size_t>(stride) * h, 5);

  auto push = plenor::test::PushSource::Create({.offeredTypes = {RgbType(subtype, w, -h)}, .bufferSize = 4096});
  ComPtr<IBaseFilter> forward = Converter(CLSID_RgbToI420Filter), back = Converter(CLSID_I420ToRgbFilter);
  ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
  ASSERT_EQ(Set(back.Get(), "invert", invert ? "true" : "false"), S_OK);
  Graph graph;
  for (IBaseFilter* f : {static_cast<IBaseFilter*>(push.Get()), forward.Get(), back.Get(), grabber.Get()})
    ASSERT_EQ(graph.Add(f), S_OK);
  ASSERT_EQ(graph.ConnectChain(), S_OK);
  EXPECT_EQ(Get(forward.Get(), "invert"), "0");
  AM_MEDIA_TYPE connected = GrabberType(grabber.Get());
  EXPECT_EQ(VideoInfo(connected).bmiHeader.biHeight, invert ? h : -h);
  FreeMediaType(connected);

  ComPtr<IMediaControl> control = graph.builder.As<IMediaControl>();
  ASSERT_EQ(control->Run(), S_OK);
  ASSERT_EQ(push->PushBytes(frame, 0, 400000), S_OK);
  ASSERT_EQ(push->EndOfStream(), S_OK);
  LONG code = 0;
  EXPECT_EQ(graph.builder.As<IMediaEventEx>()->WaitForCompletion(10000, &code), S_OK);
  control->Stop();
  const std::vector<Grabbed> got = ReadGrabber(grabber.Get());
  ASSERT_EQ(got.size(), 1u);
  const Bytes expected = ReferenceRgb24(ReferenceI420(frame, w, h, bpp, stride, false, 128), w, h, invert, 128, rgbStride);
  EXPECT_EQ(colourtest::FirstDifference(got[0].bytes, expected), -1);

}

INSTANTIATE_TEST_SUITE_P(Formats, TopDownPipeline,
                         testing::Values(TopDownCase{&MEDIASUBTYPE_RGB24, true}, TopDownCase{&MEDIASUBTYPE_RGB24, false},
                                         TopDownCase{&MEDIASUBTYPE_RGB32, true},
                                         TopDownCase{&MEDIASUBTYPE_RGB32, false}),
                         [](const testing::TestParamInfo<TopDownCase>& info) {
                           return std::string(*info.param.subtype == MEDIASUBTYPE_RGB32 ? "RGB32" : "RGB24") +
                                  (info.param.invertOutput ? "ToBottomUp" : "ToTopDown");
                         });

// A sample shorter than a frame, in a real graph whose host routes the filter's status
// notifications to the graph's event queue: the push fails, the last error names the sizes and
// the application sees EC_USER + 13.
TEST(ColourPipelineFailures, ShortSampleIsReportedToTheApplication) {
  const int w = 16, h = 8;
  auto push = plenor::test::PushSource::Create({.offeredTypes = {RgbType(MEDIASUBTYPE_RGB24, w, h)}, .bufferSize = 1024});
  ComPtr<IBaseFilter> forward = Converter(CLSID_RgbToI420Filter);
  ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
  Graph graph;
  for (IBaseFilter* f : {static_cast<IBaseFilter*>(push.Get()), forward.Get(), grabber.Get()})
    ASSERT_EQ(graph.Add(f), S_OK);
  ASSERT_EQ(graph.ConnectChain(), S_OK);
  ComPtr<IStatusInterface> status = forward.As<IStatusInterface>();
  ASSERT_EQ(status->SetEventSink(graph.builder.As<IMediaEventSink>().Get()), S_OK);
  ASSERT_EQ(status->SetNotificationId(42), S_OK);

  ASSERT_EQ(graph.builder.As<IMediaControl>()->Run(), S_OK);
  EXPECT_LT(push->PushBytes(Bytes(w * h * 3 - 10, 7), 0, 1), 0);
  graph.builder.As<IMediaControl>()->Stop();
  status->SetEventSink(nullptr);
  EXPECT_NE(LastError(forward.Get()).find("374 bytes"), std::string::npos) << LastError(forward.Get());
  bool notified = false;
  for (const auto& [code, param] : graph.Events()) notified |= code == EC_USER + 13 && param == 42;
  EXPECT_TRUE(notified);
  EXPECT_TRUE(ReadGrabber(grabber.Get()).empty());
}

}  // namespace

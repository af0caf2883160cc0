// The raw YUV source as a host uses it: registered modules, graph manager, a sample grabber; every
// frame's bytes and times, end of stream after the last whole frame, and replay after Stop.
#include <gtest/gtest.h>

#include "platform/com/registry.h"
#include "platform/com/runtime.h"
#include "platform/graph/mapper.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"
#include "sources/rawframe/rawframesource.h"
#include "tests/sources/rawframe_support.h"

using namespace rawtest;

namespace {

// Every sample is the file's frame n with the times n x duration ... (n + 1) x duration.
void ExpectFrames(const std::vector<Grabbed>& samples, const std::vector<BYTE>& file,
                  size_t frameSize, size_t count, REFERENCE_TIME duration) {
  ASSERT_EQ(samples.size(), count);
  for (size_t n = 0; n < count; ++n) {
    SCOPED_TRACE("frame " + std::to_string(n));
    EXPECT_TRUE(samples[n].data == FrameOf(file, frameSize, static_cast<long long>(n)));
    EXPECT_TRUE(samples[n].timeValid);
    EXPECT_EQ(samples[n].start, static_cast<REFERENCE_TIME>(n) * duration);
    EXPECT_EQ(samples[n].stop, static_cast<REFERENCE_TIME>(n + 1) * duration);
    EXPECT_TRUE(samples[n].sync);
  }
}

TEST(RawFramePipeline, RegistrationNamesTheFilterItsOutputPinAndItsPage) {
  RegisterModules();
  EXPECT_EQ(RegisteredClassName(CLSID_RawFrameSource), "Ravik Plenor YUV Source");
  EXPECT_EQ(RegisteredClassName(CLSID_YuvProperties), "YUV Source Filter Properties");
  RegisteredFilter entry;
  ASSERT_EQ(MapperGetFilter(CLSID_RawFrameSource, &entry), S_OK);
  EXPECT_EQ(entry.name, L"Ravik Plenor YUV Source");
  EXPECT_EQ(entry.merit, 0x200000u);
  ASSERT_EQ(entry.pins.size(), 1u);
  const RegisteredPin& pin = entry.pins[0];
  EXPECT_EQ(pin.name, L"Output");
  EXPECT_TRUE(pin.output);
  EXPECT_FALSE(pin.rendered || pin.zero || pin.many);
  ASSERT_EQ(pin.mediaTypes.size(), 1u);
  EXPECT_EQ(pin.mediaTypes[0].majorType, MEDIATYPE_Video);
  EXPECT_EQ(pin.mediaTypes[0].subType, MEDIASUBTYPE_I420);

  // The filter's pin is "Out"; its page is the one registered.
  ComPtr<IBaseFilter> filter = CreateRawFrameSource();
  ASSERT_TRUE(filter);
  ComPtr<IPin> out;
  EXPECT_EQ(filter->FindPin(L"Out", &out), S_OK);
  CAUUID pages{};
  ASSERT_EQ(filter.As<ISpecifyPropertyPages>()->GetPages(&pages), S_OK);
  ASSERT_EQ(pages.cElems, 1u);
  EXPECT_EQ(pages.pElems[0], CLSID_YuvProperties);
  CoTaskMemFree(pages.pElems);
}

TEST(RawFramePipeline, QcifFilePlaysEveryWholeFrameAndAgainAfterStop) {
  TempDir dir;
  const std::string path = dir.File("foreman_qcif.yuv");
  constexpr size_t kFrame = 176 * 144 * 3 / 2;  // 38016
  // Seven whole frames and the start of an eighth, which is never delivered.
  const std::vector<BYTE> file = WriteYuvFile(path, kFrame, 7, kFrame / 2);

  ComPtr<IBaseFilter> filter = CreateRawFrameSource();
  ASSERT_TRUE(filter);
  ASSERT_EQ(LoadFile(filter.Get(), path), S_OK);
  ASSERT_EQ(SetParam(filter.Get(), "fps", "25"), S_OK);
  EXPECT_EQ(GetParam(filter.Get(), "yuv_format"), "0");
  // "qcif" does not rewrite "sourcedimensions".
  EXPECT_EQ(GetParam(filter.Get(), "sourcedimensions"), "352x288");

  Pipeline p(filter);
  ASSERT_EQ(p.connected, S_OK);
  CMediaType mt;
  ASSERT_EQ(p.ConnectionType(&mt), S_OK);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_I420);
  EXPECT_EQ(Vih(mt).bmiHeader.biWidth, 176);
  EXPECT_EQ(Vih(mt).bmiHeader.biHeight, 144);
  EXPECT_EQ(Vih(mt).bmiHeader.biSizeImage, kFrame);
  EXPECT_EQ(Vih(mt).AvgTimePerFrame, 400000);

  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    p.Clear();
    EXPECT_EQ(p.RunToEnd(), EC_COMPLETE);
    EXPECT_EQ(p.EndOfStreams(), 1);
    ExpectFrames(p.Samples(), file, kFrame, 7, 400000);
    // Stopping rewinds: the next run starts again at frame 0.
    ASSERT_EQ(p.Stop(), S_OK);
  }
}

TEST(RawFramePipeline, Clip444PlaysAyuvFramesUnchanged) {
  TempDir dir;
  const std::string path = dir.File("clip_1280x720_444.yuv");
  constexpr size_t kFrame = 1280 * 720 * 4;  // 3686400
  const std::vector<BYTE> file = WriteYuvFile(path, kFrame, 3, 17);

  ComPtr<IBaseFilter> filter = CreateRawFrameSource();
  ASSERT_TRUE(filter);
  ASSERT_EQ(LoadFile(filter.Get(), path), S_OK);
  EXPECT_EQ(GetParam(filter.Get(), "yuv_format"), "1");
  EXPECT_EQ(GetParam(filter.Get(), "sourcedimensions"), "1280x720");

  Pipeline p(filter);
  ASSERT_EQ(p.connected, S_OK);
  CMediaType mt;
  ASSERT_EQ(p.ConnectionType(&mt), S_OK);
  EXPECT_EQ(mt.majortype, MEDIATYPE_Video);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_AYUV);
  EXPECT_EQ(mt.lSampleSize, kFrame);
  const BITMAPINFOHEADER& bmi = Vih(mt).bmiHeader;
  EXPECT_EQ(bmi.biCompression, MAKEFOURCC('A', 'Y', 'U', 'V'));
  EXPECT_EQ(bmi.biBitCount, 32);
  EXPECT_EQ(bmi.biSizeImage, kFrame);
  EXPECT_EQ(Vih(mt).AvgTimePerFrame, 333333);

  EXPECT_EQ(p.RunToEnd(), EC_COMPLETE);
  ExpectFrames(p.Samples(), file, kFrame, 3, 333333);
  ASSERT_EQ(p.Stop(), S_OK);
}

TEST(RawFramePipeline, NoWholeFrameEndsTheStreamAtOnce) {
  TempDir dir;
  const std::string path = dir.File("short_qcif.yuv");
  WriteYuvFile(path, 176 * 144 * 3 / 2, 0, 38015);

  for (bool load : {false, true}) {
    SCOPED_TRACE(load ? "38015 bytes" : "no file");
    ComPtr<IBaseFilter> filter = CreateRawFrameSource();
    ASSERT_TRUE(filter);
    if (load) {
      ASSERT_EQ(LoadFile(filter.Get(), path), S_OK);
    }
    Pipeline p(filter);
    ASSERT_EQ(p.connected, S_OK);
    EXPECT_EQ(p.RunToEnd(), EC_COMPLETE);
    EXPECT_EQ(p.SampleCount(), 0u);
    EXPECT_EQ(p.EndOfStreams(), 1);
  }
}

}  // namespace

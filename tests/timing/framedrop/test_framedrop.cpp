// FrameDropFilter from its module: whole graphs through the graph manager, the two modes frame by
// frame with pushed samples, the announced frame rate and the accepted types.
#include <gtest/gtest.h>

#include "framework/guids.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/uuids.h"
#include "tests/timing/support_timing.h"
#include "timing/framedrop/framedrop.h"

using namespace timingtest;

namespace {

constexpr REFERENCE_TIME kFrame30 = 333333;

// Runs a chain in pattern mode with the two rates and pushes frames 0..count-1; the frames that
// reached the sink.
struct PatternRun {
  PatternRun(const std::string& source, const std::string& target, int count = 12) : chain(CLSID_FrameDropFilter) {
    EXPECT_EQ(chain.outputConnect, S_OK);
    EXPECT_EQ(SetParam(chain.filter.Get(), "source_framerate", source), S_OK);
    EXPECT_EQ(SetParam(chain.filter.Get(), "target_framerate", target), S_OK);
    this->count = count;
  }
  std::vector<int> Run() {
    EXPECT_EQ(chain.host.control->Run(), S_OK);
    for (int i = 0; i < count; ++i) EXPECT_EQ(chain.PushFrame(i), S_OK);
    return chain.Frames();
  }
  PushChain chain;
  int count;
};

std::vector<int> Without(int count, std::initializer_list<int> cyclePositions, int cycle) {
  std::vector<int> frames;
  for (int i = 0; i < count; ++i) {
    bool dropped = false;
    for (int p : cyclePositions) dropped = dropped || i % cycle == p;
    if (!dropped) frames.push_back(i);
  }
  return frames;
}

std::vector<int> AllFrames(int count) { return Without(count, {}, 1); }

}  // namespace

// The test pattern source's stamp of frame n at num/den frames per second (rounded to 100 ns).
REFERENCE_TIME PatternStamp(int n, long long num, long long den) { return (n * 10000000LL * den * 2 + num) / (num * 2); }

// 300 frames at 30 fps, asked for 20 fps: every third frame goes, the others keep their own times,
// and the downstream filter is told the lowered rate.
TEST(FrameDropGraph, ThirtyToTwentyPassesTwoHundredOfThreeHundredFrames) {
  PatternChain chain(CLSID_FrameDropFilter, "30", 300, {{"source_framerate", "30"}, {"target_framerate", "20"}});
  AM_MEDIA_TYPE in{};
  ASSERT_EQ(PinOf(chain.filter.Get(), 0)->ConnectionMediaType(&in), S_OK);
  EXPECT_EQ(AvgTimePerFrame(in), kFrame30);
  FreeMediaType(in);
  EXPECT_EQ(chain.GrabbedFrameDuration(), static_cast<REFERENCE_TIME>(kFrame30 * 1.5));

  for (int run = 0; run < 2; ++run) {
    std::vector<GRABBED_SAMPLE_INFO> got = chain.RunToEnd();
    ASSERT_EQ(got.size(), 200u) << "run " << run;
    for (size_t k = 0; k < got.size(); ++k) {
      const int frame = static_cast<int>(k / 2 * 3 + k % 2);  // 0 1 3 4 6 7 ...
      ASSERT_TRUE(got[k].bTimeValid && got[k].bStopValid) << k;
      EXPECT_EQ(got[k].tStart, PatternStamp(frame, 30, 1)) << k;
      EXPECT_EQ(got[k].tStop, PatternStamp(frame + 1, 30, 1)) << k;
      EXPECT_EQ(got[k].tMediaStart, frame) << k;
    }
    EXPECT_EQ(GetParam(chain.filter.Get(), "skip_frame"), "1");
    EXPECT_EQ(GetParam(chain.filter.Get(), "total_frames"), "3");
    // Stopping rewinds the source and the pattern: the second run drops the same frames.
    ASSERT_EQ(chain.host.control->Stop(), S_OK);
  }
}

// Frames every 333,333 units from 0 at target 10 fps: frame 3, at 999,999 units, does not lie
// beyond the first deadline of 0.1 s.
TEST(FrameDropGraph, TimeStampModeAtTenFpsPassesFramesZeroFourSevenTen) {
  PatternChain chain(CLSID_FrameDropFilter, "10000000/333333", 30, {{"mode", "1"}, {"target_framerate", "10"}});
  std::vector<REFERENCE_TIME> frames;
  for (const GRABBED_SAMPLE_INFO& info : chain.RunToEnd()) {
    EXPECT_EQ(info.tStart % kFrame30, 0);
    frames.push_back(info.tStart / kFrame30);
  }
  EXPECT_EQ(frames, (std::vector<REFERENCE_TIME>{0, 4, 7, 10, 13, 16, 19, 22, 25, 28}));
  // The drops were reported once to the host.
  int qualityChanges = 0;
  for (LONG code : chain.host.EventCodes()) qualityChanges += code == EC_QUALITY_CHANGE;
  EXPECT_EQ(qualityChanges, 1);
}

TEST(FrameDropPattern, WorkedPatternsAndTheirParameters) {
  {
    PatternRun r("30", "20");
    EXPECT_EQ(r.Run(), Without(12, {2}, 3));  // 0 0 1
    EXPECT_EQ(GetParam(r.chain.filter.Get(), "skip_frame"), "1");
    EXPECT_EQ(GetParam(r.chain.filter.Get(), "total_frames"), "3");
  }
  {
    PatternRun r("25", "10", 15);
    EXPECT_EQ(r.Run(), Without(15, {1, 2, 4}, 5));  // 0 1 1 0 1
    EXPECT_EQ(GetParam(r.chain.filter.Get(), "skip_frame"), "3");
    EXPECT_EQ(GetParam(r.chain.filter.Get(), "total_frames"), "5");
  }
  {
    // 30 -> 15: (1, 2), the first of the tied pairs (1, 2), (2, 4), (3, 6).
    PatternRun r("30", "15");
    EXPECT_EQ(r.Run(), Without(12, {1}, 2));
    EXPECT_EQ(GetParam(r.chain.filter.Get(), "skip_frame"), "1");
    EXPECT_EQ(GetParam(r.chain.filter.Get(), "total_frames"), "2");
  }
}

TEST(FrameDropPattern, RatesThatNeedNoPatternPassEveryFrame) {
  {
    // All parameters at their defaults.
    PatternRun r("0", "0");
    EXPECT_EQ(r.Run(), AllFrames(12));
  }
  {
    // Target above the source rate: no pattern, and hand-typed values stay.
    PatternRun r("20", "30");
    ASSERT_EQ(SetParam(r.chain.filter.Get(), "skip_frame", "2"), S_OK);
    ASSERT_EQ(SetParam(r.chain.filter.Get(), "total_frames", "5"), S_OK);
    EXPECT_EQ(r.Run(), AllFrames(12));
    EXPECT_EQ(GetParam(r.chain.filter.Get(), "skip_frame"), "2");
    EXPECT_EQ(GetParam(r.chain.filter.Get(), "total_frames"), "5");
  }
  {
    // Rates closer than 0.0001: the pair becomes (0, 0) and nothing is dropped.
    PatternRun r("30", "29.99995");
    ASSERT_EQ(SetParam(r.chain.filter.Get(), "skip_frame", "1"), S_OK);
    ASSERT_EQ(SetParam(r.chain.filter.Get(), "total_frames", "2"), S_OK);
    EXPECT_EQ(r.Run(), AllFrames(12));
    EXPECT_EQ(GetParam(r.chain.filter.Get(), "skip_frame"), "0");
    EXPECT_EQ(GetParam(r.chain.filter.Get(), "total_frames"), "0");
  }
}

TEST(FrameDropPattern, StopRestartsThePatternAndOtherModesPassEverything) {
  PatternRun r("30", "20", 2);
  EXPECT_EQ(r.Run(), (std::vector<int>{0, 1}));
  // Without the reset the third frame of the next run would be the second of the cycle.
  ASSERT_EQ(r.chain.host.control->Stop(), S_OK);
  r.chain.sink->ClearRecords();
  r.count = 6;
  EXPECT_EQ(r.Run(), (std::vector<int>{0, 1, 3, 4}));

  ASSERT_EQ(r.chain.host.control->Stop(), S_OK);
  r.chain.sink->ClearRecords();
  ASSERT_EQ(SetParam(r.chain.filter.Get(), "mode", "2"), S_OK);
  EXPECT_EQ(r.Run(), AllFrames(6));
}

TEST(FrameDropTimeStamps, AFrameExactlyAtTheDeadlineIsDropped) {
  PushChain chain(CLSID_FrameDropFilter);
  ASSERT_EQ(chain.outputConnect, S_OK);
  ASSERT_EQ(SetParam(chain.filter.Get(), "mode", "1"), S_OK);
  ASSERT_EQ(SetParam(chain.filter.Get(), "target_framerate", "10"), S_OK);
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  // First frame at 0.5 s sets the deadline to 0.6 s.
  for (REFERENCE_TIME t : {5000000, 6000000, 6000001, 6500000, 7000000, 7000001, 9500000})
    EXPECT_EQ(chain.Push(t, t + 1), S_OK);
  // 0.7000001 moves the deadline to 0.8; a gap of several intervals skips to the next deadline
  // after the frame (0.95 -> 1.0).
  EXPECT_EQ(chain.Starts(), (std::vector<REFERENCE_TIME>{5000000, 6000001, 7000001, 9500000}));
  ASSERT_EQ(chain.Push(10000000, 10000001), S_OK);
  ASSERT_EQ(chain.Push(10000002, 10000003), S_OK);
  EXPECT_EQ(chain.Starts().back(), 10000002);
  EXPECT_EQ(chain.Starts().size(), 5u);

  // After Stop and a new Run the first frame passes again, whatever its time.
  ASSERT_EQ(chain.host.control->Stop(), S_OK);
  chain.sink->ClearRecords();
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  ASSERT_EQ(chain.Push(0, 1), S_OK);
  ASSERT_EQ(chain.Push(500000, 500001), S_OK);
  EXPECT_EQ(chain.Starts(), (std::vector<REFERENCE_TIME>{0}));
}

TEST(FrameDropTimeStamps, AFrameWithoutTimesFailsTheStream) {
  PushChain chain(CLSID_FrameDropFilter);
  ASSERT_EQ(chain.outputConnect, S_OK);
  ASSERT_EQ(SetParam(chain.filter.Get(), "mode", "1"), S_OK);
  ASSERT_EQ(SetParam(chain.filter.Get(), "target_framerate", "10"), S_OK);
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  EXPECT_EQ(chain.Push(std::nullopt, std::nullopt), VFW_E_SAMPLE_TIME_NOT_SET);
  EXPECT_EQ(chain.sink->SampleCount(), 0u);
  bool aborted = false;
  for (LONG code : chain.host.EventCodes()) aborted = aborted || code == EC_ERRORABORT;
  EXPECT_TRUE(aborted);

  // With target 0 the times are not read at all: the same frame passes.
  ASSERT_EQ(SetParam(chain.filter.Get(), "target_framerate", "0"), S_OK);
  EXPECT_EQ(chain.Push(std::nullopt, std::nullopt), S_OK);
  EXPECT_EQ(chain.sink->SampleCount(), 1u);
}

// The output pin announces the share of frames that pass with the parameters at connection time.
// A hand-typed pair (1, 2) is set in every case: Run replaces it with the rates' pair, so it must
// not change what is announced.
TEST(FrameDropOutputType, AnnouncedFrameDurationFollowsTheFramesThatPass) {
  struct Case {
    const char* mode;
    const char* source;
    const char* target;
    double factor;  // output AvgTimePerFrame / input AvgTimePerFrame
  };
  const Case cases[] = {
      {"0", "30", "20", 1.5},  // (1, 3): two of three pass
      {"0", "25", "10", 2.5},  // (3, 5): two of five pass
      {"0", "30", "15", 2.0},  // (1, 2)
      {"0", "20", "30", 1.0},  // target above source: nothing dropped
      {"0", "0", "0", 1.0},    // defaults
      {"1", "30", "10", 3.0},  // time-stamp mode: target of source
      {"1", "0", "10", 1.0},   // source rate unknown
      {"2", "30", "10", 1.0},  // passes everything
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("mode ") + c.mode + " " + c.source + " -> " + c.target);
    Host host;
    auto push = PushSource::Create({.offeredTypes = {VideoType(400000)}});
    auto filter = CreateFilter(CLSID_FrameDropFilter);
    auto sink = TestSink::Create({});
    host.Add(push.Get(), L"Push");
    host.Add(filter.Get(), L"Filter");
    host.Add(sink.Get(), L"Sink");
    ASSERT_EQ(SetParam(filter.Get(), "mode", c.mode), S_OK);
    ASSERT_EQ(SetParam(filter.Get(), "source_framerate", c.source), S_OK);
    ASSERT_EQ(SetParam(filter.Get(), "target_framerate", c.target), S_OK);
    ASSERT_EQ(SetParam(filter.Get(), "skip_frame", "1"), S_OK);
    ASSERT_EQ(SetParam(filter.Get(), "total_frames", "2"), S_OK);
    ASSERT_EQ(host.graph->Connect(push->OutputPin(), PinOf(filter.Get(), 0).Get()), S_OK);
    ASSERT_EQ(host.graph->Connect(PinOf(filter.Get(), 1).Get(), sink->InputPin()), S_OK);
    AM_MEDIA_TYPE in{}, out{};
    ASSERT_EQ(PinOf(filter.Get(), 0)->ConnectionMediaType(&in), S_OK);
    ASSERT_EQ(sink->InputPin()->ConnectionMediaType(&out), S_OK);
    EXPECT_EQ(AvgTimePerFrame(in), 400000);
    EXPECT_EQ(AvgTimePerFrame(out), static_cast<REFERENCE_TIME>(400000 * c.factor));
    FreeMediaType(in);
    FreeMediaType(out);
  }
}

TEST(FrameDropTypes, AcceptsOnlyRgbAndI420VideoInfo) {
  auto filter = CreateFilter(CLSID_FrameDropFilter);
  ComPtr<IPin> input = PinOf(filter.Get(), 0);
  for (const GUID* sub : {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_I420}) {
    CMediaType mt = VideoType(333333, *sub);
    EXPECT_EQ(input->QueryAccept(&mt), S_OK);
  }
  CMediaType yuy2 = VideoType();
  yuy2.SetSubtype(&MEDIASUBTYPE_YUY2);
  CMediaType info2 = VideoType();
  info2.SetFormatType(&FORMAT_VideoInfo2);
  CMediaType audio = VideoType();
  audio.SetType(&MEDIATYPE_Audio);
  for (const CMediaType* mt : {&yuy2, &info2, &audio}) EXPECT_NE(input->QueryAccept(mt), S_OK);

  // The refusal is what a connection attempt reports.
  Host host;
  auto push = PushSource::Create({.offeredTypes = {info2}});
  host.Add(push.Get(), L"Push");
  host.Add(filter.Get(), L"Filter");
  EXPECT_EQ(host.graph->ConnectDirect(push->OutputPin(), input.Get(), &info2), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(FrameDropInterfaces, SettingsAndOnePageButNoStatusOrPersistence) {
  auto filter = CreateFilter(CLSID_FrameDropFilter);
  ComPtr<IUnknown> unk;
  EXPECT_EQ(filter->QueryInterface(IID_IStatusInterface, unk.AsOut()), E_NOINTERFACE);
  EXPECT_EQ(filter->QueryInterface(IID_IPersistStream, unk.AsOut()), E_NOINTERFACE);
  ComPtr<ISpecifyPropertyPages> pages;
  ASSERT_EQ(filter->QueryInterface(IID_ISpecifyPropertyPages, pages.AsOut()), S_OK);
  EXPECT_EQ(pages->GetPages(nullptr), E_POINTER);
  CAUUID list{};
  ASSERT_EQ(pages->GetPages(&list), S_OK);
  ASSERT_EQ(list.cElems, 1u);
  EXPECT_EQ(list.pElems[0], CLSID_FrameSkippingProperties);
  CoTaskMemFree(list.pElems);

  // Five parameters with their defaults, in the settings listing's order.
  char text[1024];
  ComPtr<ISettingsInterface> settings = filter.As<ISettingsInterface>();
  ASSERT_EQ(settings->GetParameterSettings(text, sizeof text), S_OK);
  EXPECT_STREQ(text,
               "Parameter name: mode Value: 0\r\n"
               "Parameter name: skip_frame Value: 0\r\n"
               "Parameter name: total_frames Value: 0\r\n"
               "Parameter name: source_framerate Value: 0.00\r\n"
               "Parameter name: target_framerate Value: 0.00\r\n");
  EXPECT_EQ(SetParam(filter.Get(), "frame_rate", "1"), E_FAIL);
}

TEST(FrameDropFilter, ConnectsInTheTestHarnessGraphThatRecreatesItsConnections) {
  // The harness graph re-makes connections when the filter's types differ; a re-made connection
  // that asks for itself again used to recurse until the stack overflowed.
  auto graph = FakeGraph::Create();
  auto push = PushSource::Create({.offeredTypes = {VideoType(400000)}});
  auto filter = CreateFilter(CLSID_FrameDropFilter);
  auto sink = TestSink::Create({});
  ASSERT_EQ(SetParam(filter.Get(), "source_framerate", "30"), S_OK);
  ASSERT_EQ(SetParam(filter.Get(), "target_framerate", "20"), S_OK);
  ASSERT_EQ(graph->AddFilter(push.Get(), L"push"), S_OK);
  ASSERT_EQ(graph->AddFilter(filter.Get(), L"filter"), S_OK);
  ASSERT_EQ(graph->AddFilter(sink.Get(), L"sink"), S_OK);
  const CMediaType type = VideoType(400000);
  ASSERT_EQ(graph->Connect(push->OutputPin(), PinOf(filter.Get(), 0).Get(), &type), S_OK);
  EXPECT_TRUE(SUCCEEDED(graph->Connect(PinOf(filter.Get(), 1).Get(), sink->InputPin())));
  EXPECT_GE(graph->ReconnectCount(), 1);
  graph->TearDown();
}

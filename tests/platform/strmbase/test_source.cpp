// Push source: worker thread lifecycle, FillBuffer results, rewinding on stop, the single-type
// media type rules.
#include <gtest/gtest.h>

#include "platform/com/runtime.h"
#include "tests/platform/strmbase/support_filters.h"

using namespace plenor::test;

namespace {

constexpr DWORD kWait = 5000;

class SourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    type = MakeVideoType(MEDIASUBTYPE_RGB24, 4, 4, 24);
    graph = FakeGraph::Create();
  }
  void TearDown() override { graph->TearDown(); }

  void Build(SourceOptions o) {
    o.mediaType = type;
    source = TestSource::Create(o);
    sink = TestSink::Create({});
    graph->AddFilter(source.Get(), L"source");
    graph->AddFilter(sink.Get(), L"sink");
    ASSERT_EQ(S_OK, graph->Connect(source->OutputPin(), sink->InputPin()));
  }

  CMediaType type;
  ComPtr<FakeGraph> graph;
  ComPtr<TestSource> source;
  ComPtr<TestSink> sink;
};

TEST_F(SourceTest, PlaysEverySampleThenEndOfStream) {
  Build({.sampleCount = 5, .sampleSize = 48, .startTime = 100, .duration = 10});
  ASSERT_EQ(S_OK, graph->Run());
  ASSERT_TRUE(sink->WaitForEndOfStream(1, kWait));
  auto got = sink->Samples();
  ASSERT_EQ(5u, got.size());
  for (int i = 0; i < 5; i++) {
    EXPECT_EQ(PatternBytes(i, 48), got[static_cast<size_t>(i)].data);
    EXPECT_EQ(100 + 10 * i, got[static_cast<size_t>(i)].start);
    EXPECT_EQ(110 + 10 * i, got[static_cast<size_t>(i)].stop);
    EXPECT_NE(std::this_thread::get_id(), got[static_cast<size_t>(i)].thread);
  }
  EXPECT_TRUE(graph->WaitForEvent(EC_COMPLETE, 1, kWait));
  EXPECT_EQ(1, sink->EndOfStreamCount());
  EXPECT_EQ(0, graph->CountEvents(EC_ERRORABORT));
}

TEST_F(SourceTest, FirstFillReturningFalseEndsTheStreamAtOnce) {
  Build({.fill = [](int, IMediaSample*) { return S_FALSE; }});
  ASSERT_EQ(S_OK, graph->Pause());
  ASSERT_TRUE(sink->WaitForEndOfStream(1, kWait));
  EXPECT_EQ(0u, sink->SampleCount());
  EXPECT_EQ(1, source->FillCalls());
}

TEST_F(SourceTest, FillFailureAbortsWithTheCode) {
  Build({.sampleSize = 16, .fill = [](int n, IMediaSample* s) -> HRESULT {
           if (n == 2) return E_ACCESSDENIED;
           s->SetActualDataLength(16);
           return S_OK;
         }});
  ASSERT_EQ(S_OK, graph->Run());
  ASSERT_TRUE(graph->WaitForEvent(EC_ERRORABORT, 1, kWait));
  ASSERT_TRUE(sink->WaitForEndOfStream(1, kWait));
  EXPECT_EQ(2u, sink->SampleCount());
  for (auto& e : graph->Events()) {
    if (e.code == EC_ERRORABORT) {
      EXPECT_EQ(E_ACCESSDENIED, static_cast<HRESULT>(e.param1));
    }
  }
  EXPECT_EQ(3, source->FillCalls());
}

TEST_F(SourceTest, StopAfterEndOfStreamReplaysFromTheStart) {
  Build({.sampleCount = 3, .sampleSize = 8});
  ASSERT_EQ(S_OK, graph->Run());
  ASSERT_TRUE(sink->WaitForEndOfStream(1, kWait));
  ASSERT_EQ(S_OK, graph->Stop());
  sink->ClearRecords();
  ASSERT_EQ(S_OK, graph->Pause());
  ASSERT_TRUE(sink->WaitForEndOfStream(1, kWait));
  auto got = sink->Samples();
  ASSERT_EQ(3u, got.size());
  EXPECT_EQ(PatternBytes(0, 8), got[0].data);
  EXPECT_EQ(0, got[0].start);
  EXPECT_EQ(2, source->ThreadStarts());
}

TEST_F(SourceTest, DeliveryFailureStopsPushingWithoutEndOfStream) {
  Build({.sampleCount = -1, .sampleSize = 8});
  sink->SetReceiveResult(E_FAIL);
  ASSERT_EQ(S_OK, graph->Run());
  ASSERT_TRUE(sink->WaitForSamples(1, kWait));
  Sleep(50);
  EXPECT_EQ(1u, sink->SampleCount());
  EXPECT_EQ(0, sink->EndOfStreamCount());
  EXPECT_EQ(0, graph->CountEvents(EC_ERRORABORT));
  EXPECT_EQ(S_OK, graph->Stop());
}

TEST_F(SourceTest, UnconnectedPinNeverStartsItsThread) {
  SourceOptions o;
  o.mediaType = type;
  source = TestSource::Create(o);
  graph->AddFilter(source.Get(), L"source");
  ASSERT_EQ(S_OK, graph->Pause());
  ASSERT_EQ(S_OK, graph->Run());
  Sleep(20);
  ASSERT_EQ(S_OK, graph->Stop());
  EXPECT_EQ(0, source->ThreadStarts());
  EXPECT_EQ(0, source->FillCalls());
  EXPECT_FALSE(source->Stream()->ThreadExists());
}

TEST_F(SourceTest, ThreadLivesFromPauseToStop) {
  Build({.sampleCount = -1, .sampleSize = 8});
  EXPECT_FALSE(source->Stream()->ThreadExists());
  ASSERT_EQ(S_OK, graph->Pause());
  EXPECT_TRUE(source->Stream()->ThreadExists());
  ASSERT_TRUE(sink->WaitForSamples(3, kWait));
  ASSERT_EQ(S_OK, graph->Run());
  ASSERT_EQ(S_OK, graph->Stop());
  EXPECT_FALSE(source->Stream()->ThreadExists());
  EXPECT_EQ(1, source->ThreadStarts());
}

TEST_F(SourceTest, OffersAndAcceptsExactlyItsOneType) {
  Build({});
  CSourceStream* pin = source->Stream();
  CMediaType mt;
  EXPECT_EQ(E_INVALIDARG, pin->GetMediaType(-1, &mt));
  EXPECT_EQ(S_OK, pin->GetMediaType(0, &mt));
  EXPECT_TRUE(mt == type);
  EXPECT_EQ(VFW_S_NO_MORE_ITEMS, pin->GetMediaType(1, &mt));
  EXPECT_EQ(S_OK, pin->CheckMediaType(&type));
  CMediaType differentFormat = MakeVideoType(MEDIASUBTYPE_RGB24, 8, 4, 24);
  EXPECT_NE(S_OK, pin->CheckMediaType(&differentFormat));
  EXPECT_EQ(S_OK, source->OutputPin()->QueryAccept(&type));
  EXPECT_EQ(S_FALSE, source->OutputPin()->QueryAccept(&differentFormat));
}

TEST_F(SourceTest, PinsJoinAndLeaveTheFilter) {
  SourceOptions o;
  o.mediaType = type;
  source = TestSource::Create(o);
  EXPECT_EQ(1, source->GetPinCount());
  EXPECT_EQ(0, source->FindPinNumber(source->OutputPin()));
  ComPtr<IPin> found;
  EXPECT_EQ(S_OK, source->FindPin(L"Out", &found));
  EXPECT_EQ(source->OutputPin(), found.Get());
  EXPECT_EQ(VFW_E_NOT_FOUND, source->FindPin(L"In", &found));
  EXPECT_EQ(nullptr, found.Get());
}

TEST_F(SourceTest, TransformFailureStopsTheSourceAndAbortsTheGraph) {
  CMediaType out = MakeVideoType(MEDIASUBTYPE_RGB32, 4, 4, 32);
  source = TestSource::Create({.mediaType = type, .sampleCount = -1, .sampleSize = 48});
  auto xf = RecordingTransform::Create();
  xf->m_inputTypes = {type};
  xf->m_outputTypes = {out};
  xf->m_acceptedOutputs = {out};
  xf->m_script = [](int n, IMediaSample*, IMediaSample* o) -> HRESULT {
    o->SetActualDataLength(0);
    return n == 2 ? E_UNEXPECTED : S_OK;
  };
  sink = TestSink::Create({});
  graph->AddFilter(source.Get(), L"source");
  graph->AddFilter(xf.Get(), L"xf");
  graph->AddFilter(sink.Get(), L"sink");
  ASSERT_EQ(S_OK, graph->Connect(source->OutputPin(), PinOf(xf.Get(), 0).Get()));
  ASSERT_EQ(S_OK, graph->Connect(PinOf(xf.Get(), 1).Get(), sink->InputPin()));
  ASSERT_EQ(S_OK, graph->Run());
  ASSERT_TRUE(graph->WaitForEvent(EC_ERRORABORT, 1, kWait));
  Sleep(30);
  // The source stopped pushing after the failed delivery.
  EXPECT_EQ(3, source->FillCalls());
  EXPECT_EQ(2u, sink->SampleCount());
  EXPECT_EQ(E_UNEXPECTED, static_cast<HRESULT>(graph->Events().back().param1));
  ASSERT_EQ(S_OK, graph->Stop());
}

}  // namespace

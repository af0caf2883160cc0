// Streaming under threads: stopping a graph that streams at full speed, many times over, for copy
// and in-place transforms; the output queue's thread decision and ordering.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/com/runtime.h"
#include "platform/strmbase/outputq.h"
#include "tests/platform/strmbase/support_filters.h"

using namespace plenor::test;

namespace {

constexpr DWORD kWait = 5000;

TEST(StreamingThreads, CopyTransformStopsWhileStreamingAtFullSpeed) {
  CMediaType in = MakeVideoType(MEDIASUBTYPE_RGB24, 8, 8, 24);
  CMediaType out = MakeVideoType(MEDIASUBTYPE_RGB32, 8, 8, 32);
  auto graph = FakeGraph::Create();
  auto source = TestSource::Create({.mediaType = in, .sampleCount = -1, .sampleSize = 192, .bufferCount = 3});
  auto xf = RecordingTransform::Create();
  xf->m_inputTypes = {in};
  xf->m_outputTypes = {out};
  xf->m_acceptedOutputs = {out};
  xf->m_outputBufferSize = 256;
  auto sink = TestSink::Create({});
  graph->AddFilter(source.Get(), L"source");
  graph->AddFilter(xf.Get(), L"xf");
  graph->AddFilter(sink.Get(), L"sink");
  ASSERT_EQ(S_OK, graph->Connect(source->OutputPin(), PinOf(xf.Get(), 0).Get()));
  ASSERT_EQ(S_OK, graph->Connect(PinOf(xf.Get(), 1).Get(), sink->InputPin()));

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  int rounds = 0;
  for (; rounds < 300 && std::chrono::steady_clock::now() < deadline; rounds++) {
    sink->ClearRecords();
    ASSERT_EQ(S_OK, graph->Run());
    // Every few rounds let samples flow first; otherwise stop at once.
    if (rounds % 4 == 0) {
      ASSERT_TRUE(sink->WaitForSamples(2, kWait));
    }
    ASSERT_EQ(S_OK, graph->Stop());
    ASSERT_FALSE(source->Stream()->ThreadExists());
  }
  EXPECT_GE(rounds, 50);
  // Each run rewound the source: the first sample of the last waited-for run is sample 0.
  sink->ClearRecords();
  ASSERT_EQ(S_OK, graph->Run());
  ASSERT_TRUE(sink->WaitForSamples(1, kWait));
  ASSERT_EQ(S_OK, graph->Stop());
  auto got = sink->Samples();
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(Inverted(PatternBytes(0, 192)), got[0].data);
  EXPECT_EQ(0, graph->CountEvents(EC_ERRORABORT));
  graph->TearDown();
}

TEST(StreamingThreads, InPlaceTransformStopsWhileStreamingAtFullSpeed) {
  CMediaType type = MakeVideoType(MEDIASUBTYPE_RGB24, 8, 8, 24);
  auto graph = FakeGraph::Create();
  auto source = TestSource::Create({.mediaType = type, .sampleCount = -1, .sampleSize = 192});
  auto tip = RecordingInPlace::Create();
  // Copy between allocators so both buffer pools are exercised.
  auto sink = TestSink::Create({.refuseForeignAllocator = true});
  graph->AddFilter(source.Get(), L"source");
  graph->AddFilter(tip.Get(), L"tip");
  graph->AddFilter(sink.Get(), L"sink");
  ASSERT_EQ(S_OK, graph->Connect(source->OutputPin(), PinOf(tip.Get(), 0).Get()));
  ASSERT_EQ(S_OK, graph->Connect(PinOf(tip.Get(), 1).Get(), sink->InputPin()));

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  int rounds = 0;
  for (; rounds < 300 && std::chrono::steady_clock::now() < deadline; rounds++) {
    ASSERT_EQ(S_OK, rounds % 2 ? graph->Pause() : graph->Run());
    if (rounds % 5 == 0) {
      ASSERT_TRUE(sink->WaitForSamples(sink->SampleCount() + 1, kWait));
    }
    ASSERT_EQ(S_OK, graph->Stop());
  }
  EXPECT_GE(rounds, 50);
  graph->TearDown();
}

TEST(StreamingThreads, StopUnblocksADownstreamThatHoldsTheStream) {
  CMediaType type = MakeVideoType(MEDIASUBTYPE_RGB24, 4, 4, 24);
  auto graph = FakeGraph::Create();
  auto source = TestSource::Create({.mediaType = type, .sampleCount = -1, .sampleSize = 48});
  auto tip = RecordingInPlace::Create();
  auto sink = TestSink::Create({});
  graph->AddFilter(source.Get(), L"source");
  graph->AddFilter(tip.Get(), L"tip");
  graph->AddFilter(sink.Get(), L"sink");
  ASSERT_EQ(S_OK, graph->Connect(source->OutputPin(), PinOf(tip.Get(), 0).Get()));
  ASSERT_EQ(S_OK, graph->Connect(PinOf(tip.Get(), 1).Get(), sink->InputPin()));
  for (int i = 0; i < 20; i++) {
    sink->SetBlocking(true);
    ASSERT_EQ(S_OK, graph->Run());
    // Wait until the source thread sits inside the sink's Receive (under the in-place filter's
    // receive lock), then stop.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (sink->BlockedReceives() == 0 && std::chrono::steady_clock::now() < until) Sleep(1);
    ASSERT_EQ(1, sink->BlockedReceives());
    ASSERT_EQ(S_OK, graph->Stop());
    EXPECT_FALSE(source->Stream()->ThreadExists());
    sink->SetBlocking(false);
  }
  graph->TearDown();
}

// ---- Output queue ----

class OutputQueueThreads : public ::testing::Test {
 protected:
  void Build(bool canBlock) {
    type = MakeSimpleType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
    graph = FakeGraph::Create();
    push = PushSource::Create({.offeredTypes = {type}, .bufferCount = 8, .bufferSize = 64});
    sink = TestSink::Create({.receiveCanBlock = canBlock});
    graph->AddFilter(push.Get(), L"push");
    graph->AddFilter(sink.Get(), L"sink");
    ASSERT_EQ(S_OK, graph->Connect(push->OutputPin(), sink->InputPin(), &type));
    ASSERT_EQ(S_OK, graph->Run());
  }
  void TearDown() override {
    if (graph) graph->TearDown();
  }
  ComPtr<IMediaSample> Sample(int n) {
    IMediaSample* s = nullptr;
    EXPECT_EQ(S_OK, push->Pin()->GetDeliveryBuffer(&s, nullptr, nullptr, 0));
    BYTE* p = nullptr;
    s->GetPointer(&p);
    auto bytes = PatternBytes(n, 16);
    std::memcpy(p, bytes.data(), bytes.size());
    s->SetActualDataLength(16);
    REFERENCE_TIME t = n;
    s->SetTime(&t, nullptr);
    return ComPtr<IMediaSample>::Attach(s);
  }

  CMediaType type;
  ComPtr<FakeGraph> graph;
  ComPtr<PushSource> push;
  ComPtr<TestSink> sink;
};

TEST_F(OutputQueueThreads, NonBlockingPeerGetsSamplesOnTheCallersThread) {
  Build(false);
  HRESULT hr = S_OK;
  COutputQueue q(sink->InputPin(), &hr, TRUE, TRUE, 1, FALSE, 10);
  ASSERT_EQ(S_OK, hr);
  EXPECT_TRUE(q.IsSync());
  EXPECT_FALSE(q.HasThread());
  EXPECT_EQ(S_OK, q.Receive(Sample(0).Detach()));
  ASSERT_EQ(1u, sink->SampleCount());
  EXPECT_EQ(std::this_thread::get_id(), sink->Samples()[0].thread);
  q.EOS();
  EXPECT_EQ(1, sink->EndOfStreamCount());
  // A downstream failure is returned and remembered until reset.
  sink->SetReceiveResult(E_FAIL);
  EXPECT_EQ(E_FAIL, q.Receive(Sample(1).Detach()));
  sink->SetReceiveResult(S_OK);
  EXPECT_EQ(E_FAIL, q.Receive(Sample(2).Detach()));
  q.Reset();
  EXPECT_EQ(S_OK, q.Receive(Sample(3).Detach()));
}

TEST_F(OutputQueueThreads, BlockingPeerGetsItsOwnThreadInOrder) {
  Build(true);
  HRESULT hr = S_OK;
  {
    COutputQueue q(sink->InputPin(), &hr, TRUE, TRUE, 1, FALSE, 10);
    ASSERT_EQ(S_OK, hr);
    EXPECT_FALSE(q.IsSync());
    EXPECT_TRUE(q.HasThread());
    for (int i = 0; i < 6; i++) EXPECT_EQ(S_OK, q.Receive(Sample(i).Detach()));
    q.NewSegment(0, 100, 1.0);
    q.EOS();
    ASSERT_TRUE(sink->WaitForEndOfStream(1, kWait));
  }
  auto got = sink->Samples();
  ASSERT_EQ(6u, got.size());
  for (int i = 0; i < 6; i++) {
    EXPECT_EQ(PatternBytes(i, 16), got[static_cast<size_t>(i)].data);
    EXPECT_NE(std::this_thread::get_id(), got[static_cast<size_t>(i)].thread);
  }
  EXPECT_EQ(1, sink->NewSegmentCount());
}

TEST_F(OutputQueueThreads, FlushDropsQueuedSamplesAndDestructorWaits) {
  Build(true);
  sink->SetBlocking(true);
  HRESULT hr = S_OK;
  {
    COutputQueue q(sink->InputPin(), &hr, TRUE, TRUE, 1, FALSE, 10);
    ASSERT_EQ(S_OK, hr);
    for (int i = 0; i < 5; i++) EXPECT_EQ(S_OK, q.Receive(Sample(i).Detach()));
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (sink->BlockedReceives() == 0 && std::chrono::steady_clock::now() < until) Sleep(1);
    ASSERT_EQ(1, sink->BlockedReceives());
    // BeginFlush reaches the sink at once, which releases the blocked Receive.
    q.BeginFlush();
    q.EndFlush();
    EXPECT_TRUE(q.IsIdle());
    EXPECT_EQ(1, sink->BeginFlushCount());
    EXPECT_EQ(1, sink->EndFlushCount());
    sink->SetBlocking(false);
    EXPECT_EQ(S_OK, q.Receive(Sample(9).Detach()));
    ASSERT_TRUE(sink->WaitForSamples(1, kWait));
  }
  // Nothing queued before the flush was delivered; the sample after it was.
  auto got = sink->Samples();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(PatternBytes(9, 16), got[0].data);
  // Every sample went back to the pool.
  EXPECT_EQ(0, static_cast<CMemAllocator*>(push->Allocator())->OutstandingCount());
}

}  // namespace

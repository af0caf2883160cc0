// The Queue filter: samples pass in order, complete and uncopied on the queue's own thread; end
// of stream, flushes and Stop keep their order with the samples; upstream's allocator gets
// enough buffers; a graph started and stopped at full speed never deadlocks or leaks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <thread>

#include "platform/strmbase/transip.h"
#include "platform/strmbase/uuids.h"
#include "support_utilities.h"
#include "tests/support/harness.h"

using namespace utiltest;
using namespace plenor::test;

namespace {

CMediaType SmallVideo() { return MakeVideoType(MEDIASUBTYPE_RGB24, 8, 8, 24); }

// An in-place pass-through that notes the thread of every Receive.
class ThreadProbe : public CTransInPlaceFilter {
 public:
  ThreadProbe() : CTransInPlaceFilter(L"Thread probe", nullptr, GUID_NULL, nullptr, false) {}
  HRESULT CheckInputType(const CMediaType* pmt) override { return pmt ? S_OK : E_POINTER; }
  HRESULT Transform(IMediaSample*) override {
    std::lock_guard lock(m_lock);
    m_threads.insert(std::this_thread::get_id());
    return S_OK;
  }
  std::set<std::thread::id> Threads() {
    std::lock_guard lock(m_lock);
    return m_threads;
  }

 private:
  std::mutex m_lock;
  std::set<std::thread::id> m_threads;
};

// push -> Queue -> sink on a fake graph (stopped downstream first, as the graph manager does).
struct QueueChain {
  // maxBytes: the Queue's "max_bytes", or negative for its default.
  explicit QueueChain(unsigned maxSamples, const SinkOptions& sinkOptions = {}, LONG pushBuffers = 1, long long maxBytes = -1)
      : graph(FakeGraph::Create()), push(PushSource::Create({.offeredTypes = {SmallVideo()}, .bufferCount = pushBuffers})),
        queue(CreateFilter(CLSID_Queue)), sink(TestSink::Create(sinkOptions)) {
    if (!queue || Set(queue.Get(), "max_samples", std::to_string(maxSamples)) != S_OK) return;
    if (maxBytes >= 0 && Set(queue.Get(), "max_bytes", std::to_string(maxBytes)) != S_OK) return;
    graph->AddFilter(push.Get(), L"push");
    graph->AddFilter(queue.Get(), L"queue");
    graph->AddFilter(sink.Get(), L"sink");
    const CMediaType type = SmallVideo();
    connected = SUCCEEDED(graph->Connect(push->OutputPin(), PinOf(queue.Get(), 0).Get(), &type)) &&
                SUCCEEDED(graph->Connect(PinOf(queue.Get(), 1).Get(), sink->InputPin()));
  }
  ~QueueChain() {
    graph->Stop();
    graph->TearDown();
  }
  HRESULT PushFrame(int n) { return push->PushBytes(PatternBytes(n, 64), n * 10, n * 10 + 10); }

  ComPtr<FakeGraph> graph;
  ComPtr<PushSource> push;
  ComPtr<IBaseFilter> queue;
  ComPtr<TestSink> sink;
  bool connected = false;
};

// Every sample arrives once, in order, with its bytes and times, in the very buffer upstream
// filled, on a thread other than the pushing one; end of stream comes after the last sample.
// A slow downstream fills the list, so upstream is held back rather than samples dropped.
TEST(QueueThreads, SamplesPassInOrderCompleteAndUncopied) {
  struct Case {
    unsigned maxSamples;
    bool slowSink;
    LONG pushBuffers;
  };
  const Case cases[] = {{1, false, 1}, {3, false, 1}, {3, true, 2}, {16, true, 1}, {64, false, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "max_samples " << c.maxSamples << (c.slowSink ? " slow sink" : ""));
    QueueChain chain(c.maxSamples, {}, c.pushBuffers);
    ASSERT_TRUE(chain.connected);
    ALLOCATOR_PROPERTIES props{};
    ASSERT_EQ(chain.push->Allocator()->GetProperties(&props), S_OK);
    EXPECT_GE(props.cBuffers, static_cast<LONG>(c.maxSamples) + 1);
    EXPECT_GE(props.cBuffers, c.pushBuffers);

    std::atomic<bool> slowDone{false};
    std::thread slow;
    if (c.slowSink) {
      // Holds the sink back now and then so that the list runs full.
      slow = std::thread([&] {
        while (!slowDone) {
          chain.sink->SetBlocking(true);
          std::this_thread::sleep_for(std::chrono::microseconds(300));
          chain.sink->SetBlocking(false);
          std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
      });
    }
    ASSERT_EQ(chain.graph->Run(), S_OK);
    constexpr int kFrames = 300;
    std::vector<BYTE*> buffers;
    for (int n = 0; n < kFrames; ++n) {
      ASSERT_EQ(chain.PushFrame(n), S_OK) << n;
      buffers.push_back(chain.push->LastBuffer());
    }
    ASSERT_EQ(chain.push->EndOfStream(), S_OK);
    ASSERT_TRUE(chain.sink->WaitForEndOfStream(1, 10000));
    EXPECT_EQ(chain.sink->SampleCount(), static_cast<size_t>(kFrames));  // none after end of stream
    slowDone = true;
    if (slow.joinable()) slow.join();
    chain.sink->SetBlocking(false);

    std::vector<ReceivedSample> got = chain.sink->Samples();
    ASSERT_EQ(got.size(), static_cast<size_t>(kFrames));
    for (int n = 0; n < kFrames; ++n) {
      EXPECT_EQ(got[n].start, n * 10) << n;
      EXPECT_EQ(got[n].data, PatternBytes(n, 64)) << n;
      EXPECT_EQ(got[n].pointer, buffers[n]) << n;
      EXPECT_NE(got[n].thread, std::this_thread::get_id()) << n;
      EXPECT_EQ(got[n].thread, got[0].thread) << n;
    }
    EXPECT_EQ(chain.sink->EndOfStreamCount(), 1);
  }
}

// The list is bounded by samples and by payload bytes, whichever comes first, and always takes one
// sample; upstream's allocator gets one buffer more than the list can hold (for buffers of the
// negotiated 192 bytes).
TEST(QueueThreads, TheListHoldsWhatBothBoundsAllow) {
  struct Case {
    unsigned maxSamples, maxBytes;
    int held;        // samples of 64 bytes the list takes while downstream is blocked
    LONG buffers;    // allocator buffers for a one-buffer upstream
  };
  const Case cases[] = {{4, 0, 4, 5}, {4, 128, 2, 2}, {4, 10, 1, 2}, {2, 1000, 2, 3}, {3, 8u << 20, 3, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "max_samples " << c.maxSamples << " max_bytes " << c.maxBytes);
    {
      QueueChain chain(c.maxSamples, {}, 1, c.maxBytes);
      ASSERT_TRUE(chain.connected);
      ALLOCATOR_PROPERTIES props{};
      ASSERT_EQ(chain.push->Allocator()->GetProperties(&props), S_OK);
      EXPECT_EQ(props.cBuffers, c.buffers);
    }
    QueueChain chain(c.maxSamples, {}, 10, c.maxBytes);  // buffers to spare: pushes wait only for the list
    ASSERT_TRUE(chain.connected);
    ASSERT_EQ(chain.graph->Run(), S_OK);
    chain.sink->SetBlocking(true);
    ASSERT_EQ(chain.PushFrame(0), S_OK);  // taken by the delivery thread, which then blocks
    for (int i = 0; i < 100 && chain.sink->BlockedReceives() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(chain.sink->BlockedReceives(), 1);
    for (int n = 1; n <= c.held; ++n) ASSERT_EQ(chain.PushFrame(n), S_OK) << n;
    auto waiting = std::async(std::launch::async, [&] { return chain.PushFrame(99); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    chain.sink->SetBlocking(false);
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(waiting.get(), S_OK);
    ASSERT_EQ(chain.push->EndOfStream(), S_OK);
    ASSERT_TRUE(chain.sink->WaitForEndOfStream(1, 10000));
    EXPECT_EQ(chain.sink->SampleCount(), static_cast<size_t>(c.held) + 2);
  }
}

// The list full behind a blocked downstream: a flush drops what waits, returns the waiting
// Receive, reaches downstream, and afterwards only samples pushed after it arrive.
TEST(QueueThreads, FlushDropsWhatWaitsAndNothingFromBeforeItArrivesAfter) {
  constexpr unsigned kMax = 4;
  QueueChain chain(kMax, {}, 10);  // buffers to spare: the extra push waits for room in the list
  ASSERT_TRUE(chain.connected);
  ASSERT_EQ(chain.graph->Run(), S_OK);
  chain.sink->SetBlocking(true);
  ASSERT_EQ(chain.PushFrame(0), S_OK);
  for (int i = 0; i < 100 && chain.sink->BlockedReceives() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(chain.sink->BlockedReceives(), 1);
  for (int n = 1; n <= static_cast<int>(kMax); ++n) ASSERT_EQ(chain.PushFrame(n), S_OK) << n;
  // One more does not fit: it waits until the flush.
  auto waiting = std::async(std::launch::async, [&] { return chain.PushFrame(99); });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  ASSERT_EQ(chain.push->BeginFlush(), S_OK);
  ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(waiting.get(), S_FALSE);
  ASSERT_EQ(chain.push->EndFlush(), S_OK);
  EXPECT_EQ(chain.sink->BeginFlushCount(), 1);
  EXPECT_EQ(chain.sink->EndFlushCount(), 1);
  EXPECT_EQ(chain.sink->SampleCount(), 0u);

  chain.sink->SetBlocking(false);
  for (int n = 10; n < 20; ++n) ASSERT_EQ(chain.PushFrame(n), S_OK) << n;
  ASSERT_EQ(chain.push->EndOfStream(), S_OK);
  ASSERT_TRUE(chain.sink->WaitForEndOfStream(1, 10000));
  std::vector<ReceivedSample> got = chain.sink->Samples();
  ASSERT_EQ(got.size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(got[i].start, (10 + i) * 10) << i;
}

// Stop with the list full and upstream waiting returns at once, delivers nothing more, and a new
// run streams again from an empty list. A downstream refusal ends upstream's stream.
TEST(QueueThreads, StopAndDownstreamRefusalReachUpstream) {
  constexpr unsigned kMax = 3;
  QueueChain chain(kMax, {}, 10);  // buffers to spare: the extra push waits for room in the list
  ASSERT_TRUE(chain.connected);
  for (int run = 0; run < 3; ++run) {
    SCOPED_TRACE(run);
    chain.sink->ClearRecords();
    ASSERT_EQ(chain.graph->Run(), S_OK);
    chain.sink->SetBlocking(true);
    for (int n = 0; n <= static_cast<int>(kMax); ++n) ASSERT_EQ(chain.PushFrame(n), S_OK) << n;
    auto waiting = std::async(std::launch::async, [&] { return chain.PushFrame(50); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(30)), std::future_status::timeout);
    ASSERT_EQ(chain.graph->Stop(), S_OK);
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    // VFW_E_WRONG_STATE from the stopping queue, or S_FALSE when the sink (stopped first) refused
    // the sample in delivery before the queue stopped.
    const HRESULT hr = waiting.get();
    EXPECT_TRUE(hr == VFW_E_WRONG_STATE || hr == S_FALSE) << std::hex << hr;
    chain.sink->SetBlocking(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(chain.sink->SampleCount(), 0u);
  }

  // Downstream answers S_FALSE: upstream hears it at a later Receive and nothing queued after the
  // refusal is delivered.
  chain.sink->ClearRecords();
  chain.sink->SetReceiveResult(S_FALSE);
  ASSERT_EQ(chain.graph->Run(), S_OK);
  HRESULT hr = S_OK;
  int pushed = 0;
  for (; pushed < 1000 && hr == S_OK; ++pushed) hr = chain.PushFrame(pushed);
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_LE(pushed, static_cast<int>(kMax) + 3);
  EXPECT_EQ(chain.sink->SampleCount(), 1u);
}

// source -> probe -> Queue -> probe -> Queue -> sink: three stages on three threads.
TEST(QueueThreads, EachQueueStartsAThreadOfItsOwn) {
  auto graph = FakeGraph::Create();
  auto push = PushSource::Create({.offeredTypes = {SmallVideo()}});
  ComPtr<ThreadProbe> first = MakeObject<ThreadProbe>(), second = MakeObject<ThreadProbe>();
  ComPtr<IBaseFilter> q1 = CreateFilter(CLSID_Queue), q2 = CreateFilter(CLSID_Queue);
  auto sink = TestSink::Create({});
  std::vector<IBaseFilter*> chain = {push.Get(), first.Get(), q1.Get(), second.Get(), q2.Get(), sink.Get()};
  for (IBaseFilter* f : chain) ASSERT_EQ(graph->AddFilter(f, L"f"), S_OK);
  const CMediaType type = SmallVideo();
  for (size_t i = 0; i + 1 < chain.size(); ++i)
    ASSERT_EQ(graph->Connect(PinOf(chain[i], i == 0 ? 0 : 1).Get(), PinOf(chain[i + 1], 0).Get(), &type), S_OK) << i;
  ASSERT_EQ(graph->Run(), S_OK);
  for (int n = 0; n < 50; ++n) ASSERT_EQ(push->PushBytes(PatternBytes(n, 64), n, n + 1), S_OK);
  ASSERT_EQ(push->EndOfStream(), S_OK);
  ASSERT_TRUE(sink->WaitForEndOfStream(1, 10000));
  ASSERT_EQ(sink->SampleCount(), 50u);
  const std::set<std::thread::id> a = first->Threads(), b = second->Threads();
  ASSERT_EQ(a.size(), 1u);
  ASSERT_EQ(b.size(), 1u);
  std::set<std::thread::id> c;
  for (const ReceivedSample& s : sink->Samples()) c.insert(s.thread);
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(*a.begin(), std::this_thread::get_id());
  EXPECT_NE(*b.begin(), *a.begin());
  EXPECT_NE(*c.begin(), *a.begin());
  EXPECT_NE(*c.begin(), *b.begin());
  graph->Stop();
  graph->TearDown();
}

// Through the graph manager: an endless test pattern through a Queue, started and stopped 1000
// times as fast as the host can; every 100th run waits for samples to prove the stream flows.
TEST(QueueThreads, ThousandStartStopCyclesAtFullSpeed) {
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_TestPatternSource);
  ASSERT_EQ(Set(source.Get(), "frames", "0"), S_OK);
  ASSERT_EQ(Set(source.Get(), "width", "16"), S_OK);
  ASSERT_EQ(Set(source.Get(), "height", "16"), S_OK);
  ComPtr<IBaseFilter> queue = CreateFilter(CLSID_Queue);
  ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
  ASSERT_EQ(Set(grabber.Get(), "max_samples", "8"), S_OK);
  Graph g;
  ASSERT_EQ(g.Build({source.Get(), queue.Get(), grabber.Get()}), S_OK);
  ComPtr<IMediaControl> mc = g.builder.As<IMediaControl>();
  ComPtr<IPlenorSampleGrabber> recorded = grabber.As<IPlenorSampleGrabber>();
  for (int run = 0; run < 1000; ++run) {
    ASSERT_EQ(mc->Run(), S_OK) << run;
    if (run % 100 == 0) {
      ASSERT_EQ(recorded->WaitForSamples(4, 10000), S_OK) << run;
      std::vector<Grabbed> got = ReadGrabber(grabber.Get());
      for (size_t i = 1; i < got.size(); ++i) EXPECT_GT(got[i].info.tStart, got[i - 1].info.tStart) << run;
    }
    ASSERT_EQ(mc->Stop(), S_OK) << run;
  }
}

}  // namespace

// Streaming threads against the graph thread: stopping a graph that streams at full speed, over
// and over, and two upstream threads into one two-input filter.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/com/runtime.h"
#include "support_filters.h"

using namespace graphtest;

namespace {

// Fails the process instead of hanging when a test deadlocks.
class Watchdog {
 public:
  explicit Watchdog(int seconds) : m_thread([this, seconds] {
      std::unique_lock l(m_lock);
      if (!m_cond.wait_for(l, std::chrono::seconds(seconds), [this] { return m_done; })) {
        std::fprintf(stderr, "deadlock: the test did not finish within %d s\n", seconds);
        std::abort();
      }
    }) {}
  ~Watchdog() {
    {
      std::lock_guard l(m_lock);
      m_done = true;
    }
    m_cond.notify_all();
    m_thread.join();
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_cond;
  bool m_done = false;
  std::thread m_thread;
};

ComPtr<IGraphBuilder> NewGraph() {
  ComPtr<IGraphBuilder> g;
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, g.AsOut()), S_OK);
  return g;
}

TEST(GraphThreads, StoppingAGraphStreamingAtFullSpeedNeverDeadlocks) {
  Watchdog watchdog(240);
  ComPtr<IGraphBuilder> g = NewGraph();
  auto src = Make<FrameSource>(Opaque(MEDIASUBTYPE_None, 64), -1);
  auto copy = Make<CopyFilter>();
  auto pass = Make<PassFilter>();
  auto sink = Make<CountingRenderer>();
  g->AddFilter(src.Get(), L"Source");
  g->AddFilter(copy.Get(), L"Copy");
  g->AddFilter(pass.Get(), L"Pass");
  g->AddFilter(sink.Get(), L"Renderer");
  ASSERT_EQ(g->Connect(src->Output(), PinAt(copy.Get(), 0).Get()), S_OK);
  ASSERT_EQ(g->Connect(PinAt(copy.Get(), 1).Get(), PinAt(pass.Get(), 0).Get()), S_OK);
  ASSERT_EQ(g->Connect(PinAt(pass.Get(), 1).Get(), sink->Input()), S_OK);
  // Renderers render on arrival without a clock: the source delivers as fast as it can.
  ASSERT_EQ(g.As<IMediaFilter>()->SetSyncSource(nullptr), S_OK);
  ComPtr<IMediaControl> mc = g.As<IMediaControl>();
  int runsThatStreamed = 0;
  for (int i = 0; i < 1000; ++i) {
    int before = sink->rendered.load();
    ASSERT_EQ(mc->Run(), S_OK) << "run " << i;
    // Stop at different points: at once, after a yield, after samples flowed.
    if (i % 3 == 1) std::this_thread::yield();
    if (i % 3 == 2)
      while (sink->rendered.load() < before + 2) std::this_thread::yield();
    ASSERT_EQ(mc->Stop(), S_OK) << "stop " << i;
    if (sink->rendered.load() > before) ++runsThatStreamed;
  }
  EXPECT_GE(runsThatStreamed, 333);
  EXPECT_EQ(sink->outOfOrder.load(), 0);
  OAFilterState fs;
  EXPECT_EQ(mc->GetState(0, &fs), S_OK);
  EXPECT_EQ(fs, State_Stopped);
  // The graph still works after all that.
  int before = sink->rendered.load();
  ASSERT_EQ(mc->Run(), S_OK);
  while (sink->rendered.load() < before + 10) std::this_thread::yield();
  ASSERT_EQ(mc->Stop(), S_OK);
}

TEST(GraphThreads, TwoUpstreamThreadsIntoOneFilterAreSerialised) {
  Watchdog watchdog(120);
  ComPtr<IGraphBuilder> g = NewGraph();
  auto a = Make<FrameSource>(Opaque(MEDIASUBTYPE_None, 64), 300);
  auto b = Make<FrameSource>(Opaque(MEDIASUBTYPE_None, 64), 200);
  auto mix = Make<TwoInputRenderer>();
  g->AddFilter(a.Get(), L"Source A");
  g->AddFilter(b.Get(), L"Source B");
  g->AddFilter(mix.Get(), L"Mixer");
  ASSERT_EQ(g->Connect(a->Output(), PinAt(mix.Get(), 0).Get()), S_OK);
  ASSERT_EQ(g->Connect(b->Output(), PinAt(mix.Get(), 1).Get()), S_OK);
  g.As<IMediaFilter>()->SetSyncSource(nullptr);
  ComPtr<IMediaControl> mc = g.As<IMediaControl>();
  ComPtr<IMediaEventEx> me = g.As<IMediaEventEx>();
  for (int run = 0; run < 3; ++run) {
    ASSERT_EQ(mc->Run(), S_OK);
    LONG code = 0;
    ASSERT_EQ(me->WaitForCompletion(60000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    ASSERT_EQ(mc->Stop(), S_OK);
  }
  EXPECT_EQ(mix->received[0].load(), 900);
  EXPECT_EQ(mix->received[1].load(), 600);
  EXPECT_EQ(mix->maxConcurrent.load(), 1);
}

}  // namespace

// Renderer base: rendering on arrival, end of stream reported once per run, clock-synchronised
// rendering and abandoning a wait on stop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "platform/com/runtime.h"
#include "platform/strmbase/renbase.h"
#include "tests/support/harness.h"

using namespace plenor::test;

namespace {

constexpr HRESULT E_PENDING_TEST = HR(0x8000000A);

// A clock the test moves by hand (100 ns units).
class ManualClock : public CUnknown, public IReferenceClock {
 public:
  ManualClock() : CUnknown(L"Manual clock", nullptr) {}
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IReferenceClock) return GetInterface(static_cast<IReferenceClock*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  STDMETHODIMP GetTime(REFERENCE_TIME* pTime) override {
    *pTime = m_now.load();
    return S_OK;
  }
  STDMETHODIMP AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) override { return E_NOTIMPL; }
  STDMETHODIMP AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override { return E_NOTIMPL; }
  STDMETHODIMP Unadvise(DWORD_PTR) override { return E_NOTIMPL; }
  std::atomic<REFERENCE_TIME> m_now{0};
};

class RecordingRenderer : public CBaseRenderer {
 public:
  static ComPtr<RecordingRenderer> Create() { return ComPtr<RecordingRenderer>(new RecordingRenderer()); }
  HRESULT CheckMediaType(const CMediaType* pmt) override {
    return *pmt->Type() == MEDIATYPE_Video ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT DoRenderSample(IMediaSample* s) override {
    REFERENCE_TIME start = 0, stop = 0;
    s->GetTime(&start, &stop);
    std::lock_guard lock(m_lock);
    m_rendered.push_back(start);
    return S_OK;
  }
  std::vector<REFERENCE_TIME> Rendered() {
    std::lock_guard lock(m_lock);
    return m_rendered;
  }

 private:
  RecordingRenderer() : CBaseRenderer(GUID_NULL, L"Recording renderer", nullptr, nullptr) {}
  std::mutex m_lock;
  std::vector<REFERENCE_TIME> m_rendered;
};

class RendererTest : public ::testing::Test {
 protected:
  void SetUp() override {
    type = MakeVideoType(MEDIASUBTYPE_RGB24, 4, 4, 24);
    graph = FakeGraph::Create();
    push = PushSource::Create({.offeredTypes = {type}});
    renderer = RecordingRenderer::Create();
    graph->AddFilter(push.Get(), L"push");
    graph->AddFilter(renderer.Get(), L"renderer");
    ASSERT_EQ(S_OK, graph->Connect(push->OutputPin(), PinOf(renderer.Get(), 0).Get(), &type));
  }
  void TearDown() override { graph->TearDown(); }

  CMediaType type;
  ComPtr<FakeGraph> graph;
  ComPtr<PushSource> push;
  ComPtr<RecordingRenderer> renderer;
};

TEST_F(RendererTest, OnePinNamedIn) {
  EXPECT_EQ(1, renderer->GetPinCount());
  EXPECT_EQ(L"In", renderer->GetPin(0)->Name());
  EXPECT_EQ(nullptr, renderer->GetPin(1));
  CMediaType audio = MakeSimpleType(MEDIATYPE_Audio, MEDIASUBTYPE_PCM);
  EXPECT_EQ(S_FALSE, PinOf(renderer.Get(), 0)->QueryAccept(&audio));
}

TEST_F(RendererTest, RendersOnArrivalAndCompletesOncePerRun) {
  ASSERT_EQ(S_OK, graph->Run());
  for (int i = 0; i < 3; i++) EXPECT_EQ(S_OK, push->PushBytes(PatternBytes(i, 8), i * 100, i * 100 + 100));
  EXPECT_EQ((std::vector<REFERENCE_TIME>{0, 100, 200}), renderer->Rendered());
  EXPECT_EQ(S_OK, push->EndOfStream());
  EXPECT_EQ(S_OK, push->EndOfStream());
  EXPECT_EQ(1, graph->CountEvents(EC_COMPLETE));
  // Nothing is rendered after the end of the stream.
  EXPECT_NE(S_OK, push->PushBytes(PatternBytes(0, 8), 0, 1));
  ASSERT_EQ(S_OK, graph->Stop());
  ASSERT_EQ(S_OK, graph->Run());
  EXPECT_EQ(S_OK, push->PushBytes(PatternBytes(0, 8), 0, 1));
  EXPECT_EQ(S_OK, push->EndOfStream());
  EXPECT_EQ(2, graph->CountEvents(EC_COMPLETE));
}

TEST_F(RendererTest, EndOfStreamWhilePausedCompletesAtRun) {
  ASSERT_EQ(S_OK, graph->Pause());
  EXPECT_EQ(S_OK, push->EndOfStream());
  EXPECT_EQ(0, graph->CountEvents(EC_COMPLETE));
  ASSERT_EQ(S_OK, graph->Run());
  EXPECT_EQ(1, graph->CountEvents(EC_COMPLETE));
  auto events = graph->Events();
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(renderer.Get())), events.back().param2);
}

TEST_F(RendererTest, ClockSynchronisedRenderingWaitsForStreamTime) {
  auto clock = ComPtr<ManualClock>(new ManualClock());
  graph->SetClock(clock.Get());
  renderer->SetSyncToClock(true);
  clock->m_now = 1000;
  ASSERT_EQ(S_OK, graph->Run(1000));  // stream time 0 now
  std::atomic<HRESULT> result{E_PENDING_TEST};
  std::thread pusher([&] { result = push->PushBytes(PatternBytes(0, 8), 500000, 600000); });
  Sleep(30);
  EXPECT_TRUE(renderer->Rendered().empty());
  clock->m_now = 1000 + 500000;
  pusher.join();
  EXPECT_EQ(S_OK, result.load());
  EXPECT_EQ(1u, renderer->Rendered().size());
}

TEST_F(RendererTest, StopAbandonsAClockWait) {
  auto clock = ComPtr<ManualClock>(new ManualClock());
  graph->SetClock(clock.Get());
  renderer->SetSyncToClock(true);
  ASSERT_EQ(S_OK, graph->Run(0));
  std::atomic<HRESULT> result{E_PENDING_TEST};
  std::thread pusher([&] { result = push->PushBytes(PatternBytes(0, 8), 100000000, 100000001); });
  Sleep(30);
  auto t0 = std::chrono::steady_clock::now();
  // Stop only the renderer: the pusher's own allocator stays committed until it returns.
  ASSERT_EQ(S_OK, renderer->Stop());
  pusher.join();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  EXPECT_EQ(S_FALSE, result.load());
  EXPECT_TRUE(renderer->Rendered().empty());
  graph->SetClock(nullptr);
}

}  // namespace

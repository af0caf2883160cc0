// Seeking through transforms: the output pins of copy and in-place transforms pass IMediaSeeking
// upstream until it reaches the source's own implementation.
#include <gtest/gtest.h>

#include "platform/strmbase/ctlutil.h"
#include "tests/platform/strmbase/support_filters.h"

using namespace plenor::test;

namespace {

class DurationSeeking : public CSourceSeeking {
 public:
  DurationSeeking() : CSourceSeeking(L"Test seeking", nullptr, nullptr, &m_lock) {
    m_rtDuration = 1000;
    m_rtStop = 1000;
  }
  HRESULT ChangeStart() override {
    starts++;
    return S_OK;
  }
  HRESULT ChangeStop() override {
    stops++;
    return S_OK;
  }
  HRESULT ChangeRate() override { return m_dRateSeeking > 4.0 ? E_INVALIDARG : S_OK; }
  int starts = 0, stops = 0;

 private:
  CCritSec m_lock;
};

TEST(Seeking, TransformChainReachesTheSourceSeeking) {
  CMediaType in = MakeVideoType(MEDIASUBTYPE_RGB24, 4, 4, 24);
  CMediaType out = MakeVideoType(MEDIASUBTYPE_RGB32, 4, 4, 32);
  auto graph = FakeGraph::Create();
  auto push = PushSource::Create({.offeredTypes = {in}});
  auto seeking = ComPtr<DurationSeeking>(new DurationSeeking());
  push->SetSeeking(seeking.Get());
  auto xf = RecordingTransform::Create();
  xf->m_inputTypes = {in};
  xf->m_outputTypes = {out};
  xf->m_acceptedOutputs = {out};
  auto tip = RecordingInPlace::Create();
  auto sink = TestSink::Create({});
  graph->AddFilter(push.Get(), L"push");
  graph->AddFilter(xf.Get(), L"xf");
  graph->AddFilter(tip.Get(), L"tip");
  graph->AddFilter(sink.Get(), L"sink");
  ASSERT_EQ(S_OK, graph->Connect(push->OutputPin(), PinOf(xf.Get(), 0).Get(), &in));
  ASSERT_EQ(S_OK, graph->Connect(PinOf(xf.Get(), 1).Get(), PinOf(tip.Get(), 0).Get()));
  ASSERT_EQ(S_OK, graph->Connect(PinOf(tip.Get(), 1).Get(), sink->InputPin()));

  ComPtr<IMediaSeeking> ms;
  ASSERT_EQ(S_OK, PinOf(tip.Get(), 1)->QueryInterface(IID_IMediaSeeking, ms.AsOut()));
  LONGLONG duration = 0;
  EXPECT_EQ(S_OK, ms->GetDuration(&duration));
  EXPECT_EQ(1000, duration);
  LONGLONG start = 200, stop = 100;
  EXPECT_EQ(S_OK, ms->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_IncrementalPositioning));
  LONGLONG cur = 0, end = 0;
  EXPECT_EQ(S_OK, ms->GetPositions(&cur, &end));
  EXPECT_EQ(200, cur);
  EXPECT_EQ(300, end);
  EXPECT_EQ(1, seeking->starts);
  EXPECT_EQ(1, seeking->stops);
  EXPECT_EQ(E_INVALIDARG, ms->SetRate(0.0));
  EXPECT_EQ(E_INVALIDARG, ms->SetRate(8.0));
  EXPECT_EQ(S_OK, ms->SetRate(2.0));
  double rate = 0;
  EXPECT_EQ(S_OK, ms->GetRate(&rate));
  EXPECT_EQ(2.0, rate);
  EXPECT_EQ(S_OK, ms->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME));
  EXPECT_EQ(S_FALSE, ms->IsFormatSupported(&TIME_FORMAT_FRAME));
  graph->TearDown();
}

TEST(Seeking, UnconnectedInputHasNothingToAsk) {
  auto xf = RecordingTransform::Create();
  ComPtr<IMediaSeeking> ms;
  ASSERT_EQ(S_OK, PinOf(xf.Get(), 1)->QueryInterface(IID_IMediaSeeking, ms.AsOut()));
  LONGLONG duration = 0;
  EXPECT_EQ(VFW_E_NOT_CONNECTED, ms->GetDuration(&duration));
}

}  // namespace

// Copy transform: connection hook order, output type offers, per-sample flow, drops, failures,
// stream events and state changes.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/strmbase/ctlutil.h"
#include "tests/platform/strmbase/support_filters.h"

using namespace plenor::test;

namespace {

class TransformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    inType = MakeVideoType(MEDIASUBTYPE_RGB24, 8, 4, 24);
    outType = MakeVideoType(MEDIASUBTYPE_RGB32, 8, 4, 32);
    refusedType = MakeVideoType(MEDIASUBTYPE_RGB555, 8, 4, 16);
    graph = FakeGraph::Create();
    push = PushSource::Create({.offeredTypes = {inType}});
    xf = RecordingTransform::Create();
    xf->m_inputTypes = {inType};
    xf->m_outputTypes = {refusedType, outType};
    xf->m_acceptedOutputs = {outType};
    sink = TestSink::Create({});
    graph->AddFilter(push.Get(), L"push");
    graph->AddFilter(xf.Get(), L"xf");
    graph->AddFilter(sink.Get(), L"sink");
  }
  void TearDown() override { graph->TearDown(); }

  void ConnectAll() {
    ASSERT_EQ(S_OK, graph->Connect(push->OutputPin(), PinOf(xf.Get(), 0).Get(), &inType));
    ASSERT_EQ(S_OK, graph->Connect(PinOf(xf.Get(), 1).Get(), sink->InputPin()));
  }

  CMediaType inType, outType, refusedType;
  ComPtr<FakeGraph> graph;
  ComPtr<PushSource> push;
  ComPtr<RecordingTransform> xf;
  ComPtr<TestSink> sink;
};

TEST_F(TransformTest, PinsAreNamedAndCreatedOnce) {
  CBasePin* in = xf->GetPin(0);
  CBasePin* out = xf->GetPin(1);
  ASSERT_NE(nullptr, in);
  ASSERT_NE(nullptr, out);
  EXPECT_EQ(in, xf->GetPin(0));
  EXPECT_EQ(nullptr, xf->GetPin(2));
  EXPECT_EQ(nullptr, xf->GetPin(-1));
  EXPECT_EQ(L"XForm In", in->Name());
  EXPECT_EQ(L"XForm Out", out->Name());
  ComPtr<IPin> found;
  EXPECT_EQ(S_OK, xf->FindPin(L"XForm Out", &found));
  EXPECT_EQ(static_cast<IPin*>(out), found.Get());
}

// A transform making its pins through GetPinMaking, whose output pin fails (a failure reported
// by its constructor, or no pin at all) the first `failures` times.
class FailingPinsTransform : public CTransformFilter {
 public:
  enum class Failure { Result, NoPin };
  FailingPinsTransform(Failure failure, int failures)
      : CTransformFilter(L"failing pins", nullptr, GUID_NULL), m_failure(failure), m_failures(failures) {}
  CBasePin* GetPin(int n) override {
    return GetPinMaking(
        n,
        [this](HRESULT* phr) {
          ++inputsMade;
          return new CTransformInputPin(L"in", this, phr, L"In");
        },
        [this](HRESULT* phr) -> CTransformOutputPin* {
          ++outputsMade;
          if (m_failures > 0 && m_failure == Failure::NoPin) {
            --m_failures;
            return nullptr;
          }
          auto* pin = new CTransformOutputPin(L"out", this, phr, L"Out");
          if (m_failures > 0) {
            --m_failures;
            *phr = E_FAIL;
          }
          return pin;
        });
  }
  HRESULT CheckInputType(const CMediaType*) override { return S_OK; }
  HRESULT CheckTransform(const CMediaType*, const CMediaType*) override { return S_OK; }
  HRESULT DecideBufferSize(IMemAllocator*, ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  HRESULT GetMediaType(int, CMediaType*) override { return VFW_S_NO_MORE_ITEMS; }

  int inputsMade = 0;
  int outputsMade = 0;

 private:
  const Failure m_failure;
  int m_failures;
};

TEST(TransformPins, AFailedOutputPinTakesTheInputPinAwayAndTheNextCallTriesAgain) {
  using Failure = FailingPinsTransform::Failure;
  const struct {
    const char* name;
    Failure failure;
    int failures;
  } cases[] = {
      {"no failure", Failure::Result, 0},
      {"constructor result once", Failure::Result, 1},
      {"no output pin twice", Failure::NoPin, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ComPtr<FailingPinsTransform> xf(new FailingPinsTransform(c.failure, c.failures));
    for (int attempt = 0; attempt < c.failures; ++attempt) {
      EXPECT_EQ(xf->GetPin(0), nullptr);
      EXPECT_EQ(xf->m_pInput, nullptr);
      EXPECT_EQ(xf->m_pOutput, nullptr);
    }
    CBasePin* in = xf->GetPin(0);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(L"In", in->Name());
    ASSERT_NE(xf->GetPin(1), nullptr);
    EXPECT_EQ(L"Out", xf->GetPin(1)->Name());
    EXPECT_EQ(xf->GetPin(2), nullptr);
    EXPECT_EQ(xf->GetPin(0), in);  // made once, then kept
    EXPECT_EQ(xf->inputsMade, c.failures + 1);
    EXPECT_EQ(xf->outputsMade, c.failures + 1);
  }
}

TEST_F(TransformTest, InputConnectionCallsHooksInOrder) {
  ASSERT_EQ(S_OK, graph->Connect(push->OutputPin(), PinOf(xf.Get(), 0).Get(), &inType));
  std::vector<std::string> expected = {"CheckConnect(in)", "CheckInputType", "SetMediaType(in)", "CompleteConnect(in)"};
  EXPECT_EQ(expected, xf->m_log.Calls());
}

TEST_F(TransformTest, OutputConnectionTriesOffersUntilCheckTransformAgrees) {
  ASSERT_EQ(S_OK, graph->Connect(push->OutputPin(), PinOf(xf.Get(), 0).Get(), &inType));
  xf->m_log.Clear();
  ASSERT_EQ(S_OK, graph->Connect(PinOf(xf.Get(), 1).Get(), sink->InputPin()));
  auto calls = xf->m_log.Calls();
  // Two candidates were checked (the refused one first); after the last check the connection is
  // completed in this order.
  EXPECT_EQ(2, xf->m_log.Count("CheckTransform"));
  auto last = std::find(calls.rbegin(), calls.rend(), "CheckTransform").base();
  std::vector<std::string> tail(last, calls.end());
  std::vector<std::string> expected = {"SetMediaType(out)", "DecideBufferSize", "CompleteConnect(out)"};
  EXPECT_EQ(expected, tail);
  EXPECT_EQ(0, std::count(calls.begin(), last, "SetMediaType(out)"));
  EXPECT_TRUE(xf->m_lastOutputType == outType);

  AM_MEDIA_TYPE mt{};
  ASSERT_EQ(S_OK, sink->InputPin()->ConnectionMediaType(&mt));
  EXPECT_TRUE(CMediaType(mt) == outType);
  FreeMediaType(mt);
}

TEST_F(TransformTest, OutputIsRefusedWhileInputIsUnconnected) {
  EXPECT_EQ(E_UNEXPECTED, graph->Connect(PinOf(xf.Get(), 1).Get(), sink->InputPin(), &outType));
  EXPECT_EQ(E_UNEXPECTED, graph->Connect(PinOf(xf.Get(), 1).Get(), sink->InputPin()));
  EXPECT_FALSE(xf->GetPin(1)->IsConnected());
  EXPECT_FALSE(sink->Pin()->IsConnected());
}

TEST_F(TransformTest, RejectedInputTypeFailsWithTheHookResult) {
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, graph->Connect(push->OutputPin(), PinOf(xf.Get(), 0).Get(), &outType));
  EXPECT_FALSE(xf->GetPin(0)->IsConnected());
  EXPECT_EQ(0, xf->m_log.Count("SetMediaType(in)"));
}

TEST_F(TransformTest, OutputEnumerationFollowsGetMediaType) {
  CBasePin* out = xf->GetPin(1);
  CMediaType mt;
  EXPECT_EQ(E_INVALIDARG, out->GetMediaType(-1, &mt));
  // Nothing is offered while the input is unconnected.
  EXPECT_EQ(VFW_S_NO_MORE_ITEMS, out->GetMediaType(0, &mt));

  ASSERT_EQ(S_OK, graph->Connect(push->OutputPin(), PinOf(xf.Get(), 0).Get(), &inType));
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(S_OK, out->EnumMediaTypes(&types));
  AM_MEDIA_TYPE* got[3] = {};
  ULONG fetched = 0;
  EXPECT_EQ(S_FALSE, types->Next(3, got, &fetched));
  ASSERT_EQ(2u, fetched);
  EXPECT_TRUE(CMediaType(*got[0]) == refusedType);
  EXPECT_TRUE(CMediaType(*got[1]) == outType);
  for (ULONG i = 0; i < fetched; i++) DeleteMediaType(got[i]);
  // Past the end.
  EXPECT_EQ(S_FALSE, types->Next(1, got, &fetched));
  EXPECT_EQ(0u, fetched);
  EXPECT_EQ(VFW_S_NO_MORE_ITEMS, out->GetMediaType(2, &mt));
  EXPECT_EQ(S_OK, types->Reset());
  EXPECT_EQ(S_OK, types->Next(1, got, &fetched));
  DeleteMediaType(got[0]);
}

TEST_F(TransformTest, DisconnectCallsBreakConnect) {
  ConnectAll();
  xf->m_log.Clear();
  EXPECT_EQ(S_OK, xf->GetPin(1)->Disconnect());
  EXPECT_EQ(std::vector<std::string>{"BreakConnect(out)"}, xf->m_log.Calls());
  EXPECT_EQ(S_FALSE, xf->GetPin(1)->Disconnect());
}

TEST_F(TransformTest, SamplesCarryDataTimesFlagsAndMediaTimes) {
  ConnectAll();
  ASSERT_EQ(S_OK, graph->Run());
  PushSample s;
  s.data = PatternBytes(3, 96);
  s.start = 1000;
  s.stop = 2000;
  s.sync = true;
  s.discontinuity = true;
  s.preroll = true;
  s.mediaStart = 5;
  s.mediaStop = 6;
  s.typeSpecificFlags = 0x42;
  ASSERT_EQ(S_OK, push->Push(s));
  PushSample t;
  t.data = PatternBytes(4, 96);
  t.start = 2000;  // no stop time
  t.sync = false;
  ASSERT_EQ(S_OK, push->Push(t));

  auto got = sink->Samples();
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ(Inverted(s.data), got[0].data);
  EXPECT_EQ(S_OK, got[0].timeResult);
  EXPECT_EQ(1000, got[0].start);
  EXPECT_EQ(2000, got[0].stop);
  EXPECT_TRUE(got[0].sync);
  EXPECT_TRUE(got[0].discontinuity);
  EXPECT_TRUE(got[0].preroll);
  EXPECT_EQ(S_OK, got[0].mediaTimeResult);
  EXPECT_EQ(5, got[0].mediaStart);
  EXPECT_EQ(6, got[0].mediaEnd);
  EXPECT_EQ(0x42u, got[0].typeSpecificFlags);
  EXPECT_FALSE(got[0].hasMediaType);

  EXPECT_EQ(Inverted(t.data), got[1].data);
  EXPECT_EQ(VFW_S_NO_STOP_TIME, got[1].timeResult);
  EXPECT_EQ(2000, got[1].start);
  EXPECT_FALSE(got[1].sync);
  EXPECT_FALSE(got[1].discontinuity);
  EXPECT_EQ(VFW_E_MEDIA_TIME_NOT_SET, got[1].mediaTimeResult);
}

TEST_F(TransformTest, AttachedTypeTravelsWithTheOutputSample) {
  ConnectAll();
  ASSERT_EQ(S_OK, graph->Run());
  PushSample s;
  s.data = PatternBytes(0, 16);
  s.mediaType = &inType;
  ASSERT_EQ(S_OK, push->Push(s));
  ASSERT_EQ(S_OK, push->PushBytes(PatternBytes(1, 16), 0, 1));
  auto got = sink->Samples();
  ASSERT_EQ(2u, got.size());
  EXPECT_TRUE(got[0].hasMediaType);
  EXPECT_TRUE(got[0].mediaType == inType);
  // Output buffers are pooled: the next one must not still carry the type.
  EXPECT_FALSE(got[1].hasMediaType);
}

TEST_F(TransformTest, RefusedTypeChangeAbortsTheStream) {
  ConnectAll();
  ASSERT_EQ(S_OK, graph->Run());
  PushSample s;
  s.data = PatternBytes(0, 16);
  s.mediaType = &refusedType;
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, push->Push(s));
  EXPECT_EQ(0, xf->m_transformCalls.load());
  auto events = graph->Events();
  ASSERT_EQ(1, graph->CountEvents(EC_ERRORABORT));
  auto abort = std::find_if(events.begin(), events.end(), [](auto& e) { return e.code == EC_ERRORABORT; });
  EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, static_cast<HRESULT>(abort->param1));
  // The input pin signalled its own end of stream, which went downstream.
  EXPECT_EQ(1, sink->EndOfStreamCount());
  // Later samples are refused until the stream is restarted.
  EXPECT_EQ(VFW_E_RUNTIME_ERROR, push->PushBytes(PatternBytes(1, 16), 0, 1));
  ASSERT_EQ(S_OK, graph->Stop());
  ASSERT_EQ(S_OK, graph->Run());
  EXPECT_EQ(S_OK, push->PushBytes(PatternBytes(1, 16), 0, 1));
}

TEST_F(TransformTest, DroppedSamplesKeepTheStreamAndRaiseQualityChangeOncePerRun) {
  ConnectAll();
  xf->m_script = [](int n, IMediaSample* in, IMediaSample* out) -> HRESULT {
    if (n % 2 == 1) return S_FALSE;
    BYTE *s, *d;
    in->GetPointer(&s);
    out->GetPointer(&d);
    InvertBytes(s, d, in->GetActualDataLength());
    out->SetActualDataLength(in->GetActualDataLength());
    return S_OK;
  };
  ASSERT_EQ(S_OK, graph->Run());
  for (int i = 0; i < 6; i++) EXPECT_EQ(S_OK, push->PushBytes(PatternBytes(i, 32), i * 10, i * 10 + 10));
  auto got = sink->Samples();
  ASSERT_EQ(3u, got.size());
  EXPECT_EQ(Inverted(PatternBytes(4, 32)), got[2].data);
  EXPECT_EQ(1, graph->CountEvents(EC_QUALITY_CHANGE));

  // Pausing re-arms the event.
  ASSERT_EQ(S_OK, graph->Pause());
  EXPECT_FALSE(xf->SampleSkipped());
  ASSERT_EQ(S_OK, graph->Run());
  for (int i = 6; i < 10; i++) EXPECT_EQ(S_OK, push->PushBytes(PatternBytes(i, 32), i * 10, i * 10 + 10));
  EXPECT_EQ(2, graph->CountEvents(EC_QUALITY_CHANGE));
  for (auto& e : graph->Events())
    if (e.code == EC_QUALITY_CHANGE) {
      EXPECT_EQ(0, e.param1);
      EXPECT_EQ(0, e.param2);
    }
}

TEST_F(TransformTest, NonMediaStreamSamplesPassUnchanged) {
  ConnectAll();
  xf->m_script = [](int, IMediaSample*, IMediaSample*) { return S_FALSE; };
  ASSERT_EQ(S_OK, graph->Run());
  PushSample s;
  s.data = PatternBytes(9, 40);
  s.streamId = AM_STREAM_CONTROL;
  s.start = 7;
  s.stop = 8;
  ASSERT_EQ(S_OK, push->Push(s));
  EXPECT_EQ(0, xf->m_transformCalls.load());
  auto got = sink->Samples();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(s.data, got[0].data);
  EXPECT_EQ(AM_STREAM_CONTROL, got[0].streamId);
  // The very same buffer was passed on.
  EXPECT_EQ(push->LastBuffer(), got[0].pointer);
  EXPECT_EQ(0, graph->CountEvents(EC_QUALITY_CHANGE));
}

TEST_F(TransformTest, TransformFailureIsReturnedUpstreamAndReported) {
  ConnectAll();
  xf->m_script = [](int n, IMediaSample*, IMediaSample* out) -> HRESULT {
    if (n == 1) return E_OUTOFMEMORY;
    out->SetActualDataLength(0);
    return S_OK;
  };
  ASSERT_EQ(S_OK, graph->Run());
  EXPECT_EQ(S_OK, push->PushBytes(PatternBytes(0, 8), 0, 1));
  EXPECT_EQ(E_OUTOFMEMORY, push->PushBytes(PatternBytes(1, 8), 1, 2));
  EXPECT_EQ(1u, sink->SampleCount());
  ASSERT_EQ(1, graph->CountEvents(EC_ERRORABORT));
  EXPECT_EQ(E_OUTOFMEMORY, static_cast<HRESULT>(graph->Events().back().param1));
}

TEST_F(TransformTest, StreamEventsArePassedDownstream) {
  ConnectAll();
  ASSERT_EQ(S_OK, graph->Run());
  EXPECT_EQ(S_OK, push->NewSegment(0, 100, 1.0));
  EXPECT_EQ(S_OK, push->BeginFlush());
  // Samples are refused while flushing.
  EXPECT_EQ(S_FALSE, push->PushBytes(PatternBytes(0, 8), 0, 1));
  EXPECT_EQ(S_OK, push->EndFlush());
  EXPECT_EQ(S_OK, push->PushBytes(PatternBytes(0, 8), 0, 1));
  EXPECT_EQ(S_OK, push->EndOfStream());
  EXPECT_EQ(1, sink->NewSegmentCount());
  EXPECT_EQ(1, sink->BeginFlushCount());
  EXPECT_EQ(1, sink->EndFlushCount());
  EXPECT_EQ(1, sink->EndOfStreamCount());
  EXPECT_EQ(1u, sink->SampleCount());
}

TEST_F(TransformTest, StreamingHooksFollowStateChanges) {
  ConnectAll();
  xf->m_log.Clear();
  ASSERT_EQ(S_OK, graph->Pause());
  ASSERT_EQ(S_OK, graph->Run());
  ASSERT_EQ(S_OK, graph->Pause());
  ASSERT_EQ(S_OK, graph->Stop());
  std::vector<std::string> expected = {"StartStreaming", "StopStreaming"};
  EXPECT_EQ(expected, xf->m_log.Calls());
  // Both pins were inactive (the output allocator decommitted) before StopStreaming ran.
  EXPECT_EQ(1, xf->m_outputDecommittedAtStop.load());
  // Samples are refused once stopped.
  EXPECT_EQ(VFW_E_NOT_COMMITTED, push->PushBytes(PatternBytes(0, 8), 0, 1));
}

TEST_F(TransformTest, PauseWithUnconnectedInputSendsOneEndOfStream) {
  ConnectAll();
  ASSERT_EQ(S_OK, xf->GetPin(0)->Disconnect());
  ASSERT_EQ(S_OK, push->OutputPin()->Disconnect());
  ASSERT_EQ(S_OK, xf->Pause());
  ASSERT_EQ(S_OK, xf->Pause());
  ASSERT_EQ(S_OK, xf->Run(0));
  EXPECT_EQ(1, sink->EndOfStreamCount());
  ASSERT_EQ(S_OK, xf->Stop());
  ASSERT_EQ(S_OK, xf->Pause());
  EXPECT_EQ(2, sink->EndOfStreamCount());
  xf->Stop();
}

TEST_F(TransformTest, OutputPinPassesSeekingUpstream) {
  ConnectAll();
  ComPtr<IMediaSeeking> seeking;
  ASSERT_EQ(S_OK, PinOf(xf.Get(), 1)->QueryInterface(IID_IMediaSeeking, seeking.AsOut()));
  LONGLONG duration = 0;
  // The push source has no seeking of its own.
  EXPECT_EQ(E_NOTIMPL, seeking->GetDuration(&duration));
  // The aggregated object answers for the pin.
  ComPtr<IPin> back;
  EXPECT_EQ(S_OK, seeking->QueryInterface(IID_IPin, back.AsOut()));
  EXPECT_EQ(PinOf(xf.Get(), 1).Get(), back.Get());
}

}  // namespace

// The graph manager with minimal filters: names, references, connections, reconnection, the
// order of state changes, the clock it hands out and the event queue with completion handling.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "platform/com/runtime.h"
#include "platform/graph/diagnostics.h"
#include "platform/strmbase/wxutil.h"
#include "support_fakes.h"
#include "tests/support/harness.h"

using fakes::FakeFilter;
using fakes::FakePin;

namespace {

ComPtr<IGraphBuilder> NewGraph() {
  ComPtr<IGraphBuilder> g;
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, g.AsOut()), S_OK);
  return g;
}

CMediaType Rgb(LONG w = 320, LONG h = 240) { return plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, w, h, 24); }
CMediaType Rgb32(LONG w = 320, LONG h = 240) { return plenor::test::MakeVideoType(MEDIASUBTYPE_RGB32, w, h, 32); }

// A source with one output offering types, a sink with one input accepting them.
struct Chain {
  std::shared_ptr<fakes::CallLog> log = std::make_shared<fakes::CallLog>();
  std::vector<ComPtr<FakeFilter>> filters;
  FakeFilter* Add(IGraphBuilder* g, const std::string& label) {
    filters.push_back(FakeFilter::Create(label, log));
    std::wstring name(label.begin(), label.end());
    EXPECT_TRUE(SUCCEEDED(g->AddFilter(filters.back().Get(), name.c_str())));
    return filters.back().Get();
  }
};

TEST(GraphNames, ClashingNamesGetNumberedSuffixesAndFiltersLearnTheirNames) {
  ComPtr<IGraphBuilder> g = NewGraph();
  auto a = FakeFilter::Create("a"), b = FakeFilter::Create("b"), c = FakeFilter::Create("c");
  EXPECT_EQ(g->AddFilter(a.Get(), L"Scaler"), S_OK);
  EXPECT_EQ(g->AddFilter(b.Get(), L"Scaler"), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(g->AddFilter(c.Get(), L"Scaler"), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(a->JoinedName(), L"Scaler");
  EXPECT_EQ(b->JoinedName(), L"Scaler 0001");
  EXPECT_EQ(c->JoinedName(), L"Scaler 0002");
  EXPECT_EQ(a->Graph(), static_cast<IFilterGraph*>(g.Get()));

  ComPtr<IBaseFilter> found;
  ASSERT_EQ(g->FindFilterByName(L"Scaler 0001", &found), S_OK);
  EXPECT_EQ(found.Get(), static_cast<IBaseFilter*>(b.Get()));
  EXPECT_EQ(g->FindFilterByName(L"Scaler 0003", &found), VFW_E_NOT_FOUND);
  EXPECT_EQ(found.Get(), nullptr);

  // The same filter twice is refused; a removed filter's name is free again.
  EXPECT_FALSE(SUCCEEDED(g->AddFilter(a.Get(), L"Other")));
  EXPECT_EQ(g->RemoveFilter(b.Get()), S_OK);
  EXPECT_EQ(b->Graph(), nullptr);
  auto d = FakeFilter::Create("d");
  EXPECT_EQ(g->AddFilter(d.Get(), L"Scaler 0001"), S_OK);
  EXPECT_EQ(g->RemoveFilter(b.Get()), VFW_E_NOT_FOUND);

  // Enumeration follows the order of addition.
  ComPtr<IEnumFilters> e;
  ASSERT_EQ(g->EnumFilters(&e), S_OK);
  std::vector<IBaseFilter*> seen;
  IBaseFilter* f = nullptr;
  ULONG got = 0;
  while (e->Next(1, &f, &got) == S_OK) {
    seen.push_back(f);
    f->Release();
  }
  EXPECT_EQ(seen, (std::vector<IBaseFilter*>{a.Get(), c.Get(), d.Get()}));
}

TEST(GraphNames, LongNamesAreCutSoThatTheSuffixFits) {
  ComPtr<IGraphBuilder> g = NewGraph();
  std::wstring longName(200, L'x');
  auto a = FakeFilter::Create("a"), b = FakeFilter::Create("b");
  EXPECT_EQ(g->AddFilter(a.Get(), longName.c_str()), S_OK);
  EXPECT_EQ(g->AddFilter(b.Get(), longName.c_str()), VFW_S_DUPLICATE_NAME);
  EXPECT_EQ(a->JoinedName().size(), size_t(MAX_FILTER_NAME - 1));
  EXPECT_EQ(b->JoinedName().size(), size_t(MAX_FILTER_NAME - 1));
  EXPECT_EQ(b->JoinedName().substr(b->JoinedName().size() - 5), L" 0001");
}

TEST(GraphLifetime, GraphHoldsEachFilterAndLetsGoWhenReleased) {
  auto a = FakeFilter::Create("a"), b = FakeFilter::Create("b");
  FakePin* out = a->AddPin(PINDIR_OUTPUT, L"Out", {Rgb()});
  FakePin* in = b->AddPin(PINDIR_INPUT, L"In", {Rgb()});
  {
    ComPtr<IGraphBuilder> g = NewGraph();
    g->AddFilter(a.Get(), L"A");
    g->AddFilter(b.Get(), L"B");
    EXPECT_GT(a->RefCount(), 1u);
    ASSERT_EQ(g->ConnectDirect(out, in, nullptr), S_OK);
    ComPtr<IMediaControl> mc = g.As<IMediaControl>();
    ASSERT_EQ(mc->Run(), S_OK);
  }
  // Released: stopped, disconnected, told it left, and no reference kept.
  EXPECT_EQ(a->RefCount(), 1u);
  EXPECT_EQ(b->RefCount(), 1u);
  EXPECT_EQ(out->Peer(), nullptr);
  EXPECT_EQ(in->Peer(), nullptr);
  EXPECT_EQ(a->Graph(), nullptr);
  FILTER_STATE s;
  a->GetState(0, &s);
  EXPECT_EQ(s, State_Stopped);
}

TEST(GraphConnect, ConnectDirectChecksPinsAndPassesTheType) {
  ComPtr<IGraphBuilder> g = NewGraph();
  auto a = FakeFilter::Create("a"), b = FakeFilter::Create("b"), stranger = FakeFilter::Create("s");
  FakePin* out = a->AddPin(PINDIR_OUTPUT, L"Out", {Rgb(), Rgb32()});
  FakePin* in = b->AddPin(PINDIR_INPUT, L"In", {Rgb(), Rgb32()});
  FakePin* farIn = stranger->AddPin(PINDIR_INPUT, L"In", {Rgb()});
  g->AddFilter(a.Get(), L"A");
  g->AddFilter(b.Get(), L"B");

  EXPECT_EQ(g->ConnectDirect(out, farIn, nullptr), VFW_E_NOT_IN_GRAPH);
  EXPECT_EQ(g->ConnectDirect(in, out, nullptr), VFW_E_INVALID_DIRECTION);
  CMediaType want = Rgb32();
  ASSERT_EQ(g->ConnectDirect(out, in, &want), S_OK);
  EXPECT_EQ(in->mt, want);
  EXPECT_EQ(g->Disconnect(out), S_OK);
  EXPECT_EQ(g->Disconnect(in), S_OK);
  EXPECT_EQ(in->Peer(), nullptr);

  // While running, connections cannot change.
  ASSERT_EQ(g->ConnectDirect(out, in, nullptr), S_OK);
  ComPtr<IMediaControl> mc = g.As<IMediaControl>();
  mc->Run();
  EXPECT_EQ(g->Disconnect(in), VFW_E_NOT_STOPPED);
  mc->Stop();
}

// Like an in-place filter: both sides must carry one type, and when one side connects with a
// type the other side does not have, the filter asks the graph to reconnect the other side.
TEST(GraphReconnect, InPlaceStyleFilterEndsWithOneTypeOnBothSides) {
  ComPtr<IGraphBuilder> g = NewGraph();
  auto src = FakeFilter::Create("src"), mid = FakeFilter::Create("mid"), sink = FakeFilter::Create("sink");
  FakePin* srcOut = src->AddPin(PINDIR_OUTPUT, L"Out", {Rgb(), Rgb32()});
  FakePin* midIn = mid->AddPin(PINDIR_INPUT, L"In", {});
  FakePin* midOut = mid->AddPin(PINDIR_OUTPUT, L"Out", {});
  FakePin* sinkIn = sink->AddPin(PINDIR_INPUT, L"In", {Rgb32()});
  midIn->accept = midOut->accept = [](const AM_MEDIA_TYPE&) { return true; };
  int reconnects = 0;
  IGraphBuilder* graph = g.Get();
  midOut->onConnected = [&](FakePin* self) -> HRESULT {
    if (midIn->Peer() && !(midIn->mt == self->mt)) {
      ++reconnects;
      return graph->Reconnect(midIn);
    }
    return S_OK;
  };
  g->AddFilter(src.Get(), L"Source");
  g->AddFilter(mid.Get(), L"Middle");
  g->AddFilter(sink.Get(), L"Sink");
  // The source's first type is RGB24; the sink only takes RGB32.
  ASSERT_EQ(g->ConnectDirect(srcOut, midIn, nullptr), S_OK);
  EXPECT_EQ(midIn->mt, Rgb());
  ASSERT_EQ(g->ConnectDirect(midOut, sinkIn, nullptr), S_OK);
  EXPECT_EQ(reconnects, 1);
  EXPECT_EQ(midOut->mt, Rgb32());
  EXPECT_EQ(midIn->mt, Rgb32());
  EXPECT_EQ(srcOut->mt, Rgb32());
  EXPECT_EQ(srcOut->Peer(), static_cast<IPin*>(midIn));
}

TEST(GraphReconnect, PinsThatKeepAskingDoNotRecurseForever) {
  ComPtr<IGraphBuilder> g = NewGraph();
  auto a = FakeFilter::Create("a"), b = FakeFilter::Create("b");
  FakePin* out = a->AddPin(PINDIR_OUTPUT, L"Out", {Rgb()});
  FakePin* in = b->AddPin(PINDIR_INPUT, L"In", {Rgb()});
  IGraphBuilder* graph = g.Get();
  int calls = 0;
  // Every connection of the input asks for the same connection to be made again.
  in->onConnected = [&](FakePin* self) -> HRESULT {
    ++calls;
    return calls < 50 ? graph->Reconnect(self) : S_OK;
  };
  g->AddFilter(a.Get(), L"A");
  g->AddFilter(b.Get(), L"B");
  EXPECT_EQ(g->ConnectDirect(out, in, nullptr), S_OK);
  EXPECT_LT(calls, 10);
  EXPECT_EQ(in->Peer(), static_cast<IPin*>(out));
  EXPECT_EQ(g->Reconnect(a->Pin(0)), S_OK);
  EXPECT_EQ(out->Peer(), static_cast<IPin*>(in));
}

// src1 -> t1 -> t2 -> sink1 and src2 -> sink2, added in a shuffled order.
struct TwoChains : Chain {
  explicit TwoChains(IGraphBuilder* g) {
    FakeFilter* sink1 = Add(g, "sink1");
    FakeFilter* t2 = Add(g, "t2");
    FakeFilter* src1 = Add(g, "src1");
    FakeFilter* src2 = Add(g, "src2");
    FakeFilter* t1 = Add(g, "t1");
    FakeFilter* sink2 = Add(g, "sink2");
    auto link = [&](FakeFilter* a, FakeFilter* b) {
      FakePin* o = a->AddPin(PINDIR_OUTPUT, L"Out", {Rgb()});
      FakePin* i = b->AddPin(PINDIR_INPUT, L"In", {Rgb()});
      EXPECT_EQ(fakes::Link(g, o, i), S_OK);
    };
    link(src1, t1);
    link(t1, t2);
    link(t2, sink1);
    link(src2, sink2);
  }
  size_t Pos(const std::vector<std::string>& v, const std::string& s) {
    return static_cast<size_t>(std::find(v.begin(), v.end(), s) - v.begin());
  }
  // Every filter changed state after everything downstream of it.
  void ExpectDownstreamFirst(const std::string& what) {
    auto v = log->EndingWith(":" + what);
    ASSERT_EQ(v.size(), 6u) << what;
    EXPECT_LT(Pos(v, "sink1:" + what), Pos(v, "t2:" + what));
    EXPECT_LT(Pos(v, "t2:" + what), Pos(v, "t1:" + what));
    EXPECT_LT(Pos(v, "t1:" + what), Pos(v, "src1:" + what));
    EXPECT_LT(Pos(v, "sink2:" + what), Pos(v, "src2:" + what));
  }
};

TEST(GraphState, FiltersChangeStateDownstreamFirst) {
  ComPtr<IGraphBuilder> g = NewGraph();
  TwoChains c(g.Get());
  ComPtr<IMediaControl> mc = g.As<IMediaControl>();
  ASSERT_EQ(mc->Run(), S_OK);
  c.ExpectDownstreamFirst("Pause");
  c.ExpectDownstreamFirst("Run");
  OAFilterState fs;
  EXPECT_EQ(mc->GetState(0, &fs), S_OK);
  EXPECT_EQ(fs, State_Running);
  ASSERT_EQ(mc->Stop(), S_OK);
  c.ExpectDownstreamFirst("Stop");
  EXPECT_EQ(mc->GetState(0, &fs), S_OK);
  EXPECT_EQ(fs, State_Stopped);
}

TEST(GraphState, RunGivesEveryFilterOneStartTimeJustAheadOfTheClock) {
  ComPtr<IGraphBuilder> g = NewGraph();
  TwoChains c(g.Get());
  ComPtr<IMediaControl> mc = g.As<IMediaControl>();
  ComPtr<IMediaFilter> mf = g.As<IMediaFilter>();
  ASSERT_EQ(mc->Pause(), S_OK);
  ComPtr<IReferenceClock> clock;
  ASSERT_EQ(mf->GetSyncSource(&clock), S_OK);
  ASSERT_TRUE(clock);  // the graph chose its system clock
  for (auto& f : c.filters) EXPECT_EQ(f->Clock(), clock.Get());
  REFERENCE_TIME before;
  clock->GetTime(&before);
  ASSERT_EQ(mc->Run(), S_OK);
  REFERENCE_TIME after;
  clock->GetTime(&after);
  REFERENCE_TIME start = c.filters[0]->RunStart();
  for (auto& f : c.filters) EXPECT_EQ(f->RunStart(), start);
  EXPECT_GT(start, before);
  EXPECT_LE(start, after + 10'000'000);  // within a second of the call
  mc->Stop();
}

TEST(GraphState, PausingKeepsStreamTimeWhereItWas) {
  ComPtr<IGraphBuilder> g = NewGraph();
  TwoChains c(g.Get());
  ComPtr<IMediaControl> mc = g.As<IMediaControl>();
  ASSERT_EQ(mc->Run(), S_OK);
  ComPtr<IReferenceClock> clock;
  ASSERT_EQ(g.As<IMediaFilter>()->GetSyncSource(&clock), S_OK);
  ASSERT_TRUE(clock);
  REFERENCE_TIME first = c.filters[0]->RunStart();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  REFERENCE_TIME beforePause, afterPause, beforeRun, afterRun;
  clock->GetTime(&beforePause);
  ASSERT_EQ(mc->Pause(), S_OK);
  clock->GetTime(&afterPause);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  clock->GetTime(&beforeRun);
  ASSERT_EQ(mc->Run(), S_OK);
  clock->GetTime(&afterRun);
  // The start moves on by the time spent paused, not by the time spent running, plus the 10 ms
  // lead every Run gives the filters before the next sample is due.
  constexpr REFERENCE_TIME kLead = 100'000;
  REFERENCE_TIME moved = c.filters[0]->RunStart() - first;
  EXPECT_GE(moved, beforeRun - afterPause + kLead);
  EXPECT_LE(moved, afterRun - beforePause + kLead);
  mc->Stop();
}

TEST(GraphState, AbortIsSeenByShouldOperationContinueUntilTheNextConnect) {
  ComPtr<IGraphBuilder> g = NewGraph();
  auto a = FakeFilter::Create("a"), b = FakeFilter::Create("b");
  FakePin* out = a->AddPin(PINDIR_OUTPUT, L"Out", {Rgb()});
  FakePin* in = b->AddPin(PINDIR_INPUT, L"In", {Rgb()});
  g->AddFilter(a.Get(), L"A");
  g->AddFilter(b.Get(), L"B");
  EXPECT_EQ(g->ShouldOperationContinue(), S_OK);
  EXPECT_EQ(g->Abort(), S_OK);
  EXPECT_EQ(g->ShouldOperationContinue(), S_FALSE);
  EXPECT_EQ(g->Connect(out, in), S_OK);
  EXPECT_EQ(g->ShouldOperationContinue(), S_OK);
}

TEST(GraphState, AFailedPauseLeavesEveryFilterStopped) {
  ComPtr<IGraphBuilder> g = NewGraph();
  TwoChains c(g.Get());
  c.filters[4]->pauseResult = E_OUTOFMEMORY;  // t1
  ComPtr<IMediaControl> mc = g.As<IMediaControl>();
  EXPECT_EQ(mc->Run(), E_OUTOFMEMORY);
  for (auto& f : c.filters) {
    FILTER_STATE s;
    f->GetState(0, &s);
    EXPECT_EQ(s, State_Stopped) << f->Label();
  }
  OAFilterState fs;
  mc->GetState(0, &fs);
  EXPECT_EQ(fs, State_Stopped);
}

TEST(GraphState, HostCanRunWithoutAClock) {
  ComPtr<IGraphBuilder> g = NewGraph();
  TwoChains c(g.Get());
  ComPtr<IMediaFilter> mf = g.As<IMediaFilter>();
  ASSERT_EQ(mf->SetSyncSource(nullptr), S_OK);
  ComPtr<IMediaControl> mc = g.As<IMediaControl>();
  ASSERT_EQ(mc->Run(), S_OK);
  for (auto& f : c.filters) EXPECT_EQ(f->Clock(), nullptr);
  ComPtr<IReferenceClock> clock;
  mf->GetSyncSource(&clock);
  EXPECT_FALSE(clock);
  mc->Stop();
}

// ---- Events ----

struct EventGraph : TwoChains {
  explicit EventGraph(IGraphBuilder* g) : TwoChains(g) {
    me = ComPtr<IGraphBuilder>(g).As<IMediaEventEx>();
    mc = ComPtr<IGraphBuilder>(g).As<IMediaControl>();
  }
  FakeFilter* Named(const std::string& label) {
    for (auto& f : filters)
      if (f->Label() == label) return f.Get();
    return nullptr;
  }
  HRESULT Complete(const std::string& label) {
    FakeFilter* f = Named(label);
    return f->NotifyGraph(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(f)));
  }
  std::vector<LONG> Drain() {
    std::vector<LONG> codes;
    LONG code;
    LONG_PTR p1, p2;
    while (me->GetEvent(&code, &p1, &p2, 0) == S_OK) codes.push_back(code);
    return codes;
  }
  ComPtr<IMediaEventEx> me;
  ComPtr<IMediaControl> mc;
};

TEST(GraphEvents, CompleteIsPostedOnceWhenEveryRendererHasFinished) {
  ComPtr<IGraphBuilder> g = NewGraph();
  EventGraph e(g.Get());
  ASSERT_EQ(e.mc->Run(), S_OK);
  LONG code = -1;
  EXPECT_EQ(e.me->WaitForCompletion(0, &code), E_ABORT);
  EXPECT_EQ(e.Complete("sink1"), S_OK);
  EXPECT_EQ(e.me->WaitForCompletion(20, &code), E_ABORT);
  EXPECT_TRUE(e.Drain().empty());  // the first renderer's completion is held back
  EXPECT_EQ(e.Complete("sink1"), S_OK);  // twice from one renderer counts once
  EXPECT_TRUE(e.Drain().empty());
  EXPECT_EQ(e.Complete("sink2"), S_OK);
  EXPECT_EQ(e.me->WaitForCompletion(1000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_EQ(e.Drain(), (std::vector<LONG>{EC_COMPLETE}));
  // A new run waits again.
  e.mc->Stop();
  e.mc->Run();
  EXPECT_EQ(e.me->WaitForCompletion(0, &code), E_ABORT);
  e.Complete("sink2");
  e.Complete("sink1");
  EXPECT_EQ(e.Drain(), (std::vector<LONG>{EC_COMPLETE}));
  e.mc->Stop();
}

TEST(GraphEvents, OtherEventsReachTheHostInOrderWithTheirParameters) {
  ComPtr<IGraphBuilder> g = NewGraph();
  EventGraph e(g.Get());
  OAEVENT h = 0;
  ASSERT_EQ(e.me->GetEventHandle(&h), S_OK);
  CAMEvent* ready = CAMEvent::FromHandle(reinterpret_cast<HEVENT>(h));
  EXPECT_FALSE(ready->Wait(0));
  FakeFilter* t1 = e.Named("t1");
  t1->NotifyGraph(EC_USER + 13, 7, 7);
  t1->NotifyGraph(EC_QUALITY_CHANGE, 0, 0);
  t1->NotifyGraph(EC_USER + 14, -1, -1);
  EXPECT_TRUE(ready->Wait(0));
  LONG code;
  LONG_PTR p1, p2;
  ASSERT_EQ(e.me->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_USER + 13);
  EXPECT_EQ(p1, 7);
  EXPECT_EQ(p2, 7);
  EXPECT_EQ(e.me->FreeEventParams(code, p1, p2), S_OK);
  ASSERT_EQ(e.me->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_QUALITY_CHANGE);
  ASSERT_EQ(e.me->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_USER + 14);
  EXPECT_EQ(p1, -1);
  EXPECT_FALSE(ready->Wait(0));  // drained
  EXPECT_EQ(e.me->GetEvent(&code, &p1, &p2, 10), E_ABORT);
}

TEST(GraphEvents, ErrorAbortEndsTheWaitAndIsQueued) {
  ComPtr<IGraphBuilder> g = NewGraph();
  EventGraph e(g.Get());
  ASSERT_EQ(e.mc->Run(), S_OK);
  LONG code = 0;
  std::thread t([&] { e.Named("t2")->NotifyGraph(EC_ERRORABORT, E_FAIL, 0); });
  EXPECT_EQ(e.me->WaitForCompletion(5000, &code), S_OK);
  t.join();
  EXPECT_EQ(code, EC_ERRORABORT);
  LONG_PTR p1, p2;
  ASSERT_EQ(e.me->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_ERRORABORT);
  EXPECT_EQ(static_cast<HRESULT>(p1), E_FAIL);
  e.mc->Stop();
}

TEST(GraphEvents, WaitingForCompletionOfAStoppedGraphFailsAndStopWakesAWaiter) {
  ComPtr<IGraphBuilder> g = NewGraph();
  EventGraph e(g.Get());
  LONG code;
  EXPECT_EQ(e.me->WaitForCompletion(-1, &code), VFW_E_WRONG_STATE);
  ASSERT_EQ(e.mc->Run(), S_OK);
  HRESULT waited = S_OK;
  std::thread t([&] { waited = e.me->WaitForCompletion(-1, &code); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  e.mc->Stop();
  t.join();
  EXPECT_EQ(waited, VFW_E_WRONG_STATE);
}

TEST(GraphEvents, WithDefaultHandlingCancelledEachRendererCompletionPassesThrough) {
  ComPtr<IGraphBuilder> g = NewGraph();
  EventGraph e(g.Get());
  ASSERT_EQ(e.me->CancelDefaultHandling(EC_COMPLETE), S_OK);
  e.mc->Run();
  e.Complete("sink1");
  LONG code;
  LONG_PTR p1, p2;
  ASSERT_EQ(e.me->GetEvent(&code, &p1, &p2, 0), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_EQ(p2, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(e.Named("sink1"))));
  e.mc->Stop();
}

TEST(GraphEvents, AGraphWithoutRenderersCompletesAsSoonAsItRuns) {
  ComPtr<IGraphBuilder> g = NewGraph();
  auto lone = FakeFilter::Create("lone");
  lone->AddPin(PINDIR_OUTPUT, L"Out", {Rgb()});
  g->AddFilter(lone.Get(), L"Lone");
  ComPtr<IMediaControl> mc = g.As<IMediaControl>();
  ComPtr<IMediaEventEx> me = g.As<IMediaEventEx>();
  mc->Run();
  LONG code;
  EXPECT_EQ(me->WaitForCompletion(1000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  mc->Stop();
}

}  // namespace

// Graphs of streaming filters built and run through the graph manager as a host does.
#include <gtest/gtest.h>

#include "platform/com/runtime.h"
#include "platform/graph/diagnostics.h"
#include "support_filters.h"
#include "tests/support/harness.h"

using namespace graphtest;

namespace {

struct Host {
  Host() {
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.AsOut()), S_OK);
    control = graph.As<IMediaControl>();
    events = graph.As<IMediaEventEx>();
  }
  template <class T>
  T* Add(ComPtr<T> f, const wchar_t* name) {
    EXPECT_TRUE(SUCCEEDED(graph->AddFilter(f.Get(), name)));
    return f.Get();
  }
  LONG Wait() {
    LONG code = 0;
    EXPECT_EQ(events->WaitForCompletion(20000, &code), S_OK);
    return code;
  }
  // The queued events, oldest first.
  std::vector<std::pair<LONG, LONG_PTR>> Drain() {
    std::vector<std::pair<LONG, LONG_PTR>> out;
    LONG code;
    LONG_PTR p1, p2;
    while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) out.emplace_back(code, p1);
    return out;
  }
  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
};

TEST(GraphStreaming, SourceCopyInPlaceRendererRunsToCompletion) {
  Host h;
  auto* src = h.Add(Make<FrameSource>(plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, 320, 240, 24), 30), L"Source");
  auto* copy = h.Add(Make<CopyFilter>(), L"Copy");
  auto* pass = h.Add(Make<PassFilter>(), L"Pass");
  auto* sink = h.Add(Make<CountingRenderer>(), L"Renderer");
  ASSERT_EQ(h.graph->Connect(src->Output(), PinAt(copy, 0).Get()), S_OK);
  ASSERT_EQ(h.graph->Connect(PinAt(copy, 1).Get(), PinAt(pass, 0).Get()), S_OK);
  ASSERT_EQ(h.graph->Connect(PinAt(pass, 1).Get(), sink->Input()), S_OK);

  for (int run = 0; run < 2; ++run) {
    ASSERT_EQ(h.control->Run(), S_OK);
    EXPECT_EQ(h.Wait(), EC_COMPLETE);
    EXPECT_EQ(sink->rendered.load(), 30 * (run + 1));
    EXPECT_EQ(sink->outOfOrder.load(), 0);
    EXPECT_EQ(copy->transformed.load(), 30);
    auto events = h.Drain();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].first, EC_COMPLETE);
    // Stopping rewinds the source: the second run plays the same frames again.
    ASSERT_EQ(h.control->Stop(), S_OK);
  }
  // Every connection carries the source's type.
  std::string dot = plenor::graph::GraphToDot(h.graph.Get());
  EXPECT_NE(dot.find("Video RGB24 VideoInfo 320x240 24-bit"), std::string::npos) << dot;
  EXPECT_NE(dot.find("Renderer"), std::string::npos) << dot;
}

TEST(GraphStreaming, ATransformFailureReachesTheHostAsErrorAbort) {
  Host h;
  auto* src = h.Add(Make<FrameSource>(plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, 64, 48, 24), -1), L"Source");
  auto* copy = h.Add(Make<CopyFilter>(5), L"Copy");
  auto* sink = h.Add(Make<CountingRenderer>(), L"Renderer");
  ASSERT_EQ(h.graph->Connect(src->Output(), PinAt(copy, 0).Get()), S_OK);
  ASSERT_EQ(h.graph->Connect(PinAt(copy, 1).Get(), sink->Input()), S_OK);
  ASSERT_EQ(h.control->Run(), S_OK);
  EXPECT_EQ(h.Wait(), EC_ERRORABORT);
  bool sawError = false;
  for (auto& [code, p1] : h.Drain())
    if (code == EC_ERRORABORT) {
      sawError = true;
      EXPECT_EQ(static_cast<HRESULT>(p1), E_FAIL);
    }
  EXPECT_TRUE(sawError);
  EXPECT_EQ(sink->rendered.load(), 5);
  EXPECT_EQ(h.control->Stop(), S_OK);
}

TEST(GraphStreaming, ASourceFailureReachesTheHostAsErrorAbort) {
  Host h;
  auto* src = h.Add(Make<FrameSource>(plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, 64, 48, 24), -1, 2, 3), L"Source");
  auto* sink = h.Add(Make<CountingRenderer>(), L"Renderer");
  ASSERT_EQ(h.graph->Connect(src->Output(), sink->Input()), S_OK);
  ASSERT_EQ(h.control->Run(), S_OK);
  // The source ends the stream before it reports the failure, so the renderer's completion may
  // come first; the failure follows with the source's code.
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  while (code != EC_ERRORABORT && h.events->GetEvent(&code, &p1, &p2, 10000) == S_OK) {
  }
  EXPECT_EQ(code, EC_ERRORABORT);
  EXPECT_EQ(static_cast<HRESULT>(p1), E_FAIL);
  EXPECT_EQ(sink->rendered.load(), 3);
  EXPECT_EQ(h.control->Stop(), S_OK);
}

TEST(GraphStreaming, AFailedConnectionBetweenRealFiltersIsExplained) {
  Host h;
  auto* src = h.Add(Make<FrameSource>(plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, 64, 48, 24), 1), L"Source");
  auto* sink = h.Add(Make<CountingRenderer>(MEDIASUBTYPE_RGB32), L"Renderer");
  HRESULT hr = h.graph->Connect(src->Output(), sink->Input());
  ASSERT_TRUE(FAILED(hr));
  LPSTR text = nullptr;
  ASSERT_EQ(h.graph.As<IGraphDiagnostics>()->GetLastConnectionReport(&text), S_OK);
  std::string report = text;
  CoTaskMemFree(text);
  EXPECT_NE(report.find("\"Source\".Out -> \"Renderer\".In failed"), std::string::npos) << report;
  EXPECT_NE(report.find("1. Video RGB24 VideoInfo 64x48 24-bit 30 fps: refused by input pin \"Renderer\".In QueryAccept"),
            std::string::npos)
      << report;
}

TEST(GraphStreaming, SeekingReachesTheSourceThroughThePins) {
  Host h;
  auto* src = h.Add(Make<FrameSource>(plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, 64, 48, 24, BI_RGB, 400000), 10), L"Source");
  auto* pass = h.Add(Make<PassFilter>(), L"Pass");
  auto* sink = h.Add(Make<CountingRenderer>(), L"Renderer");
  ASSERT_EQ(h.graph->Connect(src->Output(), PinAt(pass, 0).Get()), S_OK);
  ASSERT_EQ(h.graph->Connect(PinAt(pass, 1).Get(), sink->Input()), S_OK);
  ComPtr<IMediaSeeking> seek = h.graph.As<IMediaSeeking>();
  ASSERT_TRUE(seek);
  // The renderer and the in-place filter pass the questions up to the source's pin.
  LONGLONG duration = 0;
  ASSERT_EQ(seek->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 10 * 400000);
  DWORD caps = 0;
  ASSERT_EQ(seek->GetCapabilities(&caps), S_OK);
  EXPECT_TRUE(caps & AM_SEEKING_CanSeekAbsolute);

  LONGLONG target = 6 * 400000;
  ASSERT_EQ(seek->SetPositions(&target, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
  LONGLONG pos = -1;
  EXPECT_EQ(seek->GetCurrentPosition(&pos), S_OK);
  EXPECT_EQ(pos, target);
  ASSERT_EQ(h.control->Run(), S_OK);
  EXPECT_EQ(h.Wait(), EC_COMPLETE);
  EXPECT_EQ(sink->rendered.load(), 4);  // frames 6 to 9
  EXPECT_EQ(seek->GetCurrentPosition(&pos), S_OK);
  EXPECT_GE(pos, target);
  EXPECT_LE(pos, duration);
  h.control->Stop();
  EXPECT_EQ(seek->GetCurrentPosition(&pos), S_OK);
  EXPECT_EQ(pos, 0);
}

// The in-place base asks the graph to reconnect its input when its output agreed on another
// type; the graph re-makes the upstream connection with the output's type, synchronously, from
// inside the output's connection.
TEST(GraphStreaming, AnInPlaceFilterEndsWithTheDownstreamTypeOnBothSides) {
  Host h;
  CMediaType rgb24 = plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, 32, 16, 24);
  CMediaType rgb32 = plenor::test::MakeVideoType(MEDIASUBTYPE_RGB32, 32, 16, 32);
  auto* push = h.Add(plenor::test::PushSource::Create({.offeredTypes = {rgb24, rgb32}, .bufferSize = 32 * 16 * 4}),
                     L"Push");
  auto* pass = h.Add(Make<PassFilter>(), L"Pass");
  auto* sink = h.Add(plenor::test::TestSink::Create({.acceptedTypes = {rgb32}, .offeredTypes = {rgb32}}), L"Sink");
  ASSERT_EQ(h.graph->Connect(push->OutputPin(), PinAt(pass, 0).Get()), S_OK);
  AM_MEDIA_TYPE mt{};
  ASSERT_EQ(push->OutputPin()->ConnectionMediaType(&mt), S_OK);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_RGB24);  // the source's first offer
  FreeMediaType(mt);

  ASSERT_EQ(h.graph->Connect(PinAt(pass, 1).Get(), sink->InputPin()), S_OK);
  for (IPin* pin : {push->OutputPin(), PinAt(pass, 0).Get(), PinAt(pass, 1).Get(), sink->InputPin()}) {
    ASSERT_EQ(pin->ConnectionMediaType(&mt), S_OK);
    EXPECT_EQ(mt.subtype, MEDIASUBTYPE_RGB32);
    FreeMediaType(mt);
  }
  ASSERT_EQ(h.control->Run(), S_OK);
  EXPECT_EQ(push->PushBytes(std::vector<BYTE>(32 * 16 * 4, 7), 0, 400000), S_OK);
  EXPECT_EQ(sink->SampleCount(), 1u);
  EXPECT_EQ(pass->passed.load(), 1);
  h.control->Stop();
}

}  // namespace

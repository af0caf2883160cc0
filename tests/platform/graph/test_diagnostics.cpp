// Negotiation diagnostics and the DOT drawing of a graph, with minimal filters.
#include <gtest/gtest.h>

#include "platform/com/runtime.h"
#include "platform/graph/diagnostics.h"
#include "support_fakes.h"
#include "tests/support/harness.h"

using fakes::FakeFilter;
using fakes::FakePin;
using plenor::graph::ConnectionReport;

namespace {

ComPtr<IGraphBuilder> NewGraph() {
  ComPtr<IGraphBuilder> g;
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, g.AsOut()), S_OK);
  return g;
}

std::string TakeText(LPSTR p) {
  std::string s = p ? p : "";
  CoTaskMemFree(p);
  return s;
}

TEST(MediaTypeText, NamesVideoAndAudioDetails) {
  EXPECT_EQ(plenor::graph::DescribeMediaType(plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, 320, -240, 24)),
            "Video RGB24 VideoInfo 320x-240 24-bit 30 fps");
  EXPECT_EQ(plenor::graph::DescribeMediaType(fakes::AudioType(48000, 2, 16)),
            "Audio PCM WaveFormatEx 48000 Hz 2 ch 16-bit");
  // An unknown subtype appears as its GUID; a format block too short is said so, not read.
  CMediaType odd(&MEDIATYPE_Video);
  GUID sub = {0x12345678, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};
  odd.SetSubtype(&sub);
  odd.SetFormatType(&FORMAT_VideoInfo);
  BYTE few[10] = {};
  odd.SetFormat(few, sizeof few);
  std::string text = plenor::graph::DescribeMediaType(odd);
  EXPECT_NE(text.find("{12345678-0001-0002-0304-05060708090A}"), std::string::npos) << text;
  EXPECT_NE(text.find("format block too short: 10 bytes"), std::string::npos) << text;
  plenor::graph::MediaTypeSummary s = plenor::graph::SummarizeMediaType(odd);
  EXPECT_FALSE(s.hasVideo);
}

struct Mismatch {
  Mismatch() {
    g = NewGraph();
    src = FakeFilter::Create("src");
    sink = FakeFilter::Create("sink");
    out = src->AddPin(PINDIR_OUTPUT, L"Video Out",
                      {plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, 640, 480, 24), fakes::AudioType(44100, 1, 8)});
    in = sink->AddPin(PINDIR_INPUT, L"In", {plenor::test::MakeVideoType(MEDIASUBTYPE_I420, 640, 480, 12)});
    g->AddFilter(src.Get(), L"Camera");
    g->AddFilter(sink.Get(), L"Encoder");
  }
  ComPtr<IGraphBuilder> g;
  ComPtr<FakeFilter> src, sink;
  FakePin* out;
  FakePin* in;
};

TEST(ConnectionDiagnostics, AFailedConnectionNamesEveryTypeOfBothSidesAndWhoRefusedIt) {
  Mismatch m;
  HRESULT hr = m.g->Connect(m.out, m.in);
  ASSERT_TRUE(FAILED(hr));

  ConnectionReport r = plenor::graph::DiagnoseConnection(m.out, m.in);
  EXPECT_EQ(r.outputFilter, "Camera");
  EXPECT_EQ(r.outputPin, "Video Out");
  EXPECT_EQ(r.inputFilter, "Encoder");
  ASSERT_EQ(r.offeredByOutput.size(), 2u);
  ASSERT_EQ(r.offeredByInput.size(), 1u);
  EXPECT_EQ(r.offeredByOutput[0].result, S_FALSE);
  EXPECT_EQ(r.offeredByOutput[0].type.width, 640);
  EXPECT_EQ(r.offeredByOutput[1].type.samplesPerSec, 44100u);
  EXPECT_EQ(r.offeredByInput[0].result, S_FALSE);
  EXPECT_EQ(r.offeredByInput[0].type.bitCount, 12);
  EXPECT_TRUE(r.AgreeableTypes().empty());

  // The graph kept the report of the failure, with the connection's result.
  ComPtr<IGraphDiagnostics> diag = m.g.As<IGraphDiagnostics>();
  ASSERT_TRUE(diag);
  LPSTR p = nullptr;
  ASSERT_EQ(diag->GetLastConnectionReport(&p), S_OK);
  std::string text = TakeText(p);
  EXPECT_NE(text.find("\"Camera\".Video Out -> \"Encoder\".In failed: "), std::string::npos) << text;
  EXPECT_NE(text.find(plenor::graph::DescribeResult(hr)), std::string::npos) << text;
  EXPECT_NE(text.find("Video RGB24 VideoInfo 640x480 24-bit"), std::string::npos) << text;
  EXPECT_NE(text.find("Audio PCM WaveFormatEx 44100 Hz 1 ch 8-bit"), std::string::npos) << text;
  EXPECT_NE(text.find("Video I420 VideoInfo 640x480 12-bit"), std::string::npos) << text;
  EXPECT_NE(text.find("refused by input pin \"Encoder\".In QueryAccept: S_FALSE"), std::string::npos) << text;
  EXPECT_NE(text.find("refused by output pin \"Camera\".Video Out QueryAccept: S_FALSE"), std::string::npos) << text;
}

TEST(ConnectionDiagnostics, TypesBothSidesAcceptPointPastTheTypeCheck) {
  Mismatch m;
  // The input now takes RGB24 but refuses to complete any connection.
  CMediaType rgb = plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, 640, 480, 24);
  m.in->accept = [&](const AM_MEDIA_TYPE& t) { return CMediaType(t) == rgb; };
  m.in->onConnected = [](FakePin*) -> HRESULT { return VFW_E_NO_ALLOCATOR; };
  HRESULT hr = m.g->ConnectDirect(m.out, m.in, nullptr);
  ASSERT_TRUE(FAILED(hr));
  ComPtr<IGraphDiagnostics> diag = m.g.As<IGraphDiagnostics>();
  LPSTR p = nullptr;
  ASSERT_EQ(diag->GetLastConnectionReport(&p), S_OK);
  std::string text = TakeText(p);
  EXPECT_NE(text.find(plenor::graph::DescribeResult(hr)), std::string::npos) << text;
  EXPECT_NE(text.find("Accepted by both pins: Video RGB24"), std::string::npos) << text;
}

TEST(ConnectionDiagnostics, AGraphWithoutFailuresHasNoReport) {
  ComPtr<IGraphBuilder> g = NewGraph();
  ComPtr<IGraphDiagnostics> diag = g.As<IGraphDiagnostics>();
  LPSTR p = nullptr;
  EXPECT_EQ(diag->GetLastConnectionReport(&p), S_FALSE);
  EXPECT_EQ(TakeText(p), "");
}

TEST(ConnectionDiagnostics, NotesPinsThatCannotBeConnectedAtAll) {
  Mismatch m;
  ConnectionReport r = plenor::graph::DiagnoseConnection(m.in, m.out);
  std::string text = r.ToText();
  EXPECT_NE(text.find("\"In\" is not an output pin"), std::string::npos) << text;
  EXPECT_NE(text.find("\"Video Out\" is not an input pin"), std::string::npos) << text;
}

TEST(GraphDot, DrawsFiltersPinsAndAgreedTypes) {
  ComPtr<IGraphBuilder> g = NewGraph();
  auto src = FakeFilter::Create("src"), mid = FakeFilter::Create("mid"), sink = FakeFilter::Create("sink");
  CMediaType rgb = plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, 176, 144, 24);
  FakePin* so = src->AddPin(PINDIR_OUTPUT, L"Out", {rgb});
  FakePin* mi = mid->AddPin(PINDIR_INPUT, L"In", {rgb});
  FakePin* mo = mid->AddPin(PINDIR_OUTPUT, L"Out", {rgb});
  FakePin* si = sink->AddPin(PINDIR_INPUT, L"In <main>", {rgb});
  g->AddFilter(src.Get(), L"Source \"A\"");
  g->AddFilter(mid.Get(), L"Middle");
  g->AddFilter(sink.Get(), L"Sink");
  ASSERT_EQ(g->ConnectDirect(so, mi, nullptr), S_OK);
  ASSERT_EQ(g->ConnectDirect(mo, si, nullptr), S_OK);

  std::string dot = plenor::graph::GraphToDot(g.Get());
  EXPECT_EQ(dot.rfind("digraph", 0), 0u) << dot;
  EXPECT_NE(dot.find("f0 [label=\"{{}|Source \\\"A\\\"|{<p0> Out}}\"];"), std::string::npos) << dot;
  EXPECT_NE(dot.find("f1 [label=\"{{<p0> In}|Middle|{<p1> Out}}\"];"), std::string::npos) << dot;
  EXPECT_NE(dot.find("In \\<main\\>"), std::string::npos) << dot;
  EXPECT_NE(dot.find("f0:p0 -> f1:p0 [label=\"Video RGB24 VideoInfo 176x144 24-bit 30 fps\"];"), std::string::npos)
      << dot;
  EXPECT_NE(dot.find("f1:p1 -> f2:p0"), std::string::npos) << dot;
  EXPECT_EQ(dot.back(), '\n');

  // The same drawing through the graph's diagnostics interface.
  ComPtr<IGraphDiagnostics> diag = g.As<IGraphDiagnostics>();
  LPSTR p = nullptr;
  ASSERT_EQ(diag->GetDot(&p), S_OK);
  EXPECT_EQ(TakeText(p), dot);
}

}  // namespace

// Connect inserts an intermediate filter found through the filter mapper: a registered test
// module's RGB32 -> RGB24 converter between an RGB32 source and an RGB24-only renderer.
#include <gtest/gtest.h>

#include "platform/com/runtime.h"
#include "platform/graph/diagnostics.h"
#include "platform/strmbase/dllentry.h"
#include "support_filters.h"
#include "tests/support/harness.h"
#include "tests/platform/graph/converter/converter.h"

using namespace graphtest;

namespace {

class GraphIntermediate : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Registered once per process (each test binary has its own registry).
    std::string error;
    HMODULE m = LoadLibrary(PLENOR_GRAPH_CONVERTER_PATH, &error);
    ASSERT_TRUE(m) << error;
    auto reg = reinterpret_cast<PFN_DllRegisterServer>(GetProcAddress(m, "DllRegisterServer"));
    ASSERT_TRUE(reg);
    ASSERT_EQ(reg(), S_OK);
    FreeLibrary(m);
  }
  void SetUp() override {
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.AsOut()),
              S_OK);
  }
  std::vector<std::wstring> FilterNames() {
    std::vector<std::wstring> names;
    ComPtr<IEnumFilters> e;
    graph->EnumFilters(&e);
    IBaseFilter* f = nullptr;
    ULONG got = 0;
    while (e->Next(1, &f, &got) == S_OK) {
      FILTER_INFO info{};
      f->QueryFilterInfo(&info);
      if (info.pGraph) info.pGraph->Release();
      names.push_back(info.achName);
      f->Release();
    }
    return names;
  }
  ComPtr<IGraphBuilder> graph;
};

TEST_F(GraphIntermediate, ConnectInsertsTheRegisteredConverterAndTheGraphRuns) {
  auto src = Make<FrameSource>(plenor::test::MakeVideoType(MEDIASUBTYPE_RGB32, 64, 48, 32), 12);
  auto sink = Make<CountingRenderer>(MEDIASUBTYPE_RGB24);
  graph->AddFilter(src.Get(), L"Source");
  graph->AddFilter(sink.Get(), L"Renderer");
  // No direct connection is possible: the renderer refuses RGB32.
  CMediaType rgb32 = plenor::test::MakeVideoType(MEDIASUBTYPE_RGB32, 64, 48, 32);
  EXPECT_TRUE(FAILED(graph->ConnectDirect(src->Output(), sink->Input(), &rgb32)));

  ASSERT_EQ(graph->Connect(src->Output(), sink->Input()), S_OK);
  std::vector<std::wstring> names = FilterNames();
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[2], kGraphTestConverterName);

  // The renderer sees the converter's RGB24 of the same size.
  AM_MEDIA_TYPE mt{};
  ASSERT_EQ(sink->Input()->ConnectionMediaType(&mt), S_OK);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_RGB24);
  ASSERT_GE(mt.cbFormat, sizeof(VIDEOINFOHEADER));
  EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biWidth, 64);
  FreeMediaType(mt);

  ComPtr<IMediaControl> mc = graph.As<IMediaControl>();
  ASSERT_EQ(mc->Run(), S_OK);
  LONG code = 0;
  ASSERT_EQ(graph.As<IMediaEventEx>()->WaitForCompletion(20000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  EXPECT_EQ(sink->rendered.load(), 12);
  mc->Stop();
}

TEST_F(GraphIntermediate, ACandidateThatCannotCompleteTheChainIsRemovedAgain) {
  auto src = Make<FrameSource>(plenor::test::MakeVideoType(MEDIASUBTYPE_RGB32, 64, 48, 32), 1);
  auto sink = Make<CountingRenderer>(MEDIASUBTYPE_I420);
  graph->AddFilter(src.Get(), L"Source");
  graph->AddFilter(sink.Get(), L"Renderer");
  EXPECT_EQ(graph->Connect(src->Output(), sink->Input()), VFW_E_CANNOT_CONNECT);
  EXPECT_EQ(FilterNames().size(), 2u);
  ComPtr<IPin> peer;
  EXPECT_EQ(src->Output()->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
  // The report explains the direct attempt and carries the final result.
  LPSTR text = nullptr;
  ASSERT_EQ(graph.As<IGraphDiagnostics>()->GetLastConnectionReport(&text), S_OK);
  std::string report = text;
  CoTaskMemFree(text);
  EXPECT_NE(report.find("VFW_E_CANNOT_CONNECT"), std::string::npos) << report;
  EXPECT_NE(report.find("Video RGB32 VideoInfo 64x48 32-bit"), std::string::npos) << report;
}

TEST_F(GraphIntermediate, RenderFindsTheConverterForAnUnconnectedOutputOnlyWhenItLeadsSomewhere) {
  auto src = Make<FrameSource>(plenor::test::MakeVideoType(MEDIASUBTYPE_RGB32, 64, 48, 32), 1);
  graph->AddFilter(src.Get(), L"Source");
  // The converter is registered, but nothing can take its RGB24 output: nothing is left behind.
  EXPECT_EQ(graph->Render(src->Output()), VFW_E_CANNOT_RENDER);
  EXPECT_EQ(FilterNames().size(), 1u);
  // With an RGB24 renderer in the graph, Render goes through the converter to it.
  auto sink = Make<CountingRenderer>(MEDIASUBTYPE_RGB24);
  graph->AddFilter(sink.Get(), L"Renderer");
  EXPECT_EQ(graph->Render(src->Output()), S_OK);
  ComPtr<IPin> peer;
  EXPECT_EQ(sink->Input()->ConnectedTo(&peer), S_OK);
  EXPECT_EQ(FilterNames().size(), 3u);
}

}  // namespace

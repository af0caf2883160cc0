// A harness chain for the mixing filters: two push sources -> filter -> recording sink on a fake
// graph, with the inputs' types, optional parameters set before connecting and an optional type
// for the output connection.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "framework/settings.h"
#include "platform/strmbase/mtype.h"
#include "tests/support/harness.h"

namespace comptest {

using Params = std::vector<std::pair<std::string, std::string>>;

template <class Filter>
struct MixChain {
  // A null type leaves that input unconnected.
  MixChain(const CMediaType* in0, const CMediaType* in1, const Params& params = {}, const CMediaType* outType = nullptr)
      : graph(plenor::test::FakeGraph::Create()), filter(plenor::test::MakeObject<Filter>()),
        sink(plenor::test::TestSink::Create({})) {
    const CMediaType* types[2] = {in0, in1};
    for (int i = 0; i < 2; ++i) {
      const LONG size = types[i] ? static_cast<LONG>(types[i]->GetSampleSize()) : 16;
      push[i] = plenor::test::PushSource::Create(
          {.offeredTypes = types[i] ? std::vector<CMediaType>{*types[i]} : std::vector<CMediaType>{},
           .bufferSize = size > 0 ? size : 16});
      graph->AddFilter(push[i].Get(), i == 0 ? L"push0" : L"push1");
    }
    graph->AddFilter(Base(), L"mixer");
    graph->AddFilter(sink.Get(), L"sink");
    filter->SetEventSink(static_cast<IMediaEventSink*>(graph.Get()));
    for (const auto& [name, value] : params) paramResults.push_back(filter->SetParameter(name.c_str(), value.c_str()));
    for (int i = 0; i < 2; ++i)
      if (types[i]) inputConnect[i] = graph->Connect(push[i]->OutputPin(), plenor::test::PinOf(Base(), i).Get(), types[i]);
    outputConnect = graph->Connect(plenor::test::PinOf(Base(), 2).Get(), sink->InputPin(), outType);
    if (SUCCEEDED(outputConnect)) graph->Run();
  }
  ~MixChain() {
    filter->SetEventSink(nullptr);
    graph->TearDown();
  }
  IBaseFilter* Base() { return static_cast<IBaseFilter*>(filter.Get()); }
  std::string Get(const char* name) {
    char value[256];
    int length = 0;
    return SUCCEEDED(filter->GetParameter(name, sizeof value, value, &length)) ? value : "<unknown>";
  }
  CMediaType OutputType() { return plenor::test::ConnectionType(sink->InputPin()); }
  // Pushes a frame on input i; the bytes of the output it produced (empty when none).
  std::vector<BYTE> Push(int i, const std::vector<BYTE>& frame, REFERENCE_TIME start = 0) {
    const size_t before = sink->SampleCount();
    lastPush = push[i]->PushBytes(frame, start, start + 1);
    std::vector<plenor::test::ReceivedSample> samples = sink->Samples();
    return samples.size() > before ? samples.back().data : std::vector<BYTE>{};
  }

  ComPtr<plenor::test::FakeGraph> graph;
  ComPtr<plenor::test::PushSource> push[2];
  ComPtr<Filter> filter;
  ComPtr<plenor::test::TestSink> sink;
  std::vector<HRESULT> paramResults;
  HRESULT inputConnect[2] = {E_FAIL, E_FAIL};
  HRESULT outputConnect = E_FAIL;
  HRESULT lastPush = E_FAIL;
};

}  // namespace comptest

// A one-input, one-output filter under test between a push source and a recording sink on a fake
// graph: connected with the input type and running. The filter's status object reports to the
// graph (so its events are recorded).
#pragma once

#include <utility>
#include <vector>

#include "tests/support/harness.h"

namespace plenor::test {

template <class Filter>
struct FilterChain {
  FilterChain(ComPtr<Filter> f, const CMediaType& input, LONG pushBufferSize, SinkOptions sinkOptions,
              const wchar_t* filterName)
      : graph(FakeGraph::Create()),
        push(PushSource::Create({.offeredTypes = {input}, .bufferSize = pushBufferSize})),
        filter(std::move(f)),
        sink(TestSink::Create(sinkOptions)) {
    graph->AddFilter(push.Get(), L"push");
    graph->AddFilter(Base(), filterName);
    graph->AddFilter(sink.Get(), L"sink");
    filter->SetEventSink(static_cast<IMediaEventSink*>(graph.Get()));
    inputConnect = graph->Connect(push->OutputPin(), PinOf(Base(), 0).Get(), &input);
    if (SUCCEEDED(inputConnect)) outputConnect = graph->Connect(PinOf(Base(), 1).Get(), sink->InputPin());
    if (SUCCEEDED(outputConnect)) graph->Run();
  }
  ~FilterChain() {
    filter->SetEventSink(nullptr);
    graph->TearDown();
  }
  FilterChain(const FilterChain&) = delete;
  FilterChain& operator=(const FilterChain&) = delete;

  IBaseFilter* Base() { return static_cast<IBaseFilter*>(filter.Get()); }
  // The type the sink was connected with.
  CMediaType OutputType() { return ConnectionType(sink->InputPin()); }
  // Pushes bytes as one sample (times 0 to 1); the push result. *received: the bytes the sink
  // received for it (empty when none arrived); *delivered: whether any arrived.
  HRESULT PushBytes(const std::vector<BYTE>& bytes, std::vector<BYTE>* received = nullptr, bool* delivered = nullptr) {
    const size_t before = sink->SampleCount();
    HRESULT hr = push->PushBytes(bytes, 0, 1);
    std::vector<ReceivedSample> samples = sink->Samples();
    if (delivered) *delivered = samples.size() > before;
    if (received) *received = samples.size() > before ? samples.back().data : std::vector<BYTE>{};
    return hr;
  }

  ComPtr<FakeGraph> graph;
  ComPtr<PushSource> push;
  ComPtr<Filter> filter;
  ComPtr<TestSink> sink;
  HRESULT inputConnect = E_FAIL;
  HRESULT outputConnect = E_FAIL;
};

}  // namespace plenor::test

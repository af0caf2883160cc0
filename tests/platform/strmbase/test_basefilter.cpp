// Base filter and pins: graph membership, events, pin enumeration across pin changes, pin
// information, connection bookkeeping and reference counting.
#include <gtest/gtest.h>

#include "platform/com/runtime.h"
#include "tests/support/harness.h"

using namespace plenor::test;

namespace {

class SecondPin : public CSourceStream {
 public:
  SecondPin(HRESULT* phr, CSource* pFilter) : CSourceStream(L"Second pin", phr, pFilter, L"Second") {}
  HRESULT FillBuffer(IMediaSample*) override { return S_FALSE; }
  HRESULT DecideBufferSize(IMemAllocator*, ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
};

TEST(BaseFilter, JoinsAGraphWithoutHoldingIt) {
  auto graph = FakeGraph::Create();
  auto sink = TestSink::Create({});
  EXPECT_EQ(E_NOTIMPL, sink->NotifyEvent(EC_USER, 1, 2));
  graph->AddFilter(sink.Get(), L"the sink");
  FILTER_INFO info{};
  ASSERT_EQ(S_OK, sink->QueryFilterInfo(&info));
  EXPECT_STREQ(L"the sink", info.achName);
  EXPECT_EQ(static_cast<IFilterGraph*>(graph.Get()), info.pGraph);
  info.pGraph->Release();
  EXPECT_EQ(S_OK, sink->NotifyEvent(EC_USER + 13, 5, 6));
  auto events = graph->Events();
  ASSERT_EQ(1u, events.size());
  EXPECT_EQ(EC_USER + 13, events[0].code);
  EXPECT_EQ(5, events[0].param1);
  EXPECT_EQ(6, events[0].param2);
  // The filter holds no reference on the graph: one AddRef/Release pair shows the count.
  graph->AddRef();
  EXPECT_EQ(1u, graph->Release());
  graph->TearDown();
  ASSERT_EQ(S_OK, sink->QueryFilterInfo(&info));
  EXPECT_EQ(nullptr, info.pGraph);
  EXPECT_EQ(E_NOTIMPL, sink->NotifyEvent(EC_USER, 0, 0));
}

TEST(BaseFilter, PinsShareTheFiltersReferenceCount) {
  auto sink = TestSink::Create({});
  IPin* pin = sink->InputPin();
  sink->AddRef();
  ULONG filterCount = sink->Release();
  pin->AddRef();
  sink->AddRef();
  EXPECT_EQ(filterCount + 2, sink->Release() + 1);
  pin->Release();
  ComPtr<IBaseFilter> viaPin;
  PIN_INFO info{};
  ASSERT_EQ(S_OK, pin->QueryPinInfo(&info));
  EXPECT_EQ(static_cast<IBaseFilter*>(sink.Get()), info.pFilter);
  EXPECT_EQ(PINDIR_INPUT, info.dir);
  EXPECT_STREQ(L"In", info.achName);
  info.pFilter->Release();
  LPWSTR id = nullptr;
  ASSERT_EQ(S_OK, pin->QueryId(&id));
  EXPECT_STREQ(L"In", id);
  CoTaskMemFree(id);
}

TEST(BaseFilter, PinEnumeratorNoticesAddedPins) {
  SourceOptions o;
  o.mediaType = MakeVideoType(MEDIASUBTYPE_RGB24, 2, 2, 24);
  auto source = TestSource::Create(o);
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(S_OK, source->EnumPins(&pins));
  HRESULT hr = S_OK;
  auto* second = new SecondPin(&hr, source.Get());
  IPin* got[2] = {};
  ULONG fetched = 7;
  EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Next(2, got, &fetched));
  EXPECT_EQ(0u, fetched);
  ASSERT_EQ(S_OK, pins->Reset());
  ASSERT_EQ(S_OK, pins->Next(2, got, &fetched));
  ASSERT_EQ(2u, fetched);
  EXPECT_EQ(source->OutputPin(), got[0]);
  EXPECT_EQ(static_cast<IPin*>(second), got[1]);
  got[0]->Release();
  got[1]->Release();
  ComPtr<IEnumPins> clone;
  ASSERT_EQ(S_OK, pins->Clone(&clone));
  EXPECT_EQ(S_FALSE, clone->Next(1, got, &fetched));
  EXPECT_EQ(0u, fetched);
  delete second;
  EXPECT_EQ(1, source->GetPinCount());
}

TEST(BaseFilter, ConnectionBookkeeping) {
  CMediaType type = MakeVideoType(MEDIASUBTYPE_RGB24, 2, 2, 24);
  auto graph = FakeGraph::Create();
  auto push = PushSource::Create({.offeredTypes = {type}});
  auto sink = TestSink::Create({.acceptedTypes = {type}});
  graph->AddFilter(push.Get(), L"push");
  graph->AddFilter(sink.Get(), L"sink");
  // Two outputs (or two inputs) cannot connect.
  EXPECT_EQ(VFW_E_INVALID_DIRECTION, push->OutputPin()->Connect(push->OutputPin(), &type));
  ComPtr<IPin> peer;
  EXPECT_EQ(VFW_E_NOT_CONNECTED, sink->InputPin()->ConnectedTo(&peer));
  ASSERT_EQ(S_OK, graph->Connect(push->OutputPin(), sink->InputPin()));
  ASSERT_EQ(S_OK, sink->InputPin()->ConnectedTo(&peer));
  EXPECT_EQ(push->OutputPin(), peer.Get());
  EXPECT_EQ(VFW_E_ALREADY_CONNECTED, graph->Connect(push->OutputPin(), sink->InputPin()));
  // No disconnection while running.
  ASSERT_EQ(S_OK, graph->Run());
  EXPECT_EQ(VFW_E_NOT_STOPPED, sink->InputPin()->Disconnect());
  ASSERT_EQ(S_OK, graph->Stop());
  EXPECT_EQ(S_OK, sink->InputPin()->Disconnect());
  EXPECT_EQ(S_OK, push->OutputPin()->Disconnect());
  AM_MEDIA_TYPE mt{};
  EXPECT_EQ(VFW_E_NOT_CONNECTED, sink->InputPin()->ConnectionMediaType(&mt));
  graph->TearDown();
}

}  // namespace

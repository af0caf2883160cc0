// In-place transform: pins, graph membership, allocator sharing or copying, type pass-through and
// reconnection, drops, stream-control samples and the unconnected-input end of stream.
#include <gtest/gtest.h>

#include "tests/platform/strmbase/support_filters.h"

using namespace plenor::test;

namespace {

class InPlaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    typeA = MakeVideoType(MEDIASUBTYPE_RGB24, 4, 2, 24);
    typeB = MakeVideoType(MEDIASUBTYPE_RGB32, 4, 2, 32);
    graph = FakeGraph::Create();
    tip = RecordingInPlace::Create();
  }
  void TearDown() override { graph->TearDown(); }

  void Build(const PushOptions& po, const SinkOptions& so) {
    push = PushSource::Create(po);
    sink = TestSink::Create(so);
    graph->AddFilter(push.Get(), L"push");
    graph->AddFilter(tip.Get(), L"tip");
    graph->AddFilter(sink.Get(), L"sink");
  }
  void ConnectAll(const AM_MEDIA_TYPE* pmt) {
    ASSERT_EQ(S_OK, graph->Connect(push->OutputPin(), PinOf(tip.Get(), 0).Get(), pmt));
    ASSERT_EQ(S_OK, graph->Connect(PinOf(tip.Get(), 1).Get(), sink->InputPin()));
  }

  CMediaType typeA, typeB;
  ComPtr<FakeGraph> graph;
  ComPtr<RecordingInPlace> tip;
  ComPtr<PushSource> push;
  ComPtr<TestSink> sink;
};

TEST_F(InPlaceTest, PinsAreInputAndOutputOnly) {
  EXPECT_EQ(2, tip->GetPinCount());
  CBasePin* in = tip->GetPin(0);
  ASSERT_NE(nullptr, in);
  EXPECT_EQ(L"Input", in->Name());
  EXPECT_EQ(L"Output", tip->GetPin(1)->Name());
  EXPECT_EQ(PINDIR_OUTPUT, tip->GetPin(1)->Direction());
  EXPECT_EQ(nullptr, tip->GetPin(2));
  EXPECT_EQ(in, tip->GetPin(0));
}

TEST_F(InPlaceTest, ConnectionNeedsAGraph) {
  push = PushSource::Create({.offeredTypes = {typeA}});
  auto lonelyGraph = FakeGraph::Create();
  lonelyGraph->AddFilter(push.Get(), L"push");
  // The in-place filter is in no graph.
  EXPECT_EQ(VFW_E_NOT_IN_GRAPH, push->OutputPin()->Connect(PinOf(tip.Get(), 0).Get(), &typeA));
  EXPECT_FALSE(tip->GetPin(0)->IsConnected());
  EXPECT_FALSE(push->Pin()->IsConnected());
  lonelyGraph->TearDown();
}

TEST_F(InPlaceTest, SharedAllocatorPassesTheSameBuffer) {
  Build({.offeredTypes = {typeA}}, {});
  ConnectAll(&typeA);
  EXPECT_EQ(push->Allocator(), sink->Allocator());
  ASSERT_EQ(S_OK, graph->Run());
  auto bytes = PatternBytes(2, 24);
  ASSERT_EQ(S_OK, push->PushBytes(bytes, 100, 200));
  auto got = sink->Samples();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(push->LastBuffer(), got[0].pointer);
  EXPECT_EQ(Inverted(bytes), got[0].data);
  EXPECT_EQ(100, got[0].start);
  EXPECT_EQ(200, got[0].stop);
}

TEST_F(InPlaceTest, DifferentAllocatorsCopyIntoTheOutputBuffers) {
  Build({.offeredTypes = {typeA}, .bufferCount = 3, .bufferSize = 64}, {.refuseForeignAllocator = true});
  ConnectAll(&typeA);
  ASSERT_NE(push->Allocator(), sink->Allocator());
  EXPECT_EQ(sink->OwnAllocator(), sink->Allocator());
  // Sized like the input allocator.
  ALLOCATOR_PROPERTIES in{}, out{};
  push->Allocator()->GetProperties(&in);
  sink->Allocator()->GetProperties(&out);
  EXPECT_EQ(in.cBuffers, out.cBuffers);
  EXPECT_GE(out.cbBuffer, in.cbBuffer);

  ASSERT_EQ(S_OK, graph->Run());
  PushSample s;
  s.data = PatternBytes(5, 64);
  s.start = 10;
  s.stop = 20;
  s.discontinuity = true;
  s.mediaStart = 3;
  s.mediaStop = 4;
  ASSERT_EQ(S_OK, push->Push(s));
  auto got = sink->Samples();
  ASSERT_EQ(1u, got.size());
  EXPECT_NE(push->LastBuffer(), got[0].pointer);
  EXPECT_EQ(Inverted(s.data), got[0].data);
  EXPECT_EQ(10, got[0].start);
  EXPECT_EQ(20, got[0].stop);
  EXPECT_TRUE(got[0].discontinuity);
  EXPECT_EQ(3, got[0].mediaStart);
  EXPECT_EQ(4, got[0].mediaEnd);
  // The upstream buffer itself was not touched.
  std::vector<BYTE> upstream(push->LastBuffer(), push->LastBuffer() + 64);
  EXPECT_EQ(s.data, upstream);
}

TEST_F(InPlaceTest, TypeChecksAskCheckInputTypeAndThePeer) {
  tip->m_inputTypes = {typeA, typeB};
  Build({.offeredTypes = {typeA, typeB}}, {.acceptedTypes = {typeA}});
  ASSERT_EQ(S_OK, graph->Connect(push->OutputPin(), PinOf(tip.Get(), 0).Get(), &typeA));
  ASSERT_EQ(S_OK, graph->Connect(PinOf(tip.Get(), 1).Get(), sink->InputPin()));
  // With the output connected to a pin that only takes A, the input pin refuses B even though
  // the filter itself would take it.
  EXPECT_EQ(S_FALSE, PinOf(tip.Get(), 0)->QueryAccept(&typeB));
  EXPECT_EQ(S_OK, PinOf(tip.Get(), 0)->QueryAccept(&typeA));
  // And the output pin refuses types the upstream pin does not take.
  CMediaType other = MakeVideoType(MEDIASUBTYPE_RGB565, 4, 2, 16);
  tip->m_inputTypes.push_back(other);
  EXPECT_EQ(S_FALSE, PinOf(tip.Get(), 1)->QueryAccept(&other));
  EXPECT_GT(tip->m_checkInputCalls.load(), 0);
}

TEST_F(InPlaceTest, OutputOffersTheUpstreamTypes) {
  Build({.offeredTypes = {typeB, typeA}}, {});
  ASSERT_EQ(S_OK, graph->Connect(push->OutputPin(), PinOf(tip.Get(), 0).Get(), &typeA));
  ComPtr<IEnumMediaTypes> types;
  ASSERT_EQ(S_OK, PinOf(tip.Get(), 1)->EnumMediaTypes(&types));
  AM_MEDIA_TYPE* got[2] = {};
  ULONG fetched = 0;
  ASSERT_EQ(S_OK, types->Next(2, got, &fetched));
  EXPECT_TRUE(CMediaType(*got[0]) == typeB);
  EXPECT_TRUE(CMediaType(*got[1]) == typeA);
  DeleteMediaType(got[0]);
  DeleteMediaType(got[1]);
}

TEST_F(InPlaceTest, DifferentOutputTypeMakesTheGraphReconnectTheInput) {
  Build({.offeredTypes = {typeA, typeB}}, {.acceptedTypes = {typeB}, .offeredTypes = {typeB}});
  ASSERT_EQ(S_OK, graph->Connect(push->OutputPin(), PinOf(tip.Get(), 0).Get(), &typeA));
  ASSERT_EQ(S_OK, graph->Connect(PinOf(tip.Get(), 1).Get(), sink->InputPin()));
  EXPECT_EQ(1, graph->ReconnectCount());
  EXPECT_TRUE(tip->GetPin(0)->IsConnected());
  EXPECT_TRUE(tip->GetPin(0)->CurrentMediaType() == typeB);
  EXPECT_TRUE(tip->GetPin(1)->CurrentMediaType() == typeB);
}

TEST_F(InPlaceTest, SameTypesNeedNoReconnect) {
  Build({.offeredTypes = {typeA}}, {});
  ConnectAll(&typeA);
  EXPECT_EQ(0, graph->ReconnectCount());
}

TEST_F(InPlaceTest, DropsAndStreamControlSamples) {
  Build({.offeredTypes = {typeA}}, {});
  ConnectAll(&typeA);
  tip->m_script = [](int, IMediaSample*) { return S_FALSE; };
  ASSERT_EQ(S_OK, graph->Run());
  for (int i = 0; i < 4; i++) EXPECT_EQ(S_OK, push->PushBytes(PatternBytes(i, 8), i, i + 1));
  EXPECT_EQ(0u, sink->SampleCount());
  EXPECT_EQ(1, graph->CountEvents(EC_QUALITY_CHANGE));

  PushSample control;
  control.data = PatternBytes(1, 8);
  control.streamId = AM_STREAM_CONTROL;
  int before = tip->m_transformCalls.load();
  ASSERT_EQ(S_OK, push->Push(control));
  EXPECT_EQ(before, tip->m_transformCalls.load());
  auto got = sink->Samples();
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(control.data, got[0].data);

  ASSERT_EQ(S_OK, graph->Stop());
  ASSERT_EQ(S_OK, graph->Run());
  EXPECT_EQ(S_OK, push->PushBytes(PatternBytes(0, 8), 0, 1));
  EXPECT_EQ(2, graph->CountEvents(EC_QUALITY_CHANGE));
}

TEST_F(InPlaceTest, TransformFailureGoesUpstream) {
  Build({.offeredTypes = {typeA}}, {});
  ConnectAll(&typeA);
  tip->m_script = [](int, IMediaSample*) { return E_FAIL; };
  ASSERT_EQ(S_OK, graph->Run());
  EXPECT_EQ(E_FAIL, push->PushBytes(PatternBytes(0, 8), 0, 1));
  EXPECT_EQ(0u, sink->SampleCount());
}

TEST_F(InPlaceTest, PauseWithUnconnectedInputSendsOneEndOfStream) {
  Build({.offeredTypes = {typeA}}, {});
  ConnectAll(&typeA);
  ASSERT_EQ(S_OK, PinOf(tip.Get(), 0)->Disconnect());
  ASSERT_EQ(S_OK, push->OutputPin()->Disconnect());
  ASSERT_EQ(S_OK, graph->Pause());
  ASSERT_EQ(S_OK, graph->Run());
  ASSERT_EQ(S_OK, graph->Pause());
  EXPECT_EQ(1, sink->EndOfStreamCount());
}

TEST_F(InPlaceTest, BufferSizeFollowsTheInputAllocator) {
  Build({.offeredTypes = {typeA}, .bufferCount = 5, .bufferSize = 300}, {.refuseForeignAllocator = true});
  ConnectAll(&typeA);
  ALLOCATOR_PROPERTIES request{};
  ComPtr<IMemAllocator> probe;
  ASSERT_EQ(S_OK, CreateMemoryAllocator(&probe));
  ASSERT_EQ(S_OK, tip->DecideBufferSize(probe.Get(), &request));
  EXPECT_EQ(5, request.cBuffers);
  EXPECT_EQ(300, request.cbBuffer);

  // Unconnected input: one buffer of one byte.
  ASSERT_EQ(S_OK, PinOf(tip.Get(), 0)->Disconnect());
  ASSERT_EQ(S_OK, push->OutputPin()->Disconnect());
  ComPtr<IMemAllocator> probe2;
  ASSERT_EQ(S_OK, CreateMemoryAllocator(&probe2));
  ALLOCATOR_PROPERTIES request2{};
  ASSERT_EQ(S_OK, tip->DecideBufferSize(probe2.Get(), &request2));
  EXPECT_EQ(1, request2.cBuffers);
  EXPECT_EQ(1, request2.cbBuffer);
}

}  // namespace

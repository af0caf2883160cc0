// The sample grabber and the null renderer: what the grabber records (flags, type changes,
// callbacks, its limit) and the null renderer's clock-synchronised rendering.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"
#include "support_utilities.h"
#include "tests/support/harness.h"

using namespace utiltest;

namespace {

class CountingCallback : public CUnknown, public IPlenorSampleGrabberCallback {
 public:
  CountingCallback() : CUnknown(L"callback", nullptr) {}
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IPlenorSampleGrabberCallback)
      return GetInterface(static_cast<IPlenorSampleGrabberCallback*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  STDMETHODIMP SampleReceived(IMediaSample* sample, const AM_MEDIA_TYPE* type) override {
    ++calls;
    lastLength = sample->GetActualDataLength();
    lastSubtype = type->subtype;
    return calls == failAt ? E_ABORT : S_OK;
  }
  std::atomic<int> calls{0};
  std::atomic<LONG> lastLength{0};
  GUID lastSubtype{};
  int failAt = -1;
};

TEST(SampleGrabber, RecordsFlagsTypeChangesAndCallsBack) {
  CMediaType first = plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, 4, 2, 24);
  CMediaType second = plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, 4, -2, 24);
  plenor::test::SourceOptions options;
  options.mediaType = first;
  options.sampleSize = 32;
  options.fill = [&](int call, IMediaSample* s) -> HRESULT {
    if (call >= 4) return S_FALSE;
    BYTE* p = nullptr;
    s->GetPointer(&p);
    for (int i = 0; i < 24; ++i) p[i] = static_cast<BYTE>(call * 24 + i);
    s->SetActualDataLength(24);
    REFERENCE_TIME start = call * 100, stop = call * 100 + 100;
    if (call == 1) {
      s->SetTime(&start, nullptr);  // start time only
    } else if (call != 3) {
      s->SetTime(&start, &stop);
    }
    s->SetSyncPoint(call == 0 ? TRUE : FALSE);
    s->SetPreroll(call == 1 ? TRUE : FALSE);
    s->SetDiscontinuity(call == 2 ? TRUE : FALSE);
    if (call == 2) s->SetMediaType(&second);
    return S_OK;
  };
  auto source = plenor::test::TestSource::Create(options);
  ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
  auto callback = plenor::test::MakeObject<CountingCallback>();
  ASSERT_EQ(grabber.As<IPlenorSampleGrabber>()->SetCallback(callback.Get()), S_OK);
  Graph g;
  ASSERT_EQ(g.Build({source.Get(), grabber.Get()}), S_OK);
  ASSERT_EQ(g.RunToEnd(), EC_COMPLETE);
  std::vector<Grabbed> s = ReadGrabber(grabber.Get());
  ASSERT_EQ(s.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    ASSERT_EQ(s[i].bytes.size(), 24u);
    EXPECT_EQ(s[i].bytes[5], static_cast<BYTE>(i * 24 + 5));
    EXPECT_EQ(s[i].info.lSequence, static_cast<LONG>(i));
  }
  EXPECT_TRUE(s[0].info.bTimeValid && s[0].info.bStopValid && s[0].info.bSyncPoint);
  EXPECT_EQ(s[0].info.tStop, 100);
  EXPECT_TRUE(s[1].info.bTimeValid && s[1].info.bPreroll);
  EXPECT_FALSE(s[1].info.bStopValid);
  EXPECT_TRUE(s[2].info.bDiscontinuity && s[2].info.bTypeChanged);
  EXPECT_FALSE(s[3].info.bTimeValid);
  EXPECT_FALSE(s[0].info.bPreroll || s[0].info.bDiscontinuity || s[1].info.bSyncPoint);
  // Samples before the change use the connection type, the changed one and later use type 1.
  EXPECT_EQ(s[1].info.lTypeIndex, 0);
  EXPECT_EQ(s[2].info.lTypeIndex, 1);
  EXPECT_EQ(s[3].info.lTypeIndex, 1);
  AM_MEDIA_TYPE mt{};
  ASSERT_EQ(grabber.As<IPlenorSampleGrabber>()->GetMediaType(1, &mt), S_OK);
  EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biHeight, -2);
  FreeMediaType(mt);
  EXPECT_EQ(grabber.As<IPlenorSampleGrabber>()->GetMediaType(2, &mt), E_INVALIDARG);
  EXPECT_EQ(callback->calls.load(), 4);
  EXPECT_EQ(callback->lastLength.load(), 24);
  EXPECT_EQ(callback->lastSubtype, MEDIASUBTYPE_RGB24);
  GRABBED_SAMPLE_INFO info{};
  EXPECT_EQ(grabber.As<IPlenorSampleGrabber>()->GetSampleInfo(4, &info), E_INVALIDARG);
  ASSERT_EQ(grabber.As<IPlenorSampleGrabber>()->SetCallback(nullptr), S_OK);
}

TEST(SampleGrabber, KeepsAtMostMaxSamplesAndACallbackFailureStopsTheStream) {
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_TestPatternSource);
  ASSERT_EQ(Set(source.Get(), "frames", "10"), S_OK);
  ASSERT_EQ(Set(source.Get(), "width", "8"), S_OK);
  ASSERT_EQ(Set(source.Get(), "height", "8"), S_OK);
  ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
  ASSERT_EQ(Set(grabber.Get(), "max_samples", "3"), S_OK);
  auto callback = plenor::test::MakeObject<CountingCallback>();
  ASSERT_EQ(grabber.As<IPlenorSampleGrabber>()->SetCallback(callback.Get()), S_OK);
  Graph g;
  ASSERT_EQ(g.Build({source.Get(), grabber.Get()}), S_OK);
  ASSERT_EQ(g.RunToEnd(), EC_COMPLETE);
  EXPECT_EQ(ReadGrabber(grabber.Get()).size(), 3u);
  EXPECT_EQ(callback->calls.load(), 10);  // every sample still reaches the callback

  // A failing callback is returned upstream: the source stops delivering without end of stream.
  callback->calls = 0;
  callback->failAt = 4;
  ComPtr<IMediaControl> mc = g.builder.As<IMediaControl>();
  ASSERT_EQ(mc->Run(), S_OK);
  ComPtr<IPlenorSampleGrabber> q = grabber.As<IPlenorSampleGrabber>();
  EXPECT_EQ(q->WaitForEndOfStream(300), S_FALSE);
  mc->Stop();
  EXPECT_EQ(callback->calls.load(), 4);
  ASSERT_EQ(q->SetCallback(nullptr), S_OK);
}

TEST(NullRenderer, RendersInStepWithTheClockOnlyWhenSync) {
  auto runFor = [](bool sync) {
    ComPtr<IBaseFilter> source = CreateFilter(CLSID_TestPatternSource);
    EXPECT_EQ(Set(source.Get(), "frames", "10"), S_OK);
    EXPECT_EQ(Set(source.Get(), "framerate", "10"), S_OK);  // 1 s of video
    EXPECT_EQ(Set(source.Get(), "width", "8"), S_OK);
    EXPECT_EQ(Set(source.Get(), "height", "8"), S_OK);
    ComPtr<IBaseFilter> renderer = CreateFilter(CLSID_NullRenderer);
    EXPECT_EQ(Set(renderer.Get(), "sync", sync ? "1" : "0"), S_OK);
    Graph g;
    EXPECT_EQ(g.Build({source.Get(), renderer.Get()}), S_OK);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(g.RunToEnd(), EC_COMPLETE);
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  };
  // The last frame starts at 0.9 s: a synchronised run cannot end sooner; a free one has no reason
  // to take that long.
  EXPECT_GE(runFor(true), 890);
  EXPECT_LT(runFor(false), 890);
}

}  // namespace

// CCustomBaseFilter: the input-type table, the sizes recorded at connection, Transform through
// ApplyTransform, and one identity across the filter's interfaces. Uses the test inverter.
#include <gtest/gtest.h>

#include <climits>

#include <cstring>
#include <vector>

#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"
#include "tests/framework/testfilter/inverter.h"
#include "tests/support/harness.h"

namespace {

CMediaType VideoType(const GUID& subtype, const GUID& format, LONG width, LONG height) {
  CMediaType mt;
  mt.SetType(&MEDIATYPE_Video);
  mt.SetSubtype(&subtype);
  mt.SetFormatType(&format);
  if (format == FORMAT_VideoInfo) {
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = 400000;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biBitCount = 24;
    mt.SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof vih);
  } else {
    VIDEOINFOHEADER2 vih2{};
    vih2.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih2.bmiHeader.biWidth = width;
    vih2.bmiHeader.biHeight = height;
    vih2.bmiHeader.biBitCount = 24;
    mt.SetFormat(reinterpret_cast<const BYTE*>(&vih2), sizeof vih2);
  }
  return mt;
}

// A filter whose hook reports a length and asks for the sample to be dropped.
class DroppingInverter : public CTestInverter {
 public:
  HRESULT ApplyTransform(BYTE*, LONG, LONG, BYTE*, LONG, LONG& lOut) override {
    lOut = 7;
    return S_FALSE;
  }
};

class FailingInverter : public CTestInverter {
 public:
  HRESULT ApplyTransform(BYTE*, LONG, LONG, BYTE*, LONG, LONG& lOut) override {
    lOut = 9;
    return E_UNEXPECTED;
  }
};

struct Allocator {
  Allocator() {
    HRESULT hr = S_OK;
    alloc = ComPtr<IMemAllocator>(static_cast<IMemAllocator*>(new CMemAllocator(L"test", nullptr, &hr)));
    ALLOCATOR_PROPERTIES want{4, 64, 1, 0}, got{};
    EXPECT_EQ(alloc->SetProperties(&want, &got), S_OK);
    EXPECT_EQ(alloc->Commit(), S_OK);
  }
  ~Allocator() { alloc->Decommit(); }
  ComPtr<IMediaSample> Sample(const std::vector<BYTE>& bytes) {
    ComPtr<IMediaSample> s;
    EXPECT_EQ(alloc->GetBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
    BYTE* p = nullptr;
    s->GetPointer(&p);
    if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
    s->SetActualDataLength(static_cast<LONG>(bytes.size()));
    s->SetSyncPoint(FALSE);
    return s;
  }
  ComPtr<IMemAllocator> alloc;
};

template <class T>
ComPtr<T> Make() {
  return ComPtr<T>(new T);
}

TEST(CustomBase, InputTableMatchesRowsWithNullWildcards) {
  auto f = Make<CTestInverter>();  // row: Video / RGB24 / VideoInfo
  CMediaType rgb24 = VideoType(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 4, 2);
  EXPECT_EQ(f->CheckInputType(&rgb24), S_OK);
  CMediaType rgb24v2 = VideoType(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo2, 4, 2);
  EXPECT_EQ(f->CheckInputType(&rgb24v2), VFW_E_TYPE_NOT_ACCEPTED);
  CMediaType rgb32 = VideoType(MEDIASUBTYPE_RGB32, FORMAT_VideoInfo, 4, 2);
  EXPECT_EQ(f->CheckInputType(&rgb32), VFW_E_TYPE_NOT_ACCEPTED);

  // A row with a null subtype takes every subtype of its major type, and nothing else.
  f->AddInputType(&MEDIATYPE_Video, nullptr, &FORMAT_VideoInfo2);
  EXPECT_EQ(f->CheckInputType(&rgb24v2), S_OK);
  CMediaType i420v2 = VideoType(MEDIASUBTYPE_I420, FORMAT_VideoInfo2, 4, 2);
  EXPECT_EQ(f->CheckInputType(&i420v2), S_OK);
  CMediaType audio = i420v2;
  audio.SetType(&MEDIATYPE_Audio);
  EXPECT_EQ(f->CheckInputType(&audio), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(CustomBase, SetMediaTypeRecordsSizesByFormatType) {
  auto f = Make<CTestInverter>();
  CMediaType bottomUp = VideoType(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 640, -480);
  EXPECT_EQ(f->SetMediaType(PINDIR_INPUT, &bottomUp), S_OK);
  EXPECT_EQ(f->InHeight(), 480);
  EXPECT_EQ(f->InWidth(), 640);
  EXPECT_EQ(f->InPixels(), 307200);
  EXPECT_EQ(f->InFormat().bmiHeader.biHeight, -480);
  EXPECT_EQ(f->InFormat().AvgTimePerFrame, 400000);

  // VideoInfo2 updates the sizes but leaves the recorded VIDEOINFOHEADER alone.
  CMediaType v2 = VideoType(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo2, 320, 240);
  EXPECT_EQ(f->SetMediaType(PINDIR_INPUT, &v2), S_OK);
  EXPECT_EQ(f->InWidth(), 320);
  EXPECT_EQ(f->InPixels(), 76800);
  EXPECT_EQ(f->InFormat().bmiHeader.biWidth, 640);

  // A format block shorter than its structure is not read.
  CMediaType truncated = VideoType(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 16, 16);
  truncated.ReallocFormatBuffer(sizeof(VIDEOINFOHEADER) - 8);
  EXPECT_EQ(f->SetMediaType(PINDIR_INPUT, &truncated), S_OK);
  EXPECT_EQ(f->InWidth(), 320);
}

TEST(CustomBase, SizesThatDoNotFit32BitsAreRefused) {
  auto f = Make<CTestInverter>();
  CMediaType fits = VideoType(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 46340, -46340);
  ASSERT_EQ(f->SetMediaType(PINDIR_INPUT, &fits), S_OK);
  EXPECT_EQ(f->InPixels(), 46340 * 46340);
  // A height of INT_MIN used to record a negative height, 65536 x 65536 zero pixels.
  for (auto [w, h] : {std::pair{LONG{16}, LONG{INT_MIN}}, {65536, 65536}, {INT_MAX, 2}, {INT_MIN, 1}})
    for (const GUID* format : {&FORMAT_VideoInfo, &FORMAT_VideoInfo2}) {
      SCOPED_TRACE(testing::Message() << w << " x " << h);
      CMediaType huge = VideoType(MEDIASUBTYPE_RGB24, *format, w, h);
      EXPECT_EQ(f->SetMediaType(PINDIR_INPUT, &huge), VFW_E_TYPE_NOT_ACCEPTED);
      EXPECT_EQ(f->InPixels(), 46340 * 46340);
      EXPECT_EQ(f->InHeight(), 46340);
      EXPECT_EQ(f->InFormat().bmiHeader.biWidth, 46340);
    }
  CMediaType hugeOut = VideoType(MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, 65536, 65536);
  EXPECT_EQ(f->SetMediaType(PINDIR_OUTPUT, &hugeOut), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(CustomBase, TransformSetsLengthAndSyncPointFromTheHook) {
  Allocator a;
  auto f = Make<CTestInverter>();
  f->m_nGain = 2;
  ComPtr<IMediaSample> in = a.Sample({0, 10, 200, 255, 1});
  ComPtr<IMediaSample> out = a.Sample({});
  ASSERT_EQ(f->Transform(in.Get(), out.Get()), S_OK);
  EXPECT_EQ(out->GetActualDataLength(), 5);
  EXPECT_EQ(out->IsSyncPoint(), S_OK);
  BYTE* p = nullptr;
  out->GetPointer(&p);
  EXPECT_EQ(std::vector<BYTE>(p, p + 5), (std::vector<BYTE>{255, 235, 0, 0, 253}));

  // S_FALSE is a success: length and sync point are still set before the sample is dropped.
  auto dropping = Make<DroppingInverter>();
  ComPtr<IMediaSample> out2 = a.Sample({});
  out2->SetActualDataLength(0);
  EXPECT_EQ(dropping->Transform(in.Get(), out2.Get()), S_FALSE);
  EXPECT_EQ(out2->GetActualDataLength(), 7);
  EXPECT_EQ(out2->IsSyncPoint(), S_OK);
}

TEST(CustomBase, FailedHookLeavesTheOutputSampleAlone) {
  Allocator a;
  auto f = Make<FailingInverter>();
  ComPtr<IMediaSample> in = a.Sample({1, 2, 3});
  ComPtr<IMediaSample> out = a.Sample({4});
  EXPECT_EQ(f->Transform(in.Get(), out.Get()), E_UNEXPECTED);
  EXPECT_EQ(out->GetActualDataLength(), 1);
  EXPECT_EQ(out->IsSyncPoint(), S_FALSE);
}

TEST(CustomBase, AllInterfacesShareOneIdentity) {
  auto f = Make<CTestInverter>();
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(f->QueryInterface(IID_IBaseFilter, filter.AsOut()), S_OK);
  ComPtr<IUnknown> identity;
  ASSERT_EQ(filter->QueryInterface(IID_IUnknown, identity.AsOut()), S_OK);
  for (const IID* iid : {&IID_ISettingsInterface, &IID_IStatusInterface, &IID_IMediaFilter, &IID_IPersist,
                         &IID_IAMovieSetup, &IID_ISpecifyPropertyPages, &IID_IPersistStream, &IID_IPropertyBag,
                         &IID_IPersistPropertyBag}) {
    ComPtr<IUnknown> itf;
    ASSERT_EQ(filter->QueryInterface(*iid, itf.AsOut()), S_OK);
    ComPtr<IUnknown> back;
    ASSERT_EQ(itf->QueryInterface(IID_IUnknown, back.AsOut()), S_OK);
    EXPECT_EQ(back.Get(), identity.Get());
  }
  ComPtr<IUnknown> none;
  EXPECT_EQ(filter->QueryInterface(IID_IFileSourceFilter, none.AsOut()), E_NOINTERFACE);

  // The settings subobject counts on the filter: releasing through it keeps the filter alive.
  ComPtr<ISettingsInterface> settings;
  ASSERT_EQ(filter->QueryInterface(IID_ISettingsInterface, settings.AsOut()), S_OK);
  filter = nullptr;
  identity = nullptr;
  f = nullptr;
  char buf[16];
  int len = 0;
  EXPECT_EQ(settings->GetParameter("gain", sizeof buf, buf, &len), S_OK);
  EXPECT_STREQ(buf, "1");
}

TEST(CustomBase, StreamsThroughAGraph) {
  using namespace plenor::test;
  CMediaType type = MakeVideoType(MEDIASUBTYPE_RGB24, 4, -2, 24);  // 2 rows of 12 bytes
  auto graph = FakeGraph::Create();
  auto push = PushSource::Create({.offeredTypes = {type}});
  auto sink = TestSink::Create({});
  auto* inverter = new CTestInverter;
  ComPtr<IBaseFilter> filter(static_cast<IBaseFilter*>(inverter));
  ASSERT_EQ(graph->AddFilter(push.Get(), L"push"), S_OK);
  ASSERT_EQ(graph->AddFilter(filter.Get(), L"inverter"), S_OK);
  ASSERT_EQ(graph->AddFilter(sink.Get(), L"sink"), S_OK);
  ASSERT_EQ(graph->Connect(push->OutputPin(), PinOf(filter.Get(), 0).Get(), &type), S_OK);
  ASSERT_EQ(graph->Connect(PinOf(filter.Get(), 1).Get(), sink->InputPin()), S_OK);
  EXPECT_EQ(inverter->InHeight(), 2);
  EXPECT_EQ(inverter->InPixels(), 8);
  ASSERT_EQ(graph->Run(), S_OK);

  std::vector<BYTE> frame(24);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<BYTE>(i * 10);
  PushSample sample;
  sample.data = frame;
  sample.start = 0;
  sample.stop = 400000;
  sample.sync = false;
  ASSERT_EQ(push->Push(sample), S_OK);
  // A parameter change takes effect from the next sample.
  ComPtr<ISettingsInterface> settings;
  ASSERT_EQ(filter->QueryInterface(IID_ISettingsInterface, settings.AsOut()), S_OK);
  ASSERT_EQ(settings->SetParameter("invert", "false"), S_OK);
  ASSERT_EQ(push->PushBytes(frame, 400000, 800000), S_OK);
  ASSERT_TRUE(sink->WaitForSamples(2, 5000));
  graph->Stop();

  std::vector<ReceivedSample> got = sink->Samples();
  ASSERT_EQ(got.size(), 2u);
  ASSERT_EQ(got[0].data.size(), 24u);
  for (size_t i = 0; i < 24; ++i) {
    EXPECT_EQ(got[0].data[i], 255 - frame[i]) << i;
    EXPECT_EQ(got[1].data[i], frame[i]) << i;
  }
  EXPECT_TRUE(got[0].sync);  // every output sample is a sync point
  EXPECT_EQ(got[0].start, 0);
  EXPECT_EQ(got[1].stop, 800000);
  graph->TearDown();
}

}  // namespace

// TimeShiftFilter from its module: a whole graph through the graph manager, the shift rules with
// pushed samples, the offset reset by Stop, persistence as "TIME SKEW" and the accepted types.
#include <gtest/gtest.h>

#include <cstring>

#include "framework/guids.h"
#include "platform/com/runtime.h"
#include "platform/com/oleauto.h"
#include "platform/strmbase/uuids.h"
#include "tests/timing/support_timing.h"
#include "timing/timeshift/timeshift.h"

using namespace timingtest;

namespace {

struct Times {
  REFERENCE_TIME start, stop;
  bool operator==(const Times&) const = default;
};

std::vector<Times> Received(TestSink* sink) {
  std::vector<Times> out;
  for (const ReceivedSample& s : sink->Samples()) out.push_back({s.start, s.stop});
  return out;
}

void PrintTo(const Times& t, std::ostream* os) { *os << "(" << t.start << ", " << t.stop << ")"; }

}  // namespace

// Ten frames 40 ms apart from time 0 with an offset of 10 ms: the first frame keeps its times
// (nothing shifted yet this run), every later start and stop moves by 100,000 units.
TEST(TimeShiftGraph, EveryFrameAfterTheFirstMovesByTheOffsetAndStopResetsIt) {
  PatternChain chain(CLSID_TimeShiftFilter, "25", 10, {{"skewTimestamp", "100000"}});
  std::vector<GRABBED_SAMPLE_INFO> got = chain.RunToEnd();
  ASSERT_EQ(got.size(), 10u);
  EXPECT_EQ((Times{got[0].tStart, got[0].tStop}), (Times{0, 400000}));
  for (int i = 1; i < 10; ++i)
    EXPECT_EQ((Times{got[i].tStart, got[i].tStop}), (Times{i * 400000 + 100000, (i + 1) * 400000 + 100000})) << i;
  EXPECT_EQ(GetParam(chain.filter.Get(), "skewTimestamp"), "100000");

  ASSERT_EQ(chain.host.control->Stop(), S_OK);
  EXPECT_EQ(GetParam(chain.filter.Get(), "skewTimestamp"), "0");
  // Stop's reset is not a change of the saved settings: a clean filter stays clean, and the
  // next run keeps every time.
  ComPtr<IPersistStream> persist = chain.filter.As<IPersistStream>();
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateStreamOnMemory(nullptr, 0, &stream), S_OK);
  ASSERT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
  got = chain.RunToEnd();
  ASSERT_EQ(got.size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(got[i].tStart, i * 400000) << i;
  ASSERT_EQ(chain.host.control->Stop(), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
}

TEST(TimeShiftRules, NegativeOffsetRepeatedAndEarlierStarts) {
  PushChain chain(CLSID_TimeShiftFilter);
  ASSERT_EQ(chain.outputConnect, S_OK);
  ASSERT_EQ(SetParam(chain.filter.Get(), "skewTimestamp", "-20000"), S_OK);
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  ASSERT_EQ(chain.Push(100000, 200000), S_OK);  // after last start 0: shifted
  ASSERT_EQ(chain.Push(200000, 300000), S_OK);  // shifted
  ASSERT_EQ(chain.Push(200000, 250000), S_OK);  // repeats the last unshifted start: kept
  ASSERT_EQ(chain.Push(150000, 160000), S_OK);  // earlier: kept
  ASSERT_EQ(chain.Push(300000, 400000), S_OK);  // later again: shifted
  ASSERT_EQ(chain.Push(std::nullopt, std::nullopt), S_OK);  // no times: passes untouched
  ASSERT_EQ(chain.Push(500000, std::nullopt), S_OK);  // start only: shifted, still no stop
  std::vector<ReceivedSample> got = chain.sink->Samples();
  ASSERT_EQ(got.size(), 7u);
  const std::vector<Times> expected = {
      {80000, 180000}, {180000, 280000}, {200000, 250000}, {150000, 160000}, {280000, 380000}};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ((Times{got[i].start, got[i].stop}), expected[i]) << i;
  EXPECT_EQ(got[5].timeResult, VFW_E_SAMPLE_TIME_NOT_SET);
  EXPECT_EQ(got[6].timeResult, VFW_S_NO_STOP_TIME);
  EXPECT_EQ(got[6].start, 480000);
}

TEST(TimeShiftRules, StopForgetsTheLastStartAndTheOffset) {
  PushChain chain(CLSID_TimeShiftFilter);
  ASSERT_EQ(chain.outputConnect, S_OK);
  ASSERT_EQ(SetParam(chain.filter.Get(), "skewTimestamp", "100"), S_OK);
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  ASSERT_EQ(chain.Push(400000, 800000), S_OK);
  ASSERT_EQ(chain.host.control->Stop(), S_OK);
  EXPECT_EQ(GetParam(chain.filter.Get(), "skewTimestamp"), "0");

  // The same start in the next run is shifted again: it is after the reset last start of 0.
  chain.sink->ClearRecords();
  ASSERT_EQ(SetParam(chain.filter.Get(), "skewTimestamp", "100"), S_OK);
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  ASSERT_EQ(chain.Push(400000, 800000), S_OK);
  ASSERT_EQ(chain.host.control->Stop(), S_OK);
  // Without a new value the offset after Stop is 0: samples keep their times.
  chain.sink->ClearRecords();
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  ASSERT_EQ(chain.Push(400000, 800000), S_OK);
  ASSERT_EQ(chain.Push(800000, 1200000), S_OK);
  std::vector<Times> got = Received(chain.sink.Get());
  EXPECT_EQ(got, (std::vector<Times>{{400000, 800000}, {800000, 1200000}}));
}

TEST(TimeShiftRules, ExtremeTimesDoNotWrapAround) {
  PushChain chain(CLSID_TimeShiftFilter);
  ASSERT_EQ(chain.outputConnect, S_OK);
  ASSERT_EQ(SetParam(chain.filter.Get(), "skewTimestamp", "32767"), S_OK);
  ASSERT_EQ(chain.host.control->Run(), S_OK);
  const REFERENCE_TIME big = INT64_MAX - 10;
  ASSERT_EQ(chain.Push(big, big + 5), S_OK);
  std::vector<Times> got = Received(chain.sink.Get());
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], (Times{INT64_MAX, INT64_MAX}));
}

TEST(TimeShiftPersistence, TimeSkewPropertyInAnyCaseButOnlyWithItsQuotes) {
  auto filter = CreateFilter(CLSID_TimeShiftFilter);
  ComPtr<IPropertyBag> bag = filter.As<IPropertyBag>();
  ASSERT_TRUE(bag);
  ASSERT_EQ(SetParam(filter.Get(), "skewTimestamp", "-5"), S_OK);

  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(bag->Read(L"\"time skew\"", &v, nullptr), S_OK);
  EXPECT_EQ(v.vt, VT_INT);
  EXPECT_EQ(v.intVal, -5);
  v.vt = VT_I4;
  v.lVal = 7;
  EXPECT_EQ(bag->Read(L"TIME SKEW", &v, nullptr), E_INVALIDARG);
  EXPECT_EQ(v.vt, VT_EMPTY);

  // A host's bag holding the offset as text, and as a real number.
  ComPtr<IPropertyBag> host;
  ASSERT_EQ(CreateMemoryPropertyBag(&host), S_OK);
  VARIANT text;
  VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = SysAllocString(L"-20");
  ASSERT_EQ(host->Write(L"\"TIME SKEW\"", &text), S_OK);
  VariantClear(&text);
  ComPtr<IPersistPropertyBag> persistBag = filter.As<IPersistPropertyBag>();
  ASSERT_EQ(persistBag->Load(host.Get(), nullptr), S_OK);
  EXPECT_EQ(GetParam(filter.Get(), "skewTimestamp"), "-20");
  VARIANT real;
  VariantInit(&real);
  real.vt = VT_R8;
  real.dblVal = 2.9;
  ASSERT_EQ(host->Write(L"\"Time Skew\"", &real), S_OK);
  ASSERT_EQ(persistBag->Load(host.Get(), nullptr), S_OK);
  EXPECT_EQ(GetParam(filter.Get(), "skewTimestamp"), "2");
}

TEST(TimeShiftPersistence, StreamRecordIsTheOffsetAsFourLittleEndianBytes) {
  auto filter = CreateFilter(CLSID_TimeShiftFilter);
  ComPtr<IPersistStream> persist = filter.As<IPersistStream>();
  ASSERT_TRUE(persist);
  CLSID clsid{};
  ASSERT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_TimeShiftFilter);
  ULARGE_INTEGER size{};
  ASSERT_EQ(persist->GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, 4u);

  ASSERT_EQ(SetParam(filter.Get(), "skewTimestamp", "-5"), S_OK);
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateStreamOnMemory(nullptr, 0, &stream), S_OK);
  ASSERT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
  std::string bytes;
  ASSERT_EQ(GetStreamBytes(stream.Get(), &bytes), S_OK);
  EXPECT_EQ(bytes, std::string("\xFB\xFF\xFF\xFF", 4));
  EXPECT_EQ(persist->IsDirty(), S_FALSE);

  // Loading the record into a clean filter restores the offset and marks it dirty.
  ComPtr<IStream> in;
  ASSERT_EQ(CreateStreamOnMemory("\x10\x27\x00\x00", 4, &in), S_OK);
  ASSERT_EQ(persist->Load(in.Get()), S_OK);
  EXPECT_EQ(GetParam(filter.Get(), "skewTimestamp"), "10000");
  EXPECT_EQ(persist->IsDirty(), S_OK);
}

TEST(TimeShiftInterfaces, NoStatusInterfaceAndOnePage) {
  auto filter = CreateFilter(CLSID_TimeShiftFilter);
  ComPtr<IUnknown> unk;
  EXPECT_EQ(filter->QueryInterface(IID_IStatusInterface, unk.AsOut()), E_NOINTERFACE);
  ComPtr<ISpecifyPropertyPages> pages = filter.As<ISpecifyPropertyPages>();
  ASSERT_TRUE(pages);
  CAUUID list{};
  ASSERT_EQ(pages->GetPages(&list), S_OK);
  ASSERT_EQ(list.cElems, 1u);
  EXPECT_EQ(list.pElems[0], CLSID_SkewingProperties);
  CoTaskMemFree(list.pElems);
}

TEST(TimeShiftTypes, AnyVideoSubtypeWithAVideoInfoFormat) {
  auto filter = CreateFilter(CLSID_TimeShiftFilter);
  ComPtr<IPin> input = PinOf(filter.Get(), 0);
  CMediaType yuy2 = VideoType();
  yuy2.SetSubtype(&MEDIASUBTYPE_YUY2);
  CMediaType info2 = VideoType();
  info2.SetFormatType(&FORMAT_VideoInfo2);
  info2.ReallocFormatBuffer(sizeof(VIDEOINFOHEADER2));
  EXPECT_EQ(input->QueryAccept(&yuy2), S_OK);
  EXPECT_EQ(input->QueryAccept(&info2), S_OK);
  CMediaType audio = VideoType();
  audio.SetType(&MEDIATYPE_Audio);
  CMediaType none = MakeSimpleType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
  EXPECT_EQ(input->QueryAccept(&audio), S_FALSE);
  EXPECT_EQ(input->QueryAccept(&none), S_FALSE);

  Host host;
  auto push = PushSource::Create({.offeredTypes = {audio}});
  host.Add(push.Get(), L"Push");
  host.Add(filter.Get(), L"Filter");
  EXPECT_EQ(host.graph->ConnectDirect(push->OutputPin(), input.Get(), &audio), VFW_E_TYPE_NOT_ACCEPTED);
}

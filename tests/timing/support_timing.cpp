#include "tests/timing/support_timing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

#include "platform/com/registry.h"
#include "platform/com/runtime.h"
#include "platform/graph/mapper.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/uuids.h"

namespace timingtest {

void RegisterTimingModules() {
  static std::once_flag once;
  std::call_once(once, [] { RegisterPluginModules({"FrameDropFilter.so", "TimeShiftFilter.so", "PlenorUtilities.so"}); });
}

ComPtr<IBaseFilter> CreateFilter(const CLSID& clsid) {
  RegisterTimingModules();
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.AsOut()), S_OK);
  return filter;
}

CMediaType VideoType(REFERENCE_TIME avgTimePerFrame, const GUID& subtype) {
  const WORD bits = subtype == MEDIASUBTYPE_RGB32 ? 32 : subtype == MEDIASUBTYPE_I420 ? 12 : 24;
  const DWORD compression = subtype == MEDIASUBTYPE_I420 ? 0x30323449 : BI_RGB;
  return MakeVideoType(subtype, 64, 48, bits, compression, avgTimePerFrame);
}

REFERENCE_TIME AvgTimePerFrame(const AM_MEDIA_TYPE& mt) {
  if (mt.formattype == FORMAT_VideoInfo && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->AvgTimePerFrame;
  if (mt.formattype == FORMAT_VideoInfo2 && mt.pbFormat && mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
    return reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->AvgTimePerFrame;
  return -1;
}

PatternChain::PatternChain(const CLSID& clsid, const char* framerate, int frames,
                           std::initializer_list<std::pair<const char*, const char*>> parameters)
    : source(CreateFilter(CLSID_TestPatternSource)), filter(CreateFilter(clsid)), grabber(CreateFilter(CLSID_SampleGrabber)) {
  if (!source || !filter || !grabber) return;
  EXPECT_EQ(SetParam(source.Get(), "width", "64"), S_OK);
  EXPECT_EQ(SetParam(source.Get(), "height", "48"), S_OK);
  EXPECT_EQ(SetParam(source.Get(), "framerate", framerate), S_OK);
  EXPECT_EQ(SetParam(source.Get(), "frames", std::to_string(frames)), S_OK);
  host.Add(source.Get(), L"Test Pattern");
  host.Add(filter.Get(), L"Filter");
  host.Add(grabber.Get(), L"Grabber");
  for (const auto& [name, value] : parameters) EXPECT_EQ(SetParam(filter.Get(), name, value), S_OK) << name;
  EXPECT_EQ(host.graph->Connect(PinOf(source.Get(), 0).Get(), PinOf(filter.Get(), 0).Get()), S_OK);
  EXPECT_EQ(host.graph->Connect(PinOf(filter.Get(), 1).Get(), PinOf(grabber.Get(), 0).Get()), S_OK);
}

PatternChain::~PatternChain() {
  if (host.control) host.control->Stop();
}

std::vector<GRABBED_SAMPLE_INFO> PatternChain::RunToEnd() {
  std::vector<GRABBED_SAMPLE_INFO> infos;
  EXPECT_EQ(host.control->Run(), S_OK);
  EXPECT_EQ(host.WaitForCompletion(), EC_COMPLETE);
  ComPtr<IPlenorSampleGrabber> g = grabber.As<IPlenorSampleGrabber>();
  LONG count = 0;
  if (!g || FAILED(g->GetSampleCount(&count))) return infos;
  for (LONG i = 0; i < count; ++i) {
    GRABBED_SAMPLE_INFO info{};
    EXPECT_EQ(g->GetSampleInfo(i, &info), S_OK);
    infos.push_back(info);
  }
  return infos;
}

REFERENCE_TIME PatternChain::GrabbedFrameDuration() {
  ComPtr<IPlenorSampleGrabber> g = grabber.As<IPlenorSampleGrabber>();
  AM_MEDIA_TYPE mt{};
  if (!g || FAILED(g->GetMediaType(0, &mt))) return -1;
  REFERENCE_TIME avg = AvgTimePerFrame(mt);
  FreeMediaType(mt);
  return avg;
}

PushChain::PushChain(const CLSID& clsid, const CMediaType& type)
    : push(PushSource::Create({.offeredTypes = {type}})), filter(CreateFilter(clsid)), sink(TestSink::Create({})) {
  if (!filter) return;
  host.Add(push.Get(), L"Push");
  host.Add(filter.Get(), L"Filter");
  host.Add(sink.Get(), L"Sink");
  inputConnect = host.graph->ConnectDirect(push->OutputPin(), PinOf(filter.Get(), 0).Get(), &type);
  if (SUCCEEDED(inputConnect)) outputConnect = host.graph->ConnectDirect(PinOf(filter.Get(), 1).Get(), sink->InputPin(), nullptr);
}

PushChain::~PushChain() {
  if (host.control) host.control->Stop();
  // Releasing the graph breaks its connections and lets the filters go.
  host.control = nullptr;
  host.events = nullptr;
  host.graph = nullptr;
}

HRESULT PushChain::Push(std::optional<REFERENCE_TIME> start, std::optional<REFERENCE_TIME> stop) {
  PushSample s;
  s.data.assign(16, 0x5A);
  s.start = start;
  s.stop = stop;
  return push->Push(s);
}

HRESULT PushChain::PushFrame(int frame, REFERENCE_TIME duration) {
  return Push(frame * duration, (frame + 1) * duration);
}

std::vector<REFERENCE_TIME> PushChain::Starts() {
  std::vector<REFERENCE_TIME> starts;
  for (const ReceivedSample& s : sink->Samples()) starts.push_back(s.start);
  return starts;
}

std::vector<int> PushChain::Frames(REFERENCE_TIME duration) {
  std::vector<int> frames;
  for (const ReceivedSample& s : sink->Samples()) frames.push_back(static_cast<int>(s.start / duration));
  return frames;
}

namespace {

// The default value of HKEY_CLASSES_ROOT\CLSID\{clsid}.
std::string ClassKeyName(const CLSID& clsid) {
  wchar_t wide[40];
  if (StringFromGUID2(clsid, wide, 40) == 0) return "<bad clsid>";
  std::string key = "CLSID\\";
  for (const wchar_t* p = wide; *p; ++p) key += static_cast<char>(*p);
  HKEY hkey = nullptr;
  if (RegOpenKeyA(HKEY_CLASSES_ROOT, key.c_str(), &hkey) != ERROR_SUCCESS) return "<no key>";
  char value[256] = {};
  DWORD size = sizeof value;
  DWORD type = 0;
  LSTATUS status = RegQueryValueExA(hkey, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(hkey);
  return status == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : "<no value>";
}

}  // namespace

void ExpectRegisteredWithoutPins(const CLSID& filter, const CLSID& page, const wchar_t* name, const char* pageName) {
  RegisterTimingModules();
  RegisteredFilter entry;
  ASSERT_EQ(MapperGetFilter(filter, &entry), S_OK);
  EXPECT_EQ(entry.name, name);
  EXPECT_EQ(entry.merit, 0x200000u);
  EXPECT_TRUE(entry.pins.empty());
  EXPECT_EQ(ClassKeyName(page), pageName);
  RegisteredFilter none;
  EXPECT_EQ(MapperGetFilter(page, &none), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

std::pair<int, int> Range(HWND dialog, int spin) {
  int lower = 0, upper = 0;
  SendDlgItemMessage(dialog, spin, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lower), reinterpret_cast<LPARAM>(&upper));
  return {lower, upper};
}

std::string Text(HWND dialog, int id) { return GetWindowTextString(GetDlgItem(dialog, id)); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

FlowingGraph::FlowingGraph(const CLSID& clsid) : PatternChain(clsid, "10000000/333333", 0) {
  // The grabber keeps what one run checks; later samples are counted only.
  EXPECT_EQ(SetParam(grabber.Get(), "max_samples", "64"), S_OK);
  samples = grabber.As<IPlenorSampleGrabber>();
}

std::vector<REFERENCE_TIME> FlowingGraph::RunOnce(size_t count) {
  std::vector<REFERENCE_TIME> starts;
  EXPECT_EQ(host.control->Run(), S_OK);
  EXPECT_EQ(samples->WaitForSamples(static_cast<LONG>(count), 10000), S_OK);
  for (size_t i = 0; i < count; ++i) {
    GRABBED_SAMPLE_INFO info{};
    EXPECT_EQ(samples->GetSampleInfo(static_cast<LONG>(i), &info), S_OK);
    starts.push_back(info.tStart);
  }
  EXPECT_EQ(host.control->Stop(), S_OK);
  return starts;
}

}  // namespace timingtest

#include "tests/sources/rawframe_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>

#include <unistd.h>

#include "platform/com/registry.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"
#include "sources/rawframe/rawframesource.h"
#include "tests/support/modules.h"

namespace rawtest {

TempDir::TempDir() {
  static int counter = 0;
  m_path = std::filesystem::temp_directory_path() /
           ("plenor-yuv-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
  std::filesystem::create_directories(m_path);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::File(const std::string& name) const {
  std::filesystem::path p = m_path / name;
  std::filesystem::create_directories(p.parent_path());
  return p.string();
}

BYTE FrameByte(long long n, size_t i) { return static_cast<BYTE>(n * 37 + static_cast<long long>(i) * 7 + (i >> 8)); }

std::vector<BYTE> WriteYuvFile(const std::string& path, size_t frameSize, int count, size_t trailing) {
  std::vector<BYTE> bytes;
  bytes.reserve(frameSize * static_cast<size_t>(count) + trailing);
  for (int n = 0; n < count; ++n)
    for (size_t i = 0; i < frameSize; ++i) bytes.push_back(FrameByte(n, i));
  bytes.insert(bytes.end(), trailing, 0xEE);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(out.good()) << path;
  return bytes;
}

std::vector<BYTE> FrameOf(const std::vector<BYTE>& file, size_t frameSize, long long n) {
  auto first = file.begin() + static_cast<std::ptrdiff_t>(frameSize * static_cast<size_t>(n));
  return std::vector<BYTE>(first, first + static_cast<std::ptrdiff_t>(frameSize));
}

void RegisterModules() {
  static std::once_flag once;
  std::call_once(once, [] {
    plenor::test::RegisterModuleFile(PLENOR_RAWFRAME_MODULE);
    plenor::test::RegisterModuleFile(PLENOR_UTILITIES_MODULE);
  });
}

std::string RegisteredClassName(REFCLSID clsid) {
  HKEY key = nullptr;
  if (RegOpenKeyA(HKEY_CLASSES_ROOT, ("CLSID\\" + GuidToString(clsid)).c_str(), &key) != ERROR_SUCCESS) return "<none>";
  char text[256] = "";
  DWORD size = sizeof text;
  DWORD type = 0;
  LSTATUS status = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_SZ ? text : "<none>";
}

ComPtr<IBaseFilter> CreateRawFrameSource() {
  RegisterModules();
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(CoCreateInstance(CLSID_RawFrameSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.AsOut()),
            S_OK)
      << CoGetLastLoadError();
  return filter;
}

std::wstring Wide(const std::string& s) { return Utf8ToWide(s); }

std::string GetParam(IUnknown* filter, const char* name) {
  ComPtr<ISettingsInterface> settings;
  if (FAILED(filter->QueryInterface(IID_ISettingsInterface, settings.AsOut()))) return "<error>";
  char value[256];
  int length = 0;
  if (FAILED(settings->GetParameter(name, sizeof value, value, &length))) return "<error>";
  return value;
}

HRESULT SetParam(IUnknown* filter, const char* name, const char* value) {
  ComPtr<ISettingsInterface> settings;
  HRESULT hr = filter->QueryInterface(IID_ISettingsInterface, settings.AsOut());
  if (FAILED(hr)) return hr;
  return settings->SetParameter(name, value);
}

HRESULT LoadFile(IUnknown* filter, const std::string& path) {
  ComPtr<IFileSourceFilter> source;
  HRESULT hr = filter->QueryInterface(IID_IFileSourceFilter, source.AsOut());
  if (FAILED(hr)) return hr;
  return source->Load(Wide(path).c_str(), nullptr);
}

CMediaType OfferedType(IBaseFilter* filter) {
  CMediaType mt;
  ComPtr<IPin> pin = plenor::test::PinOf(filter, 0);
  if (!pin) return mt;
  ComPtr<IEnumMediaTypes> types;
  if (FAILED(pin->EnumMediaTypes(&types))) return mt;
  AM_MEDIA_TYPE* pmt = nullptr;
  ULONG got = 0;
  if (types->Next(1, &pmt, &got) == S_OK && pmt) {
    mt = *pmt;
    DeleteMediaType(pmt);
  }
  return mt;
}

const VIDEOINFOHEADER& Vih(const CMediaType& mt) {
  static const VIDEOINFOHEADER empty{};
  if (mt.formattype != FORMAT_VideoInfo || mt.cbFormat < sizeof(VIDEOINFOHEADER)) return empty;
  return *reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

Pipeline::Pipeline(ComPtr<IBaseFilter> src) : source(std::move(src)) {
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.AsOut()),
            S_OK);
  if (!graph || !source) return;
  control = graph.As<IMediaControl>();
  events = graph.As<IMediaEventEx>();
  RegisterModules();
  EXPECT_EQ(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             grabberFilter.AsOut()),
            S_OK)
      << CoGetLastLoadError();
  if (!grabberFilter) return;
  grabber = grabberFilter.As<IPlenorSampleGrabber>();
  EXPECT_EQ(graph->AddFilter(source.Get(), L"YUV Source"), S_OK);
  EXPECT_EQ(graph->AddFilter(grabberFilter.Get(), L"Grabber"), S_OK);
  connected = graph->ConnectDirect(plenor::test::PinOf(source.Get(), 0).Get(),
                                   plenor::test::PinOf(grabberFilter.Get(), 0).Get(), nullptr);
}

Pipeline::~Pipeline() {
  if (control) control->Stop();
  if (graph) {
    if (grabberFilter) graph->RemoveFilter(grabberFilter.Get());
    if (source) graph->RemoveFilter(source.Get());
  }
}

std::vector<Grabbed> Pipeline::Samples() {
  std::vector<Grabbed> out;
  LONG count = 0;
  if (!grabber || FAILED(grabber->GetSampleCount(&count))) return out;
  for (LONG i = 0; i < count; ++i) {
    GRABBED_SAMPLE_INFO info{};
    if (FAILED(grabber->GetSampleInfo(i, &info))) break;
    Grabbed g;
    g.data.resize(static_cast<size_t>(info.lActualLength));
    LONG copied = 0;
    grabber->GetSampleData(i, g.data.data(), info.lActualLength, &copied);
    g.data.resize(static_cast<size_t>(copied));
    g.start = info.tStart;
    g.stop = info.tStop;
    g.timeValid = info.bTimeValid && info.bStopValid;
    g.sync = info.bSyncPoint != FALSE;
    out.push_back(std::move(g));
  }
  return out;
}

size_t Pipeline::SampleCount() {
  LONG count = 0;
  if (grabber) grabber->GetSampleCount(&count);
  return static_cast<size_t>(count);
}

LONG Pipeline::EndOfStreams() {
  LONG count = 0;
  if (grabber) grabber->GetEndOfStreamCount(&count);
  return count;
}

bool Pipeline::WaitForSamples(LONG count, DWORD timeoutMs) {
  return grabber && grabber->WaitForSamples(count, timeoutMs) == S_OK;
}

bool Pipeline::WaitForEndOfStream(DWORD timeoutMs) {
  return grabber && grabber->WaitForEndOfStream(timeoutMs) == S_OK;
}

void Pipeline::Clear() {
  if (grabber) grabber->Clear();
}

HRESULT Pipeline::ConnectionType(CMediaType* mt) {
  ComPtr<IPin> pin = plenor::test::PinOf(source.Get(), 0);
  if (!pin) return E_FAIL;
  return pin->ConnectionMediaType(mt);
}

LONG Pipeline::RunToEnd(DWORD timeoutMs) {
  if (FAILED(control->Run())) return 0;
  LONG code = 0;
  EXPECT_EQ(events->WaitForCompletion(static_cast<LONG>(timeoutMs), &code), S_OK);
  return code;
}

bool Pipeline::WaitForEvent(LONG code, LONG_PTR* param1, DWORD timeoutMs) {
  LONG got = 0;
  LONG_PTR p1 = 0, p2 = 0;
  while (events->GetEvent(&got, &p1, &p2, static_cast<LONG>(timeoutMs)) == S_OK) {
    if (got == code) {
      if (param1) *param1 = p1;
      return true;
    }
  }
  return false;
}

}  // namespace rawtest

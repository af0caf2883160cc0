#include "support_utilities.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

#include <unistd.h>

#include "framework/settings.h"
#include "framework/status.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"
#include "tests/support/modules.h"

namespace utiltest {

void RegisterUtilities() {
  static std::once_flag once;
  std::call_once(once, [] { plenor::test::RegisterPluginModules({"PlenorUtilities.so"}, PLENOR_UTILITIES_PLUGIN_DIR); });
}

ComPtr<IBaseFilter> CreateFilter(const CLSID& clsid) {
  RegisterUtilities();
  ComPtr<IBaseFilter> f;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, f.AsOut());
  EXPECT_EQ(hr, S_OK) << CoGetLastLoadError();
  return f;
}

HRESULT Set(IUnknown* filter, const char* name, const std::string& value) {
  return plenor::test::SetParam(filter, name, value);
}

std::string Get(IUnknown* filter, const char* name) {
  ComPtr<ISettingsInterface> s;
  if (FAILED(filter->QueryInterface(IID_ISettingsInterface, s.AsOut()))) return "<no settings>";
  char value[1024];
  int length = 0;
  if (FAILED(s->GetParameter(name, sizeof value, value, &length))) return "<unknown>";
  return value;
}

std::string LastError(IUnknown* filter) {
  ComPtr<IStatusInterface> s;
  if (FAILED(filter->QueryInterface(IID_IStatusInterface, s.AsOut()))) return "<no status>";
  char text[4096];
  if (FAILED(s->GetLastErrorText(text, sizeof text))) return "<too long>";
  return text;
}

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION dir) {
  ComPtr<IEnumPins> e;
  if (FAILED(filter->EnumPins(&e))) return nullptr;
  IPin* p = nullptr;
  ULONG got = 0;
  while (e->Next(1, &p, &got) == S_OK) {
    ComPtr<IPin> pin = ComPtr<IPin>::Attach(p);
    PIN_DIRECTION d;
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == dir) return pin;
  }
  return nullptr;
}

Graph::~Graph() {
  if (!builder) return;
  builder.As<IMediaControl>()->Stop();
  for (auto& f : filters) builder->RemoveFilter(f.Get());
}

HRESULT Graph::Add(IBaseFilter* filter) {
  if (!builder) {
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, builder.AsOut());
    if (FAILED(hr)) return hr;
  }
  std::wstring name = L"f" + std::to_wstring(filters.size());
  HRESULT hr = builder->AddFilter(filter, name.c_str());
  if (SUCCEEDED(hr)) filters.emplace_back(filter);
  return hr;
}

HRESULT Graph::Build(std::initializer_list<IBaseFilter*> chain) {
  for (IBaseFilter* f : chain) {
    HRESULT hr = Add(f);
    if (FAILED(hr)) return hr;
  }
  return ConnectChain();
}

HRESULT Graph::ConnectChain() {
  for (size_t i = 0; i + 1 < filters.size(); ++i) {
    ComPtr<IPin> out = FirstPin(filters[i].Get(), PINDIR_OUTPUT);
    ComPtr<IPin> in = FirstPin(filters[i + 1].Get(), PINDIR_INPUT);
    if (!out || !in) return E_UNEXPECTED;
    HRESULT hr = builder->ConnectDirect(out.Get(), in.Get(), nullptr);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

LONG Graph::RunToEnd(DWORD timeoutMs) {
  ComPtr<IMediaControl> mc = builder.As<IMediaControl>();
  if (FAILED(mc->Run())) return 0;
  LONG code = 0;
  builder.As<IMediaEventEx>()->WaitForCompletion(static_cast<LONG>(timeoutMs), &code);
  mc->Stop();
  return code;
}

std::vector<std::pair<LONG, LONG_PTR>> Graph::Events() {
  std::vector<std::pair<LONG, LONG_PTR>> out;
  ComPtr<IMediaEventEx> ev = builder.As<IMediaEventEx>();
  LONG code;
  LONG_PTR p1, p2;
  while (ev->GetEvent(&code, &p1, &p2, 0) == S_OK) {
    out.emplace_back(code, p1);
    ev->FreeEventParams(code, p1, p2);
  }
  return out;
}

std::vector<Grabbed> ReadGrabber(IBaseFilter* grabber) {
  std::vector<Grabbed> out;
  ComPtr<IPlenorSampleGrabber> g;
  if (FAILED(grabber->QueryInterface(IID_IPlenorSampleGrabber, g.AsOut()))) return out;
  LONG count = 0;
  g->GetSampleCount(&count);
  for (LONG i = 0; i < count; ++i) {
    Grabbed s{};
    g->GetSampleInfo(i, &s.info);
    s.bytes.resize(static_cast<size_t>(s.info.lActualLength));
    LONG copied = 0;
    g->GetSampleData(i, s.bytes.data(), s.info.lActualLength, &copied);
    s.bytes.resize(static_cast<size_t>(copied));
    out.push_back(std::move(s));
  }
  return out;
}

AM_MEDIA_TYPE GrabberType(IBaseFilter* grabber) {
  AM_MEDIA_TYPE mt{};
  ComPtr<IPlenorSampleGrabber> g;
  if (SUCCEEDED(grabber->QueryInterface(IID_IPlenorSampleGrabber, g.AsOut()))) g->GetMediaType(0, &mt);
  return mt;
}

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  path = std::filesystem::temp_directory_path() /
         ("plenor-util-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

std::vector<std::string> ScratchDir::Files() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(path)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<BYTE> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<BYTE>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::vector<BYTE>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace utiltest

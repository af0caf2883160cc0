#include "bench/support/graphbench.h"

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/strmbase/amvideo.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/uuids.h"

namespace benchsupport {

CMediaType VideoType(const GUID& subtype, DWORD compression, WORD bits, LONG width, LONG height, DWORD bytes,
                     REFERENCE_TIME frameTime) {
  CMediaType mt;
  mt.SetType(&MEDIATYPE_Video);
  mt.SetSubtype(&subtype);
  mt.SetFormatType(&FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  std::memset(vih, 0, sizeof(VIDEOINFOHEADER));
  vih->AvgTimePerFrame = frameTime;
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = width;
  vih->bmiHeader.biHeight = height;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = bits;
  vih->bmiHeader.biCompression = compression;
  vih->bmiHeader.biSizeImage = bytes;
  vih->rcSource = {0, 0, width, height};
  vih->rcTarget = vih->rcSource;
  mt.SetSampleSize(bytes);
  mt.SetTemporalCompression(FALSE);
  return mt;
}

class PictureSource::Pin : public CSourceStream {
 public:
  Pin(HRESULT* phr, PictureSource* f, const CMediaType& type, std::vector<BYTE> picture, int frames,
      REFERENCE_TIME frameTime)
      : CSourceStream(L"picture pin", phr, f, L"Out"),
        m_type(type),
        m_picture(std::move(picture)),
        m_frames(frames),
        m_frameTime(frameTime) {}
  HRESULT GetMediaType(CMediaType* pmt) override {
    *pmt = m_type;
    return S_OK;
  }
  using CSourceStream::GetMediaType;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* req) override {
    req->cBuffers = std::max<LONG>(req->cBuffers, 2);
    req->cbBuffer = std::max<LONG>(req->cbBuffer, static_cast<LONG>(m_picture.size()));
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = pAlloc->SetProperties(req, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < req->cbBuffer ? E_FAIL : S_OK;
  }
  HRESULT FillBuffer(IMediaSample* s) override {
    CAutoLock lock(&m_csStream);
    if (m_next >= m_frames) return S_FALSE;
    BYTE* p = nullptr;
    s->GetPointer(&p);
    std::memcpy(p, m_picture.data(), m_picture.size());
    s->SetActualDataLength(static_cast<LONG>(m_picture.size()));
    REFERENCE_TIME start = m_next * m_frameTime, stop = start + m_frameTime;
    s->SetTime(&start, &stop);
    s->SetSyncPoint(TRUE);
    ++m_next;
    return S_OK;
  }
  void Rewind() {
    CAutoLock lock(&m_csStream);
    m_next = 0;
  }

 private:
  CMediaType m_type;
  std::vector<BYTE> m_picture;
  int m_frames;
  REFERENCE_TIME m_frameTime;
  CCritSec m_csStream;
  int m_next = 0;
};

PictureSource::PictureSource(const CMediaType& type, std::vector<BYTE> picture, int frames, REFERENCE_TIME frameTime)
    : CSource(L"Picture source", nullptr, GUID_NULL) {
  HRESULT hr = S_OK;
  m_pPin = new Pin(&hr, this, type, std::move(picture), frames, frameTime);
}

PictureSource::~PictureSource() { delete m_pPin; }

STDMETHODIMP PictureSource::Stop() {
  HRESULT hr = CSource::Stop();
  m_pPin->Rewind();
  return hr;
}

bool RegisterPlugins(std::initializer_list<const char*> modules) {
  static const bool registryOpen = [] {
    const std::string registry =
        (std::filesystem::temp_directory_path() / ("plenor_bench_" + std::to_string(getpid()) + ".db")).string();
    CoSetRegistryPath(registry);
    return true;
  }();
  const char* dir = std::getenv("PLENOR_PLUGIN_DIR");
  const std::string base = dir ? dir : PLENOR_BENCH_PLUGIN_DIR;
  for (const char* module : modules) {
    std::string error;
    HMODULE m = LoadLibrary((base + "/" + module).c_str(), &error);
    if (!m) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return false;
    }
    auto reg = reinterpret_cast<PFN_DllRegisterServer>(GetProcAddress(m, "DllRegisterServer"));
    const bool registered = reg && reg() == S_OK;
    FreeLibrary(m);
    if (!registered) return false;
  }
  return registryOpen;
}

ComPtr<IPin> PinOf(IBaseFilter* f, PIN_DIRECTION dir) {
  ComPtr<IEnumPins> pins;
  f->EnumPins(&pins);
  for (ComPtr<IPin> p; pins && pins->Next(1, &p, nullptr) == S_OK; p = nullptr) {
    PIN_DIRECTION d;
    p->QueryDirection(&d);
    if (d == dir) return p;
  }
  return nullptr;
}

LinearGraph::LinearGraph(const std::vector<IBaseFilter*>& chain) {
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.AsOut());
  ok = graph && std::none_of(chain.begin(), chain.end(), [](IBaseFilter* f) { return f == nullptr; });
  for (IBaseFilter* f : chain) ok = ok && SUCCEEDED(graph->AddFilter(f, nullptr));
  for (size_t i = 0; ok && i + 1 < chain.size(); ++i)
    ok = SUCCEEDED(graph->ConnectDirect(PinOf(chain[i], PINDIR_OUTPUT).Get(), PinOf(chain[i + 1], PINDIR_INPUT).Get(), nullptr));
  if (!ok) return;
  graph.As<IMediaFilter>()->SetSyncSource(nullptr);
  control = graph.As<IMediaControl>();
  events = graph.As<IMediaEventEx>();
  ok = control && events;
}

bool RunToCompletion(IMediaControl* control, IMediaEventEx* events) {
  if (FAILED(control->Run())) return false;
  LONG code = 0;
  HRESULT hr = events->WaitForCompletion(600000, &code);
  control->Stop();
  return hr == S_OK && code == EC_COMPLETE;
}

bool LinearGraph::RunToCompletion() { return benchsupport::RunToCompletion(control.Get(), events.Get()); }

double ProcessSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

bool RunBenchmarks(int* argc, char** argv, LoadAverages* load) {
  benchmark::Initialize(argc, argv);
  if (benchmark::ReportUnrecognizedArguments(*argc, argv)) return false;
  getloadavg(load->before, 3);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  getloadavg(load->after, 3);
  return true;
}

}  // namespace benchsupport

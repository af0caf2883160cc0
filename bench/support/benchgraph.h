// What the whole-pipeline benchmarks share: registering the plugin modules they load, making
// filters by class id, wiring a chain through the graph manager, running it to its end, a
// renderer that counts samples on arrival, and the process's processor time.
#pragma once

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/runtime.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/renbase.h"
#include "platform/strmbase/source.h"
#include "platform/strmbase/uuids.h"

namespace benchgraph {

// Registers the modules (file names in PLENOR_PLUGIN_DIR, else in pluginDir) in a registry of
// this process's own, once per process; false, with the reason on stderr, when one fails.
inline bool RegisterPlugins(const char* pluginDir, std::initializer_list<const char*> modules) {
  static const std::string registry =
      (std::filesystem::temp_directory_path() / ("bench_graph_" + std::to_string(getpid()) + ".db")).string();
  CoSetRegistryPath(registry);
  const char* dir = std::getenv("PLENOR_PLUGIN_DIR");
  const std::string base = dir ? dir : pluginDir;
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
    if (!registered) {
      std::fprintf(stderr, "%s/%s: DllRegisterServer failed\n", base.c_str(), module);
      return false;
    }
  }
  return true;
}

inline ComPtr<IBaseFilter> Create(const CLSID& clsid) {
  ComPtr<IBaseFilter> f;
  CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, f.AsOut());
  return f;
}

inline ComPtr<IPin> Pin(IBaseFilter* f, PIN_DIRECTION dir) {
  ComPtr<IEnumPins> pins;
  f->EnumPins(&pins);
  for (ComPtr<IPin> p; pins && pins->Next(1, &p, nullptr) == S_OK; p = nullptr) {
    PIN_DIRECTION d;
    p->QueryDirection(&d);
    if (d == dir) return p;
  }
  return nullptr;
}

// Samples with no memory of their own, for a source that points each one at a picture it already
// holds (CMediaSample::SetPointer) instead of copying the picture into it.
class SharedPictureAllocator : public CBaseAllocator {
 public:
  SharedPictureAllocator() : CBaseAllocator(L"Shared picture allocator", nullptr, nullptr) {}

 protected:
  HRESULT Alloc() override {
    Free();
    for (LONG i = 0; i < m_lCount; ++i) {
      HRESULT hr = S_OK;
      m_samples.push_back(std::make_unique<CMediaSample>(L"Shared picture sample", this, &hr));
      m_lFree.push_back(m_samples.back().get());
    }
    m_lAllocated = m_lCount;
    m_bChanged = false;
    return S_OK;
  }
  void Free() override {
    m_lFree.clear();
    m_samples.clear();
    m_lAllocated = 0;
  }

 private:
  std::vector<std::unique_ptr<CMediaSample>> m_samples;
};

// Plays prepared pictures of one media type in turn, `frames` per run (from the start again after
// Stop). Pictures are sample-size byte arrays; the source keeps a reference to them. With
// Delivery::Copy it copies one picture into each buffer of the downstream allocator, as a file
// source copies from the page cache; with Delivery::Share each sample points at the picture itself
// (an allocator of its own, offered read-only), so that the pictures reach the first filter as
// they reach a loop that calls the same code directly.
class PictureSource : public CSource {
 public:
  using Pictures = std::vector<std::vector<BYTE>>;
  enum class Delivery { Copy, Share };
  PictureSource(const CMediaType& type, const Pictures& pictures, int frames, Delivery delivery = Delivery::Copy)
      : CSource(L"Picture source", nullptr, GUID_NULL) {
    HRESULT hr = S_OK;
    m_pPin = new Pin(&hr, this, type, pictures, frames, delivery);
  }
  ~PictureSource() override { delete m_pPin; }
  STDMETHODIMP Stop() override {
    HRESULT hr = CSource::Stop();
    m_pPin->Rewind();
    return hr;
  }

 private:
  class Pin : public CSourceStream {
   public:
    Pin(HRESULT* phr, PictureSource* f, const CMediaType& type, const Pictures& pictures, int frames, Delivery delivery)
        : CSourceStream(L"picture pin", phr, f, L"Out"), m_type(type), m_pictures(pictures), m_frames(frames),
          m_delivery(delivery) {
      const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(m_type.Format());
      m_frameTime = vih && m_type.FormatLength() >= sizeof(VIDEOINFOHEADER) && vih->AvgTimePerFrame > 0 ? vih->AvgTimePerFrame : 400000;
    }
    HRESULT GetMediaType(CMediaType* pmt) override {
      *pmt = m_type;
      return S_OK;
    }
    using CSourceStream::GetMediaType;
    HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) override {
      if (m_delivery == Delivery::Copy) return CSourceStream::DecideAllocator(pPin, ppAlloc);
      if (!pPin || !ppAlloc) return E_POINTER;
      ComPtr<IMemAllocator> alloc(new SharedPictureAllocator);
      ALLOCATOR_PROPERTIES req{};
      pPin->GetAllocatorRequirements(&req);
      req.cbAlign = 1;
      HRESULT hr = DecideBufferSize(alloc.Get(), &req);
      if (SUCCEEDED(hr)) hr = pPin->NotifyAllocator(alloc.Get(), TRUE);
      if (FAILED(hr)) return hr;
      *ppAlloc = alloc.Detach();
      return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* req) override {
      req->cBuffers = std::max<LONG>(req->cBuffers, 2);
      req->cbBuffer = std::max<LONG>(req->cbBuffer, static_cast<LONG>(m_type.GetSampleSize()));
      ALLOCATOR_PROPERTIES actual{};
      HRESULT hr = pAlloc->SetProperties(req, &actual);
      if (FAILED(hr)) return hr;
      return actual.cbBuffer < req->cbBuffer ? E_FAIL : S_OK;
    }
    HRESULT FillBuffer(IMediaSample* s) override {
      CAutoLock lock(&m_csStream);
      if (m_next >= m_frames || m_pictures.empty()) return S_FALSE;
      const auto& picture = m_pictures[static_cast<size_t>(m_next) % m_pictures.size()];
      if (m_delivery == Delivery::Share) {
        // The allocator is ours (DecideAllocator), so the sample is one of its CMediaSamples;
        // downstream was told the buffer is read-only.
        static_cast<CMediaSample*>(s)->SetPointer(const_cast<BYTE*>(picture.data()), static_cast<LONG>(picture.size()));
      } else {
        if (static_cast<size_t>(s->GetSize()) < picture.size()) return E_FAIL;
        BYTE* p = nullptr;
        s->GetPointer(&p);
        std::memcpy(p, picture.data(), picture.size());
        s->SetActualDataLength(static_cast<LONG>(picture.size()));
      }
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
    const Pictures& m_pictures;
    const int m_frames;
    const Delivery m_delivery;
    REFERENCE_TIME m_frameTime = 400000;
    CCritSec m_csStream;
    int m_next = 0;
  };
  Pin* m_pPin = nullptr;
};

// Renders on arrival and counts.
class CountingRenderer : public CBaseRenderer {
 public:
  CountingRenderer() : CBaseRenderer(GUID_NULL, L"Counting renderer", nullptr, nullptr) {}
  HRESULT CheckMediaType(const CMediaType* pmt) override { return pmt ? S_OK : E_POINTER; }
  HRESULT DoRenderSample(IMediaSample*) override {
    ++rendered;
    return S_OK;
  }
  IPin* Input() { return GetPin(0); }
  std::atomic<int> rendered{0};
};

// Runs a graph until its streams complete (at most ten minutes) and stops it; true when all did.
inline bool RunToCompletion(IMediaControl* control, IMediaEventEx* events) {
  if (FAILED(control->Run())) return false;
  LONG code = 0;
  HRESULT hr = events->WaitForCompletion(600000, &code);
  control->Stop();
  return hr == S_OK && code == EC_COMPLETE;
}

// A graph of the filters in chain order, each output connected straight to the next input,
// without a clock (the renderer renders on arrival). ok is false when a step failed.
struct Chain {
  explicit Chain(const std::vector<IBaseFilter*>& chain) {
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.AsOut());
    ok = static_cast<bool>(graph);
    for (IBaseFilter* f : chain) ok = ok && f && SUCCEEDED(graph->AddFilter(f, nullptr));
    for (size_t i = 0; ok && i + 1 < chain.size(); ++i)
      ok = SUCCEEDED(graph->ConnectDirect(Pin(chain[i], PINDIR_OUTPUT).Get(), Pin(chain[i + 1], PINDIR_INPUT).Get(), nullptr));
    if (!ok) return;
    graph.As<IMediaFilter>()->SetSyncSource(nullptr);
    control = graph.As<IMediaControl>();
    events = graph.As<IMediaEventEx>();
  }
  bool RunToCompletion() { return benchgraph::RunToCompletion(control.Get(), events.Get()); }
  bool ok = false;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
};

// Runs the benchmarks the command line selects; the load average of the machine before and after
// goes into `load` (printed with the figures: on a shared machine they say little unless the
// other processes left the cores free). Returns false on an unrecognised argument.
struct LoadAverage {
  double before[3] = {0, 0, 0}, after[3] = {0, 0, 0};
  void Print() const {
    std::printf("  load average before %.2f %.2f %.2f, after %.2f %.2f %.2f\n", before[0], before[1], before[2],
                after[0], after[1], after[2]);
  }
};
inline bool RunBenchmarks(int* argc, char** argv, LoadAverage* load) {
  benchmark::Initialize(argc, argv);
  if (benchmark::ReportUnrecognizedArguments(*argc, argv)) return false;
  getloadavg(load->before, 3);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  getloadavg(load->after, 3);
  return true;
}

inline double ProcessSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

}  // namespace benchgraph

#include "bench/support/graphbench.h"

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "platform/strmbase/amfilter.h"
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

namespace {

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

}  // namespace

class PictureSource::Pin : public CSourceStream {
 public:
  // Plays `pictures`, or `held` (which it keeps) when pictures is null.
  Pin(HRESULT* phr, PictureSource* f, const CMediaType& type, Pictures held, const Pictures* pictures, int frames,
      REFERENCE_TIME frameTime, Delivery delivery)
      : CSourceStream(L"picture pin", phr, f, L"Out"),
        m_type(type),
        m_held(std::move(held)),
        m_pictures(pictures ? *pictures : m_held),
        m_frames(frames),
        m_frameTime(frameTime),
        m_delivery(delivery) {}
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
    size_t largest = 0;
    for (const auto& picture : m_pictures) largest = std::max(largest, picture.size());
    req->cBuffers = std::max<LONG>(req->cBuffers, 2);
    req->cbBuffer = std::max<LONG>(req->cbBuffer, static_cast<LONG>(largest));
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
      HRESULT hr = static_cast<CMediaSample*>(s)->SetPointer(const_cast<BYTE*>(picture.data()),
                                                             static_cast<LONG>(picture.size()));
      if (FAILED(hr)) return hr;
    } else {
      BYTE* p = nullptr;
      if (FAILED(s->GetPointer(&p)) || static_cast<size_t>(s->GetSize()) < picture.size()) return E_FAIL;
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
  const Pictures m_held;
  const Pictures& m_pictures;
  const int m_frames;
  const REFERENCE_TIME m_frameTime;
  const Delivery m_delivery;
  CCritSec m_csStream;
  int m_next = 0;
};

PictureSource::PictureSource(const CMediaType& type, std::vector<BYTE> picture, int frames, REFERENCE_TIME frameTime)
    : CSource(L"Picture source", nullptr, GUID_NULL) {
  HRESULT hr = S_OK;
  Pictures held;
  held.push_back(std::move(picture));
  m_pPin = new Pin(&hr, this, type, std::move(held), nullptr, frames, frameTime, Delivery::Copy);
}

PictureSource::PictureSource(const CMediaType& type, const Pictures& pictures, int frames, REFERENCE_TIME frameTime,
                             Delivery delivery)
    : CSource(L"Picture source", nullptr, GUID_NULL) {
  HRESULT hr = S_OK;
  m_pPin = new Pin(&hr, this, type, Pictures(), &pictures, frames, frameTime, delivery);
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
    if (!registered) {
      std::fprintf(stderr, "%s/%s: DllRegisterServer failed\n", base.c_str(), module);
      return false;
    }
  }
  return registryOpen;
}

ComPtr<IBaseFilter> Create(const CLSID& clsid) {
  ComPtr<IBaseFilter> f;
  CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, f.AsOut());
  return f;
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

double CoreRoundTripNs() {
  if (sysconf(_SC_NPROCESSORS_ONLN) < 2) return 0;
  constexpr int kTrips = 100000;
  alignas(64) std::atomic<int> turn{0};
  auto pin = [](int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
  };
  std::atomic<bool> pinned{true};
  double ns = 0;
  std::thread echo([&] {
    if (!pin(1)) pinned = false;
    for (int i = 0; i < kTrips; ++i) {
      while (turn.load(std::memory_order_acquire) != 2 * i + 1) {
      }
      turn.store(2 * i + 2, std::memory_order_release);
    }
  });
  std::thread ping([&] {
    if (!pin(0)) pinned = false;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kTrips; ++i) {
      turn.store(2 * i + 1, std::memory_order_release);
      while (turn.load(std::memory_order_acquire) != 2 * i + 2) {
      }
    }
    ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count() / kTrips;
  });
  ping.join();
  echo.join();
  return pinned ? ns : 0;
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

void LoadAverages::Print() const {
  std::printf("  load average before %.2f %.2f %.2f, after %.2f %.2f %.2f\n", before[0], before[1], before[2],
              after[0], after[1], after[2]);
}

}  // namespace benchsupport

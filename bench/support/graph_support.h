// What the benchmarks of graphs of plugin modules share: registration of the modules in a registry
// of the process's own, a pushing source that plays one prepared picture, a renderer that counts
// samples on arrival, pin lookup, a run to completion and the process's processor time.
#pragma once

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/runtime.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/renbase.h"
#include "platform/strmbase/source.h"
#include "platform/strmbase/uuids.h"

namespace benchsupport {

// Plays one picture of the given type a number of times (its own thread), copying it into each
// buffer as a file source copies from the page cache, with time stamps frameTime apart; rewinds
// on Stop.
class PictureSource : public CSource {
 public:
  PictureSource(const CMediaType& type, std::vector<BYTE> picture, int frames, REFERENCE_TIME frameTime)
      : CSource(L"Picture source", nullptr, GUID_NULL) {
    HRESULT hr = S_OK;
    m_pPin = new Pin(&hr, this, type, std::move(picture), frames, frameTime);
  }
  ~PictureSource() override { delete m_pPin; }
  STDMETHODIMP Stop() override {
    HRESULT hr = CSource::Stop();
    m_pPin->Rewind();
    return hr;
  }
  IPin* Output() { return m_pPin; }

 private:
  class Pin : public CSourceStream {
   public:
    Pin(HRESULT* phr, PictureSource* f, const CMediaType& type, std::vector<BYTE> picture, int frames,
        REFERENCE_TIME frameTime)
        : CSourceStream(L"picture pin", phr, f, L"Out"), m_type(type), m_picture(std::move(picture)),
          m_nFrames(frames), m_frameTime(frameTime) {}
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
      if (m_next >= m_nFrames) return S_FALSE;
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
    const int m_nFrames;
    const REFERENCE_TIME m_frameTime;
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

// Registers the modules (file names in PLENOR_PLUGIN_DIR, else pluginDir) in a registry of this
// process's own; false with the loader's message on stderr if one fails.
inline bool RegisterPlugins(const char* program, const char* pluginDir, std::initializer_list<const char*> modules) {
  const std::string registry =
      (std::filesystem::temp_directory_path() / (std::string(program) + "_" + std::to_string(getpid()) + ".db")).string();
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
    if (!registered) return false;
  }
  return true;
}

// The filter's first pin of this direction.
inline ComPtr<IPin> FirstPin(IBaseFilter* f, PIN_DIRECTION dir) {
  ComPtr<IEnumPins> pins;
  f->EnumPins(&pins);
  for (ComPtr<IPin> p; pins && pins->Next(1, &p, nullptr) == S_OK; p = nullptr) {
    PIN_DIRECTION d;
    p->QueryDirection(&d);
    if (d == dir) return p;
  }
  return nullptr;
}

// Runs the graph until it completes (at most ten minutes), then stops it.
inline bool RunToCompletion(IMediaControl* control, IMediaEventEx* events) {
  if (FAILED(control->Run())) return false;
  LONG code = 0;
  HRESULT hr = events->WaitForCompletion(600000, &code);
  control->Stop();
  return hr == S_OK && code == EC_COMPLETE;
}

// Processor time of all threads of the process, in seconds.
inline double ProcessSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

}  // namespace benchsupport

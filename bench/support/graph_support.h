// What the benchmarks of graphs of plugin modules share: registration of the modules in a registry
// of the process's own, a renderer that counts samples on arrival, pin lookup, a run to
// completion and the process's processor time.
#pragma once

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "platform/com/runtime.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/renbase.h"
#include "platform/strmbase/uuids.h"

namespace benchsupport {

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

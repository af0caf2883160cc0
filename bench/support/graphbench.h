// What the whole-pipeline benchmarks share: registering the plugin modules they load, making
// filters by class id, wiring a chain through the graph manager, running it to its end, a
// renderer that counts samples on arrival, and the process's processor time.
#pragma once

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/com/runtime.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/renbase.h"
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
  bool RunToCompletion() {
    if (FAILED(control->Run())) return false;
    LONG code = 0;
    HRESULT hr = events->WaitForCompletion(600000, &code);
    control->Stop();
    return hr == S_OK && code == EC_COMPLETE;
  }
  bool ok = false;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
};

inline double ProcessSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

}  // namespace benchgraph

// Pieces shared by the benchmarks that run whole graphs through the graph manager with the
// registered plugins.
#pragma once

#include <atomic>
#include <chrono>
#include <initializer_list>
#include <vector>

#include "platform/com/runtime.h"
#include "platform/strmbase/renbase.h"
#include "platform/strmbase/source.h"

namespace benchsupport {

// An uncompressed video type with a VIDEOINFOHEADER of width x height (bottom-up for RGB), its
// sample size `bytes`.
CMediaType VideoType(const GUID& subtype, DWORD compression, WORD bits, LONG width, LONG height, DWORD bytes,
                     REFERENCE_TIME frameTime);

// Plays prepared pictures of one media type in turn, `frames` per run, with time stamps
// `frameTime` apart; Stop rewinds it. Delivery::Copy copies a picture into each buffer of the
// downstream allocator, as a file source copies from the page cache. Delivery::Share points each
// sample at the picture itself (samples of an allocator of the source's own, offered read-only), so
// that the pictures reach the first filter as they reach a loop that calls the same code directly.
class PictureSource : public CSource {
 public:
  using Pictures = std::vector<std::vector<BYTE>>;
  enum class Delivery { Copy, Share };
  // One picture, which the source keeps, copied into each buffer.
  PictureSource(const CMediaType& type, std::vector<BYTE> picture, int frames, REFERENCE_TIME frameTime);
  // The caller's pictures, which the source does not copy: they must outlive it.
  PictureSource(const CMediaType& type, const Pictures& pictures, int frames, REFERENCE_TIME frameTime,
                Delivery delivery = Delivery::Copy);
  ~PictureSource() override;
  STDMETHODIMP Stop() override;

 private:
  class Pin;
  Pin* m_pPin = nullptr;
};

// Renders each sample on arrival and counts it; OnSample sees it first.
class CountingRenderer : public CBaseRenderer {
 public:
  CountingRenderer() : CBaseRenderer(GUID_NULL, L"Counting renderer", nullptr, nullptr) {}
  HRESULT CheckMediaType(const CMediaType* pmt) override { return pmt ? S_OK : E_POINTER; }
  HRESULT DoRenderSample(IMediaSample* sample) override {
    OnSample(sample, ++rendered);
    return S_OK;
  }
  virtual void OnSample(IMediaSample* /*sample*/, int /*count*/) {}
  IPin* Input() { return GetPin(0); }
  std::atomic<int> rendered{0};
};

// Registers the modules (file names in $PLENOR_PLUGIN_DIR or the build's plugin folder) into a
// registry of this process's own under the temporary folder; once per process.
bool RegisterPlugins(std::initializer_list<const char*> modules);

// A filter made by class id from the registered modules; null when there is none.
ComPtr<IBaseFilter> Create(const CLSID& clsid);

// The first pin of the direction.
ComPtr<IPin> PinOf(IBaseFilter* f, PIN_DIRECTION dir);

// Runs the graph until it completes (at most ten minutes), then stops it; true when it completed.
bool RunToCompletion(IMediaControl* control, IMediaEventEx* events);

// The filters added to a new graph and connected directly in order, without a clock.
struct LinearGraph {
  explicit LinearGraph(const std::vector<IBaseFilter*>& chain);
  // Runs until the end of the stream and stops; true when it completed.
  bool RunToCompletion();
  bool ok = false;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
};

// Processor time of all threads of the process, in seconds.
double ProcessSeconds();

// Nanoseconds for a cache line to go from processor 0 to processor 1 and back (two threads pinned
// to them hand a counter to each other), 0 with fewer than two processors. A virtual machine's
// processors can sit on cores that share a cache (this figure near 100 ns) or on cores that
// share none (several hundred ns), and the host may move them while it runs: in the second case a
// picture handed from one filter's thread to the next crosses the interconnect line by line,
// which is what a Queue's gain depends on. The benchmarks that run threads print it before and
// after their runs.
double CoreRoundTripNs();

// Runs `run` (a graph run to the end of its stream, true when it completed) once and adds its wall
// seconds, the process's processor seconds and the samples `renderer` counted meanwhile to the
// tallies; false when the run failed.
template <class Run>
bool TimedRun(Run&& run, const CountingRenderer& renderer, double* wall, double* cpu, long long* samples) {
  const int before = renderer.rendered.load();
  const double c0 = ProcessSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  if (!run()) return false;
  *wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  *cpu += ProcessSeconds() - c0;
  *samples += renderer.rendered.load() - before;
  return true;
}

// The machine's load averages (1, 5 and 15 minutes) before and after the benchmarks ran.
struct LoadAverages {
  double before[3] = {0, 0, 0};
  double after[3] = {0, 0, 0};
  // One line "  load average before ..., after ...".
  void Print() const;
};
// Initialises Google Benchmark with the command line and runs the benchmarks it selects; false
// when the command line holds arguments it does not know.
bool RunBenchmarks(int* argc, char** argv, LoadAverages* load);

}  // namespace benchsupport

// Whole pipelines through the graph manager with the registered plugins: the 1080p round trip
//   source (I420) -> I420ToRgbFilter -> [Queue] -> RgbToI420Filter -> renderer
// with and without a Queue between the two converters, in frames per second of wall time and in
// processor time per frame (all threads of the process). The source plays one prepared picture
// (a gradient with noise) by copying it into each buffer, as a file source copies from the page
// cache, so the source costs what reading a frame costs. The renderer counts samples on arrival.
// The load average of the machine is printed with the figures: on a shared machine the ratio says
// little unless the other processes left the second core free.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "colour/rgb2yuv/rgbtoi420.h"
#include "framework/settings.h"
#include "colour/yuv2rgb/i420torgb.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/amvideo.h"
#include "platform/strmbase/source.h"
#include "platform/strmbase/uuids.h"
#include "utilities/utilities.h"
#include "bench/support/graphbench.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kFrames = 240;

CMediaType I420Type() {
  CMediaType mt;
  mt.SetType(&MEDIATYPE_Video);
  mt.SetSubtype(&MEDIASUBTYPE_I420);
  mt.SetFormatType(&FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  std::memset(vih, 0, sizeof(VIDEOINFOHEADER));
  vih->AvgTimePerFrame = 400000;
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = kWidth;
  vih->bmiHeader.biHeight = kHeight;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = 12;
  vih->bmiHeader.biCompression = MAKEFOURCC('I', '4', '2', '0');
  vih->bmiHeader.biSizeImage = kWidth * kHeight * 3 / 2;
  vih->rcSource = {0, 0, kWidth, kHeight};
  vih->rcTarget = vih->rcSource;
  mt.SetSampleSize(vih->bmiHeader.biSizeImage);
  mt.SetTemporalCompression(FALSE);
  return mt;
}

// Plays one I420 picture kFrames times.
class PictureSource : public CSource {
 public:
  PictureSource() : CSource(L"Picture source", nullptr, GUID_NULL) {
    HRESULT hr = S_OK;
    m_pPin = new Pin(&hr, this);
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
    Pin(HRESULT* phr, PictureSource* f) : CSourceStream(L"picture pin", phr, f, L"Out"), m_type(I420Type()) {
      // Luma: diagonal gradient with noise; chroma: slow ramps.
      m_picture.resize(m_type.GetSampleSize());
      std::mt19937 rng(7);
      for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
          m_picture[static_cast<size_t>(y) * kWidth + x] = static_cast<BYTE>((x + y) * 220 / (kWidth + kHeight) + 16 + rng() % 16);
      BYTE* u = m_picture.data() + kWidth * kHeight;
      BYTE* v = u + kWidth * kHeight / 4;
      for (int y = 0; y < kHeight / 2; ++y)
        for (int x = 0; x < kWidth / 2; ++x) {
          u[y * (kWidth / 2) + x] = static_cast<BYTE>(64 + x * 128 / (kWidth / 2));
          v[y * (kWidth / 2) + x] = static_cast<BYTE>(192 - y * 128 / (kHeight / 2));
        }
    }
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
      if (m_next >= kFrames) return S_FALSE;
      BYTE* p = nullptr;
      s->GetPointer(&p);
      std::memcpy(p, m_picture.data(), m_picture.size());
      s->SetActualDataLength(static_cast<LONG>(m_picture.size()));
      REFERENCE_TIME start = m_next * 400000LL, stop = start + 400000;
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
    CCritSec m_csStream;
    int m_next = 0;
  };
  Pin* m_pPin = nullptr;
};

bool RegisterPlugins() {
  static const bool ok =
      benchgraph::RegisterPlugins(PLENOR_BENCH_PLUGIN_DIR, {"PlenorUtilities.so", "I420ToRgbFilter.so", "RgbToI420Filter.so"});
  return ok;
}

using benchgraph::CountingRenderer;
using benchgraph::Create;
using benchgraph::ProcessSeconds;

struct RoundTrip {
  // queue: the Queue's "max_samples", or 0 for no Queue.
  explicit RoundTrip(int queue) : source(new PictureSource), renderer(new CountingRenderer) {
    std::vector<IBaseFilter*> chain{source.Get()};
    filters.push_back(Create(CLSID_I420ToRgbFilter));
    if (queue > 0) {
      filters.push_back(Create(CLSID_Queue));
      ComPtr<ISettingsInterface> settings;
      if (filters.back() && SUCCEEDED(filters.back()->QueryInterface(IID_ISettingsInterface, settings.AsOut())))
        ok = SUCCEEDED(settings->SetParameter("max_samples", std::to_string(queue).c_str()));
    }
    filters.push_back(Create(CLSID_RgbToI420Filter));
    for (auto& f : filters) chain.push_back(f.Get());
    chain.push_back(renderer.Get());
    if (!ok) return;
    graph = std::make_unique<benchgraph::Chain>(chain);
    ok = graph->ok;
  }
  bool RunToCompletion() { return graph->RunToCompletion(); }
  bool ok = true;
  ComPtr<PictureSource> source;
  ComPtr<CountingRenderer> renderer;
  std::vector<ComPtr<IBaseFilter>> filters;
  std::unique_ptr<benchgraph::Chain> graph;
};

struct Figures {
  double fps = 0, cpuMsPerFrame = 0;
};
std::map<int, Figures> g_figures;  // by the Queue's max_samples (0: none)

void BM_RoundTrip1080p(benchmark::State& state) {
  const int queue = static_cast<int>(state.range(0));
  if (!RegisterPlugins()) {
    state.SkipWithError("could not register the plugins");
    return;
  }
  RoundTrip p(queue);
  if (!p.ok) {
    state.SkipWithError("could not build the graph");
    return;
  }
  double wall = 0, cpu = 0;
  long long frames = 0;
  for (auto _ : state) {
    const int before = p.renderer->rendered.load();
    const double c0 = ProcessSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    if (!p.RunToCompletion()) {
      state.SkipWithError("the graph did not complete");
      return;
    }
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu += ProcessSeconds() - c0;
    frames += p.renderer->rendered.load() - before;
  }
  state.SetItemsProcessed(frames);
  Figures& f = g_figures[queue];
  f.fps = frames / wall;
  f.cpuMsPerFrame = 1000 * cpu / frames;
  state.counters["fps"] = f.fps;
  state.counters["cpu_ms_per_frame"] = f.cpuMsPerFrame;
}
BENCHMARK(BM_RoundTrip1080p)->ArgName("queue")->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  double before[3] = {0, 0, 0}, after[3] = {0, 0, 0};
  getloadavg(before, 3);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  getloadavg(after, 3);
  std::printf("\n1080p I420 -> RGB24 -> I420, %d frames per run, %ld processors online\n", kFrames,
              sysconf(_SC_NPROCESSORS_ONLN));
  for (const auto& [queue, f] : g_figures) {
    const std::string name = queue == 0 ? "without Queue" : "Queue of " + std::to_string(queue);
    std::printf("  %-15s %7.1f frames/s  %6.2f ms processor time per frame", name.c_str(), f.fps, f.cpuMsPerFrame);
    if (queue > 0 && g_figures.count(0) && g_figures[0].fps > 0)
      std::printf("  %.2fx the frames per second without", f.fps / g_figures[0].fps);
    std::printf("\n");
  }
  std::printf("  load average before %.2f %.2f %.2f, after %.2f %.2f %.2f\n", before[0], before[1], before[2],
              after[0], after[1], after[2]);
  return 0;
}

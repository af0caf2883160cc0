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

// The one I420 picture the source plays kFrames times: luma a diagonal gradient with noise,
// chroma slow ramps.
const benchgraph::PictureSource::Pictures& Picture() {
  static const benchgraph::PictureSource::Pictures pictures = [] {
    std::vector<BYTE> picture(static_cast<size_t>(kWidth) * kHeight * 3 / 2);
    std::mt19937 rng(7);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        picture[static_cast<size_t>(y) * kWidth + x] = static_cast<BYTE>((x + y) * 220 / (kWidth + kHeight) + 16 + rng() % 16);
    BYTE* u = picture.data() + kWidth * kHeight;
    BYTE* v = u + kWidth * kHeight / 4;
    for (int y = 0; y < kHeight / 2; ++y)
      for (int x = 0; x < kWidth / 2; ++x) {
        u[y * (kWidth / 2) + x] = static_cast<BYTE>(64 + x * 128 / (kWidth / 2));
        v[y * (kWidth / 2) + x] = static_cast<BYTE>(192 - y * 128 / (kHeight / 2));
      }
    return benchgraph::PictureSource::Pictures{std::move(picture)};
  }();
  return pictures;
}

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
  explicit RoundTrip(int queue) : source(new benchgraph::PictureSource(I420Type(), Picture(), kFrames)), renderer(new CountingRenderer) {
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
  ComPtr<benchgraph::PictureSource> source;
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
  benchgraph::LoadAverage load;
  if (!benchgraph::RunBenchmarks(&argc, argv, &load)) return 1;
  std::printf("\n1080p I420 -> RGB24 -> I420, %d frames per run, %ld processors online\n", kFrames,
              sysconf(_SC_NPROCESSORS_ONLN));
  for (const auto& [queue, f] : g_figures) {
    const std::string name = queue == 0 ? "without Queue" : "Queue of " + std::to_string(queue);
    std::printf("  %-15s %7.1f frames/s  %6.2f ms processor time per frame", name.c_str(), f.fps, f.cpuMsPerFrame);
    if (queue > 0 && g_figures.count(0) && g_figures[0].fps > 0)
      std::printf("  %.2fx the frames per second without", f.fps / g_figures[0].fps);
    std::printf("\n");
  }
  load.Print();
  return 0;
}

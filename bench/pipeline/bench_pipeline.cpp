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
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/support/graphbench.h"
#include "bench/support/inturn.h"
#include "colour/rgb2yuv/rgbtoi420.h"
#include "framework/settings.h"
#include "colour/yuv2rgb/i420torgb.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/amvideo.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/renbase.h"
#include "platform/strmbase/source.h"
#include "platform/strmbase/uuids.h"
#include "utilities/utilities.h"

namespace {

using benchsupport::CountingRenderer;
using benchsupport::Create;
using benchsupport::PictureSource;
using benchsupport::ProcessSeconds;

// PIPELINE_SIZE=WxH and PIPELINE_FRAMES=N change the picture size (even, default 1920x1080) and
// the frames per run (default 240), to see how the figures depend on them.
int SizeFromEnvironment(int which, int fallback) {
  const char* s = std::getenv("PIPELINE_SIZE");
  int w = 0, h = 0;
  if (!s || std::sscanf(s, "%dx%d", &w, &h) != 2 || w < 2 || h < 2 || w > 8192 || h > 8192) return fallback;
  return (which == 0 ? w : h) & ~1;
}
const int kWidth = SizeFromEnvironment(0, 1920), kHeight = SizeFromEnvironment(1, 1080);
const int kFrames = std::getenv("PIPELINE_FRAMES") ? std::clamp(std::atoi(std::getenv("PIPELINE_FRAMES")), 1, 1000000) : 240;

CMediaType I420Type() {
  return benchsupport::VideoType(MEDIASUBTYPE_I420, MAKEFOURCC('I', '4', '2', '0'), 12, kWidth, kHeight,
                                 kWidth * kHeight * 3 / 2, 400000);
}

// One I420 picture: luma a diagonal gradient with noise, chroma slow ramps.
std::vector<BYTE> I420Picture() {
  std::vector<BYTE> picture(kWidth * kHeight * 3 / 2);
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
  return picture;
}

bool RegisterPlugins() {
  static const bool ok = benchsupport::RegisterPlugins(
      {"PlenorUtilities.so", "I420ToRgbFilter.so", "RgbToI420Filter.so"});
  return ok;
}

ComPtr<IPin> Pin(IBaseFilter* f, PIN_DIRECTION dir) { return benchsupport::PinOf(f, dir); }

// The Queue settings compared, by benchmark argument: none, the Queue as created, one sample, and
// three samples without the byte bound (every 1080p frame of the list then in its own buffer).
struct QueueSetting {
  const char* name;
  const char* maxSamples;  // nullptr: the default
  const char* maxBytes;
};
const QueueSetting kSettings[] = {{"without Queue", nullptr, nullptr},
                                  {"Queue (default)", nullptr, nullptr},
                                  {"Queue of 1", "1", nullptr},
                                  {"Queue of 3, no byte bound", "3", "0"}};

struct RoundTrip {
  // queue: an index into kSettings (0: no Queue).
  explicit RoundTrip(int queue) {
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.AsOut());
    source = ComPtr<PictureSource>(new PictureSource(I420Type(), I420Picture(), kFrames, 400000));
    renderer = ComPtr<CountingRenderer>(new CountingRenderer);
    std::vector<IBaseFilter*> chain{source.Get()};
    filters.push_back(Create(CLSID_I420ToRgbFilter));
    if (queue > 0) {
      filters.push_back(Create(CLSID_Queue));
      ComPtr<ISettingsInterface> settings;
      const QueueSetting& q = kSettings[queue];
      if (filters.back() && SUCCEEDED(filters.back()->QueryInterface(IID_ISettingsInterface, settings.AsOut()))) {
        if (q.maxSamples) ok = ok && SUCCEEDED(settings->SetParameter("max_samples", q.maxSamples));
        if (q.maxBytes) ok = ok && SUCCEEDED(settings->SetParameter("max_bytes", q.maxBytes));
      }
    }
    filters.push_back(Create(CLSID_RgbToI420Filter));
    for (auto& f : filters) {
      ok = ok && f;
      chain.push_back(f.Get());
    }
    chain.push_back(renderer.Get());
    if (!ok || !graph) return;
    for (IBaseFilter* f : chain) ok = ok && SUCCEEDED(graph->AddFilter(f, nullptr));
    for (size_t i = 0; ok && i + 1 < chain.size(); ++i)
      ok = SUCCEEDED(graph->ConnectDirect(Pin(chain[i], PINDIR_OUTPUT).Get(), Pin(chain[i + 1], PINDIR_INPUT).Get(), nullptr));
    graph.As<IMediaFilter>()->SetSyncSource(nullptr);
    control = graph.As<IMediaControl>();
    events = graph.As<IMediaEventEx>();
  }
  bool RunToCompletion() { return benchsupport::RunToCompletion(control.Get(), events.Get()); }
  bool ok = true;
  ComPtr<IGraphBuilder> graph;
  ComPtr<PictureSource> source;
  ComPtr<CountingRenderer> renderer;
  std::vector<ComPtr<IBaseFilter>> filters;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
};

struct Figures {
  double fps = 0, cpuMsPerFrame = 0;
};
std::map<int, Figures> g_figures;  // by the Queue's max_samples (0: none)

// One run to the end of the stream, added to the tallies; false when it failed.
bool RunOnce(RoundTrip& p, double* wall, double* cpu, long long* frames) {
  return benchsupport::TimedRun([&] { return p.RunToCompletion(); }, *p.renderer.Get(), wall, cpu, frames);
}

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
    if (!RunOnce(p, &wall, &cpu, &frames)) {
      state.SkipWithError("the graph did not complete");
      return;
    }
  }
  state.SetItemsProcessed(frames);
  Figures& f = g_figures[queue];
  f.fps = frames / wall;
  f.cpuMsPerFrame = 1000 * cpu / frames;
  state.counters["fps"] = f.fps;
  state.counters["cpu_ms_per_frame"] = f.cpuMsPerFrame;
}
BENCHMARK(BM_RoundTrip1080p)->ArgName("queue")->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// The pipeline without and with a Queue of the given size in turn, kRounds times each
// (benchsupport::InTurnFigures), the figure to read on a shared machine.
std::map<int, benchsupport::InTurnFigures> g_inTurn;  // by the Queue's max_samples
constexpr int kRounds = 7;

void BM_InTurn(benchmark::State& state) {
  const int queue = static_cast<int>(state.range(0));
  if (!RegisterPlugins()) {
    state.SkipWithError("could not register the plugins");
    return;
  }
  RoundTrip plain(0), queued(queue);
  if (!plain.ok || !queued.ok) {
    state.SkipWithError("could not build the graphs");
    return;
  }
  benchsupport::InTurnFigures t;
  for (auto _ : state) {
    for (int r = 0; r < kRounds; ++r) {
      double w[2] = {0, 0}, c[2] = {0, 0};
      long long n[2] = {0, 0};
      if (!RunOnce(plain, &w[0], &c[0], &n[0]) || !RunOnce(queued, &w[1], &c[1], &n[1]) || !n[0] || !n[1]) {
        state.SkipWithError("a graph did not complete");
        return;
      }
      t.Add(n[0], w[0], c[0], n[1], w[1], c[1]);
    }
  }
  g_inTurn[queue] = t;
  state.counters["plain_fps_best"] = t.bestFps[0];
  state.counters["queue_fps_best"] = t.bestFps[1];
  state.counters["ratio_best"] = t.BestRatio();
  state.counters["ratio_median"] = t.MedianRatio();
}
BENCHMARK(BM_InTurn)->ArgName("queue")->Arg(1)->Arg(2)->Arg(3)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The stages on their own, each on the streaming thread of its source: what the Queue can
// overlap. "source": the picture copied into each buffer; "to RGB24": source + I420ToRgbFilter
// (the part upstream of the Queue); "to I420": an RGB24 picture's source + RgbToI420Filter (the
// part downstream, plus one more copy); "RGB24 source": that copy alone. Upstream is "to RGB24",
// downstream "to I420" less "RGB24 source"; the round trip without a Queue costs about their sum,
// and with a Queue it cannot run faster than the slower of the two.
std::vector<BYTE> Rgb24Picture() {
  std::vector<BYTE> picture(static_cast<size_t>(kWidth) * kHeight * 3);
  std::mt19937 rng(11);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      BYTE* p = picture.data() + (static_cast<size_t>(y) * kWidth + x) * 3;
      const int n = static_cast<int>(rng() % 16);
      p[0] = static_cast<BYTE>(x * 200 / kWidth + n);
      p[1] = static_cast<BYTE>(y * 200 / kHeight + n);
      p[2] = static_cast<BYTE>((x + y) * 200 / (kWidth + kHeight) + n);
    }
  return picture;
}

std::map<std::string, Figures> g_stages;

void BM_Stage(benchmark::State& state) {
  const int stage = static_cast<int>(state.range(0));  // 0 source, 1 to RGB24, 2 to I420, 3 RGB24 source
  if (!RegisterPlugins()) {
    state.SkipWithError("could not register the plugins");
    return;
  }
  const CMediaType rgb = benchsupport::VideoType(MEDIASUBTYPE_RGB24, 0, 24, kWidth, kHeight, kWidth * kHeight * 3, 400000);
  const bool rgbSource = stage >= 2;
  ComPtr<PictureSource> source(rgbSource ? new PictureSource(rgb, Rgb24Picture(), kFrames, 400000)
                                         : new PictureSource(I420Type(), I420Picture(), kFrames, 400000));
  ComPtr<CountingRenderer> renderer(new CountingRenderer);
  ComPtr<IBaseFilter> filter;
  std::vector<IBaseFilter*> chain{source.Get()};
  if (stage == 1 || stage == 2) {
    filter = Create(stage == 1 ? CLSID_I420ToRgbFilter : CLSID_RgbToI420Filter);
    chain.push_back(filter.Get());
  }
  chain.push_back(renderer.Get());
  benchsupport::LinearGraph g(chain);
  if (!g.ok) {
    state.SkipWithError("could not build the graph");
    return;
  }
  double wall = 0, cpu = 0;
  long long frames = 0;
  for (auto _ : state) {
    if (!benchsupport::TimedRun([&] { return g.RunToCompletion(); }, *renderer.Get(), &wall, &cpu, &frames)) {
      state.SkipWithError("the graph did not complete");
      return;
    }
  }
  static const char* const kNames[] = {"source", "to RGB24", "to I420", "RGB24 source"};
  Figures& f = g_stages[kNames[stage]];
  f.fps = frames / wall;
  f.cpuMsPerFrame = 1000 * cpu / frames;
  state.counters["ms_per_frame"] = 1000 * wall / frames;
}
BENCHMARK(BM_Stage)->ArgName("stage")->Arg(0)->Arg(1)->Arg(2)->Arg(3)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  double before[3] = {0, 0, 0}, after[3] = {0, 0, 0};
  getloadavg(before, 3);
  const double tripBefore = benchsupport::CoreRoundTripNs();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const double tripAfter = benchsupport::CoreRoundTripNs();
  getloadavg(after, 3);
  std::printf("\n%dx%d I420 -> RGB24 -> I420, %d frames per run, %ld processors online\n", kWidth, kHeight, kFrames,
              sysconf(_SC_NPROCESSORS_ONLN));
  for (const auto& [queue, f] : g_figures) {
    const std::string name = kSettings[queue].name;
    std::printf("  %-26s %7.1f frames/s  %6.2f ms processor time per frame", name.c_str(), f.fps, f.cpuMsPerFrame);
    if (queue > 0 && g_figures.count(0) && g_figures[0].fps > 0)
      std::printf("  %.2fx the frames per second without", f.fps / g_figures[0].fps);
    std::printf("\n");
  }
  for (const auto& [name, f] : g_stages)
    std::printf("  stage %-12s %.3f ms per frame (wall), %.3f ms processor time\n", name.c_str(), 1000 / f.fps,
                f.cpuMsPerFrame);
  if (g_stages.size() == 4) {
    const double up = 1000 / g_stages["to RGB24"].fps;
    const double down = 1000 / g_stages["to I420"].fps - 1000 / g_stages["RGB24 source"].fps;
    std::printf("  upstream %.3f ms, downstream %.3f ms: one Queue between them gives at most %.2fx,\n"
                "    if neither stage slows down while the other runs\n",
                up, down, (up + down) / std::max(up, down));
  }
  for (const auto& [queue, t] : g_inTurn)
    std::printf("  in turn, %d rounds, %s: best without %.1f frames/s (%.2f ms processor time per frame),\n"
                "    best with %.1f (%.2f ms): %.2fx; median of the rounds' ratios %.2fx\n",
                kRounds, kSettings[queue].name, t.bestFps[0], t.bestCpuMs[0], t.bestFps[1], t.bestCpuMs[1], t.BestRatio(),
                t.MedianRatio());
  std::printf("  load average before %.2f %.2f %.2f, after %.2f %.2f %.2f\n", before[0], before[1], before[2],
              after[0], after[1], after[2]);
  std::printf("  processor 0 -> 1 -> 0 cache line round trip before %.0f ns, after %.0f ns (near 100: the\n"
              "    two share a cache; several hundred: they share none, and a picture crossing a Queue is slow)\n",
              tripBefore, tripAfter);
  return 0;
}

// The measurement overlays' drawing cost on 1080p RGB24 video:
//   source (RGB24, 25 fps) -> [RateOverlayFilter | OverlayKitFilter mode 0] -> renderer
// through the graph manager with the registered plugins, and the same chain without a filter, so
// the overlay step's own cost is the difference. The source plays one prepared picture by copying
// it into each buffer; the renderer counts samples on arrival. In the same run ffmpeg reads the
// same picture as raw bgr24 frames and sends them to the null muxer, with and without its drawtext
// filter drawing "25.00 fps" in the same face and size (16 pt at 96 dpi: 21 pixels), so drawtext's
// own cost is that difference too. Each case keeps its fastest run (the machine is shared), in
// wall time and in processor time per frame; the load average is printed with the figures.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/support/graphbench.h"
#include "framework/settings.h"
#include "overlay/overlaykit/overlaykit.h"
#include "overlay/rateoverlay/rateoverlay.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/amvideo.h"
#include "platform/strmbase/uuids.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kFrames = 1000;       // per run of a graph
constexpr int kFfmpegFrames = 300;  // per ffmpeg process
constexpr REFERENCE_TIME kFrameTime = 400000;  // 25 fps
constexpr double kFrameBudgetMs = 1000.0 / 30;
constexpr const char* kFont = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";

// The picture both sides process: a grey diagonal gradient with noise, tinted per channel.
const std::vector<BYTE>& Picture() {
  static const std::vector<BYTE> picture = [] {
    std::vector<BYTE> p(static_cast<size_t>(kWidth) * kHeight * 3);
    std::mt19937 rng(7);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        BYTE* px = &p[(static_cast<size_t>(y) * kWidth + x) * 3];
        const int base = (x + y) * 200 / (kWidth + kHeight) + 16;
        for (int c = 0; c < 3; ++c) px[c] = static_cast<BYTE>(base + c * 8 + rng() % 16);
      }
    return p;
  }();
  return picture;
}

// Counts, and compares the last frame of each run with the source picture where the text goes
// (the top rows, last in a bottom-up buffer), so a chain that draws nothing is noticed.
class CheckingRenderer : public benchsupport::CountingRenderer {
 public:
  void OnSample(IMediaSample* s, int count) override {
    if (count % kFrames != 0) return;
    BYTE* p = nullptr;
    const size_t top = static_cast<size_t>(kWidth) * 3 * 50, offset = Picture().size() - top;
    drawn = SUCCEEDED(s->GetPointer(&p)) && s->GetActualDataLength() == static_cast<LONG>(Picture().size()) &&
            std::memcmp(p + offset, Picture().data() + offset, top) != 0;
  }
  std::atomic<bool> drawn{false};
};

enum Overlay { kNone = 0, kRateOverlay = 1, kOverlayKit = 2 };
const char* const kOverlayNames[] = {"no overlay", "RateOverlayFilter", "OverlayKitFilter mode 0"};

// source -> `count` instances of the overlay in series -> renderer. Several instances make the
// step's cost stand out from the run-to-run spread of the copy it is measured against.
struct Chain {
  Chain(Overlay overlay, int count)
      : source(new benchsupport::PictureSource(
            // bottom-up, as RateOverlayFilter requires
            benchsupport::VideoType(MEDIASUBTYPE_RGB24, BI_RGB, 24, kWidth, kHeight, kWidth * kHeight * 3, kFrameTime),
            Picture(), kFrames, kFrameTime)),
        renderer(new CheckingRenderer) {
    std::vector<IBaseFilter*> chain{source.Get()};
    bool made = true;
    for (int i = 0; overlay != kNone && made && i < count; ++i) {
      const CLSID& clsid = overlay == kRateOverlay ? CLSID_RateOverlayFilter : CLSID_OverlayKitFilter;
      ComPtr<IBaseFilter> filter;
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.AsOut());
      ComPtr<ISettingsInterface> settings;
      made = filter && SUCCEEDED(filter->QueryInterface(IID_ISettingsInterface, settings.AsOut())) &&
             SUCCEEDED(settings->SetParameter("mode", "0"));
      // Two decimals on both, so each draws "25.00 fps".
      if (made && overlay == kOverlayKit) made = SUCCEEDED(settings->SetParameter("precision", "2"));
      filters.push_back(filter);
      chain.push_back(filter.Get());
    }
    chain.push_back(renderer.Get());
    if (made) graph = std::make_unique<benchsupport::LinearGraph>(chain);
  }
  bool Ok() const { return graph && graph->ok; }
  ComPtr<benchsupport::PictureSource> source;
  std::vector<ComPtr<IBaseFilter>> filters;
  ComPtr<CheckingRenderer> renderer;
  std::unique_ptr<benchsupport::LinearGraph> graph;
};

double ChildSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// The fastest run of a case, per frame.
struct Figures {
  double wallMs = 0, cpuMs = 0;
  void Keep(double wall, double cpu, int frames) {
    const double w = 1000 * wall / frames, c = 1000 * cpu / frames;
    if (wallMs == 0 || w < wallMs) wallMs = w;
    if (cpuMs == 0 || c < cpuMs) cpuMs = c;
  }
};
std::map<std::pair<int, int>, Figures> g_plenor;  // by Overlay and instance count
std::map<int, Figures> g_ffmpeg;  // 0 without drawtext, 1 with

void BM_Overlay1080p(benchmark::State& state) {
  const auto overlay = static_cast<Overlay>(state.range(0));
  const int count = overlay == kNone ? 0 : static_cast<int>(state.range(1));
  if (!benchsupport::RegisterPlugins({"OverlayKitFilter.so", "RateOverlayFilter.so"})) {
    state.SkipWithError("could not register the plugins (PLENOR_PLUGIN_DIR)");
    return;
  }
  Chain c(overlay, count);
  if (!c.Ok()) {
    state.SkipWithError("could not build the graph");
    return;
  }
  Figures& f = g_plenor[{overlay, count}];
  for (auto _ : state) {
    const int before = c.renderer->rendered.load();
    const double c0 = benchsupport::ProcessSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    if (!c.graph->RunToCompletion()) {
      state.SkipWithError("the graph did not complete");
      return;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const int frames = c.renderer->rendered.load() - before;
    if (frames != kFrames) {
      state.SkipWithError("frames were lost");
      return;
    }
    if (overlay != kNone && !c.renderer->drawn) {
      state.SkipWithError("the overlay drew nothing");
      return;
    }
    f.Keep(wall, benchsupport::ProcessSeconds() - c0, frames);
  }
  state.counters["fps"] = 1000 / f.wallMs;
  state.counters["cpu_ms_per_frame"] = f.cpuMs;
}
BENCHMARK(BM_Overlay1080p)->ArgNames({"overlay", "instances"})->Args({kNone, 0})->Args({kRateOverlay, 1})
    ->Args({kOverlayKit, 1})->Args({kRateOverlay, 50})->Args({kOverlayKit, 50})->Iterations(5)
    ->Unit(benchmark::kMillisecond)->UseRealTime();

std::string RawPicturePath() {
  static const std::string path = [] {
    const std::string p =
        (std::filesystem::temp_directory_path() / ("bench_overlay_" + std::to_string(getpid()) + ".bgr")).string();
    // Top-down rows for ffmpeg's bgr24 (the DIB above is bottom-up: the same bytes flipped).
    const std::vector<BYTE>& dib = Picture();
    const size_t stride = static_cast<size_t>(kWidth) * 3;
    if (FILE* f = std::fopen(p.c_str(), "wb")) {
      for (int y = kHeight - 1; y >= 0; --y) std::fwrite(dib.data() + stride * y, 1, stride, f);
      std::fclose(f);
    }
    return p;
  }();
  return path;
}

void BM_FfmpegDrawtext1080p(benchmark::State& state) {
  const bool drawtext = state.range(0) != 0;
  if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) {
    state.SkipWithError("ffmpeg is not installed");
    return;
  }
  if (!std::filesystem::exists(kFont)) {
    state.SkipWithError("the Liberation Sans font is not installed (fonts-liberation2)");
    return;
  }
  // fontcolor 0x00FF00 is the overlays' green (ffmpeg's "green" is 0x008000; the cost is the same).
  std::string cmd = "ffmpeg -v error -nostdin -stream_loop " + std::to_string(kFfmpegFrames - 1) +
                    " -f rawvideo -pix_fmt bgr24 -s 1920x1080 -r 25 -i " + RawPicturePath() + " -filter_threads 1";
  if (drawtext) cmd += std::string(" -vf \"drawtext=fontfile=") + kFont + ":text='25.00 fps':fontsize=21:fontcolor=0x00FF00\"";
  cmd += " -f null -";
  Figures& f = g_ffmpeg[drawtext];
  for (auto _ : state) {
    const double c0 = ChildSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) {
      state.SkipWithError("ffmpeg failed");
      return;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    f.Keep(wall, ChildSeconds() - c0, kFfmpegFrames);
  }
  state.counters["fps"] = 1000 / f.wallMs;
  state.counters["cpu_ms_per_frame"] = f.cpuMs;
}
BENCHMARK(BM_FfmpegDrawtext1080p)->ArgName("drawtext")->Arg(0)->Arg(1)->Iterations(5)->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The step: the difference per frame and per instance to the chain without it.
void PrintStep(const std::string& name, const Figures& with, const Figures& without, int instances,
               const Figures* drawtext) {
  const double wall = (with.wallMs - without.wallMs) / instances, cpu = (with.cpuMs - without.cpuMs) / instances;
  std::printf("  %-28s %7.1f frames/s  step %7.4f ms wall, %7.4f ms processor per frame  (%.3f%% of 33.3 ms)",
              name.c_str(), 1000 / with.wallMs, wall, cpu, 100 * std::max(wall, cpu) / kFrameBudgetMs);
  if (drawtext && wall > 0 && cpu > 0)
    std::printf("  drawtext / this: %.2fx wall, %.2fx processor", (drawtext->wallMs - g_ffmpeg[0].wallMs) / wall,
                (drawtext->cpuMs - g_ffmpeg[0].cpuMs) / cpu);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  benchsupport::LoadAverages load;
  if (!benchsupport::RunBenchmarks(&argc, argv, &load)) return 1;
  const double* before = load.before;
  const double* after = load.after;
  std::remove(RawPicturePath().c_str());
  std::printf("\n\"25.00 fps\" on 1920x1080 RGB24, %d frames per graph run and %d per ffmpeg run, fastest of the "
              "runs; the step is the difference to the same chain without the overlay\n", kFrames, kFfmpegFrames);
  const bool haveFfmpeg = g_ffmpeg.count(0) && g_ffmpeg.count(1);
  const std::pair<int, int> none{kNone, 0};
  if (g_plenor.count(none)) {
    const Figures& base = g_plenor[none];
    std::printf("  %-28s %7.1f frames/s  %7.3f ms wall, %7.3f ms processor per frame\n", kOverlayNames[kNone],
                1000 / base.wallMs, base.wallMs, base.cpuMs);
    for (const auto& [key, f] : g_plenor)
      if (key.first != kNone)
        PrintStep(std::string(kOverlayNames[key.first]) + " x" + std::to_string(key.second), f, base, key.second,
                  haveFfmpeg ? &g_ffmpeg[1] : nullptr);
  }
  if (haveFfmpeg) {
    std::printf("  %-28s %7.1f frames/s  %7.3f ms wall, %7.3f ms processor per frame\n", "ffmpeg without drawtext",
                1000 / g_ffmpeg[0].wallMs, g_ffmpeg[0].wallMs, g_ffmpeg[0].cpuMs);
    PrintStep("ffmpeg with drawtext", g_ffmpeg[1], g_ffmpeg[0], 1, nullptr);
  }
  std::printf("  load average before %.2f %.2f %.2f, after %.2f %.2f %.2f; %ld processors online\n", before[0],
              before[1], before[2], after[0], after[1], after[2], sysconf(_SC_NPROCESSORS_ONLN));
  return 0;
}

// RGB24 pictures through H.264 and back, in frames per second of wall time, at 640x480 and
// 1920x1080, four ways in one run:
//   raw:       the straight OpenH264 round trip with the suite's colour converters
//              (bench/corvex/roundtrip.h), no codec library, no graph;
//   gstreamer: gst-launch-1.0 with rawvideoparse ! videoconvert ! openh264enc ! openh264dec !
//              videoconvert ! fakesink on the same pictures (read from a file in the page cache),
//              at the same quantiser, complexity, intra period, one thread and one slice; its
//              process start and pipeline set-up are measured with one file's worth of pictures
//              and taken off, so the figure is its steady-state rate;
//   graph:     source (RGB24) -> AvcEncodeFilter -> AvcDecodeFilter -> renderer through the graph
//              manager with the registered plugins; the encoder set to "mode of operation" 0 at
//              the raw loop's quantiser, everything else at the filters' defaults (an intra
//              picture every 12, scene-change detection on, as the raw loop codes);
//   queue:     the same graph with a Queue between the encoder and the decoder, so that decoding
//              runs on a thread of its own.
// The source hands the encoder the raw loop's own pictures (the clip, in turn) without copying
// them, and both code the same stream with the same parameters, so the graph's figure differs
// from the raw loop's by what the graph and the filters add. raw_and_graph_in_turn alternates the
// two (see BM_Paired), the figure to read on a shared machine. The counters vs_raw,
// vs_gstreamer and vs_no_queue are ratios of frames per second against the benchmarks run before
// them for the same size; cpu_vs_raw and cpu_vs_gstreamer compare processor time per frame (all
// threads; GStreamer's from its child processes, set-up taken off likewise), which the other
// processes of a shared machine disturb less. A table with the load average follows the
// benchmarks. Wall-time ratios say little unless the other processes left the cores free.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "bench/support/graphbench.h"
#include "bench/support/inturn.h"
#include "framework/settings.h"
#include "h264/decoder/avcdecode.h"
#include "h264/encoder/avcencode.h"
#include "platform/strmbase/amvideo.h"
#include "roundtrip.h"
#include "utilities/utilities.h"

namespace {

using benchh264::kClipFrames;
using benchsupport::PictureSource;
using Clip = std::vector<std::vector<uint8_t>>;

struct Size {
  int w, h;
  int frames;  // per run, a multiple of kClipFrames
};
constexpr Size kSizes[] = {{640, 480, 240}, {1920, 1080, 120}};
constexpr int kQueueSamples = 2;
constexpr int kRuns = 3;  // runs of Size::frames pictures per benchmark
constexpr REFERENCE_TIME kFrameTime = 400000;

enum Kind { kRaw, kGStreamer, kGraph, kQueue };
const char* const kKindNames[] = {"raw", "gstreamer", "graph", "graph+queue"};

struct Figures {
  double fps = 0, cpuMsPerFrame = 0;
};
std::map<std::pair<int, int>, Figures> g_figures;  // by (size index, kind)

// Figures of a benchmark that ran (zero figures when it did not).
Figures FiguresOf(int size, Kind kind) {
  const auto it = g_figures.find({size, kind});
  return it == g_figures.end() ? Figures{} : it->second;
}

double Ratio(int size, Kind a, Kind b) {
  const double fa = FiguresOf(size, a).fps, fb = FiguresOf(size, b).fps;
  return fa > 0 && fb > 0 ? fa / fb : 0;
}

// The same in processor time (b's per frame over a's), which other processes on the machine
// disturb less than wall time.
double CpuRatio(int size, Kind a, Kind b) {
  const double ca = FiguresOf(size, a).cpuMsPerFrame, cb = FiguresOf(size, b).cpuMsPerFrame;
  return ca > 0 && cb > 0 ? cb / ca : 0;
}

const Clip& ClipOf(int size) {
  static std::map<int, Clip> clips;
  auto it = clips.find(size);
  if (it == clips.end()) it = clips.emplace(size, benchh264::MakeClip(kSizes[size].w, kSizes[size].h)).first;
  return it->second;
}

// Bottom-up, as the raw loop's pictures.
CMediaType Rgb24Type(int size) {
  const Size& s = kSizes[size];
  return benchsupport::VideoType(MEDIASUBTYPE_RGB24, BI_RGB, 24, s.w, s.h, static_cast<DWORD>(s.w) * s.h * 3, kFrameTime);
}

bool RegisterPlugins() {
  static const bool ok =
      benchsupport::RegisterPlugins({"PlenorUtilities.so", "AvcEncodeFilter.so", "AvcDecodeFilter.so"});
  return ok;
}

bool Set(IBaseFilter* f, const char* name, const char* value) {
  ComPtr<ISettingsInterface> settings;
  return f && SUCCEEDED(f->QueryInterface(IID_ISettingsInterface, settings.AsOut())) &&
         SUCCEEDED(settings->SetParameter(name, value));
}

struct CodecGraph {
  CodecGraph(int size, bool queue)
      : source(new PictureSource(Rgb24Type(size), ClipOf(size), kSizes[size].frames, kFrameTime,
                                 PictureSource::Delivery::Share)),
        renderer(new benchsupport::CountingRenderer) {
    filters.push_back(benchsupport::Create(CLSID_AvcEncodeFilter));
    ok = Set(filters.back().Get(), "mode of operation", "0") &&
         Set(filters.back().Get(), "quality", std::to_string(benchh264::kQuantiser).c_str());
    if (queue) {
      filters.push_back(benchsupport::Create(CLSID_Queue));
      ok = ok && Set(filters.back().Get(), "max_samples", std::to_string(kQueueSamples).c_str());
    }
    filters.push_back(benchsupport::Create(CLSID_AvcDecodeFilter));
    std::vector<IBaseFilter*> chain{source.Get()};
    for (auto& f : filters) chain.push_back(f.Get());
    chain.push_back(renderer.Get());
    if (!ok) return;
    graph = std::make_unique<benchsupport::LinearGraph>(chain);
    ok = graph->ok;
  }
  bool ok = true;
  ComPtr<PictureSource> source;
  ComPtr<benchsupport::CountingRenderer> renderer;
  std::vector<ComPtr<IBaseFilter>> filters;
  std::unique_ptr<benchsupport::LinearGraph> graph;
};

// Wall and processor seconds and frames of a benchmark's runs, turned into its figures.
struct Tally {
  double wall = 0, cpu = 0;
  long long frames = 0;
  void Finish(benchmark::State& state, int size, Kind kind) {
    state.SetItemsProcessed(frames);
    Figures& f = g_figures[{size, kind}];
    f.fps = wall > 0 ? frames / wall : 0;
    f.cpuMsPerFrame = frames ? 1000 * cpu / frames : 0;
    state.counters["fps"] = f.fps;
    state.counters["cpu_ms_per_frame"] = f.cpuMsPerFrame;
    if (kind == kGraph || kind == kQueue) {
      state.counters["vs_raw"] = Ratio(size, kind, kRaw);
      state.counters["vs_gstreamer"] = Ratio(size, kind, kGStreamer);
      state.counters["cpu_vs_raw"] = CpuRatio(size, kind, kRaw);
      state.counters["cpu_vs_gstreamer"] = CpuRatio(size, kind, kGStreamer);
    }
    if (kind == kQueue) state.counters["vs_no_queue"] = Ratio(size, kQueue, kGraph);
  }
};

using Clock = std::chrono::steady_clock;
double Since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// One run of the raw loop over Size::frames pictures, added to t; false when a picture did not
// come out.
bool RunRaw(benchh264::RawRoundTrip& raw, int size, Tally& t, int64_t* bytes) {
  const Size& s = kSizes[size];
  const Clip& clip = ClipOf(size);
  const int64_t before = raw.Pictures();
  const double c0 = benchsupport::ProcessSeconds();
  const auto t0 = Clock::now();
  for (int n = 0; n < s.frames; ++n) {
    *bytes += static_cast<int64_t>(raw.Step(clip[n % kClipFrames].data()));
    benchmark::DoNotOptimize(raw.Decoded());
  }
  t.wall += Since(t0);
  t.cpu += benchsupport::ProcessSeconds() - c0;
  t.frames += s.frames;
  return raw.Pictures() - before == s.frames;
}

// One run of the graph to its end, added to t; false when it failed or the renderer did not
// receive every picture.
bool RunGraph(CodecGraph& g, int size, Tally& t) {
  const int before = g.renderer->rendered.load();
  const double c0 = benchsupport::ProcessSeconds();
  const auto t0 = Clock::now();
  if (!g.graph->RunToCompletion()) return false;
  t.wall += Since(t0);
  t.cpu += benchsupport::ProcessSeconds() - c0;
  const int rendered = g.renderer->rendered.load() - before;
  t.frames += rendered;
  return rendered == kSizes[size].frames;
}

void BM_Raw(benchmark::State& state, int size) {
  benchh264::RawRoundTrip raw(kSizes[size].w, kSizes[size].h);
  if (raw.Error()) {
    state.SkipWithError(raw.Error());
    return;
  }
  Tally t;
  int64_t bytes = 0;
  for (auto _ : state) {
    if (!RunRaw(raw, size, t, &bytes)) {
      state.SkipWithError("the raw loop did not decode every picture");
      return;
    }
  }
  t.Finish(state, size, kRaw);
  state.counters["kbit_per_frame"] = t.frames ? bytes * 8.0 / 1000 / t.frames : 0;
}

bool RegisterPluginsOrSkip(benchmark::State& state) {
  if (RegisterPlugins()) return true;
  state.SkipWithError("could not register the plugins (build AvcEncodeFilter AvcDecodeFilter PlenorUtilities)");
  return false;
}

void BM_Graph(benchmark::State& state, int size, bool queue) {
  if (!RegisterPluginsOrSkip(state)) return;
  CodecGraph g(size, queue);
  if (!g.ok) {
    state.SkipWithError("could not build the graph");
    return;
  }
  Tally t;
  for (auto _ : state) {
    if (!RunGraph(g, size, t)) {
      state.SkipWithError("the graph did not complete, or the renderer did not receive every picture");
      return;
    }
  }
  t.Finish(state, size, queue ? kQueue : kGraph);
}

// The raw loop and the graph in turn, kRounds times each (benchsupport::InTurnFigures), the
// figure to read on a shared machine.
std::map<int, benchsupport::InTurnFigures> g_paired;  // by size index
constexpr int kRounds = 5;

void BM_Paired(benchmark::State& state, int size) {
  if (!RegisterPluginsOrSkip(state)) return;
  benchh264::RawRoundTrip raw(kSizes[size].w, kSizes[size].h);
  CodecGraph g(size, false);
  if (raw.Error() || !g.ok) {
    state.SkipWithError(raw.Error() ? raw.Error() : "could not build the graph");
    return;
  }
  benchsupport::InTurnFigures p;
  int64_t bytes = 0;
  for (auto _ : state) {
    for (int r = 0; r < kRounds; ++r) {
      Tally a, b;
      if (!RunRaw(raw, size, a, &bytes) || !RunGraph(g, size, b)) {
        state.SkipWithError("a run did not code and render every picture");
        return;
      }
      p.Add(a.frames, a.wall, a.cpu, b.frames, b.wall, b.cpu);
    }
  }
  g_paired[size] = p;
  state.counters["raw_fps_best"] = p.bestFps[0];
  state.counters["graph_fps_best"] = p.bestFps[1];
  state.counters["vs_raw_best"] = p.BestRatio();
  state.counters["vs_raw_median"] = p.MedianRatio();
  state.counters["cpu_vs_raw_best"] = p.CpuRatio();
}

// The graph without and with a Queue between encoder and decoder in turn, kRounds times each.
std::map<int, benchsupport::InTurnFigures> g_queueInTurn;  // by size index

void BM_QueueInTurn(benchmark::State& state, int size) {
  if (!RegisterPluginsOrSkip(state)) return;
  CodecGraph plain(size, false), queued(size, true);
  if (!plain.ok || !queued.ok) {
    state.SkipWithError("could not build the graphs");
    return;
  }
  benchsupport::InTurnFigures p;
  for (auto _ : state) {
    for (int r = 0; r < kRounds; ++r) {
      Tally a, b;
      if (!RunGraph(plain, size, a) || !RunGraph(queued, size, b)) {
        state.SkipWithError("a run did not code and render every picture");
        return;
      }
      p.Add(a.frames, a.wall, a.cpu, b.frames, b.wall, b.cpu);
    }
  }
  g_queueInTurn[size] = p;
  state.counters["vs_no_queue_best"] = p.BestRatio();
  state.counters["vs_no_queue_median"] = p.MedianRatio();
}

// The clip as one file of bottom-up BGR pictures, which gst-launch-1.0 reads over and over.
std::string ClipFile(int size) {
  const Size& s = kSizes[size];
  const auto path = std::filesystem::temp_directory_path() /
                    ("bench_h264_" + std::to_string(getpid()) + "_" + std::to_string(s.w) + "x" + std::to_string(s.h) + ".bgr");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const auto& picture : ClipOf(size)) out.write(reinterpret_cast<const char*>(picture.data()), static_cast<std::streamsize>(picture.size()));
  return out ? path.string() : std::string();
}

// The gst-launch-1.0 command reading `files` passes over the clip file and coding the pictures at
// the raw loop's settings, up to the encoder's output; `tail` ends the pipeline.
std::string GstCommand(int size, const std::string& file, int files, const std::string& tail) {
  const Size& s = kSizes[size];
  const std::string q = std::to_string(benchh264::kQuantiser);
  return "gst-launch-1.0 -q multifilesrc location=" + file + " loop=true num-buffers=" + std::to_string(files) +
         " ! rawvideoparse width=" + std::to_string(s.w) + " height=" + std::to_string(s.h) +
         " format=bgr framerate=25/1 ! videoconvert n-threads=1 ! video/x-raw,format=I420"
         " ! openh264enc usage-type=camera rate-control=off qp-min=" + q + " qp-max=" + q +
         " complexity=medium multi-thread=1 slice-mode=n-slices num-slices=1 gop-size=" +
         std::to_string(benchh264::kIntraPeriod) +
         " adaptive-quantization=false enable-denoise=false enable-frame-skip=false scene-change-detection=true"
         " ! " + tail + " > /dev/null 2>&1";
}

double ChildrenSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Wall and processor seconds gst-launch-1.0 takes for the round trip over `files` passes of the
// clip file; wall is negative when it failed.
struct GstRun {
  double wall = -1, cpu = 0;
};
GstRun GstLaunch(int size, const std::string& file, int files) {
  const std::string cmd = GstCommand(size, file, files, "openh264dec ! videoconvert n-threads=1 ! video/x-raw,format=BGR ! fakesink");
  const double c0 = ChildrenSeconds();
  const auto t0 = Clock::now();
  const int rc = std::system(cmd.c_str());
  GstRun run;
  if (rc == 0) run.wall = Since(t0);
  run.cpu = ChildrenSeconds() - c0;
  return run;
}

// Kilobits per picture of GStreamer's stream for one pass of the clip (to compare with the raw
// loop's: the same quantiser gives about the same size), or a negative value when it failed.
double GstKbitPerFrame(int size, const std::string& file) {
  const std::string stream = file + ".h264";
  const int rc = std::system(GstCommand(size, file, 1, "filesink location=" + stream).c_str());
  std::error_code ec;
  const auto bytes = std::filesystem::file_size(stream, ec);
  std::filesystem::remove(stream, ec);
  return rc == 0 && bytes > 0 ? static_cast<double>(bytes) * 8 / 1000 / kClipFrames : -1.0;
}

void BM_GStreamer(benchmark::State& state, int size) {
  if (std::system("gst-inspect-1.0 openh264enc > /dev/null 2>&1") != 0) {
    state.SkipWithError("gst-launch-1.0 with openh264enc is not installed (run ./bench/setup)");
    return;
  }
  const std::string file = ClipFile(size);
  if (file.empty()) {
    state.SkipWithError("could not write the clip file");
    return;
  }
  const int files = kSizes[size].frames / kClipFrames;
  Tally t;
  double setup = 0;
  for (auto _ : state) {
    const GstRun one = GstLaunch(size, file, 1);
    const GstRun all = GstLaunch(size, file, files + 1);
    if (one.wall < 0 || all.wall < 0) {
      state.SkipWithError("gst-launch-1.0 failed");
      break;
    }
    setup += one.wall;
    t.wall += all.wall - one.wall;
    t.cpu += all.cpu - one.cpu;
    state.SetIterationTime(all.wall - one.wall);
    t.frames += kSizes[size].frames;
  }
  const double kbit = t.frames ? GstKbitPerFrame(size, file) : 0;
  std::filesystem::remove(file);
  if (t.frames == 0) return;
  t.Finish(state, size, kGStreamer);
  state.counters["kbit_per_frame"] = kbit;
  state.counters["process_setup_ms"] = 1000 * setup / static_cast<double>(state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
  for (int size = 0; size < static_cast<int>(std::size(kSizes)); ++size) {
    const std::string key = "h264_roundtrip/" + std::to_string(kSizes[size].w) + "x" + std::to_string(kSizes[size].h) + "/";
    // In this order: the graph's ratios take the figures of raw and gstreamer of the same size.
    benchmark::RegisterBenchmark((key + kKindNames[kRaw]).c_str(), BM_Raw, size)
        ->Iterations(kRuns)->Unit(benchmark::kMillisecond)->UseRealTime();
    // GStreamer's time is its streaming time, without its process start and set-up.
    benchmark::RegisterBenchmark((key + kKindNames[kGStreamer]).c_str(), BM_GStreamer, size)
        ->Iterations(kRuns)->Unit(benchmark::kMillisecond)->UseManualTime();
    benchmark::RegisterBenchmark((key + kKindNames[kGraph]).c_str(), BM_Graph, size, false)
        ->Iterations(kRuns)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark((key + kKindNames[kQueue]).c_str(), BM_Graph, size, true)
        ->Iterations(kRuns)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark((key + "raw_and_graph_in_turn").c_str(), BM_Paired, size)
        ->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark((key + "graph_and_queue_in_turn").c_str(), BM_QueueInTurn, size)
        ->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
  }
  benchsupport::LoadAverages load;
  if (!benchsupport::RunBenchmarks(&argc, argv, &load)) return 1;
  std::printf("\nRGB24 -> H.264 -> RGB24 at quantiser %d, %ld processors online\n", benchh264::kQuantiser,
              sysconf(_SC_NPROCESSORS_ONLN));
  std::printf("  %-10s %-12s %9s %9s %9s %12s %9s %11s %11s\n", "size", "pipeline", "frames/s", "vs raw", "vs gst",
              "vs no queue", "cpu ms/f", "cpu vs raw", "cpu vs gst");
  for (const auto& [key, f] : g_figures) {
    const auto [size, kind] = key;
    const std::string name = std::to_string(kSizes[size].w) + "x" + std::to_string(kSizes[size].h);
    std::printf("  %-10s %-12s %9.1f", name.c_str(), kKindNames[kind], f.fps);
    const bool graph = kind == kGraph || kind == kQueue;
    if (graph) std::printf(" %9.3f %9.3f", Ratio(size, static_cast<Kind>(kind), kRaw), Ratio(size, static_cast<Kind>(kind), kGStreamer));
    else std::printf(" %9s %9s", "", "");
    if (kind == kQueue) std::printf(" %12.3f", Ratio(size, kQueue, kGraph));
    else std::printf(" %12s", "");
    std::printf(" %9.2f", f.cpuMsPerFrame);
    if (graph) std::printf(" %11.3f %11.3f", CpuRatio(size, static_cast<Kind>(kind), kRaw), CpuRatio(size, static_cast<Kind>(kind), kGStreamer));
    std::printf("\n");
  }
  std::printf("  targets: graph vs raw >= 0.97, graph vs gst >= 1, graph+queue vs no queue > 1 (cpu columns: the\n"
              "  same in processor time per frame, all threads; above 1 is better for the graph)\n");
  for (const auto& [size, p] : g_paired)
    std::printf("  %dx%d raw and graph in turn, %d rounds: best raw %.1f frames/s, best graph %.1f (%.3f of raw;\n"
                "    median of the rounds %.3f); best processor time per frame raw %.2f ms, graph %.2f ms (%.3f)\n",
                kSizes[size].w, kSizes[size].h, kRounds, p.bestFps[0], p.bestFps[1], p.BestRatio(), p.MedianRatio(),
                p.bestCpuMs[0], p.bestCpuMs[1], p.CpuRatio());
  for (const auto& [size, p] : g_queueInTurn)
    std::printf("  %dx%d graph without and with a Queue in turn, %d rounds: best without %.1f frames/s, with %.1f\n"
                "    (%.3fx; median of the rounds %.3fx); best processor time per frame %.2f ms, %.2f ms\n",
                kSizes[size].w, kSizes[size].h, kRounds, p.bestFps[0], p.bestFps[1], p.BestRatio(), p.MedianRatio(),
                p.bestCpuMs[0], p.bestCpuMs[1]);
  load.Print();
  return 0;
}

// Framework overhead: a source of 64-byte samples -> 10 in-place pass-through filters -> a
// renderer that renders on arrival, in samples per second, against GStreamer's
//   fakesrc num-buffers=N sizetype=fixed sizemax=64 ! identity signal-handoffs=false x10 ! fakesink
// (identity without its per-buffer handoff signal, so that it passes buffers on as our filters do)
// run as a gst-launch-1.0 subprocess. GStreamer's process start and pipeline set-up are measured
// with one buffer and taken off, so both figures are steady-state streaming rates. The ratio is
// printed after the benchmarks.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/support/graphbench.h"
#include "platform/com/runtime.h"
#include "support_filters.h"

using namespace graphtest;

namespace {

constexpr int kPassFilters = 10;
constexpr int kSamples = 200000;
double g_plenorRate = 0;
double g_gstRate = 0;

struct Pipeline {
  explicit Pipeline(int samples) {
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.AsOut());
    source = Make<FrameSource>(Opaque(MEDIASUBTYPE_None, 64), samples);
    renderer = Make<CountingRenderer>();
    graph->AddFilter(source.Get(), L"Source");
    ComPtr<IPin> out(source->Output());
    for (int i = 0; i < kPassFilters; ++i) {
      auto pass = Make<PassFilter>();
      graph->AddFilter(pass.Get(), L"Pass");
      ok = ok && SUCCEEDED(graph->Connect(out.Get(), PinAt(pass.Get(), 0).Get()));
      out = PinAt(pass.Get(), 1);
    }
    graph->AddFilter(renderer.Get(), L"Renderer");
    ok = ok && SUCCEEDED(graph->Connect(out.Get(), renderer->Input()));
    // No clock: the renderer renders each sample on arrival.
    graph.As<IMediaFilter>()->SetSyncSource(nullptr);
    control = graph.As<IMediaControl>();
    events = graph.As<IMediaEventEx>();
  }
  bool RunToCompletion() { return benchsupport::RunToCompletion(control.Get(), events.Get()); }
  bool ok = true;
  ComPtr<IGraphBuilder> graph;
  ComPtr<FrameSource> source;
  ComPtr<CountingRenderer> renderer;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
};

void BM_PlenorPassThroughChain(benchmark::State& state) {
  Pipeline p(kSamples);
  if (!p.ok) {
    state.SkipWithError("could not build the graph");
    return;
  }
  double seconds = 0;
  long long samples = 0;
  for (auto _ : state) {
    int before = p.renderer->rendered.load();
    auto t0 = std::chrono::steady_clock::now();
    if (!p.RunToCompletion()) {
      state.SkipWithError("the graph did not complete");
      return;
    }
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    samples += p.renderer->rendered.load() - before;
  }
  state.SetItemsProcessed(samples);
  g_plenorRate = samples / seconds;
  state.counters["samples_per_s"] = g_plenorRate;
}
BENCHMARK(BM_PlenorPassThroughChain)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Seconds gst-launch-1.0 takes for the chain with n buffers, or a negative value when it failed.
double GstLaunchSeconds(int n) {
  std::string cmd = "gst-launch-1.0 -q fakesrc num-buffers=" + std::to_string(n) + " sizetype=fixed sizemax=64";
  for (int i = 0; i < kPassFilters; ++i) cmd += " ! identity signal-handoffs=false";
  cmd += " ! fakesink > /dev/null 2>&1";
  auto t0 = std::chrono::steady_clock::now();
  int rc = std::system(cmd.c_str());
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return rc == 0 ? s : -1.0;
}

void BM_GStreamerPassThroughChain(benchmark::State& state) {
  if (std::system("gst-launch-1.0 --version > /dev/null 2>&1") != 0) {
    state.SkipWithError("gst-launch-1.0 is not installed (run ./bench/setup)");
    return;
  }
  double seconds = 0, setup = 0;
  long long samples = 0;
  for (auto _ : state) {
    double one = GstLaunchSeconds(1);
    double all = GstLaunchSeconds(kSamples);
    if (one < 0 || all < 0) {
      state.SkipWithError("gst-launch-1.0 failed");
      return;
    }
    setup += one;
    seconds += all - one;
    samples += kSamples - 1;
  }
  state.SetItemsProcessed(samples);
  g_gstRate = seconds > 0 ? samples / seconds : 0;
  state.counters["samples_per_s"] = g_gstRate;
  state.counters["process_setup_ms"] = 1000 * setup / static_cast<double>(state.iterations());
}
BENCHMARK(BM_GStreamerPassThroughChain)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_plenorRate > 0) std::printf("plenor: %.0f samples/s through %d pass-through filters\n", g_plenorRate, kPassFilters);
  if (g_gstRate > 0) std::printf("gstreamer: %.0f samples/s through %d identity elements\n", g_gstRate, kPassFilters);
  if (g_plenorRate > 0 && g_gstRate > 0)
    std::printf("ratio plenor/gstreamer: %.2f\n", g_plenorRate / g_gstRate);
  return 0;
}

// Whole frames through the graph manager with the registered plugins:
//   main 1920x1080 + sub 640x480 -> InsetVideoFilter -> renderer
//     (as they come: the sub-picture drawn at its size over the main picture; and scaled: the
//     main picture to "target_width" x "target_height" 1280x720, the sub-picture to 480x360)
//   two 1280x720                 -> TileMixFilter (side by side) -> renderer
// in 32 and 24 bits. Each input is a pushing source (its own thread) that plays one prepared
// picture by copying it into each buffer; the renderer counts samples on arrival, with no clock.
//
// The filters' frame-rate gate follows a real-time clock and the frame duration the inputs
// announce in their media type (AvgTimePerFrame); it only holds frames back when one is announced.
// The sources announce none (AvgTimePerFrame 0), while their samples still carry 25 fps time
// stamps and durations, so every arriving frame is composed and delivered: the figures measure
// the composition, not the gate. The count of rendered frames is checked against the frames
// pushed, so a gate that dropped frames would show as an error.
#include "bench/composition/graph_frames.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "bench/support/graphbench.h"
#include "composition/inset/insetvideo.h"
#include "composition/tilemix/tilemix.h"
#include "framework/settings.h"
#include "platform/strmbase/amvideo.h"
#include "platform/strmbase/uuids.h"

namespace {

using benchsupport::CountingRenderer;
using benchsupport::PictureSource;
using benchsupport::PinOf;
using benchsupport::ProcessSeconds;

constexpr int kFrames = 60;  // per source and run
constexpr REFERENCE_TIME kFrameTime = 400000;  // 25 fps time stamps on the samples

LONG RowBytes(int width, int bits) { return ((static_cast<LONG>(width) * bits + 31) / 32) * 4; }

CMediaType RgbType(int w, int h, int bits) {
  CMediaType mt;
  mt.SetType(&MEDIATYPE_Video);
  mt.SetSubtype(bits == 32 ? &MEDIASUBTYPE_RGB32 : &MEDIASUBTYPE_RGB24);
  mt.SetFormatType(&FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  std::memset(vih, 0, sizeof(VIDEOINFOHEADER));
  vih->AvgTimePerFrame = 0;  // no announced duration: the frame-rate gate lets every frame through
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = w;
  vih->bmiHeader.biHeight = h;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = static_cast<WORD>(bits);
  vih->bmiHeader.biCompression = BI_RGB;
  vih->bmiHeader.biSizeImage = static_cast<DWORD>(RowBytes(w, bits) * h);
  vih->rcSource = {0, 0, w, h};
  vih->rcTarget = vih->rcSource;
  mt.SetSampleSize(vih->bmiHeader.biSizeImage);
  mt.SetTemporalCompression(FALSE);
  return mt;
}

// One RGB picture: gradients with noise, rows padded to 4 bytes.
std::vector<BYTE> RgbPicture(int w, int h, int bits, unsigned seed) {
  const LONG stride = RowBytes(w, bits);
  std::vector<BYTE> picture(static_cast<size_t>(stride) * h);
  std::mt19937 rng(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      BYTE* p = picture.data() + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * (bits / 8);
      const int n = static_cast<int>(rng() % 16);
      p[0] = static_cast<BYTE>((x * 255 / w + n) & 255);
      p[1] = static_cast<BYTE>((y * 255 / h + n) & 255);
      p[2] = static_cast<BYTE>(((x + y) * 255 / (w + h)) & 255);
    }
  return picture;
}

ComPtr<PictureSource> MakeSource(int w, int h, int bits, unsigned seed) {
  return ComPtr<PictureSource>(new PictureSource(RgbType(w, h, bits), RgbPicture(w, h, bits, seed), kFrames, kFrameTime));
}

ComPtr<IPin> NamedPin(IBaseFilter* f, const wchar_t* id) {
  ComPtr<IPin> p;
  f->FindPin(id, &p);
  return p;
}

enum class Mixer { Inset, InsetScaled, TileMix };

struct MixGraph {
  MixGraph(Mixer mixer, int bits) {
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.AsOut());
    CoCreateInstance(mixer == Mixer::TileMix ? CLSID_TileMixFilter : CLSID_InsetVideoFilter, nullptr,
                     CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.AsOut());
    if (!graph || !filter) {
      ok = false;
      return;
    }
    if (mixer == Mixer::InsetScaled) {
      ComPtr<ISettingsInterface> settings;
      ok = SUCCEEDED(filter->QueryInterface(IID_ISettingsInterface, settings.AsOut()));
      for (const auto& [name, value] : {std::pair{"target_width", "1280"}, std::pair{"target_height", "720"},
                                        std::pair{"sub_pic_width", "480"}, std::pair{"sub_pic_height", "360"}})
        ok = ok && SUCCEEDED(settings->SetParameter(name, value));
      if (!ok) return;
    }
    if (mixer != Mixer::TileMix) {
      first = MakeSource(1920, 1080, bits, 1);
      second = MakeSource(640, 480, bits, 2);
    } else {
      first = MakeSource(1280, 720, bits, 1);
      second = MakeSource(1280, 720, bits, 2);
    }
    renderer = ComPtr<CountingRenderer>(new CountingRenderer);
    for (IBaseFilter* f : {static_cast<IBaseFilter*>(first.Get()), static_cast<IBaseFilter*>(second.Get()),
                           filter.Get(), static_cast<IBaseFilter*>(renderer.Get())})
      ok = ok && SUCCEEDED(graph->AddFilter(f, nullptr));
    ok = ok && SUCCEEDED(graph->ConnectDirect(PinOf(first.Get(), PINDIR_OUTPUT).Get(),
                                              NamedPin(filter.Get(), L"Input 0").Get(), nullptr));
    ok = ok && SUCCEEDED(graph->ConnectDirect(PinOf(second.Get(), PINDIR_OUTPUT).Get(),
                                              NamedPin(filter.Get(), L"Input 1").Get(), nullptr));
    ok = ok && SUCCEEDED(graph->ConnectDirect(NamedPin(filter.Get(), L"Output 0").Get(),
                                              PinOf(renderer.Get(), PINDIR_INPUT).Get(), nullptr));
    if (!ok) return;
    graph.As<IMediaFilter>()->SetSyncSource(nullptr);
    control = graph.As<IMediaControl>();
    events = graph.As<IMediaEventEx>();
  }
  bool RunToCompletion() { return benchsupport::RunToCompletion(control.Get(), events.Get()); }
  bool ok = true;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> filter;
  ComPtr<PictureSource> first, second;
  ComPtr<CountingRenderer> renderer;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
};

struct Figures {
  double fps = 0, cpuMsPerFrame = 0;
  long long frames = 0, pushed = 0;
};
std::map<std::string, Figures> g_figures;

void RunMixGraph(benchmark::State& state, Mixer mixer, int bits, std::string label) {
  static const bool registered = benchsupport::RegisterPlugins(
      {"PlenorUtilities.so", "InsetVideoFilter.so", "TileMixFilter.so"});
  if (!registered) {
    state.SkipWithError("could not register the plugins (build PlenorUtilities, InsetVideoFilter, TileMixFilter)");
    return;
  }
  MixGraph g(mixer, bits);
  if (!g.ok) {
    state.SkipWithError("could not build the graph");
    return;
  }
  double wall = 0, cpu = 0;
  long long frames = 0, pushed = 0;
  for (auto _ : state) {
    if (!benchsupport::TimedRun([&] { return g.RunToCompletion(); }, *g.renderer.Get(), &wall, &cpu, &frames)) {
      state.SkipWithError("the graph did not complete");
      return;
    }
    pushed += 2 * kFrames;
  }
  // Every pushed frame produces one output frame when the gate is open.
  if (frames != pushed) {
    state.SkipWithError("fewer frames rendered than pushed: the frame-rate gate held some back");
    return;
  }
  state.SetItemsProcessed(frames);
  Figures& f = g_figures[label];
  f.fps = frames / wall;
  f.cpuMsPerFrame = 1000 * cpu / frames;
  f.frames = frames;
  f.pushed = pushed;
  state.counters["fps"] = f.fps;
  state.counters["cpu_ms_per_frame"] = f.cpuMsPerFrame;
}

}  // namespace

void RegisterGraphFrameBenchmarks() {
  for (int bits : {32, 24}) {
    const std::string depth = "RGB" + std::to_string(bits);
    const std::string inset = "Graph/InsetVideoFilter/" + depth + "/1920x1080+640x480";
    const std::string tile = "Graph/TileMixFilter/" + depth + "/1280x720+1280x720";
    const std::string scaled = "Graph/InsetVideoFilter/" + depth + "/1920x1080+640x480->1280x720+480x360";
    benchmark::RegisterBenchmark(inset.c_str(), RunMixGraph, Mixer::Inset, bits, inset)
        ->Iterations(2)
        ->Repetitions(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(scaled.c_str(), RunMixGraph, Mixer::InsetScaled, bits, scaled)
        ->Iterations(2)
        ->Repetitions(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(tile.c_str(), RunMixGraph, Mixer::TileMix, bits, tile)
        ->Iterations(2)
        ->Repetitions(1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
}

void PrintGraphFrameFigures() {
  if (g_figures.empty()) return;
  std::printf("\nWhole output frames through the graph (%d frames per source and run, both sources pushing):\n",
              kFrames);
  for (const auto& [label, f] : g_figures)
    std::printf("  %-62s %7.1f frames/s  %6.2f ms processor time per frame  (%lld of %lld pushed rendered)\n",
                label.c_str(), f.fps, f.cpuMsPerFrame, f.frames, f.pushed);
}

// FileWriter's write speed: frames of 1920x1080 RGB24 (6 MB each) from TestPatternSource (a solid
// colour, so the source costs little) through the graph manager into FileWriter, against
// ffmpeg generating the same frames and writing them with -f rawvideo (a subprocess; its start
// is included, which favours the suite slightly for short runs). Both write into the same folder
// and delete the file afterwards. Prints MB/s of each and the ratio.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/settings.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/strmif.h"
#include "utilities/utilities.h"

namespace {

constexpr int kFrames = 60;
constexpr double kFrameBytes = 1920.0 * 1080 * 3;
double g_plenorRate = 0, g_ffmpegRate = 0;

std::string OutPath(const char* who) {
  const char* dir = std::getenv("PLENOR_BENCH_DIR");
  return std::string(dir ? dir : "/tmp") + "/plenor-bench-" + who + "-" + std::to_string(::getpid()) + ".rgb";
}

PFN_DllGetClassObject UtilitiesFactory() {
  static PFN_DllGetClassObject get = [] {
    const char* dir = std::getenv("PLENOR_PLUGIN_DIR");
    std::string error;
    HMODULE m = LoadLibrary((std::string(dir ? dir : PLENOR_BENCH_PLUGIN_DIR) + "/PlenorUtilities.so").c_str(), &error);
    return m ? reinterpret_cast<PFN_DllGetClassObject>(GetProcAddress(m, "DllGetClassObject")) : nullptr;
  }();
  return get;
}

ComPtr<IBaseFilter> Make(const CLSID& clsid) {
  ComPtr<IClassFactory> factory;
  ComPtr<IBaseFilter> filter;
  PFN_DllGetClassObject get = UtilitiesFactory();
  if (get && SUCCEEDED(get(clsid, IID_IClassFactory, factory.AsOut())))
    factory->CreateInstance(nullptr, IID_IBaseFilter, filter.AsOut());
  return filter;
}

HRESULT Set(IBaseFilter* f, const char* name, const char* value) {
  ComPtr<ISettingsInterface> s;
  HRESULT hr = f->QueryInterface(IID_ISettingsInterface, s.AsOut());
  return FAILED(hr) ? hr : s->SetParameter(name, value);
}

ComPtr<IPin> FirstPin(IBaseFilter* f, PIN_DIRECTION want) {
  ComPtr<IEnumPins> pins;
  if (FAILED(f->EnumPins(&pins))) return {};
  IPin* pin = nullptr;
  ULONG n = 0;
  while (pins->Next(1, &pin, &n) == S_OK && n == 1) {
    ComPtr<IPin> p = ComPtr<IPin>::Attach(pin);
    PIN_DIRECTION d;
    if (SUCCEEDED(p->QueryDirection(&d)) && d == want) return p;
  }
  return {};
}

void BM_PlenorFileWriter1080p(benchmark::State& state) {
  const std::string path = OutPath("plenor");
  double seconds = 0;
  for (auto _ : state) {
    ComPtr<IGraphBuilder> graph;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                graph.AsOut()))) {
      state.SkipWithError("no graph manager");
      return;
    }
    ComPtr<IBaseFilter> source = Make(CLSID_TestPatternSource), writer = Make(CLSID_FileWriter);
    if (!source || !writer) {
      state.SkipWithError("PlenorUtilities.so not found (PLENOR_PLUGIN_DIR)");
      return;
    }
    Set(source.Get(), "width", "1920");
    Set(source.Get(), "height", "1080");
    Set(source.Get(), "pattern", "solid");
    Set(source.Get(), "frames", std::to_string(kFrames).c_str());
    Set(writer.Get(), "filename", path.c_str());
    graph->AddFilter(source.Get(), L"source");
    graph->AddFilter(writer.Get(), L"writer");
    if (FAILED(graph->ConnectDirect(FirstPin(source.Get(), PINDIR_OUTPUT).Get(),
                                    FirstPin(writer.Get(), PINDIR_INPUT).Get(), nullptr))) {
      state.SkipWithError("cannot connect");
      return;
    }
    ComPtr<IMediaControl> control = graph.As<IMediaControl>();
    ComPtr<IMediaEventEx> events = graph.As<IMediaEventEx>();
    const auto start = std::chrono::steady_clock::now();
    control->Run();
    LONG code = 0;
    events->WaitForCompletion(60000, &code);
    control->Stop();  // the file is complete and renamed when Stop returns
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (code != EC_COMPLETE) {
      state.SkipWithError("the graph did not complete");
      return;
    }
    std::remove(path.c_str());
  }
  g_plenorRate = kFrames * kFrameBytes * static_cast<double>(state.iterations()) / seconds / 1e6;
  state.counters["MB_per_s"] = g_plenorRate;
}
BENCHMARK(BM_PlenorFileWriter1080p)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_FfmpegRawvideo1080p(benchmark::State& state) {
  if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) {
    state.SkipWithError("ffmpeg is not installed");
    return;
  }
  const std::string path = OutPath("ffmpeg");
  const std::string cmd = "ffmpeg -v error -y -f lavfi -i color=c=0x204060:size=1920x1080:rate=30 -frames:v " +
                          std::to_string(kFrames) + " -f rawvideo -pix_fmt bgr24 " + path;
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) {
      state.SkipWithError("ffmpeg failed");
      return;
    }
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::remove(path.c_str());
  }
  g_ffmpegRate = kFrames * kFrameBytes * static_cast<double>(state.iterations()) / seconds / 1e6;
  state.counters["MB_per_s"] = g_ffmpegRate;
}
BENCHMARK(BM_FfmpegRawvideo1080p)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  CoInitialize(nullptr);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_plenorRate > 0) std::printf("plenor FileWriter: %.0f MB/s of 1080p RGB24\n", g_plenorRate);
  if (g_ffmpegRate > 0) std::printf("ffmpeg -f rawvideo: %.0f MB/s\n", g_ffmpegRate);
  if (g_plenorRate > 0 && g_ffmpegRate > 0) std::printf("ratio plenor/ffmpeg: %.2f\n", g_plenorRate / g_ffmpegRate);
  return 0;
}

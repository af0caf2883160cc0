// Round trips of RGB24 frames through H.264 and back, frames per second:
//   raw:    OpenH264's encoder and decoder called directly, with the suite's RGB24-to-I420 and
//           I420-to-RGB24 converters (offset 128) around them; no graph, no codec library;
//   corvex: the same work through ICodecv2 (libcorvex), as the codec filters do it.
// Both code at constant quantiser 26, medium complexity, one thread, one slice, an intra
// picture every 12, so the ratio corvex / raw is the codec library's own overhead.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "corvex/codecv2.h"
#include "roundtrip.h"

namespace {

using benchh264::kClipFrames;
using benchh264::kQuantiser;
using benchh264::MakeClip;

struct Size {
  int w, h;
};
constexpr Size kSizes[] = {{640, 480}, {1920, 1080}};

void RunRaw(benchmark::State& state, Size s) {
  const auto clip = MakeClip(s.w, s.h);
  benchh264::RawRoundTrip raw(s.w, s.h);
  if (raw.Error()) {
    state.SkipWithError(raw.Error());
    return;
  }
  int64_t n = 0, bytes = 0;
  for (auto _ : state) {
    bytes += static_cast<int64_t>(raw.Step(clip[n % kClipFrames].data()));
    benchmark::DoNotOptimize(raw.Decoded());
    ++n;
  }
  state.SetItemsProcessed(n);
  state.counters["kbit_per_frame"] = n ? bytes * 8.0 / 1000 / n : 0;
}

void RunCorvex(benchmark::State& state, Size s) {
  const auto clip = MakeClip(s.w, s.h);
  CorvexFactory factory;
  ICodecv2* enc = factory.GetCodecInstance();
  ICodecv2* dec = factory.GetCodecInstance();
  const std::string w = std::to_string(s.w), h = std::to_string(s.h);
  const std::string q = std::to_string(kQuantiser);
  const char* const encSettings[][2] = {
      {"width", w.c_str()}, {"height", h.c_str()}, {"incolour", "0"}, {"flip", "1"},
      {"mode of operation", "0"}, {"quality", q.c_str()}, {"switchframeperiod", "12"},
      {"num rate control frames", "25"}, {"generate param set on open", "1"}};
  for (const auto& kv : encSettings) enc->SetParameter(kv[0], kv[1]);
  std::vector<uint8_t> sets[2];
  for (int t = 0; t < 2; ++t) {
    enc->SetParameter("picture coding type", t == 0 ? "2" : "3");
    sets[t].resize(100);
    enc->Code(nullptr, sets[t].data(), 800);
    sets[t].resize(static_cast<size_t>(enc->GetCompressedLength()));
  }
  enc->SetParameter("picture coding type", "0");
  if (!enc->Open()) {
    state.SkipWithError(enc->GetErrorText());
    return;
  }
  dec->SetParameter("width", w.c_str());
  dec->SetParameter("height", h.c_str());
  dec->SetParameter("outcolour", "0");
  dec->SetParameter("flip", "1");
  std::vector<uint8_t> scratch(256);
  for (auto& set : sets) dec->Decode(set.data(), static_cast<int>(set.size() * 8), scratch.data());
  if (!dec->Open()) {
    state.SkipWithError(dec->GetErrorText());
    return;
  }
  std::vector<uint8_t> stream(static_cast<size_t>(s.w) * s.h * 3);
  std::vector<uint8_t> rgb(static_cast<size_t>(s.w) * s.h * 3);
  int64_t n = 0, bytes = 0;
  for (auto _ : state) {
    enc->Code(clip[n % kClipFrames].data(), stream.data(), s.w * s.h * 24);
    const int len = enc->GetCompressedLength();
    dec->Decode(stream.data(), len * 8, rgb.data());
    benchmark::DoNotOptimize(rgb.data());
    bytes += len;
    ++n;
  }
  state.SetItemsProcessed(n);
  state.counters["kbit_per_frame"] = n ? bytes * 8.0 / 1000 / n : 0;
  enc->Close();
  dec->Close();
  factory.ReleaseCodecInstance(enc);
  factory.ReleaseCodecInstance(dec);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string reps = "--benchmark_repetitions=5", aggr = "--benchmark_report_aggregates_only=true",
              shuffle = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, {reps.data(), aggr.data(), shuffle.data()});
  int n = static_cast<int>(args.size());
  for (const Size& s : kSizes) {
    const std::string key = std::to_string(s.w) + "x" + std::to_string(s.h);
    benchmark::RegisterBenchmark(("roundtrip/" + key + "/raw").c_str(), RunRaw, s)
        ->Unit(benchmark::kMillisecond)
        ->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark(("roundtrip/" + key + "/corvex").c_str(), RunCorvex, s)
        ->Unit(benchmark::kMillisecond)
        ->MeasureProcessCPUTime();
  }
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

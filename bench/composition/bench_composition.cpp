// Times the picture scalers, 1920x1080 -> 1280x720 and 640x480 -> 256x192 in 32 and 24 bits, for
// the plain reference arithmetic ("ref"), the fast path with each kernel table (C, SSE41, AVX2,
// AVX512, forced through the process CPU mask) and the peers: libyuv ARGBScale (bilinear and box;
// libyuv has no 24-bit scaler, so the 24-bit cases compare with swscale only) and swscale
// (SWS_BILINEAR and SWS_AREA). Prints each variant's time as a ratio to every peer's (medians of
// repetitions run in random interleaved order). The whole-frame figures of the two composition
// filters through the graph follow (graph_frames.cpp).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/composition/graph_frames.h"
#include "bench/support/ratio_reporter.h"
#include "composition/common/scalers.h"
#include "platform/com/cpu.h"

#if PLENOR_BENCH_LIBYUV
#include <libyuv.h>
#endif
#if PLENOR_BENCH_SWSCALE
extern "C" {
#include <libswscale/swscale.h>
}
#endif

namespace {

struct Case {
  int sw, sh, dw, dh, bits;
};
const Case kCases[] = {
    {1920, 1080, 1280, 720, 32},
    {640, 480, 256, 192, 32},
    {1920, 1080, 1280, 720, 24},
    {640, 480, 256, 192, 24},
};

struct Variant {
  const char* name;
  DWORD mask;
  DWORD required;
};
// "ref" is the reference arithmetic (ScaleReference), whatever the mask.
const Variant kVariants[] = {
    {"ref", 0, 0},
    {"C", 0, 0},
    {"SSE41", kCpuSSE2 | kCpuSSSE3 | kCpuSSE41, kCpuSSE41},
    {"AVX2", kCpuSSE2 | kCpuSSSE3 | kCpuSSE41 | kCpuAVX2, kCpuAVX2},
    {"AVX512", kCpuAllFeatures, kCpuAVX512BW},
};

const char* const kPeers[] = {"libyuv-bilinear", "libyuv-box", "swscale-bilinear", "swscale-area"};

// Source picture: gradients with noise; destination written by every contender in turn (it is
// never read as an input).
struct Pictures {
  std::vector<std::uint8_t> src, dst;
  Pictures(const Case& c)
      : src(static_cast<size_t>(c.sw) * c.sh * (c.bits / 8)), dst(static_cast<size_t>(c.dw) * c.dh * (c.bits / 8)) {
    std::mt19937 rng(11);
    const int b = c.bits / 8;
    for (int y = 0; y < c.sh; ++y)
      for (int x = 0; x < c.sw; ++x) {
        std::uint8_t* p = &src[(static_cast<size_t>(y) * c.sw + x) * b];
        const int n = static_cast<int>(rng() % 24);
        p[0] = static_cast<std::uint8_t>((x * 255 / c.sw + n) & 255);
        p[1] = static_cast<std::uint8_t>((y * 255 / c.sh + n) & 255);
        p[2] = static_cast<std::uint8_t>(((x + y) * 127 / (c.sw + c.sh) + 2 * n) & 255);
        if (b == 4) p[3] = 255;
      }
  }
};

Pictures& PicturesFor(const Case& c) {
  static std::map<std::string, std::unique_ptr<Pictures>> all;
  auto& p = all[std::to_string(c.sw) + "/" + std::to_string(c.dw) + "/" + std::to_string(c.bits)];
  if (!p) p = std::make_unique<Pictures>(c);
  return *p;
}

std::string Key(const Case& c) {
  return "RGB" + std::to_string(c.bits) + "/" + std::to_string(c.sw) + "x" + std::to_string(c.sh) + "->" +
         std::to_string(c.dw) + "x" + std::to_string(c.dh);
}

void RunOurs(benchmark::State& state, Case c, Variant v) {
  if ((PlenorCpuDetected() & v.required) != v.required) {
    state.SkipWithError("processor lacks this variant");
    return;
  }
  Pictures& p = PicturesFor(c);
  // The 32-bit scaler the filters use (CreatePicScaler), its kernel chosen under the forced mask.
  PlenorSetCpuMask(v.mask);
  std::unique_ptr<PicScalerBase> scaler = CreatePicScaler(c.bits);
  PlenorSetCpuMask(kCpuAllFeatures);
  if (!scaler) {
    state.SkipWithError("no scaler for this depth");
    return;
  }
  const bool reference = std::strcmp(v.name, "ref") == 0;
  if (!reference && std::strcmp(scaler->KernelName(), v.name) != 0) {
    state.SkipWithError("variant not available");
    return;
  }
  scaler->m_nSrcWidth = c.sw;
  scaler->m_nSrcHeight = c.sh;
  scaler->m_nDstWidth = c.dw;
  scaler->m_nDstHeight = c.dh;
  for (auto _ : state) {
    const bool ok = reference ? scaler->ScaleReference(p.dst.data(), p.src.data(), false)
                              : scaler->Scale(p.dst.data(), p.src.data(), false);
    if (!ok) {
      state.SkipWithError("Scale failed");
      return;
    }
    benchmark::ClobberMemory();
  }
}

#if PLENOR_BENCH_LIBYUV
void RunLibyuv(benchmark::State& state, Case c, libyuv::FilterMode mode) {
  Pictures& p = PicturesFor(c);
  for (auto _ : state) {
    if (libyuv::ARGBScale(p.src.data(), 4 * c.sw, c.sw, c.sh, p.dst.data(), 4 * c.dw, c.dw, c.dh, mode) != 0) {
      state.SkipWithError("ARGBScale failed");
      return;
    }
    benchmark::ClobberMemory();
  }
}
#endif

#if PLENOR_BENCH_SWSCALE
void RunSwscale(benchmark::State& state, Case c, int flags) {
  Pictures& p = PicturesFor(c);
  const AVPixelFormat fmt = c.bits == 32 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_BGR24;
  SwsContext* ctx = sws_getContext(c.sw, c.sh, fmt, c.dw, c.dh, fmt, flags, nullptr, nullptr, nullptr);
  if (!ctx) {
    state.SkipWithError("sws_getContext failed");
    return;
  }
  const std::uint8_t* src[1] = {p.src.data()};
  const int srcStride[1] = {c.sw * c.bits / 8};
  std::uint8_t* dst[1] = {p.dst.data()};
  const int dstStride[1] = {c.dw * c.bits / 8};
  for (auto _ : state) {
    sws_scale(ctx, src, srcStride, 0, c.sh, dst, dstStride);
    benchmark::ClobberMemory();
  }
  sws_freeContext(ctx);
}
#endif

void PrintRatios(const benchsupport::RatioReporter& rep) {
  std::printf("\nMedian processor time per frame (us) and ratio to each peer's (< 1 is faster).\n");
  std::printf("Our kernel reads 3x3 source pixels per output pixel; the peers use their own filters.\n");
  std::printf("%-28s %-7s %9s %16s %11s %17s %13s\n", "scale", "variant", "time", "/ libyuv-bilin", "/ libyuv-box",
              "/ swscale-bilin", "/ swscale-area");
  for (const Case& c : kCases) {
    const std::string key = Key(c);
    auto find = [&](const std::string& who) {
      auto it = rep.times.find(key + "/" + who);
      return it == rep.times.end() ? -1.0 : it->second;
    };
    double peer[4];
    for (int i = 0; i < 4; ++i) peer[i] = find(kPeers[i]);
    for (const Variant& v : kVariants) {
      const double t = find(v.name);
      if (t < 0) continue;
      char r[4][32];
      for (int i = 0; i < 4; ++i) {
        if (peer[i] > 0)
          std::snprintf(r[i], sizeof r[i], "%.2fx", t / peer[i]);
        else
          std::snprintf(r[i], sizeof r[i], "-");
      }
      std::printf("%-28s %-7s %9.1f %16s %11s %17s %13s\n", key.c_str(), v.name, t, r[0], r[1], r[2], r[3]);
    }
    for (int i = 0; i < 4; ++i)
      if (peer[i] > 0) std::printf("%-28s %-16s %.1f\n", key.c_str(), kPeers[i], peer[i]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Defaults: medians of repetitions in random interleaved order (load from other processes hits
  // every contender alike), aggregates only. Flags given on the command line come later and win.
  std::vector<char*> args(argv, argv + argc);
  std::string reps = "--benchmark_repetitions=9", aggr = "--benchmark_report_aggregates_only=true",
              shuffle = "--benchmark_enable_random_interleaving=true", minTime = "--benchmark_min_time=0.05";
  args.insert(args.begin() + 1, {reps.data(), aggr.data(), shuffle.data(), minTime.data()});
  int n = static_cast<int>(args.size());

  for (const Case& c : kCases) {
    const std::string key = Key(c);
    for (const Variant& v : kVariants)
      benchmark::RegisterBenchmark((key + "/" + v.name).c_str(), RunOurs, c, v)->Unit(benchmark::kMicrosecond);
#if PLENOR_BENCH_LIBYUV
    if (c.bits == 32) {
      benchmark::RegisterBenchmark((key + "/libyuv-bilinear").c_str(), RunLibyuv, c, libyuv::kFilterBilinear)
          ->Unit(benchmark::kMicrosecond);
      benchmark::RegisterBenchmark((key + "/libyuv-box").c_str(), RunLibyuv, c, libyuv::kFilterBox)
          ->Unit(benchmark::kMicrosecond);
    }
#endif
#if PLENOR_BENCH_SWSCALE
    benchmark::RegisterBenchmark((key + "/swscale-bilinear").c_str(), RunSwscale, c, SWS_BILINEAR)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark((key + "/swscale-area").c_str(), RunSwscale, c, SWS_AREA)
        ->Unit(benchmark::kMicrosecond);
#endif
  }
  RegisterGraphFrameBenchmarks();

  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;
  double before[3] = {0, 0, 0}, after[3] = {0, 0, 0};
  getloadavg(before, 3);
  benchsupport::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  getloadavg(after, 3);
  PrintRatios(reporter);
  PrintGraphFrameFigures();
  std::printf("\nload average before %.2f %.2f %.2f, after %.2f %.2f %.2f (%ld processors online)\n", before[0],
              before[1], before[2], after[0], after[1], after[2], sysconf(_SC_NPROCESSORS_ONLN));
  return 0;
}

// Times RGB24 -> I420, RGB32 -> I420 and I420 -> RGB24 at 640x480 and 1920x1080 for each kernel
// variant of the converters and for libyuv and swscale, then prints each variant's time as a
// ratio to the peers' times (medians when run with repetitions, which is the default here). The
// RGB pictures are top-down, and at 1920x1080 also bottom-up as the filters take and give them by
// default (the peers then get a negative height or stride), and top-down "from memory": each
// conversion then takes the next of several copies of the picture, far more than the caches hold,
// as each new frame of a stream comes from memory in a pipeline.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "kernels/converters.h"
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

enum class Conversion { Rgb24ToI420, Rgb32ToI420, I420ToRgb24 };
const char* const kConversionNames[] = {"RGB24->I420", "RGB32->I420", "I420->RGB24"};

struct Size {
  int w, h;
};
const Size kSizes[] = {{640, 480}, {1920, 1080}};

// Row order of the RGB picture, and how many copies of the picture (each with its own output
// buffers) the conversions go through in turn: one stays in the cache between frames, kCopies of
// them at 1920x1080 (over 200 MB) do not. Bottom-up and from memory are timed at 1920x1080 only.
constexpr int kCopies = 8;
struct Order {
  const char* suffix;
  bool bottomUp;
  int copies;
};
const Order kOrders[] = {{"", false, 1}, {" bottom-up", true, 1}, {" from memory", false, kCopies}};

struct Variant {
  const char* name;
  DWORD mask;
  DWORD required;
};
const Variant kVariants[] = {
    {"C", 0, 0},
    {"SSE41", kCpuSSE2 | kCpuSSSE3 | kCpuSSE41, kCpuSSSE3 | kCpuSSE41},
    {"AVX2", kCpuSSE2 | kCpuSSSE3 | kCpuSSE41 | kCpuAVX2, kCpuAVX2},
    {"AVXVNNI", kCpuSSE2 | kCpuSSSE3 | kCpuSSE41 | kCpuAVX2 | kCpuAVXVNNI, kCpuAVX2 | kCpuAVXVNNI},
    {"AVX512", kCpuAllFeatures, kCpuAVX512BW | kCpuAVX512VBMI | kCpuAVX512VNNI},
};

// Picture content: smooth gradients with noise, so that both flat runs and busy blocks occur.
// The inputs (rgb24, rgb32 and the I420 planes y, u, v) are written once here and never again:
// every conversion writes into its own output buffers (oy, ou, ov, out24), so what one
// benchmark - ours or a peer's - writes never becomes another's input, whatever the order they
// run in.
struct Frame {
  std::vector<std::uint8_t> rgb24, rgb32, y, u, v, oy, ou, ov, out24;
  Frame(int w, int h)
      : rgb24(static_cast<size_t>(w) * h * 3), rgb32(static_cast<size_t>(w) * h * 4),
        y(static_cast<size_t>(w) * h), u(static_cast<size_t>(w / 2) * (h / 2)), v(u.size()), oy(y.size()),
        ou(u.size()), ov(v.size()), out24(rgb24.size()) {
    std::mt19937 rng(42);
    for (int r = 0; r < h; ++r)
      for (int x = 0; x < w; ++x) {
        const size_t i = static_cast<size_t>(r) * w + x;
        const int n = static_cast<int>(rng() % 24);
        const std::uint8_t b = static_cast<std::uint8_t>((x * 255 / w + n) & 255);
        const std::uint8_t g = static_cast<std::uint8_t>((r * 255 / h + n) & 255);
        const std::uint8_t red = static_cast<std::uint8_t>(((x + r) * 127 / (w + h) + 2 * n) & 255);
        rgb24[3 * i] = rgb32[4 * i] = b;
        rgb24[3 * i + 1] = rgb32[4 * i + 1] = g;
        rgb24[3 * i + 2] = rgb32[4 * i + 2] = red;
        rgb32[4 * i + 3] = 255;
      }
    // I420 input: the reference conversion of the RGB24 picture.
    PlenorSetCpuMask(0);
    RealRGB24toYUV420Converter c(w, h, 128);
    PlenorSetCpuMask(kCpuAllFeatures);
    c.Convert(rgb24.data(), y.data(), u.data(), v.data());
  }
};

// Copy `copy` of the picture of size s (the copies after the first are copies of it).
Frame& FrameFor(Size s, int copy = 0) {
  static std::map<std::tuple<int, int, int>, std::unique_ptr<Frame>> frames;
  auto& f = frames[{s.w, s.h, copy}];
  if (!f)
    f = copy == 0 ? std::make_unique<Frame>(s.w, s.h) : std::make_unique<Frame>(FrameFor(s));
  return *f;
}

// The copies an order's conversions go through, one per frame in turn.
class Frames {
 public:
  Frames(Size s, Order o) {
    for (int i = 0; i < o.copies; ++i)
      m_frames.push_back(&FrameFor(s, i));
  }
  Frame& Next() {
    Frame& f = *m_frames[m_next];
    m_next = (m_next + 1) % m_frames.size();
    return f;
  }

 private:
  std::vector<Frame*> m_frames;
  size_t m_next = 0;
};

void RunOurs(benchmark::State& state, Conversion conv, Size size, Order order, Variant variant) {
  if ((PlenorCpuDetected() & variant.required) != variant.required) {
    state.SkipWithError("processor lacks this variant");
    return;
  }
  Frames frames(size, order);
  PlenorSetCpuMask(variant.mask);
  std::unique_ptr<RGBtoYUV420Converter> fwd;
  std::unique_ptr<RealYUV420toRGB24Converter> back;
  const char* kernel = nullptr;
  if (conv == Conversion::I420ToRgb24) {
    back = std::make_unique<RealYUV420toRGB24Converter>();
    back->m_nWidth = size.w;
    back->m_nHeight = size.h;
    back->m_nChromaOffset = 128;
    back->m_bInvert = order.bottomUp;
    kernel = back->KernelName();
  } else {
    if (conv == Conversion::Rgb24ToI420)
      fwd = std::make_unique<RealRGB24toYUV420Converter>(size.w, size.h, 128);
    else
      fwd = std::make_unique<RealRGB32toYUV420Converter>(size.w, size.h);
    fwd->m_bInvert = order.bottomUp;
    kernel = fwd->KernelName();
  }
  PlenorSetCpuMask(kCpuAllFeatures);
  if (std::strcmp(kernel, variant.name) != 0) {
    state.SkipWithError("variant not available for this conversion");
    return;
  }
  for (auto _ : state) {
    Frame& f = frames.Next();
    switch (conv) {
      case Conversion::Rgb24ToI420:
        fwd->Convert(f.rgb24.data(), f.oy.data(), f.ou.data(), f.ov.data());
        break;
      case Conversion::Rgb32ToI420:
        fwd->Convert(f.rgb32.data(), f.oy.data(), f.ou.data(), f.ov.data());
        break;
      case Conversion::I420ToRgb24:
        back->Convert(f.y.data(), f.u.data(), f.v.data(), f.out24.data());
        break;
    }
    benchmark::ClobberMemory();
  }
}

#if PLENOR_BENCH_LIBYUV
void RunLibyuv(benchmark::State& state, Conversion conv, Size s, Order order) {
  Frames frames(s, order);
  const int cw = s.w / 2;
  const int h = order.bottomUp ? -s.h : s.h;  // libyuv reads or writes the RGB rows upwards
  for (auto _ : state) {
    Frame& f = frames.Next();
    switch (conv) {
      case Conversion::Rgb24ToI420:
        libyuv::RGB24ToI420(f.rgb24.data(), 3 * s.w, f.oy.data(), s.w, f.ou.data(), cw, f.ov.data(),
                            cw, s.w, h);
        break;
      case Conversion::Rgb32ToI420:
        libyuv::ARGBToI420(f.rgb32.data(), 4 * s.w, f.oy.data(), s.w, f.ou.data(), cw, f.ov.data(),
                           cw, s.w, h);
        break;
      case Conversion::I420ToRgb24:
        libyuv::I420ToRGB24(f.y.data(), s.w, f.u.data(), cw, f.v.data(), cw, f.out24.data(),
                            3 * s.w, s.w, h);
        break;
    }
    benchmark::ClobberMemory();
  }
}
#endif

#if PLENOR_BENCH_SWSCALE
void RunSwscale(benchmark::State& state, Conversion conv, Size s, Order order) {
  Frames frames(s, order);
  const AVPixelFormat in = conv == Conversion::Rgb24ToI420   ? AV_PIX_FMT_BGR24
                           : conv == Conversion::Rgb32ToI420 ? AV_PIX_FMT_BGR0
                                                             : AV_PIX_FMT_YUV420P;
  const AVPixelFormat out =
      conv == Conversion::I420ToRgb24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_YUV420P;
  SwsContext* ctx =
      sws_getContext(s.w, s.h, in, s.w, s.h, out, SWS_BILINEAR, nullptr, nullptr, nullptr);
  if (!ctx) {
    state.SkipWithError("sws_getContext failed");
    return;
  }
  const int cw = s.w / 2;
  const int yuvStrides[3] = {s.w, cw, cw};
  // Bottom-up: the RGB picture from its last row with a negative stride.
  const int rgbStride = (conv == Conversion::Rgb32ToI420 ? 4 : 3) * s.w;
  const std::ptrdiff_t lastRow = order.bottomUp ? static_cast<std::ptrdiff_t>(s.h - 1) * rgbStride : 0;
  const int stride = order.bottomUp ? -rgbStride : rgbStride;
  for (auto _ : state) {
    Frame& f = frames.Next();
    const std::uint8_t* yuvSrc[3] = {f.y.data(), f.u.data(), f.v.data()};
    std::uint8_t* yuvDst[3] = {f.oy.data(), f.ou.data(), f.ov.data()};
    if (conv == Conversion::I420ToRgb24) {
      std::uint8_t* dst[1] = {f.out24.data() + lastRow};
      const int dstStride[1] = {stride};
      sws_scale(ctx, yuvSrc, yuvStrides, 0, s.h, dst, dstStride);
    } else {
      const std::uint8_t* src[1] = {(conv == Conversion::Rgb24ToI420 ? f.rgb24.data()
                                                                      : f.rgb32.data()) + lastRow};
      const int srcStride[1] = {stride};
      sws_scale(ctx, src, srcStride, 0, s.h, yuvDst, yuvStrides);
    }
    benchmark::ClobberMemory();
  }
  sws_freeContext(ctx);
}
#endif

std::string Key(Conversion c, Size s, Order o) {
  return std::string(kConversionNames[static_cast<int>(c)]) + o.suffix + "/" + std::to_string(s.w) +
         "x" + std::to_string(s.h);
}

bool Timed(Size s, Order o) { return (!o.bottomUp && o.copies == 1) || s.w == 1920; }

// What each ratio compares: our arithmetic is fixed, the peers pick their own.
const char* const kArithmeticNotes[] = {
    "our arithmetic is fixed (bit-exact with the double-precision formulas); the peers use their own",
    "our arithmetic is fixed (bit-exact with the double-precision formulas); the peers use their own",
    "our arithmetic is fixed (full-range formulas); the peers use their own",
};

void PrintRatios(const benchsupport::RatioReporter& rep) {
  std::printf("\nMedian processor time per frame (us) and ratio to the peers' (< 1 is faster):\n");
  std::printf("%-34s %-7s %10s %12s %12s\n", "conversion", "kernel", "time", "/ libyuv",
              "/ swscale");
  for (int c = 0; c < 3; ++c)
    for (const Order& o : kOrders)
    for (const Size& s : kSizes) {
      if (!Timed(s, o))
        continue;
      const std::string key = Key(static_cast<Conversion>(c), s, o);
      auto find = [&](const std::string& who) {
        auto it = rep.times.find(key + "/" + who);
        return it == rep.times.end() ? -1.0 : it->second;
      };
      const double yuv = find("libyuv"), sws = find("swscale");
      bool timed = yuv > 0 || sws > 0;
      for (const Variant& v : kVariants)
        timed = timed || find(v.name) > 0;
      if (!timed)  // left out by --benchmark_filter
        continue;
      std::printf("%-34s note: %s\n", key.c_str(), kArithmeticNotes[c]);
      for (const Variant& v : kVariants) {
        const double t = find(v.name);
        if (t < 0)
          continue;
        char a[32] = "-", b[32] = "-";
        if (yuv > 0)
          std::snprintf(a, sizeof a, "%.2fx", t / yuv);
        if (sws > 0)
          std::snprintf(b, sizeof b, "%.2fx", t / sws);
        std::printf("%-34s %-7s %10.1f %12s %12s\n", key.c_str(), v.name, t, a, b);
      }
      if (yuv > 0)
        std::printf("%-34s %-7s %10.1f\n", key.c_str(), "libyuv", yuv);
      if (sws > 0)
        std::printf("%-34s %-7s %10.1f\n", key.c_str(), "swscale", sws);
    }
}

}  // namespace

int main(int argc, char** argv) {
  // Defaults: medians of repetitions run in random interleaved order (so that load from other
  // processes hits every contender alike), aggregates only. Flags on the command line come later
  // and win.
  std::vector<char*> args(argv, argv + argc);
  std::string reps = "--benchmark_repetitions=9", aggr = "--benchmark_report_aggregates_only=true",
              shuffle = "--benchmark_enable_random_interleaving=true",
              minTime = "--benchmark_min_time=0.05";
  args.insert(args.begin() + 1, {reps.data(), aggr.data(), shuffle.data(), minTime.data()});
  int n = static_cast<int>(args.size());

  for (int c = 0; c < 3; ++c)
    for (const Order& o : kOrders)
    for (const Size& s : kSizes) {
      if (!Timed(s, o))
        continue;
      const Conversion conv = static_cast<Conversion>(c);
      const std::string key = Key(conv, s, o);
      for (const Variant& v : kVariants)
        benchmark::RegisterBenchmark((key + "/" + v.name).c_str(), RunOurs, conv, s, o, v)
            ->Unit(benchmark::kMicrosecond);
#if PLENOR_BENCH_LIBYUV
      benchmark::RegisterBenchmark((key + "/libyuv").c_str(), RunLibyuv, conv, s, o)
          ->Unit(benchmark::kMicrosecond);
#endif
#if PLENOR_BENCH_SWSCALE
      benchmark::RegisterBenchmark((key + "/swscale").c_str(), RunSwscale, conv, s, o)
          ->Unit(benchmark::kMicrosecond);
#endif
    }
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data()))
    return 1;
  benchsupport::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  PrintRatios(reporter);
  return 0;
}

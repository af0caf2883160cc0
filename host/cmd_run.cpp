// plenor run [OPTIONS] PIPELINE: builds the pipeline's graph, pauses and runs it until the end of
// the stream, Ctrl-C or a frame or time limit, then stops it and prints a summary.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "framework/status.h"
#include "host/cli_util.h"
#include "host/commands.h"
#include "host/filters.h"
#include "host/graphbuild.h"
#include "host/run.h"

namespace cli {

namespace {

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) { g_interrupted = true; }

// The frame duration of the first connected video pin with a frame rate, or 0.
REFERENCE_TIME FrameDuration(const BuiltGraph& built) {
  for (const auto& f : built.filters) {
    for (ComPtr<IPin>& p : Pins(f.Get())) {
      if (Direction(p.Get()) != PINDIR_OUTPUT) continue;
      AM_MEDIA_TYPE mt{};
      if (FAILED(p->ConnectionMediaType(&mt))) continue;
      REFERENCE_TIME d = 0;
      if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER) && mt.pbFormat)
        d = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->AvgTimePerFrame;
      if (mt.pbFormat) CoTaskMemFree(mt.pbFormat);
      if (mt.pUnk) mt.pUnk->Release();
      if (d > 0) return d;
    }
  }
  return 0;
}

// Samples the filter's input pins have accepted so far, or -1 when it has no input pin that
// counts them (a source).
LONGLONG SamplesIn(IBaseFilter* filter) {
  LONGLONG total = -1;
  for (ComPtr<IPin>& p : Pins(filter)) {
    if (Direction(p.Get()) != PINDIR_INPUT) continue;
    ComPtr<IPinSampleCount> counter = p.As<IPinSampleCount>();
    LONGLONG n = 0;
    if (counter && SUCCEEDED(counter->GetSampleCount(&n))) total = (total < 0 ? 0 : total) + n;
  }
  return total;
}

// Samples that reached the end of the pipeline: those accepted by filters with no connected
// output pin (renderers and writers).
LONGLONG SamplesRendered(const BuiltGraph& built) {
  LONGLONG total = 0;
  for (const auto& f : built.filters) {
    bool feedsOthers = false;
    for (ComPtr<IPin>& p : Pins(f.Get())) {
      ComPtr<IPin> peer;
      if (Direction(p.Get()) == PINDIR_OUTPUT && SUCCEEDED(p->ConnectedTo(&peer)) && peer) feedsOthers = true;
    }
    if (feedsOthers) continue;
    LONGLONG n = SamplesIn(f.Get());
    if (n > 0) total += n;
  }
  return total;
}

std::string Seconds(double s) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f s", s);
  return buf;
}

}  // namespace

int RunGraph(BuiltGraph& built, const RunOptions& options, const char* verb) {
  const std::string v = verb;
  ComPtr<IMediaControl> control = built.graph.As<IMediaControl>();
  ComPtr<IMediaEventEx> events = built.graph.As<IMediaEventEx>();
  ComPtr<IMediaSeeking> seeking = built.graph.As<IMediaSeeking>();
  if (!control || !events || !seeking) return Fail(v + ": the graph manager lacks its control interfaces");

  // A frame or time limit becomes the stop position, so the source ends the stream there.
  LONGLONG limit = -1;
  if (options.frames > 0) {
    REFERENCE_TIME d = FrameDuration(built);
    if (d <= 0)
      return Fail(v + ": --frames needs a video stream with a frame rate, " + FormatHResult(E_INVALIDARG) +
                  "; use --seconds, or the source's own frame count parameter");
    limit = d * options.frames;
  } else if (options.seconds > 0) {
    limit = static_cast<LONGLONG>(options.seconds * 10000000.0);
  }
  bool limitBySeeking = false;
  if (limit > 0) {
    LONGLONG stop = limit;
    limitBySeeking =
        SUCCEEDED(seeking->SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_AbsolutePositioning));
  }
  LONGLONG duration = 0;
  bool knowsDuration = SUCCEEDED(seeking->GetDuration(&duration)) && duration > 0;

  struct sigaction sa {}, oldInt{}, oldTerm{};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  g_interrupted = false;
  sigaction(SIGINT, &sa, &oldInt);
  sigaction(SIGTERM, &sa, &oldTerm);

  const bool progress = !options.quiet && isatty(2);
  auto start = std::chrono::steady_clock::now();
  HRESULT hr = control->Pause();
  if (SUCCEEDED(hr)) {
    OAFilterState fs = 0;
    control->GetState(5000, &fs);
    hr = control->Run();
  }
  std::string outcome, failure;
  if (FAILED(hr)) {
    std::string texts;
    for (size_t i = 0; i < built.filters.size(); ++i) {
      std::string t = LastErrorText(built.filters[i].Get());
      if (!t.empty()) texts += "; " + built.labels[i] + ": " + t;
    }
    failure = "cannot start the graph, " + FormatHResult(hr) + texts;
  }
  while (failure.empty() && outcome.empty()) {
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    if (events->GetEvent(&code, &p1, &p2, 100) == S_OK) {
      if (code == EC_COMPLETE) {
        outcome = "end of stream";
      } else if (code == EC_ERRORABORT || code == EC_USERABORT) {
        HRESULT why = static_cast<HRESULT>(p1);
        std::string texts;
        for (size_t i = 0; i < built.filters.size(); ++i) {
          std::string t = LastErrorText(built.filters[i].Get());
          if (!t.empty()) texts += "; " + built.labels[i] + ": " + t;
        }
        failure = std::string(code == EC_ERRORABORT ? "the stream failed" : "the stream was aborted") + ", " +
                  FormatHResult(why) + texts;
      }
      // EC_PLENOR_LAST_ERROR needs nothing here: a failure also aborts the stream (its text goes
      // into the error line), and texts of filters that carried on appear in the summary.
      events->FreeEventParams(code, p1, p2);
    }
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (g_interrupted) outcome = "interrupted";
    LONGLONG pos = 0;
    seeking->GetCurrentPosition(&pos);
    if (limit > 0 && !limitBySeeking && outcome.empty()) {
      if (options.frames == 0 && elapsed * 1e7 >= static_cast<double>(limit)) outcome = "time limit";
      if (options.frames > 0 && pos >= limit) outcome = "frame limit";
    }
    if (progress) {
      LONGLONG rendered = SamplesRendered(built);
      char rate[64];
      std::snprintf(rate, sizeof rate, "  %lld samples rendered  %.1f/s", static_cast<long long>(rendered),
                    elapsed > 0 ? static_cast<double>(rendered) / elapsed : 0.0);
      std::string line = "\rplenor: running " + Seconds(elapsed) + rate + "  position " + Seconds(pos / 1e7);
      if (knowsDuration) line += " / " + Seconds(duration / 1e7);
      std::fprintf(stderr, "%s   ", line.c_str());
    }
  }
  if (progress) std::fprintf(stderr, "\n");
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  LONGLONG pos = 0;
  seeking->GetCurrentPosition(&pos);
  control->Stop();
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);

  if (!failure.empty()) return Fail(v + ": " + failure);
  if (!options.quiet) {
    std::printf("finished: %s\n", outcome.c_str());
    std::printf("wall time: %s\n", Seconds(wall).c_str());
    std::printf("stream time: %s%s\n", Seconds(pos / 1e7).c_str(),
                knowsDuration ? (" of " + Seconds(duration / 1e7)).c_str() : "");
    if (limit > 0) std::printf("stop position: %s\n", Seconds(limit / 1e7).c_str());
    const LONGLONG rendered = SamplesRendered(built);
    std::printf("rendered: %lld samples, %.2f per second of wall time\n", static_cast<long long>(rendered),
                wall > 0 ? static_cast<double>(rendered) / wall : 0.0);
    for (size_t i = 0; i < built.filters.size(); ++i) {
      std::string t = LastErrorText(built.filters[i].Get());
      LONGLONG in = SamplesIn(built.filters[i].Get());
      std::string count = in < 0 ? "" : " (" + std::to_string(in) + " samples in)";
      std::printf("  %s%s%s\n", built.labels[i].c_str(), count.c_str(), t.empty() ? "" : (": " + t).c_str());
    }
  }
  return kExitOk;
}

// Reads the run options at the front of args; the rest is the pipeline. Returns kExitOk or the
// usage error's exit code.
int ParseRunOptions(const std::vector<std::string>& args, const char* verb, RunOptions* options,
                    std::vector<std::string>* rest) {
  const std::string v = verb;
  size_t i = 0;
  for (; i < args.size() && args[i].size() > 1 && args[i][0] == '-' && args[i][1] == '-'; ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      ++i;
      break;
    }
    auto value = [&](const char* what) -> const std::string* {
      if (i + 1 >= args.size()) return nullptr;
      (void)what;
      return &args[++i];
    };
    if (a == "--quiet" || a == "-q") {
      options->quiet = true;
    } else if (a == "--verbose-negotiation") {
      options->verboseNegotiation = true;
    } else if (a == "--frames") {
      const std::string* s = value("N");
      char* end = nullptr;
      long long n = s ? std::strtoll(s->c_str(), &end, 10) : 0;
      if (!s || *end || n <= 0) return UsageError(v + ": --frames needs a positive whole number");
      options->frames = n;
    } else if (a == "--seconds") {
      const std::string* s = value("S");
      char* end = nullptr;
      double d = s ? std::strtod(s->c_str(), &end) : 0;
      if (!s || *end || !(d > 0) || d > 1e9) return UsageError(v + ": --seconds needs a positive number");
      options->seconds = d;
    } else if (a == "--dot") {
      const std::string* s = value("FILE");
      if (!s || s->empty()) return UsageError(v + ": --dot needs a file name");
      options->dotFile = *s;
    } else {
      return UsageError(v + ": unknown option '" + a + "'");
    }
  }
  rest->assign(args.begin() + static_cast<long>(i), args.end());
  return kExitOk;
}

int WriteDot(const BuiltGraph& built, const std::string& file, const char* verb) {
  std::string dot = GraphDot(built.graph.Get());
  std::ofstream out(file, std::ios::binary);
  out << dot;
  out.close();
  if (dot.empty() || !out)
    return Fail(std::string(verb) + ": cannot write the graph drawing to " + file + ", " +
                FormatHResult(STG_E_WRITEFAULT) + "; check that the folder exists and is writable");
  return kExitOk;
}

int RunRun(const std::vector<std::string>& args) {
  RunOptions options;
  std::vector<std::string> words;
  if (int rc = ParseRunOptions(args, "run", &options, &words)) return rc;
  if (words.empty()) return UsageError("run: give a pipeline, e.g. TestPatternSource ! NullRenderer");
  Pipeline pipeline;
  std::string error;
  if (!ParsePipeline(words, &pipeline, &error)) return UsageError("run: " + error);
  int rc;
  {
    BuiltGraph built;
    rc = BuildGraph(pipeline, "run", options.verboseNegotiation, &built);
    if (rc == kExitOk && !options.dotFile.empty()) rc = WriteDot(built, options.dotFile, "run");
    if (rc == kExitOk) rc = RunGraph(built, options, "run");
  }
  DropRegistryOverlay();
  return rc;
}

}  // namespace cli

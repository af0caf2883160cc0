// plenor run [OPTIONS] PIPELINE: builds the pipeline's graph, pauses and runs it until the end of
// the stream, Ctrl-C or a frame or time limit, then stops it and prints a summary.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>

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

// The sample count of one input pin, or -1 when it does not count them.
LONGLONG PinSamples(IPin* pin) {
  ComPtr<IPinSampleCount> counter = ComPtr<IPin>(pin).As<IPinSampleCount>();
  LONGLONG n = 0;
  return counter && SUCCEEDED(counter->GetSampleCount(&n)) ? n : -1;
}

// Samples the filter's input pins have accepted so far, or -1 when it has no input pin that
// counts them (a source).
LONGLONG SamplesIn(IBaseFilter* filter) {
  LONGLONG total = -1;
  for (ComPtr<IPin>& p : Pins(filter)) {
    if (Direction(p.Get()) != PINDIR_INPUT) continue;
    LONGLONG n = PinSamples(p.Get());
    if (n >= 0) total = (total < 0 ? 0 : total) + n;
  }
  return total;
}

// The summary's counts of one filter: samples in (per input when it has several) and samples its
// outputs delivered, as far as the receiving input pins count them. "" when nothing is known.
std::string SampleCounts(IBaseFilter* filter) {
  std::vector<std::string> inputs;
  LONGLONG in = -1, out = -1;
  for (ComPtr<IPin>& p : Pins(filter)) {
    if (Direction(p.Get()) == PINDIR_INPUT) {
      LONGLONG n = PinSamples(p.Get());
      if (n < 0) continue;
      in = (in < 0 ? 0 : in) + n;
      inputs.push_back(PinLabel(p.Get()) + " " + std::to_string(n));
    } else {
      ComPtr<IPin> peer;
      if (FAILED(p->ConnectedTo(&peer)) || !peer) continue;
      LONGLONG n = PinSamples(peer.Get());
      if (n >= 0) out = (out < 0 ? 0 : out) + n;
    }
  }
  std::string text;
  if (in >= 0) {
    text = std::to_string(in) + " samples in";
    if (inputs.size() > 1) {
      text += ": ";
      for (size_t i = 0; i < inputs.size(); ++i) text += (i ? ", " : "") + inputs[i];
    }
  }
  if (out >= 0) text += (text.empty() ? "" : "; ") + std::to_string(out) + " samples out";
  return text;
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

// A filter that only produces (no input pins).
bool IsSource(IBaseFilter* filter) {
  bool outputs = false;
  for (ComPtr<IPin>& p : Pins(filter)) {
    if (Direction(p.Get()) == PINDIR_INPUT) return false;
    outputs = true;
  }
  return outputs;
}

// Whether the source can be told where to stop: IMediaSeeking on the filter or an output pin.
bool CanSeek(IBaseFilter* filter) {
  if (ComPtr<IBaseFilter>(filter).As<IMediaSeeking>()) return true;
  for (ComPtr<IPin>& p : Pins(filter))
    if (p.As<IMediaSeeking>()) return true;
  return false;
}

// The stop position for --frames N at one frame per d, saturating instead of overflowing.
LONGLONG FrameLimit(REFERENCE_TIME d, long long frames) {
  if (frames > std::numeric_limits<LONGLONG>::max() / d) return std::numeric_limits<LONGLONG>::max();
  return d * frames;
}

// Hands every filter's status object the graph's event sink and an id (its index + 1), so that
// the filters' text notifications reach the host's event loop; takes them back at the end,
// before the graph goes (the sink is borrowed).
class StatusSinks {
 public:
  StatusSinks(const BuiltGraph& built) {
    ComPtr<IMediaEventSink> sink = built.graph.As<IMediaEventSink>();
    for (size_t i = 0; i < built.filters.size(); ++i) {
      ComPtr<IStatusInterface> status = built.filters[i] ? built.filters[i].As<IStatusInterface>() : nullptr;
      if (status && sink) {
        status->SetNotificationId(static_cast<int>(i + 1));
        status->SetEventSink(sink.Get());
      }
      m_status.push_back(status);
    }
  }
  ~StatusSinks() {
    for (auto& s : m_status)
      if (s) s->SetEventSink(nullptr);
  }
  // The filter index of a notification id, or -1.
  int IndexOf(LONG_PTR id) const {
    return id >= 1 && static_cast<size_t>(id) <= m_status.size() && m_status[id - 1] ? static_cast<int>(id - 1) : -1;
  }
  std::string StatusText(int i) const {
    std::vector<char> buf(CStatusInterface::kMaxStatusText + 1);
    if (FAILED(m_status[i]->GetStatusText(buf.data(), static_cast<int>(buf.size())))) return {};
    std::string s(buf.data());
    std::replace(s.begin(), s.end(), '\n', ' ');
    return s;
  }

 private:
  std::vector<ComPtr<IStatusInterface>> m_status;
};

// "; LABEL: TEXT" for every filter with a last-error text.
std::string AllErrorTexts(const BuiltGraph& built) {
  std::string texts;
  for (size_t i = 0; i < built.filters.size(); ++i) {
    std::string t = LastErrorText(built.filters[i].Get());
    if (!t.empty()) texts += "; " + built.labels[i] + ": " + t;
  }
  return texts;
}

}  // namespace

int RunGraph(BuiltGraph& built, const RunOptions& options, const char* verb) {
  const std::string v = verb;
  ComPtr<IMediaControl> control = built.graph.As<IMediaControl>();
  ComPtr<IMediaEventEx> events = built.graph.As<IMediaEventEx>();
  ComPtr<IMediaSeeking> seeking = built.graph.As<IMediaSeeking>();
  if (!control || !events || !seeking) return Fail(v + ": the graph manager lacks its control interfaces");

  // A frame or time limit becomes the stop position, so every source ends the stream there. A
  // source that cannot be told where to stop would run past it: such a limit is refused.
  LONGLONG limit = -1;
  const char* limitOption = options.frames > 0 ? "--frames" : "--seconds";
  if (options.frames > 0) {
    REFERENCE_TIME d = FrameDuration(built);
    if (d <= 0)
      return Fail(v + ": --frames needs a video stream with a frame rate, " + FormatHResult(E_INVALIDARG) +
                  "; use --seconds, or the source's own frame count parameter");
    limit = FrameLimit(d, options.frames);
  } else if (options.seconds > 0) {
    limit = static_cast<LONGLONG>(options.seconds * 10000000.0);
  }
  if (limit > 0) {
    for (size_t i = 0; i < built.filters.size(); ++i) {
      if (built.filters[i] && IsSource(built.filters[i].Get()) && !CanSeek(built.filters[i].Get()))
        return Fail(v + ": " + limitOption + " cannot be held: " + built.labels[i] +
                    " cannot be told where to stop (it has no IMediaSeeking), " + FormatHResult(E_NOINTERFACE) +
                    "; use the source's own parameters to limit it (plenor inspect), or stop the run with Ctrl-C");
    }
    LONGLONG stop = limit;
    HRESULT hr = seeking->SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_AbsolutePositioning);
    if (FAILED(hr))
      return Fail(v + ": " + limitOption + " cannot be held: the sources refused the stop position, " +
                  FormatHResult(hr) + "; use the source's own parameters to limit it (plenor inspect)");
  }
  LONGLONG duration = 0;
  bool knowsDuration = SUCCEEDED(seeking->GetDuration(&duration)) && duration > 0;

  struct sigaction sa {}, oldInt{}, oldTerm{}, oldHup{};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  g_interrupted = false;
  sigaction(SIGINT, &sa, &oldInt);
  sigaction(SIGTERM, &sa, &oldTerm);
  // A closed terminal stops the run as Ctrl-C does: the writers finish or remove their files.
  sigaction(SIGHUP, &sa, &oldHup);

  StatusSinks sinks(built);
  std::vector<std::string> shownErrors(built.filters.size());
  const bool progress = !options.quiet && isatty(2);
  bool progressShown = false;
  auto note = [&](const std::string& text) {
    if (progressShown) std::fprintf(stderr, "\n");
    progressShown = false;
    Note(text);
  };
  auto start = std::chrono::steady_clock::now();
  HRESULT hr = control->Pause();
  if (SUCCEEDED(hr)) {
    OAFilterState fs = 0;
    control->GetState(5000, &fs);
    hr = control->Run();
  }
  std::string outcome, failure;
  if (FAILED(hr)) failure = "cannot start the graph, " + FormatHResult(hr) + AllErrorTexts(built);
  // Texts set while the graph was built (a source refusing what its file name says, say) came
  // before the filters had a sink: the first round shows them as if they had just been notified.
  bool firstRound = true;
  while (failure.empty() && outcome.empty()) {
    // Every event that is waiting is taken before anything is printed: a filter's error text
    // that comes with an abort goes into the one failure line instead of a line of its own.
    std::vector<int> errorsChanged, statusChanged;
    if (firstRound)
      for (size_t i = 0; i < built.filters.size(); ++i) errorsChanged.push_back(static_cast<int>(i));
    firstRound = false;
    LONG code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    for (DWORD wait = 100; events->GetEvent(&code, &p1, &p2, wait) == S_OK; wait = 0) {
      if (code == EC_COMPLETE) {
        outcome = "end of stream";
      } else if ((code == EC_ERRORABORT || code == EC_USERABORT) && failure.empty()) {
        HRESULT why = static_cast<HRESULT>(p1);
        failure = std::string(code == EC_ERRORABORT ? "the stream failed" : "the stream was aborted") + ", " +
                  FormatHResult(why) + AllErrorTexts(built);
      } else if (code == EC_PLENOR_LAST_ERROR || code == EC_PLENOR_STATUS) {
        int i = sinks.IndexOf(p1);
        if (i >= 0) (code == EC_PLENOR_LAST_ERROR ? errorsChanged : statusChanged).push_back(i);
      }
      events->FreeEventParams(code, p1, p2);
    }
    if (failure.empty()) {
      for (int i : errorsChanged) {
        std::string t = LastErrorText(built.filters[i].Get());
        if (t.empty() || t == shownErrors[i]) continue;
        shownErrors[i] = t;
        note(v + ": " + built.labels[i] + ": " + t);
      }
      if (options.verbose)
        for (int i : statusChanged) note(v + ": " + built.labels[i] + " status: " + sinks.StatusText(i));
    }
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (g_interrupted && outcome.empty()) outcome = "interrupted";
    if (progress) {
      LONGLONG pos = 0;
      seeking->GetCurrentPosition(&pos);
      LONGLONG rendered = SamplesRendered(built);
      char rate[64];
      std::snprintf(rate, sizeof rate, "  %lld samples rendered  %.1f/s", static_cast<long long>(rendered),
                    elapsed > 0 ? static_cast<double>(rendered) / elapsed : 0.0);
      std::string line = "\rplenor: running " + Seconds(elapsed) + rate + "  clock " + Seconds(pos / 1e7);
      if (knowsDuration) line += " / " + Seconds(duration / 1e7);
      std::fprintf(stderr, "%s   ", line.c_str());
      progressShown = true;
    }
  }
  if (progressShown) std::fprintf(stderr, "\n");
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  LONGLONG pos = 0;
  seeking->GetCurrentPosition(&pos);
  control->Stop();
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
  sigaction(SIGHUP, &oldHup, nullptr);

  if (!failure.empty()) return Fail(v + ": " + failure);
  if (!options.quiet) {
    std::printf("finished: %s\n", outcome.c_str());
    std::printf("wall time: %s\n", Seconds(wall).c_str());
    // At the end of the stream every source reached its stop (the limit or the end of its
    // material). The graph clock only tells how much stream time passed in real time: writers
    // and renderers that do not wait for the clock finish long before it gets there.
    LONGLONG end = limit > 0 ? (knowsDuration ? std::min(limit, duration) : limit) : (knowsDuration ? duration : -1);
    if (outcome == "end of stream" && end >= 0)
      std::printf("position reached: %s (the end of the stream)\n", Seconds(end / 1e7).c_str());
    std::printf("graph clock: %s of stream time had passed when the graph stopped%s\n", Seconds(pos / 1e7).c_str(),
                knowsDuration ? (" (stream length " + Seconds(duration / 1e7) + ")").c_str() : "");
    if (limit > 0) std::printf("stop position: %s\n", Seconds(limit / 1e7).c_str());
    const LONGLONG rendered = SamplesRendered(built);
    std::printf("rendered: %lld samples, %.2f per second of wall time\n", static_cast<long long>(rendered),
                wall > 0 ? static_cast<double>(rendered) / wall : 0.0);
    for (size_t i = 0; i < built.filters.size(); ++i) {
      std::string t = LastErrorText(built.filters[i].Get());
      std::string counts = SampleCounts(built.filters[i].Get());
      if (!counts.empty()) counts = " (" + counts + ")";
      std::printf("  %s%s%s\n", built.labels[i].c_str(), counts.c_str(), t.empty() ? "" : (": " + t).c_str());
    }
  }
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

int RunRun(const RunOptions& options, const std::vector<std::string>& words) {
  if (words.empty()) return UsageError("run", "give a pipeline, e.g. TestPatternSource ! NullRenderer");
  Pipeline pipeline;
  std::string error;
  if (!ParsePipeline(words, &pipeline, &error)) return UsageError("run", error);
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

// Both timing filters while frames flow at full speed: the graph is run and stopped over and over
// on the test thread while another thread keeps writing and reading parameters (and, for the
// skewing filter, its persisted property). Each run's frames must follow the filter's rules
// exactly, and under ThreadSanitizer no access may race.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/com/oleauto.h"
#include "support_timing.h"
#include "timing/framedrop.h"
#include "timing/timeshift.h"

using namespace timingtest;

namespace {

constexpr REFERENCE_TIME kDuration = 333333;
constexpr int kRuns = 25;
constexpr size_t kChecked = 24;  // frames checked per run

// The test pattern source (frames every 333,333 units from 0, endless) -> filter -> sample grabber.
struct FlowingGraph : PatternChain {
  explicit FlowingGraph(const CLSID& clsid) : PatternChain(clsid, "10000000/333333", 0) {
    // The grabber keeps what one run checks; later samples are counted only.
    EXPECT_EQ(SetParam(grabber.Get(), "max_samples", "64"), S_OK);
    samples = grabber.As<IPlenorSampleGrabber>();
  }

  // One run (the grabber forgets the last one as the graph starts): the start times of the first
  // count samples, read before Stop is called.
  std::vector<REFERENCE_TIME> RunOnce(size_t count) {
    std::vector<REFERENCE_TIME> starts;
    EXPECT_EQ(host.control->Run(), S_OK);
    EXPECT_EQ(samples->WaitForSamples(static_cast<LONG>(count), 10000), S_OK);
    for (size_t i = 0; i < count; ++i) {
      GRABBED_SAMPLE_INFO info{};
      EXPECT_EQ(samples->GetSampleInfo(static_cast<LONG>(i), &info), S_OK);
      starts.push_back(info.tStart);
    }
    EXPECT_EQ(host.control->Stop(), S_OK);
    return starts;
  }

  ComPtr<IPlenorSampleGrabber> samples;
};

// Runs body on another thread until the returned guard is destroyed.
class Background {
 public:
  template <class F>
  explicit Background(F body)
      : m_thread([this, body] {
          while (!m_stop.load()) body();
        }) {}
  ~Background() {
    m_stop = true;
    m_thread.join();
  }

 private:
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace

TEST(TimingThreads, FrameDropRunsStopsAndParameterWritesWhileFramesFlow) {
  FlowingGraph g(CLSID_FrameDropFilter);
  ASSERT_EQ(SetParam(g.filter.Get(), "source_framerate", "30"), S_OK);
  ASSERT_EQ(SetParam(g.filter.Get(), "target_framerate", "20"), S_OK);

  ComPtr<ISettingsInterface> settings = g.filter.As<ISettingsInterface>();
  std::atomic<int> writes{0};
  {
    // Rewrites the rates with the values they have (so each run's pattern is known), types
    // hand-made pairs that Run replaces, and reads everything back.
    Background writer([&] {
      char text[1024];
      int length = 0;
      const int n = writes.fetch_add(1);
      settings->SetParameter("source_framerate", "30");
      settings->SetParameter("target_framerate", "20.00");
      settings->SetParameter("skip_frame", std::to_string(n % 5).c_str());
      settings->SetParameter("total_frames", std::to_string(n % 7).c_str());
      settings->SetParameter("mode", "0");
      settings->GetParameter("skip_frame", sizeof text, text, &length);
      settings->GetParameterSettings(text, sizeof text);
    });
    for (int run = 0; run < kRuns; ++run) {
      std::vector<REFERENCE_TIME> starts = g.RunOnce(kChecked);
      for (size_t k = 0; k < kChecked; ++k) {
        const REFERENCE_TIME frame = static_cast<REFERENCE_TIME>(k / 2 * 3 + k % 2);
        ASSERT_EQ(starts[k], frame * kDuration) << "run " << run << " sample " << k;
      }
    }
  }
  EXPECT_GT(writes.load(), 0);
  // The last run's pair is the rates' pair, whatever was typed in between.
  ASSERT_EQ(g.host.control->Run(), S_OK);
  EXPECT_EQ(GetParam(g.filter.Get(), "skip_frame"), "1");
  EXPECT_EQ(GetParam(g.filter.Get(), "total_frames"), "3");
}

TEST(TimingThreads, FrameDropTimeStampModeRestartsItsGridWithEveryRun) {
  // A frame still on its way when Stop resets the grid must not leave a deadline of its own run
  // behind: each run's first frame (time 0) passes and the grid starts from it.
  FlowingGraph g(CLSID_FrameDropFilter);
  ASSERT_EQ(SetParam(g.filter.Get(), "mode", "1"), S_OK);
  ASSERT_EQ(SetParam(g.filter.Get(), "target_framerate", "10"), S_OK);
  ComPtr<ISettingsInterface> settings = g.filter.As<ISettingsInterface>();
  {
    Background writer([&] {
      char text[64];
      int length = 0;
      settings->SetParameter("target_framerate", "10");
      settings->SetParameter("mode", "1");
      settings->GetParameter("target_framerate", sizeof text, text, &length);
    });
    for (int run = 0; run < kRuns; ++run) {
      std::vector<REFERENCE_TIME> starts = g.RunOnce(6);
      for (size_t k = 0; k < 6; ++k) {
        const REFERENCE_TIME frame = k == 0 ? 0 : 1 + 3 * static_cast<REFERENCE_TIME>(k);  // 0 4 7 10 13 16
        ASSERT_EQ(starts[k], frame * kDuration) << "run " << run << " sample " << k;
      }
    }
  }
}

TEST(TimingThreads, FrameDropModeSwitchesWhileFramesFlow) {
  // Switching modes and rates under a running stream: every frame must still be either passed
  // or dropped cleanly (no failure, no crash), and time-stamp mode restarts with each run.
  FlowingGraph g(CLSID_FrameDropFilter);
  ComPtr<ISettingsInterface> settings = g.filter.As<ISettingsInterface>();
  std::atomic<int> writes{0};
  {
    Background writer([&] {
      const int n = writes.fetch_add(1);
      settings->SetParameter("mode", std::to_string(n % 3).c_str());
      settings->SetParameter("source_framerate", std::to_string(20 + n % 20).c_str());
      settings->SetParameter("target_framerate", std::to_string(n % 40).c_str());
    });
    // A run may drop much; it must keep delivering.
    for (int run = 0; run < kRuns; ++run) g.RunOnce(4);
  }
  for (LONG code : g.host.EventCodes()) EXPECT_NE(code, EC_ERRORABORT);
}

TEST(TimingThreads, TimeShiftRunsStopsAndOffsetWritesWhileFramesFlow) {
  FlowingGraph g(CLSID_TimeShiftFilter);
  ComPtr<ISettingsInterface> settings = g.filter.As<ISettingsInterface>();
  ComPtr<IPropertyBag> bag = g.filter.As<IPropertyBag>();
  ComPtr<IPersistStream> persist = g.filter.As<IPersistStream>();
  constexpr int kOffset = 100000;
  std::atomic<bool> writing{false};
  std::atomic<int> writes{0};
  {
    // While a run is on, the offset is rewritten with its own value through every path that
    // changes it; between runs (when Stop has just set it to 0) nothing is written.
    Background writer([&] {
      if (!writing.load()) {
        std::this_thread::yield();
        return;
      }
      writes++;
      settings->SetParameter("skewTimestamp", std::to_string(kOffset).c_str());
      VARIANT v;
      VariantInit(&v);
      v.vt = VT_INT;
      v.intVal = kOffset;
      bag->Write(L"\"TIME SKEW\"", &v);
      ComPtr<IStream> stream;
      if (SUCCEEDED(CreateStreamOnMemory(nullptr, 0, &stream))) {
        persist->Save(stream.Get(), FALSE);
      }
      char text[64];
      int length = 0;
      settings->GetParameter("skewTimestamp", sizeof text, text, &length);
    });
    for (int run = 0; run < kRuns; ++run) {
      ASSERT_EQ(SetParam(g.filter.Get(), "skewTimestamp", std::to_string(kOffset)), S_OK);
      writing = true;
      std::vector<REFERENCE_TIME> starts = g.RunOnce(kChecked);
      writing = false;
      EXPECT_EQ(starts[0], 0) << run;
      for (size_t k = 1; k < kChecked; ++k)
        ASSERT_EQ(starts[k], static_cast<REFERENCE_TIME>(k) * kDuration + kOffset) << "run " << run << " " << k;
    }
  }
  EXPECT_GT(writes.load(), 0);
}

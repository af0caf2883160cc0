// FrameDropFilter while frames flow at full speed: the graph is run and stopped over and over on the
// test thread while another thread keeps writing and reading parameters. Each run's frames must
// follow the filter's rules exactly, and under ThreadSanitizer no access may race.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/com/oleauto.h"
#include "tests/timing/support_timing.h"
#include "timing/framedrop/framedrop.h"

using namespace timingtest;

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


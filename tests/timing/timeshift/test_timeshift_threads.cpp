// TimeShiftFilter while frames flow at full speed: the graph is run and stopped over and over on the
// test thread while another thread keeps writing and reading its offset and its persisted
// property. Each run's frames must follow the filter's rules exactly, and under ThreadSanitizer no
// access may race.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/com/oleauto.h"
#include "tests/timing/support_timing.h"
#include "timing/timeshift/timeshift.h"

using namespace timingtest;

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

// RateEstimator in the two configurations of the measurement filters: accepted intervals, the
// window, the figures and their text.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "overlay/common/rateestimator.h"

namespace {

// The utility filter's configuration (window emptied by a rejected interval, 5 s limit, bytes
// kept) and the frame-rate display's (rejected frames ignored, no limit, no bytes).
RateEstimator::Config Utility(size_t capacity = 200) {
  return {.capacity = capacity, .longestInterval = 50'000'000, .resetOnRejected = true, .keepBytes = true};
}
RateEstimator::Config Display() {
  return {.capacity = 50, .longestInterval = 0, .resetOnRejected = false, .keepBytes = false};
}

double Rate(const RateEstimator& e) {
  double rate = 0;
  return e.FrameRate(&rate) ? rate : std::nan("");
}

std::string Text(double value, unsigned decimals, const char* suffix) {
  std::string text;
  FormatFigure(value, decimals, suffix, &text);
  return text;
}

}  // namespace

TEST(RateEstimator, FramesFromReadingsInBothConfigurations) {
  const struct {
    const char* what;
    RateEstimator::Config config;
    std::vector<int64_t> readings;
    size_t count;      // records in the window afterwards
    double rate;       // NaN: no figure
  } cases[] = {
      {"first frame yields nothing", Utility(), {1000}, 0, NAN},
      {"30 fps by sample times", Utility(), {0, 333333}, 1, 10'000'000.0 / 333333},
      {"25 fps over several frames", Display(), {0, 400000, 800000, 1200000}, 3, 25.0},
      {"equal times: utility empties the window", Utility(), {0, 400000, 400000}, 0, NAN},
      {"equal times: display ignores the frame", Display(), {0, 400000, 400000}, 1, 25.0},
      {"earlier time: display keeps its last reading", Display(), {0, 400000, 100, 800000}, 2, 25.0},
      {"6 s gap empties the utility window", Utility(), {0, 400000, 60'400'000}, 0, NAN},
      {"just under 5 s is accepted", Utility(), {0, 49'999'999}, 1, 10'000'000.0 / 49'999'999},
      {"6 s gap is accepted by the display", Display(), {0, 60'000'000}, 1, 10'000'000.0 / 60'000'000},
      {"after an emptied window new intervals count", Utility(), {0, 70'000'000, 70'400'000}, 1, 25.0},
      {"capacity 3 keeps the last three", Utility(3), {0, 100, 300, 600, 1000, 1500}, 3, 10'000'000.0 / 400},
      {"capacity 0 keeps nothing", Utility(0), {0, 400000, 800000}, 0, NAN},
      {"nonsense stream is not clamped", Display(), {0, 3, 6}, 2, 10'000'000.0 / 3},
      {"average truncated", Display(), {0, 1, 3}, 2, 10'000'000.0 / 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RateEstimator e(c.config);
    for (int64_t r : c.readings) e.Measure(r, 1500);
    EXPECT_EQ(e.Count(), c.count);
    if (std::isnan(c.rate))
      EXPECT_TRUE(std::isnan(Rate(e)));
    else
      EXPECT_DOUBLE_EQ(Rate(e), c.rate);
  }
}

TEST(RateEstimator, BitRateOverTheSpanOfTheWindow) {
  const struct {
    const char* what;
    std::vector<std::pair<int64_t, uint32_t>> frames;
    double kbps;
  } cases[] = {
      {"three records of 1500 bytes over 2 s", {{-10'000'000, 9}, {0, 1500}, {10'000'000, 1500}, {20'000'000, 1500}}, 16.0},
      {"one record: span 0", {{0, 1500}, {400000, 1500}}, -1},
      {"empty window", {{0, 1500}}, -1},
      {"bytes below 1000 count nothing", {{0, 1}, {400000, 999}, {800000, 0}}, 0.0},
      // 5,000 records of 1,000,000 bytes: 5 GB, beyond a 32-bit sum.
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RateEstimator e(Utility());
    for (auto [t, bytes] : c.frames) e.Measure(t, bytes);
    EXPECT_DOUBLE_EQ(e.BitRate(), c.kbps);
  }
  RateEstimator big(Utility(5000));
  for (int i = 0; i <= 5001; ++i) big.Measure(i * 400000LL, 1'000'000);
  EXPECT_EQ(big.Count(), 5000u);
  // 5e9 bytes -> 4e7 kilobits over 4999 intervals of 40 ms.
  EXPECT_DOUBLE_EQ(big.BitRate(), 40'000'000.0 / (4999 * 0.04));
}

TEST(RateEstimator, CounterReadingsAndRestart) {
  RateEstimator e(Utility());
  e.SetCounterFrequency(1000);  // 1 kHz counter: 40 ticks are 40 ms
  EXPECT_EQ(e.Measure(5000, 0, RateEstimator::Clock::Counter), RateEstimator::Measured::Started);
  EXPECT_EQ(e.Measure(5040, 0, RateEstimator::Clock::Counter), RateEstimator::Measured::Accepted);
  EXPECT_DOUBLE_EQ(Rate(e), 25.0);
  // Restart keeps the window until the next frame, which empties it (utility configuration).
  e.Restart();
  EXPECT_EQ(e.Count(), 1u);
  EXPECT_EQ(e.Measure(9000, 0, RateEstimator::Clock::Counter), RateEstimator::Measured::Started);
  EXPECT_EQ(e.Count(), 0u);
  // Lowering the capacity shrinks the window by one record per frame.
  for (int i = 1; i <= 10; ++i) e.Measure(9000 + 40 * i, 0, RateEstimator::Clock::Counter);
  e.SetCapacity(5);
  e.Measure(9440, 0, RateEstimator::Clock::Counter);
  EXPECT_EQ(e.Count(), 10u);
  e.Reset();
  EXPECT_EQ(e.Count(), 0u);
  EXPECT_FALSE(e.Started());
}

TEST(RateEstimator, FiguresAsFixedDecimalText) {
  const struct {
    double value;
    unsigned decimals;
    const char* suffix;
    const char* text;
  } cases[] = {
      {29.97, 2, " fps", "29.97 fps"},
      {29.97, 1, " fps", "30.0 fps"},
      {10'000'000.0 / 333333, 2, " fps", "30.00 fps"},
      {1234.5678, 1, " kbps", "1234.6 kbps"},
      {0.0, 1, " fps", "0.0 fps"},
      {-1, 1, " kbps", "-1.0 kbps"},
      {25.0, 0, " fps", "25 fps"},
      {25.0, 3, " fps", "25.000 fps"},
      {3333333.333, 2, " fps", "3333333.33 fps"},
      {0.125, 2, " fps", "0.12 fps"},  // an exact tie rounds to even, as a stream prints it
  };
  for (const auto& c : cases) EXPECT_EQ(Text(c.value, c.decimals, c.suffix), c.text);
  EXPECT_EQ(Text(1.5, 1000, "").size(), 2 + kMaxDecimals);
}

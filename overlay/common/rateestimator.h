// RateEstimator: the sliding-window frame-rate and bit-rate estimator of the two measurement
// filters. Each filter feeds it one reading per frame (a sample start time, or a performance
// counter value) and configures it once:
//
//   RateEstimator fps(RateEstimator::Config{.capacity = 50, .longestInterval = 0,
//                                           .resetOnRejected = false, .keepBytes = false});
//   if (fps.Measure(start) == RateEstimator::Measured::Started) return S_OK;  // first frame
//   double rate; if (fps.FrameRate(&rate)) ... FormatFigure(rate, 2, " fps", &text);
//
// The window is a ring of records that grows only when it holds more records than ever before,
// so a running stream allocates nothing per frame. Not thread-safe: the owning filter
// serialises its calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class RateEstimator {
 public:
  struct Config {
    size_t capacity = 200;        // records kept (the filter may change it with SetCapacity)
    int64_t longestInterval = 0;  // intervals must be below this (100-ns units); 0: no limit
    bool resetOnRejected = true;  // a rejected interval empties the window and takes the reading
                                  // (else the frame is ignored: no record, last reading kept)
    bool keepBytes = true;        // keep byte counts (for the bit rate)
  };

  enum class Clock { SampleTime, Counter };
  enum class Measured { Started, Accepted, Rejected };

  explicit RateEstimator(const Config& config);

  // Capacity used from the next frame on; a lower capacity shrinks the window by one record per
  // measured frame.
  void SetCapacity(size_t capacity) { m_config.capacity = capacity; }
  // Frequency of the performance counter, for Clock::Counter readings.
  void SetCounterFrequency(int64_t frequency) { m_frequency = frequency; }

  // One frame's reading (and byte count). The first frame after a reset only takes the reading.
  Measured Measure(int64_t reading, uint32_t bytes = 0, Clock clock = Clock::SampleTime);

  // Started false and last reading 0 (the next frame starts a new measurement).
  void Restart();
  // Restart and empty the window.
  void Reset();

  bool Started() const { return m_bStarted; }
  size_t Count() const { return m_count; }

  // 10,000,000 / (sum of intervals / count, truncated); false when the window is empty or the
  // average is not above 0.
  bool FrameRate(double* rate) const;
  // kilobits ((sum of bytes / 1000) * 8) over the span from the oldest record's reading to the
  // newest's in seconds; -1 when the window is empty or the span is 0.
  double BitRate() const;

 private:
  struct Record {
    int64_t reading;
    int64_t interval;
    uint32_t bytes;
  };
  const Record& At(size_t i) const { return m_ring[(m_head + i) % m_ring.size()]; }
  void PushBack(const Record& r);
  void PopFront();

  Config m_config;
  int64_t m_frequency = 10'000'000;
  bool m_bStarted = false;
  int64_t m_lastReading = 0;
  std::vector<Record> m_ring;  // m_count records from m_head, oldest first
  size_t m_head = 0;
  size_t m_count = 0;
};

// The figure in fixed notation with the given decimals, then the suffix (" fps", " kbps"), as a
// standard stream prints it in the classic locale, into text (reusing its storage). Decimals
// above kMaxDecimals are printed as kMaxDecimals.
constexpr unsigned kMaxDecimals = 100;
void FormatFigure(double value, unsigned decimals, const char* suffix, std::string* text);

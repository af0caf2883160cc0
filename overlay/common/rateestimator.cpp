#include "overlay/common/rateestimator.h"

#include <charconv>
#include <cstring>

RateEstimator::RateEstimator(const Config& config) : m_config(config) {}

void RateEstimator::Restart() {
  m_bStarted = false;
  m_lastReading = 0;
}

void RateEstimator::Reset() {
  Restart();
  m_head = 0;
  m_count = 0;
}

void RateEstimator::PushBack(const Record& r) {
  if (m_count == m_ring.size()) {
    // Grow, keeping the records in order from index 0.
    std::vector<Record> bigger;
    bigger.reserve(m_ring.empty() ? 64 : m_ring.size() * 2);
    for (size_t i = 0; i < m_count; ++i) bigger.push_back(At(i));
    bigger.resize(bigger.capacity());
    m_ring.swap(bigger);
    m_head = 0;
  }
  m_ring[(m_head + m_count) % m_ring.size()] = r;
  ++m_count;
}

void RateEstimator::PopFront() {
  if (m_count == 0) return;
  m_head = (m_head + 1) % m_ring.size();
  --m_count;
}

RateEstimator::Measured RateEstimator::Measure(int64_t reading, uint32_t bytes, Clock clock) {
  if (!m_bStarted) {
    m_lastReading = reading;
    if (m_config.resetOnRejected) {
      m_head = 0;
      m_count = 0;
    }
    m_bStarted = true;
    return Measured::Started;
  }
  int64_t interval = 0;
  if (clock == Clock::SampleTime) {
    interval = static_cast<int64_t>(static_cast<uint64_t>(reading) - static_cast<uint64_t>(m_lastReading));
  } else {
    const uint64_t diff = static_cast<uint64_t>(reading) - static_cast<uint64_t>(m_lastReading);
    interval = m_frequency > 0 ? static_cast<int64_t>(diff * 10'000'000ull / static_cast<uint64_t>(m_frequency)) : 0;
  }
  const bool accepted = interval > 0 && (m_config.longestInterval == 0 || interval < m_config.longestInterval);
  if (accepted) {
    PushBack({reading, interval, m_config.keepBytes ? bytes : 0});
    m_lastReading = reading;
    if (m_count > m_config.capacity) PopFront();
    return Measured::Accepted;
  }
  if (m_config.resetOnRejected) {
    m_head = 0;
    m_count = 0;
    m_lastReading = reading;
  }
  return Measured::Rejected;
}

bool RateEstimator::FrameRate(double* rate) const {
  if (m_count == 0) return false;
  int64_t sum = 0;
  for (size_t i = 0; i < m_count; ++i) sum += At(i).interval;
  const int64_t average = sum / static_cast<int64_t>(m_count);
  if (average <= 0) return false;
  *rate = 10'000'000.0 / static_cast<double>(average);
  return true;
}

double RateEstimator::BitRate() const {
  if (m_count == 0) return -1;
  const double span = static_cast<double>(At(m_count - 1).reading - At(0).reading) / 10'000'000.0;
  if (span == 0) return -1;
  // Summed in 64 bits: a 32-bit sum wraps past 4 GB in the window (200 frames of 5 K RGB32).
  uint64_t bytes = 0;
  for (size_t i = 0; i < m_count; ++i) bytes += At(i).bytes;
  const uint64_t kilobits = bytes / 1000 * 8;
  return static_cast<double>(kilobits) / span;
}

void FormatFigure(double value, unsigned decimals, const char* suffix, std::string* text) {
  if (decimals > kMaxDecimals) decimals = kMaxDecimals;
  // Sign, up to 309 integer digits, point, decimals, suffix.
  const size_t suffixLength = std::strlen(suffix);
  text->resize(312 + kMaxDecimals + suffixLength);
  char* begin = text->data();
  auto [end, ec] = std::to_chars(begin, begin + 312 + kMaxDecimals, value, std::chars_format::fixed,
                                 static_cast<int>(decimals));
  if (ec != std::errc()) end = begin;
  std::memcpy(end, suffix, suffixLength);
  text->resize(static_cast<size_t>(end - begin) + suffixLength);
}

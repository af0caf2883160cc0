// Helpers for the converter tests: kernel variants forced through the CPU mask, buffers that end
// at a guard page, and the test size (exhaustive loops shrink under sanitizers and in unoptimised
// builds).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "platform/com/cpu.h"

namespace colourtest {

struct Variant {
  const char* name;  // kernel name the converters must report
  DWORD mask;        // CPU mask that selects it
  DWORD required;    // features the processor must have
};

std::vector<Variant> Rgb24Variants();
std::vector<Variant> Rgb32Variants();
std::vector<Variant> YuvVariants();
std::string VariantName(const testing::TestParamInfo<Variant>& info);
void PrintTo(const Variant& v, std::ostream* os);

// Sets the CPU mask for the variant on construction (GTEST_SKIP in the fixture when the processor
// lacks it) and restores the full mask on destruction.
class ForcedVariant {
 public:
  explicit ForcedVariant(const Variant& v);
  ~ForcedVariant();
  bool available() const { return available_; }

 private:
  bool available_;
};

// True when the exhaustive loops must run on a sampled subset (sanitizers, unoptimised builds or
// PLENOR_TEST_QUICK set in the environment).
bool QuickMode();

// Writable bytes whose last byte is the last one before an inaccessible page, so that any read
// or write past the end faults.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(std::size_t size);
  ~GuardedBuffer();
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;
  std::uint8_t* data() { return data_; }
  std::size_t size() const { return size_; }

 private:
  void* map_ = nullptr;
  std::size_t mapSize_ = 0;
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

void FillRandom(std::vector<std::uint8_t>& bytes, std::mt19937& rng);

// Index of the first byte where a and b differ (0 when their sizes differ), or -1.
long FirstDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);
void FillRandom(std::uint8_t* bytes, std::size_t n, std::mt19937& rng);

}  // namespace colourtest

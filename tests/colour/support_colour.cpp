#include "tests/colour/support_colour.h"

#include <cstdlib>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

namespace colourtest {
namespace {

constexpr DWORD kNoSimd = 0;
constexpr DWORD kUpToSse41 = kCpuSSE2 | kCpuSSSE3 | kCpuSSE41;
constexpr DWORD kUpToAvx2 = kCpuSSE2 | kCpuSSSE3 | kCpuSSE41 | kCpuAVX2;
constexpr DWORD kUpToAvxVnni = kUpToAvx2 | kCpuAVXVNNI;

}  // namespace

std::vector<Variant> Rgb24Variants() {
  return {{"C", kNoSimd, 0},
          {"SSE41", kUpToSse41, kCpuSSSE3 | kCpuSSE41},
          {"AVX2", kUpToAvx2, kCpuAVX2},
          {"AVXVNNI", kUpToAvxVnni, kCpuAVX2 | kCpuAVXVNNI},
          {"AVX512", kCpuAllFeatures, kCpuAVX512BW | kCpuAVX512VBMI | kCpuAVX512VNNI}};
}

std::vector<Variant> Rgb32Variants() { return Rgb24Variants(); }

std::vector<Variant> YuvVariants() {
  return {{"C", kNoSimd, 0},
          {"SSE41", kUpToSse41, kCpuSSSE3 | kCpuSSE41},
          {"AVX2", kUpToAvx2, kCpuAVX2},
          {"AVX512", kCpuAllFeatures, kCpuAVX512BW | kCpuAVX512VBMI}};
}

std::string VariantName(const testing::TestParamInfo<Variant>& info) { return info.param.name; }

void PrintTo(const Variant& v, std::ostream* os) { *os << v.name; }

ForcedVariant::ForcedVariant(const Variant& v)
    : available_((PlenorCpuDetected() & v.required) == v.required) {
  PlenorSetCpuMask(v.mask);
}

ForcedVariant::~ForcedVariant() { PlenorSetCpuMask(kCpuAllFeatures); }

bool QuickMode() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(__OPTIMIZE__)
  return true;
#else
  const char* quick = std::getenv("PLENOR_TEST_QUICK");
  return quick && *quick && std::strcmp(quick, "0") != 0;
#endif
}

GuardedBuffer::GuardedBuffer(std::size_t size) : size_(size) {
  const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t dataPages = (size + page - 1) / page;
  mapSize_ = (dataPages + 1) * page;
  map_ = ::mmap(nullptr, mapSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map_ == MAP_FAILED) {
    map_ = nullptr;
    ADD_FAILURE() << "mmap failed";
    return;
  }
  auto* base = static_cast<std::uint8_t*>(map_);
  if (::mprotect(base + dataPages * page, page, PROT_NONE) != 0)
    ADD_FAILURE() << "mprotect failed";
  data_ = base + dataPages * page - size;
}

GuardedBuffer::~GuardedBuffer() {
  if (map_)
    ::munmap(map_, mapSize_);
}

void FillRandom(std::uint8_t* bytes, std::size_t n, std::mt19937& rng) {
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const std::uint32_t r = rng();
    std::memcpy(bytes + i, &r, 4);
  }
  for (; i < n; ++i)
    bytes[i] = static_cast<std::uint8_t>(rng());
}

void FillRandom(std::vector<std::uint8_t>& bytes, std::mt19937& rng) {
  FillRandom(bytes.data(), bytes.size(), rng);
}

long FirstDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size())
    return 0;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i])
      return static_cast<long>(i);
  return -1;
}

}  // namespace colourtest

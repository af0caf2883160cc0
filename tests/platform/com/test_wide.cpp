// The portable 128-bit forms (used where the compiler has no 128-bit type, as on 32-bit x86) give
// exactly what native 128-bit arithmetic gives, saturating where the native product would wrap.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/com/wide.h"

namespace {

using plenor::UWide;
namespace portable = plenor::portable;

bool Same(UWide a, UWide b) { return a.hi == b.hi && a.lo == b.lo; }

TEST(WideArithmetic, ProductsSumsAndQuotientsAgreeWithTheKnownValues) {
  // Fixed values, so the portable forms are checked on every target.
  const UWide p = portable::Mul(~uint64_t{0}, ~uint64_t{0});
  EXPECT_TRUE(Same(p, UWide{~uint64_t{0} - 1, 1}));
  EXPECT_TRUE(Same(portable::MulSat(UWide{1, 0}, ~uint64_t{0}), UWide{~uint64_t{0}, 0}));
  EXPECT_TRUE(Same(portable::MulSat(UWide{~uint64_t{0}, 0}, 2), portable::kWideMax));
  EXPECT_TRUE(Same(portable::AddSat(UWide{0, ~uint64_t{0}}, 1), UWide{1, 0}));
  EXPECT_TRUE(Same(portable::AddSat(portable::kWideMax, 1), portable::kWideMax));
  EXPECT_TRUE(Same(portable::Div(p, UWide{0, ~uint64_t{0}}), UWide{0, ~uint64_t{0}}));
  EXPECT_TRUE(Same(portable::Div(UWide{1, 0}, UWide{0, 3}), UWide{0, 0x5555555555555555u}));
  EXPECT_TRUE(Same(portable::Div(UWide{5, 7}, UWide{5, 8}), UWide{0, 0}));
  EXPECT_EQ(plenor::NarrowOr(UWide{1, 0}, 99), 99u);
  EXPECT_EQ(plenor::NarrowOr(UWide{0, 100}, 99), 99u);
  EXPECT_EQ(plenor::NarrowOr(UWide{0, 98}, 99), 98u);
}

#if defined(__SIZEOF_INT128__)
std::vector<uint64_t> Operands() {
  std::vector<uint64_t> v = {0, 1, 2, 3, 10000000, 0xFFFFFFFFu, 0x100000000u, 0x7FFFFFFFFFFFFFFFu,
                             0x8000000000000000u, ~uint64_t{0}, ~uint64_t{0} - 1};
  std::mt19937_64 rng(42);
  for (int i = 0; i < 60; ++i) {
    const int bits = 1 + static_cast<int>(rng() % 64);
    v.push_back(bits == 64 ? rng() : rng() & ((uint64_t{1} << bits) - 1));
  }
  return v;
}

TEST(WideArithmetic, PortableFormsEqualNativeOnes) {
  namespace native = plenor::native;
  const std::vector<uint64_t> ops = Operands();
  for (uint64_t a : ops)
    for (uint64_t b : ops) {
      const UWide m = portable::Mul(a, b);
      ASSERT_TRUE(Same(m, native::Mul(a, b))) << a << " x " << b;
      for (uint64_t c : {uint64_t{0}, uint64_t{7}, b, ~uint64_t{0}}) {
        ASSERT_TRUE(Same(portable::MulSat(m, c), native::MulSat(m, c))) << a << " x " << b << " x " << c;
        ASSERT_TRUE(Same(portable::AddSat(m, c), native::AddSat(m, c))) << a << " x " << b << " + " << c;
      }
      for (uint64_t d : {uint64_t{1}, uint64_t{3}, uint64_t{10000000}, a | 1, b | 1}) {
        ASSERT_TRUE(Same(portable::Div(m, UWide{0, d}), native::Div(m, UWide{0, d}))) << a << " x " << b << " / " << d;
        const UWide wd = portable::Mul(d, (a >> 17) | 1);
        ASSERT_TRUE(Same(portable::Div(m, wd), native::Div(m, wd))) << a << " x " << b << " / wide";
      }
    }
}
#endif

}  // namespace

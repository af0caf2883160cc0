#pragma once
// Unsigned 128-bit products and quotients for time and size arithmetic whose 64-bit forms would
// overflow (frame n of a stream at rate num/den in 100 ns units, sample positions). Targets without
// a native 128-bit type (32-bit x86) use the portable forms; tests prove both give the same values.
#include <cstdint>

namespace plenor {

struct UWide {
  uint64_t hi = 0, lo = 0;
};

namespace portable {

// a x b, exact.
inline UWide Mul(uint64_t a, uint64_t b) {
  const uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
  const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
  UWide r;
  r.lo = (mid << 32) | (p00 & 0xFFFFFFFFu);
  r.hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
  return r;
}

constexpr UWide kWideMax{~uint64_t{0}, ~uint64_t{0}};

// a x b, or the largest value when the product does not fit 128 bits.
inline UWide MulSat(UWide a, uint64_t b) {
  const UWide low = Mul(a.lo, b), high = Mul(a.hi, b);
  if (high.hi != 0) return kWideMax;
  const uint64_t hi = low.hi + high.lo;
  if (hi < low.hi) return kWideMax;
  return {hi, low.lo};
}

// a + b, or the largest value on overflow.
inline UWide AddSat(UWide a, uint64_t b) {
  UWide r{a.hi, a.lo + b};
  if (r.lo < a.lo && ++r.hi == 0) return kWideMax;
  return r;
}

// n / d rounded down; d must not be zero.
inline UWide Div(UWide n, UWide d) {
  if (d.hi == 0 && n.hi == 0) return {0, n.lo / d.lo};
  UWide q, r;
  for (int bit = 127; bit >= 0; --bit) {
    // r = r << 1 | bit of n
    r.hi = (r.hi << 1) | (r.lo >> 63);
    r.lo = (r.lo << 1) | ((bit >= 64 ? n.hi >> (bit - 64) : n.lo >> bit) & 1u);
    if (r.hi > d.hi || (r.hi == d.hi && r.lo >= d.lo)) {
      const uint64_t borrow = r.lo < d.lo ? 1 : 0;
      r.lo -= d.lo;
      r.hi -= d.hi + borrow;
      if (bit >= 64) q.hi |= uint64_t{1} << (bit - 64);
      else q.lo |= uint64_t{1} << bit;
    }
  }
  return q;
}

}  // namespace portable

#if defined(__SIZEOF_INT128__)
namespace native {
using U = unsigned __int128;
inline U To(UWide a) { return (static_cast<U>(a.hi) << 64) | a.lo; }
inline UWide From(U a) { return {static_cast<uint64_t>(a >> 64), static_cast<uint64_t>(a)}; }
inline UWide Mul(uint64_t a, uint64_t b) { return From(static_cast<U>(a) * b); }
inline UWide MulSat(UWide a, uint64_t b) {
  const U x = To(a);
  if (b != 0 && x > ~U{0} / b) return portable::kWideMax;
  return From(x * b);
}
inline UWide AddSat(UWide a, uint64_t b) {
  const U x = To(a) + b;
  return x < To(a) ? portable::kWideMax : From(x);
}
inline UWide Div(UWide n, UWide d) { return From(To(n) / To(d)); }
}  // namespace native
namespace wide = native;
#else
namespace wide = portable;
#endif

// The value if it fits 64 bits, otherwise `cap`.
inline uint64_t NarrowOr(UWide a, uint64_t cap) { return a.hi != 0 || a.lo > cap ? cap : a.lo; }

}  // namespace plenor

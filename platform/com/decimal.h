// Decimal text to an integer, the one rule every parameter, persisted value and page field of the
// suite reads numbers by: leading white space, an optional sign, then decimal digits up to the
// first other character; text without digits gives 0; a value outside the integer type's range
// is clamped to the nearest end of it ("2147483648" gives INT_MAX for an int, "-1" gives 0 for an
// unsigned). Works on narrow and wide text; null text gives 0.
#pragma once

#include <limits>
#include <string_view>
#include <type_traits>

namespace plenor {

template <class T, class Char>
T ClampedDecimal(std::basic_string_view<Char> text) {
  static_assert(std::is_integral_v<T> && sizeof(T) <= 8);
  size_t i = 0;
  auto blank = [](Char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < text.size() && blank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  // Magnitudes up to 2^64 - 1 are exact; more digits only keep it saturated.
  unsigned long long magnitude = 0;
  bool saturated = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (magnitude > (std::numeric_limits<unsigned long long>::max() - digit) / 10)
      saturated = true;
    else
      magnitude = magnitude * 10 + digit;
  }
  using Limits = std::numeric_limits<T>;
  if (negative) {
    if (magnitude == 0) return 0;
    if constexpr (std::is_unsigned_v<T>) {
      return 0;
    } else {
      const unsigned long long lowest = static_cast<unsigned long long>(-(Limits::min() + 1)) + 1;
      if (saturated || magnitude >= lowest) return Limits::min();
      return static_cast<T>(-static_cast<long long>(magnitude));
    }
  }
  if (saturated || magnitude > static_cast<unsigned long long>(Limits::max())) return Limits::max();
  return static_cast<T>(magnitude);
}

template <class T, class Char>
T ClampedDecimal(const Char* text) {
  return text ? ClampedDecimal<T>(std::basic_string_view<Char>(text)) : T{0};
}

}  // namespace plenor

#include "sources/rawframe/yuvfilename.h"

#include <climits>

#include "platform/com/decimal.h"

namespace rawframe {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal value of a digit run, saturating at INT_MAX.
int DigitsValue(std::string_view digits) {
  long long v = 0;
  for (char c : digits) {
    v = v * 10 + (c - '0');
    if (v > INT_MAX) return INT_MAX;
  }
  return static_cast<int>(v);
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

YuvNameInfo ParseYuvFileName(std::string_view name) {
  YuvNameInfo info;
  info.is444 = name.find("444") != std::string_view::npos;

  std::string lower(name);
  for (char& c : lower) c = Lower(c);

  if (lower.find("qcif") != std::string::npos) {
    info.hasSize = true;
    info.width = 176;
    info.height = 144;
    return info;
  }
  if (lower.find("cif") != std::string::npos) {
    info.hasSize = true;
    info.width = 352;
    info.height = 288;
    return info;
  }

  for (size_t x = lower.find('x'); x != std::string::npos; x = lower.find('x', x + 1)) {
    size_t before = x;
    while (before > 0 && IsDigit(lower[before - 1])) --before;
    size_t after = x + 1;
    while (after < lower.size() && IsDigit(lower[after])) ++after;
    if (before == x || after == x + 1) continue;
    std::string_view w = std::string_view(lower).substr(before, x - before);
    std::string_view h = std::string_view(lower).substr(x + 1, after - x - 1);
    info.hasSize = true;
    info.width = DigitsValue(w);
    info.height = DigitsValue(h);
    info.dimensionsText.reserve(w.size() + 1 + h.size());
    info.dimensionsText.append(w).append("x").append(h);
    return info;
  }
  return info;
}

bool ParseDimensions(std::string_view text, int* width, int* height) {
  size_t x = text.find('x');
  if (x == std::string_view::npos) return false;
  *width = plenor::ClampedDecimal<int>(text.substr(0, x));
  *height = plenor::ClampedDecimal<int>(text.substr(x + 1));
  return true;
}

}  // namespace rawframe

// UTF-8 <-> wide conversion shared by the code-page functions, BSTR helpers and the registry.
#include "platform/com/textconv.h"

#include <cstdint>

namespace plenor {

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

bool IsScalar(std::uint32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

}  // namespace

bool DecodeUtf8(std::string_view in, std::wstring* out, bool strict) {
  std::wstring result;
  result.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    auto b0 = static_cast<unsigned char>(in[i]);
    if (b0 < 0x80) {
      result.push_back(static_cast<wchar_t>(b0));
      ++i;
      continue;
    }
    size_t len;
    std::uint32_t cp;
    std::uint32_t minimum;
    if ((b0 & 0xE0) == 0xC0) {
      len = 2, cp = b0 & 0x1F, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      len = 3, cp = b0 & 0x0F, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      len = 4, cp = b0 & 0x07, minimum = 0x10000;
    } else {
      len = 0, cp = 0, minimum = 0;
    }
    size_t j = 1;
    if (len) {
      for (; j < len && i + j < in.size(); ++j) {
        auto b = static_cast<unsigned char>(in[i + j]);
        if ((b & 0xC0) != 0x80) break;
        cp = cp << 6 | (b & 0x3F);
      }
    }
    if (len == 0 || j != len || cp < minimum || !IsScalar(cp)) {
      if (strict) return false;
      result.push_back(kReplacement);
      i += j;  // skip the lead byte and the continuation bytes consumed so far
      continue;
    }
    result.push_back(static_cast<wchar_t>(cp));
    i += len;
  }
  *out = std::move(result);
  return true;
}

void EncodeUtf8(std::wstring_view in, std::string* out) {
  std::string result;
  result.reserve(in.size());
  for (wchar_t wc : in) {
    auto c = static_cast<std::uint32_t>(wc);
    if (!IsScalar(c)) c = kReplacement;
    if (c < 0x80) {
      result.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      result.push_back(static_cast<char>(0xC0 | c >> 6));
      result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      result.push_back(static_cast<char>(0xE0 | c >> 12));
      result.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      result.push_back(static_cast<char>(0xF0 | c >> 18));
      result.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  *out = std::move(result);
}

}  // namespace plenor

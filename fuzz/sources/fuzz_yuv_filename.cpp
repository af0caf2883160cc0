// Fuzz target of the raw YUV source's file-name rules and "WxH" parsing: any bytes are a name;
// the result must agree with what the name holds, and a size taken from digits must read back
// the same through the "sourcedimensions" parser.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sources/rawframe/yuvfilename.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace rawframe;
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  const YuvNameInfo info = ParseYuvFileName(name);

  if (info.is444 != (name.find("444") != std::string_view::npos)) std::abort();
  if (!info.hasSize) {
    if (!info.dimensionsText.empty()) std::abort();
  } else {
    if (info.width < 0 || info.height < 0) std::abort();
    if (!info.dimensionsText.empty()) {
      // Digits, one "x", digits; the same numbers come back from the parameter's parser.
      const size_t x = info.dimensionsText.find('x');
      if (x == 0 || x == std::string::npos || x + 1 >= info.dimensionsText.size()) std::abort();
      if (info.dimensionsText.find_first_not_of("0123456789x") != std::string::npos) std::abort();
      if (info.dimensionsText.find('x', x + 1) != std::string::npos) std::abort();
      int w = -1, h = -1;
      if (!ParseDimensions(info.dimensionsText, &w, &h) || w != info.width || h != info.height) std::abort();
    } else if (!((info.width == 176 && info.height == 144) || (info.width == 352 && info.height == 288))) {
      std::abort();
    }
  }

  int w = 0, h = 0;
  if (ParseDimensions(name, &w, &h) != (name.find('x') != std::string_view::npos)) std::abort();
  return 0;
}

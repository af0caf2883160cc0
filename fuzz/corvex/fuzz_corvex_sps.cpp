// Walks any bytes as a start-code stream and reads every unit of type 7 as a sequence parameter
// set; a successful read must give a size within what the reader allows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "corvex/sps.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t nOffset = 0, nUnit = 0, nLength = 0;
  while (corvex::NextNalUnit(data, size, &nOffset, &nUnit, &nLength)) {
    if (nUnit + nLength > size) std::abort();
    if (nLength > 0 && (data[nUnit] & 0x1F) == 7) {
      corvex::SpsInfo info;
      if (corvex::ParseSps(data + nUnit, nLength, &info) &&
          (info.nWidth <= 0 || info.nHeight <= 0 || info.nWidth > 16384 || info.nHeight > 32768)) {
        std::abort();
      }
    }
  }
  return 0;
}

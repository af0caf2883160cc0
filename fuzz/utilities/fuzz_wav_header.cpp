// Fuzz target of the WAV header parser: any bytes must parse without reading outside the input,
// and an accepted header must describe samples that lie inside the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "utilities/wavfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace plenor::wav;
  MemoryReader reader({data, size});
  Layout layout;
  std::string message;
  Status status = Parse(reader, &layout, &message);
  if (status != Status::Ok) {
    if (message.empty()) std::abort();  // every refusal says why
    return 0;
  }
  const Format& f = layout.format;
  if (f.channels == 0 || f.sampleRate == 0 || (f.bitsPerSample != 8 && f.bitsPerSample != 16)) std::abort();
  if (f.blockAlign != f.channels * (f.bitsPerSample / 8)) std::abort();
  if (layout.dataSize % f.blockAlign != 0) std::abort();
  if (layout.dataOffset > size || layout.dataSize > size - layout.dataOffset) std::abort();
  // A canonical header for the same format parses back to it.
  auto header = MakeHeader(f, 0);
  MemoryReader again({header.data(), header.size()});
  Layout reparsed;
  if (Parse(again, &reparsed, &message) != Status::Ok || reparsed.format.channels != f.channels ||
      reparsed.format.sampleRate != f.sampleRate || reparsed.format.bitsPerSample != f.bitsPerSample)
    std::abort();
  return 0;
}

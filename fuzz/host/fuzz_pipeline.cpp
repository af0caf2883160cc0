// The pipeline syntax of plenor run and plenor graph save (host/pipeline.cpp): the input is split
// at NUL bytes into the command-line words the parser receives.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/pipeline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) words.emplace_back();
    else words.back() += static_cast<char>(data[i]);
  }
  cli::Pipeline pipeline;
  std::string error;
  if (cli::ParsePipeline(words, &pipeline, &error)) {
    // Every link joins two elements that exist.
    for (const auto& link : pipeline.links)
      if (link.from < 0 || link.to < 0 || static_cast<size_t>(link.from) >= pipeline.elements.size() ||
          static_cast<size_t>(link.to) >= pipeline.elements.size())
        __builtin_trap();
  }
  return 0;
}

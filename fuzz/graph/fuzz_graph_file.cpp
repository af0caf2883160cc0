// Fuzz target of the graph-file reader: any bytes are either refused with a reason or accepted as
// a graph whose written form reads back to the same graph (and writes the same text again).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/graph/graphfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace plenor::graph;
  std::string text(reinterpret_cast<const char*>(data), size);
  GraphFile file;
  std::string error;
  if (!ParseGraphFile(text, &file, &error)) {
    if (error.empty() || !file.filters.empty() || !file.connections.empty()) std::abort();
    return 0;
  }
  if (file.filters.empty()) std::abort();
  const std::string written = WriteGraphFile(file);
  GraphFile again;
  if (!ParseGraphFile(written, &again, &error)) std::abort();
  if (WriteGraphFile(again) != written) std::abort();
  if (again.filters.size() != file.filters.size() || again.connections.size() != file.connections.size()) std::abort();
  for (size_t i = 0; i < file.filters.size(); ++i)
    if (again.filters[i].persist != file.filters[i].persist || again.filters[i].parameters != file.filters[i].parameters)
      std::abort();
  for (size_t i = 0; i < file.connections.size(); ++i)
    if (again.connections[i].mediaType.format != file.connections[i].mediaType.format) std::abort();
  return 0;
}

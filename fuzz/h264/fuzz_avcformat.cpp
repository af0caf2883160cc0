// Feeds arbitrary bytes to every reader of the H.264 layouts: as a format block with a trailer,
// as a sequence header, as a length-prefixed sample and as a coded picture in start-code form.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "h264/common/avcformat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const h264::Bytes bytes(data, size);
  const h264::TrailerSets sets = h264::ReadTrailer(bytes, size > 0 ? data[0] % 100 : 0);
  if (sets.state == h264::TrailerState::Found && (sets.sps.size() < 4 || sets.pps.size() < 5)) __builtin_trap();
  h264::TrailerLength(bytes, 88);
  std::vector<uint8_t> sps, pps;
  h264::ReadSequenceHeader(bytes, &sps, &pps, nullptr);
  std::vector<uint8_t> copy(data, data + size);
  size_t fault = 0;
  h264::LengthPrefixesToStartCodes(copy, &fault);
  copy.assign(data, data + size);
  if (h264::StartsWithStartCode(copy)) h264::StartCodesToLengthPrefixes(copy);
  if (copy.size() != size) __builtin_trap();
  return 0;
}

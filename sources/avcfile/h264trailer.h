// The parameter-set trailer that follows the VIDEOINFOHEADER of the suite's own H.264 media type
// (MEDIASUBTYPE_PLENOR_H264): the SPS exactly as in the stream (start code included), the PPS,
// then a little-endian 32-bit count of the bytes appended, trailer included (SPS length + PPS
// length + 4). With both sets empty only four zero bytes follow. A reader finds the sets by
// reading the last four bytes of the format block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/com/wintypes.h"

namespace h264trailer {

inline size_t TrailerSize(size_t spsLength, size_t ppsLength) { return spsLength + ppsLength + 4; }

// Writes the trailer of TrailerSize bytes at out.
inline void WriteTrailer(BYTE* out, const std::vector<BYTE>& sps, const std::vector<BYTE>& pps) {
  if (!sps.empty()) std::memcpy(out, sps.data(), sps.size());
  if (!pps.empty()) std::memcpy(out + sps.size(), pps.data(), pps.size());
  const uint32_t count = sps.empty() && pps.empty() ? 0 : static_cast<uint32_t>(TrailerSize(sps.size(), pps.size()));
  BYTE* tail = out + sps.size() + pps.size();
  for (int i = 0; i < 4; ++i) tail[i] = static_cast<BYTE>(count >> (8 * i));
}

}  // namespace h264trailer

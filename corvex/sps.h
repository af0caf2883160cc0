// Reading the picture size out of an H.264 sequence parameter set.
//
// The codec needs the size before the decoder underneath has seen a picture: a caller that left
// "width" and "height" at 0 learns them from the SPS, and a caller that set them must not be
// handed pictures of another size than the buffers it made. The bytes come from streams and
// format blocks, so every read is bounded by the unit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvex {

struct SpsInfo {
  int nWidth = 0;   // displayed (cropped) width in pixels
  int nHeight = 0;  // displayed (cropped) height in pixels
  int nProfile = 0;
  int nLevel = 0;
  int nChromaFormat = 1;  // 0 monochrome, 1 4:2:0, 2 4:2:2, 3 4:4:4
  int nBitDepth = 8;
};

// pUnit/nLength: one NAL unit without its start code, beginning with the NAL header byte (type 7).
// Returns false for anything that is not a complete, readable SPS.
bool ParseSps(const uint8_t* pUnit, size_t nLength, SpsInfo* pInfo);

// Start-code walk over a byte stream: finds the next NAL unit at or after *pnOffset. On success
// *pnUnit is the offset of the unit's header byte, *pnUnitLength its length up to the next start
// code (or the end) and *pnOffset the position to continue from. Both 3- and 4-byte start codes
// are recognised.
bool NextNalUnit(const uint8_t* pData, size_t nLength, size_t* pnOffset, size_t* pnUnit,
                 size_t* pnUnitLength);

}  // namespace corvex

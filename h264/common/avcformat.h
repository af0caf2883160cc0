// The H.264 stream and format-block layouts the suite's encoder writes and its decoder and file
// source read, in one place:
//
// - NAL unit framing: start codes (00 00 00 01 before every unit, the byte stream form) and
//   4-byte big-endian length prefixes (the AVC1 form), converted in place either way.
// - The parameter-set trailer of MEDIASUBTYPE_PLENOR_H264 (and MEDIASUBTYPE_H264 with a
//   VIDEOINFOHEADER): the format block is followed by the SPS and the PPS, each with its start
//   code, and a little-endian 32-bit count of the bytes appended, the count itself included
//   (SPS length + PPS length + 4). A reader finds the parameter sets from the last 4 bytes.
// - The MPEG2VIDEOINFO sequence header of MEDIASUBTYPE_AVC1: each parameter set without its
//   start code, preceded by its length as a 2-byte big-endian number.
//
// Every reader is bounded by the bytes it is given: a length that runs past the end is reported,
// never followed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace h264 {

using Bytes = std::span<const uint8_t>;

// biCompression of the encoder's output types: the FOURCC 'avc1'.
constexpr uint32_t kAvc1FourCC = 0x31637661;
constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
// NAL unit types (low 5 bits of the unit's first byte).
constexpr int kNalSps = 7;
constexpr int kNalPps = 8;

// True when the bytes begin with 00 00 00 01.
bool StartsWithStartCode(Bytes data);

// Start codes to length prefixes, in place on a coded picture that begins with a start code:
// every 00 00 00 01 standing at offset 0 or between offset 4 and size - 4 starts a unit, and its
// four bytes are overwritten with the unit's length (up to the next start, or to the end) as a
// big-endian 32-bit number. The size does not change. Only 4-byte start codes are recognised.
// No allocation.
void StartCodesToLengthPrefixes(std::span<uint8_t> data);

// Length prefixes to start codes, in place: from offset 0, the 4-byte big-endian length L
// standing there is replaced by 00 00 00 01 and the walk moves on by 4 + L, until the end.
// Returns false (the units before the fault converted, the rest untouched) when a length field
// does not fit in the bytes left or a length runs past the end; *faultOffset then gives the
// offset of that field.
bool LengthPrefixesToStartCodes(std::span<uint8_t> data, size_t* faultOffset);

// ---------------------------------------------------------------------------------------------
// Parameter-set trailer.

// Appends sps, pps and the 4-byte count (sps.size() + pps.size() + 4) to block. With both empty,
// only a count of 0 is appended.
void AppendTrailer(std::vector<uint8_t>& block, Bytes sps, Bytes pps);

enum class TrailerState {
  Empty,       // the count is 0: no parameter sets carried
  Unreadable,  // the count is larger than the bytes after the fixed part, or the bytes do not
               // begin with a start code, or no second start code leaves a PPS of 5 bytes or more
  Found,
};
struct TrailerSets {
  TrailerState state = TrailerState::Empty;
  Bytes sps;  // with its start code
  Bytes pps;  // with its start code
};
// Reads the trailer of a format block whose fixed part (the VIDEOINFOHEADER) is fixedSize bytes.
// The SPS is everything up to the first start code found at offsets 4 to T - 9 of the T appended
// bytes; the PPS runs from there to the count. A block shorter than fixedSize + 4 is Unreadable.
TrailerSets ReadTrailer(Bytes block, size_t fixedSize);
// The count T of a readable trailer (0 when the block is too short or T exceeds what follows
// the fixed part): how many bytes to cut from the block to drop the trailer.
size_t TrailerLength(Bytes block, size_t fixedSize);

// ---------------------------------------------------------------------------------------------
// MPEG2VIDEOINFO sequence header.

// Bytes the sequence header of these parameter sets takes (each given with its start code):
// (sps.size() - 4 + 2) + (pps.size() - 4 + 2); 0 when both are empty.
size_t SequenceHeaderSize(Bytes sps, Bytes pps);
// Writes the sequence header into out (SequenceHeaderSize bytes): each set without its start
// code, led by its 2-byte big-endian length. A set shorter than its start code is skipped.
void WriteSequenceHeader(Bytes sps, Bytes pps, uint8_t* out);
// Walks a sequence header: each entry is a 2-byte big-endian length n and n bytes of NAL unit.
// Units of type 7 replace *sps, type 8 *pps, each stored with a leading start code; other types
// are skipped. False with a reason in *error when an entry runs past the end (the sets found
// before the fault are kept).
bool ReadSequenceHeader(Bytes header, std::vector<uint8_t>* sps, std::vector<uint8_t>* pps, std::string* error);

}  // namespace h264

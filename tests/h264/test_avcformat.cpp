// The shared H.264 layouts: start codes and length prefixes converted in place either way (and
// bounded), the parameter-set trailer written and read back, and the sequence header.
#include <gtest/gtest.h>

#include "h264/common/avcformat.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(AvcFormat, StartCodesBecomeLengthsOfTheirUnits) {
  const struct {
    const char* name;
    Bytes in, out;
  } cases[] = {
      {"one unit", {0, 0, 0, 1, 0x65, 1, 2}, {0, 0, 0, 3, 0x65, 1, 2}},
      {"two units", {0, 0, 0, 1, 0x67, 9, 0, 0, 0, 1, 0x68}, {0, 0, 0, 2, 0x67, 9, 0, 0, 0, 1, 0x68}},
      {"three-byte code is no start", {0, 0, 0, 1, 0x65, 0, 0, 1, 5}, {0, 0, 0, 5, 0x65, 0, 0, 1, 5}},
      {"code at the very end", {0, 0, 0, 1, 0x65, 0, 0, 0, 1}, {0, 0, 0, 1, 0x65, 0, 0, 0, 0}},
      {"bare start code", {0, 0, 0, 1}, {0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data = c.in;
    h264::StartCodesToLengthPrefixes(data);
    EXPECT_EQ(data, c.out);
    size_t fault = 99;
    ASSERT_TRUE(h264::LengthPrefixesToStartCodes(data, &fault));
    EXPECT_EQ(data, c.in);  // and back
  }
}

TEST(AvcFormat, LengthWalkStopsAtTheEnd) {
  const struct {
    const char* name;
    Bytes in;
    size_t fault;
  } cases[] = {
      {"length past the end", {0, 0, 0, 9, 1, 2}, 0},
      {"huge length", {0xFF, 0xFF, 0xFF, 0xFF, 1}, 0},
      {"cut field after a unit", {0, 0, 0, 1, 7, 0, 0}, 5},
      {"second unit too long", {0, 0, 0, 0, 0, 0, 0, 2, 1}, 4},
      // 4 + length wraps to 0 or 1 in 32-bit arithmetic: the walk must not loop or step back.
      {"length wrapping a 32-bit offset to 0", {0, 0, 0, 1, 7, 0xFF, 0xFF, 0xFF, 0xFC, 1}, 5},
      {"length wrapping a 32-bit offset to 1", {0xFF, 0xFF, 0xFF, 0xFD, 1, 2, 3, 4}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data = c.in;
    size_t fault = 99;
    EXPECT_FALSE(h264::LengthPrefixesToStartCodes(data, &fault));
    EXPECT_EQ(fault, c.fault);
  }
}

TEST(AvcFormat, TrailerRoundTripAndItsReadingRules) {
  const Bytes sps = {0, 0, 0, 1, 0x67, 0x42, 0, 0x14}, pps = {0, 0, 0, 1, 0x68, 0xCE, 0x38};
  Bytes block(88, 0xAB);
  h264::AppendTrailer(block, sps, pps);
  ASSERT_EQ(block.size(), 88 + sps.size() + pps.size() + 4);
  EXPECT_EQ(block.back(), 0);
  EXPECT_EQ(block[block.size() - 4], sps.size() + pps.size() + 4);
  h264::TrailerSets sets = h264::ReadTrailer(block, 88);
  ASSERT_EQ(sets.state, h264::TrailerState::Found);
  EXPECT_EQ(Bytes(sets.sps.begin(), sets.sps.end()), sps);
  EXPECT_EQ(Bytes(sets.pps.begin(), sets.pps.end()), pps);
  EXPECT_EQ(h264::TrailerLength(block, 88), sps.size() + pps.size() + 4);

  Bytes empty(88, 0);
  h264::AppendTrailer(empty, {}, {});
  EXPECT_EQ(empty.size(), 92u);
  EXPECT_EQ(h264::ReadTrailer(empty, 88).state, h264::TrailerState::Empty);
  EXPECT_EQ(h264::ReadTrailer(Bytes(90, 0), 88).state, h264::TrailerState::Unreadable);  // too short
  EXPECT_EQ(h264::TrailerLength(Bytes(90, 0), 88), 0u);
  // Counts near 2^32, which a 32-bit subtraction from the block's end would wrap.
  for (uint8_t top : {0xFF, 0x80}) {
    Bytes huge(120, 0);
    huge.back() = top;
    huge[huge.size() - 4] = 0xF0;
    EXPECT_EQ(h264::ReadTrailer(huge, 88).state, h264::TrailerState::Unreadable);
    EXPECT_EQ(h264::TrailerLength(huge, 88), 0u);
  }
}

TEST(AvcFormat, SequenceHeaderRoundTrip) {
  const Bytes sps = {0, 0, 0, 1, 0x67, 0x42, 0, 0x14}, pps = {0, 0, 0, 1, 0x68, 0xCE, 0x38};
  Bytes header(h264::SequenceHeaderSize(sps, pps));
  ASSERT_EQ(header.size(), sps.size() + pps.size() - 4);
  h264::WriteSequenceHeader(sps, pps, header.data());
  EXPECT_EQ(header, (Bytes{0, 4, 0x67, 0x42, 0, 0x14, 0, 3, 0x68, 0xCE, 0x38}));
  Bytes readSps, readPps;
  std::string error;
  ASSERT_TRUE(h264::ReadSequenceHeader(header, &readSps, &readPps, &error)) << error;
  EXPECT_EQ(readSps, sps);
  EXPECT_EQ(readPps, pps);
  EXPECT_EQ(h264::SequenceHeaderSize({}, {}), 0u);
}

}  // namespace

// The H.264 byte-stream unit reader on streams built by the tests: start-code rules, the search
// window at the end of the data, growth of the read buffer with start codes across its old end,
// the parameter sets and the index, seeking, the cap on one unit, and offsets past 4 GiB.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/com/refcounted.h"
#include "sources/avcfile/nalunitreader.h"
#include "tests/sources/nalunit_builder.h"

namespace {

using avctest::Bytes;
using avctest::Join;
using avctest::MakeUnit;
using Reason = NalUnitReader::StopReason;

ComPtr<IStream> MemoryStream(const Bytes& bytes) {
  ComPtr<IStream> s;
  EXPECT_EQ(CreateStreamOnMemory(bytes.data(), static_cast<ULONG>(bytes.size()), &s), S_OK);
  return s;
}

// Every unit ReadNextUnit gives from the reader's position on.
std::vector<Bytes> ReadAll(NalUnitReader& reader) {
  std::vector<Bytes> units;
  while (reader.ReadNextUnit()) units.emplace_back(reader.Unit(), reader.Unit() + reader.UnitLength());
  return units;
}

std::vector<Bytes> ReadAll(const Bytes& file, NalUnitReader& reader) {
  reader.Open(MemoryStream(file));
  return ReadAll(reader);
}

TEST(NalUnitReader, FiveUnitFileGivesEveryUnitParameterSetsAndAnIndexOfThree) {
  const std::vector<Bytes> units = {MakeUnit(0x67, 12), MakeUnit(0x68, 4), MakeUnit(0x65, 300, 3),
                                    MakeUnit(0x41, 90), MakeUnit(0x41, 70, 3)};
  const Bytes file = Join(units);
  NalUnitReader reader;
  reader.Open(MemoryStream(file));
  ASSERT_TRUE(reader.BuildIndex());
  EXPECT_EQ(reader.SeqParamSet(), units[0]);
  EXPECT_EQ(reader.PicParamSet(), units[1]);
  const uint64_t o2 = units[0].size() + units[1].size();
  const uint64_t o3 = o2 + units[2].size(), o4 = o3 + units[3].size();
  EXPECT_EQ(reader.UnitOffsets(), (std::vector<uint64_t>{o2, o3, o4}));
  EXPECT_EQ(reader.LargestUnit(), units[2].size());
  EXPECT_EQ(reader.LastStop(), Reason::EndOfData);

  reader.Rewind();
  std::vector<int> types;
  std::vector<Bytes> got;
  while (reader.ReadNextUnit()) {
    types.push_back(reader.UnitType());
    got.emplace_back(reader.Unit(), reader.Unit() + reader.UnitLength());
  }
  EXPECT_EQ(got, units);
  EXPECT_EQ(types, (std::vector<int>{7, 8, 5, 1, 1}));
}

TEST(NalUnitReader, StartCodeRulesAndTheSearchWindowAtTheEnd) {
  struct Case {
    const char* name;
    Bytes file;
    std::vector<size_t> lengths;
    Reason stop;
  };
  const std::vector<Case> cases = {
      {"4-byte then 4-byte: the first ends before the second's first 00",
       {0, 0, 0, 1, 0x67, 0xAA, 0xBB, 0, 0, 0, 1, 0x68, 0xCC, 0xDD, 0xEE}, {7, 8}, Reason::EndOfData},
      {"3-byte then 3-byte: the first ends at the second's first 00",
       {0, 0, 1, 0x65, 0xAA, 0, 0, 1, 0x41, 0xBB, 0xCC, 0xDD}, {5, 7}, Reason::EndOfData},
      {"first byte of a 4-byte start code is not examined", {0xFF, 0, 0, 1, 0x65, 0xAA}, {6}, Reason::EndOfData},
      {"no start code at the start", {0, 1, 0, 0, 1, 0x65, 0x77}, {}, Reason::NoStartCode},
      {"three bytes only", {0, 0, 1}, {}, Reason::EndOfData},
      {"empty file", {}, {}, Reason::EndOfData},
      {"start code in the last four bytes starts no unit", {0, 0, 1, 0x65, 0xAA, 0xBB, 0, 0, 1, 0x41}, {10},
       Reason::EndOfData},
      {"start code as the last three bytes", {0, 0, 1, 0x65, 0xAA, 0xBB, 0xCC, 0, 0, 1}, {10}, Reason::EndOfData},
      {"start code five bytes before the end starts a unit", {0, 0, 1, 0x65, 0xAA, 0xBB, 0, 0, 1, 0x41, 0x99},
       {6, 5}, Reason::EndOfData},
      {"a bare start code is a unit", {0, 0, 1, 0, 0, 0, 1, 0x41, 0x42, 0x43}, {3, 7}, Reason::EndOfData},
      {"garbage after a unit's end is part of the unit", {0, 0, 1, 0x65, 0x00, 0x02, 0x00, 0x00, 0x02}, {9},
       Reason::EndOfData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NalUnitReader reader;
    const std::vector<Bytes> units = ReadAll(c.file, reader);
    std::vector<size_t> lengths;
    size_t offset = 0;
    for (const Bytes& u : units) {
      lengths.push_back(u.size());
      EXPECT_TRUE(std::equal(u.begin(), u.end(), c.file.begin() + static_cast<std::ptrdiff_t>(offset)));
      offset += u.size();
    }
    EXPECT_EQ(lengths, c.lengths);
    EXPECT_EQ(reader.LastStop(), c.stop);
  }
}

TEST(NalUnitReader, UnitTypeIsTheByteAfterTheStartCode) {
  struct Case {
    Bytes unit;
    int type;
  };
  const std::vector<Case> cases = {
      {{0, 0, 1, 0x65}, 5},       {{0, 0, 0, 1, 0x65}, 5}, {{0, 0, 1, 0x67, 1}, 7}, {{0, 0, 0, 1, 0x28}, 8},
      {{0xAB, 0, 0, 1, 0x41}, 1}, {{0, 0, 0, 1}, -1},      {{0, 0, 1}, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NalUnitReader::NalUnitType(c.unit.data(), static_cast<uint32_t>(c.unit.size())), c.type)
        << int(c.unit.back());
}

TEST(NalUnitReader, LargeSliceGrowsTheBufferAndComesOutWholeAtEveryGrowthBoundary) {
  // The 5000-byte slice: 1024 -> 2048 -> 4096 -> 8192.
  {
    const std::vector<Bytes> units = {MakeUnit(0x67, 8), MakeUnit(0x68, 4), MakeUnit(0x65, 4995), MakeUnit(0x41, 20)};
    ASSERT_EQ(units[2].size(), 5000u);
    NalUnitReader reader;
    EXPECT_EQ(reader.Capacity(), 1024u);
    EXPECT_EQ(ReadAll(Join(units), reader), units);
    EXPECT_EQ(reader.Capacity(), 8192u);
  }
  // A unit whose following start code lies across the buffer's end (and the search window's
  // end, four bytes before it) before each doubling.
  for (uint32_t boundary : {1024u, 2048u, 4096u}) {
    for (int delta = -7; delta <= 3; ++delta) {
      for (int code : {3, 4}) {
        const size_t length = static_cast<size_t>(static_cast<int>(boundary) + delta);
        SCOPED_TRACE("unit of " + std::to_string(length) + " bytes, next start code of " + std::to_string(code));
        const std::vector<Bytes> units = {MakeUnit(0x65, length - 5, 4, boundary + delta),
                                          MakeUnit(0x41, 40, code, 3), MakeUnit(0x41, 3, code, 4)};
        ASSERT_EQ(units[0].size(), length);
        NalUnitReader reader;
        EXPECT_EQ(ReadAll(Join(units), reader), units);
      }
    }
  }
}

TEST(NalUnitReader, FirstParameterSetsAreKeptAndLaterOnesNeitherCopiedNorIndexed) {
  const std::vector<Bytes> units = {MakeUnit(0x09, 1),       MakeUnit(0x67, 10, 4, 1), MakeUnit(0x68, 3, 4, 2),
                                    MakeUnit(0x65, 50),      MakeUnit(0x67, 11, 4, 7), MakeUnit(0x68, 5, 3, 8),
                                    MakeUnit(0x41, 20, 3)};
  NalUnitReader reader;
  reader.Open(MemoryStream(Join(units)));
  ASSERT_TRUE(reader.BuildIndex());
  EXPECT_EQ(reader.SeqParamSet(), units[1]);
  EXPECT_EQ(reader.PicParamSet(), units[2]);
  // The access unit delimiter, the IDR slice and the last slice.
  const uint64_t o3 = units[0].size() + units[1].size() + units[2].size();
  const uint64_t o6 = o3 + units[3].size() + units[4].size() + units[5].size();
  EXPECT_EQ(reader.UnitOffsets(), (std::vector<uint64_t>{0, o3, o6}));

  // A second file replaces them all; a file without a PPS is not a stream to play.
  reader.Open(MemoryStream(Join({MakeUnit(0x67, 9, 4, 3), MakeUnit(0x65, 9)})));
  EXPECT_FALSE(reader.BuildIndex());
  EXPECT_EQ(reader.SeqParamSet().size(), 14u);
  EXPECT_TRUE(reader.PicParamSet().empty());
  EXPECT_EQ(reader.UnitOffsets().size(), 1u);
}

TEST(NalUnitReader, RewindAndSeekToUnitGoBackToTheUnitAsked) {
  std::vector<Bytes> units = {MakeUnit(0x67, 10), MakeUnit(0x68, 3)};
  for (int n = 0; n < 12; ++n) units.push_back(MakeUnit(n % 4 ? 0x41 : 0x65, 100 + 700 * (n % 3), n % 2 ? 3 : 4, n));
  NalUnitReader reader;
  reader.Open(MemoryStream(Join(units)));
  ASSERT_TRUE(reader.BuildIndex());
  ASSERT_EQ(reader.UnitOffsets().size(), 12u);
  for (size_t k : {11u, 0u, 5u, 5u, 7u, 1u}) {
    SCOPED_TRACE("unit " + std::to_string(k));
    // In the middle of some other unit first, so that held bytes must be dropped.
    reader.Rewind();
    ASSERT_TRUE(reader.ReadNextUnit());
    EXPECT_EQ(Bytes(reader.Unit(), reader.Unit() + reader.UnitLength()), units[0]);
    reader.SeekToUnit(k);
    ASSERT_TRUE(reader.ReadNextUnit());
    EXPECT_EQ(reader.UnitOffset(), reader.UnitOffsets()[k]);
    EXPECT_EQ(Bytes(reader.Unit(), reader.Unit() + reader.UnitLength()), units[k + 2]);
    const std::vector<Bytes> rest = ReadAll(reader);
    EXPECT_EQ(rest.size(), 12 - k - 1);
  }
}

TEST(NalUnitReader, OneUnitIsCappedAndTheReaderStopsWithItsOffset) {
  constexpr uint32_t kCap = 8192;
  const Bytes head = Join({MakeUnit(0x67, 10), MakeUnit(0x68, 3), MakeUnit(0x65, 200)});
  struct Case {
    const char* name;
    Bytes tail;
    bool whole;
  };
  Bytes zeros = MakeUnit(0x41, 0);
  zeros.resize(zeros.size() + 300000, 0);
  const std::vector<Case> cases = {
      // The next start code must begin 5 bytes before the buffer's end at the latest.
      {"longest unit the window finds", Join({MakeUnit(0x41, kCap - 5 - 5), MakeUnit(0x41, 5, 3)}), true},
      {"one byte longer", Join({MakeUnit(0x41, kCap - 5 - 4), MakeUnit(0x41, 5, 3)}), false},
      {"last unit exactly as long as the cap", MakeUnit(0x41, kCap - 5), true},
      {"a megabyte without a start code", MakeUnit(0x41, 1 << 20), false},
      {"a start code followed by zeros", zeros, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NalUnitReader reader(kCap);
    reader.Open(MemoryStream(Join({head, c.tail})));
    EXPECT_TRUE(reader.BuildIndex());
    EXPECT_LE(reader.Capacity(), kCap);
    if (c.whole) {
      EXPECT_EQ(reader.LastStop(), Reason::EndOfData);
      EXPECT_EQ(reader.UnitOffsets().size(), c.tail.size() == kCap ? 2u : 3u);
    } else {
      EXPECT_EQ(reader.LastStop(), Reason::UnitTooLarge);
      EXPECT_EQ(reader.LastStopOffset(), head.size());
      // The units before it stay indexed; the reader keeps refusing, it does not grow.
      EXPECT_EQ(reader.UnitOffsets().size(), 1u);
      EXPECT_FALSE(reader.ReadNextUnit());
      EXPECT_EQ(reader.LastStop(), Reason::UnitTooLarge);
      EXPECT_LE(reader.Capacity(), kCap);
    }
  }
  // The default cap is 64 MiB.
  EXPECT_EQ(NalUnitReader().MaxCapacity(), 64u << 20);
}

// A stream of size bytes computed on the fly: an SPS and a PPS of 8 bytes, then slices of
// unitLength bytes whose header carries the slice's number; every other byte is 0xFF. Reads at
// or past failAt fail.
class VirtualStream : public plenor::RefCounted<IStream> {
 public:
  VirtualStream(uint64_t size, uint64_t unitLength, uint64_t failAt = ~0ull)
      : m_size(size), m_unit(unitLength), m_failAt(failAt) {}

  // The 9-byte head of slice k: 00 00 00 01 41 and k in four 7-bit groups, each with its top
  // bit set (no zeros).
  static void SliceHead(uint64_t k, BYTE* out) {
    const BYTE head[9] = {0, 0, 0, 1, 0x41, BYTE(0x80 | (k >> 21 & 0x7F)), BYTE(0x80 | (k >> 14 & 0x7F)),
                          BYTE(0x80 | (k >> 7 & 0x7F)), BYTE(0x80 | (k & 0x7F))};
    std::memcpy(out, head, 9);
  }
  uint64_t SliceOffset(uint64_t k) const { return 16 + k * m_unit; }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return QueryChain(riid, ppv, IID_IStream); }
  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* pcbRead) override {
    if (pcbRead) *pcbRead = 0;
    if (m_pos + cb > m_failAt) return STG_E_READFAULT;
    const uint64_t n = m_pos >= m_size ? 0 : std::min<uint64_t>(cb, m_size - m_pos);
    BYTE* out = static_cast<BYTE*>(pv);
    std::memset(out, 0xFF, n);
    auto patch = [&](uint64_t at, const BYTE* bytes, size_t len) {
      for (size_t i = 0; i < len; ++i)
        if (at + i >= m_pos && at + i < m_pos + n) out[at + i - m_pos] = bytes[i];
    };
    const BYTE sets[16] = {0, 0, 0, 1, 0x67, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1, 0x68, 0xFF, 0xFF, 0xFF};
    patch(0, sets, 16);
    const uint64_t first = m_pos < 16 ? 0 : (m_pos - 16) / m_unit;
    for (uint64_t k = first; SliceOffset(k) < m_pos + n; ++k) {
      BYTE head[9];
      SliceHead(k, head);
      patch(SliceOffset(k), head, 9);
    }
    m_pos += n;
    if (pcbRead) *pcbRead = static_cast<ULONG>(n);
    return n < cb ? S_FALSE : S_OK;
  }
  STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
  STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override {
    if (origin != STREAM_SEEK_SET || move.QuadPart < 0) return STG_E_INVALIDFUNCTION;
    m_pos = static_cast<uint64_t>(move.QuadPart);
    if (newPosition) newPosition->QuadPart = m_pos;
    return S_OK;
  }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }

 private:
  uint64_t m_size, m_unit, m_failAt;
  uint64_t m_pos = 0;
};

TEST(NalUnitReader, FilesOf4GiBAndMoreAreIndexedAndSoughtWith64BitOffsets) {
  // Slices as long as a 2 MiB buffer can find (capacity - 5): the buffer moves almost nothing
  // per slice, so the 4.3 GB are scanned about once.
  constexpr uint64_t kUnit = (2u << 20) - 5;
  constexpr uint64_t kSlices = ((4ull << 30) + (64u << 20)) / kUnit;
  ComPtr<IStream> stream = ComPtr<IStream>::Attach(new VirtualStream(16 + kSlices * kUnit, kUnit));
  auto* virt = static_cast<VirtualStream*>(stream.Get());
  NalUnitReader reader;
  reader.Open(stream);
  ASSERT_TRUE(reader.BuildIndex());
  EXPECT_EQ(reader.LastStop(), Reason::EndOfData);
  ASSERT_EQ(reader.UnitOffsets().size(), kSlices);
  EXPECT_EQ(reader.UnitOffsets().back(), virt->SliceOffset(kSlices - 1));
  EXPECT_GT(reader.UnitOffsets().back(), 1ull << 32);
  EXPECT_EQ(reader.LargestUnit(), kUnit);

  for (uint64_t k : {kSlices - 1, kSlices - 20, uint64_t{3}}) {
    SCOPED_TRACE("slice " + std::to_string(k));
    reader.SeekToUnit(k);
    ASSERT_TRUE(reader.ReadNextUnit());
    EXPECT_EQ(reader.UnitOffset(), virt->SliceOffset(k));
    EXPECT_EQ(reader.UnitLength(), kUnit);
    BYTE head[9];
    VirtualStream::SliceHead(k, head);
    EXPECT_EQ(std::memcmp(reader.Unit(), head, 9), 0);
  }
}

TEST(NalUnitReader, ReadFailureStopsTheReaderAsAnError) {
  ComPtr<IStream> stream = ComPtr<IStream>::Attach(new VirtualStream(100000, 3000, 40000));
  NalUnitReader reader;
  reader.Open(stream);
  EXPECT_TRUE(reader.BuildIndex());
  EXPECT_EQ(reader.LastStop(), Reason::ReadError);
  // What came before the failure is indexed.
  EXPECT_GE(reader.UnitOffsets().size(), 10u);
  EXPECT_LE(reader.UnitOffsets().back(), 40000u);
}

}  // namespace

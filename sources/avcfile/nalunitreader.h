// NalUnitReader: cuts a file holding an H.264 byte stream (NAL units each led by the start code
// 00 00 01 or 00 00 00 01, nothing else in the file) into NAL units, one unit per ReadNextUnit.
// On loading it also keeps copies of the first sequence and picture parameter sets and indexes
// the file offset of every other unit, so that the source can seek by unit.
//
// A unit is handed out in place from the front of a read buffer that starts at 1024 bytes and
// doubles whenever a unit does not fit (it never shrinks, not even for another file). The buffer
// never grows beyond a cap (64 MiB by default): a unit whose end is not found within that many
// bytes (a damaged file, or one with megabytes of zeros) stops the reader with the reason
// UnitTooLarge and its file offset, instead of growing the buffer without bound.
//
// Offsets are 64-bit: files of 4 GiB and more are read, indexed and sought correctly.
//
// Threads: none of its own and no lock; the owning filter serialises every call.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/com/objidl.h"

class NalUnitReader {
 public:
  static constexpr uint32_t kInitialCapacity = 1024;
  static constexpr uint32_t kDefaultMaxCapacity = 64u << 20;

  // NAL unit types the source looks at.
  static constexpr int kIdrSlice = 5;
  static constexpr int kSeqParamSet = 7;
  static constexpr int kPicParamSet = 8;

  // Why the last ReadNextUnit gave false.
  enum class StopReason {
    None,          // it gave a unit
    NoFile,        // nothing open
    EndOfData,     // at most 3 bytes were left
    NoStartCode,   // the data does not begin with a start code
    UnitTooLarge,  // no next start code within the buffer's cap
    ReadError,     // the file could not be read
    OutOfMemory,   // the grown buffer could not be allocated
  };

  // maxCapacity: the largest the read buffer may grow (rounded down to 1024 x a power of two).
  explicit NalUnitReader(uint32_t maxCapacity = kDefaultMaxCapacity);
  NalUnitReader(const NalUnitReader&) = delete;
  NalUnitReader& operator=(const NalUnitReader&) = delete;

  // Takes the file (read position 0) in place of the one held before; index and parameter sets
  // are those of the old file until BuildIndex runs. Null closes.
  void Open(ComPtr<IStream> file);
  // Closes the file and forgets the index and the parameter sets.
  void Close();
  bool IsOpen() const { return static_cast<bool>(m_file); }

  // Releases the unit delivered last and makes the next one available as Unit()[0 ...
  // UnitLength() - 1], start code included; false at the end of the data, where the data does
  // not begin with a start code, or on a failure (see LastStop).
  bool ReadNextUnit();
  // Back to the start of the file.
  void Rewind();
  // To the unit UnitOffsets()[index]; the caller checks the index.
  void SeekToUnit(size_t index);
  // Reads the whole file from its start: copies the first SPS and the first PPS, indexes every
  // other unit, records the longest unit. True when both parameter sets were found. The reader is
  // left at the end; a failure that stopped the reading stays in LastStop.
  bool BuildIndex();

  const BYTE* Unit() const { return m_pBuffer.get(); }
  uint32_t UnitLength() const { return m_nUnitLength; }
  // File offset of the unit held (of the buffer's first byte).
  uint64_t UnitOffset() const { return m_nBaseOffset; }
  // NAL unit type of the held unit, -1 when it has no byte after its start code.
  int UnitType() const { return NalUnitType(Unit(), m_nUnitLength); }
  // NAL unit type of a start-code-led unit: the byte after the start code AND 0x1F (a 4-byte
  // start code when bytes 1 to 3 are 00 00 01, else 3 bytes); -1 when there is no such byte.
  static int NalUnitType(const BYTE* unit, uint32_t length);

  StopReason LastStop() const { return m_eStop; }
  // File offset of the data the last failure was met at (the start of the unit being read).
  uint64_t LastStopOffset() const { return m_nStopOffset; }

  const std::vector<BYTE>& SeqParamSet() const { return m_vSeqParamSet; }
  const std::vector<BYTE>& PicParamSet() const { return m_vPicParamSet; }
  const std::vector<uint64_t>& UnitOffsets() const { return m_vUnitOffsets; }
  // The longest unit BuildIndex met, parameter sets included.
  uint32_t LargestUnit() const { return m_nLargestUnit; }
  uint32_t Capacity() const { return m_nCapacity; }
  uint32_t MaxCapacity() const { return m_nMaxCapacity; }

 private:
  // Reads up to count bytes into the buffer at m_nFill; sets the end and error flags.
  void Fill(uint32_t count);
  // Back to offset with an empty buffer and the flags cleared.
  void Reposition(uint64_t offset);
  // Doubles the buffer, keeping the held bytes; false (reason set) at the cap or out of memory.
  bool Grow();
  bool Fail(StopReason reason);

  ComPtr<IStream> m_file;
  std::unique_ptr<BYTE[]> m_pBuffer;
  uint32_t m_nCapacity = kInitialCapacity;
  uint32_t m_nMaxCapacity;
  uint32_t m_nFill = 0;
  uint32_t m_nUnitLength = 0;
  uint64_t m_nBaseOffset = 0;
  bool m_bEnd = false;
  bool m_bError = false;

  std::vector<BYTE> m_vSeqParamSet;
  std::vector<BYTE> m_vPicParamSet;
  std::vector<uint64_t> m_vUnitOffsets;
  uint32_t m_nLargestUnit = 0;

  StopReason m_eStop = StopReason::NoFile;
  uint64_t m_nStopOffset = 0;
};

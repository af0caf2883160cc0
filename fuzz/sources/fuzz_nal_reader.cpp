// Fuzz target of the H.264 file source's unit reader: any bytes are a file. Indexing, reading unit
// by unit and seeking to every indexed unit must agree with the bytes: each unit is the file's
// bytes at its offset, led by a start code, the units follow each other without gaps, and the
// read buffer stays within its cap.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "sources/avcfile/nalunitreader.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool LedByStartCode(const BYTE* u, uint32_t length) {
  if (length < 3) return false;
  if (u[0] == 0 && u[1] == 0 && u[2] == 1) return true;
  return length >= 4 && u[1] == 0 && u[2] == 0 && u[3] == 1;
}

// The held unit is the file's bytes at its offset.
void CheckUnit(const NalUnitReader& r, const uint8_t* data, size_t size) {
  Check(r.UnitLength() > 0 && r.UnitOffset() + r.UnitLength() <= size);
  Check(std::memcmp(r.Unit(), data + r.UnitOffset(), r.UnitLength()) == 0);
  Check(LedByStartCode(r.Unit(), r.UnitLength()));
  Check(r.Capacity() <= r.MaxCapacity());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  ComPtr<IStream> stream;
  if (FAILED(CreateStreamOnMemory(data, static_cast<ULONG>(size), &stream))) return 0;
  // A small cap, so that inputs of a few kilobytes reach it.
  NalUnitReader reader(16384);
  reader.Open(stream);
  const bool playable = reader.BuildIndex();
  Check(playable == (!reader.SeqParamSet().empty() && !reader.PicParamSet().empty()));
  if (!reader.SeqParamSet().empty())
    Check(NalUnitReader::NalUnitType(reader.SeqParamSet().data(),
                                     static_cast<uint32_t>(reader.SeqParamSet().size())) == 7);
  if (!reader.PicParamSet().empty())
    Check(NalUnitReader::NalUnitType(reader.PicParamSet().data(),
                                     static_cast<uint32_t>(reader.PicParamSet().size())) == 8);
  const std::vector<uint64_t> index = reader.UnitOffsets();
  for (size_t k = 1; k < index.size(); ++k) Check(index[k - 1] < index[k]);

  // Unit by unit from the start: contiguous, and every non-parameter-set unit is in the index.
  reader.Rewind();
  uint64_t next = 0;
  size_t indexed = 0;
  while (reader.ReadNextUnit()) {
    CheckUnit(reader, data, size);
    Check(reader.UnitOffset() == next);
    next += reader.UnitLength();
    const int type = reader.UnitType();
    if (type != 7 && type != 8) {
      Check(indexed < index.size() && index[indexed] == reader.UnitOffset());
      ++indexed;
    }
  }
  Check(indexed == index.size());
  Check(next == size || reader.LastStop() != NalUnitReader::StopReason::EndOfData || size - next <= 3);

  for (size_t k = 0; k < index.size(); ++k) {
    reader.SeekToUnit(k);
    Check(reader.ReadNextUnit());
    Check(reader.UnitOffset() == index[k]);
    CheckUnit(reader, data, size);
  }
  return 0;
}

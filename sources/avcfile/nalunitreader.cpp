#include "sources/avcfile/nalunitreader.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Length of the start code the data begins with: 4 when bytes 1 to 3 are 00 00 01 (byte 0 is
// not examined), 3 when bytes 0 to 2 are, else 0. The data holds at least 4 bytes.
uint32_t StartCodeLength(const BYTE* p) {
  if (p[1] == 0 && p[2] == 0 && p[3] == 1) return 4;
  if (p[0] == 0 && p[1] == 0 && p[2] == 1) return 3;
  return 0;
}

}  // namespace

NalUnitReader::NalUnitReader(uint32_t maxCapacity) {
  uint32_t cap = kInitialCapacity;
  while (cap <= maxCapacity / 2) cap *= 2;
  m_nMaxCapacity = cap;
}

int NalUnitReader::NalUnitType(const BYTE* unit, uint32_t length) {
  if (!unit || length < 4) return -1;
  const uint32_t header = StartCodeLength(unit) == 4 ? 4 : 3;
  if (length <= header) return -1;
  return unit[header] & 0x1F;
}

void NalUnitReader::Open(ComPtr<IStream> file) {
  m_file = std::move(file);
  if (!m_pBuffer) m_pBuffer = std::make_unique<BYTE[]>(m_nCapacity);
  Reposition(0);
  m_nUnitLength = 0;
  m_eStop = m_file ? StopReason::None : StopReason::NoFile;
}

void NalUnitReader::Close() {
  m_file = nullptr;
  Reposition(0);
  m_nUnitLength = 0;
  m_vSeqParamSet.clear();
  m_vPicParamSet.clear();
  m_vUnitOffsets.clear();
  m_nLargestUnit = 0;
  m_eStop = StopReason::NoFile;
}

void NalUnitReader::Reposition(uint64_t offset) {
  m_nFill = 0;
  m_nBaseOffset = offset;
  m_bEnd = false;
  m_bError = false;
  if (m_file) {
    LARGE_INTEGER move{};
    move.QuadPart = static_cast<LONGLONG>(offset);
    if (FAILED(m_file->Seek(move, STREAM_SEEK_SET, nullptr))) m_bError = true;
  }
}

void NalUnitReader::Rewind() { Reposition(0); }

void NalUnitReader::SeekToUnit(size_t index) {
  if (index < m_vUnitOffsets.size()) Reposition(m_vUnitOffsets[index]);
}

void NalUnitReader::Fill(uint32_t count) {
  if (count == 0 || m_bError) return;
  ULONG got = 0;
  const HRESULT hr = m_file->Read(m_pBuffer.get() + m_nFill, count, &got);
  m_nFill += std::min<uint32_t>(got, count);
  if (FAILED(hr))
    m_bError = true;
  else if (hr == S_FALSE || got < count)
    m_bEnd = true;
}

bool NalUnitReader::Fail(StopReason reason) {
  m_eStop = reason;
  m_nStopOffset = m_nBaseOffset;
  return false;
}

bool NalUnitReader::Grow() {
  if (m_nCapacity > m_nMaxCapacity / 2) {
    // At the cap. A full buffer does not tell whether the file ended with it: one byte more
    // decides between a last unit that fills the buffer exactly and one that is too long.
    BYTE probe = 0;
    ULONG got = 0;
    const HRESULT hr = m_file->Read(&probe, 1, &got);
    if (SUCCEEDED(hr) && got == 0) {
      m_bEnd = true;
      return true;
    }
    if (got > 0) {
      LARGE_INTEGER back{};
      back.QuadPart = -static_cast<LONGLONG>(got);
      m_file->Seek(back, STREAM_SEEK_CUR, nullptr);
    }
    if (FAILED(hr)) {
      m_bError = true;
      return Fail(StopReason::ReadError);
    }
    return Fail(StopReason::UnitTooLarge);
  }
  const uint32_t capacity = m_nCapacity * 2;
  std::unique_ptr<BYTE[]> grown(new (std::nothrow) BYTE[capacity]);
  if (!grown) return Fail(StopReason::OutOfMemory);
  std::memcpy(grown.get(), m_pBuffer.get(), m_nFill);
  m_pBuffer = std::move(grown);
  const uint32_t more = m_nCapacity;
  m_nCapacity = capacity;
  Fill(more);
  return true;
}

bool NalUnitReader::ReadNextUnit() {
  if (!m_file) return Fail(StopReason::NoFile);

  // Release the unit delivered last: the bytes after it move to the buffer's start.
  if (m_nUnitLength > 0 && m_nFill >= m_nUnitLength) {
    std::memmove(m_pBuffer.get(), m_pBuffer.get() + m_nUnitLength, m_nFill - m_nUnitLength);
    m_nBaseOffset += m_nUnitLength;
    m_nFill -= m_nUnitLength;
  }
  m_nUnitLength = 0;

  Fill(m_nCapacity - m_nFill);
  if (m_nFill <= 3) return Fail(m_bError ? StopReason::ReadError : StopReason::EndOfData);

  const uint32_t codeLength = StartCodeLength(m_pBuffer.get());
  if (codeLength == 0) return Fail(StopReason::NoStartCode);

  // The next start code: the first i from codeLength on and below m_nFill - 4 where the bytes
  // are 00 00 01 (a start code within the data's last four bytes does not count). Searched for
  // by its 01 byte at i + 2. After a growth the search goes on from the first position it had
  // not examined, so a start code across the old end of the data is found.
  uint32_t from = codeLength;
  for (;;) {
    const BYTE* const b = m_pBuffer.get();
    if (m_nFill > 4) {
      const uint32_t limit = m_nFill - 4;
      uint32_t i = from;
      while (i < limit) {
        const void* one = std::memchr(b + i + 2, 1, limit - i);
        if (!one) break;
        const uint32_t start = static_cast<uint32_t>(static_cast<const BYTE*>(one) - b) - 2;
        if (b[start] == 0 && b[start + 1] == 0) {
          // A 4-byte start code's first zero is not part of this unit.
          m_nUnitLength = b[start - 1] == 0 ? start - 1 : start;
          m_eStop = StopReason::None;
          return true;
        }
        i = start + 1;
      }
      from = std::max(from, limit);
    }
    if (m_bEnd) {
      // The unit runs to the end of the data.
      m_nUnitLength = m_nFill;
      m_eStop = StopReason::None;
      return true;
    }
    if (m_bError) return Fail(StopReason::ReadError);
    if (!Grow()) return false;
  }
}

bool NalUnitReader::BuildIndex() {
  m_vSeqParamSet.clear();
  m_vPicParamSet.clear();
  m_vUnitOffsets.clear();
  m_nLargestUnit = 0;
  if (!m_file) return Fail(StopReason::NoFile);
  std::unique_ptr<BYTE[]> fresh(new (std::nothrow) BYTE[m_nCapacity]);
  if (!fresh) return Fail(StopReason::OutOfMemory);
  m_pBuffer = std::move(fresh);
  Reposition(0);
  m_nUnitLength = 0;

  try {
    while (ReadNextUnit()) {
      m_nLargestUnit = std::max(m_nLargestUnit, m_nUnitLength);
      const int type = UnitType();
      if (type == kSeqParamSet) {
        if (m_vSeqParamSet.empty()) m_vSeqParamSet.assign(Unit(), Unit() + m_nUnitLength);
      } else if (type == kPicParamSet) {
        if (m_vPicParamSet.empty()) m_vPicParamSet.assign(Unit(), Unit() + m_nUnitLength);
      } else {
        m_vUnitOffsets.push_back(m_nBaseOffset);
      }
    }
  } catch (const std::bad_alloc&) {
    return Fail(StopReason::OutOfMemory);
  }
  return !m_vSeqParamSet.empty() && !m_vPicParamSet.empty();
}

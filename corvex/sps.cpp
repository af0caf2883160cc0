#include "corvex/sps.h"

#include <cstring>
#include <vector>

namespace corvex {
namespace {

// Bit reader over the RBSP (emulation-prevention bytes already removed). Reading past the end
// sets m_bFailed and yields zeros, so a parser checks once at the end.
class BitReader {
 public:
  BitReader(const std::vector<uint8_t>& data) : m_data(data) {}

  uint32_t Bit() {
    if (m_nBit >= m_data.size() * 8) {
      m_bFailed = true;
      return 0;
    }
    const uint32_t b = (m_data[m_nBit / 8] >> (7 - m_nBit % 8)) & 1;
    ++m_nBit;
    return b;
  }
  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | Bit();
    return v;
  }
  // Exp-Golomb unsigned; values above 2^31 - 2 are refused (no field of an SPS gets near).
  uint32_t Ue() {
    int nZeros = 0;
    while (Bit() == 0) {
      if (m_bFailed || ++nZeros > 30) {
        m_bFailed = true;
        return 0;
      }
    }
    return ((1u << nZeros) - 1) + Bits(nZeros);
  }
  int32_t Se() {
    const uint32_t k = Ue();
    return (k & 1) ? static_cast<int32_t>((k + 1) / 2) : -static_cast<int32_t>(k / 2);
  }
  bool Failed() const { return m_bFailed; }

 private:
  const std::vector<uint8_t>& m_data;
  size_t m_nBit = 0;
  bool m_bFailed = false;
};

void SkipScalingList(BitReader& r, int nSize) {
  int nLast = 8;
  int nNext = 8;
  for (int j = 0; j < nSize && !r.Failed(); ++j) {
    if (nNext != 0) nNext = (nLast + r.Se() + 256) % 256;
    nLast = nNext == 0 ? nLast : nNext;
  }
}

bool HasChromaInfo(int nProfile) {
  switch (nProfile) {
    case 100: case 110: case 122: case 244: case 44: case 83:
    case 86: case 118: case 128: case 138: case 139: case 134: case 135:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool ParseSps(const uint8_t* pUnit, size_t nLength, SpsInfo* pInfo) {
  if (pUnit == nullptr || nLength < 4 || (pUnit[0] & 0x1F) != 7) return false;
  // Emulation prevention: 00 00 03 stands for 00 00 in the RBSP.
  std::vector<uint8_t> rbsp;
  rbsp.reserve(nLength);
  int nZeros = 0;
  for (size_t i = 1; i < nLength; ++i) {
    if (nZeros >= 2 && pUnit[i] == 3) {
      nZeros = 0;
      continue;
    }
    nZeros = pUnit[i] == 0 ? nZeros + 1 : 0;
    rbsp.push_back(pUnit[i]);
  }
  BitReader r(rbsp);
  SpsInfo info;
  info.nProfile = static_cast<int>(r.Bits(8));
  r.Bits(8);  // constraint flags
  info.nLevel = static_cast<int>(r.Bits(8));
  if (r.Ue() > 31) return false;  // seq_parameter_set_id
  if (HasChromaInfo(info.nProfile)) {
    info.nChromaFormat = static_cast<int>(r.Ue());
    if (info.nChromaFormat > 3) return false;
    if (info.nChromaFormat == 3) r.Bit();  // separate_colour_plane_flag
    const uint32_t nLumaDepth = r.Ue();
    const uint32_t nChromaDepth = r.Ue();
    if (nLumaDepth > 6 || nChromaDepth > 6) return false;
    info.nBitDepth = static_cast<int>(nLumaDepth) + 8;
    r.Bit();      // qpprime_y_zero_transform_bypass_flag
    if (r.Bit()) {  // seq_scaling_matrix_present_flag
      const int nLists = info.nChromaFormat != 3 ? 8 : 12;
      for (int i = 0; i < nLists && !r.Failed(); ++i) {
        if (r.Bit()) SkipScalingList(r, i < 6 ? 16 : 64);
      }
    }
  }
  if (r.Ue() > 12) return false;  // log2_max_frame_num_minus4
  const uint32_t nPocType = r.Ue();
  if (nPocType == 0) {
    if (r.Ue() > 12) return false;  // log2_max_pic_order_cnt_lsb_minus4
  } else if (nPocType == 1) {
    r.Bit();
    r.Se();
    r.Se();
    const uint32_t nCycle = r.Ue();
    if (nCycle > 255) return false;
    for (uint32_t i = 0; i < nCycle && !r.Failed(); ++i) r.Se();
  } else if (nPocType != 2) {
    return false;
  }
  r.Ue();   // max_num_ref_frames
  r.Bit();  // gaps_in_frame_num_value_allowed_flag
  const uint32_t nWidthMbs = r.Ue() + 1;
  const uint32_t nHeightMapUnits = r.Ue() + 1;
  const uint32_t bFrameMbsOnly = r.Bit();
  if (!bFrameMbsOnly) r.Bit();  // mb_adaptive_frame_field_flag
  r.Bit();                      // direct_8x8_inference_flag
  uint32_t nCropLeft = 0, nCropRight = 0, nCropTop = 0, nCropBottom = 0;
  if (r.Bit()) {
    nCropLeft = r.Ue();
    nCropRight = r.Ue();
    nCropTop = r.Ue();
    nCropBottom = r.Ue();
  }
  if (r.Failed() || nWidthMbs > 1024 || nHeightMapUnits > 1024) return false;
  // Crop units: 4:2:0 halves both directions, 4:2:2 the width only; field coding doubles the
  // vertical unit.
  const uint32_t nSubWidth = (info.nChromaFormat == 1 || info.nChromaFormat == 2) ? 2 : 1;
  const uint32_t nSubHeight = info.nChromaFormat == 1 ? 2 : 1;
  const uint32_t nCropUnitX = info.nChromaFormat == 0 ? 1 : nSubWidth;
  const uint32_t nCropUnitY =
      (info.nChromaFormat == 0 ? 1 : nSubHeight) * (2 - bFrameMbsOnly);
  const uint64_t nFullWidth = uint64_t{nWidthMbs} * 16;
  const uint64_t nFullHeight = uint64_t{nHeightMapUnits} * 16 * (2 - bFrameMbsOnly);
  const uint64_t nCropX = uint64_t{nCropUnitX} * (uint64_t{nCropLeft} + nCropRight);
  const uint64_t nCropY = uint64_t{nCropUnitY} * (uint64_t{nCropTop} + nCropBottom);
  if (nCropX >= nFullWidth || nCropY >= nFullHeight) return false;
  info.nWidth = static_cast<int>(nFullWidth - nCropX);
  info.nHeight = static_cast<int>(nFullHeight - nCropY);
  *pInfo = info;
  return true;
}

namespace {

// Offset of the first 00 00 01 at or after nFrom, or nLength. Looks for the 01 byte with memchr
// (the C library's vectorised search): the walk runs over every byte of each sample decoded.
size_t FindThreeByteStartCode(const uint8_t* pData, size_t nLength, size_t nFrom) {
  size_t q = nFrom + 2;  // where the 01 byte of a start code at nFrom would stand
  while (q < nLength) {
    const void* pHit = std::memchr(pData + q, 1, nLength - q);
    if (pHit == nullptr) break;
    q = static_cast<size_t>(static_cast<const uint8_t*>(pHit) - pData);
    if (pData[q - 1] == 0 && pData[q - 2] == 0) return q - 2;
    ++q;
  }
  return nLength;
}

}  // namespace

bool NextNalUnit(const uint8_t* pData, size_t nLength, size_t* pnOffset, size_t* pnUnit,
                 size_t* pnUnitLength) {
  // Find the start code at or after the offset.
  const size_t i = FindThreeByteStartCode(pData, nLength, *pnOffset);
  const size_t nStart = i < nLength ? i + 3 : nLength;
  if (nStart >= nLength) {
    *pnOffset = nLength;
    return false;
  }
  // The unit runs to the next 00 00 01 (a zero byte in front of it belongs to a 4-byte code).
  size_t nEnd = nLength;
  const size_t j = FindThreeByteStartCode(pData, nLength, nStart);
  if (j < nLength) nEnd = (j > nStart && pData[j - 1] == 0) ? j - 1 : j;
  *pnUnit = nStart;
  *pnUnitLength = nEnd - nStart;
  *pnOffset = nEnd;
  return true;
}

}  // namespace corvex

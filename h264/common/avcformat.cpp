#include "h264/common/avcformat.h"

#include <cstring>

namespace h264 {

namespace {

void PutBigEndian32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

uint32_t GetBigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

uint32_t GetLittleEndian32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

bool IsStartCodeAt(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 1; }

// Offset of the next 4-byte start code at or after from whose first byte lies at most at last,
// or SIZE_MAX. Looks for the 01 byte with memchr (the C library's vectorised search) and checks
// the three zeros before it.
size_t FindStartCode(const uint8_t* data, size_t from, size_t last) {
  size_t q = from + 3;  // where the 01 byte of a start code at from would stand
  const size_t qLast = last + 3;
  while (q <= qLast) {
    const void* hit = std::memchr(data + q, 1, qLast - q + 1);
    if (!hit) return SIZE_MAX;
    q = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
    if (data[q - 1] == 0 && data[q - 2] == 0 && data[q - 3] == 0) return q - 3;
    ++q;
  }
  return SIZE_MAX;
}

}  // namespace

bool StartsWithStartCode(Bytes data) { return data.size() >= 4 && IsStartCodeAt(data.data()); }

void StartCodesToLengthPrefixes(std::span<uint8_t> data) {
  const size_t n = data.size();
  if (n < 4) return;
  uint8_t* p = data.data();
  size_t start = 0;
  while (true) {
    const size_t next = n >= 8 ? FindStartCode(p, start + 4, n - 4) : SIZE_MAX;
    if (next == SIZE_MAX) {
      PutBigEndian32(p + start, static_cast<uint32_t>(n - start - 4));
      return;
    }
    PutBigEndian32(p + start, static_cast<uint32_t>(next - start - 4));
    start = next;
  }
}

bool LengthPrefixesToStartCodes(std::span<uint8_t> data, size_t* faultOffset) {
  const size_t n = data.size();
  uint8_t* p = data.data();
  size_t offset = 0;
  while (offset < n) {
    if (n - offset < 4) {
      if (faultOffset) *faultOffset = offset;
      return false;
    }
    const uint64_t length = GetBigEndian32(p + offset);
    if (length > n - offset - 4) {
      if (faultOffset) *faultOffset = offset;
      return false;
    }
    std::memcpy(p + offset, kStartCode, 4);
    offset += 4 + static_cast<size_t>(length);
  }
  return true;
}

void AppendTrailer(std::vector<uint8_t>& block, Bytes sps, Bytes pps) {
  const size_t appended = sps.empty() && pps.empty() ? 0 : sps.size() + pps.size() + 4;
  block.insert(block.end(), sps.begin(), sps.end());
  block.insert(block.end(), pps.begin(), pps.end());
  const uint8_t count[4] = {static_cast<uint8_t>(appended), static_cast<uint8_t>(appended >> 8),
                            static_cast<uint8_t>(appended >> 16), static_cast<uint8_t>(appended >> 24)};
  block.insert(block.end(), count, count + 4);
}

size_t TrailerLength(Bytes block, size_t fixedSize) {
  if (block.size() < fixedSize + 4) return 0;
  const uint32_t t = GetLittleEndian32(block.data() + block.size() - 4);
  if (t > block.size() - fixedSize) return 0;
  return t;
}

TrailerSets ReadTrailer(Bytes block, size_t fixedSize) {
  TrailerSets sets;
  if (block.size() < fixedSize + 4) {
    sets.state = TrailerState::Unreadable;
    return sets;
  }
  const uint32_t t = GetLittleEndian32(block.data() + block.size() - 4);
  if (t == 0) return sets;
  sets.state = TrailerState::Unreadable;
  if (t > block.size() - fixedSize || t < 13) return sets;  // 4 + a PPS of 5 bytes at least + the count
  const uint8_t* trailer = block.data() + block.size() - t;
  if (!IsStartCodeAt(trailer)) return sets;
  const size_t split = FindStartCode(trailer, 4, t - 9);
  if (split == SIZE_MAX) return sets;
  sets.state = TrailerState::Found;
  sets.sps = Bytes(trailer, split);
  sets.pps = Bytes(trailer + split, t - split - 4);
  return sets;
}

size_t SequenceHeaderSize(Bytes sps, Bytes pps) {
  size_t size = 0;
  if (sps.size() >= 4) size += sps.size() - 2;
  if (pps.size() >= 4) size += pps.size() - 2;
  return size;
}

void WriteSequenceHeader(Bytes sps, Bytes pps, uint8_t* out) {
  for (Bytes set : {sps, pps}) {
    if (set.size() < 4) continue;
    const size_t n = set.size() - 4;
    out[0] = static_cast<uint8_t>(n >> 8);
    out[1] = static_cast<uint8_t>(n);
    std::memcpy(out + 2, set.data() + 4, n);
    out += 2 + n;
  }
}

bool ReadSequenceHeader(Bytes header, std::vector<uint8_t>* sps, std::vector<uint8_t>* pps, std::string* error) {
  size_t offset = 0;
  while (offset < header.size()) {
    if (header.size() - offset < 2) {
      if (error) *error = "a 2-byte length at offset " + std::to_string(offset) + " of the " +
                          std::to_string(header.size()) + "-byte sequence header is cut off";
      return false;
    }
    const size_t n = (size_t{header[offset]} << 8) | header[offset + 1];
    if (n > header.size() - offset - 2) {
      if (error) *error = "the entry at offset " + std::to_string(offset) + " of the " +
                          std::to_string(header.size()) + "-byte sequence header declares " + std::to_string(n) +
                          " bytes, more than remain";
      return false;
    }
    const uint8_t* unit = header.data() + offset + 2;
    if (n > 0) {
      const int type = unit[0] & 0x1F;
      std::vector<uint8_t>* target = type == kNalSps ? sps : type == kNalPps ? pps : nullptr;
      if (target) {
        target->assign(kStartCode, kStartCode + 4);
        target->insert(target->end(), unit, unit + n);
      }
    }
    offset += 2 + n;
  }
  return true;
}

}  // namespace h264

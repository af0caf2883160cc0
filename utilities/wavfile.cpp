#include "utilities/wavfile.h"

#include <algorithm>
#include <cstring>

namespace plenor::wav {

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagExtensible = 0xFFFE;
// The PCM sub-format of an extensible header: {00000001-0000-0010-8000-00AA00389B71} as stored.
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::string TagName(uint16_t tag) {
  switch (tag) {
    case 2: return "2 (ADPCM)";
    case 3: return "3 (IEEE float)";
    case 6: return "6 (A-law)";
    case 7: return "7 (mu-law)";
    case 0x55: return "0x55 (MPEG layer 3)";
    default: return std::to_string(tag);
  }
}

Status ParseFormat(const uint8_t* body, uint32_t size, Format* format, std::string* message) {
  uint16_t tag = Le16(body);
  if (tag == kTagExtensible) {
    // cbSize (offset 16) of at least 22 and the sub-format GUID at offset 24.
    if (size < 40 || Le16(body + 16) < 22) {
      *message = "extensible format chunk is too short";
      return Status::Malformed;
    }
    if (std::memcmp(body + 24, kPcmSubFormat, sizeof kPcmSubFormat) != 0) {
      *message = "extensible format with a sub-format other than PCM is not supported";
      return Status::NotPcm;
    }
  } else if (tag != kTagPcm) {
    *message = "format tag " + TagName(tag) + " is not PCM";
    return Status::NotPcm;
  }
  format->channels = Le16(body + 2);
  format->sampleRate = Le32(body + 4);
  format->blockAlign = Le16(body + 12);
  format->bitsPerSample = Le16(body + 14);
  if (format->bitsPerSample != 8 && format->bitsPerSample != 16) {
    *message = std::to_string(format->bitsPerSample) + "-bit PCM is not supported (8 or 16 bits only)";
    return Status::NotPcm;
  }
  if (format->channels == 0) {
    *message = "the format declares 0 channels";
    return Status::Malformed;
  }
  if (format->sampleRate == 0) {
    *message = "the format declares a sample rate of 0";
    return Status::Malformed;
  }
  uint32_t frameBytes = static_cast<uint32_t>(format->channels) * (format->bitsPerSample / 8u);
  if (frameBytes != format->blockAlign) {
    *message = "block align " + std::to_string(format->blockAlign) + " does not match " +
               std::to_string(format->channels) + " channels of " + std::to_string(format->bitsPerSample) + " bits";
    return Status::Malformed;
  }
  // The byte rate (and the audio type's nAvgBytesPerSec) is a 32-bit field.
  const uint64_t byteRate = static_cast<uint64_t>(format->sampleRate) * frameBytes;
  if (byteRate > 0xFFFFFFFFull) {
    *message = "the sample rate of " + std::to_string(format->sampleRate) + " Hz gives " + std::to_string(byteRate) +
               " bytes a second, more than the 32-bit byte rate of a WAV format can hold";
    return Status::Malformed;
  }
  return Status::Ok;
}

}  // namespace

bool MemoryReader::Read(uint64_t offset, void* dst, size_t n) const {
  if (offset > m_bytes.size() || n > m_bytes.size() - offset) return false;
  if (n) std::memcpy(dst, m_bytes.data() + offset, n);
  return true;
}

Status Parse(const Reader& reader, Layout* layout, std::string* message) {
  *layout = Layout{};
  message->clear();
  const uint64_t fileSize = reader.Size();
  uint8_t head[12];
  if (fileSize < sizeof head) {
    *message = "the file is " + std::to_string(fileSize) + " bytes long, too short for a RIFF header";
    return Status::Truncated;
  }
  if (!reader.Read(0, head, sizeof head)) {
    *message = "cannot read the RIFF header";
    return Status::ReadError;
  }
  if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) {
    *message = "not a RIFF/WAVE file";
    return Status::NotRiff;
  }
  // Chunks are walked up to the end the RIFF chunk declares, but never beyond the file.
  const uint64_t riffEnd = 8ull + Le32(head + 4);
  const uint64_t limit = std::min(riffEnd, fileSize);

  bool haveFormat = false;
  uint64_t offset = sizeof head;
  while (offset < limit) {
    uint8_t chunk[8];
    if (limit - offset < sizeof chunk) {
      *message = "the file ends inside a chunk header at offset " + std::to_string(offset);
      return Status::Truncated;
    }
    if (!reader.Read(offset, chunk, sizeof chunk)) {
      *message = "cannot read the chunk header at offset " + std::to_string(offset);
      return Status::ReadError;
    }
    const uint32_t size = Le32(chunk + 4);
    const uint64_t body = offset + sizeof chunk;
    const uint64_t available = fileSize - body;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (haveFormat) {
        *message = "the file has two fmt chunks";
        return Status::Malformed;
      }
      if (size < 16) {
        *message = "fmt chunk of " + std::to_string(size) + " bytes is too short (16 at least)";
        return Status::Malformed;
      }
      if (size > available) {
        *message = "the file ends inside the fmt chunk";
        return Status::Truncated;
      }
      uint8_t fmt[40] = {};
      const uint32_t take = std::min<uint32_t>(size, sizeof fmt);
      if (!reader.Read(body, fmt, take)) {
        *message = "cannot read the fmt chunk";
        return Status::ReadError;
      }
      Status s = ParseFormat(fmt, take, &layout->format, message);
      if (s != Status::Ok) return s;
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) {
        *message = "the data chunk comes before any fmt chunk";
        return Status::Malformed;
      }
      if (size > available) {
        *message = "the data chunk declares " + std::to_string(size) + " bytes but only " +
                   std::to_string(available) + " follow";
        return Status::Truncated;
      }
      layout->dataOffset = body;
      // A partial sample frame at the end is not played.
      layout->dataSize = size - size % layout->format.blockAlign;
      return Status::Ok;
    }
    if (static_cast<uint64_t>(size) > limit - body) {
      std::string name(reinterpret_cast<const char*>(chunk), 4);
      for (char& c : name)
        if (c < 0x20 || c > 0x7E) c = '?';
      if (static_cast<uint64_t>(size) > available) {
        *message = "the file ends inside the '" + name + "' chunk at offset " + std::to_string(offset);
        return Status::Truncated;
      }
      *message = "the '" + name + "' chunk runs past the end of the RIFF chunk";
      return Status::Malformed;
    }
    // Chunk bodies are padded to an even length.
    offset = body + size + (size & 1u);
  }
  if (!haveFormat) {
    *message = "no fmt chunk";
    return Status::Malformed;
  }
  if (riffEnd > fileSize) {
    *message = "the file ends before its data chunk (the RIFF header declares " + std::to_string(riffEnd) +
               " bytes, the file has " + std::to_string(fileSize) + ")";
    return Status::Truncated;
  }
  *message = "no data chunk";
  return Status::Malformed;
}

std::array<uint8_t, kHeaderSize> MakeHeader(const Format& format, uint64_t dataBytes) {
  dataBytes = std::min(dataBytes, kMaxDataBytes);
  const uint32_t data = static_cast<uint32_t>(dataBytes);
  std::array<uint8_t, kHeaderSize> h{};
  std::memcpy(&h[0], "RIFF", 4);
  Put32(&h[4], 36u + data + (data & 1u));
  std::memcpy(&h[8], "WAVE", 4);
  std::memcpy(&h[12], "fmt ", 4);
  Put32(&h[16], 16);
  Put16(&h[20], kTagPcm);
  Put16(&h[22], format.channels);
  Put32(&h[24], format.sampleRate);
  Put32(&h[28], format.sampleRate * format.blockAlign);
  Put16(&h[32], format.blockAlign);
  Put16(&h[34], format.bitsPerSample);
  std::memcpy(&h[36], "data", 4);
  Put32(&h[40], data);
  return h;
}

}  // namespace plenor::wav

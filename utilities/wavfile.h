// RIFF/WAVE PCM files: the header parser used by WavSource (and its fuzz target) and the header
// writer used by WavWriter. No COM here: the parser reads through a small random-access reader
// so that it runs over files and memory alike.
//
// Every size in a file is untrusted: chunk sizes are checked against the bytes that exist, all
// offsets are computed in 64 bits, and a chunk walk ends at the end of the RIFF chunk or of the
// file, whichever comes first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace plenor::wav {

struct Format {
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint16_t bitsPerSample = 0;  // 8 (unsigned samples) or 16 (signed little-endian)
  uint16_t blockAlign = 0;     // bytes per sample frame = channels x bitsPerSample / 8
};

// Where the samples are: dataSize is a whole number of sample frames.
struct Layout {
  Format format;
  uint64_t dataOffset = 0;
  uint64_t dataSize = 0;
};

enum class Status {
  Ok,
  Truncated,   // the file ends inside the header or before the data its data chunk declares
  NotRiff,     // no "RIFF"/"WAVE" signature
  NotPcm,      // a format other than integer PCM
  Malformed,   // inconsistent or unsupported header values (no fmt or data chunk, bad sizes, ...)
  ReadError,   // the reader failed
};

// Random access to the file's bytes.
class Reader {
 public:
  virtual ~Reader() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly n bytes at offset; false when that is not possible.
  virtual bool Read(uint64_t offset, void* dst, size_t n) const = 0;
};

class MemoryReader final : public Reader {
 public:
  explicit MemoryReader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
  uint64_t Size() const override { return m_bytes.size(); }
  bool Read(uint64_t offset, void* dst, size_t n) const override;

 private:
  std::span<const uint8_t> m_bytes;
};

// Parses the header. On failure *message says what is wrong (without the file name, which the
// caller adds).
Status Parse(const Reader& reader, Layout* layout, std::string* message);

// The 44-byte header of a canonical PCM file with dataBytes of samples. dataBytes larger than a
// RIFF file can describe are clamped to the largest size it can.
constexpr size_t kHeaderSize = 44;
std::array<uint8_t, kHeaderSize> MakeHeader(const Format& format, uint64_t dataBytes);
// The largest payload a RIFF file can hold (the RIFF size field is 32-bit).
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - (kHeaderSize - 8) - 1;

}  // namespace plenor::wav

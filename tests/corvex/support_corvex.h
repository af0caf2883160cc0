// Helpers for the codec library tests: codec instances released by RAII, synthetic RGB24 clips,
// an encoder opened the way the suite's filters open one, NAL unit walks and temporary files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "corvex/codecv2.h"

namespace corvextest {

struct CodecReleaser {
  void operator()(ICodecv2* p) const { CorvexFactory().ReleaseCodecInstance(p); }
};
using CodecPtr = std::unique_ptr<ICodecv2, CodecReleaser>;
CodecPtr MakeCodec();

// Sets a parameter; a refusal fails the test with the codec's error text.
void Set(ICodecv2* pCodec, const char* pszName, const std::string& sValue);
std::string Get(ICodecv2* pCodec, const char* pszName);

// Frame n of a moving, asymmetric RGB24 picture (rows of 3 x width bytes, bottom-up as "flip" 1
// expects): gradients, a box that travels and some texture.
std::vector<uint8_t> RgbFrame(int nWidth, int nHeight, int n);

// Opens pCodec as an encoder the way the encoder filter does: size, input form, SPS and PPS coded
// before Open (returned), then "generate param set on open" as given.
struct ParamSets {
  std::vector<uint8_t> sps;
  std::vector<uint8_t> pps;
};
ParamSets OpenEncoder(ICodecv2* pCodec, int nWidth, int nHeight, int nInColour, bool bInBand);

// Codes one picture with a bit limit of 3 bytes a pixel; the coded bytes (empty on failure).
std::vector<uint8_t> CodeOne(ICodecv2* pCodec, const uint8_t* pPicture, int nWidth, int nHeight);

// NAL units of a start-code stream: (offset of the header byte, length).
std::vector<std::pair<size_t, size_t>> Units(const std::vector<uint8_t>& stream);

// A fresh temporary directory removed on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_path;
};

// Runs a shell command; true when it exits 0.
bool RunCommand(const std::string& sCommand);
std::vector<uint8_t> ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Peak signal-to-noise ratio of two equally long byte arrays, in dB (99 when identical).
double Psnr(const uint8_t* a, const uint8_t* b, size_t n);

}  // namespace corvextest

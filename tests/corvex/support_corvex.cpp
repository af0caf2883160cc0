#include "tests/corvex/support_corvex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include <unistd.h>

#include "corvex/sps.h"

namespace corvextest {

CodecPtr MakeCodec() {
  CodecPtr p(CorvexFactory().GetCodecInstance());
  EXPECT_NE(p, nullptr);
  return p;
}

void Set(ICodecv2* pCodec, const char* pszName, const std::string& sValue) {
  EXPECT_NE(pCodec->SetParameter(pszName, sValue.c_str()), 0)
      << pszName << " = " << sValue << ": " << pCodec->GetErrorText();
}

std::string Get(ICodecv2* pCodec, const char* pszName) {
  char szValue[CORVEX_MAX_VALUE];
  int nLength = -1;
  EXPECT_NE(pCodec->GetParameter(pszName, &nLength, szValue), 0) << pCodec->GetErrorText();
  return std::string(szValue, nLength < 0 ? 0 : nLength);
}

std::vector<uint8_t> RgbFrame(int nWidth, int nHeight, int n) {
  std::vector<uint8_t> frame(static_cast<size_t>(nWidth) * nHeight * 3);
  std::mt19937 rng(1234);  // the same texture in every frame, so motion is predictable
  for (int y = 0; y < nHeight; ++y) {
    for (int x = 0; x < nWidth; ++x) {
      uint8_t* p = &frame[(static_cast<size_t>(y) * nWidth + x) * 3];
      const int nTexture = static_cast<int>(rng() % 24);
      const int xs = x + 2 * n;  // the background pans
      p[0] = static_cast<uint8_t>((xs * 255 / (nWidth + 1)) % 256);
      p[1] = static_cast<uint8_t>(y * 255 / nHeight);
      p[2] = static_cast<uint8_t>(((xs + y) / 4) % 2 ? 200 - nTexture : 40 + nTexture);
      const int bx = (n * 3) % (nWidth - nWidth / 4);
      if (x >= bx && x < bx + nWidth / 4 && y < nHeight / 3) {
        p[0] = 20;
        p[1] = 220;
        p[2] = 240;
      }
    }
  }
  return frame;
}

ParamSets OpenEncoder(ICodecv2* pCodec, int nWidth, int nHeight, int nInColour, bool bInBand) {
  ParamSets sets;
  pCodec->Close();
  Set(pCodec, "incolour", std::to_string(nInColour));
  Set(pCodec, "width", std::to_string(nWidth));
  Set(pCodec, "height", std::to_string(nHeight));
  Set(pCodec, "generate param set on open", "0");
  for (int nType : {2, 3}) {
    Set(pCodec, "picture coding type", std::to_string(nType));
    std::vector<uint8_t> buffer(100);
    EXPECT_NE(pCodec->Code(nullptr, buffer.data(), 800), 0) << pCodec->GetErrorText();
    buffer.resize(static_cast<size_t>(pCodec->GetCompressedLength()));
    (nType == 2 ? sets.sps : sets.pps) = buffer;
  }
  Set(pCodec, "picture coding type", "0");
  Set(pCodec, "generate param set on open", bInBand ? "1" : "0");
  EXPECT_NE(pCodec->Open(), 0) << pCodec->GetErrorText();
  return sets;
}

std::vector<uint8_t> CodeOne(ICodecv2* pCodec, const uint8_t* pPicture, int nWidth, int nHeight) {
  std::vector<uint8_t> out(static_cast<size_t>(nWidth) * nHeight * 3);
  if (pCodec->Code(pPicture, out.data(), nWidth * nHeight * 24) == 0) {
    ADD_FAILURE() << pCodec->GetErrorText();
    return {};
  }
  out.resize(static_cast<size_t>(pCodec->GetCompressedLength()));
  return out;
}

std::vector<std::pair<size_t, size_t>> Units(const std::vector<uint8_t>& stream) {
  std::vector<std::pair<size_t, size_t>> units;
  size_t nOffset = 0, nUnit = 0, nLength = 0;
  while (corvex::NextNalUnit(stream.data(), stream.size(), &nOffset, &nUnit, &nLength)) {
    units.emplace_back(nUnit, nLength);
  }
  return units;
}

TempDir::TempDir() {
  static int s_nCount = 0;
  m_path = std::filesystem::temp_directory_path() /
           ("corvex-test-" + std::to_string(::getpid()) + "-" + std::to_string(s_nCount++));
  std::filesystem::create_directories(m_path);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

bool RunCommand(const std::string& sCommand) { return std::system(sCommand.c_str()) == 0; }

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
  double dSum = 0;
  for (size_t i = 0; i < n; ++i) {
    const double d = static_cast<double>(a[i]) - b[i];
    dSum += d * d;
  }
  if (dSum == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(n) / dSum);
}

}  // namespace corvextest

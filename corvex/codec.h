// CorvexCodec: ICodecv2 over OpenH264 (encoder and decoder), with the suite's colour converters
// (kernels/) between RGB24 and the 4:2:0 pictures OpenH264 codes. The parameter table and the
// behaviour callers rely on are documented in codecv2.h.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "corvex/codecv2.h"

class ISVCEncoder;
class ISVCDecoder;
class RealRGB24toYUV420Converter;
class RealYUV420toRGB24Converter;

namespace corvex {

// Parameters in the order GetParameterName lists them.
enum Param : int {
  kWidth,
  kHeight,
  kInColour,
  kOutColour,
  kFlip,
  kQuality,
  kMode,
  kMaxBitsPerFrame,
  kRateControlFrames,
  kMinIntraQp,
  kMinInterQp,
  kRateOvershoot,
  kSwitchFramePeriod,
  kIPictureMultiplier,
  kAutoIPicture,
  kIPictureFraction,
  kSeqParamSet,
  kPicParamSet,
  kGenerateParamSets,
  kPictureCodingType,
  kLastPicCodingType,
  kParameters,
  // Kept only for compatibility: accepted, stored as text, no effect.
  kUseMs264,
  kMaxDistortion,
  kDmaxMultiplier,
  kDmaxFraction,
  kUnrestrictedMotion,
  kExtendedPictureType,
  kAdvancedIntraCoding,
  kAlternativeInterVlc,
  kModifiedQuant,
  kParamCount
};

struct EncoderDeleter {
  void operator()(ISVCEncoder* p) const;
};
struct DecoderDeleter {
  void operator()(ISVCDecoder* p) const;
};

class CorvexCodec final : public ICodecv2 {
 public:
  CorvexCodec();
  ~CorvexCodec();

  int Reserved1() override;
  int GetParameter(const char* pszName, int* pnLength, char* pValue) override;
  int GetParameterName(int nIndex, const char** ppszName, int* pnLength) override;
  int SetParameter(const char* pszName, const char* pszValue) override;
  const char* GetErrorText() override;
  int IsReady() override;
  int Reserved2() override;
  int GetCompressedLength() override;
  int Reserved3() override;
  int Restart() override;
  int Open() override;
  int Close() override;
  int Code(const unsigned char* pPicture, unsigned char* pOut, int nBitLimit) override;
  int Decode(const unsigned char* pData, int nBitLength, unsigned char* pPicture) override;

 private:
  template <typename F>
  int Guarded(F&& f);
  int Fail(std::string sText);
  int OpenEncoder();
  int OpenDecoder();
  // Creates and initialises m_pEncoder with the current parameters.
  int BuildEncoder();
  int CodeParameterSet(int nType, unsigned char* pOut, size_t nLimit);
  int CodePicture(const unsigned char* pPicture, unsigned char* pOut, size_t nLimit);
  int EnsureDecoder();
  int TakeSequenceParameterSet(const uint8_t* pUnit, size_t nLength);
  int WritePicture(const uint8_t* const pPlanes[3], int nYStride, int nUVStride, int nWidth,
                   int nHeight, unsigned char* pPicture);
  std::string SizeCheck() const;

  std::array<int, kParamCount> m_aValue{};
  std::array<std::string, kParamCount> m_aText;  // compatibility-only names
  std::string m_sError;
  bool m_bReady = false;
  bool m_bDecoderRole = false;     // parameter sets came through Decode since creation or Close
  bool m_bSizeFromStream = false;  // "width"/"height" were learnt from an SPS
  int m_nCompressedLength = 0;
  unsigned m_nGeneration = 0;         // bumped by every accepted parameter change
  unsigned m_nEncoderGeneration = ~0u;  // parameters m_pEncoder was built with
  int64_t m_nFrameIndex = 0;

  std::unique_ptr<ISVCEncoder, EncoderDeleter> m_pEncoder;
  std::unique_ptr<ISVCDecoder, DecoderDeleter> m_pDecoder;
  std::unique_ptr<RealRGB24toYUV420Converter> m_pRgbToYuv;
  std::unique_ptr<RealYUV420toRGB24Converter> m_pYuvToRgb;
  std::vector<uint8_t> m_vPicture;  // 4:2:0 picture converted from RGB24 input
};

}  // namespace corvex

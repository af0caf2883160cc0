#include "corvex/codec.h"

#include <wels/codec_api.h>
#include <wels/codec_app_def.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "corvex/sps.h"
#include "kernels/converters.h"

namespace corvex {
namespace {

enum class Kind {
  Number,    // whole number within [nMin, nMax]
  Flag,      // 0 or 1 (also "true"/"false")
  Choice,    // one of aChoices
  ReadOnly,  // reported, never set
  Compat,    // any text, kept, no effect
};

struct ParamDef {
  const char* pszName;
  Kind eKind;
  int64_t nMin;
  int64_t nMax;
  int nDefault;
  std::array<int, 3> aChoices;
  const char* pszChoices;  // how a refusal lists the choices
};

constexpr int kMaxSide = 4096;
constexpr int kMinSide = 16;
constexpr int64_t kMaxPixels = 4096 * 2304;  // 36864 macroblocks, the largest H.264 level

// One row per Param, in the same order.
constexpr ParamDef kParams[kParamCount] = {
    {"width", Kind::Number, 0, kMaxSide, 0, {}, nullptr},
    {"height", Kind::Number, 0, kMaxSide, 0, {}, nullptr},
    {"incolour", Kind::Choice, 0, 0, 0, {0, 16, 16}, "0 (RGB24) or 16 (planar YUV 4:2:0)"},
    {"outcolour", Kind::Choice, 0, 0, 0, {0, 16, 16}, "0 (RGB24) or 16 (planar YUV 4:2:0)"},
    {"flip", Kind::Flag, 0, 1, 0, {}, nullptr},
    {"quality", Kind::Number, 0, 51, 26, {}, nullptr},
    {"mode of operation", Kind::Number, 0, 2, 1, {}, nullptr},
    {"max bits per frame", Kind::Number, 1, INT_MAX, 1000000, {}, nullptr},
    {"num rate control frames", Kind::Number, 1, 1000, 25, {}, nullptr},
    {"minimum intra qp", Kind::Number, 0, 51, 0, {}, nullptr},
    {"minimum inter qp", Kind::Number, 0, 51, 0, {}, nullptr},
    {"rate overshoot percent", Kind::Number, 0, 1000, 100, {}, nullptr},
    {"switchframeperiod", Kind::Number, 0, 65535, 0, {}, nullptr},
    {"ipicturemultiplier", Kind::Number, 0, 65535, 1, {}, nullptr},
    {"autoipicture", Kind::Flag, 0, 1, 0, {}, nullptr},
    {"ipicturefraction", Kind::Number, 0, 100, 0, {}, nullptr},
    {"seq param set", Kind::Number, 0, 0, 0, {}, nullptr},
    {"pic param set", Kind::Number, 0, 0, 0, {}, nullptr},
    {"generate param set on open", Kind::Flag, 0, 1, 0, {}, nullptr},
    {"picture coding type", Kind::Choice, 0, 0, 0, {0, 2, 3},
     "0 (picture), 2 (sequence parameter set) or 3 (picture parameter set)"},
    {"last pic coding type", Kind::ReadOnly, 0, 1, 1, {}, nullptr},
    {"parameters", Kind::ReadOnly, 0, 0, kParamCount, {}, nullptr},
    {"usems264", Kind::Compat, 0, 0, 0, {}, nullptr},
    {"max distortion", Kind::Compat, 0, 0, 0, {}, nullptr},
    {"ipicture dmax multiplier", Kind::Compat, 0, 0, 0, {}, nullptr},
    {"ipicture dmax fraction", Kind::Compat, 0, 0, 0, {}, nullptr},
    {"unrestrictedmotion", Kind::Compat, 0, 0, 0, {}, nullptr},
    {"extendedpicturetype", Kind::Compat, 0, 0, 0, {}, nullptr},
    {"advancedintracoding", Kind::Compat, 0, 0, 0, {}, nullptr},
    {"alternativeintervlc", Kind::Compat, 0, 0, 0, {}, nullptr},
    {"modifiedquant", Kind::Compat, 0, 0, 0, {}, nullptr},
};

int FindParam(const char* pszName) {
  for (int i = 0; i < kParamCount; ++i) {
    if (std::strcmp(kParams[i].pszName, pszName) == 0) return i;
  }
  return -1;
}

// Whole decimal number, optional sign, nothing else.
bool ParseWhole(const char* psz, int64_t* pn) {
  const char* p = psz;
  bool bNegative = false;
  if (*p == '+' || *p == '-') bNegative = *p++ == '-';
  if (*p == '\0') return false;
  int64_t n = 0;
  for (; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    n = n * 10 + (*p - '0');
    if (n > (int64_t{1} << 40)) return false;
  }
  *pn = bNegative ? -n : n;
  return true;
}

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

// The payload of a NAL unit as OpenH264 hands it out (led by a 3- or 4-byte start code).
void StripStartCode(const uint8_t*& p, int& nLength) {
  int nSkip = 0;
  while (nSkip < nLength && nSkip < 3 && p[nSkip] == 0) ++nSkip;
  if (nSkip >= 2 && nSkip < nLength && p[nSkip] == 1) {
    p += nSkip + 1;
    nLength -= nSkip + 1;
  }
}

}  // namespace

// Runs one entry of the interface; an allocation failure becomes a failed call, never an
// exception leaving the library.
template <typename F>
int CorvexCodec::Guarded(F&& f) {
  try {
    return f();
  } catch (...) {
    m_sError.clear();
    m_sError = "Out of memory.";
    return 0;
  }
}

void EncoderDeleter::operator()(ISVCEncoder* p) const {
  p->Uninitialize();
  WelsDestroySVCEncoder(p);
}

void DecoderDeleter::operator()(ISVCDecoder* p) const {
  p->Uninitialize();
  WelsDestroyDecoder(p);
}

CorvexCodec::CorvexCodec() {
  for (int i = 0; i < kParamCount; ++i) {
    m_aValue[i] = kParams[i].nDefault;
    if (kParams[i].eKind == Kind::Compat) m_aText[i] = "0";
  }
}

CorvexCodec::~CorvexCodec() = default;

int CorvexCodec::Fail(std::string sText) {
  m_sError = std::move(sText);
  return 0;
}

int CorvexCodec::Reserved1() { return Fail("Reserved1 is not a codec operation."); }
int CorvexCodec::Reserved2() { return Fail("Reserved2 is not a codec operation."); }
int CorvexCodec::Reserved3() { return Fail("Reserved3 is not a codec operation."); }

int CorvexCodec::GetParameter(const char* pszName, int* pnLength, char* pValue) {
  return Guarded([&]() -> int {
    if (pszName == nullptr || pValue == nullptr || pnLength == nullptr) {
      return Fail("GetParameter needs a name, a length and a value buffer.");
    }
    const int i = FindParam(pszName);
    if (i < 0) return Fail(std::string("Unknown codec parameter \"") + pszName + "\".");
    std::string sValue =
        kParams[i].eKind == Kind::Compat ? m_aText[i] : std::to_string(m_aValue[i]);
    if (sValue.size() >= static_cast<size_t>(CORVEX_MAX_VALUE)) sValue.resize(CORVEX_MAX_VALUE - 1);
    std::memcpy(pValue, sValue.c_str(), sValue.size() + 1);
    *pnLength = static_cast<int>(sValue.size());
    return 1;
  });
}

int CorvexCodec::GetParameterName(int nIndex, const char** ppszName, int* pnLength) {
  if (ppszName == nullptr || pnLength == nullptr) {
    return Fail("GetParameterName needs a name pointer and a length.");
  }
  if (nIndex < 0 || nIndex >= kParamCount) {
    return Fail("Codec parameter index " + std::to_string(nIndex) + " is outside 0 to " +
                std::to_string(kParamCount - 1) + ".");
  }
  *ppszName = kParams[nIndex].pszName;
  *pnLength = static_cast<int>(std::strlen(kParams[nIndex].pszName));
  return 1;
}

int CorvexCodec::SetParameter(const char* pszName, const char* pszValue) {
  return Guarded([&]() -> int {
    if (pszName == nullptr || pszValue == nullptr) {
      return Fail("SetParameter needs a name and a value.");
    }
    const int i = FindParam(pszName);
    if (i < 0) return Fail(std::string("Unknown codec parameter \"") + pszName + "\".");
    const ParamDef& def = kParams[i];
    const std::string sName = std::string("Codec parameter \"") + pszName + "\"";
    switch (def.eKind) {
      case Kind::ReadOnly:
        return Fail(sName + " is read-only.");
      case Kind::Compat:
        if (std::strlen(pszValue) >= static_cast<size_t>(CORVEX_MAX_VALUE)) {
          return Fail(sName + " takes a value of fewer than 256 bytes.");
        }
        m_aText[i] = pszValue;
        return 1;
      case Kind::Flag:
        if (std::strcmp(pszValue, "true") == 0 || std::strcmp(pszValue, "TRUE") == 0) {
          pszValue = "1";
        } else if (std::strcmp(pszValue, "false") == 0 || std::strcmp(pszValue, "FALSE") == 0) {
          pszValue = "0";
        }
        break;
      default:
        break;
    }
    int64_t n = 0;
    const bool bNumber = ParseWhole(pszValue, &n);
    if (def.eKind == Kind::Choice) {
      if (!bNumber || std::find(def.aChoices.begin(), def.aChoices.end(), n) == def.aChoices.end()) {
        return Fail(sName + " takes " + def.pszChoices + ", not \"" + pszValue + "\".");
      }
    } else if (!bNumber || n < def.nMin || n > def.nMax) {
      return Fail(sName + " takes a whole number from " + std::to_string(def.nMin) + " to " +
                  std::to_string(def.nMax) + ", not \"" + pszValue + "\".");
    }
    m_aValue[i] = static_cast<int>(n);
    if (i == kWidth || i == kHeight) m_bSizeFromStream = false;
    ++m_nGeneration;
    return 1;
  });
}

const char* CorvexCodec::GetErrorText() { return m_sError.c_str(); }

int CorvexCodec::IsReady() { return m_bReady ? 1 : 0; }

int CorvexCodec::GetCompressedLength() { return m_nCompressedLength; }

int CorvexCodec::Restart() {
  if (m_pEncoder) m_pEncoder->ForceIntraFrame(true);
  return 1;
}

std::string CorvexCodec::SizeCheck() const {
  const int w = m_aValue[kWidth];
  const int h = m_aValue[kHeight];
  const std::string sSize = std::to_string(w) + "x" + std::to_string(h);
  if (w < kMinSide || h < kMinSide) {
    return "The picture size " + sSize + " is too small: set \"width\" and \"height\" to at least " +
           std::to_string(kMinSide) + ".";
  }
  if (static_cast<int64_t>(w) * h > kMaxPixels) {
    return "The picture size " + sSize + " is too large: the codec takes at most " +
           std::to_string(kMaxPixels) + " pixels (4096x2304).";
  }
  if (w % 2 != 0 || h % 2 != 0) {
    return "The picture size " + sSize +
           " is odd: 4:2:0 pictures need an even width and height.";
  }
  return std::string();
}

int CorvexCodec::Open() {
  return Guarded([&]() -> int {
    m_bReady = false;
    const std::string sSize = SizeCheck();
    if (!sSize.empty()) return Fail(sSize);
    const int nResult = m_bDecoderRole ? OpenDecoder() : OpenEncoder();
    m_bReady = nResult != 0;
    return nResult;
  });
}

int CorvexCodec::Close() {
  m_bReady = false;
  m_bDecoderRole = false;
  m_pEncoder.reset();
  m_pDecoder.reset();
  m_pRgbToYuv.reset();
  m_pYuvToRgb.reset();
  m_vPicture.clear();
  m_vPicture.shrink_to_fit();
  m_nCompressedLength = 0;
  return 1;
}

int CorvexCodec::BuildEncoder() {
  m_pEncoder.reset();
  m_nEncoderGeneration = ~0u;
  const std::string sSize = SizeCheck();
  if (!sSize.empty()) return Fail(sSize);
  ISVCEncoder* pRaw = nullptr;
  if (WelsCreateSVCEncoder(&pRaw) != 0 || pRaw == nullptr) {
    return Fail("The H.264 encoder could not be created (out of memory?).");
  }
  std::unique_ptr<ISVCEncoder, EncoderDeleter> pEncoder(pRaw);
  int nQuiet = WELS_LOG_QUIET;  // failures are reported through GetErrorText, not stderr
  pEncoder->SetOption(ENCODER_OPTION_TRACE_LEVEL, &nQuiet);
  SEncParamExt p;
  pEncoder->GetDefaultParams(&p);
  const int w = m_aValue[kWidth];
  const int h = m_aValue[kHeight];
  const int nFrames = m_aValue[kRateControlFrames];
  const int64_t nTarget =
      std::min<int64_t>(int64_t{m_aValue[kMaxBitsPerFrame]} * nFrames, INT_MAX);
  const int64_t nPeak =
      std::min<int64_t>(nTarget * (100 + m_aValue[kRateOvershoot]) / 100, INT_MAX);
  const int nMode = m_aValue[kMode];
  const int nFloor = std::max(m_aValue[kMinIntraQp], m_aValue[kMinInterQp]);

  p.iUsageType = CAMERA_VIDEO_REAL_TIME;
  p.iPicWidth = w;
  p.iPicHeight = h;
  p.fMaxFrameRate = static_cast<float>(nFrames);
  p.iSpatialLayerNum = 1;
  p.iTemporalLayerNum = 1;
  p.iMultipleThreadIdc = 1;
  p.iEntropyCodingModeFlag = 0;
  p.eSpsPpsIdStrategy = CONSTANT_ID;
  p.bPrefixNalAddingCtrl = false;
  p.bEnableFrameSkip = false;
  p.bEnableLongTermReference = false;
  p.bEnableDenoise = false;
  p.iNumRefFrame = 1;
  p.iComplexityMode = MEDIUM_COMPLEXITY;
  p.bEnableSceneChangeDetect = m_aValue[kAutoIPicture] != 0;
  p.uiIntraPeriod =
      static_cast<unsigned>(m_aValue[kSwitchFramePeriod]) * m_aValue[kIPictureMultiplier];
  if (m_aValue[kIPictureFraction] > 0) p.iIdrBitrateRatio = 100 + m_aValue[kIPictureFraction];
  SSpatialLayerConfig& layer = p.sSpatialLayers[0];
  layer.iVideoWidth = w;
  layer.iVideoHeight = h;
  layer.fFrameRate = static_cast<float>(nFrames);
  layer.uiProfileIdc = PRO_BASELINE;
  layer.sSliceArgument.uiSliceMode = SM_SINGLE_SLICE;
  if (nMode == 0) {
    p.iRCMode = RC_OFF_MODE;
    p.bEnableAdaptiveQuant = false;
    layer.iDLayerQp = m_aValue[kQuality];
    p.iMinQp = p.iMaxQp = m_aValue[kQuality];
  } else {
    p.iRCMode = RC_BITRATE_MODE;
    p.iTargetBitrate = static_cast<int>(nTarget);
    p.iMaxBitrate = static_cast<int>(nPeak);
    layer.iSpatialBitrate = static_cast<int>(nTarget);
    layer.iMaxSpatialBitrate = static_cast<int>(nPeak);
    p.iMinQp = nMode == 2 ? std::max(nFloor, m_aValue[kQuality]) : nFloor;
    p.iMaxQp = 51;
  }
  if (pEncoder->InitializeExt(&p) != cmResultSuccess) {
    return Fail("The H.264 encoder does not take a " + std::to_string(w) + "x" +
                std::to_string(h) + " picture with these settings.");
  }
  int nFormat = videoFormatI420;
  pEncoder->SetOption(ENCODER_OPTION_DATAFORMAT, &nFormat);
  m_pEncoder = std::move(pEncoder);
  m_nEncoderGeneration = m_nGeneration;
  return 1;
}

int CorvexCodec::OpenEncoder() {
  // An encoder built for the SPS/PPS with unchanged parameters is the one to open, so that the
  // parameter sets handed out before Open are those of the stream.
  if (!m_pEncoder || m_bReady || m_nEncoderGeneration != m_nGeneration) {
    if (!BuildEncoder()) return 0;
  }
  m_pRgbToYuv.reset();
  m_vPicture.clear();
  if (m_aValue[kInColour] == 0) {
    const int w = m_aValue[kWidth];
    const int h = m_aValue[kHeight];
    m_vPicture.assign(static_cast<size_t>(w) * h * 3 / 2, 0);
    m_pRgbToYuv = std::make_unique<RealRGB24toYUV420Converter>(w, h, 128);
  }
  m_nFrameIndex = 0;
  m_nCompressedLength = 0;
  return 1;
}

int CorvexCodec::OpenDecoder() {
  if (!EnsureDecoder()) return 0;
  m_pYuvToRgb = std::make_unique<RealYUV420toRGB24Converter>();
  return 1;
}

int CorvexCodec::Code(const unsigned char* pPicture, unsigned char* pOut, int nBitLimit) {
  return Guarded([&]() -> int {
    m_nCompressedLength = 0;
    if (pOut == nullptr) return Fail("Code needs an output buffer.");
    if (nBitLimit < 0) {
      return Fail("The frame bit limit " + std::to_string(nBitLimit) + " is negative.");
    }
    const size_t nLimit = static_cast<size_t>(nBitLimit) / 8;
    const int nType = m_aValue[kPictureCodingType];
    if (nType == 2 || nType == 3) return CodeParameterSet(nType, pOut, nLimit);
    if (pPicture == nullptr) return Fail("Code needs a picture (\"picture coding type\" is 0).");
    if (!m_bReady || !m_pEncoder) return Fail("The H.264 encoder is not open: call Open first.");
    return CodePicture(pPicture, pOut, nLimit);
  });
}

int CorvexCodec::CodeParameterSet(int nType, unsigned char* pOut, size_t nLimit) {
  if (m_bDecoderRole) return Fail("This codec instance decodes; it has no parameter sets to code.");
  if (!m_pEncoder || m_nEncoderGeneration != m_nGeneration) {
    if (!BuildEncoder()) return 0;
  }
  SFrameBSInfo info;
  std::memset(&info, 0, sizeof(info));
  if (m_pEncoder->EncodeParameterSets(&info) != cmResultSuccess) {
    return Fail("The H.264 encoder could not write its parameter sets.");
  }
  const int nWanted = nType == 2 ? 7 : 8;
  for (int l = 0; l < info.iLayerNum; ++l) {
    const SLayerBSInfo& layer = info.sLayerInfo[l];
    const uint8_t* p = layer.pBsBuf;
    for (int n = 0; n < layer.iNalCount; ++n) {
      const uint8_t* pUnit = p;
      int nLength = layer.pNalLengthInByte[n];
      p += nLength;
      StripStartCode(pUnit, nLength);
      if (nLength <= 0 || (pUnit[0] & 0x1F) != nWanted) continue;
      const size_t nTotal = 4 + static_cast<size_t>(nLength);
      if (nTotal > nLimit) {
        return Fail(std::string(nType == 2 ? "The sequence" : "The picture") +
                    " parameter set takes " + std::to_string(nTotal * 8) +
                    " bits, more than the frame bit limit of " + std::to_string(nLimit * 8) + ".");
      }
      std::memcpy(pOut, kStartCode, 4);
      std::memcpy(pOut + 4, pUnit, static_cast<size_t>(nLength));
      m_nCompressedLength = static_cast<int>(nTotal);
      return 1;
    }
  }
  return Fail("The H.264 encoder wrote no parameter set of the kind asked for.");
}

int CorvexCodec::CodePicture(const unsigned char* pPicture, unsigned char* pOut, size_t nLimit) {
  const int w = m_aValue[kWidth];
  const int h = m_aValue[kHeight];
  const uint8_t* pI420 = pPicture;
  if (m_pRgbToYuv) {
    uint8_t* pY = m_vPicture.data();
    uint8_t* pU = pY + static_cast<size_t>(w) * h;
    uint8_t* pV = pU + static_cast<size_t>(w / 2) * (h / 2);
    m_pRgbToYuv->m_bInvert = m_aValue[kFlip] != 0;
    m_pRgbToYuv->Convert(pPicture, pY, pU, pV);
    pI420 = pY;
  }
  SSourcePicture pic;
  std::memset(&pic, 0, sizeof(pic));
  pic.iColorFormat = videoFormatI420;
  pic.iPicWidth = w;
  pic.iPicHeight = h;
  pic.iStride[0] = w;
  pic.iStride[1] = pic.iStride[2] = w / 2;
  pic.pData[0] = const_cast<uint8_t*>(pI420);
  pic.pData[1] = pic.pData[0] + static_cast<size_t>(w) * h;
  pic.pData[2] = pic.pData[1] + static_cast<size_t>(w / 2) * (h / 2);
  pic.uiTimeStamp = m_nFrameIndex * 1000 / m_aValue[kRateControlFrames];
  ++m_nFrameIndex;

  SFrameBSInfo info;
  std::memset(&info, 0, sizeof(info));
  if (m_pEncoder->EncodeFrame(&pic, &info) != cmResultSuccess) {
    m_pEncoder->ForceIntraFrame(true);
    return Fail("The H.264 encoder failed to code the picture.");
  }
  if (info.eFrameType == videoFrameTypeSkip || info.eFrameType == videoFrameTypeInvalid) {
    return 1;  // nothing coded for this picture
  }
  const bool bKeepSets = m_aValue[kGenerateParamSets] != 0;
  // Two passes: the size first, so that nothing is written when the picture exceeds the limit.
  for (int nPass = 0; nPass < 2; ++nPass) {
    size_t nTotal = 0;
    for (int l = 0; l < info.iLayerNum; ++l) {
      const SLayerBSInfo& layer = info.sLayerInfo[l];
      const uint8_t* p = layer.pBsBuf;
      for (int n = 0; n < layer.iNalCount; ++n) {
        const uint8_t* pUnit = p;
        int nLength = layer.pNalLengthInByte[n];
        p += nLength;
        StripStartCode(pUnit, nLength);
        if (nLength <= 0) continue;
        const int nUnitType = pUnit[0] & 0x1F;
        if (!bKeepSets && (nUnitType == 7 || nUnitType == 8)) continue;
        if (nPass == 1) {
          std::memcpy(pOut + nTotal, kStartCode, 4);
          std::memcpy(pOut + nTotal + 4, pUnit, static_cast<size_t>(nLength));
        }
        nTotal += 4 + static_cast<size_t>(nLength);
      }
    }
    if (nPass == 0 && nTotal > nLimit) {
      // The picture is lost to the stream: the next one must not refer to it.
      m_pEncoder->ForceIntraFrame(true);
      return Fail("The coded picture takes " + std::to_string(nTotal * 8) +
                  " bits, more than the frame bit limit of " + std::to_string(nLimit * 8) +
                  "; raise the limit or the quantiser.");
    }
    if (nPass == 1) m_nCompressedLength = static_cast<int>(nTotal);
  }
  m_aValue[kLastPicCodingType] =
      (info.eFrameType == videoFrameTypeIDR || info.eFrameType == videoFrameTypeI) ? 0 : 1;
  return 1;
}

int CorvexCodec::EnsureDecoder() {
  if (m_pDecoder) return 1;
  ISVCDecoder* pRaw = nullptr;
  if (WelsCreateDecoder(&pRaw) != 0 || pRaw == nullptr) {
    return Fail("The H.264 decoder could not be created (out of memory?).");
  }
  std::unique_ptr<ISVCDecoder, DecoderDeleter> pDecoder(pRaw);
  int nQuiet = WELS_LOG_QUIET;
  pDecoder->SetOption(DECODER_OPTION_TRACE_LEVEL, &nQuiet);
  SDecodingParam p;
  std::memset(&p, 0, sizeof(p));
  p.eEcActiveIdc = ERROR_CON_DISABLE;
  p.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
  if (pDecoder->Initialize(&p) != 0) return Fail("The H.264 decoder could not be initialised.");
  m_pDecoder = std::move(pDecoder);
  return 1;
}

int CorvexCodec::TakeSequenceParameterSet(const uint8_t* pUnit, size_t nLength) {
  SpsInfo sps;
  if (!ParseSps(pUnit, nLength, &sps)) {
    return Fail("The sequence parameter set is damaged or not H.264.");
  }
  if (sps.nChromaFormat != 1 || sps.nBitDepth != 8) {
    return Fail("The stream is not 8-bit 4:2:0 (chroma format " +
                std::to_string(sps.nChromaFormat) + ", " + std::to_string(sps.nBitDepth) +
                " bits); only 8-bit 4:2:0 streams are decoded.");
  }
  if (sps.nWidth > kMaxSide || sps.nHeight > kMaxSide) {
    return Fail("The stream's pictures are " + std::to_string(sps.nWidth) + "x" +
                std::to_string(sps.nHeight) + ", larger than the " + std::to_string(kMaxSide) +
                " pixels a side this decoder takes.");
  }
  const int w = m_aValue[kWidth];
  const int h = m_aValue[kHeight];
  if (m_bSizeFromStream || (w == 0 && h == 0)) {
    m_aValue[kWidth] = sps.nWidth;
    m_aValue[kHeight] = sps.nHeight;
    m_bSizeFromStream = true;
  } else if (sps.nWidth != w || sps.nHeight != h) {
    return Fail("The stream's pictures are " + std::to_string(sps.nWidth) + "x" +
                std::to_string(sps.nHeight) + " but \"width\" and \"height\" are " +
                std::to_string(w) + "x" + std::to_string(h) + ".");
  }
  return 1;
}

int CorvexCodec::Decode(const unsigned char* pData, int nBitLength, unsigned char* pPicture) {
  return Guarded([&]() -> int {
    if (pData == nullptr || nBitLength < 8) return Fail("Decode was given no data.");
    const size_t nLength = static_cast<size_t>(nBitLength) / 8;
    if (!EnsureDecoder()) return 0;
    // Parameter sets: the picture size is checked here, before the decoder underneath takes them.
    bool bSawUnit = false;
    size_t nOffset = 0, nUnit = 0, nUnitLength = 0;
    while (NextNalUnit(pData, nLength, &nOffset, &nUnit, &nUnitLength)) {
      if (!bSawUnit && nUnit > 4) break;  // the data must begin with a start code
      bSawUnit = true;
      if (nUnitLength == 0) continue;
      const int nType = pData[nUnit] & 0x1F;
      if (nType == 7) {
        if (!TakeSequenceParameterSet(pData + nUnit, nUnitLength)) return 0;
        m_bDecoderRole = true;
      } else if (nType == 8) {
        m_bDecoderRole = true;
      }
    }
    if (!bSawUnit) return Fail("The data does not begin with a start code (00 00 01).");

    uint8_t* aPlanes[3] = {nullptr, nullptr, nullptr};
    SBufferInfo info;
    std::memset(&info, 0, sizeof(info));
    const DECODING_STATE state =
        m_pDecoder->DecodeFrameNoDelay(pData, static_cast<int>(nLength), aPlanes, &info);
    if (state != dsErrorFree) {
      char szState[16];
      std::snprintf(szState, sizeof(szState), "0x%x", static_cast<unsigned>(state));
      return Fail(std::string("The H.264 data could not be decoded (decoder state ") + szState +
                  (state & dsNoParamSets ? ": no parameter sets yet" : "") + ").");
    }
    if (info.iBufferStatus != 1) return CORVEX_NO_PICTURE;
    const uint8_t* const aIn[3] = {aPlanes[0], aPlanes[1], aPlanes[2]};
    return WritePicture(aIn, info.UsrData.sSystemBuffer.iStride[0],
                        info.UsrData.sSystemBuffer.iStride[1], info.UsrData.sSystemBuffer.iWidth,
                        info.UsrData.sSystemBuffer.iHeight, pPicture);
  });
}

int CorvexCodec::WritePicture(const uint8_t* const pPlanes[3], int nYStride, int nUVStride,
                              int nWidth, int nHeight, unsigned char* pPicture) {
  const int w = m_aValue[kWidth];
  const int h = m_aValue[kHeight];
  if (nWidth != w || nHeight != h) {
    return Fail("The decoded picture is " + std::to_string(nWidth) + "x" +
                std::to_string(nHeight) + " but the output size is " + std::to_string(w) + "x" +
                std::to_string(h) + ".");
  }
  if (pPicture == nullptr) return Fail("Decode needs an output picture buffer.");
  if (m_aValue[kOutColour] == 16) {
    uint8_t* pOut = pPicture;
    for (int y = 0; y < h; ++y, pOut += w) {
      std::memcpy(pOut, pPlanes[0] + static_cast<ptrdiff_t>(y) * nYStride, w);
    }
    for (int c = 1; c < 3; ++c) {
      for (int y = 0; y < h / 2; ++y, pOut += w / 2) {
        std::memcpy(pOut, pPlanes[c] + static_cast<ptrdiff_t>(y) * nUVStride, w / 2);
      }
    }
    return CORVEX_PICTURE;
  }
  if (!m_pYuvToRgb) m_pYuvToRgb = std::make_unique<RealYUV420toRGB24Converter>();
  m_pYuvToRgb->m_nWidth = w;
  m_pYuvToRgb->m_nHeight = h;
  m_pYuvToRgb->m_nChromaOffset = 128;
  m_pYuvToRgb->m_bInvert = m_aValue[kFlip] != 0;
  m_pYuvToRgb->ConvertStrided(pPlanes[0], nYStride, pPlanes[1], nUVStride, pPlanes[2], nUVStride,
                              pPicture, w * 3);
  return CORVEX_PICTURE;
}

}  // namespace corvex

ICodecv2* CorvexFactory::GetCodecInstance() {
  try {
    return new (std::nothrow) corvex::CorvexCodec();
  } catch (...) {
    return nullptr;
  }
}

void CorvexFactory::ReleaseCodecInstance(ICodecv2* pCodec) {
  delete static_cast<corvex::CorvexCodec*>(pCodec);
}

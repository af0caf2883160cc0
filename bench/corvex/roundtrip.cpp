#include "roundtrip.h"

#include <wels/codec_api.h>

#include <cstring>

#include "kernels/converters.h"

namespace benchh264 {

std::vector<std::vector<uint8_t>> MakeClip(int w, int h) {
  std::vector<std::vector<uint8_t>> clip;
  for (int n = 0; n < kClipFrames; ++n) {
    std::vector<uint8_t> f(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint8_t* p = &f[(static_cast<size_t>(y) * w + x) * 3];
        p[0] = static_cast<uint8_t>((x + 3 * n) * 255 / (w + 40));
        p[1] = static_cast<uint8_t>(y * 255 / h);
        p[2] = static_cast<uint8_t>(((x + y + 5 * n) / 8) % 2 ? 200 : 50);
      }
    clip.push_back(std::move(f));
  }
  return clip;
}

struct RawRoundTrip::Codec {
  Codec(int w, int h) : toYuv(w, h, 128) {}
  ~Codec() {
    if (enc) {
      enc->Uninitialize();
      WelsDestroySVCEncoder(enc);
    }
    if (dec) {
      dec->Uninitialize();
      WelsDestroyDecoder(dec);
    }
  }
  ISVCEncoder* enc = nullptr;
  ISVCDecoder* dec = nullptr;
  RealRGB24toYUV420Converter toYuv;
  RealYUV420toRGB24Converter toRgb;
};

RawRoundTrip::RawRoundTrip(int w, int h)
    : m_w(w), m_h(h), m_codec(std::make_unique<Codec>(w, h)),
      m_yuv(static_cast<size_t>(w) * h * 3 / 2), m_stream(static_cast<size_t>(w) * h * 3),
      m_rgb(static_cast<size_t>(w) * h * 3) {
  Codec& c = *m_codec;
  if (WelsCreateSVCEncoder(&c.enc) != 0 || WelsCreateDecoder(&c.dec) != 0 || !c.enc || !c.dec) {
    m_error = "OpenH264 could not make an encoder and a decoder";
    return;
  }
  SEncParamExt p;
  c.enc->GetDefaultParams(&p);
  p.iUsageType = CAMERA_VIDEO_REAL_TIME;
  p.iPicWidth = w;
  p.iPicHeight = h;
  p.fMaxFrameRate = 25;
  p.iRCMode = RC_OFF_MODE;
  p.bEnableAdaptiveQuant = false;
  p.iMinQp = p.iMaxQp = kQuantiser;
  p.iMultipleThreadIdc = 1;
  p.iComplexityMode = MEDIUM_COMPLEXITY;
  p.uiIntraPeriod = kIntraPeriod;
  p.bEnableFrameSkip = false;
  p.bEnableDenoise = false;
  p.iNumRefFrame = 1;
  // The rest of what libcorvex sets, so that both code the same stream.
  p.bEnableSceneChangeDetect = true;
  p.iTemporalLayerNum = 1;
  p.iEntropyCodingModeFlag = 0;
  p.eSpsPpsIdStrategy = CONSTANT_ID;
  p.bPrefixNalAddingCtrl = false;
  p.bEnableLongTermReference = false;
  p.iSpatialLayerNum = 1;
  p.sSpatialLayers[0].iVideoWidth = w;
  p.sSpatialLayers[0].iVideoHeight = h;
  p.sSpatialLayers[0].fFrameRate = 25;
  p.sSpatialLayers[0].iDLayerQp = kQuantiser;
  p.sSpatialLayers[0].uiProfileIdc = PRO_BASELINE;
  p.sSpatialLayers[0].sSliceArgument.uiSliceMode = SM_SINGLE_SLICE;
  int quiet = WELS_LOG_QUIET;
  c.enc->SetOption(ENCODER_OPTION_TRACE_LEVEL, &quiet);
  c.dec->SetOption(DECODER_OPTION_TRACE_LEVEL, &quiet);
  if (c.enc->InitializeExt(&p) != 0) {
    m_error = "OpenH264 encoder refused the settings";
    return;
  }
  SDecodingParam dp;
  std::memset(&dp, 0, sizeof(dp));
  dp.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
  if (c.dec->Initialize(&dp) != 0) {
    m_error = "OpenH264 decoder refused the settings";
    return;
  }
  c.toYuv.m_bInvert = true;
  c.toRgb.m_nWidth = w;
  c.toRgb.m_nHeight = h;
  c.toRgb.m_nChromaOffset = 128;
  c.toRgb.m_bInvert = true;
}

RawRoundTrip::~RawRoundTrip() = default;

size_t RawRoundTrip::Step(const uint8_t* rgb) {
  Codec& c = *m_codec;
  uint8_t* pY = m_yuv.data();
  uint8_t* pU = pY + m_w * m_h;
  uint8_t* pV = pU + m_w * m_h / 4;
  c.toYuv.Convert(rgb, pY, pU, pV);
  SSourcePicture pic;
  std::memset(&pic, 0, sizeof(pic));
  pic.iColorFormat = videoFormatI420;
  pic.iPicWidth = m_w;
  pic.iPicHeight = m_h;
  pic.iStride[0] = m_w;
  pic.iStride[1] = pic.iStride[2] = m_w / 2;
  pic.pData[0] = pY;
  pic.pData[1] = pU;
  pic.pData[2] = pV;
  pic.uiTimeStamp = m_frame++ * 40;
  SFrameBSInfo info;
  std::memset(&info, 0, sizeof(info));
  c.enc->EncodeFrame(&pic, &info);
  size_t len = 0;
  for (int l = 0; l < info.iLayerNum; ++l) {
    size_t layerBytes = 0;
    for (int k = 0; k < info.sLayerInfo[l].iNalCount; ++k)
      layerBytes += static_cast<size_t>(info.sLayerInfo[l].pNalLengthInByte[k]);
    if (len + layerBytes > m_stream.size()) break;  // cannot happen at a fixed quantiser of 26
    std::memcpy(m_stream.data() + len, info.sLayerInfo[l].pBsBuf, layerBytes);
    len += layerBytes;
  }
  uint8_t* planes[3] = {};
  SBufferInfo out;
  std::memset(&out, 0, sizeof(out));
  c.dec->DecodeFrameNoDelay(m_stream.data(), static_cast<int>(len), planes, &out);
  if (out.iBufferStatus == 1) {
    ++m_pictures;
    const int ys = out.UsrData.sSystemBuffer.iStride[0], uvs = out.UsrData.sSystemBuffer.iStride[1];
    c.toRgb.ConvertStrided(planes[0], ys, planes[1], uvs, planes[2], uvs, m_rgb.data(), m_w * 3);
  }
  return len;
}

}  // namespace benchh264

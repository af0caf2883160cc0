// Round trips of RGB24 frames through H.264 and back, frames per second:
//   raw:    OpenH264's encoder and decoder called directly, with the suite's RGB24-to-I420 and
//           I420-to-RGB24 converters (offset 128) around them; no graph, no codec library;
//   corvex: the same work through ICodecv2 (libcorvex), as the codec filters do it.
// Both code at constant quantiser 26, medium complexity, one thread, one slice, an intra
// picture every 12, so the ratio corvex / raw is the codec library's own overhead.
#include <benchmark/benchmark.h>
#include <wels/codec_api.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "corvex/codecv2.h"
#include "kernels/converters.h"

namespace {

constexpr int kQuantiser = 26;
constexpr int kClipFrames = 12;

struct Size {
  int w, h;
};
constexpr Size kSizes[] = {{640, 480}, {1920, 1080}};

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

void RunRaw(benchmark::State& state, Size s) {
  const auto clip = MakeClip(s.w, s.h);
  ISVCEncoder* enc = nullptr;
  ISVCDecoder* dec = nullptr;
  WelsCreateSVCEncoder(&enc);
  WelsCreateDecoder(&dec);
  SEncParamExt p;
  enc->GetDefaultParams(&p);
  p.iUsageType = CAMERA_VIDEO_REAL_TIME;
  p.iPicWidth = s.w;
  p.iPicHeight = s.h;
  p.fMaxFrameRate = 25;
  p.iRCMode = RC_OFF_MODE;
  p.bEnableAdaptiveQuant = false;
  p.iMinQp = p.iMaxQp = kQuantiser;
  p.iMultipleThreadIdc = 1;
  p.iComplexityMode = MEDIUM_COMPLEXITY;
  p.uiIntraPeriod = 12;
  p.bEnableFrameSkip = false;
  p.bEnableDenoise = false;
  p.iNumRefFrame = 1;
  p.iSpatialLayerNum = 1;
  p.sSpatialLayers[0].iVideoWidth = s.w;
  p.sSpatialLayers[0].iVideoHeight = s.h;
  p.sSpatialLayers[0].fFrameRate = 25;
  p.sSpatialLayers[0].iDLayerQp = kQuantiser;
  p.sSpatialLayers[0].uiProfileIdc = PRO_BASELINE;
  p.sSpatialLayers[0].sSliceArgument.uiSliceMode = SM_SINGLE_SLICE;
  int quiet = WELS_LOG_QUIET;
  enc->SetOption(ENCODER_OPTION_TRACE_LEVEL, &quiet);
  dec->SetOption(DECODER_OPTION_TRACE_LEVEL, &quiet);
  if (enc->InitializeExt(&p) != 0) {
    state.SkipWithError("OpenH264 encoder refused the settings");
    return;
  }
  SDecodingParam dp;
  std::memset(&dp, 0, sizeof(dp));
  dp.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
  dec->Initialize(&dp);

  RealRGB24toYUV420Converter toYuv(s.w, s.h, 128);
  toYuv.m_bInvert = true;
  RealYUV420toRGB24Converter toRgb;
  toRgb.m_nWidth = s.w;
  toRgb.m_nHeight = s.h;
  toRgb.m_nChromaOffset = 128;
  toRgb.m_bInvert = true;
  std::vector<uint8_t> yuv(static_cast<size_t>(s.w) * s.h * 3 / 2);
  std::vector<uint8_t> stream(static_cast<size_t>(s.w) * s.h * 3);
  std::vector<uint8_t> rgb(static_cast<size_t>(s.w) * s.h * 3);
  int64_t n = 0, bytes = 0;
  for (auto _ : state) {
    const auto& frame = clip[n % kClipFrames];
    uint8_t* pY = yuv.data();
    uint8_t* pU = pY + s.w * s.h;
    uint8_t* pV = pU + s.w * s.h / 4;
    toYuv.Convert(frame.data(), pY, pU, pV);
    SSourcePicture pic;
    std::memset(&pic, 0, sizeof(pic));
    pic.iColorFormat = videoFormatI420;
    pic.iPicWidth = s.w;
    pic.iPicHeight = s.h;
    pic.iStride[0] = s.w;
    pic.iStride[1] = pic.iStride[2] = s.w / 2;
    pic.pData[0] = pY;
    pic.pData[1] = pU;
    pic.pData[2] = pV;
    pic.uiTimeStamp = n * 40;
    SFrameBSInfo info;
    std::memset(&info, 0, sizeof(info));
    enc->EncodeFrame(&pic, &info);
    size_t len = 0;
    for (int l = 0; l < info.iLayerNum; ++l) {
      int layerBytes = 0;
      for (int k = 0; k < info.sLayerInfo[l].iNalCount; ++k)
        layerBytes += info.sLayerInfo[l].pNalLengthInByte[k];
      std::memcpy(stream.data() + len, info.sLayerInfo[l].pBsBuf, layerBytes);
      len += layerBytes;
    }
    uint8_t* planes[3] = {};
    SBufferInfo out;
    std::memset(&out, 0, sizeof(out));
    dec->DecodeFrameNoDelay(stream.data(), static_cast<int>(len), planes, &out);
    if (out.iBufferStatus == 1) {
      const int ys = out.UsrData.sSystemBuffer.iStride[0], uvs = out.UsrData.sSystemBuffer.iStride[1];
      toRgb.ConvertStrided(planes[0], ys, planes[1], uvs, planes[2], uvs, rgb.data(), s.w * 3);
    }
    benchmark::DoNotOptimize(rgb.data());
    bytes += static_cast<int64_t>(len);
    ++n;
  }
  state.SetItemsProcessed(n);
  state.counters["kbit_per_frame"] = n ? bytes * 8.0 / 1000 / n : 0;
  enc->Uninitialize();
  WelsDestroySVCEncoder(enc);
  dec->Uninitialize();
  WelsDestroyDecoder(dec);
}

void RunCorvex(benchmark::State& state, Size s) {
  const auto clip = MakeClip(s.w, s.h);
  CorvexFactory factory;
  ICodecv2* enc = factory.GetCodecInstance();
  ICodecv2* dec = factory.GetCodecInstance();
  const std::string w = std::to_string(s.w), h = std::to_string(s.h);
  const std::string q = std::to_string(kQuantiser);
  const char* const encSettings[][2] = {
      {"width", w.c_str()}, {"height", h.c_str()}, {"incolour", "0"}, {"flip", "1"},
      {"mode of operation", "0"}, {"quality", q.c_str()}, {"switchframeperiod", "12"},
      {"num rate control frames", "25"}, {"generate param set on open", "1"}};
  for (const auto& kv : encSettings) enc->SetParameter(kv[0], kv[1]);
  std::vector<uint8_t> sets[2];
  for (int t = 0; t < 2; ++t) {
    enc->SetParameter("picture coding type", t == 0 ? "2" : "3");
    sets[t].resize(100);
    enc->Code(nullptr, sets[t].data(), 800);
    sets[t].resize(static_cast<size_t>(enc->GetCompressedLength()));
  }
  enc->SetParameter("picture coding type", "0");
  if (!enc->Open()) {
    state.SkipWithError(enc->GetErrorText());
    return;
  }
  dec->SetParameter("width", w.c_str());
  dec->SetParameter("height", h.c_str());
  dec->SetParameter("outcolour", "0");
  dec->SetParameter("flip", "1");
  std::vector<uint8_t> scratch(256);
  for (auto& set : sets) dec->Decode(set.data(), static_cast<int>(set.size() * 8), scratch.data());
  if (!dec->Open()) {
    state.SkipWithError(dec->GetErrorText());
    return;
  }
  std::vector<uint8_t> stream(static_cast<size_t>(s.w) * s.h * 3);
  std::vector<uint8_t> rgb(static_cast<size_t>(s.w) * s.h * 3);
  int64_t n = 0, bytes = 0;
  for (auto _ : state) {
    enc->Code(clip[n % kClipFrames].data(), stream.data(), s.w * s.h * 24);
    const int len = enc->GetCompressedLength();
    dec->Decode(stream.data(), len * 8, rgb.data());
    benchmark::DoNotOptimize(rgb.data());
    bytes += len;
    ++n;
  }
  state.SetItemsProcessed(n);
  state.counters["kbit_per_frame"] = n ? bytes * 8.0 / 1000 / n : 0;
  enc->Close();
  dec->Close();
  factory.ReleaseCodecInstance(enc);
  factory.ReleaseCodecInstance(dec);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string reps = "--benchmark_repetitions=5", aggr = "--benchmark_report_aggregates_only=true",
              shuffle = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, {reps.data(), aggr.data(), shuffle.data()});
  int n = static_cast<int>(args.size());
  for (const Size& s : kSizes) {
    const std::string key = std::to_string(s.w) + "x" + std::to_string(s.h);
    benchmark::RegisterBenchmark(("roundtrip/" + key + "/raw").c_str(), RunRaw, s)
        ->Unit(benchmark::kMillisecond)
        ->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark(("roundtrip/" + key + "/corvex").c_str(), RunCorvex, s)
        ->Unit(benchmark::kMillisecond)
        ->MeasureProcessCPUTime();
  }
  benchmark::Initialize(&n, args.data());
  if (benchmark::ReportUnrecognizedArguments(n, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

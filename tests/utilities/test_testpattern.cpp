// TestPatternSource through the graph manager into a sample grabber: the bytes, times, types and
// positions it produces are what its parameters say.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <limits>

#include <cmath>
#include <map>

#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"
#include "support_utilities.h"

using namespace utiltest;

namespace {

struct PatternRun {
  std::vector<Grabbed> samples;
  AM_MEDIA_TYPE type{};
  LONG endCode = 0;
  LONG eosCount = 0;
  ~PatternRun() { FreeMediaType(type); }
};

// Source with the given parameters -> grabber, run to the end.
void RunPattern(const std::map<std::string, std::string>& params, PatternRun* run) {
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_TestPatternSource);
  ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
  ASSERT_TRUE(source && grabber);
  for (const auto& [name, value] : params) ASSERT_EQ(Set(source.Get(), name.c_str(), value), S_OK) << name;
  Graph g;
  ASSERT_EQ(g.Build({source.Get(), grabber.Get()}), S_OK);
  run->endCode = g.RunToEnd();
  run->samples = ReadGrabber(grabber.Get());
  run->type = GrabberType(grabber.Get());
  grabber.As<IPlenorSampleGrabber>()->GetEndOfStreamCount(&run->eosCount);
}

const VIDEOINFOHEADER& Vih(const AM_MEDIA_TYPE& mt) { return *reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat); }

TEST(TestPattern, SolidRedInEveryVideoFormat) {
  struct Case {
    const char* format;
    GUID subtype;
    WORD bits;
    std::vector<BYTE> pixel;  // the bytes of one pixel (RGB) or per plane (I420: Y, U, V)
  };
  const Case cases[] = {
      {"RGB24", MEDIASUBTYPE_RGB24, 24, {0, 0, 255}},
      {"RGB32", MEDIASUBTYPE_RGB32, 32, {0, 0, 255, 255}},
      {"ARGB32", MEDIASUBTYPE_ARGB32, 32, {0, 0, 255, 255}},
      {"AYUV", MEDIASUBTYPE_AYUV, 32, {240, 90, 82, 255}},  // V, U, Y, A of studio-range red
      {"I420", MEDIASUBTYPE_I420, 12, {82, 90, 240}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    PatternRun run;
    RunPattern({{"format", c.format}, {"width", "6"}, {"height", "4"}, {"pattern", "solid"}, {"colour", "FF0000"},
                {"frames", "2"}, {"framerate", "25"}},
               &run);
    EXPECT_EQ(run.endCode, EC_COMPLETE);
    ASSERT_EQ(run.samples.size(), 2u);
    ASSERT_EQ(run.type.subtype, c.subtype);
    ASSERT_EQ(run.type.formattype, FORMAT_VideoInfo);
    const BITMAPINFOHEADER& bih = Vih(run.type).bmiHeader;
    EXPECT_EQ(bih.biWidth, 6);
    EXPECT_EQ(bih.biHeight, 4);  // positive: bottom-up RGB, as a capture source delivers it
    EXPECT_EQ(bih.biBitCount, c.bits);
    EXPECT_EQ(Vih(run.type).AvgTimePerFrame, 400000);
    const size_t expected = c.subtype == MEDIASUBTYPE_RGB24 ? 20 * 4 : c.subtype == MEDIASUBTYPE_I420 ? 36 : 96;
    EXPECT_EQ(bih.biSizeImage, expected);
    EXPECT_EQ(run.type.lSampleSize, expected);
    const std::vector<BYTE>& b = run.samples[1].bytes;
    ASSERT_EQ(b.size(), expected);
    if (c.subtype == MEDIASUBTYPE_I420) {
      for (size_t i = 0; i < 24; ++i) ASSERT_EQ(b[i], 82) << i;
      for (size_t i = 24; i < 30; ++i) ASSERT_EQ(b[i], 90) << i;
      for (size_t i = 30; i < 36; ++i) ASSERT_EQ(b[i], 240) << i;
    } else if (c.subtype == MEDIASUBTYPE_RGB24) {
      for (size_t row = 0; row < 4; ++row) {
        for (size_t x = 0; x < 6; ++x)
          for (size_t k = 0; k < 3; ++k) ASSERT_EQ(b[row * 20 + 3 * x + k], c.pixel[k]);
        EXPECT_EQ(b[row * 20 + 18], 0);  // row padding
        EXPECT_EQ(b[row * 20 + 19], 0);
      }
    } else {
      for (size_t i = 0; i < b.size(); ++i) ASSERT_EQ(b[i], c.pixel[i % 4]) << i;
    }
  }
}

TEST(TestPattern, FractionalAndDecimalFrameRatesGiveExactTimes) {
  PatternRun ntsc;
  RunPattern({{"framerate", "30000/1001"}, {"frames", "5"}, {"width", "8"}, {"height", "8"}}, &ntsc);
  EXPECT_EQ(ntsc.endCode, EC_COMPLETE);
  EXPECT_EQ(ntsc.eosCount, 1);
  ASSERT_EQ(ntsc.samples.size(), 5u);
  EXPECT_EQ(Vih(ntsc.type).AvgTimePerFrame, 333667);
  const REFERENCE_TIME starts[] = {0, 333667, 667333, 1001000, 1334667, 1668333};
  for (size_t n = 0; n < 5; ++n) {
    const GRABBED_SAMPLE_INFO& i = ntsc.samples[n].info;
    EXPECT_TRUE(i.bTimeValid && i.bStopValid);
    EXPECT_EQ(i.tStart, starts[n]) << n;
    EXPECT_EQ(i.tStop, starts[n + 1]) << n;
    EXPECT_TRUE(i.bMediaTimeValid);
    EXPECT_EQ(i.tMediaStart, static_cast<LONGLONG>(n));
    EXPECT_EQ(i.tMediaStop, static_cast<LONGLONG>(n + 1));
    EXPECT_TRUE(i.bSyncPoint);
    EXPECT_EQ(i.bDiscontinuity, n == 0 ? TRUE : FALSE);
  }
  // 29.97 is 2997/100, not 30000/1001: frame 3 starts one unit later.
  PatternRun decimal;
  RunPattern({{"framerate", "29.97"}, {"frames", "4"}, {"width", "8"}, {"height", "8"}}, &decimal);
  ASSERT_EQ(decimal.samples.size(), 4u);
  EXPECT_EQ(decimal.samples[3].info.tStart, 1001001);
  EXPECT_EQ(Vih(decimal.type).AvgTimePerFrame, 333667);
}

// Byte offset of picture pixel (x, y) (y = 0 at the top) in a bottom-up RGB24 frame.
size_t Rgb24At(int width, int height, int x, int y) {
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  return stride * static_cast<size_t>(height - 1 - y) + 3 * static_cast<size_t>(x);
}

TEST(TestPattern, BarsMoveAndCarryTheFrameNumber) {
  PatternRun run;
  RunPattern({{"width", "64"}, {"height", "48"}, {"frames", "2"}, {"pattern", "bars"}}, &run);
  ASSERT_EQ(run.samples.size(), 2u);
  // Bottom row of frame 0: eight bars of 8 columns, white, yellow, cyan, green, magenta, red,
  // blue, black (bytes B, G, R).
  const BYTE bars[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                           {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
  const std::vector<BYTE>& f0 = run.samples[0].bytes;
  const std::vector<BYTE>& f1 = run.samples[1].bytes;
  for (int x = 0; x < 64; ++x)
    for (int k = 0; k < 3; ++k) ASSERT_EQ(f0[Rgb24At(64, 48, x, 47) + k], bars[x / 8][k]) << x;
  // Frame 1 is moved left by two columns.
  for (int x = 0; x < 64; ++x)
    for (int k = 0; k < 3; ++k) ASSERT_EQ(f1[Rgb24At(64, 48, x, 47) + k], bars[((x + 2) % 64) / 8][k]) << x;
  // The counter at the top left: "0" has a hole at (3, 4), "1" has its stem there; the box
  // around the digit is black.
  auto grey = [&](const std::vector<BYTE>& f, int x, int y) { return f[Rgb24At(64, 48, x, y)]; };
  EXPECT_EQ(grey(f0, 3, 4), 0);
  EXPECT_EQ(grey(f0, 2, 4), 255);
  EXPECT_EQ(grey(f1, 3, 4), 255);
  EXPECT_EQ(grey(f1, 2, 4), 0);
  EXPECT_EQ(grey(f0, 1, 1), 0);
}

// Every format packs the same picture: the RGB32 frames (the picture itself, bottom-up) are the
// bars everywhere but in the counter's box (rows s to 8s - 1, s = max(1, height / 48), black or
// white there), and the other formats equal what the RGB32 frame converts to. The sizes put the
// box inside the picture, across a picture's whole height, and at a scale above 1; frame 10 has a
// wider box.
TEST(TestPattern, EveryFormatPacksTheSamePicture) {
  const BYTE bars[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                           {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
  auto luma = [](int r, int g, int b) { return static_cast<BYTE>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16); };
  auto cb = [](int r, int g, int b) { return static_cast<BYTE>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128); };
  auto cr = [](int r, int g, int b) { return static_cast<BYTE>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128); };
  struct Size {
    int w, h;
  };
  for (const Size size : {Size{64, 48}, Size{38, 6}, Size{200, 150}}) {
    const int w = size.w, h = size.h, s = std::max(1, h / 48);
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    auto run = [&](const char* format, PatternRun* r) {
      RunPattern({{"format", format}, {"width", std::to_string(w)}, {"height", std::to_string(h)},
                  {"frames", "11"}, {"pattern", "bars"}},
                 r);
      ASSERT_EQ(r->samples.size(), 11u);
    };
    PatternRun rgb32, rgb24, ayuv, i420;
    run("RGB32", &rgb32);
    run("RGB24", &rgb24);
    run("AYUV", &ayuv);
    run("I420", &i420);
    for (size_t n : {0, 1, 10}) {  // 10: a wider counter
      SCOPED_TRACE(n);
      const std::vector<BYTE>& pic = rgb32.samples[n].bytes;
      auto px = [&](int x, int y) { return pic.data() + 4 * (static_cast<size_t>(h - 1 - y) * w + x); };
      const int step = std::max(1, w / 32), boxEnd = (4 * static_cast<int>(std::to_string(n).size()) + 2) * s;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const BYTE* p = px(x, y);
          if (y >= s && y < 8 * s && x >= s && x < boxEnd) {
            ASSERT_TRUE(p[0] == p[1] && p[1] == p[2] && (p[0] == 0 || p[0] == 255)) << x << "," << y;
          } else if (y < s || y >= 8 * s) {
            const BYTE* c = bars[((x + n * step) % w) * 8 / w];
            ASSERT_TRUE(p[0] == c[0] && p[1] == c[1] && p[2] == c[2] && p[3] == 255) << x << "," << y;
          }
        }
      const std::vector<BYTE>& b24 = rgb24.samples[n].bytes;
      const std::vector<BYTE>& yuva = ayuv.samples[n].bytes;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const BYTE* p = px(x, y);
          const size_t at = Rgb24At(w, h, x, y), a = 4 * (static_cast<size_t>(y) * w + x);
          ASSERT_TRUE(b24[at] == p[0] && b24[at + 1] == p[1] && b24[at + 2] == p[2]) << x << "," << y;
          ASSERT_TRUE(yuva[a] == cr(p[2], p[1], p[0]) && yuva[a + 1] == cb(p[2], p[1], p[0]) &&
                      yuva[a + 2] == luma(p[2], p[1], p[0]) && yuva[a + 3] == 255)
              << x << "," << y;
        }
      const std::vector<BYTE>& yuv = i420.samples[n].bytes;
      const size_t cw = static_cast<size_t>(w / 2), ch = static_cast<size_t>(h / 2);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ASSERT_EQ(yuv[static_cast<size_t>(y) * w + x], luma(px(x, y)[2], px(x, y)[1], px(x, y)[0]));
      for (size_t y = 0; y < ch; ++y)
        for (size_t x = 0; x < cw; ++x) {
          int sum[3] = {0, 0, 0};
          for (int k = 0; k < 4; ++k)
            for (int c = 0; c < 3; ++c) sum[c] += px(static_cast<int>(2 * x) + k % 2, static_cast<int>(2 * y) + k / 2)[c];
          const int bl = (sum[0] + 2) / 4, gr = (sum[1] + 2) / 4, re = (sum[2] + 2) / 4;
          const size_t u = static_cast<size_t>(w) * h + y * cw + x;
          ASSERT_TRUE(yuv[u] == cb(re, gr, bl) && yuv[u + cw * ch] == cr(re, gr, bl)) << x << "," << y;
        }
    }
  }
}

TEST(TestPattern, NoiseIsReproducibleFromItsSeed) {
  auto noise = [](const char* seed, PatternRun* run) {
    RunPattern({{"pattern", "noise"}, {"seed", seed}, {"frames", "2"}, {"width", "16"}, {"height", "16"},
                {"format", "RGB32"}},
               run);
  };
  PatternRun a, b, c;
  noise("7", &a);
  noise("7", &b);
  noise("8", &c);
  ASSERT_EQ(a.samples.size(), 2u);
  ASSERT_EQ(b.samples.size(), 2u);
  ASSERT_EQ(c.samples.size(), 2u);
  EXPECT_EQ(a.samples[0].bytes, b.samples[0].bytes);
  EXPECT_EQ(a.samples[1].bytes, b.samples[1].bytes);
  EXPECT_NE(a.samples[0].bytes, a.samples[1].bytes);
  EXPECT_NE(a.samples[0].bytes, c.samples[0].bytes);
}

TEST(TestPattern, ToneSamplesTimesAndFormat) {
  PatternRun run;
  RunPattern({{"format", "PCM"}, {"samplerate", "8000"}, {"channels", "2"}, {"bits", "16"}, {"tone_left", "1000"},
              {"tone_right", "250"}, {"samples_per_buffer", "100"}, {"frames", "3"}},
             &run);
  EXPECT_EQ(run.endCode, EC_COMPLETE);
  ASSERT_EQ(run.type.majortype, MEDIATYPE_Audio);
  ASSERT_EQ(run.type.subtype, MEDIASUBTYPE_PCM);
  ASSERT_EQ(run.type.formattype, FORMAT_WaveFormatEx);
  const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(run.type.pbFormat);
  EXPECT_EQ(wfx->wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(wfx->nChannels, 2);
  EXPECT_EQ(wfx->nSamplesPerSec, 8000u);
  EXPECT_EQ(wfx->wBitsPerSample, 16);
  EXPECT_EQ(wfx->nBlockAlign, 4);
  EXPECT_EQ(wfx->nAvgBytesPerSec, 32000u);
  ASSERT_EQ(run.samples.size(), 3u);
  const double pi = std::acos(-1.0);
  for (size_t k = 0; k < 3; ++k) {
    const Grabbed& s = run.samples[k];
    EXPECT_EQ(s.info.tStart, static_cast<REFERENCE_TIME>(k * 125000));
    EXPECT_EQ(s.info.tStop, static_cast<REFERENCE_TIME>((k + 1) * 125000));
    EXPECT_EQ(s.info.tMediaStart, static_cast<LONGLONG>(k * 100));
    ASSERT_EQ(s.bytes.size(), 400u);
    for (size_t i = 0; i < 100; ++i) {
      const double t = static_cast<double>(k * 100 + i) / 8000.0;
      const int left = static_cast<int16_t>(s.bytes[4 * i] | (s.bytes[4 * i + 1] << 8));
      const int right = static_cast<int16_t>(s.bytes[4 * i + 2] | (s.bytes[4 * i + 3] << 8));
      ASSERT_NEAR(left, 0.5 * 32767 * std::sin(2 * pi * 1000 * t), 1.0) << k << " " << i;
      ASSERT_NEAR(right, 0.5 * 32767 * std::sin(2 * pi * 250 * t), 1.0) << k << " " << i;
    }
  }
  // 8-bit mono: unsigned samples around 128.
  PatternRun mono;
  RunPattern({{"format", "PCM"}, {"samplerate", "8000"}, {"channels", "1"}, {"bits", "8"}, {"tone_left", "2000"},
              {"samples_per_buffer", "8"}, {"frames", "1"}},
             &mono);
  ASSERT_EQ(mono.samples.size(), 1u);
  const std::vector<BYTE> quarterWave = {128, 192, 128, 64, 128, 192, 128, 64};
  for (size_t i = 0; i < 8; ++i) EXPECT_NEAR(mono.samples[0].bytes[i], quarterWave[i], 1) << i;
}

TEST(TestPattern, DurationAndPositionsThroughTheGraph) {
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_TestPatternSource);
  ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
  ASSERT_EQ(Set(source.Get(), "frames", "10"), S_OK);
  ASSERT_EQ(Set(source.Get(), "framerate", "10"), S_OK);
  ASSERT_EQ(Set(source.Get(), "width", "8"), S_OK);
  ASSERT_EQ(Set(source.Get(), "height", "8"), S_OK);
  Graph g;
  ASSERT_EQ(g.Build({source.Get(), grabber.Get()}), S_OK);
  ComPtr<IMediaSeeking> seeking = g.builder.As<IMediaSeeking>();
  ASSERT_TRUE(seeking);
  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 10000000);
  // From 0.35 s to 0.75 s: frames 3 to 7 (every frame that starts before the stop).
  LONGLONG current = 3500000, stop = 7500000;
  ASSERT_EQ(seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning),
            S_OK);
  EXPECT_EQ(g.RunToEnd(), EC_COMPLETE);
  std::vector<Grabbed> samples = ReadGrabber(grabber.Get());
  ASSERT_EQ(samples.size(), 5u);
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(samples[i].info.tMediaStart, static_cast<LONGLONG>(3 + i));
    EXPECT_EQ(samples[i].info.tStart, static_cast<REFERENCE_TIME>(i * 1000000));  // times restart at the position
  }
  EXPECT_TRUE(samples[0].info.bDiscontinuity);
  // A second run after the stop replays the same stretch.
  EXPECT_EQ(g.RunToEnd(), EC_COMPLETE);
  samples = ReadGrabber(grabber.Get());
  ASSERT_EQ(samples.size(), 5u);
  EXPECT_EQ(samples[0].info.tMediaStart, 3);
}

// Stop positions far beyond any stream (a frame limit of 2^63-1 frames, a billion seconds) are
// found at once, for video and audio, and a stop inside the stream still cuts it exactly.
TEST(TestPattern, HugeStopPositionsAreTakenAtOnce) {
  struct Case {
    const char* format;
    LONGLONG stop;
    LONGLONG unit;  // the duration of one frame or buffer: the reported stop is within one of it
  };
  const LONGLONG kMax = std::numeric_limits<LONGLONG>::max();
  const Case cases[] = {
      {"RGB24", kMax, 333334},
      {"RGB24", 9223372030000000000LL, 333334},
      {"RGB24", 5365595258LL * 333333, 333334},
      {"PCM", kMax, 10000000},
      {"PCM", 922337203LL * 10000000, 10000000},
      {"RGB24", 2500000, 333334},  // a stop inside the stream ends with the frame holding it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.format << " stop " << c.stop);
    ComPtr<IBaseFilter> source = CreateFilter(CLSID_TestPatternSource);
    ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
    ASSERT_EQ(Set(source.Get(), "format", c.format), S_OK);
    ASSERT_EQ(Set(source.Get(), "width", "8"), S_OK);
    ASSERT_EQ(Set(source.Get(), "height", "8"), S_OK);
    ASSERT_EQ(Set(source.Get(), "frames", "0"), S_OK);
    Graph g;
    ASSERT_EQ(g.Build({source.Get(), grabber.Get()}), S_OK);
    ComPtr<IMediaSeeking> seeking = g.builder.As<IMediaSeeking>();
    ASSERT_TRUE(seeking);
    LONGLONG stop = c.stop;
    auto done = std::async(std::launch::async, [&] {
      return seeking->SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_AbsolutePositioning);
    });
    if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
      ADD_FAILURE() << "SetPositions is still counting";
      std::_Exit(1);
    }
    ASSERT_EQ(done.get(), S_OK);
    LONGLONG reported = 0;
    ASSERT_EQ(seeking->GetStopPosition(&reported), S_OK);
    EXPECT_GE(reported, c.stop);
    EXPECT_LT(reported - c.stop, c.unit);
  }
}

TEST(TestPattern, UnusableValuesAreRefusedAndTheOldValueKept) {
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_TestPatternSource);
  const std::pair<const char*, const char*> refused[] = {
      {"framerate", "abc"}, {"framerate", "0"},   {"framerate", "30/0"}, {"framerate", "1/2/3"},
      {"colour", "12345G"}, {"colour", "FFF"},    {"width", "1"},        {"height", "100000"},
      {"format", "YUY2"},   {"pattern", "plaid"}, {"channels", "3"},     {"bits", "24"},
      {"tone_left", "-5"},  {"samplerate", "10"},
  };
  for (const auto& [name, value] : refused) {
    const std::string before = Get(source.Get(), name);
    EXPECT_EQ(Set(source.Get(), name, value), E_FAIL) << name << "=" << value;
    EXPECT_EQ(Get(source.Get(), name), before) << name;
  }
  EXPECT_EQ(Set(source.Get(), "colour", "#00ff80"), S_OK);
  EXPECT_EQ(Set(source.Get(), "framerate", "0.5"), S_OK);

  // I420 with an odd width cannot connect, and says why.
  ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
  ASSERT_EQ(Set(source.Get(), "format", "I420"), S_OK);
  ASSERT_EQ(Set(source.Get(), "width", "7"), S_OK);
  Graph g;
  ASSERT_EQ(g.Add(source.Get()), S_OK);
  ASSERT_EQ(g.Add(grabber.Get()), S_OK);
  EXPECT_TRUE(FAILED(g.ConnectChain()));
  EXPECT_NE(LastError(source.Get()).find("even width"), std::string::npos) << LastError(source.Get());
}

}  // namespace

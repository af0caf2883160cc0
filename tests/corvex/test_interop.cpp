// Streams other programs read and write: ffmpeg decodes what the codec writes, and the codec
// decodes baseline streams that x264 (through ffmpeg) wrote to exactly ffmpeg's pictures.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kernels/converters.h"
#include "tests/corvex/support_corvex.h"

namespace {

using namespace corvextest;

// The codec settings the encoder filter makes at construction and connection.
void EncoderFilterDefaults(ICodecv2* pCodec) {
  const char* const kDefaults[][2] = {
      {"quality", "1"}, {"incolour", "16"}, {"outcolour", "16"}, {"ipicturemultiplier", "1"},
      {"switchframeperiod", "12"}, {"max bits per frame", "1000000"},
      {"num rate control frames", "25"}, {"max distortion", "30000"},
      {"ipicture dmax multiplier", "2"}, {"ipicture dmax fraction", "0"},
      {"minimum intra qp", "16"}, {"minimum inter qp", "4"}, {"rate overshoot percent", "100"},
      {"flip", "1"}, {"unrestrictedmotion", "1"}, {"extendedpicturetype", "1"},
      {"advancedintracoding", "1"}, {"alternativeintervlc", "1"}, {"modifiedquant", "1"},
      {"autoipicture", "1"}, {"ipicturefraction", "0"},
  };
  for (const auto& d : kDefaults) Set(pCodec, d[0], d[1]);
}

TEST(CorvexInterop, FfmpegDecodesEveryFrameOfAStartCodeFileUprightAbove30dB) {
  constexpr int kW = 320, kH = 240, kFrames = 30;
  TempDir dir;
  auto enc = MakeCodec();
  EncoderFilterDefaults(enc.get());
  OpenEncoder(enc.get(), kW, kH, 0, true);
  std::vector<uint8_t> file;
  std::vector<std::vector<uint8_t>> sources;  // the 4:2:0 pictures the encoder was given
  RealRGB24toYUV420Converter toYuv(kW, kH, 128);
  toYuv.m_bInvert = true;  // the RGB24 frames are bottom-up
  for (int n = 0; n < kFrames; ++n) {
    const std::vector<uint8_t> rgb = RgbFrame(kW, kH, n);
    const std::vector<uint8_t> coded = CodeOne(enc.get(), rgb.data(), kW, kH);
    ASSERT_FALSE(coded.empty());
    file.insert(file.end(), coded.begin(), coded.end());
    std::vector<uint8_t> yuv(kW * kH * 3 / 2);
    toYuv.Convert(rgb.data(), yuv.data(), yuv.data() + kW * kH, yuv.data() + kW * kH * 5 / 4);
    sources.push_back(yuv);
  }
  WriteFile(dir.path() / "ours.h264", file);
  ASSERT_TRUE(RunCommand("ffmpeg -nostdin -v error -f h264 -i " + (dir.path() / "ours.h264").string() +
                  " -f rawvideo -pix_fmt yuv420p -y " + (dir.path() / "ours.yuv").string()));
  const std::vector<uint8_t> decoded = ReadFile(dir.path() / "ours.yuv");
  const size_t nFrame = kW * kH * 3 / 2;
  ASSERT_EQ(decoded.size(), nFrame * kFrames) << "frames ffmpeg decoded";
  for (int n = 0; n < kFrames; ++n) {
    const uint8_t* pDecoded = decoded.data() + nFrame * n;
    const double dPsnr = Psnr(pDecoded, sources[n].data(), nFrame);
    EXPECT_GE(dPsnr, 30.0) << "frame " << n;
    // Upright: the picture matches the source far better than its mirror image does.
    std::vector<uint8_t> mirrored(kW * kH);
    for (int y = 0; y < kH; ++y) {
      std::memcpy(&mirrored[y * kW], &sources[n][(kH - 1 - y) * kW], kW);
    }
    EXPECT_LT(Psnr(pDecoded, mirrored.data(), kW * kH), dPsnr - 10) << "frame " << n;
  }
}

// x264 baseline streams decoded one NAL unit at a time (as the file source delivers them) give
// exactly the pictures ffmpeg decodes, cropped sizes and several intra pictures included.
TEST(CorvexInterop, X264BaselineStreamsDecodeToExactlyFfmpegsPictures) {
  const struct {
    int w, h;
    const char* params;
  } cases[] = {
      {176, 144, "keyint=10"},
      {320, 180, "keyint=25:slices=1"},  // 180 rows: the SPS crops the last macroblock row
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    TempDir dir;
    const std::string sSize = std::to_string(c.w) + "x" + std::to_string(c.h);
    const auto h264 = dir.path() / "x264.h264";
    const auto yuv = dir.path() / "x264.yuv";
    ASSERT_TRUE(RunCommand("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=" + sSize +
                    ":rate=25 -frames:v 30 -c:v libx264 -profile:v baseline -preset veryfast "
                    "-pix_fmt yuv420p -x264-params " + c.params + " -f h264 -y " +
                    h264.string()));
    ASSERT_TRUE(RunCommand("ffmpeg -nostdin -v error -f h264 -i " + h264.string() +
                    " -f rawvideo -pix_fmt yuv420p -y " + yuv.string()));
    const std::vector<uint8_t> stream = ReadFile(h264);
    const std::vector<uint8_t> reference = ReadFile(yuv);
    const size_t nFrame = static_cast<size_t>(c.w) * c.h * 3 / 2;
    ASSERT_EQ(reference.size(), nFrame * 30);

    auto dec = MakeCodec();
    Set(dec.get(), "width", std::to_string(c.w));
    Set(dec.get(), "height", std::to_string(c.h));
    Set(dec.get(), "outcolour", "16");
    const auto units = Units(stream);
    std::vector<uint8_t> picture(nFrame);
    size_t nPictures = 0;
    bool bOpened = false;
    for (const auto& u : units) {
      // The unit with its start code, exactly as it lies in the file.
      const size_t nStart = u.first >= 4 && stream[u.first - 4] == 0 ? u.first - 4 : u.first - 3;
      const int nResult = dec->Decode(stream.data() + nStart,
                                      static_cast<int>((u.first + u.second - nStart) * 8),
                                      picture.data());
      ASSERT_NE(nResult, 0) << dec->GetErrorText();
      if ((stream[u.first] & 0x1F) == 8 && !bOpened) {
        ASSERT_NE(dec->Open(), 0) << dec->GetErrorText();
        bOpened = true;
      }
      if (nResult == CORVEX_PICTURE) {
        ASSERT_LT(nPictures, 30u);
        ASSERT_TRUE(std::equal(picture.begin(), picture.end(),
                               reference.begin() + nFrame * nPictures))
            << "picture " << nPictures;
        ++nPictures;
      }
    }
    EXPECT_EQ(nPictures, 30u);
  }
}

}  // namespace

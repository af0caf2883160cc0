// Streams other programs read and write: the encoder's start-code output, written by the
// utilities' FileWriter, decoded by ffmpeg (every frame, upright, at least 30 dB PSNR at default
// settings); and baseline streams made by x264 through ffmpeg decoded through AvcDecodeFilter, in
// both the AVC1 and the trailer form, to exactly the pictures ffmpeg decodes (compared after the
// suite's own 4:2:0-to-RGB24 conversion, which the codec library shares).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "h264/common/avcformat.h"
#include "h264/decoder/avcdecode.h"
#include "h264/encoder/avcencode.h"
#include "kernels/converters.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/uuids.h"
#include "tests/h264/support_h264.h"
#include "tests/utilities/support_utilities.h"
#include "tests/support/modules.h"

using namespace h264test;
using namespace utiltest;
using plenor::test::MakeObject;

namespace {

void RegisterH264Modules() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterUtilities();
    plenor::test::RegisterPluginModules({"AvcEncodeFilter.so", "AvcDecodeFilter.so"}, PLENOR_UTILITIES_PLUGIN_DIR);
  });
}

int Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

double Psnr(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
  const double mse = sum / double(a.size());
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Rows of each frame in reverse order: bottom-up bitmap frames made top-down.
Bytes FlipRows(const Bytes& frames, size_t row, size_t height) {
  Bytes out(frames.size());
  const size_t frame = row * height;
  for (size_t f = 0; f + frame <= frames.size(); f += frame)
    for (size_t y = 0; y < height; ++y)
      std::copy_n(frames.begin() + f + (height - 1 - y) * row, row, out.begin() + f + y * row);
  return out;
}

ComPtr<IBaseFilter> Pattern(int width, int height, int frames) {
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_TestPatternSource);
  EXPECT_EQ(Set(source.Get(), "format", "RGB24"), S_OK);
  EXPECT_EQ(Set(source.Get(), "width", std::to_string(width)), S_OK);
  EXPECT_EQ(Set(source.Get(), "height", std::to_string(height)), S_OK);
  EXPECT_EQ(Set(source.Get(), "frames", std::to_string(frames)), S_OK);
  EXPECT_EQ(Set(source.Get(), "pattern", "bars"), S_OK);
  return source;
}

ComPtr<IBaseFilter> Writer(const std::string& file) {
  ComPtr<IBaseFilter> writer = CreateFilter(CLSID_FileWriter);
  EXPECT_EQ(Set(writer.Get(), "filename", file), S_OK);
  return writer;
}

// The coding loss is measured on the 4:2:0 pictures: ffmpeg's decoded planes against the
// suite's RGB24-to-4:2:0 conversion of the source frames (what the encoder codes). Measured in
// RGB the bars' saturated edges lose about 22 dB to chroma subsampling alone, coded or not.
TEST(H264Interop, EncoderStartCodeStreamsPlayInFfmpegUpright) {
  RegisterH264Modules();
  constexpr int kWidth = 176, kHeight = 144, kFrames = 20;
  constexpr size_t kFrame = size_t(kWidth) * kHeight * 3 / 2;
  ScratchDir dir;
  {
    Graph graph;
    ASSERT_EQ(graph.Build({Pattern(kWidth, kHeight, kFrames).Get(), Writer(dir.File("source.rgb")).Get()}), S_OK);
    ASSERT_EQ(graph.RunToEnd(), EC_COMPLETE);
  }
  const Bytes rgb = ReadFile(dir.File("source.rgb"));
  ASSERT_EQ(rgb.size(), size_t(3) * kWidth * kHeight * kFrames);
  Bytes source(kFrame * kFrames);
  RealRGB24toYUV420Converter converter(kWidth, kHeight, 128);
  converter.m_bInvert = true;  // bottom-up bitmap rows in, top-down planes out
  converter.SelectKernel();
  for (int f = 0; f < kFrames; ++f) {
    BYTE* y = source.data() + f * kFrame;
    converter.Convert(rgb.data() + size_t(f) * 3 * kWidth * kHeight, y, y + kWidth * kHeight,
                      y + kWidth * kHeight * 5 / 4);
  }
  for (const char* type : {"0", "1"}) {
    SCOPED_TRACE(type);
    const std::string stream = dir.File(std::string("out") + type + ".h264");
    const std::string decoded = dir.File(std::string("out") + type + ".yuv");
    {
      Graph graph;
      ComPtr<IBaseFilter> encoder = CreateFilter(CLSID_AvcEncodeFilter);
      ASSERT_EQ(Set(encoder.Get(), "h264_output_type", type), S_OK);
      ASSERT_EQ(graph.Build({Pattern(kWidth, kHeight, kFrames).Get(), encoder.Get(), Writer(stream).Get()}), S_OK);
      ASSERT_EQ(graph.RunToEnd(), EC_COMPLETE);
      EXPECT_EQ(LastErrorOf(encoder.Get()), "");
    }
    ASSERT_EQ(Shell("ffmpeg -nostdin -y -f h264 -i " + stream + " -f rawvideo -pix_fmt yuv420p " + decoded), 0);
    const Bytes pictures = ReadFile(decoded);
    ASSERT_EQ(pictures.size(), source.size()) << "ffmpeg decoded " << pictures.size() / kFrame << " frames";
    const double psnr = Psnr(pictures, source);
    RecordProperty(std::string("psnr_type") + type, std::to_string(psnr));
    EXPECT_GE(psnr, 30.0);
    // Upright: the luma planes match the source's, not their mirror image.
    Bytes luma, sourceLuma;
    for (int f = 0; f < kFrames; ++f) {
      luma.insert(luma.end(), pictures.begin() + f * kFrame, pictures.begin() + f * kFrame + kWidth * kHeight);
      sourceLuma.insert(sourceLuma.end(), source.begin() + f * kFrame,
                        source.begin() + f * kFrame + kWidth * kHeight);
    }
    EXPECT_GT(Psnr(luma, sourceLuma), Psnr(FlipRows(luma, kWidth, kHeight), sourceLuma) + 10);
  }
}

// NAL units of an Annex B byte stream (3- or 4-byte start codes), each returned with a 4-byte
// start code.
std::vector<Bytes> SplitUnits(const Bytes& stream) {
  std::vector<size_t> starts, bodies;
  for (size_t i = 0; i + 3 <= stream.size(); ++i) {
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
      starts.push_back(i > 0 && stream[i - 1] == 0 ? i - 1 : i);
      bodies.push_back(i + 3);
      i += 2;
    }
  }
  std::vector<Bytes> units;
  for (size_t k = 0; k < bodies.size(); ++k) {
    const size_t end = k + 1 < starts.size() ? starts[k + 1] : stream.size();
    Bytes unit = {0, 0, 0, 1};
    unit.insert(unit.end(), stream.begin() + bodies[k], stream.begin() + end);
    units.push_back(unit);
  }
  return units;
}

class X264Streams : public testing::Test {
 protected:
  static constexpr int kWidth = 176, kHeight = 144, kFrames = 24;
  static void SetUpTestSuite() {
    dir = std::make_unique<ScratchDir>();
    const std::string stream = dir->File("x264.h264"), yuv = dir->File("ffmpeg.yuv");
    ASSERT_EQ(Shell("ffmpeg -nostdin -y -f lavfi -i testsrc=size=176x144:rate=25 -frames:v 24 -c:v libx264 "
                  "-profile:v baseline -pix_fmt yuv420p -x264-params keyint=8:slices=1:ref=1 -f h264 " +
                  stream),
              0);
    ASSERT_EQ(Shell("ffmpeg -nostdin -y -f h264 -i " + stream + " -f rawvideo -pix_fmt yuv420p " + yuv), 0);
    units = SplitUnits(ReadFile(stream));
    // The pictures ffmpeg decoded, as RGB24 bitmaps (bottom-up) by the suite's converter.
    const Bytes planes = ReadFile(yuv);
    const size_t frame = size_t(kWidth) * kHeight * 3 / 2;
    ASSERT_EQ(planes.size(), frame * kFrames);
    RealYUV420toRGB24Converter converter;
    converter.m_nWidth = kWidth;
    converter.m_nHeight = kHeight;
    converter.m_nChromaOffset = 128;
    converter.m_bInvert = true;
    converter.SelectKernel();
    for (int f = 0; f < kFrames; ++f) {
      Bytes rgb(size_t(kWidth) * kHeight * 3);
      const BYTE* y = planes.data() + f * frame;
      converter.Convert(y, y + kWidth * kHeight, y + kWidth * kHeight * 5 / 4, rgb.data());
      reference.push_back(rgb);
    }
  }
  static void TearDownTestSuite() { dir.reset(); }
  const Bytes& Unit(int type) {
    for (const Bytes& u : units)
      if ((u[4] & 0x1F) == type) return u;
    static const Bytes none;
    return none;
  }
  // Pushes every unit as one sample (length-prefixed when avc1) and returns the frames.
  std::vector<Bytes> Decode(const CMediaType& type, bool avc1) {
    Chain<AvcDecodeFilter> chain(MakeObject<AvcDecodeFilter>(h264::CorvexProvider()), type, 1 << 16);
    EXPECT_EQ(chain.outputConnect, S_OK) << LastErrorOf(chain.Base());
    for (Bytes unit : units) {
      if (avc1) h264::StartCodesToLengthPrefixes(unit);
      EXPECT_EQ(chain.push->PushBytes(unit, 0, 1), S_OK);
    }
    std::vector<Bytes> frames;
    for (const auto& s : chain.sink->Samples()) frames.push_back(s.data);
    EXPECT_EQ(LastErrorOf(chain.Base()), "");
    return frames;
  }
  static std::unique_ptr<ScratchDir> dir;
  static std::vector<Bytes> units;
  static std::vector<Bytes> reference;
};
std::unique_ptr<ScratchDir> X264Streams::dir;
std::vector<Bytes> X264Streams::units;
std::vector<Bytes> X264Streams::reference;

TEST_F(X264Streams, DecodeToFfmpegsPicturesInBothForms) {
  const Bytes& sps = Unit(7);
  const Bytes& pps = Unit(8);
  ASSERT_FALSE(sps.empty());
  ASSERT_FALSE(pps.empty());
  Bytes header(h264::SequenceHeaderSize(sps, pps));
  h264::WriteSequenceHeader(sps, pps, header.data());
  Bytes trailer;
  h264::AppendTrailer(trailer, sps, pps);
  const struct {
    const char* name;
    CMediaType type;
    bool avc1;
  } forms[] = {
      {"AVC1", Avc1Type(kWidth, kHeight, header), true},
      {"trailer", TrailerType(MEDIATYPE_Video, MEDIASUBTYPE_PLENOR_H264, kWidth, kHeight, trailer), false},
  };
  for (const auto& form : forms) {
    SCOPED_TRACE(form.name);
    const std::vector<Bytes> frames = Decode(form.type, form.avc1);
    ASSERT_EQ(frames.size(), reference.size());
    for (size_t f = 0; f < frames.size(); ++f) EXPECT_TRUE(frames[f] == reference[f]) << "frame " << f;
  }
}

}  // namespace

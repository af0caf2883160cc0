// H.264 files played through the source (usequelth264 set) into the suite's decoder, as a host
// builds the graph: streams of the suite's own codec and of x264 (through ffmpeg) come out as the
// very pictures ffmpeg decodes from the same file (its 4:2:0 planes through the suite's colour
// converter), also after seeking to an IDR slice.
#include <gtest/gtest.h>


#include "h264/decoder/avcdecode.h"
#include "kernels/converters.h"
#include "platform/com/runtime.h"
#include "tests/corvex/support_corvex.h"
#include "tests/sources/avcfile_support.h"

using namespace avctest;
using rawtest::TempDir;

namespace {

// The RGB24 frames (bottom-up rows, as the decoder writes them) of the pictures ffmpeg decodes
// from a file. Widths are chosen so that rows need no padding.
std::vector<Bytes> FfmpegPictures(const std::string& file, const std::string& yuv, int width, int height) {
  EXPECT_TRUE(corvextest::RunCommand("ffmpeg -nostdin -v error -f h264 -i '" + file +
                                     "' -f rawvideo -pix_fmt yuv420p -y '" + yuv + "'"));
  const Bytes planes = ReadBytes(yuv);
  const size_t frame = static_cast<size_t>(width) * height * 3 / 2, row = static_cast<size_t>(width) * 3;
  RealYUV420toRGB24Converter converter;
  converter.m_nWidth = width;
  converter.m_nHeight = height;
  converter.m_nChromaOffset = 128;
  converter.m_bInvert = true;  // bottom-up rows
  std::vector<Bytes> pictures;
  for (size_t at = 0; at + frame <= planes.size(); at += frame) {
    const BYTE* y = planes.data() + at;
    Bytes rgb(row * height);
    converter.Convert(y, y + width * height, y + width * height * 5 / 4, rgb.data());
    pictures.push_back(std::move(rgb));
  }
  return pictures;
}

// AvcFileSource -> AvcDecodeFilter -> SampleGrabber through the graph manager.
struct DecodeGraph {
  explicit DecodeGraph(const std::string& file) {
    source = CreateAvcFileSource();
    if (!source) return;
    EXPECT_EQ(rawtest::SetParam(source.Get(), "usequelth264", "1"), S_OK);
    EXPECT_EQ(rawtest::LoadFile(source.Get(), file), S_OK) << LastError(source.Get());
    EXPECT_EQ(CoCreateInstance(CLSID_AvcDecodeFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               decoder.AsOut()),
              S_OK);
    pipeline = std::make_unique<rawtest::Pipeline>(source);
    if (!decoder || !pipeline->graph) return;
    IGraphBuilder* graph = pipeline->graph.Get();
    // The pipeline joined source and grabber directly: put the decoder between them.
    graph->Disconnect(plenor::test::PinOf(source.Get(), 0).Get());
    graph->Disconnect(plenor::test::PinOf(pipeline->grabberFilter.Get(), 0).Get());
    EXPECT_EQ(graph->AddFilter(decoder.Get(), L"Decoder"), S_OK);
    connected = graph->ConnectDirect(plenor::test::PinOf(source.Get(), 0).Get(),
                                     plenor::test::PinOf(decoder.Get(), 0).Get(), nullptr);
    if (SUCCEEDED(connected))
      connected = graph->ConnectDirect(plenor::test::PinOf(decoder.Get(), 1).Get(),
                                       plenor::test::PinOf(pipeline->grabberFilter.Get(), 0).Get(), nullptr);
  }
  ~DecodeGraph() {
    if (pipeline && pipeline->control) pipeline->control->Stop();
    if (pipeline && pipeline->graph && decoder) pipeline->graph->RemoveFilter(decoder.Get());
  }
  std::vector<Bytes> Run() {
    EXPECT_EQ(pipeline->RunToEnd(), EC_COMPLETE) << LastError(source.Get());
    std::vector<Bytes> out;
    for (rawtest::Grabbed& g : pipeline->Samples()) out.push_back(std::move(g.data));
    EXPECT_EQ(pipeline->Stop(), S_OK);
    return out;
  }

  ComPtr<IBaseFilter> source, decoder;
  std::unique_ptr<rawtest::Pipeline> pipeline;
  HRESULT connected = E_FAIL;
};

struct Stream {
  const char* name;
  int width, height;
  bool x264;
  int intraPeriod;
};

class AvcFilePipeline : public testing::TestWithParam<Stream> {};

TEST_P(AvcFilePipeline, PlaysToFfmpegsPicturesAndFromEachIdrSliceItSeeksTo) {
  const Stream& s = GetParam();
  constexpr int kFrames = 24;
  TempDir dir;
  const std::string file = dir.File("clip.h264");
  if (s.x264) {
    ASSERT_TRUE(X264Stream(file, s.width, s.height, kFrames, s.intraPeriod));
  } else {
    WriteBytes(file, Join(EncodeStream(s.width, s.height, kFrames, s.intraPeriod)));
  }
  const std::vector<Bytes> reference = FfmpegPictures(file, dir.File("reference.yuv"), s.width, s.height);
  ASSERT_EQ(reference.size(), static_cast<size_t>(kFrames));

  DecodeGraph g(file);
  ASSERT_EQ(g.connected, S_OK) << LastError(g.source.Get());
  const std::vector<Bytes> pictures = g.Run();
  ASSERT_EQ(pictures.size(), reference.size());
  for (size_t n = 0; n < pictures.size(); ++n) EXPECT_TRUE(pictures[n] == reference[n]) << "picture " << n;

  // Seeking to an indexed IDR slice: the pictures from that one on. The index holds every unit
  // but the parameter sets (SEI units included), so unit k is found by walking the file.
  const std::vector<Bytes> units = SplitUnits(ReadBytes(file));
  size_t indexed = 0, slices = 0;
  int seeks = 0;
  ComPtr<IMediaSeeking> seeking = Seeking(g.source.Get());
  for (const Bytes& u : units) {
    const int type = NalUnitReader::NalUnitType(u.data(), static_cast<uint32_t>(u.size()));
    if (type == 7 || type == 8) continue;
    if (type == 5 && slices > 0) {
      SCOPED_TRACE("unit " + std::to_string(indexed) + ", picture " + std::to_string(slices));
      LONGLONG position = static_cast<LONGLONG>(indexed) * 333333;
      ASSERT_EQ(seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
      const std::vector<Bytes> rest = g.Run();
      ASSERT_EQ(rest.size(), reference.size() - slices);
      for (size_t n = 0; n < rest.size(); ++n) EXPECT_TRUE(rest[n] == reference[slices + n]) << "picture " << n;
      ++seeks;
    }
    if (type == 1 || type == 5) ++slices;
    ++indexed;
  }
  EXPECT_GE(seeks, 2);
}

INSTANTIATE_TEST_SUITE_P(Streams, AvcFilePipeline,
                         testing::Values(Stream{"suite_codec_96x64", 96, 64, false, 8},
                                         Stream{"x264_176x144", 176, 144, true, 10},
                                         Stream{"x264_320x180_cropped", 320, 180, true, 9}),
                         [](const testing::TestParamInfo<Stream>& info) { return std::string(info.param.name); });

}  // namespace

// AvcEncodeFilter with a stand-in codec in the test harness: what it tells the codec at
// connection, the three output forms and their format blocks, the frame path (bit limit, intra
// period, notification, failures, padded rows, short samples), the settings pass-through and
// ICodecControlInterface, and every path without a codec instance.
#include <gtest/gtest.h>

#include <cstring>

#include "framework/settings.h"
#include "h264/common/avcformat.h"
#include "h264/encoder/avcencode.h"
#include "platform/strmbase/amvideo.h"
#include "platform/strmbase/uuids.h"
#include "tests/h264/support_h264.h"

using namespace h264test;
using plenor::test::MakeObject;

namespace {

struct Encoder {
  explicit Encoder(const CMediaType& input, std::initializer_list<std::pair<const char*, const char*>> before = {},
                   bool withCodec = true)
      : codec(withCodec ? std::make_unique<FakeCodec>() : nullptr) {
    Next(codec.get());
    ComPtr<AvcEncodeFilter> filter = MakeObject<AvcEncodeFilter>(FakeProvider());
    for (const auto& [name, value] : before) EXPECT_EQ(filter->SetParameter(name, value), S_OK) << name;
    if (codec) codec->log.clear();
    const VIDEOINFOHEADER* vih = reinterpret_cast<const VIDEOINFOHEADER*>(input.Format());
    const long long stride = (3LL * vih->bmiHeader.biWidth + 3) / 4 * 4;
    frameBytes = *input.Subtype() == MEDIASUBTYPE_RGB24 ? stride * std::llabs(vih->bmiHeader.biHeight)
                                                        : vih->bmiHeader.biWidth * vih->bmiHeader.biHeight * 3LL / 2;
    if (codec) codec->pictureBytes = static_cast<size_t>(3LL * vih->bmiHeader.biWidth * std::llabs(vih->bmiHeader.biHeight));
    chain = std::make_unique<Chain<AvcEncodeFilter>>(filter, input, static_cast<LONG>(frameBytes + 64));
  }
  ~Encoder() { chain.reset(); }
  AvcEncodeFilter* operator->() { return chain->filter.Get(); }
  Bytes Frame(BYTE seed = 1) const {
    Bytes f(static_cast<size_t>(frameBytes));
    for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<BYTE>(seed + 3 * i);
    return f;
  }
  std::unique_ptr<FakeCodec> codec;
  std::unique_ptr<Chain<AvcEncodeFilter>> chain;
  long long frameBytes = 0;
};

TEST(AvcEncodeFilter, ConnectionGeneratesParameterSetsThenOpens) {
  const struct {
    const char* name;
    CMediaType input;
    const char* incolour;
  } cases[] = {{"rgb", RgbType(352, 288), "0"}, {"yuv", YuvType(176, 144), "16"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Encoder enc(c.input);
    ASSERT_EQ(enc.chain->inputConnect, S_OK);
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(c.input.Format());
    const std::vector<std::string> expected = {
        "Close",
        std::string("set incolour=") + c.incolour,
        "set width=" + std::to_string(vih->bmiHeader.biWidth),
        "set height=" + std::to_string(vih->bmiHeader.biHeight),
        "set seq param set=0",
        "set pic param set=0",
        "set generate param set on open=0",
        "set picture coding type=2",
        "Code 800 null",
        "set picture coding type=3",
        "Code 800 null",
        "set picture coding type=0",
        "set generate param set on open=1",
        "Open"};
    ASSERT_GE(enc.codec->log.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(enc.codec->log.begin(), enc.codec->log.begin() + expected.size()), expected);
    EXPECT_EQ(Param(enc.chain->filter.Get(), "sps"),
              std::string(enc.codec->sps.begin(), enc.codec->sps.end()));
    EXPECT_EQ(Param(enc.chain->filter.Get(), "pps"),
              std::string(enc.codec->pps.begin(), enc.codec->pps.end()));
  }
}

TEST(AvcEncodeFilter, ConstructorSetsCodecDefaultsAndDestructorClosesAndReleases) {
  auto codec = std::make_unique<FakeCodec>();
  Next(codec.get());
  {
    ComPtr<AvcEncodeFilter> filter = MakeObject<AvcEncodeFilter>(FakeProvider());
    EXPECT_EQ(codec->params["quality"], "1");
    EXPECT_EQ(codec->params["switchframeperiod"], "12");
    EXPECT_EQ(codec->params["minimum intra qp"], "16");
    EXPECT_EQ(codec->params["flip"], "1");
    EXPECT_EQ(codec->Count("set unrestrictedmotion=1"), 2);
    EXPECT_EQ(codec->log.size(), 22u);
    EXPECT_EQ(codec->Count("Open"), 0);
  }
  ASSERT_FALSE(codec->log.empty());
  EXPECT_EQ(codec->log.back(), "Close");
  EXPECT_EQ(codec->released, 1);
}

// The three output forms: type, format block and sample framing.
TEST(AvcEncodeFilter, OutputFormsCarryTheirFormatBlocksAndFraming) {
  for (unsigned type = 0; type < 3; ++type) {
    SCOPED_TRACE(type);
    Encoder enc(RgbType(352, 288), {{"h264_output_type", std::to_string(type).c_str()}});
    ASSERT_EQ(enc.chain->outputConnect, S_OK);
    // Two units in one picture: an SPS before the slice, as the codec writes intra pictures.
    Bytes coded = enc.codec->sps;
    coded.insert(coded.end(), enc.codec->picture.begin(), enc.codec->picture.end());
    enc.codec->picture = coded;
    const CMediaType out = enc.chain->OutputType();
    const Bytes& sps = enc.codec->sps;
    const Bytes& pps = enc.codec->pps;
    if (type == 0) {
      EXPECT_EQ(*out.Subtype(), MEDIASUBTYPE_PLENOR_H264);
      ASSERT_EQ(*out.FormatType(), FORMAT_VideoInfo);
      ASSERT_EQ(out.FormatLength(), sizeof(VIDEOINFOHEADER) + sps.size() + pps.size() + 4);
      const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(out.Format());
      EXPECT_EQ(vih->bmiHeader.biCompression, h264::kAvc1FourCC);
      EXPECT_EQ(vih->bmiHeader.biBitCount, 24);
      EXPECT_EQ(vih->bmiHeader.biSizeImage, 352u * 288 * 3);
      EXPECT_EQ(vih->AvgTimePerFrame, 400000);
      const h264::TrailerSets sets = h264::ReadTrailer(h264::Bytes(out.Format(), out.FormatLength()), 88);
      ASSERT_EQ(sets.state, h264::TrailerState::Found);
      EXPECT_EQ(Bytes(sets.sps.begin(), sets.sps.end()), sps);
      EXPECT_EQ(Bytes(sets.pps.begin(), sets.pps.end()), pps);
    } else {
      EXPECT_EQ(*out.Subtype(), type == 1 ? MEDIASUBTYPE_H264 : MEDIASUBTYPE_AVC1);
      EXPECT_EQ(*out.FormatType(), type == 1 ? FORMAT_VideoInfo2 : FORMAT_MPEG2Video);
      const auto* vih2 = reinterpret_cast<const VIDEOINFOHEADER2*>(out.Format());
      EXPECT_EQ(vih2->rcSource.right, 352);
      EXPECT_EQ(vih2->rcTarget.bottom, 288);
      EXPECT_EQ(vih2->AvgTimePerFrame, 400000);
      EXPECT_EQ(vih2->dwPictAspectRatioX, 352u);
      EXPECT_EQ(vih2->dwPictAspectRatioY, 288u);
      EXPECT_EQ(vih2->bmiHeader.biSize, 40u);
      EXPECT_EQ(vih2->bmiHeader.biHeight, 288);
      EXPECT_EQ(vih2->bmiHeader.biPlanes, 1);
      EXPECT_EQ(vih2->bmiHeader.biCompression, h264::kAvc1FourCC);
      EXPECT_EQ(vih2->bmiHeader.biSizeImage, 352u * 288 * 3);
      if (type == 1) {
        EXPECT_EQ(out.FormatLength(), sizeof(VIDEOINFOHEADER2));
      } else {
        const auto* info = reinterpret_cast<const MPEG2VIDEOINFO*>(out.Format());
        EXPECT_EQ(info->dwProfile, 66u);
        EXPECT_EQ(info->dwLevel, 20u);
        EXPECT_EQ(info->dwFlags, 4u);
        ASSERT_EQ(info->cbSequenceHeader, sps.size() + pps.size() - 4);
        ASSERT_EQ(out.FormatLength(), 136 + info->cbSequenceHeader);
        Bytes expected = {0, static_cast<BYTE>(sps.size() - 4)};
        expected.insert(expected.end(), sps.begin() + 4, sps.end());
        expected.push_back(0);
        expected.push_back(static_cast<BYTE>(pps.size() - 4));
        expected.insert(expected.end(), pps.begin() + 4, pps.end());
        const BYTE* header = out.Format() + 132;
        EXPECT_EQ(Bytes(header, header + info->cbSequenceHeader), expected);
      }
    }
    Bytes sample;
    ASSERT_EQ(enc.chain->Push(enc.Frame(), &sample), S_OK);
    Bytes expected = coded;
    if (type == 2) {  // each start code replaced by the unit's length
      expected[3] = static_cast<BYTE>(sps.size() - 4);
      expected[sps.size() + 3] = static_cast<BYTE>(coded.size() - sps.size() - 4);
    }
    EXPECT_EQ(sample, expected);
  }
}

TEST(AvcEncodeFilter, EmptyParameterSetsGiveAZeroTrailerAndAnEmptySequenceHeader) {
  for (unsigned type : {0u, 2u}) {
    SCOPED_TRACE(type);
    auto codec = std::make_unique<FakeCodec>();
    Next(codec.get());
    ComPtr<AvcEncodeFilter> filter = MakeObject<AvcEncodeFilter>(FakeProvider());
    codec->sps.clear();
    codec->pps.clear();
    ASSERT_EQ(filter->SetParameter("h264_output_type", std::to_string(type).c_str()), S_OK);
    Chain<AvcEncodeFilter> chain(filter, RgbType(64, 32), 64 * 32 * 3);
    ASSERT_EQ(chain.outputConnect, S_OK);
    const CMediaType out = chain.OutputType();
    if (type == 0) {
      ASSERT_EQ(out.FormatLength(), sizeof(VIDEOINFOHEADER) + 4);
      EXPECT_EQ(Bytes(out.Format() + 88, out.Format() + 92), Bytes(4, 0));
    } else {
      EXPECT_EQ(reinterpret_cast<const MPEG2VIDEOINFO*>(out.Format())->cbSequenceHeader, 0u);
      EXPECT_EQ(out.FormatLength(), 136u);
    }
  }
}

TEST(AvcEncodeFilter, FrameBitLimitIsNeverLargerThanTheOutputBuffer) {
  const struct {
    const char* framebitlimit;
    int expected;
  } cases[] = {
      {"0", 352 * 288 * 24},          // width x height x 24 = 8 x the RGB24 buffer
      {"1000", 1000},                 // below the buffer: as set
      {"4000000000", 352 * 288 * 24},  // above: cut to the buffer
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.framebitlimit);
    Encoder enc(RgbType(352, 288), {{"framebitlimit", c.framebitlimit}});
    ASSERT_EQ(enc.chain->outputConnect, S_OK);
    enc.codec->log.clear();
    ASSERT_EQ(enc.chain->Push(enc.Frame()), S_OK);
    EXPECT_EQ(enc.codec->Count("Code " + std::to_string(c.expected)), 1) << testing::PrintToString(enc.codec->log);
  }
}

TEST(AvcEncodeFilter, FailedCodeReportsTheLimitRestartsAndDeliversAnEmptySample) {
  Encoder enc(RgbType(64, 32), {{"framebitlimit", "1000"}});
  ASSERT_EQ(enc.chain->outputConnect, S_OK);
  enc.codec->codeFails = true;
  enc.codec->error = "picture too large";
  enc.codec->log.clear();
  Bytes out;
  bool delivered = false;
  ASSERT_EQ(enc.chain->Push(enc.Frame(), &out, &delivered), S_OK);
  EXPECT_TRUE(delivered);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(LastErrorOf(enc.chain->Base()), "picture too large. Requested frame bit limit=1000.");
  EXPECT_EQ(enc.codec->log, (std::vector<std::string>{"Code 1000", "Restart"}));
  EXPECT_GE(enc.chain->graph->CountEvents(EC_PLENOR_LAST_ERROR), 1);
}

TEST(AvcEncodeFilter, IntraPeriodRestartsBeforeEveryPeriodthFrame) {
  const struct {
    const char* period;
    std::vector<int> restartsAfter;  // Restart calls counted after frames 1..6
    unsigned count;
  } cases[] = {{"0", {0, 0, 0, 0, 0, 0}, 0}, {"1", {1, 2, 3, 4, 5, 6}, 6}, {"3", {0, 0, 1, 1, 1, 2}, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.period);
    Encoder enc(RgbType(64, 32), {{"iframeperiod", c.period}});
    ASSERT_EQ(enc.chain->outputConnect, S_OK);
    std::vector<int> restarts;
    for (int i = 0; i < 6; ++i) {
      ASSERT_EQ(enc.chain->Push(enc.Frame()), S_OK);
      restarts.push_back(enc.codec->Count("Restart"));
    }
    EXPECT_EQ(restarts, c.restartsAfter);
    EXPECT_EQ(enc->FrameCount(), c.count);
  }
}

TEST(AvcEncodeFilter, NotifyOnIFrameSetsTheStatusForIntraPicturesOnly) {
  const struct {
    const char* notify;
    const char* lastType;
    const char* status;
  } cases[] = {{"1", "0", "I-Frame"}, {"1", "1", ""}, {"0", "0", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.notify << " " << c.lastType);
    Encoder enc(RgbType(64, 32), {{"notifyoniframe", c.notify}});
    ASSERT_EQ(enc.chain->outputConnect, S_OK);
    enc.codec->params["last pic coding type"] = c.lastType;
    ASSERT_EQ(enc.chain->Push(enc.Frame()), S_OK);
    EXPECT_EQ(StatusOf(enc.chain->Base()), c.status);
  }
}

TEST(AvcEncodeFilter, ShortSamplesAreRefusedAndPaddedRowsArePacked) {
  {
    Encoder enc(RgbType(64, 32));
    ASSERT_EQ(enc.chain->outputConnect, S_OK);
    enc.codec->log.clear();
    Bytes frame = enc.Frame();
    frame.pop_back();
    Bytes out;
    ASSERT_EQ(enc.chain->Push(frame, &out), S_OK);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(enc.codec->Count("Code " + std::to_string(64 * 32 * 24)), 0);
    EXPECT_EQ(LastErrorOf(enc.chain->Base()),
              "AvcEncodeFilter: input sample of 6143 bytes is shorter than one 64x32 RGB24 frame (6144 bytes); it was "
              "not coded");
  }
  {
    // 18 pixels: rows of 54 bytes padded to 56 in the bitmap; the codec reads rows of 54.
    Encoder enc(RgbType(18, 16));
    ASSERT_EQ(enc.chain->outputConnect, S_OK);
    const Bytes frame = enc.Frame(9);
    ASSERT_EQ(frame.size(), 56u * 16);
    ASSERT_EQ(enc.chain->Push(frame), S_OK);
    Bytes packed;
    for (int y = 0; y < 16; ++y) packed.insert(packed.end(), frame.begin() + y * 56, frame.begin() + y * 56 + 54);
    EXPECT_EQ(enc.codec->lastPicture, packed);
  }
  {
    Encoder enc(YuvType(64, 32));
    ASSERT_EQ(enc.chain->outputConnect, S_OK);
    Bytes out;
    ASSERT_EQ(enc.chain->Push(Bytes(64 * 32 * 3 / 2 - 1, 0), &out), S_OK);
    EXPECT_NE(LastErrorOf(enc.chain->Base()).find("shorter than one 64x32 YUV 4:2:0 frame (3072 bytes)"),
              std::string::npos);
  }
}

TEST(AvcEncodeFilter, PictureSizesTheCodecCannotTakeAreRefusedWithAReason) {
  const struct {
    LONG width, height;
    HRESULT expected;
    const char* reason;
  } cases[] = {
      {65536, 65536, VFW_E_TYPE_NOT_ACCEPTED, "65536x65536 is larger than the codec's 4096x4096"},
      {4098, 16, VFW_E_TYPE_NOT_ACCEPTED, "larger"},
      {8, 16, VFW_E_TYPE_NOT_ACCEPTED, "smaller than the codec's 16x16"},
      {17, 16, VFW_E_TYPE_NOT_ACCEPTED, "odd side"},
      {640, -480, S_OK, ""},
      {4096, 4096, S_OK, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    auto codec = std::make_unique<FakeCodec>();
    Next(codec.get());
    ComPtr<AvcEncodeFilter> filter = MakeObject<AvcEncodeFilter>(FakeProvider());
    const CMediaType type = RgbType(c.width, c.height);
    EXPECT_EQ(filter->CheckInputType(&type), c.expected);
    if (c.expected != S_OK) {
      EXPECT_NE(LastErrorOf(static_cast<IBaseFilter*>(filter.Get())).find(c.reason), std::string::npos);
    }
  }
}

TEST(AvcEncodeFilter, SettingsPassThroughReopensOnModeAndQuality) {
  const struct {
    const char* name;
    bool reopens;
  } cases[] = {{"mode", true},  {"QUALITY", true}, {"mode of operation", true}, {"q", true},
               {"qualityx", false}, {"width", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Encoder enc(RgbType(64, 32));
    ASSERT_EQ(enc.chain->outputConnect, S_OK);
    const int opens = enc.codec->Count("Open");
    EXPECT_EQ(enc->SetParameter(c.name, "2"), S_OK);
    EXPECT_EQ(enc.codec->params[c.name], "2");
    EXPECT_EQ(enc.codec->Count("Open"), opens + (c.reopens ? 1 : 0));
  }
  Encoder enc(RgbType(64, 32));
  enc.codec->refusedNames = {"nonsense", "sps"};
  EXPECT_EQ(enc->SetParameter("nonsense", "1"), E_FAIL);
  EXPECT_EQ(enc->SetParameter("sps", "x"), E_FAIL);  // read-only here, then unknown to the codec
  EXPECT_EQ(Param(enc.chain->filter.Get(), "sps"), std::string(enc.codec->sps.begin(), enc.codec->sps.end()));
  enc.codec->openSucceeds = false;
  enc.codec->error = "cannot open";
  EXPECT_EQ(enc->SetParameter("quality", "30"), E_FAIL);
  EXPECT_EQ(LastErrorOf(enc.chain->Base()), "cannot open");
  // The filter's own parameter is answered by the filter, a codec name by the codec.
  EXPECT_EQ(Param(enc.chain->filter.Get(), "h264_output_type"), "2");
  EXPECT_EQ(Param(enc.chain->filter.Get(), "quality"), "30");
  EXPECT_EQ(Param(enc.chain->filter.Get(), "no such name"), "<failed>");
  char tiny[2];
  int length = 0;
  EXPECT_EQ(enc->GetParameter("quality", sizeof tiny, tiny, &length), E_OUTOFMEMORY);
}

TEST(AvcEncodeFilter, QualityBeforeAnyConnectionIsKeptForTheFirstOpen) {
  auto codec = std::make_unique<FakeCodec>();
  Next(codec.get());
  ComPtr<AvcEncodeFilter> filter = MakeObject<AvcEncodeFilter>(FakeProvider());
  codec->openSucceeds = false;  // an encoder without a picture size cannot open
  EXPECT_EQ(filter->SetParameter("quality", "20"), S_OK);
  EXPECT_EQ(codec->Count("Open"), 0);
  EXPECT_EQ(codec->params["quality"], "20");
}

TEST(AvcEncodeFilter, ParameterSettingsAppendTheCodecBlockWhenItFits) {
  Encoder enc(RgbType(64, 32));
  enc.codec->params = {{"alpha", "1"}, {"beta", "two"}};
  std::vector<char> text(4096);
  ASSERT_EQ(enc->GetParameterSettings(text.data(), static_cast<int>(text.size())), S_OK);
  // The parameter sets hold zero bytes: the text is read up to the terminator after the block.
  std::string all(text.data(), text.size());
  const size_t codecBlock = all.find("Codec Parameters:\r\n");
  ASSERT_NE(codecBlock, std::string::npos) << all;
  all.resize(all.find('\0', codecBlock));
  EXPECT_NE(all.find("framebitlimit"), std::string::npos);
  EXPECT_EQ(all.substr(codecBlock),
            "Codec Parameters:\r\nParameter: alpha : Value:1\r\nParameter: beta : Value:two\r\n");
  // Room for the filter's text but not for the codec block.
  std::vector<char> small(codecBlock + 10);
  EXPECT_EQ(enc->GetParameterSettings(small.data(), static_cast<int>(small.size())), E_FAIL);
}

// The parameter sets hold zero bytes (their start codes): the codec block still follows the whole
// listing, every own parameter is listed with its exact bytes, and the size needed is the whole
// text's, zero bytes included.
TEST(AvcEncodeFilter, ParameterSettingsKeepEveryLineWhenParameterSetsHoldZeroBytes) {
  Encoder enc(RgbType(64, 32), {{"notifyoniframe", "1"}});
  enc.codec->params = {{"alpha", "1"}};
  const std::string sps(enc.codec->sps.begin(), enc.codec->sps.end());
  const std::string pps(enc.codec->pps.begin(), enc.codec->pps.end());
  ASSERT_NE(pps.find('\0'), std::string::npos);
  const std::string expected = "Parameter name: iframeperiod Value: 0\r\n"
                               "Parameter name: framebitlimit Value: 0\r\n"
                               "Parameter name: h264_output_type Value: 2\r\n"
                               "Parameter name: pps Value: " + pps + "\r\n"
                               "Parameter name: sps Value: " + sps + "\r\n"
                               "Parameter name: notifyoniframe Value: true\r\n"
                               "Codec Parameters:\r\nParameter: alpha : Value:1\r\n";
  struct Case {
    size_t bufferSize;
    HRESULT result;
  };
  for (const Case& c : {Case{expected.size() + 1, S_OK}, Case{expected.size(), E_FAIL}}) {
    SCOPED_TRACE(c.bufferSize);
    std::vector<char> text(c.bufferSize, '\x7F');
    ASSERT_EQ(enc->GetParameterSettings(text.data(), static_cast<int>(text.size())), c.result);
    if (c.result == S_OK)
      EXPECT_EQ(std::string(text.data(), text.size()), expected + '\0');
    else
      EXPECT_EQ(text, std::vector<char>(c.bufferSize, '\x7F')) << "a refused listing writes nothing";
  }
}

TEST(AvcEncodeFilter, CodecControlInterface) {
  Encoder enc(RgbType(64, 32));
  ComPtr<ICodecControlInterface> control;
  ASSERT_EQ(enc.chain->Base()->QueryInterface(IID_ICodecControlInterface, control.AsOut()), S_OK);
  int limit = -1;
  EXPECT_EQ(control->GetFrameBitLimit(&limit), S_OK);
  EXPECT_EQ(limit, 0);
  EXPECT_EQ(control->SetFrameBitLimit(0), E_FAIL);
  EXPECT_EQ(control->SetFrameBitLimit(-5), E_FAIL);
  EXPECT_EQ(control->SetFrameBitLimit(5000), S_OK);
  EXPECT_EQ(control->GetFrameBitLimit(&limit), S_OK);
  EXPECT_EQ(limit, 5000);
  EXPECT_EQ(Param(enc.chain->filter.Get(), "framebitlimit"), "5000");
  const int restarts = enc.codec->Count("Restart");
  EXPECT_EQ(control->GenerateIFrame(), S_OK);
  EXPECT_EQ(enc.codec->Count("Restart"), restarts + 1);
  EXPECT_EQ(control->Reserved1(), E_NOTIMPL);
  EXPECT_EQ(control->Reserved2(), E_NOTIMPL);
  EXPECT_EQ(control->Reserved3(), E_FAIL);
  EXPECT_EQ(control->Reserved4(), E_FAIL);
}

TEST(AvcEncodeFilter, ConnectionFailures) {
  {  // no SPS: the connection stands, samples come out empty
    auto codec = std::make_unique<FakeCodec>();
    Next(codec.get());
    ComPtr<AvcEncodeFilter> filter = MakeObject<AvcEncodeFilter>(FakeProvider());
    codec->sps.assign(200, 0);  // over the 800-bit limit
    Chain<AvcEncodeFilter> chain(filter, RgbType(64, 32), 64 * 32 * 3);
    EXPECT_EQ(chain.inputConnect, S_OK);
    EXPECT_EQ(LastErrorOf(chain.Base()), "over the limit");
    EXPECT_EQ(codec->Count("Open"), 0);
    ASSERT_EQ(chain.outputConnect, S_OK);
    Bytes out{1};
    EXPECT_EQ(chain.Push(Bytes(64 * 32 * 3, 0), &out), S_OK);
    EXPECT_TRUE(out.empty());
  }
  {  // no PPS, or no Open: refused
    for (int step = 0; step < 2; ++step) {
      auto codec = std::make_unique<FakeCodec>();
      Next(codec.get());
      ComPtr<AvcEncodeFilter> filter = MakeObject<AvcEncodeFilter>(FakeProvider());
      if (step == 0) codec->pps.assign(200, 0);
      if (step == 1) codec->openSucceeds = false;
      Chain<AvcEncodeFilter> chain(filter, RgbType(64, 32), 64 * 32 * 3);
      EXPECT_TRUE(FAILED(chain.inputConnect)) << step;
    }
  }
}

TEST(AvcEncodeFilter, WithoutCodecEveryPathIsSafe) {
  Encoder enc(RgbType(64, 32), {}, false);
  EXPECT_EQ(LastErrorOf(enc.chain->Base()), "Unable to create H264 Encoder from Factory.");
  ASSERT_EQ(enc.chain->outputConnect, S_OK);
  Bytes out{1};
  EXPECT_EQ(enc.chain->Push(enc.Frame(), &out), S_OK);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(enc->SetParameter("quality", "3"), E_FAIL);
  EXPECT_EQ(Param(enc.chain->filter.Get(), "quality"), "<failed>");
  EXPECT_EQ(enc->SetParameter("iframeperiod", "3"), S_OK);
  std::vector<char> text(4096);
  EXPECT_EQ(enc->GetParameterSettings(text.data(), static_cast<int>(text.size())), S_OK);
  EXPECT_EQ(std::string(text.data()).find("Codec Parameters"), std::string::npos);
  EXPECT_EQ(enc->GenerateIFrame(), S_OK);
  EXPECT_EQ(enc->SetFrameBitLimit(10), S_OK);
}

}  // namespace

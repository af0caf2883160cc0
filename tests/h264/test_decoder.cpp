// AvcDecodeFilter with a stand-in codec in the test harness: the trailer and AVC1 sequence-header
// rules, the length-prefix walk, what is delivered (pictures only), the output type and buffers,
// the settings pass-through, and every path without a codec instance.
#include <gtest/gtest.h>

#include "h264/common/avcformat.h"
#include "h264/decoder/avcdecode.h"
#include "platform/strmbase/amvideo.h"
#include "platform/strmbase/uuids.h"
#include "tests/h264/support_h264.h"

using namespace h264test;
using plenor::test::MakeObject;

namespace {

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
Bytes Count(uint32_t n) { return {BYTE(n), BYTE(n >> 8), BYTE(n >> 16), BYTE(n >> 24)}; }
// A sequence-header entry: 2-byte big-endian length, then the unit without its start code.
Bytes Entry(const Bytes& unitWithStartCode) {
  const size_t n = unitWithStartCode.size() - 4;
  Bytes e = {BYTE(n >> 8), BYTE(n)};
  e.insert(e.end(), unitWithStartCode.begin() + 4, unitWithStartCode.end());
  return e;
}
// Start codes of a unit list turned into 4-byte big-endian lengths.
Bytes LengthPrefixed(std::initializer_list<Bytes> units) {
  Bytes all;
  for (const Bytes& u : units) {
    const size_t n = u.size() - 4;
    all.insert(all.end(), {BYTE(n >> 24), BYTE(n >> 16), BYTE(n >> 8), BYTE(n)});
    all.insert(all.end(), u.begin() + 4, u.end());
  }
  return all;
}

struct Decoder {
  explicit Decoder(const CMediaType& input, bool withCodec = true)
      : codec(withCodec ? std::make_unique<FakeCodec>() : nullptr) {
    Next(codec.get());
    chain = std::make_unique<Chain<AvcDecodeFilter>>(MakeObject<AvcDecodeFilter>(FakeProvider()), input, 1 << 16);
  }
  ~Decoder() { chain.reset(); }
  AvcDecodeFilter* operator->() { return chain->filter.Get(); }
  std::unique_ptr<FakeCodec> codec;
  std::unique_ptr<Chain<AvcDecodeFilter>> chain;
};

const Bytes kSps = NalUnit(7, 9), kPps = NalUnit(8, 4), kSlice = NalUnit(5, 30);

TEST(AvcDecodeFilter, TrailerRulesDecideWhetherTheCodecOpens) {
  const Bytes sets = Concat({kSps, kPps});
  const struct {
    const char* name;
    GUID major, subtype;
    Bytes appended;
    bool opens;
    Bytes sps, pps;
  } cases[] = {
      {"sets and count", MEDIATYPE_Video, MEDIASUBTYPE_PLENOR_H264, Concat({sets, Count(uint32_t(sets.size() + 4))}),
       true, kSps, kPps},
      {"stream H264", MEDIATYPE_Stream, MEDIASUBTYPE_H264, Concat({sets, Count(uint32_t(sets.size() + 4))}), true,
       kSps, kPps},
      {"stream own subtype", MEDIATYPE_Stream, MEDIASUBTYPE_PLENOR_H264,
       Concat({sets, Count(uint32_t(sets.size() + 4))}), true, kSps, kPps},
      {"count 0", MEDIATYPE_Video, MEDIASUBTYPE_PLENOR_H264, Count(0), false, {}, {}},
      {"no start code", MEDIATYPE_Video, MEDIASUBTYPE_PLENOR_H264,
       Concat({Bytes{9, 9, 9, 9}, kPps, Count(uint32_t(kPps.size() + 8))}), false, {}, {}},
      {"bare PPS start code", MEDIATYPE_Video, MEDIASUBTYPE_PLENOR_H264,
       Concat({kSps, Bytes{0, 0, 0, 1}, Count(uint32_t(kSps.size() + 8))}), false, {}, {}},
      {"5-byte PPS", MEDIATYPE_Video, MEDIASUBTYPE_PLENOR_H264,
       Concat({kSps, NalUnit(8, 0), Count(uint32_t(kSps.size() + 9))}), true, kSps, NalUnit(8, 0)},
      {"count past the block", MEDIATYPE_Video, MEDIASUBTYPE_PLENOR_H264,
       Concat({sets, Count(100000)}), false, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Decoder dec(TrailerType(c.major, c.subtype, 176, 144, c.appended));
    ASSERT_EQ(dec.chain->inputConnect, S_OK);
    EXPECT_EQ(dec.codec->Count("Open"), c.opens ? 1 : 0);
    EXPECT_EQ(dec->SeqParamSet(), c.sps);
    EXPECT_EQ(dec->PicParamSet(), c.pps);
    if (c.opens) {
      ASSERT_EQ(dec.codec->decoded.size(), 2u);
      EXPECT_EQ(dec.codec->decoded[0], c.sps);
      EXPECT_EQ(dec.codec->decoded[1], c.pps);
    }
    // The output type drops the trailer and is video even for a Stream input.
    ASSERT_EQ(dec.chain->outputConnect, S_OK);
    const CMediaType out = dec.chain->OutputType();
    EXPECT_EQ(*out.Type(), MEDIATYPE_Video);
    EXPECT_EQ(*out.Subtype(), MEDIASUBTYPE_RGB24);
    // The count says how much to cut: 0 keeps a zero count, and an impossible count cuts nothing.
    const std::string name = c.name;
    EXPECT_EQ(out.FormatLength(), name == "count past the block" ? 88 + c.appended.size() : name == "count 0" ? 92u : 88u);
  }
}

TEST(AvcDecodeFilter, Avc1SequenceHeaderRules) {
  const Bytes header = Concat({Entry(kSps), Entry(NalUnit(6, 3)), Entry(kPps)});
  const struct {
    const char* name;
    Bytes header;
    DWORD profile, level, flags;
    bool connects;
    const char* error;
  } cases[] = {
      {"baseline 2.0", header, 66, 20, 4, true, ""},
      {"profile 77", header, 77, 20, 4, false, ""},
      {"level 30", header, 66, 30, 4, false, ""},
      {"2-byte lengths", header, 66, 20, 2, false, ""},
      {"empty header, no sets yet", {}, 66, 20, 4, false, "H264 decode error has occurred: "},
      {"entry past the end", Concat({Entry(kSps), Bytes{0, 50, 0x68}}), 66, 20, 4, false,
       "declares 50 bytes, more than remain"},
      {"cut length", Concat({Entry(kSps), Bytes{0}}), 66, 20, 4, false, "is cut off"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Decoder dec(Avc1Type(176, 144, c.header, c.profile, c.level, c.flags));
    EXPECT_EQ(SUCCEEDED(dec.chain->inputConnect), c.connects) << std::hex << dec.chain->inputConnect;
    if (c.connects) {
      EXPECT_EQ(dec->SeqParamSet(), kSps);
      EXPECT_EQ(dec->PicParamSet(), kPps);  // the SEI entry is dropped
      EXPECT_EQ(dec.codec->Count("Open"), 1);
      EXPECT_EQ(dec->NalLengthSize(), 4);
    }
    if (*c.error) {
      EXPECT_NE(LastErrorOf(dec.chain->Base()).find(c.error), std::string::npos) << LastErrorOf(dec.chain->Base());
    }
  }
  // A sequence header declared longer than the block holds is not read.
  CMediaType type = Avc1Type(176, 144, header);
  reinterpret_cast<MPEG2VIDEOINFO*>(type.Format())->cbSequenceHeader = 4000;
  Decoder dec(type);
  EXPECT_EQ(dec.chain->inputConnect, E_FAIL);
  EXPECT_NE(LastErrorOf(dec.chain->Base()).find("declares a 4000-byte sequence header"), std::string::npos);
}

TEST(AvcDecodeFilter, SamplesDeliverOnlyDecodedPictures) {
  Decoder dec(Avc1Type(176, 144, Concat({Entry(kSps), Entry(kPps)})));
  ASSERT_EQ(dec.chain->outputConnect, S_OK);
  const struct {
    const char* name;
    Bytes sample;
    int decodeResult;
    bool delivered;
    const char* error;
  } cases[] = {
      {"picture", LengthPrefixed({kSlice}), CORVEX_PICTURE, true, ""},
      {"parameter sets", LengthPrefixed({kSps, kPps}), CORVEX_NO_PICTURE, false, ""},
      {"broken", LengthPrefixed({kSlice}), 0, false, "H264 decode error has occurred: stand-in failure"},
      {"length past the end", Concat({Bytes{0, 0, 1, 0}, Bytes(20, 1)}), CORVEX_PICTURE, false,
       "the NAL unit length at offset 0 of a 24-byte AVC1 sample runs past its end"},
      {"length field cut", Concat({LengthPrefixed({kSlice}), Bytes{0, 0}}), CORVEX_PICTURE, false,
       "at offset 35 of a 37-byte"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dec.codec->decodeResult = c.decodeResult;
    dec.codec->decoded.clear();
    Bytes out;
    bool delivered = true;
    ASSERT_EQ(dec.chain->Push(c.sample, &out, &delivered), S_OK);
    EXPECT_EQ(delivered, c.delivered);
    if (c.delivered) {
      EXPECT_EQ(out.size(), 76032u);  // 176 x 144 x 3
      EXPECT_EQ(out[1], 7);
    }
    if (*c.error) {
      EXPECT_NE(LastErrorOf(dec.chain->Base()).find(c.error), std::string::npos) << LastErrorOf(dec.chain->Base());
      if (c.decodeResult != 0) {
        EXPECT_TRUE(dec.codec->decoded.empty());  // never handed to the codec
      }
    }
  }
}

TEST(AvcDecodeFilter, LengthPrefixesBecomeStartCodesOfTheSameTotalLength) {
  Decoder dec(Avc1Type(176, 144, Concat({Entry(kSps), Entry(kPps)})));
  ASSERT_EQ(dec.chain->outputConnect, S_OK);
  dec.codec->decoded.clear();
  const Bytes units = Concat({kSps, kPps, kSlice});
  ASSERT_EQ(dec.chain->Push(LengthPrefixed({kSps, kPps, kSlice})), S_OK);
  ASSERT_EQ(dec.codec->decoded.size(), 1u);
  EXPECT_EQ(dec.codec->decoded[0], units);
}

TEST(AvcDecodeFilter, TrailerInputIsHandedOverUnchanged) {
  Decoder dec(TrailerType(MEDIATYPE_Video, MEDIASUBTYPE_PLENOR_H264, 176, 144,
                          Concat({kSps, kPps, Count(uint32_t(kSps.size() + kPps.size() + 4))})));
  ASSERT_EQ(dec.chain->outputConnect, S_OK);
  const Bytes sample = Concat({kSlice, kSlice});
  ASSERT_EQ(dec.chain->Push(sample), S_OK);
  EXPECT_EQ(dec.codec->decoded.back(), sample);
  EXPECT_EQ(dec.chain->sink->SampleCount(), 1u);
}

TEST(AvcDecodeFilter, OutputTypeAndBuffersFollowTheInputPicture) {
  const struct {
    const char* name;
    LONG width, height;
    size_t frame;
  } cases[] = {{"176x144", 176, 144, 76032}, {"18x16 padded rows", 18, 16, 56 * 16}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Decoder dec(Avc1Type(c.width, c.height, Concat({Entry(kSps), Entry(kPps)})));
    ASSERT_EQ(dec.chain->outputConnect, S_OK);
    const CMediaType out = dec.chain->OutputType();
    ASSERT_EQ(out.FormatLength(), sizeof(VIDEOINFOHEADER));
    EXPECT_EQ(*out.FormatType(), FORMAT_VideoInfo);
    const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(out.Format());
    EXPECT_EQ(vih->bmiHeader.biBitCount, 24);
    EXPECT_EQ(vih->bmiHeader.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(vih->bmiHeader.biWidth, c.width);
    EXPECT_EQ(vih->bmiHeader.biHeight, c.height);
    EXPECT_EQ(vih->bmiHeader.biSizeImage, c.frame);
    EXPECT_EQ(vih->AvgTimePerFrame, 400000);
    EXPECT_EQ(out.GetSampleSize(), c.frame);
    ALLOCATOR_PROPERTIES props{};
    ASSERT_EQ(dec.chain->sink->Allocator()->GetProperties(&props), S_OK);
    EXPECT_EQ(props.cBuffers, 30);
    EXPECT_GE(props.cbBuffer, static_cast<LONG>(c.frame));

    Bytes picture;
    ASSERT_EQ(dec.chain->Push(LengthPrefixed({kSlice}), &picture), S_OK);
    ASSERT_EQ(picture.size(), c.frame);
    // Row y of the packed picture the codec wrote stands at y x stride, the padding zero.
    const size_t row = 3 * static_cast<size_t>(c.width), stride = c.frame / static_cast<size_t>(c.height);
    for (size_t y = 0; y < static_cast<size_t>(c.height); ++y) {
      for (size_t x = 0; x < row; ++x)
        ASSERT_EQ(picture[y * stride + x], static_cast<BYTE>(7 * (y * row + x) % 251)) << y << "," << x;
      for (size_t x = row; x < stride; ++x) ASSERT_EQ(picture[y * stride + x], 0);
    }
  }
}

TEST(AvcDecodeFilter, InputTypesAndSizesItRefuses) {
  auto codec = std::make_unique<FakeCodec>();
  Next(codec.get());
  ComPtr<AvcDecodeFilter> filter = MakeObject<AvcDecodeFilter>(FakeProvider());
  CMediaType vih2Type = Avc1Type(176, 144, {}, 66, 20, 4, MEDIASUBTYPE_H264);
  vih2Type.SetFormatType(&FORMAT_VideoInfo2);
  const struct {
    const char* name;
    CMediaType type;
    HRESULT expected;
    const char* reason;
  } cases[] = {
      {"H264 with VIDEOINFOHEADER2", vih2Type, VFW_E_TYPE_NOT_ACCEPTED, ""},
      {"65536 x 65536", Avc1Type(65536, 65536, {}), VFW_E_TYPE_NOT_ACCEPTED, "larger than the codec's 4096x4096"},
      {"odd width", TrailerType(MEDIATYPE_Video, MEDIASUBTYPE_PLENOR_H264, 175, 144, Count(0)),
       VFW_E_TYPE_NOT_ACCEPTED, "odd side"},
      {"H264 with MPEG2VIDEOINFO", Avc1Type(176, 144, {}, 66, 20, 4, MEDIASUBTYPE_H264), S_OK, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(filter->CheckInputType(&c.type), c.expected);
    if (*c.reason) {
      EXPECT_NE(LastErrorOf(static_cast<IBaseFilter*>(filter.Get())).find(c.reason), std::string::npos);
    }
  }
}

TEST(AvcDecodeFilter, SettingsGoToTheCodec) {
  Decoder dec(Avc1Type(176, 144, Concat({Entry(kSps), Entry(kPps)})));
  dec.codec->refusedNames = {"bad"};
  EXPECT_EQ(dec->SetParameter("flip", "0"), S_OK);
  EXPECT_EQ(dec.codec->params["flip"], "0");
  EXPECT_EQ(dec->SetParameter("bad", "1"), E_FAIL);
  EXPECT_EQ(Param(dec.chain->filter.Get(), "flip"), "<failed>");  // no parameters of its own
  EXPECT_EQ(dec.codec->params["outcolour"], "0");
  EXPECT_EQ(dec.codec->params["width"], "176");
  EXPECT_EQ(dec.codec->params["generate param set on open"], "0");
}

TEST(AvcDecodeFilter, WithoutCodecEveryPathIsSafe) {
  Decoder dec(Avc1Type(176, 144, Concat({Entry(kSps), Entry(kPps)})), false);
  EXPECT_EQ(LastErrorOf(dec.chain->Base()), "Unable to create H264 Encoder from Factory.");
  ASSERT_EQ(dec.chain->outputConnect, S_OK);
  bool delivered = true;
  EXPECT_EQ(dec.chain->Push(LengthPrefixed({kSlice}), nullptr, &delivered), S_OK);
  EXPECT_FALSE(delivered);
  EXPECT_EQ(dec->SetParameter("flip", "1"), E_FAIL);
}

}  // namespace

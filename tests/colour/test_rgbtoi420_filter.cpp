// RgbToI420Filter in the test harness (push source -> filter -> recording sink): the converted
// bytes of known colours, the media types it proposes and refuses, orientation, parameter changes
// while connected, and the samples it must refuse instead of reading or writing past a buffer.
#include <gtest/gtest.h>

#include <cmath>

#include "colour/rgb2yuv/rgbtoi420.h"
#include "colourfilter_helpers.h"
#include "tests/colour/support_colour.h"
#include "tests/utilities/support_utilities.h"
#include "platform/strmbase/uuids.h"

using namespace colourfilter;
using plenor::test::MakeObject;
using utiltest::Get;
using utiltest::LastError;
using utiltest::Set;

namespace {

using RgbChain = Chain<RgbToI420Filter>;

// Y of every pixel, U and V of every block of a converted solid frame, or a failure naming the
// first byte that differs.
testing::AssertionResult IsSolidYuv(const Bytes& yuv, int w, int h, int y, int u, int v) {
  const size_t pixels = static_cast<size_t>(w) * h, chroma = pixels / 4;
  if (yuv.size() != pixels + 2 * chroma) return testing::AssertionFailure() << yuv.size() << " bytes";
  for (size_t i = 0; i < yuv.size(); ++i) {
    const int expected = i < pixels ? y : i < pixels + chroma ? u : v;
    if (yuv[i] != expected)
      return testing::AssertionFailure() << "byte " << i << " is " << int(yuv[i]) << ", expected " << expected;
  }
  return testing::AssertionSuccess();
}

// RGB32 chroma carries its own bias of 128 and ignores the offset. RGB32 white gives V = 128: the
// four V terms sum to just under 512, and (SV + 0.5) / 4 still truncates to 128.
TEST(RgbToI420Filter, ColoursGiveTheirWorkedValues) {
  const struct {
    int bpp;
    const char* name;
    BYTE r, g, b;
    const char* offset;
    int y, u, v;
  } cases[] = {
      {3, "grey", 100, 100, 100, "128", 100, 128, 128},         {3, "red", 255, 0, 0, "128", 76, 91, 255},
      {3, "blue", 0, 0, 255, "128", 29, 239, 102},              {3, "green", 0, 255, 0, "128", 150, 54, 0},
      {3, "white", 255, 255, 255, "128", 255, 128, 128},        {3, "grey offset 0", 100, 100, 100, "0", 100, 0, 0},
      {3, "red offset 0", 255, 0, 0, "0", 76, 219, 127},        {3, "grey offset 300", 100, 100, 100, "300", 100, 44, 44},
      {3, "red offset 300", 255, 0, 0, "300", 76, 7, 171},      {4, "grey", 100, 100, 100, "128", 100, 128, 128},
      {4, "red", 255, 0, 0, "128", 76, 90, 255},                {4, "green", 0, 255, 0, "128", 150, 54, 0},
      {4, "blue", 0, 0, 255, "128", 29, 239, 102},              {4, "white", 255, 255, 255, "128", 255, 128, 128},
      {4, "grey offset 0", 100, 100, 100, "0", 100, 128, 128},  {4, "red offset 300", 255, 0, 0, "300", 76, 90, 255},
  };
  const int w = 4, h = 2;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "RGB" << 8 * c.bpp << " " << c.name);
    RgbChain chain(RgbType(c.bpp == 4 ? MEDIASUBTYPE_RGB32 : MEDIASUBTYPE_RGB24, w, h), 64);
    ASSERT_EQ(chain.outputConnect, S_OK);
    ASSERT_EQ(Set(chain.Base(), "chrominanceoffset", c.offset), S_OK);
    Bytes out;
    ASSERT_EQ(chain.PushFrame(SolidRgb(w, h, c.bpp, BitmapStride(w, c.bpp), c.r, c.g, c.b), &out), S_OK);
    EXPECT_TRUE(IsSolidYuv(out, w, h, c.y, c.u, c.v));
  }
}

// A frame whose memory row r is grey level (7 r) mod 256: a grey pixel's luma is its level, so
// each Y row tells which source row it came from.
Bytes RowNumberedRgb(int w, int h, int bytesPerPixel) {
  const long stride = BitmapStride(w, bytesPerPixel);
  Bytes frame(static_cast<size_t>(stride) * h, 0);
  for (int r = 0; r < h; ++r)
    for (long i = 0; i < w * bytesPerPixel; ++i) frame[r * stride + i] = static_cast<BYTE>(7 * r);
  return frame;
}

TEST(RgbToI420Filter, BottomUpRgb24OutputTypeAndRowOrder) {
  const int w = 640, h = 480;
  RgbChain chain(RgbType(MEDIASUBTYPE_RGB24, w, h), w * 3 * h);
  ASSERT_EQ(chain.outputConnect, S_OK);
  EXPECT_TRUE(chain.filter->Inverted());
  EXPECT_EQ(Get(chain.Base(), "invert"), "1");
  EXPECT_EQ(chain.filter->ChromaPlaneSize(), 76800);

  const CMediaType out = chain.OutputType();
  EXPECT_EQ(*out.Subtype(), MEDIASUBTYPE_I420);
  const VIDEOINFOHEADER vih = VideoInfo(out);
  EXPECT_EQ(vih.bmiHeader.biWidth, w);
  EXPECT_EQ(vih.bmiHeader.biHeight, h);
  EXPECT_EQ(vih.bmiHeader.biBitCount, 12);
  EXPECT_EQ(vih.bmiHeader.biCompression, MAKEFOURCC('I', '4', '2', '0'));
  EXPECT_EQ(vih.bmiHeader.biSizeImage, 460800u);
  EXPECT_EQ(vih.AvgTimePerFrame, 333333);  // kept from the input
  EXPECT_TRUE(out.IsFixedSize());
  EXPECT_EQ(out.GetSampleSize(), 460800u);
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(chain.sink->Allocator()->GetProperties(&props), S_OK);
  EXPECT_GE(props.cbBuffer, 460800);

  Bytes yuv;
  ASSERT_EQ(chain.PushFrame(RowNumberedRgb(w, h, 3), &yuv), S_OK);
  ASSERT_EQ(yuv.size(), 460800u);
  EXPECT_EQ(yuv[0], static_cast<BYTE>(7 * (h - 1)));  // first Y row from the last row in memory
  EXPECT_EQ(yuv[w], static_cast<BYTE>(7 * (h - 2)));
  EXPECT_EQ(yuv[static_cast<size_t>(w) * (h - 1)], 0);

  CMediaType proposed;
  EXPECT_EQ(chain.filter->GetMediaType(1, &proposed), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(chain.filter->GetMediaType(-1, &proposed), E_INVALIDARG);
}

TEST(RgbToI420Filter, TopDownRgb32GivesAPositiveHeightAndKeepsTheRowOrder) {
  const int w = 640, h = 480;
  RgbChain chain(RgbType(MEDIASUBTYPE_RGB32, w, -h), w * 4 * h);
  ASSERT_EQ(chain.outputConnect, S_OK);
  EXPECT_FALSE(chain.filter->Inverted());
  EXPECT_EQ(Get(chain.Base(), "invert"), "0");
  EXPECT_EQ(VideoInfo(chain.OutputType()).bmiHeader.biHeight, h);

  Bytes yuv;
  ASSERT_EQ(chain.PushFrame(RowNumberedRgb(w, h, 4), &yuv), S_OK);
  ASSERT_EQ(yuv.size(), 460800u);
  EXPECT_EQ(yuv[0], 0);
  EXPECT_EQ(yuv[w], 7);
  EXPECT_EQ(yuv[static_cast<size_t>(w) * (h - 1)], static_cast<BYTE>(7 * (h - 1)));
}

TEST(RgbToI420Filter, OutputMustBeVideoYuvInAVideoInfoBlockWithThePositiveHeight) {
  for (LONG inHeight : {240, -240}) {
    SCOPED_TRACE(inHeight);
    const CMediaType in = RgbType(MEDIASUBTYPE_RGB24, 320, inHeight);
    RgbChain chain(in, 320 * 3 * 240);
    ASSERT_EQ(chain.outputConnect, S_OK);
    auto check = [&](const CMediaType& out) { return chain.filter->CheckTransform(&in, &out); };
    EXPECT_EQ(check(YuvType(MEDIASUBTYPE_I420, 320, 240)), S_OK);
    EXPECT_EQ(check(YuvType(MEDIASUBTYPE_YV12, 320, 240)), S_OK);
    EXPECT_EQ(check(YuvType(MEDIASUBTYPE_PLENOR_YUV420P, 320, 240)), S_OK);
    EXPECT_EQ(check(YuvType(MEDIASUBTYPE_I420, 640, 240)), S_OK);  // widths are not compared

    EXPECT_EQ(check(YuvType(MEDIASUBTYPE_I420, 320, -240)), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(check(YuvType(MEDIASUBTYPE_I420, 320, 120)), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(check(RgbType(MEDIASUBTYPE_RGB24, 320, 240)), VFW_E_TYPE_NOT_ACCEPTED);
    CMediaType audio = YuvType(MEDIASUBTYPE_I420, 320, 240);
    audio.SetType(&MEDIATYPE_Audio);
    EXPECT_EQ(check(audio), VFW_E_TYPE_NOT_ACCEPTED);
    CMediaType vih2 = YuvType(MEDIASUBTYPE_I420, 320, 240);
    vih2.SetFormatType(&FORMAT_VideoInfo2);
    EXPECT_EQ(check(vih2), VFW_E_TYPE_NOT_ACCEPTED);
    CMediaType bare = plenor::test::MakeSimpleType(MEDIATYPE_Video, MEDIASUBTYPE_I420);
    bare.SetFormatType(&FORMAT_VideoInfo);
    EXPECT_EQ(check(bare), VFW_E_TYPE_NOT_ACCEPTED);  // nothing to read a height from
  }
}

TEST(RgbToI420Filter, DownstreamThatOnlyTakesANegativeHeightIsNotConnected) {
  const CMediaType topDown = YuvType(MEDIASUBTYPE_I420, 64, -48);
  RgbChain chain(RgbType(MEDIASUBTYPE_RGB24, 64, 48), 64 * 3 * 48,
                 {.acceptedTypes = {topDown}, .offeredTypes = {topDown}});
  EXPECT_EQ(chain.inputConnect, S_OK);
  EXPECT_LT(chain.outputConnect, 0);
}

TEST(RgbToI420Filter, InputMustBeRgb24OrRgb32WithAUsableVideoInfoBlock) {
  auto filter = MakeObject<RgbToI420Filter>();
  auto accepts = [&](const CMediaType& type) { return filter->CheckInputType(&type); };
  EXPECT_EQ(accepts(RgbType(MEDIASUBTYPE_RGB24, 64, 48)), S_OK);
  EXPECT_EQ(accepts(RgbType(MEDIASUBTYPE_RGB32, 64, -48)), S_OK);
  EXPECT_EQ(accepts(RgbType(MEDIASUBTYPE_ARGB32, 64, 48)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(accepts(YuvType(MEDIASUBTYPE_I420, 64, 48)), VFW_E_TYPE_NOT_ACCEPTED);

  CMediaType vih2 = RgbType(MEDIASUBTYPE_RGB24, 64, 48);
  vih2.SetFormatType(&FORMAT_VideoInfo2);
  EXPECT_EQ(accepts(vih2), VFW_E_TYPE_NOT_ACCEPTED);
  // Format blocks that cannot describe a frame the filter can address.
  CMediaType truncated = RgbType(MEDIASUBTYPE_RGB24, 64, 48);
  truncated.ReallocFormatBuffer(sizeof(VIDEOINFOHEADER) - 1);
  EXPECT_EQ(accepts(truncated), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(accepts(RgbType(MEDIASUBTYPE_RGB24, 0, 48)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(accepts(RgbType(MEDIASUBTYPE_RGB24, 64, 0)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(accepts(RgbType(MEDIASUBTYPE_RGB32, 40000, -40000)), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(RgbToI420Filter, OffsetChangeAppliesFromTheNextFrame) {
  const int w = 8, h = 4;
  RgbChain rgb24(RgbType(MEDIASUBTYPE_RGB24, w, h), 256);
  ASSERT_EQ(rgb24.outputConnect, S_OK);
  const Bytes grey24 = SolidRgb(w, h, 3, 3 * w, 100, 100, 100);
  Bytes out;
  ASSERT_EQ(rgb24.PushFrame(grey24, &out), S_OK);
  EXPECT_TRUE(IsSolidYuv(out, w, h, 100, 128, 128));
  ASSERT_EQ(Set(rgb24.Base(), "chrominanceoffset", "0"), S_OK);
  ASSERT_EQ(rgb24.PushFrame(grey24, &out), S_OK);
  EXPECT_TRUE(IsSolidYuv(out, w, h, 100, 0, 0));

  RgbChain rgb32(RgbType(MEDIASUBTYPE_RGB32, w, h), 256);
  ASSERT_EQ(rgb32.outputConnect, S_OK);
  const Bytes grey32 = SolidRgb(w, h, 4, 4 * w, 100, 100, 100);
  ASSERT_EQ(Set(rgb32.Base(), "chrominanceoffset", "0"), S_OK);
  ASSERT_EQ(rgb32.PushFrame(grey32, &out), S_OK);
  EXPECT_TRUE(IsSolidYuv(out, w, h, 100, 128, 128));
}

// "invert" is a flag bound to the orientation: a host can correct a mislabelled source, and the
// next input connection sets it again from the sign of the height.
TEST(RgbToI420Filter, InvertFlipsTheNextFrameUntilTheNextInputConnection) {
  const int w = 8, h = 4;
  const CMediaType in = RgbType(MEDIASUBTYPE_RGB24, w, h);
  RgbChain chain(in, 256);
  ASSERT_EQ(chain.outputConnect, S_OK);
  const Bytes frame = RowNumberedRgb(w, h, 3);
  Bytes out;
  ASSERT_EQ(chain.PushFrame(frame, &out), S_OK);
  EXPECT_EQ(out[0], 21);
  EXPECT_EQ(Set(chain.Base(), "invert", "yes"), E_FAIL);
  ASSERT_EQ(Set(chain.Base(), "invert", "false"), S_OK);
  ASSERT_EQ(chain.PushFrame(frame, &out), S_OK);
  EXPECT_EQ(out[0], 0);

  ASSERT_EQ(chain.graph->Stop(), S_OK);
  chain.graph->Disconnect(chain.push->OutputPin());
  chain.graph->Disconnect(plenor::test::PinOf(chain.Base(), 0).Get());
  ASSERT_EQ(chain.graph->Connect(chain.push->OutputPin(), plenor::test::PinOf(chain.Base(), 0).Get(), &in), S_OK);
  EXPECT_EQ(Get(chain.Base(), "invert"), "1");
}

// ---------------------------------------------------------------------------------------------
// Samples the filter must not convert as they are.

TEST(RgbToI420Filter, ShortSampleFailsWithALastErrorAndDeliversNothing) {
  const int w = 16, h = 8;
  RgbChain chain(RgbType(MEDIASUBTYPE_RGB24, w, h), 1024);
  ASSERT_EQ(chain.outputConnect, S_OK);
  const Bytes frame = SolidRgb(w, h, 3, 3 * w, 1, 2, 3);
  EXPECT_EQ(chain.PushFrame(Bytes(frame.begin(), frame.end() - 1)), E_INVALIDARG);
  EXPECT_EQ(chain.sink->SampleCount(), 0u);
  const std::string error = LastError(chain.Base());
  EXPECT_NE(error.find("383 bytes"), std::string::npos) << error;
  EXPECT_NE(error.find("16x8 RGB24"), std::string::npos) << error;
  EXPECT_EQ(chain.graph->CountEvents(EC_USER + 13), 1);

  // The stream is stopped by the failure; the next run converts whole frames again.
  ASSERT_EQ(chain.graph->Stop(), S_OK);
  ASSERT_EQ(chain.graph->Run(), S_OK);
  Bytes out;
  EXPECT_EQ(chain.PushFrame(frame, &out), S_OK);
  EXPECT_EQ(out.size(), static_cast<size_t>(w * h * 3 / 2));
}

// Rows of a width that is not a multiple of 4 come padded (a bitmap) or packed; both read the same
// pixels.
TEST(RgbToI420Filter, PaddedAndPackedRgb24RowsGiveTheSameReferenceBytes) {
  const int w = 6, h = 4;
  const long padded = BitmapStride(w, 3);
  ASSERT_EQ(padded, 20);
  const Bytes bitmap = RandomBytes(static_cast<size_t>(padded) * h, 7);
  Bytes packed;
  for (int r = 0; r < h; ++r) packed.insert(packed.end(), bitmap.begin() + r * padded, bitmap.begin() + r * padded + 3 * w);

  RgbChain chain(RgbType(MEDIASUBTYPE_RGB24, w, h), 256);
  ASSERT_EQ(chain.outputConnect, S_OK);
  Bytes fromBitmap, fromPacked;
  ASSERT_EQ(chain.PushFrame(bitmap, &fromBitmap), S_OK);
  ASSERT_EQ(chain.PushFrame(packed, &fromPacked), S_OK);
  const Bytes expected = ReferenceI420(bitmap, w, h, 3, padded, true, 128);
  EXPECT_EQ(colourtest::FirstDifference(fromBitmap, expected), -1);
  EXPECT_EQ(colourtest::FirstDifference(fromPacked, expected), -1);
}

// ApplyTransform on buffers that end at an inaccessible page: reading or writing one byte past the
// frame faults. Odd sizes convert their whole 2x2 blocks only.

TEST(RgbToI420Filter, OddSizesAndPaddedRowsStayInsideTheBuffers) {
  struct Size {
    int w, h;
  };
  for (const GUID* subtype : {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32})
    for (Size s : {Size{3, 3}, Size{5, 3}, Size{7, 6}, Size{6, 5}, Size{1, 4}})
      for (int sign : {1, -1}) {
        const int bpp = *subtype == MEDIASUBTYPE_RGB32 ? 4 : 3;
        SCOPED_TRACE(testing::Message() << bpp * 8 << " " << s.w << "x" << sign * s.h);
        auto filter = MakeObject<RgbToI420Filter>();
        const CMediaType type = RgbType(*subtype, s.w, sign * s.h);
        ASSERT_EQ(filter->CheckInputType(&type), S_OK);
        ASSERT_EQ(filter->SetMediaType(PINDIR_INPUT, &type), S_OK);
        const size_t pixels = static_cast<size_t>(s.w) * s.h, frame = pixels + 2 * (pixels / 4);

        for (long stride : {static_cast<long>(bpp) * s.w, BitmapStride(s.w, bpp)}) {
          const Bytes rgb = RandomBytes(static_cast<size_t>(stride) * s.h, s.w * 31 + s.h);
          colourtest::GuardedBuffer in(rgb.size()), out(frame);
          std::copy(rgb.begin(), rgb.end(), in.data());
          std::fill(out.data(), out.data() + frame, 0xA5);  // stale bytes must not survive
          LONG length = 0;
          ASSERT_EQ(filter->ApplyTransform(in.data(), static_cast<LONG>(in.size()), static_cast<LONG>(in.size()),
                                           out.data(), static_cast<LONG>(out.size()), length),
                    S_OK);
          EXPECT_EQ(length, static_cast<LONG>(frame));
          // The whole blocks are the reference's; the odd last Y column and row repeat their
          // neighbours, and the chroma bytes beyond (w / 2) x (h / 2) samples are zero.
          Bytes expected = ReferenceI420(rgb, s.w, s.h, bpp, stride, sign > 0, 128);
          ExpectOddEdges(&expected, 0, s.w, s.h, s.w, 1, false);
          EXPECT_EQ(colourtest::FirstDifference(Bytes(out.data(), out.data() + frame), expected), -1);
        }
        // An output buffer one byte short of a frame is refused untouched.
        colourtest::GuardedBuffer in(static_cast<size_t>(bpp) * pixels), out(frame - 1);
        LONG length = 0;
        EXPECT_EQ(filter->ApplyTransform(in.data(), static_cast<LONG>(in.size()), static_cast<LONG>(in.size()),
                                         out.data(), static_cast<LONG>(out.size()), length),
                  HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(length, 0);
        EXPECT_NE(LastError(static_cast<IBaseFilter*>(filter.Get())).find("Output buffer"), std::string::npos);
      }
}

}  // namespace

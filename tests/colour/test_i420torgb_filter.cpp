// I420ToRgbFilter in the test harness (push source -> filter -> recording sink): the pixels of
// known YUV values, the output type for both settings of "invert", YV12 input, parameter changes
// while connected, and the samples it must refuse instead of reading or writing past a buffer.
#include <gtest/gtest.h>

#include "colour/yuv2rgb/i420torgb.h"
#include "colourfilter_helpers.h"
#include "platform/strmbase/uuids.h"
#include "tests/colour/support_colour.h"
#include "tests/utilities/support_utilities.h"

using namespace colourfilter;
using plenor::test::MakeObject;
using utiltest::Get;
using utiltest::LastError;
using utiltest::Set;

namespace {

using YuvChain = Chain<I420ToRgbFilter>;

// A w x h I420 frame with one Y, U and V value everywhere.
Bytes SolidYuv(int w, int h, BYTE y, BYTE u, BYTE v) {
  const size_t pixels = static_cast<size_t>(w) * h, chroma = pixels / 4;
  Bytes frame(pixels + 2 * chroma, y);
  std::fill(frame.begin() + pixels, frame.begin() + pixels + chroma, u);
  std::fill(frame.begin() + pixels + chroma, frame.end(), v);
  return frame;
}

// A frame whose Y row r is (7 r) mod 256 with neutral chroma: each output row, grey, tells which
// Y row it came from.
Bytes RowNumberedYuv(int w, int h) {
  Bytes frame = SolidYuv(w, h, 0, 128, 128);
  for (int r = 0; r < h; ++r) std::fill_n(frame.begin() + static_cast<size_t>(r) * w, w, static_cast<BYTE>(7 * r));
  return frame;
}

TEST(I420ToRgbFilter, YuvValuesGiveTheirWorkedPixels) {
  const struct {
    BYTE y, u, v;
    const char* offset;
    BYTE b, g, r;
  } cases[] = {
      {128, 128, 128, "128", 128, 128, 128}, {255, 128, 128, "128", 255, 255, 255}, {0, 128, 128, "128", 0, 0, 0},
      {76, 91, 255, "128", 1, 17, 221},      {29, 239, 102, "128", 255, 0, 0},      {150, 54, 0, "128", 0, 254, 4},
      {128, 0, 0, "0", 128, 128, 128},       {128, 212, 212, "300", 128, 128, 128},
  };
  const int w = 4, h = 2;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.y) << "," << int(c.u) << "," << int(c.v) << " offset " << c.offset);
    YuvChain chain(YuvType(MEDIASUBTYPE_I420, w, h), 64);
    ASSERT_EQ(chain.outputConnect, S_OK);
    ASSERT_EQ(Set(chain.Base(), "chrominanceoffset", c.offset), S_OK);
    Bytes out;
    ASSERT_EQ(chain.PushFrame(SolidYuv(w, h, c.y, c.u, c.v), &out), S_OK);
    ASSERT_EQ(out.size(), static_cast<size_t>(3 * w * h));
    for (size_t i = 0; i < out.size(); i += 3) {
      ASSERT_EQ(out[i], c.b) << "pixel " << i / 3;
      ASSERT_EQ(out[i + 1], c.g) << "pixel " << i / 3;
      ASSERT_EQ(out[i + 2], c.r) << "pixel " << i / 3;
    }
  }
}

TEST(I420ToRgbFilter, InvertedOutputTypeSizesAndRowOrder) {
  const int w = 640, h = 480;
  YuvChain chain(YuvType(MEDIASUBTYPE_I420, w, h), w * h * 3 / 2);
  ASSERT_EQ(chain.outputConnect, S_OK);
  const CMediaType out = chain.OutputType();
  EXPECT_EQ(*out.Subtype(), MEDIASUBTYPE_RGB24);
  const VIDEOINFOHEADER vih = VideoInfo(out);
  EXPECT_EQ(vih.bmiHeader.biWidth, w);
  EXPECT_EQ(vih.bmiHeader.biHeight, h);
  EXPECT_EQ(vih.bmiHeader.biBitCount, 24);
  EXPECT_EQ(vih.bmiHeader.biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(vih.bmiHeader.biSizeImage, 921600u);
  EXPECT_EQ(vih.AvgTimePerFrame, 333333);
  EXPECT_EQ(out.GetSampleSize(), 921600u);
  EXPECT_TRUE(out.IsFixedSize());
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(chain.sink->Allocator()->GetProperties(&props), S_OK);
  EXPECT_EQ(props.cbBuffer, 1920 * 480);

  Bytes rgb;
  ASSERT_EQ(chain.PushFrame(RowNumberedYuv(w, h), &rgb), S_OK);
  ASSERT_EQ(rgb.size(), 921600u);
  EXPECT_EQ(rgb[0], static_cast<BYTE>(7 * (h - 1)));  // first row in memory: the bottom picture row
  EXPECT_EQ(rgb[1920], static_cast<BYTE>(7 * (h - 2)));
  EXPECT_EQ(rgb[1920 * (h - 1)], 0);

  CMediaType proposed;
  EXPECT_EQ(chain.filter->GetMediaType(1, &proposed), VFW_S_NO_MORE_ITEMS);
  EXPECT_EQ(chain.filter->GetMediaType(-1, &proposed), E_INVALIDARG);
}

TEST(I420ToRgbFilter, NotInvertedProposesANegativeHeightAndRefusesAPositiveOne) {
  const int w = 640, h = 480;
  const CMediaType in = YuvType(MEDIASUBTYPE_I420, w, h);
  YuvChain chain(in, w * h * 3 / 2);
  // The output is connected again after the change.
  ASSERT_EQ(Set(chain.Base(), "invert", "false"), S_OK);
  ASSERT_EQ(chain.graph->Stop(), S_OK);
  chain.graph->Disconnect(chain.sink->InputPin());
  chain.graph->Disconnect(plenor::test::PinOf(chain.Base(), 1).Get());
  ASSERT_EQ(chain.graph->Connect(plenor::test::PinOf(chain.Base(), 1).Get(), chain.sink->InputPin()), S_OK);
  ASSERT_EQ(chain.graph->Run(), S_OK);
  EXPECT_EQ(VideoInfo(chain.OutputType()).bmiHeader.biHeight, -h);

  auto check = [&](const CMediaType& out) { return chain.filter->CheckTransform(&in, &out); };
  EXPECT_EQ(check(RgbType(MEDIASUBTYPE_RGB24, w, -h)), S_OK);
  EXPECT_EQ(check(RgbType(MEDIASUBTYPE_RGB24, w, h)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(check(RgbType(MEDIASUBTYPE_RGB24, w, 0)), S_OK);
  EXPECT_EQ(check(RgbType(MEDIASUBTYPE_RGB32, w, -h)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(check(YuvType(MEDIASUBTYPE_I420, w, -h)), VFW_E_TYPE_NOT_ACCEPTED);
  CMediaType vih2 = RgbType(MEDIASUBTYPE_RGB24, w, -h);
  vih2.SetFormatType(&FORMAT_VideoInfo2);
  EXPECT_EQ(check(vih2), VFW_E_TYPE_NOT_ACCEPTED);

  Bytes rgb;
  ASSERT_EQ(chain.PushFrame(RowNumberedYuv(w, h), &rgb), S_OK);
  EXPECT_EQ(rgb[0], 0);  // top row first
  EXPECT_EQ(rgb[1920], 7);
  EXPECT_EQ(Set(chain.Base(), "invert", "1"), S_OK);
  EXPECT_EQ(check(RgbType(MEDIASUBTYPE_RGB24, w, h)), S_OK);
  EXPECT_EQ(check(RgbType(MEDIASUBTYPE_RGB24, w, -h)), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(I420ToRgbFilter, InputTypes) {
  auto filter = MakeObject<I420ToRgbFilter>();
  auto accepts = [&](const CMediaType& type) { return filter->CheckInputType(&type); };
  for (const GUID* subtype : {&MEDIASUBTYPE_I420, &MEDIASUBTYPE_YV12, &MEDIASUBTYPE_PLENOR_YUV420P})
    EXPECT_EQ(accepts(YuvType(*subtype, 64, 48)), S_OK);
  EXPECT_EQ(accepts(RgbType(MEDIASUBTYPE_RGB24, 64, 48)), VFW_E_TYPE_NOT_ACCEPTED);
  CMediaType vih2 = YuvType(MEDIASUBTYPE_I420, 64, 48);
  vih2.SetFormatType(&FORMAT_VideoInfo2);
  EXPECT_EQ(accepts(vih2), VFW_E_TYPE_NOT_ACCEPTED);
  CMediaType truncated = YuvType(MEDIASUBTYPE_I420, 64, 48);
  truncated.ReallocFormatBuffer(sizeof(BITMAPINFOHEADER));
  EXPECT_EQ(accepts(truncated), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(accepts(YuvType(MEDIASUBTYPE_I420, -64, 48)), VFW_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(accepts(YuvType(MEDIASUBTYPE_I420, 30000, 30000)), VFW_E_TYPE_NOT_ACCEPTED);  // RGB frame > 2 GB
}

// YV12 input is read in I420 plane order: its V plane is taken as U and the other way round.
TEST(I420ToRgbFilter, Yv12IsReadAsIfItWereI420) {
  const int w = 16, h = 8;
  YuvChain chain(YuvType(MEDIASUBTYPE_YV12, w, h), 256);
  ASSERT_EQ(chain.outputConnect, S_OK);
  const Bytes frame = RandomBytes(static_cast<size_t>(w) * h * 3 / 2, 11);
  Bytes out;
  ASSERT_EQ(chain.PushFrame(frame, &out), S_OK);
  EXPECT_EQ(colourtest::FirstDifference(out, ReferenceRgb24(frame, w, h, true, 128, 3 * w)), -1);
  Bytes blue;
  ASSERT_EQ(chain.PushFrame(SolidYuv(w, h, 29, 239, 102), &blue), S_OK);
  EXPECT_EQ(blue[0], 255);  // plane 2 holds U whatever the subtype says
}

TEST(I420ToRgbFilter, ParameterChangesApplyFromTheNextFrame) {
  const int w = 8, h = 4;
  YuvChain chain(YuvType(MEDIASUBTYPE_I420, w, h), 256);
  ASSERT_EQ(chain.outputConnect, S_OK);
  Bytes out;
  ASSERT_EQ(chain.PushFrame(SolidYuv(w, h, 128, 0, 0), &out), S_OK);
  EXPECT_EQ(out[2], 0);  // Cr = -128 with the default offset: no red
  ASSERT_EQ(Set(chain.Base(), "chrominanceoffset", "0"), S_OK);
  ASSERT_EQ(chain.PushFrame(SolidYuv(w, h, 128, 0, 0), &out), S_OK);
  EXPECT_EQ(out[2], 128);
  ASSERT_EQ(Set(chain.Base(), "chrominanceoffset", "128"), S_OK);

  const Bytes rows = RowNumberedYuv(w, h);
  ASSERT_EQ(chain.PushFrame(rows, &out), S_OK);
  EXPECT_EQ(out[0], 21);
  EXPECT_EQ(Set(chain.Base(), "invert", "yes"), E_FAIL);
  EXPECT_EQ(Get(chain.Base(), "invert"), "1");
  ASSERT_EQ(Set(chain.Base(), "invert", "0"), S_OK);
  ASSERT_EQ(chain.PushFrame(rows, &out), S_OK);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(VideoInfo(chain.OutputType()).bmiHeader.biHeight, h);  // the connection keeps its type
}

// ---------------------------------------------------------------------------------------------
// Samples the filter must not convert as they are.

TEST(I420ToRgbFilter, ShortSampleFailsWithALastErrorAndDeliversNothing) {
  const int w = 16, h = 8;
  YuvChain chain(YuvType(MEDIASUBTYPE_I420, w, h), 256);
  ASSERT_EQ(chain.outputConnect, S_OK);
  EXPECT_EQ(chain.PushFrame(Bytes(w * h * 3 / 2 - 1, 128)), E_INVALIDARG);
  EXPECT_EQ(chain.sink->SampleCount(), 0u);
  const std::string error = LastError(chain.Base());
  EXPECT_NE(error.find("191 bytes"), std::string::npos) << error;
  EXPECT_NE(error.find("16x8 YUV 4:2:0"), std::string::npos) << error;
  EXPECT_EQ(chain.graph->CountEvents(EC_USER + 13), 1);
}

// A width that is not a multiple of 4 gives bitmap rows padded to 4 bytes: the type, the buffers
// and the data all count the padding, which is left zero.
TEST(I420ToRgbFilter, RowsOfOddWidthsArePaddedToFourBytes) {
  const int w = 6, h = 4;
  YuvChain chain(YuvType(MEDIASUBTYPE_I420, w, h), 256);
  ASSERT_EQ(chain.outputConnect, S_OK);
  const CMediaType type = chain.OutputType();
  EXPECT_EQ(VideoInfo(type).bmiHeader.biSizeImage, 80u);
  EXPECT_EQ(type.GetSampleSize(), 80u);
  const Bytes frame = RandomBytes(static_cast<size_t>(w) * h * 3 / 2, 3);
  Bytes out;
  ASSERT_EQ(chain.PushFrame(frame, &out), S_OK);
  EXPECT_EQ(colourtest::FirstDifference(out, ReferenceRgb24(frame, w, h, true, 128, 20)), -1);
}


// ApplyTransform on buffers that end at an inaccessible page: a read or write past the frame
// faults. Odd sizes convert their whole 2x2 blocks; the last row and column repeat their
// neighbours and row padding is zero, whatever the buffer held before (it is filled with 0xA5).
TEST(I420ToRgbFilter, OddSizesStayInsideTheBuffers) {
  for (auto [w, h] : {std::pair{3, 3}, {5, 3}, {7, 6}, {6, 5}, {1, 4}, {9, 1}})
    for (bool invert : {true, false}) {
      SCOPED_TRACE(testing::Message() << w << "x" << h << (invert ? " inverted" : ""));
      auto filter = MakeObject<I420ToRgbFilter>();
      ASSERT_EQ(Set(static_cast<IBaseFilter*>(filter.Get()), "invert", invert ? "1" : "0"), S_OK);
      const CMediaType type = YuvType(MEDIASUBTYPE_I420, w, h);
      ASSERT_EQ(filter->CheckInputType(&type), S_OK);
      ASSERT_EQ(filter->SetMediaType(PINDIR_INPUT, &type), S_OK);
      const size_t pixels = static_cast<size_t>(w) * h, inFrame = pixels + 2 * (pixels / 4);
      const size_t stride = static_cast<size_t>(BitmapStride(w, 3)), outFrame = stride * h;
      const Bytes yuv = RandomBytes(inFrame, w * 17 + h);
      colourtest::GuardedBuffer in(inFrame), out(outFrame);
      std::copy(yuv.begin(), yuv.end(), in.data());
      std::fill(out.data(), out.data() + outFrame, 0xA5);
      LONG length = 0;
      ASSERT_EQ(filter->ApplyTransform(in.data(), static_cast<LONG>(inFrame), static_cast<LONG>(inFrame), out.data(),
                                       static_cast<LONG>(outFrame), length),
                S_OK);
      EXPECT_EQ(length, static_cast<LONG>(outFrame));
      Bytes expected = ReferenceRgb24(yuv, w, h, invert, 128, static_cast<long>(stride));
      ExpectOddEdges(&expected, 0, w, h, static_cast<long>(stride), 3, invert);
      EXPECT_EQ(colourtest::FirstDifference(Bytes(out.data(), out.data() + outFrame), expected), -1);
    }
}

// A downstream pin may agree on an RGB24 type with a smaller picture than the input (sizes are
// not compared): its buffers are then too short for a frame, and every sample fails instead of
// being written past the buffer's end.
TEST(I420ToRgbFilter, OutputBuffersSmallerThanAFrameFailTheSample) {
  const int w = 64, h = 48;
  const CMediaType small = RgbType(MEDIASUBTYPE_RGB24, 32, 24);
  YuvChain chain(YuvType(MEDIASUBTYPE_I420, w, h), w * h * 2, {.acceptedTypes = {small}, .offeredTypes = {small}});
  ASSERT_EQ(chain.outputConnect, S_OK);
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(chain.sink->Allocator()->GetProperties(&props), S_OK);
  EXPECT_EQ(props.cbBuffer, 32 * 3 * 24);
  EXPECT_EQ(chain.PushFrame(SolidYuv(w, h, 1, 2, 3)), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(chain.sink->SampleCount(), 0u);
  EXPECT_NE(LastError(chain.Base()).find("64x48 RGB24 frame (9216 bytes)"), std::string::npos)
      << LastError(chain.Base());
}

}  // namespace

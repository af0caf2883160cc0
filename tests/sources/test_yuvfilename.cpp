// The file-name rules of the raw YUV source and the "WxH" text of "sourcedimensions".
#include <gtest/gtest.h>

#include <string>

#include "sources/rawframe/yuvfilename.h"

using rawframe::ParseDimensions;
using rawframe::ParseYuvFileName;
using rawframe::YuvNameInfo;

namespace {

void ExpectSize(const YuvNameInfo& info, int width, int height, const std::string& text) {
  EXPECT_TRUE(info.hasSize);
  EXPECT_EQ(info.width, width);
  EXPECT_EQ(info.height, height);
  EXPECT_EQ(info.dimensionsText, text);
}

TEST(YuvFileName, CifNamesWinOverDigitsAnywhereInThePath) {
  ExpectSize(ParseYuvFileName("/clips/foreman_qcif.yuv"), 176, 144, "");
  ExpectSize(ParseYuvFileName("/clips/FOREMAN_QCIF.YUV"), 176, 144, "");
  ExpectSize(ParseYuvFileName("/clips/bus_cif_1280x720.yuv"), 352, 288, "");
  // "cif" inside a directory name ("specific") is found before the digits of the file name.
  ExpectSize(ParseYuvFileName("/data/specific/clip_640x480.yuv"), 352, 288, "");
  EXPECT_FALSE(ParseYuvFileName("/clips/foreman_qcif.yuv").is444);
}

TEST(YuvFileName, TheFirstXWithDigitsOnBothSidesGivesTheSize) {
  ExpectSize(ParseYuvFileName("/clips/clip_1280x720_444.yuv"), 1280, 720, "1280x720");
  // The "x" of "x264" has no digits before it and is skipped.
  ExpectSize(ParseYuvFileName("scene.x264_640x480.yuv"), 640, 480, "640x480");
  // The run before the "x" may start the name; an upper-case X counts; the text keeps the
  // digits as written and joins them with a lower-case x.
  ExpectSize(ParseYuvFileName("0640X0480.yuv"), 640, 480, "0640x0480");
  // "12x" has no digits after its x; "3x4" is the first that has both.
  ExpectSize(ParseYuvFileName("a12x_b3x4x5.yuv"), 3, 4, "3x4");
  // A directory's digits count like the file name's.
  ExpectSize(ParseYuvFileName("/frames/800x600/clip.yuv"), 800, 600, "800x600");

  YuvNameInfo none = ParseYuvFileName("/clips/x_y_xx.yuv");
  EXPECT_FALSE(none.hasSize);
  EXPECT_TRUE(none.dimensionsText.empty());
}

TEST(YuvFileName, FormatAndOversizedNumbers) {
  EXPECT_TRUE(ParseYuvFileName("/clips/clip_1280x720_444.yuv").is444);
  EXPECT_TRUE(ParseYuvFileName("/444/clip.yuv").is444);
  EXPECT_FALSE(ParseYuvFileName("/clips/clip_44_4.yuv").is444);
  // Digit runs longer than an int saturate instead of overflowing; the filter then refuses them.
  YuvNameInfo huge = ParseYuvFileName("clip_99999999999999999999x2.yuv");
  EXPECT_TRUE(huge.hasSize);
  EXPECT_EQ(huge.width, 2147483647);
  EXPECT_EQ(huge.height, 2);
  // Bytes that are not text do not disturb the search.
  const char bytes[] = {'\0', '\xff', '7', 'x', '9', '\0'};
  ExpectSize(ParseYuvFileName(std::string_view(bytes, sizeof bytes)), 7, 9, "7x9");
}

TEST(YuvDimensions, SplitsAtTheFirstLowerCaseX) {
  int w = 0, h = 0;
  ASSERT_TRUE(ParseDimensions("704x576", &w, &h));
  EXPECT_EQ(w, 704);
  EXPECT_EQ(h, 576);
  ASSERT_TRUE(ParseDimensions("12abcx34x56", &w, &h));
  EXPECT_EQ(w, 12);
  EXPECT_EQ(h, 34);
  ASSERT_TRUE(ParseDimensions("x480", &w, &h));
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 480);
  EXPECT_FALSE(ParseDimensions("Select", &w, &h));
  EXPECT_FALSE(ParseDimensions("640X480", &w, &h));
}

}  // namespace

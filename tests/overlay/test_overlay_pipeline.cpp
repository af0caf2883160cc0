// The two filters in real graphs: the utilities' test pattern at 25 fps through each filter into
// the ImageWriter, and the written PNG files read back: "25.00 fps" at the top-left corner, the
// rest of each picture as the pattern wrote it, upright in every row order; the time texts.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>

#include "overlay/overlaykit/overlaykit.h"
#include "overlay/rateoverlay/rateoverlay.h"
#include "support_overlay.h"

using namespace overlaytest;

namespace {

constexpr int kW = 320, kH = 240, kFrames = 4;

std::string FramePath(const std::string& folder, int n) {
  char name[64];
  std::snprintf(name, sizeof name, "/f_%03d.png", n);
  return folder + name;
}

// TestPatternSource (solid colour, 25 fps, kFrames frames) -> [filter] -> ImageWriter; the
// folder the frames were written to.
std::string RunPattern(const char* format, const CLSID* clsid,
                       std::initializer_list<std::pair<const char*, const char*>> parameters) {
  const std::string folder = TempFolder();
  Host host;
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_TestPatternSource);
  ComPtr<IBaseFilter> writer = CreateFilter(CLSID_ImageWriter);
  if (!source || !writer) return folder;
  for (auto [name, value] : {std::pair{"format", format}, {"width", "320"}, {"height", "240"}, {"framerate", "25"},
                             {"frames", "4"}, {"pattern", "solid"}, {"colour", "203848"}})
    EXPECT_EQ(SetParam(source.Get(), name, value), S_OK) << name;
  EXPECT_EQ(SetParam(writer.Get(), "filename", folder + "/f_%03d.png"), S_OK);
  host.Add(source.Get(), L"Pattern");
  host.Add(writer.Get(), L"Writer");
  ComPtr<IBaseFilter> filter;
  if (clsid) {
    filter = CreateFilter(*clsid);
    if (!filter) return folder;
    for (const auto& [name, value] : parameters) EXPECT_EQ(SetParam(filter.Get(), name, value), S_OK) << name;
    host.Add(filter.Get(), L"Overlay");
    EXPECT_EQ(host.graph->ConnectDirect(PinOf(source.Get(), 0).Get(), PinOf(filter.Get(), 0).Get(), nullptr), S_OK);
    EXPECT_EQ(host.graph->ConnectDirect(PinOf(filter.Get(), 1).Get(), PinOf(writer.Get(), 0).Get(), nullptr), S_OK);
  } else {
    EXPECT_EQ(host.graph->ConnectDirect(PinOf(source.Get(), 0).Get(), PinOf(writer.Get(), 0).Get(), nullptr), S_OK);
  }
  EXPECT_EQ(host.control->Run(), S_OK);
  EXPECT_EQ(host.WaitForCompletion(), EC_COMPLETE);
  EXPECT_EQ(host.control->Stop(), S_OK);
  return folder;
}

// Pixels of a and b that differ outside the box (0, 0, w, h).
int DifferencesOutside(const RgbImage& a, const RgbImage& b, int w, int h) {
  int n = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x)
      if ((x >= w || y >= h) && std::memcmp(&a.rgb[(y * a.width + x) * 3], &b.rgb[(y * b.width + x) * 3], 3) != 0) ++n;
  return n;
}

}  // namespace

TEST(OverlayPipeline, TwentyFiveFpsAtTheTopLeftAndTheRestUnchanged) {
  const struct {
    const char* what;
    const CLSID* clsid;
    const char* format;
    std::initializer_list<std::pair<const char*, const char*>> parameters;
    int boxWidth;
  } cases[] = {
      {"OverlayKitFilter RGB24", &CLSID_OverlayKitFilter, "RGB24", {{"mode", "0"}, {"precision", "2"}}, 350},
      {"OverlayKitFilter RGB32", &CLSID_OverlayKitFilter, "RGB32", {{"mode", "0"}, {"precision", "2"}}, 350},
      {"RateOverlayFilter RGB24", &CLSID_RateOverlayFilter, "RGB24", {{"mode", "0"}}, 200},
      {"RateOverlayFilter RGB32", &CLSID_RateOverlayFilter, "RGB32", {{"mode", "0"}}, 200},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string reference = RunPattern(c.format, nullptr, {});
    const std::string folder = RunPattern(c.format, c.clsid, c.parameters);
    for (int n = 0; n < kFrames; ++n) {
      SCOPED_TRACE(n);
      const RgbImage expected = ReadPng(FramePath(reference, n));
      const RgbImage got = ReadPng(FramePath(folder, n));
      ASSERT_EQ(got.width, kW);
      ASSERT_EQ(got.height, kH);
      if (n == 0) {
        EXPECT_EQ(got.rgb, expected.rgb);  // the first frame has no interval yet
        continue;
      }
      EXPECT_NE(got.rgb, expected.rgb);
      EXPECT_EQ(DifferencesOutside(got, expected, c.boxWidth, 50), 0);
      if (n == kFrames - 1) {
        EXPECT_EQ(OcrLine(got, 0, 0, c.boxWidth, 50), "25.00 fps");
      }
    }
    std::filesystem::remove_all(reference);
    std::filesystem::remove_all(folder);
  }
}

// Top-down pictures pushed through OverlayKitFilter are written upright: the same PNG as the
// bottom-up picture of the same content.
TEST(OverlayPipeline, TopDownAndBottomUpPicturesGiveTheSameImage) {
  for (int bits : {24, 32}) {
    SCOPED_TRACE(bits);
    std::vector<RgbImage> images;
    for (LONG height : {kH, -kH}) {
      const std::string folder = TempFolder();
      ComPtr<IBaseFilter> writer = CreateFilter(CLSID_ImageWriter);
      ASSERT_TRUE(writer);
      ASSERT_EQ(SetParam(writer.Get(), "filename", folder + "/f_%03d.png"), S_OK);
      ComPtr<IBaseFilter> kit = CreateFilter(CLSID_OverlayKitFilter);
      ASSERT_TRUE(kit);
      ASSERT_EQ(SetParam(kit.Get(), "mode", "0"), S_OK);
      ASSERT_EQ(SetParam(kit.Get(), "precision", "2"), S_OK);
      {
        PushChain chain({kit}, RgbType(bits, kW, height), 400000, writer);
        ASSERT_EQ(chain.connected, S_OK);
        ASSERT_EQ(chain.host.control->Run(), S_OK);
        // A picture whose top half is lighter than its bottom half, in either row order.
        std::vector<BYTE> picture(PictureSize(bits, kW, height));
        const size_t half = picture.size() / 2;
        std::fill(picture.begin(), picture.begin() + static_cast<ptrdiff_t>(half), height > 0 ? 0x10 : 0x50);
        std::fill(picture.begin() + static_cast<ptrdiff_t>(half), picture.end(), height > 0 ? 0x50 : 0x10);
        ASSERT_EQ(chain.Push(picture, 0), S_OK);
        ASSERT_EQ(chain.Push(picture, 400000), S_OK);
        ASSERT_EQ(chain.push->EndOfStream(), S_OK);
        EXPECT_EQ(chain.host.WaitForCompletion(), EC_COMPLETE);
      }
      images.push_back(ReadPng(FramePath(folder, 1)));
      std::filesystem::remove_all(folder);
    }
    ASSERT_EQ(images[0].width, kW);
    EXPECT_EQ(images[0].rgb, images[1].rgb);
    EXPECT_EQ(images[0].rgb[(10 * kW + 300) * 3], 0x50);  // top right: the lighter half
    EXPECT_EQ(OcrLine(images[1], 0, 0, 350, 50), "25.00 fps");
  }
}

TEST(OverlayPipeline, TimeTextsInTheDefaultLocale) {
  const struct {
    const char* mode;
    const char* pattern;
  } cases[] = {
      {"2", R"(\d\d:\d\d:\d\d)"},
      {"3", R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    const std::string folder = RunPattern("RGB24", &CLSID_OverlayKitFilter, {{"mode", c.mode}});
    // Time texts need no interval: the first frame carries one too.
    const std::string text = OcrLine(ReadPng(FramePath(folder, 0)), 0, 0, 350, 50);
    EXPECT_TRUE(std::regex_match(text, std::regex(c.pattern))) << text;
    std::filesystem::remove_all(folder);
  }
}

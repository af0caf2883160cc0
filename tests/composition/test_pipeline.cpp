// Both composition modules as a host uses them: registration, the two property pages in the
// host's frame, and graphs built through the graph manager from two test-pattern sources (RGB24
// and RGB32, bottom-up sources, bottom-up and top-down downstream types) into a sample grabber.
// The sources run at a million frames a second so that the frame-rate gate lets every frame
// through; the output must be the reference composition of frames the sources delivered, and end
// of stream reaches the grabber once both inputs have ended.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>

#include "composition/inset/insetvideo.h"
#include "composition/inset/pipprops.h"
#include "composition/tilemix/mixprops.h"
#include "composition/tilemix/tilemix.h"
#include "platform/com/runtime.h"
#include "platform/graph/mapper.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/uuids.h"
#include "platform/ui/propframe.h"
#include "tests/colour/support_colour.h"
#include "tests/composition/support_composition.h"
#include "tests/utilities/support_utilities.h"
#include "tests/support/modules.h"

using namespace comptest;
using namespace utiltest;

namespace {

void RegisterModules() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterUtilities();
    plenor::test::RegisterPluginModules({"InsetVideoFilter.so", "TileMixFilter.so"}, PLENOR_UTILITIES_PLUGIN_DIR);
  });
}

ComPtr<IBaseFilter> Source(const char* format, int w, int h, const char* pattern, int frames) {
  ComPtr<IBaseFilter> s = CreateFilter(CLSID_TestPatternSource);
  EXPECT_EQ(Set(s.Get(), "format", format), S_OK);
  EXPECT_EQ(Set(s.Get(), "width", std::to_string(w)), S_OK);
  EXPECT_EQ(Set(s.Get(), "height", std::to_string(h)), S_OK);
  EXPECT_EQ(Set(s.Get(), "frames", std::to_string(frames)), S_OK);
  EXPECT_EQ(Set(s.Get(), "pattern", pattern), S_OK);
  EXPECT_EQ(Set(s.Get(), "colour", "20C040"), S_OK);
  EXPECT_EQ(Set(s.Get(), "seed", "77"), S_OK);
  EXPECT_EQ(Set(s.Get(), "framerate", "1000000"), S_OK);
  return s;
}

ComPtr<IPin> Pin(IBaseFilter* f, const wchar_t* id) {
  IPin* pin = nullptr;
  EXPECT_EQ(f->FindPin(id, &pin), S_OK);
  return ComPtr<IPin>::Attach(pin);
}

// What a source delivers on its own.
std::vector<Grabbed> SourceFrames(const char* format, int w, int h, const char* pattern, int frames) {
  Graph graph;
  ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
  EXPECT_EQ(graph.Build({Source(format, w, h, pattern, frames).Get(), grabber.Get()}), S_OK);
  EXPECT_EQ(graph.RunToEnd(), EC_COMPLETE);
  return ReadGrabber(grabber.Get());
}

struct MixRun {
  std::vector<Grabbed> frames;
  LONG code = 0;
  HRESULT connect = E_FAIL;
};

// source(main) -> Input 0, source(solid) -> Input 1, Output 0 -> grabber (optionally with a
// top-down type of the output size).
MixRun RunMix(const CLSID& mixer, const char* format, int w0, int h0, int w1, int h1, int frames,
           const std::vector<std::pair<const char*, const char*>>& params, const CMediaType* outType) {
  RegisterModules();
  MixRun run;
  Graph graph;
  ComPtr<IBaseFilter> s0 = Source(format, w0, h0, "noise", frames), s1 = Source(format, w1, h1, "solid", frames);
  ComPtr<IBaseFilter> mix = CreateFilter(mixer), grabber = CreateFilter(CLSID_SampleGrabber);
  for (auto& [n, v] : params) EXPECT_EQ(Set(mix.Get(), n, v), S_OK);
  for (IBaseFilter* f : {s0.Get(), s1.Get(), mix.Get(), grabber.Get()}) EXPECT_EQ(graph.Add(f), S_OK);
  EXPECT_EQ(graph.builder->ConnectDirect(FirstPin(s0.Get(), PINDIR_OUTPUT).Get(), Pin(mix.Get(), L"Input 0").Get(),
                                         nullptr),
            S_OK);
  EXPECT_EQ(graph.builder->ConnectDirect(FirstPin(s1.Get(), PINDIR_OUTPUT).Get(), Pin(mix.Get(), L"Input 1").Get(),
                                         nullptr),
            S_OK);
  run.connect = graph.builder->ConnectDirect(Pin(mix.Get(), L"Output 0").Get(),
                                             FirstPin(grabber.Get(), PINDIR_INPUT).Get(), outType);
  if (FAILED(run.connect)) return run;
  run.code = graph.RunToEnd();
  run.frames = ReadGrabber(grabber.Get());
  return run;
}

struct PipelineCase {
  const char* name;
  bool tile;
  const char* format;
  int w0, h0, w1, h1;
  int orientation;
  bool topDown;
  int W, H;
};

class CompositionPipeline : public testing::TestWithParam<PipelineCase> {};

TEST_P(CompositionPipeline, EveryFrameComposedFromDeliveredFrames) {
  const PipelineCase& c = GetParam();
  const int b = std::string(c.format) == "RGB24" ? 3 : 4;
  const int frames = 4;
  RegisterModules();
  const std::vector<Grabbed> mains = SourceFrames(c.format, c.w0, c.h0, "noise", frames);
  const std::vector<Grabbed> solids = SourceFrames(c.format, c.w1, c.h1, "solid", 1);
  ASSERT_EQ(mains.size(), static_cast<size_t>(frames));
  ASSERT_EQ(solids.size(), 1u);
  const CMediaType top = VideoType(b == 3 ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_RGB32, c.W, -c.H);
  const MixRun run = RunMix(c.tile ? CLSID_TileMixFilter : CLSID_InsetVideoFilter, c.format, c.w0, c.h0, c.w1, c.h1,
                         frames, {{c.tile ? "orientation" : "offset_x", c.tile ? (c.orientation ? "1" : "0") : "4"}},
                         c.topDown ? &top : nullptr);
  ASSERT_EQ(run.connect, S_OK);
  EXPECT_EQ(run.code, EC_COMPLETE);
  // The gate's microsecond clock may still hold back a frame that arrives within the microsecond
  // after Run; every other input frame is composed.
  ASSERT_GE(run.frames.size(), static_cast<size_t>(frames));
  ASSERT_LE(run.frames.size(), static_cast<size_t>(2 * frames));

  // The composition of main frame k (or none yet) with the solid picture (or none yet).
  const Picture solid = FromBytes(solids[0].bytes, c.w1, c.h1, b), blankSub(c.w1, c.h1, b);
  auto compose = [&](const Picture* main, const Picture& sub) {
    Picture out(c.W, c.H, b);
    if (c.tile) {
      const Picture blankMain(c.w0, c.h0, b);
      const Picture& first = main ? *main : blankMain;
      const bool stacked = c.orientation != 0;
      const int y0 = stacked && !c.topDown ? c.H - c.h0 : 0, y1 = stacked && c.topDown ? c.H - c.h1 : 0;
      ReferencePlace(sub, &out, stacked ? 0 : c.W - c.w1, y1, c.topDown);
      ReferencePlace(first, &out, 0, y0, c.topDown);
    } else {
      if (main) out = c.topDown ? Flipped(*main) : *main;
      const int sw = c.w1 > c.W / 2 ? static_cast<int>(c.w1 * 0.4) : c.w1;
      const int sh = c.h1 > c.H / 2 ? static_cast<int>(c.h1 * 0.4) : c.h1;
      ReferencePlace(sw == c.w1 && sh == c.h1 ? sub : ReferenceScale(sub, sw, sh, false, true), &out, 4, 0,
                     c.topDown);
    }
    return out.bytes;
  };
  std::vector<std::vector<BYTE>> candidates;
  std::vector<Picture> mainPictures;
  for (const Grabbed& g : mains) mainPictures.push_back(FromBytes(g.bytes, c.w0, c.h0, b));
  for (const Picture* sub : {&solid, &blankSub}) {
    candidates.push_back(compose(nullptr, *sub));
    for (const Picture& m : mainPictures) candidates.push_back(compose(&m, *sub));
  }
  for (size_t i = 0; i < run.frames.size(); ++i) {
    bool found = false;
    for (const auto& cand : candidates) found = found || cand == run.frames[i].bytes;
    EXPECT_TRUE(found) << "output frame " << i << " is no composition of delivered frames";
  }
  // The last frame follows every delivered frame: the last main frame with the solid picture.
  EXPECT_EQ(colourtest::FirstDifference(run.frames.back().bytes, compose(&mainPictures.back(), solid)), -1);
}

const PipelineCase kPipelines[] = {
    {"InsetRgb24", false, "RGB24", 90, 60, 41, 29, 0, false, 90, 60},
    {"InsetRgb32TopDown", false, "RGB32", 160, 120, 160, 120, 0, true, 160, 120},
    {"TileSideBySideRgb24", true, "RGB24", 50, 40, 30, 40, 0, false, 80, 40},
    {"TileStackedRgb32TopDown", true, "RGB32", 40, 30, 40, 30, 1, true, 40, 60},
    {"TileStackedRgb24", true, "RGB24", 45, 20, 45, 20, 1, false, 45, 40},
};

INSTANTIATE_TEST_SUITE_P(Graphs, CompositionPipeline, testing::ValuesIn(kPipelines),
                         [](const testing::TestParamInfo<PipelineCase>& info) { return std::string(info.param.name); });

TEST(CompositionModules, RegistrationRecordsNamesAndMerits) {
  RegisterModules();
  struct Entry {
    const CLSID* clsid;
    const wchar_t* name;
    DWORD merit;
  };
  for (const Entry& e : {Entry{&CLSID_InsetVideoFilter, L"Ravik Plenor Picture in Picture Filter", 0x600000u},
                         Entry{&CLSID_TileMixFilter, L"Ravik Plenor Video Mixer", 0x200000u}}) {
    RegisteredFilter entry;
    ASSERT_EQ(MapperGetFilter(*e.clsid, &entry), S_OK);
    EXPECT_EQ(entry.name, e.name);
    EXPECT_EQ(entry.merit, e.merit);
    EXPECT_TRUE(entry.pins.empty());
  }
}

TEST(CompositionModules, PicInPicPageShowsAndAppliesSevenFields) {
  RegisterModules();
  ComPtr<IBaseFilter> filter = CreateFilter(CLSID_InsetVideoFilter);
  ASSERT_TRUE(filter);
  ASSERT_EQ(Set(filter.Get(), "target_height", "240"), S_OK);
  std::unique_ptr<PropertyFrame> frame;
  ASSERT_EQ(PropertyFrame::Open(filter.Get(), &frame), S_OK);
  EXPECT_EQ(frame->PageTitle(0), "Ravik Pic in Pic Properties");
  const std::string page = frame->Describe();
  EXPECT_NE(page.find("\"Target Height:\""), std::string::npos) << page;
  EXPECT_NE(page.find("= \"240\""), std::string::npos) << page;
  EXPECT_NE(page.find("\"Border width:\""), std::string::npos) << page;
  EXPECT_NE(page.find("Use 0 for populating input video size."), std::string::npos) << page;
  const std::pair<int, const char*> typed[] = {{IDC_TARGET_WIDTH, "320"}, {IDC_SUBPIC_WIDTH, "64"},
                                               {IDC_SUBPIC_HEIGHT, "48"}, {IDC_OFFSET_X, "12"},
                                               {IDC_OFFSET_Y, "8"},       {IDC_BORDER_WIDTH, "1"}};
  for (auto& [id, text] : typed) ASSERT_EQ(frame->TypeText(id, text), S_OK);
  EXPECT_EQ(frame->Apply(), S_OK);  // "border_width" is a parameter: the apply completes
  EXPECT_EQ(Get(filter.Get(), "target_width"), "320");
  EXPECT_EQ(Get(filter.Get(), "offset_y"), "8");
  EXPECT_EQ(Get(filter.Get(), "border_width"), "1");
  frame->Close();
}

TEST(CompositionModules, VideoMixingPageSelectsAndAppliesTheOrientation) {
  RegisterModules();
  ComPtr<IBaseFilter> filter = CreateFilter(CLSID_TileMixFilter);
  ASSERT_TRUE(filter);
  std::unique_ptr<PropertyFrame> frame;
  ASSERT_EQ(PropertyFrame::Open(filter.Get(), &frame), S_OK);
  EXPECT_EQ(frame->PageTitle(0), "Ravik Video Mixing Filter Properties");
  EXPECT_NE(frame->Describe().find("\"Horizontal\" (o)"), std::string::npos) << frame->Describe();
  ASSERT_EQ(frame->Click(IDC_VERTICAL), S_OK);
  ASSERT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(Get(filter.Get(), "orientation"), "1");
  frame->Close();
}

}  // namespace

// plenor graph save and graph run over every filter module: each saved graph runs again and writes
// the same bytes as the pipeline run directly; read-only parameters (the encoder's parameter sets,
// a source's picture size, a reader's file) are not saved, and files that still carry them load;
// a value a filter refuses still fails, named with its unprintable bytes shown.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/host/cli_process.h"

namespace fs = std::filesystem;

namespace {

using plenor_cli_test::CliTest;
using plenor_cli_test::ReadFile;
using plenor_cli_test::Result;

const char* const kModules[] = {"PlenorUtilities",  "ChannelPickFilter", "FrameDropFilter",  "TimeShiftFilter",
                                "RawFrameSource",   "AvcEncodeFilter",   "AvcDecodeFilter",  "AvcFileSource",
                                "I420ToRgbFilter",  "RgbToI420Filter",   "InsetVideoFilter", "TileMixFilter",
                                "OverlayKitFilter", "RateOverlayFilter"};

std::string Module(const std::string& name) { return (fs::path(PLENOR_BUILT_PLUGIN_DIR) / (name + ".so")).string(); }

class CliGraphTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    std::vector<std::string> args = {"register"};
    for (const char* m : kModules)
      if (fs::exists(Module(m))) args.push_back(Module(m));
    Result r = Run(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The material the sources read.
    for (const std::string& make :
         {"TestPatternSource format=I420 width=32 height=16 frames=6 ! FileWriter location=" + Path("clip_32x16.yuv"),
          "TestPatternSource format=PCM frames=3 ! WavWriter location=" + Path("tone.wav")}) {
      r = Run({"run", "--quiet", make});
      ASSERT_EQ(r.exitCode, 0) << r.err;
    }
    if (Built({"AvcEncodeFilter"})) {
      r = Run({"run", "--quiet", "TestPatternSource width=32 height=16 frames=4 ! AvcEncodeFilter h264_output_type=1 "
                                 "! FileWriter location=" + Path("clip.h264")});
      ASSERT_EQ(r.exitCode, 0) << r.err;
    }
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
  static bool Built(const std::vector<std::string>& modules) {
    for (const std::string& m : modules)
      if (!fs::exists(Module(m))) return false;
    return true;
  }
};

TEST_F(CliGraphTest, EveryModuleSavedGraphRunsAgainWithTheSameBytes) {
  struct Case {
    std::vector<std::string> modules;  // skipped when one is not built
    std::string pipeline;              // ends with a writer, given its location by the test
    std::vector<std::string> shown;    // texts graph show prints
    std::vector<std::string> unsaved;  // parameters graph show must not list
    // The mixers compose the newest frame of each input when one arrives, so which frames meet
    // depends on the two sources' threads: their files are compared by having pictures only.
    bool sameBytes = true;
  };
  const std::string clip = Path("clip_32x16.yuv");
  const std::string pattern = "TestPatternSource width=32 height=16 frames=3 ";
  const std::string fast = pattern + "framerate=1000000 ";
  const Case cases[] = {
      {{"PlenorUtilities"}, pattern + "pattern=noise ! Queue max_samples=2 ! FileWriter", {"max_samples = \"2\"", "pattern = \"noise\""}, {}},
      {{"PlenorUtilities", "ChannelPickFilter"},
       "WavSource location=" + Path("tone.wav") + " ! ChannelPickFilter channel=1 ! WavWriter",
       {"reads file " + Path("tone.wav"), "persisted record (4 bytes): 01 00 00 00"},
       {}},
      {{"RawFrameSource", "FrameDropFilter", "TimeShiftFilter"},
       "RawFrameSource location=" + clip + " fps=25 ! FrameDropFilter source_framerate=25 target_framerate=12.5 "
       "! TimeShiftFilter skewTimestamp=500 ! FileWriter",
       {"target_framerate = \"12.50\"", "FrameDropFilter2.Output -> TimeShiftFilter3.Input  Video I420 VideoInfo 32x16 12-bit 12.5 fps",
        "skewTimestamp = \"500\""},
       {}},
      {{"RawFrameSource", "I420ToRgbFilter"}, "RawFrameSource location=" + clip + " ! I420ToRgbFilter invert=0 ! FileWriter",
       {"invert = \"0\""}, {}},
      {{"RgbToI420Filter"}, pattern + "! RgbToI420Filter chrominanceoffset=100 ! FileWriter", {"chrominanceoffset = \"100\""}, {}},
      // The three output forms; the parameter sets are the encoder's own output and are not saved,
      // the parameters listed after them are.
      {{"AvcEncodeFilter"}, pattern + "! AvcEncodeFilter h264_output_type=0 notifyoniframe=1 iframeperiod=2 ! FileWriter",
       {"notifyoniframe = \"1\"", "iframeperiod = \"2\"", "h264_output_type = \"0\""}, {"sps", "pps"}},
      {{"AvcEncodeFilter"}, pattern + "! AvcEncodeFilter h264_output_type=1 notifyoniframe=1 ! FileWriter",
       {"notifyoniframe = \"1\""}, {"sps", "pps"}},
      {{"AvcEncodeFilter", "AvcDecodeFilter"}, pattern + "! AvcEncodeFilter notifyoniframe=1 ! AvcDecodeFilter ! FileWriter",
       {"notifyoniframe = \"1\"", "h264_output_type = \"2\""}, {"sps", "pps"}},
      {{"AvcFileSource", "AvcDecodeFilter"},
       "AvcFileSource location=" + Path("clip.h264") + " usequelth264=1 fps=25 ! AvcDecodeFilter ! FileWriter",
       {"usequelth264 = \"1\"", "fps = \"25\""}, {"sourcedimensions"}},
      {{"OverlayKitFilter"}, pattern + "! OverlayKitFilter mode=0 x=4 ! FileWriter", {"persisted record (12 bytes): 04 00 00 00"}, {}},
      {{"RateOverlayFilter"}, pattern + "! RateOverlayFilter mode=0 ! FileWriter", {"mode = \"0\""}, {}},
      {{"TileMixFilter"}, fast + "! TileMixFilter name=mix orientation=1 " + fast + "! mix. mix. ! FileWriter",
       {"orientation = \"1\""}, {}, false},
      {{"InsetVideoFilter"}, fast + "! InsetVideoFilter name=pip offset_x=4 " + fast + "! pip. pip. ! FileWriter",
       {"offset_x = \"4\""}, {}, false},
  };
  int ran = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pipeline);
    if (!Built(c.modules)) continue;
    ++ran;
    const std::string direct = Path("direct.out"), saved = Path("saved.out"), graph = Path("g.json");
    fs::remove(saved);
    Result r = Run({"run", "--quiet", c.pipeline + " location=" + direct});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Run({"graph", "save", "--quiet", graph, c.pipeline + " location=" + saved});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = Run({"graph", "run", "--quiet", graph});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string bytes = ReadFile(direct);
    EXPECT_FALSE(bytes.empty());
    if (c.sameBytes)
      EXPECT_EQ(ReadFile(saved), bytes) << "the saved graph wrote other bytes";
    else
      EXPECT_FALSE(ReadFile(saved).empty()) << "the saved graph wrote no pictures";
    r = Run({"graph", "show", graph});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const std::string& s : c.shown) EXPECT_NE(r.out.find(s), std::string::npos) << s << "\n" << r.out;
    for (const std::string& p : c.unsaved) EXPECT_EQ(r.out.find("      " + p + " = "), std::string::npos) << p << "\n" << r.out;
  }
  EXPECT_GT(ran, 0) << "no module built";
}

// Files saved before read-only parameters were left out carry them (the parameter sets as text,
// their bytes replaced): such files load, the values are worked out again at connection. A value
// a filter refuses still fails the load, named with its unprintable bytes shown; an edit that makes
// the pins agree on another type than the saved one is refused too.
TEST_F(CliGraphTest, OldFilesLoadAndRefusedValuesStillFail) {
  if (!Built({"AvcEncodeFilter", "FrameDropFilter", "RawFrameSource"})) GTEST_SKIP() << "modules not built";
  const std::string pipeline = "TestPatternSource width=32 height=16 frames=3 ! AvcEncodeFilter notifyoniframe=1 ! FileWriter location=";
  Result r = Run({"run", "--quiet", pipeline + Path("direct.h264")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = Run({"graph", "save", Path("g.json"), pipeline + Path("saved.h264")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string good = ReadFile(Path("g.json"));
  const std::string anchor = R"({
          "name": "notifyoniframe",)";
  ASSERT_NE(good.find(anchor), std::string::npos) << good;

  const std::string oldSets = R"({"name": "pps", "value": "\u0000\u0000\u0000\u0001h\ufffd<\ufffd"},
          {"name": "sps", "value": "\u0000\u0000\u0000\u0001gB\ufffd\u0014\ufffd"}, )";
  struct Edit {
    std::string insert;   // parameters put before notifyoniframe
    std::string failure;  // "" when the file must run
  };
  const Edit edits[] = {
      {oldSets, ""},
      {R"({"name": "pps", "value_base64": "AAAAAWjuPIA="}, )", ""},
      {R"({"name": "notifyoniframe", "value": "maybe"}, )", "parameter 'notifyoniframe' = 'maybe': refused"},
      {R"({"name": "notifyoniframe", "value_base64": "AXllcw=="}, )", "parameter 'notifyoniframe' = '\\x01yes'"},
      {R"({"name": "nosuch", "value": "1"}, )", "parameter 'nosuch' = '1': unknown"},
  };
  for (const Edit& e : edits) {
    SCOPED_TRACE(e.insert);
    std::string edited = good;
    edited.insert(edited.find(anchor), e.insert);
    std::ofstream(Path("edited.json"), std::ios::trunc) << edited;
    fs::remove(Path("saved.h264"));
    r = Run({"graph", "run", "--quiet", Path("edited.json")});
    if (e.failure.empty()) {
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_EQ(ReadFile(Path("saved.h264")), ReadFile(Path("direct.h264")));
    } else {
      EXPECT_EQ(r.exitCode, 1);
      const std::string line = OneErrorLine(r);
      EXPECT_NE(line.find("AvcEncodeFilter2"), std::string::npos) << line;
      EXPECT_NE(line.find(e.failure), std::string::npos) << line;
    }
  }

  // The saved type of FrameDropFilter's output is its lowered rate; a file whose target rate was
  // edited makes the pins agree on another rate, which is refused rather than run.
  r = Run({"graph", "save", Path("fd.json"), "RawFrameSource location=" + Path("clip_32x16.yuv") +
                                                 " fps=25 ! FrameDropFilter source_framerate=25 target_framerate=12.5 "
                                                 "! FileWriter location=" + Path("fd.yuv")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string fd = ReadFile(Path("fd.json"));
  const std::string edited =
      std::regex_replace(fd, std::regex(R"("name": "target_framerate",\s*"value": "12.50")"), R"("name": "target_framerate", "value": "5")");
  ASSERT_NE(edited, fd);
  std::ofstream(Path("fd5.json"), std::ios::trunc) << edited;
  r = Run({"graph", "run", "--quiet", Path("fd5.json")});
  EXPECT_EQ(r.exitCode, 1);
  const std::string line = OneErrorLine(r);
  EXPECT_NE(line.find("refused the saved type Video I420 VideoInfo 32x16 12-bit 12.5 fps"), std::string::npos) << line;
}

}  // namespace

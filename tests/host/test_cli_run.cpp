// plenor inspect, run, page and graph as a user runs them, over the real utility modules and
// ChannelPickFilter: outputs and their bytes, every kind of error with its one line and exit
// code, saved graphs that play back identically and damaged ones that are refused.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/host/cli_process.h"

namespace fs = std::filesystem;

namespace {

using plenor_cli_test::CliTest;
using plenor_cli_test::Lines;
using plenor_cli_test::ReadFile;
using plenor_cli_test::Result;

std::string Module(const char* name) { return (fs::path(PLENOR_BUILT_PLUGIN_DIR) / name).string(); }

class CliRunTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    Result r = Run({"register", Module("PlenorUtilities.so"), Module("ChannelPickFilter.so")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  std::string Path(const std::string& name) const { return (dir / name).string(); }
};

// The 16-bit samples of a canonical 44-byte-header WAV file.
std::vector<int16_t> WavSamples(const std::string& bytes) {
  std::vector<int16_t> s;
  if (bytes.size() < 44) return s;
  s.resize((bytes.size() - 44) / 2);
  std::memcpy(s.data(), bytes.data() + 44, s.size() * 2);
  return s;
}

TEST_F(CliRunTest, PipelineOverUtilitiesWritesTheExpectedFiles) {
  // Video: three 16x8 RGB24 frames straight into a file.
  Result r = Run({"run", "TestPatternSource", "width=16", "height=8", "frames=3", "!", "FileWriter",
                  "location=" + Path("v.rgb")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(fs::file_size(Path("v.rgb")), 3u * 16 * 8 * 3);
  EXPECT_NE(r.out.find("finished: end of stream"), std::string::npos) << r.out;
  // The summary counts what each filter took in and what reached the end of the pipeline.
  EXPECT_NE(r.out.find("rendered: 3 samples"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("FileWriter (element 2) (3 samples in)"), std::string::npos) << r.out;

  // Audio: the stereo test tone, and the same tone through ChannelPickFilter keeping the right
  // channel. The mono file holds exactly every second sample of the stereo one.
  r = Run({"run", "TestPatternSource format=PCM frames=4 ! WavWriter location=" + Path("stereo.wav")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = Run({"run", "--quiet", "TestPatternSource", "format=PCM", "frames=4", "!", "\"Ravik Plenor Stereo2Mono Filter\"",
           "channel=1", "!", "wavwriter", "location=" + Path("mono.wav")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  std::vector<int16_t> stereo = WavSamples(ReadFile(Path("stereo.wav")));
  std::vector<int16_t> mono = WavSamples(ReadFile(Path("mono.wav")));
  ASSERT_GT(mono.size(), 1000u);
  ASSERT_EQ(stereo.size(), 2 * mono.size());
  size_t differ = 0;
  for (size_t i = 0; i < mono.size(); ++i) differ += mono[i] != stereo[2 * i + 1];
  EXPECT_EQ(differ, 0u);
  size_t leftDiffers = 0;
  for (size_t i = 0; i < mono.size(); ++i) leftDiffers += mono[i] != stereo[2 * i];
  EXPECT_GT(leftDiffers, mono.size() / 2) << "the left and right tones should differ";
}

TEST_F(CliRunTest, ReferencesNamesAndLimits) {
  // "w." at the start of a branch continues from the element named w; --frames stops an endless
  // source after that many frames.
  Result r = Run({"run", "--frames", "5", "TestPatternSource width=8 height=8 frames=0 name=w   w. ! FileWriter location=" +
                                               Path("five.rgb")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(fs::file_size(Path("five.rgb")), 5u * 8 * 8 * 3);

  r = Run({"run", "--dot", Path("g.dot"), "TestPatternSource frames=1 ! NullRenderer"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string dot = ReadFile(Path("g.dot"));
  EXPECT_NE(dot.find("digraph"), std::string::npos);
  EXPECT_NE(dot.find("RGB24"), std::string::npos) << dot;

  // A module given by path is used without registering it.
  fs::remove(registry);
  r = Run({"run", Module("PlenorUtilities.so") + ":TestPatternSource", "frames=2", "width=4", "height=4", "!",
           Module("PlenorUtilities.so") + ":FileWriter", "location=" + Path("bypath.rgb")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(fs::file_size(Path("bypath.rgb")), 2u * 4 * 4 * 3);
  r = Run({"list"});
  EXPECT_EQ(r.out, "") << "running from a module path must not register it";
}

TEST_F(CliRunTest, ErrorsAreOneLineWithTheCulpritTheCodeAndTheExitStatus) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> mentions;
  };
  const std::string missing = Path("no-such.wav");
  const std::vector<Case> cases = {
      {{"run", "Bogus ! NullRenderer"}, 1, {"'Bogus'", "0x80040154 (REGDB_E_CLASSNOTREG)", "plenor list"}},
      {{"run", "TestPatternSource pattern=stripes ! NullRenderer"},
       1,
       {"parameter 'pattern'", "'stripes'", "0x80004005 (E_FAIL)", "TestPatternSource (element 1)"}},
      {{"run", "TestPatternSource colour_depth=3 ! NullRenderer"}, 1, {"'colour_depth' unknown", "pattern"}},
      {{"run", "TestPatternSource ! WavWriter location=" + Path("x.wav")},
       1,
       {"cannot connect TestPatternSource (element 1) pin \"Out\" to WavWriter (element 2) pin \"In\"", "0x8004",
        "Video RGB24"}},
      {{"run", "WavSource location=" + missing + " ! NullRenderer"},
       1,
       {missing, "0x80070002 (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))", "does not exist"}},
      {{"run", "NullRenderer location=" + Path("y")}, 1, {"takes no location", "0x80004002"}},
      {{"run", "TestPatternSource !"}, 2, {"ends with '!'"}},
      {{"run", "TestPatternSource ! x."}, 2, {"'x.'"}},
      {{"run", "--frames", "zero", "TestPatternSource"}, 2, {"--frames"}},
      {{"run"}, 2, {"pipeline"}},
      {{"page", "ChannelPickFilter", "--set", "7777=1"}, 1, {"control 7777", "0x80070057"}},
      {{"inspect"}, 2, {"inspect"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Result r = Run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode);
    std::string line = OneErrorLine(r);
    for (const std::string& m : c.mentions) EXPECT_NE(line.find(m), std::string::npos) << m << "\n" << line;
  }
}

TEST_F(CliRunTest, SavedGraphPlaysBackTheSameBytesAndRestoresPersistedState) {
  const std::string pipeline = "TestPatternSource format=PCM frames=3 ! ChannelPickFilter channel=1 name=pick ! WavWriter";
  Result r = Run({"run", pipeline + " location=" + Path("direct.wav")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = Run({"graph", "save", Path("g.json"), pipeline + " location=" + Path("saved.wav")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_FALSE(fs::exists(Path("saved.wav"))) << "saving does not run the graph";
  r = Run({"graph", "run", Path("g.json")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string direct = ReadFile(Path("direct.wav"));
  EXPECT_GT(direct.size(), 44u);
  EXPECT_EQ(ReadFile(Path("saved.wav")), direct);

  r = Run({"graph", "show", Path("g.json")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("persisted record (4 bytes): 01 00 00 00"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("pick.XForm Out -> "), std::string::npos) << r.out;

  // The persisted record wins over the parameter text: a file whose "channel" text says 0 but
  // whose record says 1 still picks the right channel.
  std::string json = ReadFile(Path("g.json"));
  std::string edited = std::regex_replace(json, std::regex("\"name\": \"channel\",\\s*\"value\": \"1\""),
                                          "\"name\": \"channel\", \"value\": \"0\"");
  ASSERT_NE(edited, json);
  std::ofstream(Path("edited.json")) << edited;
  fs::remove(Path("saved.wav"));
  r = Run({"graph", "run", "--quiet", Path("edited.json")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(Path("saved.wav")), direct);
}

TEST_F(CliRunTest, DamagedGraphFilesAreRefusedNamingWhatIsWrong) {
  Result r = Run({"graph", "save", Path("g.json"), "TestPatternSource format=PCM frames=1 ! ChannelPickFilter ! NullRenderer"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string good = ReadFile(Path("g.json"));
  struct Damage {
    std::string from, to, mention;
  };
  const std::vector<Damage> damages = {
      {"\"version\": 1", "\"version\": 7", "version"},
      {"\"persist\": \"AAAAAA==\"", "\"persist\": \"AA*AAA==\"", "filters[1].persist: not valid base64"},
      {"\"persist\": \"AAAAAA==\"", "\"persist\": \"AAAA\"", "persisted record (3 bytes) was refused"},
      {"\"filter\": \"NullRenderer3\"", "\"filter\": \"Nobody\"", "connections[1].to.filter: 'Nobody'"},
      {"\"format\": \"plenor-graph\"", "\"format\": \"other\"", "format"},
      {"\"sample_size\": 4", "\"sample_size\": -4", "sample_size"},
      {"{FA2FAD18-03E5-4A8B-9462-D45AE1582868}", "{FA2FAD18-03E5-4A8B-9462}", "filters[0].clsid"},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.to);
    size_t at = good.find(d.from);
    ASSERT_NE(at, std::string::npos) << good;
    std::string bad = good;
    bad.replace(at, d.from.size(), d.to);
    std::ofstream(Path("bad.json"), std::ios::trunc) << bad;
    r = Run({"graph", "run", Path("bad.json")});
    EXPECT_EQ(r.exitCode, 1);
    std::string line = OneErrorLine(r);
    EXPECT_NE(line.find(d.mention), std::string::npos) << line;
    EXPECT_NE(line.find("bad.json"), std::string::npos) << line;
  }
  std::ofstream(Path("cut.json"), std::ios::trunc) << good.substr(0, good.size() / 2);
  r = Run({"graph", "show", Path("cut.json")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(OneErrorLine(r).find("not valid JSON"), std::string::npos);
}

TEST_F(CliRunTest, PageSetAndApplyChangeTheParameterThroughThePage) {
  Result r = Run({"page", "ChannelPickFilter", "--set", "1001=1"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("edit 1001 \"Channel:\" = \"1\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("channel = \"0\""), std::string::npos) << "not applied: the filter keeps its value\n" << r.out;

  r = Run({"page", "ChannelPickFilter", "--set", "1001=1", "--apply"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("applied"), std::string::npos);
  EXPECT_NE(r.out.find("channel = \"1\""), std::string::npos) << r.out;

  // Parameters given first show in the page; the up-down arrow steps the value.
  r = Run({"page", "ChannelPickFilter", "channel=1", "--set", "1002=-1", "--apply"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("edit 1001 \"Channel:\" = \"1\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("channel = \"0\""), std::string::npos) << r.out;

  // A list item by its text.
  r = Run({"page", "TestPatternSource", "--set", "1011=noise", "--apply"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("pattern = \"noise\""), std::string::npos) << r.out;
}

TEST_F(CliRunTest, InspectShowsParametersAndPageControls) {
  Result r = Run({"inspect", "channelpickfilter"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* text : {"Ravik Plenor Stereo2Mono Filter", "Short name    ChannelPickFilter", "Audio / PCM",
                           "ISettingsInterface", "IPersistStream", "channel  signed integer", "read-write",
                           "\"Ravik STEREO2MONO Properties\"", "edit 1001 \"Channel:\" = \"0\"", "range 0..32767"})
    EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;

  r = Run({"inspect", "TestPatternSource"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const char* text : {"width               unsigned integer", "format              text", "tone_left           real number",
                           "list 1001 \"Format:\""})
    EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
}

}  // namespace

namespace {

// --frames and --seconds hold for every source or are refused naming the source; limits beyond
// any stream are taken at once; the summary tells the position reached and what each filter
// delivered.
TEST_F(CliRunTest, LimitsHoldOrAreRefusedAndHugeLimitsDoNotSpin) {
  const std::string clip = Path("clip_16x16.yuv");
  Result r = Run({"run", "--quiet", "TestPatternSource format=I420 width=16 height=16 frames=12 ! FileWriter location=" + clip});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string raw = Module("RawFrameSource.so");
  for (const std::vector<std::string>& limit : {std::vector<std::string>{"--frames", "5"}, {"--seconds", "0.1"}}) {
    SCOPED_TRACE(limit[0]);
    std::vector<std::string> args = {"run", limit[0], limit[1], raw, "location=" + clip, "!", "FileWriter",
                                     "location=" + Path("cut.yuv")};
    r = Run(args);
    EXPECT_EQ(r.exitCode, 1);
    const std::string line = OneErrorLine(r);
    for (const char* m : {"cannot be held", "RawFrameSource", "IMediaSeeking"})
      EXPECT_NE(line.find(m), std::string::npos) << m << "\n" << line;
    EXPECT_NE(line.find(limit[0]), std::string::npos) << line;
    EXPECT_FALSE(fs::exists(Path("cut.yuv"))) << "a refused limit must not run the graph";
  }

  struct Huge {
    std::vector<std::string> limit;
    const char* source;
    const char* position;
  };
  const Huge huge[] = {
      {{"--frames", "9223372036854775807"}, "TestPatternSource frames=3", "position reached: 0.100 s"},
      {{"--frames", "5365595258"}, "TestPatternSource frames=3", "position reached: 0.100 s"},
      {{"--seconds", "922337203"}, "TestPatternSource frames=3", "position reached: 0.100 s"},
      {{"--seconds", "922337203"}, "TestPatternSource format=PCM frames=2", "position reached: "},
      {{"--frames", "4"}, "TestPatternSource frames=0", "position reached: 0.133 s"},
  };
  for (const Huge& h : huge) {
    SCOPED_TRACE(h.limit[0] + " " + h.limit[1] + " " + h.source);
    r = Run({"run", h.limit[0], h.limit[1], std::string(h.source) + " ! NullRenderer"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("finished: end of stream"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(h.position), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("stream time: 0.000 s of"), std::string::npos) << r.out;
  }
  // Counts of what each filter received and what its output delivered.
  r = Run({"run", "--frames", "4", "TestPatternSource frames=0 ! NullRenderer"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("TestPatternSource (element 1) (4 samples out)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("NullRenderer (element 2) (4 samples in)"), std::string::npos) << r.out;
}

// A hang-up stops the run as Ctrl-C does: the writer completes its file, no NAME.part is left.
TEST_F(CliRunTest, HangUpStopsTheRunAndLeavesNoPartFile) {
  for (int signal : {SIGHUP, SIGTERM}) {
    SCOPED_TRACE(signal);
    const std::string out = Path("endless" + std::to_string(signal) + ".rgb");
    plenor_cli_test::Process p(dir, 500 + signal,
                               {"--registry", registry, "run", "TestPatternSource", "width=8", "height=8", "frames=0",
                                "!", "FileWriter", "location=" + out},
                               {});
    // Wait until the writer has its part file open, then hang up.
    for (int i = 0; i < 500 && !fs::exists(out + ".part"); ++i) ::usleep(10000);
    ::usleep(100000);
    p.Signal(signal);
    Result r = p.Wait();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("finished: interrupted"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(out + ".part"));
    ASSERT_TRUE(fs::exists(out));
    EXPECT_EQ(fs::file_size(out) % (8 * 8 * 3), 0u);
  }
}

// Help for every command, the version, and messages that say what is really wrong.
TEST_F(CliRunTest, HelpVersionAndMessagesThatSayWhatIsWrong) {
  struct HelpCase {
    std::vector<std::string> args;
    std::vector<std::string> mentions;
  };
  const HelpCase help[] = {
      {{"help"}, {"usage: plenor", "run", "graph", "help [COMMAND]"}},
      {{"help", "run"}, {"--frames N", "--seconds S", "--verbose", "examples:", "plenor run TestPatternSource"}},
      {{"run", "--help"}, {"--frames N", "examples:"}},
      {{"graph", "--help"}, {"plenor graph save", "plenor graph show"}},
      {{"help", "page"}, {"--set 1001=1"}},
      {{"--version"}, {"plenor 1.6.4"}},
  };
  for (const HelpCase& c : help) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Result r = Run(c.args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const std::string& m : c.mentions) EXPECT_NE(r.out.find(m), std::string::npos) << m << "\n" << r.out;
  }
  Result r = Run({"help", "frobnicate"});
  EXPECT_EQ(r.exitCode, 2);

  struct ErrorCase {
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> mentions;
    std::vector<std::string> absent;
  };
  fs::create_directories(Path("adir"));
  const std::string foreign = Path("photos.db");
  ASSERT_EQ(std::system(("sqlite3 " + foreign + " 'CREATE TABLE photos(id);'").c_str()), 0);
  const ErrorCase errors[] = {
      {{"graph", "show", Path("adir")}, 1, {"is a folder"}, {"JSON"}},
      {{"graph", "run", Path("adir")}, 1, {"is a folder"}, {"JSON"}},
      {{"--registry", foreign, "list"}, 1, {"not a registry", foreign}, {}},
  };
  for (const ErrorCase& c : errors) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    r = c.args[0] == "--registry" ? RunBare(c.args) : Run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode);
    const std::string line = OneErrorLine(r);
    for (const std::string& m : c.mentions) EXPECT_NE(line.find(m), std::string::npos) << m << "\n" << line;
    for (const std::string& m : c.absent) EXPECT_EQ(line.find(m), std::string::npos) << m << "\n" << line;
  }
  // The foreign database was left as it was.
  FILE* tables = ::popen(("sqlite3 " + foreign + " .tables").c_str(), "r");
  ASSERT_TRUE(tables);
  char buf[256] = {};
  size_t got = std::fread(buf, 1, sizeof buf - 1, tables);
  ::pclose(tables);
  EXPECT_EQ(std::string(buf, got), "photos\n");

  // An empty registry says how to register.
  r = RunBare({"--registry", Path("empty.db"), "list"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(OneErrorLine(r).find("plenor register"), std::string::npos) << r.err;
}

// The forms of the options: short flags, NAME=VALUE, "--" before the pipeline, options after a
// graph file; and the pipeline's own words are passed through unread, even where one looks like
// an option.
TEST_F(CliRunTest, OptionFormsAndThePipelinePassedThrough) {
  struct Case {
    std::vector<std::string> args;
    std::string file;     // the file the run writes
    uint64_t bytes;       // its size
    bool summary;         // whether the summary is printed
  };
  const std::string spaced = Path("a --quiet b.rgb");
  const std::vector<Case> cases = {
      {{"run", "-q", "TestPatternSource", "width=4", "height=4", "frames=2", "!", "FileWriter", "location=" + Path("q.rgb")},
       Path("q.rgb"), 2 * 4 * 4 * 3, false},
      {{"run", "--frames=3", "-v", "TestPatternSource width=4 height=4 frames=0 ! FileWriter location=" + Path("f.rgb")},
       Path("f.rgb"), 3 * 4 * 4 * 3, true},
      {{"run", "--quiet", "--", "TestPatternSource width=4 height=4 frames=1 ! FileWriter location=" + Path("m.rgb")},
       Path("m.rgb"), 4 * 4 * 3, false},
      // The pipeline joins its words again and reads its own quotes: "--quiet" is part of a file name.
      {{"run", "TestPatternSource", "width=4", "height=4", "frames=1", "!", "FileWriter",
        "location=\"" + Path("a"), "--quiet", "b.rgb\""},
       spaced, 4 * 4 * 3, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Result r = Run(c.args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_TRUE(fs::exists(c.file));
    EXPECT_EQ(fs::file_size(c.file), c.bytes);
    EXPECT_EQ(r.out.find("finished: end of stream") != std::string::npos, c.summary) << r.out;
  }

  // Options after the graph file, and graph save's options between the file and the pipeline.
  Result r = Run({"graph", "save", Path("g.json"), "-q", "TestPatternSource width=4 height=4 frames=2 ! FileWriter location=" +
                                                      Path("g.rgb")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  r = Run({"graph", "run", Path("g.json"), "--quiet"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(fs::file_size(Path("g.rgb")), 2u * 4 * 4 * 3);
}

// A text a filter set while the graph was built (before it had a sink) is shown when the run
// starts, once: RawFrameSource playing clip_0x0.yuv as 352x288 says so even with --quiet.
TEST_F(CliRunTest, TextSetWhileBuildingIsShownWhenTheRunStarts) {
  const std::string clip = Path("clip_0x0.yuv");
  std::ofstream(clip, std::ios::binary) << std::string(2 * 352 * 288 * 3 / 2, '\x10');
  for (const char* quiet : {"--quiet", "--verbose"}) {
    SCOPED_TRACE(quiet);
    Result r = Run({"run", quiet, Module("RawFrameSource.so"), "location=" + clip, "!", "NullRenderer"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string line = OneErrorLine(r);
    EXPECT_EQ(line.rfind("plenor: run: RawFrameSource (element 1): The size 0x0 in the file name " + clip, 0), 0u) << line;
    EXPECT_NE(line.find("playing it as 352x288"), std::string::npos) << line;
  }
}

// A filter's new last-error text is printed while the graph runs, one line naming the filter (also
// with --quiet, which has no summary to carry it); status texts only with --verbose, one line per
// change. Real cases: a damaged H.264 stream the decoder cannot decode, and the encoder announcing
// each intra picture.
TEST_F(CliRunTest, FilterTextsArePrintedAsTheyChange) {
  for (const char* m : {"AvcEncodeFilter.so", "AvcDecodeFilter.so", "AvcFileSource.so"})
    if (!fs::exists(Module(m))) GTEST_SKIP() << m << " is not built";
  Result r = Run({"register", Module("AvcEncodeFilter.so"), Module("AvcDecodeFilter.so"), Module("AvcFileSource.so")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = Run({"run", "--quiet", "TestPatternSource format=RGB24 width=64 height=48 frames=6 ! AvcEncodeFilter "
                             "h264_output_type=1 ! FileWriter location=" + Path("clip.h264")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // Every picture's slice data after its first byte is overwritten with 0xFF (start codes and
  // parameter sets stay, so the file still loads and connects).
  std::string bytes = ReadFile(Path("clip.h264"));
  std::vector<size_t> starts;
  for (size_t i = 0; i + 4 < bytes.size(); ++i)
    if (bytes.compare(i, 4, std::string("\0\0\0\1", 4)) == 0) starts.push_back(i);
  int pictures = 0;
  for (size_t k = 0; k < starts.size(); ++k) {
    const int type = bytes[starts[k] + 4] & 0x1F;
    if (type != 1 && type != 5) continue;
    const size_t end = k + 1 < starts.size() ? starts[k + 1] : bytes.size();
    for (size_t j = starts[k] + 6; j < end; ++j) bytes[j] = '\xFF';
    ++pictures;
  }
  ASSERT_EQ(pictures, 6);
  std::ofstream(Path("damaged.h264"), std::ios::binary) << bytes;

  const std::string decodeError = "plenor: run: AvcDecodeFilter (element 2): H264 decode error has occurred: ";
  const std::string iFrame = "plenor: run: AvcEncodeFilter (element 2) status: I-Frame";
  const std::string damaged = "AvcFileSource location=" + Path("damaged.h264") + " usequelth264=1 ! AvcDecodeFilter ! NullRenderer";
  const std::string intra = "TestPatternSource format=RGB24 width=64 height=48 frames=10 ! AvcEncodeFilter "
                            "h264_output_type=1 notifyoniframe=1 switchframeperiod=4 ! NullRenderer";
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> lines;  // standard error, each line's start (the same text is shown once)
  };
  const Case cases[] = {
      {{"run", "--quiet", damaged}, {decodeError}},
      {{"run", damaged}, {decodeError}},
      {{"run", "--verbose", damaged}, {decodeError}},
      // Intra pictures 0, 4 and 8: three status changes.
      {{"run", "--verbose", intra}, {iFrame, iFrame, iFrame}},
      {{"run", intra}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    r = Run(c.args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.empty(), c.args[1] == "--quiet") << r.out;
    const std::vector<std::string> lines = Lines(r.err);
    ASSERT_EQ(lines.size(), c.lines.size()) << r.err;
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].rfind(c.lines[i], 0), 0u) << lines[i];
  }
  // A stream in the form the decoder refuses: the hint names the setting of the filter in front.
  const struct {
    std::string pipeline;
    const char* setting;
  } forms[] = {
      {"AvcFileSource location=" + Path("clip.h264") + " ! AvcDecodeFilter ! NullRenderer",
       "set usequelth264=1 (MEDIASUBTYPE_PLENOR_H264) on AvcFileSource"},
      {"TestPatternSource format=RGB24 width=64 height=48 frames=2 ! AvcEncodeFilter h264_output_type=1 ! "
       "AvcDecodeFilter ! NullRenderer",
       "set h264_output_type=2 (MEDIASUBTYPE_AVC1) or h264_output_type=0 (MEDIASUBTYPE_PLENOR_H264) on "
       "AvcEncodeFilter"},
  };
  for (const auto& f : forms) {
    r = Run({"run", "--quiet", f.pipeline});
    EXPECT_NE(r.exitCode, 0) << f.pipeline;
    EXPECT_NE(r.err.find(f.setting), std::string::npos) << r.err;
  }
  // The summary carries the same text.
  r = Run({"run", damaged});
  EXPECT_NE(r.out.find("AvcDecodeFilter (element 2) (8 samples in; 0 samples out): H264 decode error has occurred: "),
            std::string::npos)
      << r.out;

  // A saved graph run again names the filter by its name in the graph.
  r = Run({"graph", "save", Path("damaged.json"), damaged});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = Run({"graph", "run", "--quiet", Path("damaged.json")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
  EXPECT_EQ(r.err.rfind("plenor: graph run: 'AvcDecodeFilter2': H264 decode error has occurred: ", 0), 0u) << r.err;
}

}  // namespace

// The writers through the graph manager: PNG files decode to the frames' pixels in every input
// layout and orientation, frame selection and name patterns, raw payloads in order, and failures
// (unwritable path, full disk) that abort the graph naming the file and leave no file behind.
#include <gtest/gtest.h>

#include <png.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/com/runtime.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"
#include "support_utilities.h"
#include "tests/support/filesizelimit.h"
#include "tests/support/harness.h"
#include "utilities/writers.h"

using namespace utiltest;
using plenor::test::FileSizeLimit;
using plenor::utilities::FormatFramePattern;
using plenor::utilities::ParseFrameList;

namespace {

struct Png {
  int width = 0, height = 0;
  std::vector<BYTE> rgb;  // top-down, R, G, B
};

bool DecodePng(const std::string& path, Png* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  out->width = static_cast<int>(image.width);
  out->height = static_cast<int>(image.height);
  out->rgb.resize(PNG_IMAGE_SIZE(image));
  return png_image_finish_read(&image, nullptr, out->rgb.data(), 0, nullptr) != 0;
}

ComPtr<IBaseFilter> Pattern(const std::map<std::string, std::string>& params) {
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_TestPatternSource);
  for (const auto& [name, value] : params) EXPECT_EQ(Set(source.Get(), name.c_str(), value), S_OK) << name;
  return source;
}

// source -> sink, run to the end; the end code.
LONG RunInto(IBaseFilter* source, IBaseFilter* sink, Graph* g) {
  EXPECT_EQ(g->Build({source, sink}), S_OK);
  return g->RunToEnd();
}

std::vector<Grabbed> Grab(IBaseFilter* source) {
  ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
  Graph g;
  EXPECT_EQ(RunInto(source, grabber.Get(), &g), EC_COMPLETE);
  return ReadGrabber(grabber.Get());
}

ComPtr<IBaseFilter> Writer(const CLSID& clsid, const std::string& name) {
  ComPtr<IBaseFilter> w = CreateFilter(clsid);
  EXPECT_EQ(w.As<IFileSinkFilter>()->SetFileName(Utf8ToWide(name).c_str(), nullptr), S_OK);
  return w;
}

TEST(ImageWriter, PngHasTheFramePixelsForBottomUpRgb24AndRgb32) {
  for (const char* format : {"RGB24", "RGB32"}) {
    SCOPED_TRACE(format);
    const int w = 38, h = 30;  // RGB24 rows of 114 bytes are padded to 116
    const std::map<std::string, std::string> params = {
        {"format", format}, {"width", "38"}, {"height", "30"}, {"frames", "3"}, {"pattern", "bars"}};
    ScratchDir dir;
    ComPtr<IBaseFilter> writer = Writer(CLSID_ImageWriter, dir.File("img_%03d.png"));
    ASSERT_EQ(Set(writer.Get(), "frames", "0,2"), S_OK);
    Graph g;
    ASSERT_EQ(RunInto(Pattern(params).Get(), writer.Get(), &g), EC_COMPLETE) << LastError(writer.Get());
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"img_000.png", "img_002.png"}));

    std::vector<Grabbed> frames = Grab(Pattern(params).Get());
    ASSERT_EQ(frames.size(), 3u);
    const size_t bpp = std::string(format) == "RGB24" ? 3 : 4;
    const size_t stride = (w * bpp + 3) & ~size_t{3};
    for (int n : {0, 2}) {
      char name[32];
      std::snprintf(name, sizeof name, "img_%03d.png", n);
      Png png;
      ASSERT_TRUE(DecodePng(dir.File(name), &png)) << name;
      ASSERT_EQ(png.width, w);
      ASSERT_EQ(png.height, h);
      const std::vector<BYTE>& f = frames[static_cast<size_t>(n)].bytes;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const BYTE* src = &f[stride * static_cast<size_t>(h - 1 - y) + bpp * static_cast<size_t>(x)];  // bottom-up
          const BYTE* dst = &png.rgb[(static_cast<size_t>(y) * w + x) * 3];
          ASSERT_EQ(dst[0], src[2]) << n << " " << x << "," << y;
          ASSERT_EQ(dst[1], src[1]) << n << " " << x << "," << y;
          ASSERT_EQ(dst[2], src[0]) << n << " " << x << "," << y;
        }
    }
  }
}

TEST(ImageWriter, TopDownRgb24IsWrittenTheRightWayUp) {
  const int w = 5, h = 4;
  const LONG stride = 16;  // 15 bytes padded
  plenor::test::SourceOptions options;
  options.mediaType = plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, w, -h, 24);  // negative: top row first
  options.sampleCount = 1;
  options.sampleSize = stride * h;
  options.fill = [&](int call, IMediaSample* s) -> HRESULT {
    if (call > 0) return S_FALSE;  // one frame
    BYTE* p = nullptr;
    s->GetPointer(&p);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        BYTE* px = p + y * stride + 3 * x;
        px[0] = static_cast<BYTE>(10 * x);       // blue
        px[1] = static_cast<BYTE>(50 * y);       // green
        px[2] = static_cast<BYTE>(200 + x + y);  // red
      }
    s->SetActualDataLength(stride * h);
    return S_OK;
  };
  auto source = plenor::test::TestSource::Create(options);
  ScratchDir dir;
  ComPtr<IBaseFilter> writer = Writer(CLSID_ImageWriter, dir.File("top.png"));
  Graph g;
  ASSERT_EQ(RunInto(source.Get(), writer.Get(), &g), EC_COMPLETE) << LastError(writer.Get());
  Png png;
  ASSERT_TRUE(DecodePng(dir.File("top_00000.png"), &png));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const BYTE* px = &png.rgb[(static_cast<size_t>(y) * w + x) * 3];
      EXPECT_EQ(px[0], 200 + x + y);
      EXPECT_EQ(px[1], 50 * y);
      EXPECT_EQ(px[2], 10 * x);
    }
}

TEST(ImageWriter, I420FramesBecomeTheirColour) {
  ScratchDir dir;
  ComPtr<IBaseFilter> writer = Writer(CLSID_ImageWriter, dir.File("yuv%d.png"));
  Graph g;
  ASSERT_EQ(RunInto(Pattern({{"format", "I420"}, {"width", "16"}, {"height", "8"}, {"frames", "1"},
                             {"pattern", "solid"}, {"colour", "3080C0"}})
                        .Get(),
                    writer.Get(), &g),
            EC_COMPLETE);
  Png png;
  ASSERT_TRUE(DecodePng(dir.File("yuv0.png"), &png));
  ASSERT_EQ(png.width, 16);
  ASSERT_EQ(png.height, 8);
  for (size_t i = 0; i < png.rgb.size(); i += 3) {
    ASSERT_NEAR(png.rgb[i], 0x30, 3) << i;
    ASSERT_NEAR(png.rgb[i + 1], 0x80, 3) << i;
    ASSERT_NEAR(png.rgb[i + 2], 0xC0, 3) << i;
  }
}

TEST(ImageWriter, EveryNthFrameAndNamesWithoutANumber) {
  ScratchDir dir;
  ComPtr<IBaseFilter> writer = Writer(CLSID_ImageWriter, dir.File("shot.png"));
  ASSERT_EQ(Set(writer.Get(), "every", "3"), S_OK);
  Graph g;
  ASSERT_EQ(RunInto(Pattern({{"width", "8"}, {"height", "8"}, {"frames", "10"}}).Get(), writer.Get(), &g),
            EC_COMPLETE);
  EXPECT_EQ(dir.Files(),
            (std::vector<std::string>{"shot_00000.png", "shot_00003.png", "shot_00006.png", "shot_00009.png"}));
  // Patterns and lists it cannot use are refused.
  EXPECT_EQ(Set(writer.Get(), "filename", "a%s.png"), E_FAIL);
  EXPECT_EQ(Set(writer.Get(), "filename", "%d-%d.png"), E_FAIL);
  EXPECT_EQ(Set(writer.Get(), "frames", "3-1"), E_FAIL);
  EXPECT_EQ(Set(writer.Get(), "frames", "1,,2"), E_FAIL);
  EXPECT_EQ(Set(writer.Get(), "every", "0"), E_FAIL);
  EXPECT_EQ(Get(writer.Get(), "every"), "3");
}

TEST(ImageWriter, NamePatternsAndFrameLists) {
  std::string name;
  ASSERT_TRUE(FormatFramePattern("a%%b%4d.png", 7, &name));
  EXPECT_EQ(name, "a%b   7.png");
  ASSERT_TRUE(FormatFramePattern("dir.v2/frame", 12, &name));
  EXPECT_EQ(name, "dir.v2/frame_00012");
  ASSERT_TRUE(FormatFramePattern("f%06d.png", 1234567, &name));
  EXPECT_EQ(name, "f1234567.png");
  EXPECT_FALSE(FormatFramePattern("f%", 1, &name));
  EXPECT_FALSE(FormatFramePattern("f%0", 1, &name));

  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  ASSERT_TRUE(ParseFrameList(" 5, 1-3,2,4 ,9-9", &ranges));
  EXPECT_EQ(ranges, (std::vector<std::pair<uint64_t, uint64_t>>{{1, 5}, {9, 9}}));
  ASSERT_TRUE(ParseFrameList("", &ranges));
  EXPECT_TRUE(ranges.empty());
  EXPECT_FALSE(ParseFrameList("1-", &ranges));
  EXPECT_FALSE(ParseFrameList("1,", &ranges));
  EXPECT_FALSE(ParseFrameList("x", &ranges));
}

TEST(FileWriter, WritesEveryPayloadInOrder) {
  const std::map<std::string, std::string> params = {{"format", "I420"}, {"width", "8"},     {"height", "6"},
                                                     {"frames", "5"},    {"pattern", "noise"}, {"seed", "3"}};
  ScratchDir dir;
  ComPtr<IBaseFilter> writer = Writer(CLSID_FileWriter, dir.File("raw.yuv"));
  Graph g;
  ASSERT_EQ(RunInto(Pattern(params).Get(), writer.Get(), &g), EC_COMPLETE);
  std::vector<BYTE> expected;
  for (const Grabbed& s : Grab(Pattern(params).Get())) expected.insert(expected.end(), s.bytes.begin(), s.bytes.end());
  ASSERT_EQ(expected.size(), 5u * 72);
  EXPECT_EQ(ReadFile(dir.File("raw.yuv")), expected);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"raw.yuv"}));
  // GetCurFile gives the name and the connection's type.
  LPOLESTR name = nullptr;
  AM_MEDIA_TYPE mt{};
  ASSERT_EQ(writer.As<IFileSinkFilter>()->GetCurFile(&name, &mt), S_OK);
  EXPECT_EQ(WideToUtf8(name), dir.File("raw.yuv"));
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_I420);
  CoTaskMemFree(name);
  FreeMediaType(mt);
}

// Expects the run to end with EC_ERRORABORT carrying hr, the last error text to name path, and
// no EC_COMPLETE.
void ExpectAbort(Graph* g, LONG endCode, IBaseFilter* writer, HRESULT hr, const std::string& path,
                 const std::string& reason) {
  EXPECT_EQ(endCode, EC_ERRORABORT);
  bool aborted = false;
  for (const auto& [code, param] : g->Events()) {
    EXPECT_NE(code, EC_COMPLETE);
    if (code == EC_ERRORABORT) {
      aborted = true;
      EXPECT_EQ(static_cast<HRESULT>(param), hr);
    }
  }
  EXPECT_TRUE(aborted);
  const std::string error = LastError(writer);
  EXPECT_NE(error.find("'" + path + "'"), std::string::npos) << error;
  EXPECT_NE(error.find(reason), std::string::npos) << error;
}

TEST(Writers, AnUnwritablePathAbortsTheGraphNamingTheFile) {
  struct Case {
    CLSID clsid;
    const char* format;
  };
  for (const Case& c : {Case{CLSID_FileWriter, "RGB24"}, Case{CLSID_WavWriter, "PCM"},
                        Case{CLSID_ImageWriter, "RGB24"}}) {
    ScratchDir dir;
    const std::string path = dir.File("missing/out.bin");
    ComPtr<IBaseFilter> writer = Writer(c.clsid, path);
    Graph g;
    LONG end = RunInto(Pattern({{"format", c.format}, {"width", "8"}, {"height", "8"}, {"frames", "3"}}).Get(),
                       writer.Get(), &g);
    // The image writer names each picture it writes.
    const std::string named = c.clsid == CLSID_ImageWriter ? dir.File("missing/out_00000.bin") : path;
    ExpectAbort(&g, end, writer.Get(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), named, "No such file or directory");
    EXPECT_TRUE(dir.Files().empty());
  }
  // A writer without a file name says so.
  ComPtr<IBaseFilter> unnamed = CreateFilter(CLSID_FileWriter);
  Graph g;
  EXPECT_EQ(RunInto(Pattern({{"frames", "1"}}).Get(), unnamed.Get(), &g), EC_ERRORABORT);
  EXPECT_NE(LastError(unnamed.Get()).find("no output file name"), std::string::npos) << LastError(unnamed.Get());
}

// "timelog": one line per received sample with its start and stop time ("-" for a time it lacks),
// the extremes of the 64-bit range included, written beside the payloads.
TEST(Writers, TimeLogHasEverySamplesTimesInArrivalOrder) {
  using plenor::test::FakeGraph;
  using plenor::test::PushSample;
  using plenor::test::PushSource;
  constexpr REFERENCE_TIME kMin = std::numeric_limits<REFERENCE_TIME>::min();
  constexpr REFERENCE_TIME kMax = std::numeric_limits<REFERENCE_TIME>::max();
  const struct {
    std::optional<REFERENCE_TIME> start, stop;
    const char* line;
  } cases[] = {
      {0, 333333, "0 333333"},
      {-400000, std::nullopt, "-400000 -"},
      {std::nullopt, std::nullopt, "- -"},
      {kMin, kMax, "-9223372036854775808 9223372036854775807"},
      {kMax, kMax, "9223372036854775807 9223372036854775807"},
  };
  ScratchDir dir;
  ComPtr<IBaseFilter> writer = Writer(CLSID_FileWriter, dir.File("raw.bin"));
  ASSERT_EQ(Set(writer.Get(), "timelog", dir.File("times.txt")), S_OK);
  auto graph = FakeGraph::Create();
  auto push = PushSource::Create({.offeredTypes = {plenor::test::MakeVideoType(MEDIASUBTYPE_RGB24, 4, 2, 24)}});
  ASSERT_EQ(graph->AddFilter(push.Get(), L"push"), S_OK);
  ASSERT_EQ(graph->AddFilter(writer.Get(), L"writer"), S_OK);
  ASSERT_EQ(graph->Connect(push->OutputPin(), plenor::test::PinOf(writer.Get(), 0).Get()), S_OK);
  ASSERT_EQ(graph->Run(), S_OK);
  std::string expected;
  std::vector<BYTE> payloads;
  for (size_t i = 0; i < std::size(cases); ++i) {
    PushSample sample{.data = plenor::test::PatternBytes(static_cast<int>(i), 24)};
    sample.start = cases[i].start;
    sample.stop = cases[i].stop;
    ASSERT_EQ(push->Push(sample), S_OK) << cases[i].line;
    expected += std::string(cases[i].line) + "\n";
    payloads.insert(payloads.end(), sample.data.begin(), sample.data.end());
  }
  ASSERT_EQ(push->EndOfStream(), S_OK);
  ASSERT_TRUE(graph->WaitForEvent(EC_COMPLETE, 1, 5000));
  graph->Stop();
  graph->TearDown();
  const std::vector<BYTE> log = ReadFile(dir.File("times.txt"));
  EXPECT_EQ(std::string(log.begin(), log.end()), expected);
  EXPECT_EQ(ReadFile(dir.File("raw.bin")), payloads);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"raw.bin", "times.txt"}));
}

// Every writer logs every sample it receives (also those an image writer does not write), and a
// time log that cannot be written fails the output like the output file itself.
TEST(Writers, TimeLogOfEachWriterAndItsFailure) {
  const struct {
    CLSID clsid;
    std::map<std::string, std::string> source;
    const char* every;  // ImageWriter: write every Nth frame only
    const char* log;
  } cases[] = {
      {CLSID_FileWriter, {{"format", "I420"}, {"framerate", "25"}}, nullptr,
       "0 400000\n400000 800000\n800000 1200000\n"},
      {CLSID_ImageWriter, {{"format", "RGB24"}, {"framerate", "25"}}, "2",
       "0 400000\n400000 800000\n800000 1200000\n"},
      {CLSID_WavWriter, {{"format", "PCM"}, {"samplerate", "10000"}, {"samples_per_buffer", "1000"}}, nullptr,
       "0 1000000\n1000000 2000000\n2000000 3000000\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.log);
    std::map<std::string, std::string> source = c.source;
    source.insert({{"width", "8"}, {"height", "8"}, {"frames", "3"}});
    for (bool writable : {true, false}) {
      ScratchDir dir;
      const std::string log = dir.File(writable ? "times.txt" : "missing/times.txt");
      ComPtr<IBaseFilter> writer = Writer(c.clsid, dir.File("out.bin"));
      ASSERT_EQ(Set(writer.Get(), "timelog", log), S_OK);
      if (c.every) {
        ASSERT_EQ(Set(writer.Get(), "every", c.every), S_OK);
      }
      Graph g;
      const LONG end = RunInto(Pattern(source).Get(), writer.Get(), &g);
      if (!writable) {
        ExpectAbort(&g, end, writer.Get(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), log, "No such file or directory");
        EXPECT_TRUE(dir.Files().empty());
        continue;
      }
      ASSERT_EQ(end, EC_COMPLETE);
      const std::vector<BYTE> text = ReadFile(log);
      EXPECT_EQ(std::string(text.begin(), text.end()), c.log);
    }
  }
}

TEST(Writers, AFullDiskAbortsTheGraphAndLeavesNoFile) {
  for (const CLSID& clsid : {CLSID_WavWriter, CLSID_FileWriter}) {
    ScratchDir dir;
    const std::string path = dir.File("big.wav");
    ComPtr<IBaseFilter> writer = Writer(clsid, path);
    // 10 buffers of 16 KB against a limit of 64 KB.
    ComPtr<IBaseFilter> tone =
        Pattern({{"format", "PCM"}, {"samplerate", "8000"}, {"samples_per_buffer", "4096"}, {"frames", "10"}});
    Graph g;
    LONG end;
    {
      FileSizeLimit limit(64 * 1024);
      end = RunInto(tone.Get(), writer.Get(), &g);
    }
    ExpectAbort(&g, end, writer.Get(), STG_E_MEDIUMFULL, path, "cannot write");
    EXPECT_TRUE(dir.Files().empty()) << dir.Files().size();
  }
}

TEST(Writers, StoppingBeforeTheEndCompletesAValidWavFile) {
  ScratchDir dir;
  const std::string path = dir.File("live.wav");
  ComPtr<IBaseFilter> writer = Writer(CLSID_WavWriter, path);
  ComPtr<IBaseFilter> endless = Pattern({{"format", "PCM"}, {"samplerate", "8000"}, {"frames", "0"}});
  Graph g;
  ASSERT_EQ(g.Build({endless.Get(), writer.Get()}), S_OK);
  ComPtr<IMediaControl> mc = g.builder.As<IMediaControl>();
  ASSERT_EQ(mc->Run(), S_OK);
  // While running only the temporary file exists.
  for (int i = 0; i < 200 && dir.Files().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"live.wav.part"}));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(mc->Stop(), S_OK);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"live.wav"}));
  std::vector<BYTE> f = ReadFile(path);
  ASSERT_GT(f.size(), 44u);
  const uint32_t data = f[40] | (f[41] << 8) | (f[42] << 16) | (static_cast<uint32_t>(f[43]) << 24);
  EXPECT_EQ(data, f.size() - 44);
  EXPECT_EQ(data % 4, 0u);
}

TEST(Writers, NeverDestroyWhatIsAtTheirPath) {
  // Each writer through a symbolic link onto a file of mode 600, into a FIFO, and onto a folder.
  struct Case {
    CLSID clsid;
    const char* format;
    const char* name;  // in the scratch folder (the image writer's first picture)
  };
  for (const Case& c : {Case{CLSID_FileWriter, "RGB24", "out.bin"}, Case{CLSID_WavWriter, "PCM", "out.wav"},
                        Case{CLSID_ImageWriter, "RGB24", "out_00000.png"}}) {
    SCOPED_TRACE(c.name);
    const std::map<std::string, std::string> params = {{"format", c.format}, {"width", "8"}, {"height", "8"},
                                                       {"frames", "2"}};
    {
      ScratchDir dir;
      std::filesystem::create_directory(dir.path / "real");
      const std::string target = dir.File(std::string("real/") + c.name);
      std::ofstream(target) << "old";
      ASSERT_EQ(chmod(target.c_str(), 0600), 0);
      std::filesystem::create_symlink(target, dir.path / c.name);
      // The image writer's pattern names the link.
      const std::string location = c.clsid == CLSID_ImageWriter ? dir.File("out.png") : dir.File(c.name);
      ComPtr<IBaseFilter> writer = Writer(c.clsid, location);
      Graph g;
      ASSERT_EQ(RunInto(Pattern(params).Get(), writer.Get(), &g), EC_COMPLETE) << LastError(writer.Get());
      EXPECT_TRUE(std::filesystem::is_symlink(dir.path / c.name));
      struct stat st{};
      ASSERT_EQ(stat(target.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0600u);
      EXPECT_GT(st.st_size, 3);
    }
    {
      ScratchDir dir;
      const std::string fifo = dir.File("pipe");
      ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
      std::vector<BYTE> received;
      std::thread reader([&] { received = ReadFile(fifo); });
      ComPtr<IBaseFilter> writer = Writer(c.clsid, fifo);
      Graph g;
      EXPECT_EQ(RunInto(Pattern(params).Get(), writer.Get(), &g), EC_COMPLETE) << LastError(writer.Get());
      reader.join();
      EXPECT_TRUE(std::filesystem::is_fifo(fifo));
      if (c.clsid == CLSID_WavWriter) {
        // A pipe cannot be patched afterwards: the header declares the largest size.
        ASSERT_GE(received.size(), 44u);
        const uint32_t data = received[40] | (received[41] << 8) | (received[42] << 16) |
                              (static_cast<uint32_t>(received[43]) << 24);
        EXPECT_EQ(data, plenor::wav::kMaxDataBytes);
      } else if (c.clsid == CLSID_ImageWriter) {
        // Both pictures go into the pipe, one after the other; no numbered files appear beside it.
        const std::string bytes(received.begin(), received.end()), signature = "\x89PNG\r\n\x1a\n";
        EXPECT_EQ(bytes.find(signature), 0u);
        EXPECT_NE(bytes.find(signature, 1), std::string::npos);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);
      } else {
        EXPECT_EQ(received.size(), 2u * 8 * 8 * 3);
      }
    }
    {
      ScratchDir dir;
      std::filesystem::create_directory(dir.path / "folder");
      std::ofstream(dir.File("folder/keep.txt")) << "kept";
      ComPtr<IBaseFilter> writer = CreateFilter(c.clsid);
      // The image writer would name its pictures after the folder; the others are refused at the
      // start of the stream, naming the folder.
      if (c.clsid == CLSID_ImageWriter) continue;
      ASSERT_EQ(writer.As<IFileSinkFilter>()->SetFileName(Utf8ToWide(dir.File("folder")).c_str(), nullptr), S_OK);
      Graph g;
      LONG end = RunInto(Pattern(params).Get(), writer.Get(), &g);
      ExpectAbort(&g, end, writer.Get(), HRESULT_FROM_WIN32(ERROR_DIRECTORY), dir.File("folder"), "is a folder");
      EXPECT_TRUE(std::filesystem::is_directory(dir.path / "folder"));
      EXPECT_EQ(ReadFile(dir.File("folder/keep.txt")).size(), 4u);
    }
  }
}

TEST(Writers, NamesThatCannotBeUsedSayWhy) {
  struct Case {
    CLSID clsid;
    const wchar_t* name;
    const char* says;
  };
  for (const Case& c : {Case{CLSID_FileWriter, L"", "the file name is empty"},
                        Case{CLSID_WavWriter, L"", "the file name is empty"},
                        Case{CLSID_ImageWriter, L"", "the file name is empty"},
                        Case{CLSID_ImageWriter, L"a_%s.png", "%d or %0Nd"},
                        Case{CLSID_ImageWriter, L"a_%d_%d.png", "%d or %0Nd"}}) {
    ComPtr<IBaseFilter> writer = CreateFilter(c.clsid);
    EXPECT_EQ(writer.As<IFileSinkFilter>()->SetFileName(c.name, nullptr), E_INVALIDARG) << WideToUtf8(c.name);
    EXPECT_NE(LastError(writer.Get()).find(c.says), std::string::npos) << LastError(writer.Get());
  }
  // Without any name, the stream is refused with a text that says how to give one.
  for (const CLSID& clsid : {CLSID_FileWriter, CLSID_ImageWriter}) {
    ComPtr<IBaseFilter> writer = CreateFilter(clsid);
    Graph g;
    EXPECT_EQ(RunInto(Pattern({{"frames", "1"}}).Get(), writer.Get(), &g), EC_ERRORABORT);
    EXPECT_NE(LastError(writer.Get()).find("location="), std::string::npos) << LastError(writer.Get());
  }
}

TEST(Writers, SyncWritesInStepWithTheClock) {
  // 6 frames at 20 fps: in step with the clock the last one is written 250 ms after the first.
  for (const CLSID& clsid : {CLSID_FileWriter, CLSID_ImageWriter, CLSID_WavWriter}) {
    ScratchDir dir;
    const bool audio = clsid == CLSID_WavWriter;
    ComPtr<IBaseFilter> source =
        audio ? Pattern({{"format", "PCM"}, {"samplerate", "8000"}, {"samples_per_buffer", "400"}, {"frames", "6"}})
              : Pattern({{"width", "8"}, {"height", "8"}, {"framerate", "20"}, {"frames", "6"}});
    ComPtr<IBaseFilter> writer = Writer(clsid, dir.File(audio ? "s.wav" : "s.bin"));
    EXPECT_EQ(Get(writer.Get(), "sync"), "0");
    ASSERT_EQ(Set(writer.Get(), "sync", "1"), S_OK);
    Graph g;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunInto(source.Get(), writer.Get(), &g), EC_COMPLETE) << LastError(writer.Get());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(240));
    EXPECT_FALSE(dir.Files().empty());
  }
}

}  // namespace

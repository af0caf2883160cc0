// Real pipelines through the graph manager and registered modules: stereo WAV files written by
// the test -> WAV source -> ChannelPickFilter -> WAV writer, checked as mono WAV files; and a
// channel switch made by the host while the source's thread is streaming.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/com/runtime.h"
#include "platform/strmbase/dllentry.h"
#include "support_audio.h"
#include "tests/support/modules.h"
#include "utilities/utilities.h"

using namespace audiotest;
using namespace plenor::test;

namespace {

std::string PluginDir() {
  const char* dir = std::getenv("PLENOR_PLUGIN_DIR");
  return dir ? dir : PLENOR_AUDIO_PLUGIN_DIR;
}

void Register(const std::string& module) { RegisterModuleFile(PluginDir() + "/" + module); }

void Put16(std::vector<BYTE>& b, unsigned v) {
  b.push_back(static_cast<BYTE>(v));
  b.push_back(static_cast<BYTE>(v >> 8));
}
void Put32(std::vector<BYTE>& b, unsigned v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<BYTE>(v >> (8 * i)));
}
unsigned Get16(const BYTE* p) { return p[0] | (p[1] << 8); }
unsigned Get32(const BYTE* p) { return Get16(p) | (Get16(p + 2) << 16); }

// A canonical PCM file: RIFF header, 16-byte fmt chunk, data chunk.
void WriteWav(const std::string& path, unsigned channels, unsigned rate, unsigned bits,
              const std::vector<BYTE>& data) {
  const unsigned blockAlign = channels * bits / 8;
  std::vector<BYTE> file = {'R', 'I', 'F', 'F'};
  Put32(file, 36 + static_cast<unsigned>(data.size()));
  file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(file, 16);
  Put16(file, 1);
  Put16(file, channels);
  Put32(file, rate);
  Put32(file, rate * blockAlign);
  Put16(file, blockAlign);
  Put16(file, bits);
  file.insert(file.end(), {'d', 'a', 't', 'a'});
  Put32(file, static_cast<unsigned>(data.size()));
  file.insert(file.end(), data.begin(), data.end());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
}

struct WavFile {
  unsigned tag = 0, channels = 0, rate = 0, byteRate = 0, blockAlign = 0, bits = 0;
  std::vector<BYTE> data;
};

// Reads a WAV file, checking the RIFF framing: the RIFF size matches the file, and the fmt and
// data chunks lie inside it.
testing::AssertionResult ReadWav(const std::string& path, WavFile* wav) {
  std::ifstream in(path, std::ios::binary);
  std::vector<BYTE> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 || std::memcmp(file.data() + 8, "WAVE", 4) != 0)
    return testing::AssertionFailure() << path << " is not a RIFF/WAVE file (" << file.size() << " bytes)";
  if (Get32(file.data() + 4) != file.size() - 8)
    return testing::AssertionFailure() << "RIFF size " << Get32(file.data() + 4) << " for " << file.size() << " bytes";
  bool fmt = false, data = false;
  for (size_t pos = 12; pos + 8 <= file.size();) {
    const size_t size = Get32(file.data() + pos + 4);
    const BYTE* body = file.data() + pos + 8;
    if (pos + 8 + size > file.size()) return testing::AssertionFailure() << "chunk past the end at " << pos;
    if (std::memcmp(file.data() + pos, "fmt ", 4) == 0 && size >= 16) {
      wav->tag = Get16(body);
      wav->channels = Get16(body + 2);
      wav->rate = Get32(body + 4);
      wav->byteRate = Get32(body + 8);
      wav->blockAlign = Get16(body + 12);
      wav->bits = Get16(body + 14);
      fmt = true;
    } else if (std::memcmp(file.data() + pos, "data", 4) == 0) {
      wav->data.assign(body, body + size);
      data = true;
    }
    pos += 8 + size + (size & 1);
  }
  if (!fmt || !data) return testing::AssertionFailure() << "fmt or data chunk missing";
  return testing::AssertionSuccess();
}

class ChannelPickPipeline : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    Register("ChannelPickFilter.so");
    Register("PlenorUtilities.so");
  }
  void SetUp() override {
    dir = std::filesystem::temp_directory_path() / ("plenor-audio-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.AsOut()),
              S_OK);
    ASSERT_EQ(Create(CLSID_WavSource, source), S_OK) << CoGetLastLoadError();
    ASSERT_EQ(Create(CLSID_ChannelPickFilter, pick), S_OK) << CoGetLastLoadError();
  }
  void TearDown() override {
    source = pick = nullptr;
    graph = nullptr;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  static HRESULT Create(REFCLSID clsid, ComPtr<IBaseFilter>& filter) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.AsOut());
  }

  // source -> pick -> sink, with the source playing path.
  void Build(const std::string& path, IBaseFilter* sink) {
    ASSERT_EQ(source.As<IFileSourceFilter>()->Load(Utf8ToWide(path).c_str(), nullptr), S_OK);
    ASSERT_EQ(graph->AddFilter(source.Get(), L"WAV source"), S_OK);
    ASSERT_EQ(graph->AddFilter(pick.Get(), L"Stereo2Mono"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink, L"sink"), S_OK);
    ASSERT_EQ(graph->Connect(PinOf(source.Get(), 0).Get(), PinOf(pick.Get(), 0).Get()), S_OK);
    ASSERT_EQ(graph->Connect(PinOf(pick.Get(), 1).Get(), PinOf(sink, 0).Get()), S_OK);
  }
  void RunToCompletion() {
    ComPtr<IMediaControl> control = graph.As<IMediaControl>();
    ASSERT_EQ(control->Run(), S_OK);
    LONG code = 0;
    EXPECT_EQ(graph.As<IMediaEventEx>()->WaitForCompletion(20000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    control->Stop();
  }
  // Stereo file -> mono file with the given channel.
  WavFile Convert(unsigned rate, unsigned bits, const std::vector<BYTE>& stereo, const char* channel) {
    const std::string in = (dir / "stereo.wav").string(), out = (dir / "mono.wav").string();
    WriteWav(in, 2, rate, bits, stereo);
    ComPtr<IBaseFilter> writer;
    EXPECT_EQ(Create(CLSID_WavWriter, writer), S_OK);
    WavFile wav;
    if (!writer) return wav;
    EXPECT_EQ(writer.As<IFileSinkFilter>()->SetFileName(Utf8ToWide(out).c_str(), nullptr), S_OK);
    EXPECT_EQ(SetChannel(pick.Get(), channel), S_OK);
    Build(in, writer.Get());
    RunToCompletion();
    EXPECT_TRUE(ReadWav(out, &wav));
    return wav;
  }

  std::filesystem::path dir;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> source, pick;
};

TEST_F(ChannelPickPipeline, SixteenBitStereoFileBecomesItsLeftChannel) {
  const unsigned rate = 8000, frames = 20003;  // 2.5 s, several source buffers, a short last one
  std::vector<int16_t> interleaved, left;
  for (unsigned i = 0; i < frames; ++i) {
    const auto l = static_cast<int16_t>(i * 7 - 30000), r = static_cast<int16_t>(-static_cast<int>(i % 30011));
    interleaved.push_back(l);
    interleaved.push_back(r);
    left.push_back(l);
  }
  WavFile mono = Convert(rate, 16, Samples16(interleaved), "0");
  EXPECT_EQ(mono.tag, 1u);
  EXPECT_EQ(mono.channels, 1u);
  EXPECT_EQ(mono.rate, rate);
  EXPECT_EQ(mono.bits, 16u);
  EXPECT_EQ(mono.blockAlign, 2u);
  EXPECT_EQ(mono.byteRate, rate * 2);
  ASSERT_EQ(mono.data.size(), frames * 2);
  EXPECT_TRUE(mono.data == Samples16(left));
}

TEST_F(ChannelPickPipeline, EightBitStereoFileBecomesItsRightChannel) {
  const unsigned rate = 11025, frames = 14332;
  std::vector<BYTE> interleaved, right;
  for (unsigned i = 0; i < frames; ++i) {
    interleaved.push_back(static_cast<BYTE>(i));
    interleaved.push_back(static_cast<BYTE>(255 - (i * 3) % 256));
    right.push_back(interleaved.back());
  }
  WavFile mono = Convert(rate, 8, interleaved, "1");
  EXPECT_EQ(mono.channels, 1u);
  EXPECT_EQ(mono.rate, rate);
  EXPECT_EQ(mono.bits, 8u);
  EXPECT_EQ(mono.blockAlign, 1u);
  EXPECT_EQ(mono.byteRate, rate);
  ASSERT_EQ(mono.data.size(), frames);
  EXPECT_TRUE(mono.data == right);
}

// Holds the streaming thread at one sample until the test has changed the channel, so that the
// change happens while the source is streaming, at a known place.
class HoldAtSample : public CUnknown, public IPlenorSampleGrabberCallback {
 public:
  explicit HoldAtSample(int index) : CUnknown(L"hold", nullptr, nullptr), m_index(index) {}
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IPlenorSampleGrabberCallback)
      return GetInterface(static_cast<IPlenorSampleGrabberCallback*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  // Streaming thread.
  STDMETHODIMP SampleReceived(IMediaSample*, const AM_MEDIA_TYPE*) override {
    std::unique_lock lock(m_lock);
    if (m_seen++ != m_index) return S_OK;
    m_held = true;
    m_cond.notify_all();
    m_cond.wait_for(lock, std::chrono::seconds(20), [this] { return m_released; });
    return S_OK;
  }
  bool WaitUntilHeld() {
    std::unique_lock lock(m_lock);
    return m_cond.wait_for(lock, std::chrono::seconds(20), [this] { return m_held; });
  }
  void Resume() {
    std::lock_guard lock(m_lock);
    m_released = true;
    m_cond.notify_all();
  }

 private:
  const int m_index;
  std::mutex m_lock;
  std::condition_variable m_cond;
  int m_seen = 0;
  bool m_held = false, m_released = false;
};

TEST_F(ChannelPickPipeline, ChannelChangedWhileStreamingAppliesFromTheNextBuffer) {
  const unsigned rate = 8000, frames = 8000;  // about ten source buffers
  std::vector<int16_t> interleaved;
  for (unsigned i = 0; i < frames; ++i) {
    interleaved.push_back(static_cast<int16_t>(i + 1));      // left: positive
    interleaved.push_back(-static_cast<int16_t>(i + 1));     // right: negative
  }
  const std::string in = (dir / "stereo.wav").string();
  WriteWav(in, 2, rate, 16, Samples16(interleaved));
  ComPtr<IBaseFilter> grabberFilter;
  ASSERT_EQ(Create(CLSID_SampleGrabber, grabberFilter), S_OK);
  ComPtr<IPlenorSampleGrabber> grabber = grabberFilter.As<IPlenorSampleGrabber>();
  ASSERT_TRUE(grabber);
  ComPtr<HoldAtSample> hold = MakeObject<HoldAtSample>(2);
  ASSERT_EQ(grabber->SetCallback(hold.Get()), S_OK);
  Build(in, grabberFilter.Get());

  ComPtr<IMediaControl> control = graph.As<IMediaControl>();
  ASSERT_EQ(control->Run(), S_OK);
  ASSERT_TRUE(hold->WaitUntilHeld());
  EXPECT_EQ(SetChannel(pick.Get(), "1"), S_OK);  // the host's thread, while the source streams
  hold->Resume();
  LONG code = 0;
  EXPECT_EQ(graph.As<IMediaEventEx>()->WaitForCompletion(20000, &code), S_OK);
  EXPECT_EQ(code, EC_COMPLETE);
  control->Stop();
  grabber->SetCallback(nullptr);

  LONG count = 0;
  ASSERT_EQ(grabber->GetSampleCount(&count), S_OK);
  ASSERT_GT(count, 4);
  unsigned expectedNext = 1;  // the frame number carried by the next sample
  for (LONG i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    GRABBED_SAMPLE_INFO info{};
    ASSERT_EQ(grabber->GetSampleInfo(i, &info), S_OK);
    std::vector<BYTE> bytes(info.lActualLength);
    ASSERT_EQ(grabber->GetSampleData(i, bytes.data(), info.lActualLength, nullptr), S_OK);
    ASSERT_GT(bytes.size(), 0u);
    const int sign = i <= 2 ? 1 : -1;  // samples 0..2 before the change, the rest after it
    for (size_t k = 0; k + 1 < bytes.size(); k += 2) {
      const auto v = static_cast<int16_t>(Get16(bytes.data() + k));
      ASSERT_EQ(v, sign * static_cast<int>(expectedNext)) << "byte " << k;
      ++expectedNext;
    }
  }
  EXPECT_EQ(expectedNext, frames + 1);
}

TEST_F(ChannelPickPipeline, LongSourceBuffersArriveWhole) {
  // Two seconds of 16-bit stereo per source buffer (88200 frames at 44100 Hz), three buffers:
  // every sample of the channel reaches the writer (the one-second buffers used to lose half).
  ComPtr<IBaseFilter> tone, writer;
  ASSERT_EQ(Create(CLSID_TestPatternSource, tone), S_OK);
  ASSERT_EQ(Create(CLSID_WavWriter, writer), S_OK);
  ComPtr<ISettingsInterface> settings = tone.As<ISettingsInterface>();
  for (const auto& [name, value] : {std::pair{"format", "PCM"}, {"samplerate", "44100"}, {"channels", "2"},
                                    {"bits", "16"}, {"samples_per_buffer", "88200"}, {"frames", "3"}})
    ASSERT_EQ(settings->SetParameter(name, value), S_OK) << name;
  const std::string out = (dir / "long.wav").string();
  ASSERT_EQ(writer.As<IFileSinkFilter>()->SetFileName(Utf8ToWide(out).c_str(), nullptr), S_OK);
  ASSERT_EQ(graph->AddFilter(tone.Get(), L"tone"), S_OK);
  ASSERT_EQ(graph->AddFilter(pick.Get(), L"Stereo2Mono"), S_OK);
  ASSERT_EQ(graph->AddFilter(writer.Get(), L"writer"), S_OK);
  ASSERT_EQ(graph->Connect(PinOf(tone.Get(), 0).Get(), PinOf(pick.Get(), 0).Get()), S_OK);
  ASSERT_EQ(graph->Connect(PinOf(pick.Get(), 1).Get(), PinOf(writer.Get(), 0).Get()), S_OK);
  RunToCompletion();
  WavFile mono;
  ASSERT_TRUE(ReadWav(out, &mono));
  EXPECT_EQ(mono.data.size(), 3u * 88200 * 2);
}

}  // namespace

// WAV files through the graph manager: written by WavWriter and read back by WavSource unchanged;
// malformed headers of many kinds refused with a message naming the file and the fault.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "platform/com/runtime.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"
#include "support_utilities.h"

using namespace utiltest;

namespace {

uint32_t Le32(const std::vector<BYTE>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint16_t Le16(const std::vector<BYTE>& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
void Put32(std::vector<BYTE>* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b->push_back(static_cast<BYTE>(v >> (8 * i)));
}
void Put16(std::vector<BYTE>* b, uint16_t v) {
  b->push_back(static_cast<BYTE>(v));
  b->push_back(static_cast<BYTE>(v >> 8));
}
void Append(std::vector<BYTE>* b, const char* text) { b->insert(b->end(), text, text + std::strlen(text)); }

// A file built chunk by chunk; riffSize (when not ~0) overrides the RIFF chunk's size.
struct WavBuilder {
  std::vector<BYTE> body;
  void Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, int blockAlign = -1, uint32_t size = 16) {
    Append(&body, "fmt ");
    Put32(&body, size);
    const uint16_t align = blockAlign < 0 ? static_cast<uint16_t>(channels * bits / 8) : static_cast<uint16_t>(blockAlign);
    Put16(&body, tag);
    Put16(&body, channels);
    Put32(&body, rate);
    Put32(&body, rate * align);
    Put16(&body, align);
    Put16(&body, bits);
    for (uint32_t i = 16; i < size && i < 64; ++i) body.push_back(0);
  }
  void Chunk(const char* id, const std::vector<BYTE>& data, int64_t declared = -1) {
    Append(&body, id);
    Put32(&body, declared < 0 ? static_cast<uint32_t>(data.size()) : static_cast<uint32_t>(declared));
    body.insert(body.end(), data.begin(), data.end());
    if (data.size() % 2) body.push_back(0);
  }
  std::vector<BYTE> File(int64_t riffSize = -1) const {
    std::vector<BYTE> f;
    Append(&f, "RIFF");
    Put32(&f, riffSize < 0 ? static_cast<uint32_t>(body.size() + 4) : static_cast<uint32_t>(riffSize));
    Append(&f, "WAVE");
    f.insert(f.end(), body.begin(), body.end());
    return f;
  }
};

HRESULT Load(IBaseFilter* source, const std::string& path) {
  ComPtr<IFileSourceFilter> fs;
  HRESULT hr = source->QueryInterface(IID_IFileSourceFilter, fs.AsOut());
  if (FAILED(hr)) return hr;
  return fs->Load(Utf8ToWide(path).c_str(), nullptr);
}

// Source -> WavWriter(path), run to the end.
LONG WriteWav(IBaseFilter* source, const std::string& path) {
  ComPtr<IBaseFilter> writer = CreateFilter(CLSID_WavWriter);
  EXPECT_EQ(writer.As<IFileSinkFilter>()->SetFileName(Utf8ToWide(path).c_str(), nullptr), S_OK);
  Graph g;
  EXPECT_EQ(g.Build({source, writer.Get()}), S_OK);
  return g.RunToEnd();
}

ComPtr<IBaseFilter> Tone(const std::map<std::string, std::string>& params) {
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_TestPatternSource);
  EXPECT_EQ(Set(source.Get(), "format", "PCM"), S_OK);
  for (const auto& [name, value] : params) EXPECT_EQ(Set(source.Get(), name.c_str(), value), S_OK) << name;
  return source;
}

TEST(Wav, WrittenFileReadsBackIdentically) {
  ScratchDir dir;
  const std::string a = dir.File("a.wav"), b = dir.File("b.wav");
  ComPtr<IBaseFilter> tone =
      Tone({{"samplerate", "8000"}, {"samples_per_buffer", "333"}, {"frames", "7"}, {"tone_left", "440"}});
  ASSERT_EQ(WriteWav(tone.Get(), a), EC_COMPLETE);

  // The header describes exactly what was written.
  std::vector<BYTE> fa = ReadFile(a);
  const uint32_t data = 7 * 333 * 4;
  ASSERT_EQ(fa.size(), 44u + data);
  EXPECT_EQ(std::memcmp(fa.data(), "RIFF", 4), 0);
  EXPECT_EQ(Le32(fa, 4), 36u + data);
  EXPECT_EQ(std::memcmp(fa.data() + 8, "WAVEfmt ", 8), 0);
  EXPECT_EQ(Le32(fa, 16), 16u);
  EXPECT_EQ(Le16(fa, 20), 1);     // PCM
  EXPECT_EQ(Le16(fa, 22), 2);     // channels
  EXPECT_EQ(Le32(fa, 24), 8000u);
  EXPECT_EQ(Le32(fa, 28), 32000u);
  EXPECT_EQ(Le16(fa, 32), 4);
  EXPECT_EQ(Le16(fa, 34), 16);
  EXPECT_EQ(std::memcmp(fa.data() + 36, "data", 4), 0);
  EXPECT_EQ(Le32(fa, 40), data);
  EXPECT_EQ(dir.Files(), (std::vector<std::string>{"a.wav"}));  // no temporary file left

  // The samples are the tone's: compare with what the same source gives a grabber.
  {
    ComPtr<IBaseFilter> again =
        Tone({{"samplerate", "8000"}, {"samples_per_buffer", "333"}, {"frames", "7"}, {"tone_left", "440"}});
    ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
    Graph g;
    ASSERT_EQ(g.Build({again.Get(), grabber.Get()}), S_OK);
    ASSERT_EQ(g.RunToEnd(), EC_COMPLETE);
    std::vector<BYTE> all;
    for (const Grabbed& s : ReadGrabber(grabber.Get())) all.insert(all.end(), s.bytes.begin(), s.bytes.end());
    EXPECT_TRUE(std::equal(all.begin(), all.end(), fa.begin() + 44, fa.end()) && all.size() == data);
  }

  // WavSource reads it in 100 ms buffers with sample-exact times, and writing those again gives
  // the same file.
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_WavSource);
  ASSERT_EQ(Load(source.Get(), a), S_OK);
  {
    ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
    Graph g;
    ASSERT_EQ(g.Build({source.Get(), grabber.Get()}), S_OK);
    ASSERT_EQ(g.RunToEnd(), EC_COMPLETE);
    std::vector<Grabbed> samples = ReadGrabber(grabber.Get());
    ASSERT_EQ(samples.size(), 3u);  // 2331 frames: 800 + 800 + 731
    EXPECT_EQ(samples[0].bytes.size(), 3200u);
    EXPECT_EQ(samples[2].bytes.size(), 731u * 4);
    EXPECT_EQ(samples[1].info.tStart, 1000000);
    EXPECT_EQ(samples[2].info.tStop, 2331LL * 10000000 / 8000);
    EXPECT_EQ(samples[2].info.tMediaStart, 1600);
    g.builder->RemoveFilter(source.Get());
    g.filters.erase(g.filters.begin());
  }
  ASSERT_EQ(WriteWav(source.Get(), b), EC_COMPLETE);
  EXPECT_EQ(ReadFile(b), fa);
}

TEST(Wav, DurationAndPositionsThroughTheGraph) {
  ScratchDir dir;
  const std::string a = dir.File("a.wav");
  ASSERT_EQ(WriteWav(Tone({{"samplerate", "8000"}, {"samples_per_buffer", "333"}, {"frames", "7"}}).Get(), a),
            EC_COMPLETE);  // 2331 frames
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_WavSource);
  ASSERT_EQ(Load(source.Get(), a), S_OK);
  ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
  Graph g;
  ASSERT_EQ(g.Build({source.Get(), grabber.Get()}), S_OK);
  ComPtr<IMediaSeeking> seeking = g.builder.As<IMediaSeeking>();
  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 2331LL * 10000000 / 8000);
  // 0.1 s to 0.25 s: frames 800 to 2000, two buffers, times from 0.
  LONGLONG current = 1000000, stop = 2500000;
  ASSERT_EQ(seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning),
            S_OK);
  ASSERT_EQ(g.RunToEnd(), EC_COMPLETE);
  std::vector<Grabbed> samples = ReadGrabber(grabber.Get());
  ASSERT_EQ(samples.size(), 2u);
  EXPECT_EQ(samples[0].info.tMediaStart, 800);
  EXPECT_EQ(samples[0].info.tStart, 0);
  EXPECT_TRUE(samples[0].info.bDiscontinuity);
  EXPECT_EQ(samples[1].info.tMediaStop, 2000);
  EXPECT_EQ(samples[1].info.tStop, 1500000);
  const std::vector<BYTE> file = ReadFile(a);
  EXPECT_TRUE(std::equal(samples[0].bytes.begin(), samples[0].bytes.end(), file.begin() + 44 + 800 * 4));
}

TEST(Wav, OddDataLengthIsPaddedAndStillReadsBack) {
  ScratchDir dir;
  const std::string a = dir.File("odd.wav"), b = dir.File("copy.wav");
  ComPtr<IBaseFilter> tone = Tone({{"bits", "8"}, {"channels", "1"}, {"samplerate", "8000"},
                                   {"samples_per_buffer", "5"}, {"frames", "3"}});
  ASSERT_EQ(WriteWav(tone.Get(), a), EC_COMPLETE);
  std::vector<BYTE> f = ReadFile(a);
  ASSERT_EQ(f.size(), 44u + 15 + 1);
  EXPECT_EQ(Le32(f, 4), 36u + 15 + 1);
  EXPECT_EQ(Le32(f, 40), 15u);
  EXPECT_EQ(f.back(), 0);
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_WavSource);
  ASSERT_EQ(Load(source.Get(), a), S_OK);
  ASSERT_EQ(WriteWav(source.Get(), b), EC_COMPLETE);
  EXPECT_EQ(ReadFile(b), f);
}

TEST(Wav, FilesWithMoreThanTheCanonicalHeaderPlay) {
  ScratchDir dir;
  const std::vector<BYTE> pcm = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};  // 3.5 frames of 16-bit stereo
  struct Case {
    const char* name;
    std::vector<BYTE> file;
    uint16_t channels;
    size_t bytes;
  };
  std::vector<Case> cases;
  {
    WavBuilder w;  // an odd-sized chunk (padded) before fmt and a LIST chunk before data
    w.Chunk("junk", {9, 9, 9});
    w.Fmt(1, 2, 22050, 16);
    w.Chunk("LIST", {'I', 'N', 'F', 'O'});
    w.Chunk("data", pcm);
    cases.push_back({"chunks.wav", w.File(), 2, 12});  // the half frame at the end is not played
  }
  {
    WavBuilder w;  // extensible header with the PCM sub-format, three channels
    Append(&w.body, "fmt ");
    Put32(&w.body, 40);
    for (uint16_t v : {uint16_t{0xFFFE}, uint16_t{3}}) Put16(&w.body, v);
    Put32(&w.body, 8000);
    Put32(&w.body, 8000 * 6);
    for (uint16_t v : {uint16_t{6}, uint16_t{16}, uint16_t{22}, uint16_t{16}}) Put16(&w.body, v);
    Put32(&w.body, 7);
    const BYTE pcmGuid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    w.body.insert(w.body.end(), pcmGuid, pcmGuid + 16);
    w.Chunk("data", pcm);
    cases.push_back({"extensible.wav", w.File(), 3, 12});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir.File(c.name), c.file);
    ComPtr<IBaseFilter> source = CreateFilter(CLSID_WavSource);
    ASSERT_EQ(Load(source.Get(), dir.File(c.name)), S_OK) << LastError(source.Get());
    ComPtr<IBaseFilter> grabber = CreateFilter(CLSID_SampleGrabber);
    Graph g;
    ASSERT_EQ(g.Build({source.Get(), grabber.Get()}), S_OK);
    ASSERT_EQ(g.RunToEnd(), EC_COMPLETE);
    AM_MEDIA_TYPE mt = GrabberType(grabber.Get());
    ASSERT_EQ(mt.formattype, FORMAT_WaveFormatEx);
    EXPECT_EQ(reinterpret_cast<WAVEFORMATEX*>(mt.pbFormat)->nChannels, c.channels);
    EXPECT_EQ(reinterpret_cast<WAVEFORMATEX*>(mt.pbFormat)->wFormatTag, WAVE_FORMAT_PCM);
    FreeMediaType(mt);
    std::vector<Grabbed> samples = ReadGrabber(grabber.Get());
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_EQ(samples[0].bytes, std::vector<BYTE>(pcm.begin(), pcm.begin() + static_cast<long>(c.bytes)));
  }
}

TEST(Wav, MalformedFilesAreRefusedNamingTheFileAndTheFault) {
  ScratchDir dir;
  struct Case {
    const char* name;
    std::vector<BYTE> file;
    HRESULT expected;
    const char* says;
  };
  std::vector<Case> cases;
  auto canonical = [](uint16_t tag, uint16_t channels, uint16_t bits, int align = -1) {
    WavBuilder w;
    w.Fmt(tag, channels, 8000, bits, align);
    w.Chunk("data", std::vector<BYTE>(16, 0));
    return w;
  };
  cases.push_back({"empty.wav", {}, VFW_E_FILE_TOO_SHORT, "too short"});
  {
    std::vector<BYTE> f = canonical(1, 1, 16).File();
    f[3] = 'X';  // RIFX
    cases.push_back({"rifx.wav", f, VFW_E_INVALID_FILE_FORMAT, "not a RIFF/WAVE file"});
  }
  cases.push_back({"float.wav", canonical(3, 1, 32).File(), VFW_E_UNSUPPORTED_AUDIO, "IEEE float"});
  cases.push_back({"mp3.wav", canonical(0x55, 2, 0).File(), VFW_E_UNSUPPORTED_AUDIO, "is not PCM"});
  cases.push_back({"pcm24.wav", canonical(1, 2, 24).File(), VFW_E_UNSUPPORTED_AUDIO, "24-bit"});
  cases.push_back({"align.wav", canonical(1, 2, 16, 3).File(), VFW_E_INVALID_FILE_FORMAT, "block align"});
  cases.push_back({"nochannels.wav", canonical(1, 0, 16).File(), VFW_E_INVALID_FILE_FORMAT, "0 channels"});
  {
    // 4294967295 Hz x 4 bytes does not fit the 32-bit byte rate: refused at load, not at linking.
    WavBuilder w;
    w.Fmt(1, 2, 4294967295u, 16);
    w.Chunk("data", std::vector<BYTE>(16, 0));
    cases.push_back({"rate.wav", w.File(), VFW_E_INVALID_FILE_FORMAT, "4294967295 Hz"});
  }
  {
    WavBuilder w;
    w.Fmt(1, 1, 8000, 16);
    w.Chunk("data", std::vector<BYTE>(16, 0), 0x7FFFFFF0);  // declares far more than follows
    cases.push_back({"datasize.wav", w.File(), VFW_E_FILE_TOO_SHORT, "declares 2147483632 bytes"});
  }
  {
    std::vector<BYTE> f = canonical(1, 1, 16).File();
    f.resize(30);  // ends inside the fmt chunk
    cases.push_back({"cut.wav", f, VFW_E_FILE_TOO_SHORT, "inside the fmt chunk"});
  }
  {
    WavBuilder w;
    w.Fmt(1, 1, 8000, 16, -1, 0xFFFFFFF0u);  // fmt size beyond the file
    cases.push_back({"fmtsize.wav", w.File(), VFW_E_FILE_TOO_SHORT, "inside the fmt chunk"});
  }
  {
    WavBuilder w;
    w.Fmt(1, 1, 8000, 16, -1, 12);
    cases.push_back({"shortfmt.wav", w.File(), VFW_E_INVALID_FILE_FORMAT, "too short"});
  }
  {
    WavBuilder w;
    w.Chunk("data", std::vector<BYTE>(8, 0));
    w.Fmt(1, 1, 8000, 16);
    cases.push_back({"order.wav", w.File(), VFW_E_INVALID_FILE_FORMAT, "before any fmt chunk"});
  }
  {
    WavBuilder w;
    w.Fmt(1, 1, 8000, 16);
    w.Chunk("LIST", std::vector<BYTE>(4, 0), 0xFFFFFF00u);  // a chunk that claims to run past the end
    w.Chunk("data", std::vector<BYTE>(8, 0));
    cases.push_back({"list.wav", w.File(), VFW_E_FILE_TOO_SHORT, "inside the 'LIST' chunk"});
  }
  {
    WavBuilder w;
    w.Fmt(1, 1, 8000, 16);
    cases.push_back({"nodata.wav", w.File(), VFW_E_INVALID_FILE_FORMAT, "no data chunk"});
  }
  {
    WavBuilder w;
    w.Fmt(1, 1, 8000, 16);
    cases.push_back({"riffsize.wav", w.File(1000), VFW_E_FILE_TOO_SHORT, "ends before its data chunk"});
  }
  cases.push_back({"header.wav", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}, VFW_E_INVALID_FILE_FORMAT,
                   "no fmt chunk"});

  ComPtr<IBaseFilter> source = CreateFilter(CLSID_WavSource);
  ComPtr<IFileSourceFilter> fs = source.As<IFileSourceFilter>();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.name);
    WriteFile(path, c.file);
    EXPECT_EQ(fs->Load(Utf8ToWide(path).c_str(), nullptr), c.expected);
    const std::string error = LastError(source.Get());
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    LPOLESTR name = nullptr;
    EXPECT_EQ(fs->GetCurFile(&name, nullptr), E_FAIL);  // nothing is loaded after a failure
    EXPECT_EQ(name, nullptr);
  }
  // A missing file and a folder.
  EXPECT_EQ(fs->Load(Utf8ToWide(dir.File("missing.wav")).c_str(), nullptr), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_NE(LastError(source.Get()).find("missing.wav': No such file"), std::string::npos) << LastError(source.Get());
  EXPECT_EQ(fs->Load(Utf8ToWide(dir.path.string()).c_str(), nullptr), VFW_E_INVALID_FILE_FORMAT);

  // Through the parameter: refused, and the name goes back to what it was.
  ASSERT_EQ(Set(source.Get(), "filename", dir.File("float.wav")), VFW_E_UNSUPPORTED_AUDIO);
  EXPECT_EQ(Get(source.Get(), "filename"), "");
  // The filter is still fine: a good file loads, plays and is reported by GetCurFile.
  WavBuilder good;
  good.Fmt(1, 1, 8000, 8);
  good.Chunk("data", {1, 2, 3});
  WriteFile(dir.File("good.wav"), good.File());
  ASSERT_EQ(Set(source.Get(), "filename", dir.File("good.wav")), S_OK);
  LPOLESTR name = nullptr;
  ASSERT_EQ(fs->GetCurFile(&name, nullptr), S_OK);
  EXPECT_EQ(WideToUtf8(name), dir.File("good.wav"));
  CoTaskMemFree(name);
}

}  // namespace

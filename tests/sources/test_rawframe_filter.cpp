// The raw YUV source's faults that a plain reading of its design leaves open: size and format
// changes after connection, "fps" 0, a second Load, files beyond 4 GiB.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

#include "framework/status.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"
#include "sources/rawframe/rawframesource.h"
#include "tests/sources/rawframe_support.h"

using namespace rawtest;

namespace {

constexpr size_t kQcifFrame = 176 * 144 * 3 / 2;

std::string LastError(IUnknown* filter) {
  ComPtr<IStatusInterface> status;
  if (FAILED(filter->QueryInterface(IID_IStatusInterface, status.AsOut()))) return "<error>";
  char text[512];
  if (FAILED(status->GetLastErrorText(text, sizeof text))) return "<error>";
  return text;
}

// How many of this process's descriptors are open on path.
int OpenDescriptors(const std::string& path) {
  int n = 0;
  std::error_code ec;
  const auto target = std::filesystem::weakly_canonical(path, ec);
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    std::error_code linkError;
    auto link = std::filesystem::read_symlink(entry.path(), linkError);
    if (!linkError && link == target) ++n;
  }
  return n;
}

// The filter object of this test binary (not the module), for the frame positioning call.
struct LocalFilter {
  LocalFilter() {
    HRESULT hr = S_OK;
    object = RawFrameSourceFilter::CreateInstance(nullptr, &hr);
    EXPECT_EQ(hr, S_OK);
    filter = static_cast<RawFrameSourceFilter*>(object);
    object->NonDelegatingQueryInterface(IID_IBaseFilter, base.AsOut());
  }
  CUnknown* object = nullptr;
  RawFrameSourceFilter* filter = nullptr;
  ComPtr<IBaseFilter> base;
};

TEST(RawFrameFaults, AChangeThatOutgrowsTheNegotiatedBufferEndsTheStreamUncopied) {
  TempDir dir;
  const std::string qcif = dir.File("foreman_qcif.yuv");
  // Twenty qcif frames hold one 704 x 576 frame.
  WriteYuvFile(qcif, kQcifFrame, 20);
  const std::string cif = dir.File("bus_cif.yuv");
  WriteYuvFile(cif, 352 * 288 * 3 / 2, 3);

  struct Change {
    const char* what;
    std::function<HRESULT(IUnknown*)> apply;
  };
  const Change changes[] = {
      {"sourcedimensions", [](IUnknown* f) { return SetParam(f, "sourcedimensions", "704x576"); }},
      {"yuv_format", [](IUnknown* f) { return SetParam(f, "yuv_format", "1"); }},
      {"second Load", [&](IUnknown* f) { return LoadFile(f, cif); }},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.what);
    ComPtr<IBaseFilter> filter = CreateRawFrameSource();
    ASSERT_TRUE(filter);
    ASSERT_EQ(LoadFile(filter.Get(), qcif), S_OK);
    Pipeline p(filter);
    ASSERT_EQ(p.connected, S_OK);
    ASSERT_EQ(change.apply(filter.Get()), S_OK);

    // The stream ends (end of stream first, so the grabber's completion may come before) and the
    // failure reaches the host.
    ASSERT_EQ(p.control->Run(), S_OK);
    LONG_PTR code = 0;
    EXPECT_TRUE(p.WaitForEvent(EC_ERRORABORT, &code));
    EXPECT_EQ(static_cast<HRESULT>(code), VFW_E_BUFFER_OVERFLOW);
    EXPECT_TRUE(p.WaitForEndOfStream(5000));
    EXPECT_EQ(p.SampleCount(), 0u);
    EXPECT_NE(LastError(filter.Get()).find("does not fit the sample buffer of 38016 bytes"), std::string::npos)
        << LastError(filter.Get());
  }
}

TEST(RawFrameFaults, ASmallerSizeAfterConnectionDeliversFramesOfThatSize) {
  TempDir dir;
  const std::string path = dir.File("foreman_qcif.yuv");
  const std::vector<BYTE> file = WriteYuvFile(path, kQcifFrame, 2);
  ComPtr<IBaseFilter> filter = CreateRawFrameSource();
  ASSERT_TRUE(filter);
  ASSERT_EQ(LoadFile(filter.Get(), path), S_OK);
  Pipeline p(filter);
  ASSERT_EQ(p.connected, S_OK);
  ASSERT_EQ(SetParam(filter.Get(), "sourcedimensions", "88x72"), S_OK);

  // 76032 bytes hold eight whole 88 x 72 frames; each sample says how many bytes it carries.
  EXPECT_EQ(p.RunToEnd(), EC_COMPLETE);
  const auto samples = p.Samples();
  ASSERT_EQ(samples.size(), 8u);
  for (size_t n = 0; n < samples.size(); ++n)
    EXPECT_TRUE(samples[n].data == FrameOf(file, 88 * 72 * 3 / 2, static_cast<long long>(n))) << n;
}

TEST(RawFrameFaults, FpsZeroAndUnusableSizesAreRefused) {
  ComPtr<IBaseFilter> filter = CreateRawFrameSource();
  ASSERT_TRUE(filter);
  for (const char* bad : {"0", "abc"}) EXPECT_EQ(SetParam(filter.Get(), "fps", bad), E_FAIL) << bad;
  EXPECT_EQ(GetParam(filter.Get(), "fps"), "30");
  ASSERT_EQ(SetParam(filter.Get(), "fps", "60"), S_OK);
  EXPECT_EQ(Vih(OfferedType(filter.Get())).AvgTimePerFrame, 166666);

  // No "x", a side below 1, or a frame larger than a sample can be: nothing changes.
  for (const char* bad : {"Select", "640X480", "0x480", "640x-2", "99999999x99999999", "46341x46341"})
    EXPECT_EQ(SetParam(filter.Get(), "sourcedimensions", bad), E_FAIL) << bad;
  EXPECT_EQ(GetParam(filter.Get(), "sourcedimensions"), "352x288");
  EXPECT_EQ(Vih(OfferedType(filter.Get())).bmiHeader.biSizeImage, 352u * 288u * 3u / 2u);

  // A size that fits at 1.5 bytes per pixel but not at 4 keeps the format at 4:2:0.
  ASSERT_EQ(SetParam(filter.Get(), "sourcedimensions", "30000x30000"), S_OK);
  EXPECT_EQ(SetParam(filter.Get(), "yuv_format", "1"), E_FAIL);
  EXPECT_EQ(GetParam(filter.Get(), "yuv_format"), "0");
  EXPECT_EQ(OfferedType(filter.Get()).subtype, MEDIASUBTYPE_I420);
}

TEST(RawFrameFaults, FpsWithoutAFrameDurationAndRefusedNameSizesAreReported) {
  ComPtr<IBaseFilter> filter = CreateRawFrameSource();
  ASSERT_TRUE(filter);
  // Above 10,000,000 frames a second the duration is 0; "-1" clamps to 0 (it used to read
  // 4294967295).
  for (const char* bad : {"10000001", "4294967295", "-1"}) EXPECT_EQ(SetParam(filter.Get(), "fps", bad), E_FAIL) << bad;
  EXPECT_EQ(GetParam(filter.Get(), "fps"), "30");
  ASSERT_EQ(SetParam(filter.Get(), "fps", "10000000"), S_OK);
  EXPECT_EQ(Vih(OfferedType(filter.Get())).AvgTimePerFrame, 1);

  // A size in the name that cannot be used keeps 352x288 and says which size and why.
  TempDir dir;
  ComPtr<IStatusInterface> status = filter.As<IStatusInterface>();
  struct Case {
    const char* name;
    const char* says;
  };
  for (const Case& c : {Case{"clip_99999x99999.yuv", "more than the 2147483647"},
                        Case{"clip_0x0.yuv", "at least 1"}}) {
    const std::string path = dir.File(c.name);
    WriteYuvFile(path, kQcifFrame, 1);
    ASSERT_EQ(LoadFile(filter.Get(), path), S_OK);
    EXPECT_EQ(Vih(OfferedType(filter.Get())).bmiHeader.biWidth, 352);
    char text[1024] = {};
    ASSERT_EQ(status->GetLastErrorText(text, sizeof text), S_OK);
    const std::string error = text;
    EXPECT_NE(error.find(std::string(c.name).substr(5, std::string(c.name).size() - 9)), std::string::npos) << error;
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

TEST(RawFrameFaults, TheOfferedTypeFollowsSizeFormatAndRate) {
  ComPtr<IBaseFilter> filter = CreateRawFrameSource();
  ASSERT_TRUE(filter);
  CMediaType mt = OfferedType(filter.Get());
  EXPECT_EQ(mt.majortype, MEDIATYPE_Video);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_I420);
  EXPECT_EQ(mt.formattype, FORMAT_VideoInfo);
  EXPECT_EQ(mt.cbFormat, 88u);
  EXPECT_TRUE(mt.bFixedSizeSamples);
  EXPECT_FALSE(mt.bTemporalCompression);
  const VIDEOINFOHEADER& vih = Vih(mt);
  EXPECT_EQ(vih.bmiHeader.biSize, 40u);
  EXPECT_EQ(vih.bmiHeader.biWidth, 352);
  EXPECT_EQ(vih.bmiHeader.biHeight, 288);
  EXPECT_EQ(vih.bmiHeader.biPlanes, 1);
  EXPECT_EQ(vih.bmiHeader.biBitCount, 12);
  EXPECT_EQ(vih.bmiHeader.biCompression, MAKEFOURCC('I', '4', '2', '0'));
  EXPECT_EQ(vih.bmiHeader.biSizeImage, 152064u);
  EXPECT_EQ(vih.AvgTimePerFrame, 333333);
  EXPECT_EQ(vih.dwBitRate, static_cast<DWORD>(30.0 * 152064 * 1.5) * 8u);

  // "yuv_format" 1 offers AYUV with a frame size of four bytes per pixel.
  ASSERT_EQ(SetParam(filter.Get(), "yuv_format", "1"), S_OK);
  mt = OfferedType(filter.Get());
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_AYUV);
  EXPECT_EQ(Vih(mt).bmiHeader.biBitCount, 32);
  EXPECT_EQ(Vih(mt).bmiHeader.biSizeImage, 352u * 288u * 4u);
  EXPECT_EQ(mt.lSampleSize, 352u * 288u * 4u);
  // A large picture's bit rate saturates instead of wrapping.
  ASSERT_EQ(SetParam(filter.Get(), "sourcedimensions", "1920x1080"), S_OK);
  EXPECT_EQ(Vih(OfferedType(filter.Get())).dwBitRate, 0xFFFFFFFFu);
}

TEST(RawFrameFaults, EachLoadClosesTheFileLoadedBefore) {
  TempDir dir;
  const std::string first = dir.File("first_qcif.yuv");
  const std::string second = dir.File("second_qcif.yuv");
  const std::string missing = dir.File("missing_qcif.yuv");
  WriteYuvFile(first, kQcifFrame, 2);
  WriteYuvFile(second, kQcifFrame, 2);

  ComPtr<IBaseFilter> filter = CreateRawFrameSource();
  ASSERT_TRUE(filter);
  auto events = plenor::test::FakeGraph::Create();
  ComPtr<IStatusInterface> status = filter.As<IStatusInterface>();
  ASSERT_TRUE(status);
  status->SetEventSink(static_cast<IMediaEventSink*>(events.Get()));

  ASSERT_EQ(LoadFile(filter.Get(), first), S_OK);
  EXPECT_EQ(OpenDescriptors(first), 1);
  ASSERT_EQ(LoadFile(filter.Get(), second), S_OK);
  EXPECT_EQ(OpenDescriptors(first), 0);
  EXPECT_EQ(OpenDescriptors(second), 1);

  // A file that does not open is reported, closes the one before and keeps its name.
  EXPECT_EQ(LoadFile(filter.Get(), missing), E_FAIL);
  EXPECT_EQ(OpenDescriptors(second), 0);
  EXPECT_EQ(LastError(filter.Get()), "Failed to open file: " + missing);
  EXPECT_EQ(events->CountEvents(EC_PLENOR_LAST_ERROR), 1);
  LPOLESTR name = nullptr;
  ASSERT_EQ(filter.As<IFileSourceFilter>()->GetCurFile(&name, nullptr), S_OK);
  ASSERT_TRUE(name);
  EXPECT_EQ(std::wstring(name), Wide(missing));
  CoTaskMemFree(name);
  status->SetEventSink(nullptr);

  // Nothing is left to play.
  Pipeline p(filter);
  ASSERT_EQ(p.connected, S_OK);
  EXPECT_EQ(p.RunToEnd(), EC_COMPLETE);
  EXPECT_EQ(p.SampleCount(), 0u);
}

TEST(RawFrameFaults, FramesBeyondFourGibibytesPlay) {
  TempDir dir;
  const std::string path = dir.File("big_1280x720_444.yuv");
  constexpr LONGLONG kFrame = 1280 * 720 * 4;
  // 1167 frames: frame 1165 straddles the 4 GiB mark, frame 1166 lies wholly above it. The file
  // is sparse: only those two frames are written.
  constexpr LONGLONG kFrames = 1167;
  static_assert(1165 * kFrame < (1LL << 32) && 1166 * kFrame > (1LL << 32));
  {
    int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, kFrames * kFrame + 100), 0);
    std::vector<BYTE> frame(static_cast<size_t>(kFrame));
    for (LONGLONG n : {1165LL, 1166LL}) {
      for (size_t i = 0; i < frame.size(); ++i) frame[i] = FrameByte(n, i);
      ASSERT_EQ(::pwrite(fd, frame.data(), frame.size(), n * kFrame), static_cast<ssize_t>(frame.size()));
    }
    ::close(fd);
  }

  LocalFilter local;
  ASSERT_TRUE(local.base);
  ASSERT_EQ(LoadFile(local.base.Get(), path), S_OK);
  EXPECT_EQ(local.filter->SeekToFrame(kFrames + 1), E_INVALIDARG);
  ASSERT_EQ(local.filter->SeekToFrame(1165), S_OK);

  Pipeline p(local.base);
  ASSERT_EQ(p.connected, S_OK);
  EXPECT_EQ(p.RunToEnd(60000), EC_COMPLETE);
  const auto samples = p.Samples();
  ASSERT_EQ(samples.size(), 2u);
  for (size_t k = 0; k < 2; ++k) {
    const LONGLONG n = 1165 + static_cast<LONGLONG>(k);
    ASSERT_EQ(samples[k].data.size(), static_cast<size_t>(kFrame));
    bool same = true;
    for (size_t i = 0; i < samples[k].data.size() && same; ++i) same = samples[k].data[i] == FrameByte(n, i);
    EXPECT_TRUE(same) << "frame " << n;
    EXPECT_EQ(samples[k].start, n * 333333);
  }
}

}  // namespace

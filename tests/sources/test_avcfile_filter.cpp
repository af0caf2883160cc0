// The H.264 file source as a host uses it: registered module, graph manager, sample grabber.
// Every unit one sample with no times, IDR sync points, both media types, seeking by unit, load
// failures and their messages, the unit cap and large units, and the property page.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "platform/com/registry.h"
#include "platform/com/runtime.h"
#include "platform/graph/mapper.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"
#include "platform/ui/propframe.h"
#include "sources/avcfile/h264properties.h"
#include "tests/sources/avcfile_support.h"

using namespace avctest;
using rawtest::Grabbed;
using rawtest::LoadFile;
using rawtest::Pipeline;
using rawtest::TempDir;

namespace {

constexpr REFERENCE_TIME kD30 = 333333;

std::vector<Bytes> DataOf(const std::vector<Grabbed>& samples) {
  std::vector<Bytes> out;
  for (const Grabbed& g : samples) out.push_back(g.data);
  return out;
}

class AvcSource : public testing::Test {
 protected:
  // The suite codec's stream of 64 x 48: SPS, PPS, IDR slice, two more slices.
  void SetUp() override {
    units = EncodeStream(64, 48, 3);
    ASSERT_EQ(units.size(), 5u);
    path = dir.File("clip.h264");
    WriteBytes(path, Join(units));
    ASSERT_TRUE(filter);
  }

  TempDir dir;
  std::vector<Bytes> units;
  std::string path;
  ComPtr<IBaseFilter> filter = CreateAvcFileSource();
};

TEST_F(AvcSource, FiveUnitFilePlaysOneUnitPerSampleWithoutTimesAndOnlyTheIdrSliceIsASyncPoint) {
  ASSERT_EQ(LoadFile(filter.Get(), path), S_OK);
  EXPECT_EQ(rawtest::GetParam(filter.Get(), "sourcedimensions"), "64x48");
  LONGLONG duration = 0;
  ASSERT_EQ(Seeking(filter.Get())->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 999999);

  Pipeline p(filter);
  ASSERT_EQ(p.connected, S_OK);
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    EXPECT_EQ(p.RunToEnd(), EC_COMPLETE);
    const std::vector<Grabbed> samples = p.Samples();
    EXPECT_EQ(DataOf(samples), units);
    ASSERT_EQ(samples.size(), 5u);
    for (size_t i = 0; i < samples.size(); ++i) {
      EXPECT_FALSE(samples[i].timeValid) << i;
      EXPECT_EQ(samples[i].sync, i == 2) << i;
    }
    // Stop rewinds: the next run plays the file from its first unit again.
    ASSERT_EQ(p.Stop(), S_OK);
  }
}

TEST_F(AvcSource, OfferedTypesFollowUseQueltH264) {
  // No file: the standard type at 352 x 288, the suite's type with an empty trailer.
  CMediaType mt = rawtest::OfferedType(filter.Get());
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_H264);
  ASSERT_EQ(mt.formattype, FORMAT_VideoInfo2);
  ASSERT_EQ(mt.cbFormat, sizeof(VIDEOINFOHEADER2));
  auto* v2 = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
  EXPECT_EQ(v2->bmiHeader.biWidth, 352);
  EXPECT_EQ(v2->bmiHeader.biHeight, 288);
  ASSERT_EQ(rawtest::SetParam(filter.Get(), "usequelth264", "1"), S_OK);
  mt = rawtest::OfferedType(filter.Get());
  ASSERT_EQ(mt.cbFormat, sizeof(VIDEOINFOHEADER) + 4);
  EXPECT_EQ(Bytes(mt.pbFormat + sizeof(VIDEOINFOHEADER), mt.pbFormat + mt.cbFormat), Bytes(4, 0));

  ASSERT_EQ(rawtest::SetParam(filter.Get(), "fps", "25"), S_OK);
  ASSERT_EQ(LoadFile(filter.Get(), path), S_OK);
  mt = rawtest::OfferedType(filter.Get());
  EXPECT_EQ(mt.majortype, MEDIATYPE_Video);
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_PLENOR_H264);
  EXPECT_EQ(mt.formattype, FORMAT_VideoInfo);
  EXPECT_TRUE(mt.bFixedSizeSamples);
  EXPECT_FALSE(mt.bTemporalCompression);
  EXPECT_EQ(mt.lSampleSize, 64u * 48 * 3);
  const Bytes trailer = Join({units[0], units[1], {0, 0, 0, 0}});
  ASSERT_EQ(mt.cbFormat, sizeof(VIDEOINFOHEADER) + trailer.size());
  const VIDEOINFOHEADER& vih = rawtest::Vih(mt);
  EXPECT_EQ(vih.AvgTimePerFrame, 400000);
  EXPECT_EQ(vih.rcSource.right, 0);
  EXPECT_EQ(vih.bmiHeader.biSize, 40u);
  EXPECT_EQ(vih.bmiHeader.biWidth, 64);
  EXPECT_EQ(vih.bmiHeader.biHeight, 48);
  EXPECT_EQ(vih.bmiHeader.biPlanes, 1);
  EXPECT_EQ(vih.bmiHeader.biBitCount, 12);
  EXPECT_EQ(vih.bmiHeader.biCompression, MAKEFOURCC('a', 'v', 'c', '1'));
  EXPECT_EQ(vih.bmiHeader.biSizeImage, 64u * 48 * 3);
  const BYTE* tail = mt.pbFormat + sizeof(VIDEOINFOHEADER);
  const size_t sets = units[0].size() + units[1].size();
  EXPECT_TRUE(std::equal(units[0].begin(), units[0].end(), tail));
  EXPECT_TRUE(std::equal(units[1].begin(), units[1].end(), tail + units[0].size()));
  const BYTE* count = mt.pbFormat + mt.cbFormat - 4;
  EXPECT_EQ(count[0] | count[1] << 8 | count[2] << 16 | count[3] << 24, static_cast<int>(sets + 4));

  ASSERT_EQ(rawtest::SetParam(filter.Get(), "usequelth264", "false"), S_OK);
  mt = rawtest::OfferedType(filter.Get());
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_H264);
  ASSERT_EQ(mt.formattype, FORMAT_VideoInfo2);
  EXPECT_TRUE(mt.bFixedSizeSamples);
  EXPECT_EQ(mt.lSampleSize, 1u);
  v2 = reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat);
  EXPECT_EQ(v2->AvgTimePerFrame, 400000);
  EXPECT_EQ(v2->rcSource.right, 64);
  EXPECT_EQ(v2->rcTarget.bottom, 48);
  EXPECT_EQ(v2->dwPictAspectRatioX, 64u);
  EXPECT_EQ(v2->dwPictAspectRatioY, 48u);
  EXPECT_EQ(v2->bmiHeader.biBitCount, 24);
  EXPECT_EQ(v2->bmiHeader.biCompression, MAKEFOURCC('a', 'v', 'c', '1'));
  EXPECT_EQ(v2->bmiHeader.biSizeImage, 64u * 3 * 48);
}

TEST_F(AvcSource, SeekingByUnit) {
  ComPtr<IMediaSeeking> seeking = Seeking(filter.Get());
  ASSERT_EQ(LoadFile(filter.Get(), path), S_OK);

  DWORD caps = 0;
  EXPECT_EQ(seeking->GetCapabilities(&caps), S_OK);
  EXPECT_EQ(caps, 0x21u);
  struct CapCase {
    DWORD asked;
    HRESULT hr;
    DWORD back;
  };
  for (const CapCase& c : {CapCase{0x21, S_OK, 0x21}, CapCase{0x01, S_OK, 0x01}, CapCase{0x23, S_FALSE, 0x21},
                           CapCase{0x06, E_FAIL, 0}}) {
    DWORD asked = c.asked;
    EXPECT_EQ(seeking->CheckCapabilities(&asked), c.hr) << c.asked;
    EXPECT_EQ(asked, c.back) << c.asked;
  }
  EXPECT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_NONE), S_FALSE);

  struct SeekCase {
    LONGLONG current;
    DWORD flags;
    HRESULT hr;
    LONGLONG position;  // GetCurrentPosition afterwards
  };
  const std::vector<SeekCase> cases = {
      {2 * kD30, AM_SEEKING_AbsolutePositioning, S_OK, 2 * kD30},
      {1000000, AM_SEEKING_AbsolutePositioning, E_INVALIDARG, 2 * kD30},  // unit 3 of 3
      {3 * kD30 - 1, AM_SEEKING_AbsolutePositioning, S_OK, 2 * kD30},
      {kD30, AM_SEEKING_RelativePositioning, E_INVALIDARG, 2 * kD30},
      {kD30, AM_SEEKING_IncrementalPositioning, E_INVALIDARG, 2 * kD30},
      {-1, AM_SEEKING_AbsolutePositioning, E_INVALIDARG, 2 * kD30},
      {(4ll << 32) * kD30 + kD30, AM_SEEKING_AbsolutePositioning, E_INVALIDARG, 2 * kD30},
      {kD30 + 5, AM_SEEKING_AbsolutePositioning, S_OK, kD30},
      {0, AM_SEEKING_AbsolutePositioning, S_OK, 0},
  };
  for (const SeekCase& c : cases) {
    LONGLONG current = c.current, stop = 0;
    EXPECT_EQ(seeking->SetPositions(&current, c.flags, &stop, AM_SEEKING_NoPositioning), c.hr) << c.current;
    LONGLONG position = -1, end = -1;
    EXPECT_EQ(seeking->GetPositions(&position, &end), S_OK);
    EXPECT_EQ(position, c.position) << c.current;
    EXPECT_EQ(end, 999999);
  }
  EXPECT_EQ(seeking->SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr, 0), E_POINTER);
}

TEST_F(AvcSource, SeekingToUnitKDeliversUnitKNextAndThePositionStays) {
  ComPtr<IMediaSeeking> seeking = Seeking(filter.Get());
  ASSERT_EQ(LoadFile(filter.Get(), path), S_OK);
  Pipeline p(filter);
  ASSERT_EQ(p.connected, S_OK);
  for (LONGLONG k : {2, 1, 0}) {
    SCOPED_TRACE("unit " + std::to_string(k));
    LONGLONG current = k * kD30;
    ASSERT_EQ(seeking->SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    EXPECT_EQ(p.RunToEnd(), EC_COMPLETE);
    // Units k + 2 ... of the file (the index skips the two parameter sets).
    EXPECT_EQ(DataOf(p.Samples()), std::vector<Bytes>(units.begin() + 2 + k, units.end()));
    LONGLONG position = -1;
    ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_EQ(position, k * kD30);
    ASSERT_EQ(p.Stop(), S_OK);
    ASSERT_EQ(seeking->GetCurrentPosition(&position), S_OK);
    EXPECT_EQ(position, 0);
  }
}

TEST_F(AvcSource, LoadFailuresAndTheirMessages) {
  const std::string noPps = dir.File("nopps.h264"), garbage = dir.File("garbage.h264"),
                    badSets = dir.File("badsets.h264"), missing = dir.File("missing.h264");
  WriteBytes(noPps, Join({units[0], units[2], units[3]}));
  WriteBytes(garbage, Bytes(5000, 0x55));
  // Parameter sets whose bytes no decoder can parse.
  WriteBytes(badSets, Join({MakeUnit(0x67, 3), MakeUnit(0x68, 2), units[2]}));
  struct Case {
    std::string file;
    bool quelt;
    HRESULT hr;
    std::string error;  // last-error text (prefix)
    std::string dimensions;
  };
  const std::vector<Case> cases = {
      {missing, false, E_FAIL, "Failed to open file: " + missing, ""},
      {noPps, false, E_FAIL, "", ""},
      {garbage, true, E_FAIL, "", ""},
      {badSets, true, E_FAIL, "Failed to parse parameter required for Quelt codec sets in: " + badSets, ""},
      {badSets, false, S_OK, "H264 decode error has occurred: ", ""},
      {path, true, S_OK, "", "64x48"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + (c.quelt ? " with usequelth264" : ""));
    ComPtr<IBaseFilter> f = CreateAvcFileSource();
    ASSERT_TRUE(f);
    ASSERT_EQ(rawtest::SetParam(f.Get(), "usequelth264", c.quelt ? "1" : "0"), S_OK);
    EXPECT_EQ(LoadFile(f.Get(), c.file), c.hr);
    EXPECT_EQ(LastError(f.Get()).substr(0, c.error.size()), c.error);
    if (c.error.empty()) {
      EXPECT_EQ(LastError(f.Get()), "");
    }
    EXPECT_EQ(rawtest::GetParam(f.Get(), "sourcedimensions"), c.dimensions);
    // The name is kept whatever happened.
    LPOLESTR name = nullptr;
    ASSERT_EQ(f.As<IFileSourceFilter>()->GetCurFile(&name, nullptr), S_OK);
    ASSERT_TRUE(name);
    EXPECT_EQ(std::wstring(name), rawtest::Wide(c.file));
    CoTaskMemFree(name);
  }

  // A file the codec could not parse still plays with usequelth264 clear, in 352 x 288 buffers;
  // a failed load leaves no file: a started graph ends the stream at once.
  ComPtr<IBaseFilter> f = CreateAvcFileSource();
  ASSERT_EQ(LoadFile(f.Get(), badSets), S_OK);
  {
    Pipeline p(f);
    ASSERT_EQ(p.connected, S_OK);
    EXPECT_EQ(p.RunToEnd(), EC_COMPLETE);
    EXPECT_EQ(p.SampleCount(), 3u);
    ASSERT_EQ(p.Stop(), S_OK);
    EXPECT_EQ(LoadFile(f.Get(), noPps), E_FAIL);
    EXPECT_EQ(p.RunToEnd(), EC_COMPLETE);
    EXPECT_EQ(p.SampleCount(), 0u);
    EXPECT_EQ(p.EndOfStreams(), 1);
  }
}

TEST_F(AvcSource, FpsZeroIsRefusedAndAChangeTakesEffectAtTheNextLoad) {
  ComPtr<IMediaSeeking> seeking = Seeking(filter.Get());
  ASSERT_EQ(LoadFile(filter.Get(), path), S_OK);
  for (const char* bad : {"0", "10000001", "-3", "x"}) {
    EXPECT_EQ(rawtest::SetParam(filter.Get(), "fps", bad), E_FAIL) << bad;
    EXPECT_EQ(rawtest::GetParam(filter.Get(), "fps"), "30") << bad;
  }
  EXPECT_EQ(rawtest::SetParam(filter.Get(), "sourcedimensions", "10x10"), E_FAIL);
  ASSERT_EQ(rawtest::SetParam(filter.Get(), "fps", "15"), S_OK);
  LONGLONG duration = 0;
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 3 * kD30);
  ASSERT_EQ(LoadFile(filter.Get(), path), S_OK);
  ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
  EXPECT_EQ(duration, 3 * 666666);
}

TEST_F(AvcSource, SecondLoadClosesTheFirstFile) {
  const std::vector<Bytes> other = EncodeStream(32, 32, 2);
  const std::string second = dir.File("second.h264");
  WriteBytes(second, Join(other));
  ASSERT_EQ(LoadFile(filter.Get(), path), S_OK);
  ASSERT_EQ(LoadFile(filter.Get(), second), S_OK);
  EXPECT_EQ(rawtest::GetParam(filter.Get(), "sourcedimensions"), "32x32");
  // The first file can go: nothing of it is held open or read.
  ASSERT_EQ(::unlink(path.c_str()), 0);
  Pipeline p(filter);
  ASSERT_EQ(p.connected, S_OK);
  EXPECT_EQ(p.RunToEnd(), EC_COMPLETE);
  EXPECT_EQ(DataOf(p.Samples()), other);
}

TEST_F(AvcSource, UnitsLargerThanAPictureAreDeliveredWhole) {
  // Sample buffers are a picture's RGB24 size (352 x 288 x 3 here, the sets being
  // unparseable) unless a longer unit was indexed.
  const std::vector<Bytes> file = {MakeUnit(0x67, 3), MakeUnit(0x68, 2), MakeUnit(0x65, 352 * 288 * 3 + 5000, 4, 9),
                                   MakeUnit(0x41, 100)};
  const std::string big = dir.File("big.h264");
  WriteBytes(big, Join(file));
  ASSERT_EQ(LoadFile(filter.Get(), big), S_OK);
  Pipeline p(filter);
  ASSERT_EQ(p.connected, S_OK);
  EXPECT_EQ(p.RunToEnd(), EC_COMPLETE);
  EXPECT_EQ(DataOf(p.Samples()), file);
  ASSERT_EQ(p.Stop(), S_OK);

  // The file grows after the connection: the longer unit fails the stream instead of being cut
  // or written past the buffer.
  const Bytes longer = MakeUnit(0x65, 352 * 288 * 3 + 9000, 4, 9);
  WriteBytes(big, Join({file[0], file[1], longer}));
  LONG_PTR code = 0;
  ASSERT_EQ(p.control->Run(), S_OK);
  ASSERT_TRUE(p.WaitForEvent(EC_ERRORABORT, &code));
  EXPECT_EQ(code, VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(p.SampleCount(), 2u);
  EXPECT_EQ(LastError(filter.Get()), "NAL unit of " + std::to_string(longer.size()) + " bytes at offset " +
                                         std::to_string(file[0].size() + file[1].size()) + " in " + big +
                                         " does not fit the sample buffer of " +
                                         std::to_string(file[2].size()) +
                                         " bytes: reconnect the output pin after loading the file");
}

TEST_F(AvcSource, ZerosAfterAUnitEndTheStreamAtTheCapWithFileAndOffset) {
  // SPS, PPS, an IDR slice, then a start code and 80 MiB of zeros (a sparse file).
  const std::string sparse = dir.File("sparse.h264");
  const Bytes head = Join({units[0], units[1], units[2], MakeUnit(0x41, 0)});
  WriteBytes(sparse, head);
  ASSERT_EQ(::truncate(sparse.c_str(), 80 << 20), 0);
  ASSERT_EQ(LoadFile(filter.Get(), sparse), S_OK);
  Pipeline p(filter);
  ASSERT_EQ(p.connected, S_OK);
  LONG_PTR code = 0;
  ASSERT_EQ(p.control->Run(), S_OK);
  ASSERT_TRUE(p.WaitForEvent(EC_ERRORABORT, &code));
  EXPECT_EQ(code, VFW_E_INVALID_FILE_FORMAT);
  EXPECT_EQ(DataOf(p.Samples()), std::vector<Bytes>(units.begin(), units.begin() + 3));
  const size_t offset = units[0].size() + units[1].size() + units[2].size();
  EXPECT_EQ(LastError(filter.Get()), "No end of the NAL unit at offset " + std::to_string(offset) + " in " + sparse +
                                         " within 64 MiB: the file is damaged or not an H.264 byte stream");
  ASSERT_EQ(p.Stop(), S_OK);

  // A file of nothing but zeros has no first unit: it is refused at once.
  const std::string zeros = dir.File("zeros.h264");
  WriteBytes(zeros, {});
  ASSERT_EQ(::truncate(zeros.c_str(), 1ll << 30), 0);
  EXPECT_EQ(LoadFile(filter.Get(), zeros), E_FAIL);
}

TEST_F(AvcSource, RegistrationInterfacesAndPage) {
  EXPECT_EQ(rawtest::RegisteredClassName(CLSID_AvcFileSource), "Ravik Plenor H264 Source");
  EXPECT_EQ(rawtest::RegisteredClassName(CLSID_H264Properties), "H264 Source Filter Properties");
  RegisteredFilter entry;
  ASSERT_EQ(MapperGetFilter(CLSID_AvcFileSource, &entry), S_OK);
  EXPECT_EQ(entry.merit, 0x200000u);
  ASSERT_EQ(entry.pins.size(), 1u);
  EXPECT_EQ(entry.pins[0].name, L"Output");
  EXPECT_TRUE(entry.pins[0].output);
  EXPECT_FALSE(entry.pins[0].rendered || entry.pins[0].zero || entry.pins[0].many);
  ASSERT_EQ(entry.pins[0].mediaTypes.size(), 1u);
  EXPECT_EQ(entry.pins[0].mediaTypes[0].majorType, MEDIATYPE_Video);
  EXPECT_EQ(entry.pins[0].mediaTypes[0].subType, MEDIASUBTYPE_H264);

  ComPtr<IPin> out;
  EXPECT_EQ(filter->FindPin(L"Out", &out), S_OK);
  EXPECT_EQ(rawtest::GetParam(filter.Get(), "fps"), "30");
  EXPECT_EQ(rawtest::GetParam(filter.Get(), "usequelth264"), "0");
  EXPECT_EQ(rawtest::GetParam(filter.Get(), "sourcedimensions"), "");

  // The page shows the values and writes only "usequelth264".
  ASSERT_EQ(LoadFile(filter.Get(), path), S_OK);
  ASSERT_EQ(rawtest::SetParam(filter.Get(), "fps", "12"), S_OK);
  std::unique_ptr<PropertyFrame> frame;
  ASSERT_EQ(PropertyFrame::Open(filter.Get(), &frame), S_OK);
  EXPECT_EQ(frame->PageTitle(0), "Ravik H264 Source Filter Properties");
  HWND dialog = frame->ActiveDialog();
  ASSERT_TRUE(dialog);
  char text[64] = "";
  GetDlgItemText(dialog, IDC_H264_FPS, text, sizeof text);
  EXPECT_STREQ(text, "12");
  SendDlgItemMessage(dialog, IDC_H264_SOURCEDIMENSIONS, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
  EXPECT_STREQ(text, "64x48");
  EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_H264_USEQUELT), static_cast<UINT>(BST_UNCHECKED));
  SetDlgItemText(dialog, IDC_H264_FPS, "44");
  CheckDlgButton(dialog, IDC_H264_USEQUELT, BST_CHECKED);
  EXPECT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(rawtest::GetParam(filter.Get(), "usequelth264"), "1");
  EXPECT_EQ(rawtest::GetParam(filter.Get(), "fps"), "12");
  frame->Close();
}

}  // namespace

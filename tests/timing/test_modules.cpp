// The two modules as a host sees them: what registration records, and the property pages opened
// on their filters in the host's property frame and driven as a user would.
#include <gtest/gtest.h>

#include <memory>

#include "platform/com/registry.h"
#include "platform/graph/mapper.h"

#include "platform/ui/propframe.h"
#include "support_timing.h"
#include "timing/framedrop.h"
#include "timing/timeshift.h"

using namespace timingtest;

namespace {

std::pair<int, int> Range(HWND dialog, int spin) {
  int lower = 0, upper = 0;
  SendDlgItemMessage(dialog, spin, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lower), reinterpret_cast<LPARAM>(&upper));
  return {lower, upper};
}

std::string Text(HWND dialog, int id) { return GetWindowTextString(GetDlgItem(dialog, id)); }

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The default value of HKEY_CLASSES_ROOT\CLSID\{clsid}.
std::string ClassKeyName(const CLSID& clsid) {
  wchar_t wide[40];
  if (StringFromGUID2(clsid, wide, 40) == 0) return "<bad clsid>";
  std::string key = "CLSID\\";
  for (const wchar_t* p = wide; *p; ++p) key += static_cast<char>(*p);
  HKEY hkey = nullptr;
  if (RegOpenKeyA(HKEY_CLASSES_ROOT, key.c_str(), &hkey) != ERROR_SUCCESS) return "<no key>";
  char value[256] = {};
  DWORD size = sizeof value;
  DWORD type = 0;
  LSTATUS status = RegQueryValueExA(hkey, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(hkey);
  return status == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : "<no value>";
}

}  // namespace

TEST(TimingModules, RegistrationRecordsNamesMeritAndNoPins) {
  RegisterTimingModules();
  const struct {
    CLSID filter, page;
    const wchar_t* name;
    const char* pageName;
  } modules[] = {
      {CLSID_FrameDropFilter, CLSID_FrameSkippingProperties, L"Ravik Plenor Frame Skipping Filter",
       "Frame Skipping Properties"},
      {CLSID_TimeShiftFilter, CLSID_SkewingProperties, L"Ravik Plenor Skewing Filter", "Skewing Properties"},
  };
  for (const auto& m : modules) {
    RegisteredFilter entry;
    ASSERT_EQ(MapperGetFilter(m.filter, &entry), S_OK);
    EXPECT_EQ(entry.name, m.name);
    EXPECT_EQ(entry.merit, 0x200000u);
    EXPECT_TRUE(entry.pins.empty());
    EXPECT_EQ(ClassKeyName(m.page), m.pageName);
    RegisteredFilter none;
    EXPECT_EQ(MapperGetFilter(m.page, &none), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  }
}

TEST(FrameSkippingPage, ShowsTheFilterParametersInItsControls) {
  auto filter = CreateFilter(CLSID_FrameDropFilter);
  ASSERT_EQ(SetParam(filter.Get(), "mode", "1"), S_OK);
  ASSERT_EQ(SetParam(filter.Get(), "skip_frame", "2"), S_OK);
  ASSERT_EQ(SetParam(filter.Get(), "total_frames", "7"), S_OK);
  ASSERT_EQ(SetParam(filter.Get(), "target_framerate", "12.5"), S_OK);

  std::unique_ptr<PropertyFrame> frame;
  ASSERT_EQ(PropertyFrame::Open(filter.Get(), &frame), S_OK);
  ASSERT_EQ(frame->PageCount(), 1u);
  EXPECT_EQ(frame->PageTitle(0), "Ravik FrameSkip Properties");
  HWND dialog = frame->ActiveDialog();
  ASSERT_TRUE(dialog);

  const std::string page = frame->Describe();
  EXPECT_TRUE(Contains(page, "list 1001 \"Mode:\" = \"Target Fps based\" items: [0] \"Skip x every y\", [1] "
                             "\"Target Fps based\" *"))
      << page;
  EXPECT_TRUE(Contains(page, "edit 1002 \"Skip Frames:\" = \"2\"")) << page;
  EXPECT_TRUE(Contains(page, "edit 1004 \"Every Frames:\" = \"7\"")) << page;
  EXPECT_TRUE(Contains(page, "edit 1006 \"Target Frame Rate:\" = \"12.50\"")) << page;
  EXPECT_EQ(SendDlgItemMessage(dialog, IDC_FRAMESKIP_MODE, CB_GETMINVISIBLE, 0, 0), 9);
  for (int spin : {IDC_FRAMESKIP_SKIP_SPIN, IDC_FRAMESKIP_TOTAL_SPIN, IDC_FRAMESKIP_TARGET_SPIN})
    EXPECT_EQ(Range(dialog, spin), std::make_pair(0, 32767)) << spin;
  frame->Close();
}

TEST(FrameSkippingPage, UnknownModeLeavesTheFirstEntrySelected) {
  auto filter = CreateFilter(CLSID_FrameDropFilter);
  ASSERT_EQ(SetParam(filter.Get(), "mode", "7"), S_OK);
  std::unique_ptr<PropertyFrame> frame;
  ASSERT_EQ(PropertyFrame::Open(filter.Get(), &frame), S_OK);
  EXPECT_EQ(SendDlgItemMessage(frame->ActiveDialog(), IDC_FRAMESKIP_MODE, CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(SendDlgItemMessage(frame->ActiveDialog(), IDC_FRAMESKIP_MODE, CB_GETCOUNT, 0, 0), 2);
  frame->Close();
}

TEST(FrameSkippingPage, ApplyWritesModeAndTheThreeFields) {
  auto filter = CreateFilter(CLSID_FrameDropFilter);
  std::unique_ptr<PropertyFrame> frame;
  ASSERT_EQ(PropertyFrame::Open(filter.Get(), &frame), S_OK);
  // Opening marks the page dirty: an apply right away rewrites every bound parameter unchanged.
  EXPECT_EQ(frame->IsDirty(), S_OK);
  EXPECT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(GetParam(filter.Get(), "mode"), "0");

  ASSERT_EQ(frame->SelectItem(IDC_FRAMESKIP_MODE, "Target Fps based"), S_OK);
  ASSERT_EQ(frame->TypeText(IDC_FRAMESKIP_SKIP, "3"), S_OK);
  ASSERT_EQ(frame->TypeText(IDC_FRAMESKIP_TOTAL, "5"), S_OK);
  ASSERT_EQ(frame->TypeText(IDC_FRAMESKIP_TARGET, "15"), S_OK);
  ASSERT_EQ(frame->PressArrow(IDC_FRAMESKIP_TARGET_SPIN, 2), S_OK);
  EXPECT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(frame->IsDirty(), S_FALSE);
  EXPECT_EQ(GetParam(filter.Get(), "mode"), "1");
  EXPECT_EQ(GetParam(filter.Get(), "skip_frame"), "3");
  EXPECT_EQ(GetParam(filter.Get(), "total_frames"), "5");
  EXPECT_EQ(GetParam(filter.Get(), "target_framerate"), "17.00");
  frame->Close();
}

TEST(SkewingPage, ShowsAndWritesTheSignedOffsetWithItsUnit) {
  auto filter = CreateFilter(CLSID_TimeShiftFilter);
  ASSERT_EQ(SetParam(filter.Get(), "skewTimestamp", "-250"), S_OK);
  std::unique_ptr<PropertyFrame> frame;
  ASSERT_EQ(PropertyFrame::Open(filter.Get(), &frame), S_OK);
  ASSERT_EQ(frame->PageCount(), 1u);
  EXPECT_EQ(frame->PageTitle(0), "Ravik Skewing Filter Properties");
  HWND dialog = frame->ActiveDialog();
  ASSERT_TRUE(dialog);
  const std::string page = frame->Describe();
  EXPECT_TRUE(Contains(page, "edit 1001 \"Skew Timestamp:\" = \"-250\"")) << page;
  EXPECT_EQ(Text(dialog, IDC_SKEW_UNIT), "1/100000 s");
  EXPECT_EQ(Range(dialog, IDC_SKEW_SPIN), std::make_pair(-32767, 32767));

  // The range holds the arrows: from -32766 two steps down stop at -32767.
  ASSERT_EQ(frame->TypeText(IDC_SKEW, "-32766"), S_OK);
  ASSERT_EQ(frame->PressArrow(IDC_SKEW_SPIN, -2), S_OK);
  EXPECT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(GetParam(filter.Get(), "skewTimestamp"), "-32767");

  ASSERT_EQ(frame->TypeText(IDC_SKEW, "1200"), S_OK);
  EXPECT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(GetParam(filter.Get(), "skewTimestamp"), "1200");
  frame->Close();
}

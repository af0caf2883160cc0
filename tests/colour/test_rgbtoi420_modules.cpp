// Both conversion modules as a host sees them: what registration records, and the property pages
// RGB2YUVProperties and YUV2RGBProperties opened on their filters in the host's property frame and
// driven as a user would.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "colour/common/colourprops.h"
#include "colour/rgb2yuv/rgbtoi420.h"
#include "colour/yuv2rgb/i420torgb.h"
#include "colourfilter_helpers.h"
#include "platform/com/registry.h"
#include "platform/graph/mapper.h"
#include "platform/ui/propframe.h"
#include "tests/utilities/support_utilities.h"

using namespace colourfilter;
using namespace utiltest;

namespace {

struct Module {
  const CLSID* filter;
  const CLSID* page;
  const wchar_t* filterName;
  const char* pageName;
  const char* pageTitle;
};
const Module kModules[] = {
    {&CLSID_RgbToI420Filter, &CLSID_RGB2YUVProperties, L"Ravik Plenor RGB 2 YUV420P Converter", "RGB2YUV Properties",
     "Ravik RGB to YUV converter Filter Properties"},
    {&CLSID_I420ToRgbFilter, &CLSID_YUV2RGBProperties, L"Ravik Plenor YUV420P 2 RGB Converter", "YUV2RGB Properties",
     "Ravik YUV 2 RGB Filter Properties"},
};

void PrintTo(const Module& m, std::ostream* os) { *os << m.pageName; }

// The default value of HKEY_CLASSES_ROOT\CLSID\{clsid}.
std::string ClassName(const CLSID& clsid) {
  wchar_t wide[40];
  if (StringFromGUID2(clsid, wide, 40) == 0) return "<bad clsid>";
  std::string key = "CLSID\\";
  for (const wchar_t* p = wide; *p; ++p) key += static_cast<char>(*p);
  HKEY hkey = nullptr;
  if (RegOpenKeyA(HKEY_CLASSES_ROOT, key.c_str(), &hkey) != ERROR_SUCCESS) return "<no key>";
  char value[256] = {};
  DWORD size = sizeof value, type = 0;
  const LSTATUS status = RegQueryValueExA(hkey, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(hkey);
  return status == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : "<no value>";
}

std::pair<int, int> SpinRange(HWND dialog) {
  int lower = -1, upper = -1;
  SendDlgItemMessage(dialog, IDC_COLOUR_OFFSET_SPIN, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lower),
                     reinterpret_cast<LPARAM>(&upper));
  return {lower, upper};
}

class ColourModule : public testing::TestWithParam<Module> {
 protected:
  void SetUp() override {
    RegisterModules();
    filter = CreateFilter(*GetParam().filter);
    ASSERT_TRUE(filter);
  }
  std::unique_ptr<PropertyFrame> Open() {
    std::unique_ptr<PropertyFrame> frame;
    EXPECT_EQ(PropertyFrame::Open(filter.Get(), &frame), S_OK);
    return frame;
  }
  ComPtr<IBaseFilter> filter;
};

TEST_P(ColourModule, RegistrationRecordsNamesMeritAndNoPins) {
  RegisteredFilter entry;
  ASSERT_EQ(MapperGetFilter(*GetParam().filter, &entry), S_OK);
  EXPECT_EQ(entry.name, GetParam().filterName);
  EXPECT_EQ(entry.merit, 0x200000u);
  EXPECT_TRUE(entry.pins.empty());
  EXPECT_EQ(ClassName(*GetParam().page), GetParam().pageName);
  RegisteredFilter none;
  EXPECT_EQ(MapperGetFilter(*GetParam().page, &none), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_P(ColourModule, PageShowsOffsetAndInvert) {
  std::unique_ptr<PropertyFrame> frame = Open();
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->PageCount(), 1u);
  EXPECT_EQ(frame->PageTitle(0), GetParam().pageTitle);
  EXPECT_EQ(frame->PageSize(0).cx, 279);  // 186 x 93 dialog units of "MS Shell Dlg" 8
  EXPECT_EQ(frame->PageSize(0).cy, 151);
  std::string page = frame->Describe();
  EXPECT_NE(page.find("edit 1002 \"Chrominance offset:\" = \"128\" (digits)"), std::string::npos) << page;
  EXPECT_NE(page.find("up-down 1004 buddy 1002 range 0..32767"), std::string::npos) << page;
  EXPECT_NE(page.find("check 1001 \"Invert image\" [x]"), std::string::npos) << page;
  EXPECT_EQ(SpinRange(frame->ActiveDialog()), std::make_pair(0, 32767));
  frame->Close();

  ASSERT_EQ(Set(filter.Get(), "chrominanceoffset", "300"), S_OK);
  ASSERT_EQ(Set(filter.Get(), "invert", "0"), S_OK);
  frame = Open();
  ASSERT_TRUE(frame);
  page = frame->Describe();
  EXPECT_NE(page.find("= \"300\""), std::string::npos) << page;
  EXPECT_NE(page.find("check 1001 \"Invert image\" [ ]"), std::string::npos) << page;
  frame->Close();
}

TEST_P(ColourModule, ApplyWritesOffsetThenInvert) {
  std::unique_ptr<PropertyFrame> frame = Open();
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->TypeText(IDC_COLOUR_OFFSET, "0"), S_OK);
  ASSERT_EQ(frame->SetCheck(IDC_COLOUR_INVERT, false), S_OK);
  ASSERT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(Get(filter.Get(), "chrominanceoffset"), "0");
  EXPECT_EQ(Get(filter.Get(), "invert"), "0");

  EXPECT_EQ(frame->TypeText(IDC_COLOUR_OFFSET, "-5"), E_INVALIDARG);  // digits only
  ASSERT_EQ(frame->TypeText(IDC_COLOUR_OFFSET, "32760"), S_OK);
  ASSERT_EQ(frame->PressArrow(IDC_COLOUR_OFFSET_SPIN, 20), S_OK);  // stops at the top of the range
  ASSERT_EQ(frame->Click(IDC_COLOUR_INVERT), S_OK);
  ASSERT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(Get(filter.Get(), "chrominanceoffset"), "32767");
  EXPECT_EQ(Get(filter.Get(), "invert"), "1");
  frame->Close();
}

INSTANTIATE_TEST_SUITE_P(Both, ColourModule, testing::ValuesIn(kModules),
                         [](const testing::TestParamInfo<Module>& info) {
                           return std::string(info.index == 0 ? "RgbToI420" : "I420ToRgb");
                         });

}  // namespace

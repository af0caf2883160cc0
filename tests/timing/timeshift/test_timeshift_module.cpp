// TimeShiftFilter.so as a host sees it: what registration records, and the property page opened on
// the filter in the host's property frame and driven as a user would.
#include <gtest/gtest.h>

#include <memory>

#include "platform/ui/propframe.h"
#include "tests/timing/support_timing.h"
#include "timing/timeshift/timeshift.h"

using namespace timingtest;

TEST(TimeShiftModule, RegistrationRecordsNameMeritAndNoPins) {
  ExpectRegisteredWithoutPins(CLSID_TimeShiftFilter, CLSID_SkewingProperties, L"Ravik Plenor Skewing Filter",
                              "Skewing Properties");
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
  // The value is in 100 ns units (the label used to read "1/100000 s").
  EXPECT_EQ(Text(dialog, IDC_SKEW_UNIT), "x 100 ns");
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

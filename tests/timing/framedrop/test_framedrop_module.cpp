// FrameDropFilter.so as a host sees it: what registration records, and the property page opened on
// the filter in the host's property frame and driven as a user would.
#include <gtest/gtest.h>

#include <memory>

#include "platform/ui/propframe.h"
#include "tests/timing/support_timing.h"
#include "timing/framedrop/framedrop.h"

using namespace timingtest;

TEST(FrameDropModule, RegistrationRecordsNameMeritAndNoPins) {
  ExpectRegisteredWithoutPins(CLSID_FrameDropFilter, CLSID_FrameSkippingProperties,
                              L"Ravik Plenor Frame Skipping Filter", "Frame Skipping Properties");
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


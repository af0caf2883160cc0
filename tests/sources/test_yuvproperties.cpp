// The raw YUV source's property page in the host's property frame, driven as a user drives it.
#include <gtest/gtest.h>

#include <memory>

#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"
#include "platform/ui/propframe.h"
#include "sources/rawframe/yuvproperties.h"
#include "tests/sources/rawframe_support.h"

using namespace rawtest;

namespace {

class YuvPage : public testing::Test {
 protected:
  void Open() {
    ASSERT_EQ(PropertyFrame::Open(filter.Get(), &frame), S_OK);
    dialog = frame->ActiveDialog();
    ASSERT_TRUE(dialog);
  }
  void TearDown() override {
    if (frame) frame->Close();
  }
  std::string SelectedSize() {
    LRESULT item = SendDlgItemMessage(dialog, IDC_YUV_SOURCEDIMENSIONS, CB_GETCURSEL, 0, 0);
    if (item == CB_ERR) return "<none>";
    char text[64] = "";
    SendDlgItemMessage(dialog, IDC_YUV_SOURCEDIMENSIONS, CB_GETLBTEXT, static_cast<WPARAM>(item),
                       reinterpret_cast<LPARAM>(text));
    return text;
  }
  std::string FpsText() {
    char text[64] = "";
    GetDlgItemText(dialog, IDC_YUV_FPS, text, sizeof text);
    return text;
  }

  TempDir dir;
  ComPtr<IBaseFilter> filter = CreateRawFrameSource();
  std::unique_ptr<PropertyFrame> frame;
  HWND dialog = nullptr;
};

TEST_F(YuvPage, ShowsTheFilterValuesWithTheListAndSpinRange) {
  ASSERT_TRUE(filter);
  WriteYuvFile(dir.File("walk_320x240_444.yuv"), 320 * 240 * 4, 1);
  ASSERT_EQ(LoadFile(filter.Get(), dir.File("walk_320x240_444.yuv")), S_OK);
  ASSERT_EQ(SetParam(filter.Get(), "fps", "25"), S_OK);
  Open();

  EXPECT_EQ(frame->PageTitle(0), "Ravik YUV Source Filter Properties");
  const char* items[] = {"Select", "176x144", "320x240", "352x288", "704x576"};
  ASSERT_EQ(SendDlgItemMessage(dialog, IDC_YUV_SOURCEDIMENSIONS, CB_GETCOUNT, 0, 0), 5);
  for (int i = 0; i < 5; ++i) {
    char text[64] = "";
    SendDlgItemMessage(dialog, IDC_YUV_SOURCEDIMENSIONS, CB_GETLBTEXT, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, items[i]);
  }
  EXPECT_EQ(SendDlgItemMessage(dialog, IDC_YUV_SOURCEDIMENSIONS, CB_GETMINVISIBLE, 0, 0), 5);
  EXPECT_EQ(SelectedSize(), "320x240");
  EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_YUV_FORMAT420), BST_UNCHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_YUV_FORMAT444), BST_CHECKED);
  EXPECT_EQ(FpsText(), "25");
  int lower = 0, upper = 0;
  SendDlgItemMessage(dialog, IDC_YUV_FPS_SPIN, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lower),
                     reinterpret_cast<LPARAM>(&upper));
  EXPECT_EQ(lower, 1);
  EXPECT_EQ(upper, 60);
}

TEST_F(YuvPage, ApplyWritesFormatSizeAndClampedFps) {
  ASSERT_TRUE(filter);
  Open();
  EXPECT_EQ(SelectedSize(), "352x288");
  ASSERT_EQ(frame->SelectItem(IDC_YUV_SOURCEDIMENSIONS, "704x576"), S_OK);
  ASSERT_EQ(frame->Click(IDC_YUV_FORMAT444), S_OK);
  // The spin control keeps the typed rate inside 1 ... 60.
  ASSERT_EQ(frame->TypeText(IDC_YUV_FPS, "75"), S_OK);
  EXPECT_EQ(FpsText(), "60");
  ASSERT_EQ(frame->Apply(), S_OK);

  EXPECT_EQ(GetParam(filter.Get(), "yuv_format"), "1");
  EXPECT_EQ(GetParam(filter.Get(), "sourcedimensions"), "704x576");
  EXPECT_EQ(GetParam(filter.Get(), "fps"), "60");
  CMediaType mt = OfferedType(filter.Get());
  EXPECT_EQ(mt.subtype, MEDIASUBTYPE_AYUV);
  EXPECT_EQ(Vih(mt).bmiHeader.biWidth, 704);
  EXPECT_EQ(Vih(mt).bmiHeader.biSizeImage, 704u * 576u * 4u);
  EXPECT_EQ(Vih(mt).AvgTimePerFrame, 166666);
}

TEST_F(YuvPage, ApplyingSelectFailsAfterTheFormatIsWritten) {
  ASSERT_TRUE(filter);
  // A size the list does not hold leaves "Select" selected.
  WriteYuvFile(dir.File("clip_1280x720.yuv"), 1280 * 720 * 3 / 2, 1);
  ASSERT_EQ(LoadFile(filter.Get(), dir.File("clip_1280x720.yuv")), S_OK);
  Open();
  EXPECT_EQ(SelectedSize(), "Select");
  ASSERT_EQ(frame->Click(IDC_YUV_FORMAT444), S_OK);
  ASSERT_EQ(frame->TypeText(IDC_YUV_FPS, "10"), S_OK);

  EXPECT_EQ(frame->Apply(), E_FAIL);
  EXPECT_EQ(GetParam(filter.Get(), "yuv_format"), "1");
  EXPECT_EQ(GetParam(filter.Get(), "sourcedimensions"), "1280x720");
  EXPECT_EQ(GetParam(filter.Get(), "fps"), "30");
  EXPECT_EQ(frame->IsDirty(), S_OK);
}

}  // namespace

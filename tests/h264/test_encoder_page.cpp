// H264EncoderProperties opened on an encoder (stand-in codec) in the host's property frame and
// driven as a user would: what it shows, what Apply writes and in which order, and the values it
// must leave alone.
#include <gtest/gtest.h>

#include "h264/encoder/avcencode.h"
#include "h264/encoder/encoderprops.h"
#include "platform/ui/propframe.h"
#include "tests/h264/support_h264.h"

using namespace h264test;
using plenor::test::MakeObject;

namespace {

struct PageSession {
  PageSession() : codec(std::make_unique<FakeCodec>()) {
    Next(codec.get());
    filter = MakeObject<AvcEncodeFilter>(FakeProvider());
    for (const char* name : {"max bits per frame", "num rate control frames", "max distortion",
                             "ipicture dmax multiplier", "ipicture dmax fraction", "minimum intra qp",
                             "minimum inter qp", "rate overshoot percent", "ipicturemultiplier"})
      EXPECT_TRUE(codec->params.count(name)) << name;
  }
  std::unique_ptr<PropertyFrame> Open() {
    std::vector<ComPtr<IPropertyPage>> pages;
    pages.push_back(ComPtr<IPropertyPage>(new H264EncoderProperties(nullptr)));
    std::unique_ptr<PropertyFrame> frame;
    EXPECT_EQ(PropertyFrame::OpenPages(static_cast<IBaseFilter*>(filter.Get()), pages, &frame), S_OK);
    codec->log.clear();
    return frame;
  }
  // The "set NAME=VALUE" entries of the log, names only.
  std::vector<std::string> Written() const {
    std::vector<std::string> names;
    for (const std::string& e : codec->log)
      if (e.rfind("set ", 0) == 0) names.push_back(e.substr(4, e.find('=') - 4));
    return names;
  }
  std::unique_ptr<FakeCodec> codec;
  ComPtr<AvcEncodeFilter> filter;
};

TEST(H264EncoderProperties, ShowsEveryValueWithItsRange) {
  PageSession s;
  s.codec->params["mode of operation"] = "2";
  s.codec->params["quality"] = "28";
  ASSERT_EQ(s.filter->SetParameter("notifyoniframe", "1"), S_OK);
  ASSERT_EQ(s.filter->SetParameter("h264_output_type", "1"), S_OK);
  std::unique_ptr<PropertyFrame> frame = s.Open();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->PageTitle(0), "Ravik H264 Encoder Properties");
  const std::string page = frame->Describe();
  for (const char* expected :
       {"\"Quality:\" = \"28\"", "up-down 1005 buddy 1004 range 0..51", "up-down 1003 buddy 1002 range 0..65535",
        "up-down 1013 buddy 1012 range 0..9999", "up-down 1025 buddy 1024 range 0..1000",
        "up-down 1017 buddy 1016 range 0..9", "check 1026 \"Notify on I-frame\" [x]", "\"MEDIASUBTYPE_H264\" (o)",
        "\"max bits per frame:\" = \"1000000\"", "\"minimum intra qp:\" = \"16\""})
    EXPECT_NE(page.find(expected), std::string::npos) << expected << "\n" << page;
  EXPECT_EQ(SendDlgItemMessage(frame->ActiveDialog(), IDC_H264_MODE, CB_GETCURSEL, 0, 0), 2);
  frame->Close();
}

TEST(H264EncoderProperties, ApplyWritesInOrderAndSkipsTheMultiplier) {
  PageSession s;
  std::unique_ptr<PropertyFrame> frame = s.Open();
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->SelectItem(IDC_H264_MODE, "1"), S_OK);
  ASSERT_EQ(frame->TypeText(IDC_H264_QUALITY, "33"), S_OK);
  ASSERT_EQ(frame->TypeText(IDC_H264_IPICMULT, "7"), S_OK);
  ASSERT_EQ(frame->TypeText(IDC_H264_FRAMEBITLIMIT, "4000"), S_OK);
  ASSERT_EQ(frame->Click(IDC_H264_NOTIFY), S_OK);
  ASSERT_EQ(frame->Click(IDC_H264_TYPE_PLENOR), S_OK);
  ASSERT_EQ(frame->Apply(), S_OK);
  // The filter's own parameters do not reach the codec; the codec's arrive in page order.
  EXPECT_EQ(s.Written(), (std::vector<std::string>{"mode of operation", "quality", "usems264", "max bits per frame",
                                                    "num rate control frames", "max distortion",
                                                    "ipicture dmax multiplier", "ipicture dmax fraction",
                                                    "minimum intra qp", "minimum inter qp", "rate overshoot percent"}));
  EXPECT_EQ(s.codec->params["quality"], "33");
  EXPECT_EQ(s.codec->params["mode of operation"], "1");
  EXPECT_EQ(s.codec->params["ipicturemultiplier"], "1");
  EXPECT_EQ(Param(s.filter.Get(), "framebitlimit"), "4000");
  EXPECT_EQ(Param(s.filter.Get(), "notifyoniframe"), "1");
  EXPECT_EQ(Param(s.filter.Get(), "h264_output_type"), "0");
  frame->Close();
}

TEST(H264EncoderProperties, UnknownModeAndOutputTypeAreLeftAlone) {
  PageSession s;
  s.codec->params["mode of operation"] = "7";
  ASSERT_EQ(s.filter->SetParameter("h264_output_type", "3"), S_OK);
  std::unique_ptr<PropertyFrame> frame = s.Open();
  ASSERT_TRUE(frame);
  EXPECT_EQ(SendDlgItemMessage(frame->ActiveDialog(), IDC_H264_MODE, CB_GETCURSEL, 0, 0), 0);
  const std::string page = frame->Describe();
  EXPECT_EQ(page.find("(o)"), std::string::npos) << page;
  ASSERT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(Param(s.filter.Get(), "h264_output_type"), "3");
  EXPECT_EQ(s.codec->params["mode of operation"], "0");
  frame->Close();
}

TEST(H264EncoderProperties, FirstFailingWriteEndsTheApply) {
  PageSession s;
  s.codec->refusedNames = {"max distortion"};
  std::unique_ptr<PropertyFrame> frame = s.Open();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->Apply(), E_FAIL);
  const std::vector<std::string> written = s.Written();
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written.back(), "max distortion");
  frame->Close();
}

}  // namespace

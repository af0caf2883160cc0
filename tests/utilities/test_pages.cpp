// The utility filters' property pages, driven through the host's property frame: every filter
// with parameters has its page, the page shows the parameters' values and writes what the user
// changed back when applied.
#include <gtest/gtest.h>

#include <memory>

#include "platform/ui/propframe.h"
#include "support_utilities.h"
#include "utilities/pages.h"

using namespace utiltest;
using plenor::utilities::FieldControlId;
using plenor::utilities::FieldSpinId;

namespace {

std::unique_ptr<PropertyFrame> OpenFrame(IBaseFilter* filter) {
  std::unique_ptr<PropertyFrame> frame;
  EXPECT_EQ(PropertyFrame::Open(filter, &frame), S_OK);
  return frame;
}

TEST(UtilityPages, EveryFilterHasItsTitledPage) {
  const std::pair<CLSID, const char*> pages[] = {
      {CLSID_TestPatternSource, "Plenor Test Pattern Source Properties"},
      {CLSID_WavSource, "Plenor WAV Source Properties"},
      {CLSID_NullRenderer, "Plenor Null Renderer Properties"},
      {CLSID_SampleGrabber, "Plenor Sample Grabber Properties"},
      {CLSID_FileWriter, "Plenor File Writer Properties"},
      {CLSID_ImageWriter, "Plenor Image Writer Properties"},
      {CLSID_WavWriter, "Plenor WAV Writer Properties"},
      {CLSID_Queue, "Plenor Queue Properties"},
  };
  for (const auto& [clsid, title] : pages) {
    SCOPED_TRACE(title);
    ComPtr<IBaseFilter> filter = CreateFilter(clsid);
    std::unique_ptr<PropertyFrame> frame = OpenFrame(filter.Get());
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->PageCount(), 1u);
    EXPECT_EQ(frame->PageTitle(0), title);
    frame->Close();
  }
}

TEST(UtilityPages, TestPatternPageShowsAndWritesEveryKindOfField) {
  ComPtr<IBaseFilter> source = CreateFilter(CLSID_TestPatternSource);
  std::unique_ptr<PropertyFrame> frame = OpenFrame(source.Get());
  ASSERT_TRUE(frame);
  const std::string shown = frame->Describe();
  for (const char* text : {"Width:", "320", "Frame rate:", "0080FF", "RGB24", "bars", "440.00"})
    EXPECT_NE(shown.find(text), std::string::npos) << text << "\n" << shown;

  ASSERT_EQ(frame->SelectItem(FieldControlId(0), "I420"), S_OK);   // format
  ASSERT_EQ(frame->TypeText(FieldControlId(1), "64"), S_OK);       // width
  ASSERT_EQ(frame->PressArrow(FieldSpinId(2), 2), S_OK);        // height 240 -> 242
  ASSERT_EQ(frame->TypeText(FieldControlId(3), "30000/1001"), S_OK);
  ASSERT_EQ(frame->SelectItem(FieldControlId(5), "noise"), S_OK);
  ASSERT_EQ(frame->SelectItem(FieldControlId(9), "1"), S_OK);      // channels
  ASSERT_EQ(frame->TypeText(FieldControlId(11), "1000"), S_OK);    // left tone
  ASSERT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(Get(source.Get(), "format"), "I420");
  EXPECT_EQ(Get(source.Get(), "width"), "64");
  EXPECT_EQ(Get(source.Get(), "height"), "242");
  EXPECT_EQ(Get(source.Get(), "framerate"), "30000/1001");
  EXPECT_EQ(Get(source.Get(), "pattern"), "noise");
  EXPECT_EQ(Get(source.Get(), "channels"), "1");
  EXPECT_EQ(Get(source.Get(), "tone_left"), "1000.00");

  // A value the filter refuses fails the apply; the other fields are still written.
  ASSERT_EQ(frame->TypeText(FieldControlId(3), "fast"), S_OK);
  ASSERT_EQ(frame->TypeText(FieldControlId(6), "102030"), S_OK);
  EXPECT_EQ(frame->Apply(), E_FAIL);
  EXPECT_EQ(Get(source.Get(), "framerate"), "30000/1001");
  EXPECT_EQ(Get(source.Get(), "colour"), "102030");
  frame->Close();
}

TEST(UtilityPages, CheckBoxAndFileNameFields) {
  ComPtr<IBaseFilter> renderer = CreateFilter(CLSID_NullRenderer);
  std::unique_ptr<PropertyFrame> frame = OpenFrame(renderer.Get());
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->SetCheck(FieldControlId(0), true), S_OK);
  ASSERT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(Get(renderer.Get(), "sync"), "1");
  frame->Close();

  ComPtr<IBaseFilter> writer = CreateFilter(CLSID_ImageWriter);
  frame = OpenFrame(writer.Get());
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->TypeText(FieldControlId(0), "/tmp/pic_%04d.png"), S_OK);
  ASSERT_EQ(frame->TypeText(FieldControlId(1), "5"), S_OK);
  ASSERT_EQ(frame->TypeText(FieldControlId(2), "1-4"), S_OK);
  ASSERT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(Get(writer.Get(), "filename"), "/tmp/pic_%04d.png");
  EXPECT_EQ(Get(writer.Get(), "every"), "5");
  EXPECT_EQ(Get(writer.Get(), "frames"), "1-4");
  frame->Close();

  ComPtr<IBaseFilter> queue = CreateFilter(CLSID_Queue);
  frame = OpenFrame(queue.Get());
  ASSERT_TRUE(frame);
  EXPECT_NE(frame->Describe().find("\"3\""), std::string::npos) << frame->Describe();
  ASSERT_EQ(frame->PressArrow(FieldSpinId(0), 2), S_OK);
  ASSERT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(Get(queue.Get(), "max_samples"), "5");
  frame->Close();
}

}  // namespace

// The two overlay filters' property pages opened in the host's property frame and driven as a
// user would: what they show, which mode values they accept, and what applying writes back.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "overlay/overlaykit/overlaykit.h"
#include "overlay/rateoverlay/rateoverlay.h"
#include "platform/ui/propframe.h"
#include "support_overlay.h"

using namespace overlaytest;

namespace {

struct PageCase {
  const char* filter;
  const CLSID* clsid;
  const char* title;
  const char* x;  // the offset parameters' names differ in case between the two filters
  const char* y;
  std::vector<const char*> modes;  // the list's entries in order
  int firstUnknownMode;
};

const PageCase kPages[] = {
    {"OverlayKitFilter", &CLSID_OverlayKitFilter, "Ravik Utility Filter Properties", "x", "y",
     {"FPS Timestamp (TS)", "FPS Timestamp (ST)", "Time", "DateTime", "FPS TS + DateTime", "FPS ST + DateTime",
      "Measure bitrate", "Detect upstream source", "None"},
     9},
    {"RateOverlayFilter", &CLSID_RateOverlayFilter, "Vintar Framerate Estimator Filter Properties", "X", "Y",
     {"FPS Timestamp (TS)", "FPS Timestamp (ST)"},
     2},
};

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Opened {
  explicit Opened(const PageCase& c) : filter(CreateFilter(*c.clsid)) {}
  bool Open() { return filter && PropertyFrame::Open(filter.Get(), &frame) == S_OK && frame->ActiveDialog(); }
  HWND Dialog() const { return frame->ActiveDialog(); }
  LRESULT Send(int id, UINT message) const { return SendDlgItemMessage(Dialog(), id, message, 0, 0); }
  ComPtr<IBaseFilter> filter;
  std::unique_ptr<PropertyFrame> frame;
};

}  // namespace

TEST(OverlayPages, ShowTheParametersTheEntriesAndTheRanges) {
  for (const PageCase& c : kPages) {
    SCOPED_TRACE(c.filter);
    Opened o(c);
    const int last = static_cast<int>(c.modes.size()) - 1;
    ASSERT_EQ(SetParam(o.filter.Get(), "mode", std::to_string(last)), S_OK);
    ASSERT_EQ(SetParam(o.filter.Get(), c.x, "12"), S_OK);
    ASSERT_EQ(SetParam(o.filter.Get(), c.y, "345"), S_OK);
    ASSERT_TRUE(o.Open());
    ASSERT_EQ(o.frame->PageCount(), 1u);
    EXPECT_EQ(o.frame->PageTitle(0), c.title);

    std::string items;
    for (size_t i = 0; i < c.modes.size(); ++i)
      items += (i ? ", [" : "[") + std::to_string(i) + "] \"" + c.modes[i] + "\"";
    const std::string page = o.frame->Describe();
    for (const std::string& expected :
         {"list 1001 \"Mode:\" = \"" + std::string(c.modes.back()) + "\" items: " + items,
          std::string("edit 1002 \"Offset X:\" = \"12\""), std::string("edit 1004 \"Offset Y:\" = \"345\""),
          std::string("up-down 1003 buddy 1002 range 0..32767"), std::string("up-down 1005 buddy 1004 range 0..32767")})
      EXPECT_TRUE(Contains(page, expected)) << expected << "\n" << page;
    EXPECT_EQ(o.Send(1001, CB_GETCOUNT), static_cast<LRESULT>(c.modes.size()));
    EXPECT_EQ(o.Send(1001, CB_GETCURSEL), last);
    EXPECT_EQ(o.Send(1001, CB_GETMINVISIBLE), static_cast<LRESULT>(c.modes.size()));
    o.frame->Close();
  }
}

TEST(OverlayPages, ModeValuesWithoutAnEntryLeaveTheFirstSelected) {
  for (const PageCase& c : kPages) {
    for (const std::string& mode : {std::to_string(c.firstUnknownMode), std::string("4294967295")}) {
      SCOPED_TRACE(std::string(c.filter) + " mode " + mode);
      Opened o(c);
      ASSERT_EQ(SetParam(o.filter.Get(), "mode", mode), S_OK);
      ASSERT_TRUE(o.Open());
      EXPECT_EQ(o.Send(1001, CB_GETCURSEL), 0);
      EXPECT_EQ(o.Send(1001, CB_GETCOUNT), static_cast<LRESULT>(c.modes.size()));
      // Applying unchanged writes the selected entry, not the unknown value.
      EXPECT_EQ(o.frame->Apply(), S_OK);
      EXPECT_EQ(GetParam(o.filter.Get(), "mode"), "0");
      o.frame->Close();
    }
  }
}

TEST(OverlayPages, ApplyWritesTheModeAndBothOffsets) {
  for (const PageCase& c : kPages) {
    SCOPED_TRACE(c.filter);
    Opened o(c);
    ASSERT_TRUE(o.Open());
    ASSERT_EQ(o.frame->SelectItem(1001, c.modes.back()), S_OK);
    ASSERT_EQ(o.frame->TypeText(1002, "40"), S_OK);
    ASSERT_EQ(o.frame->TypeText(1004, "7"), S_OK);
    ASSERT_EQ(o.frame->PressArrow(1005, 3), S_OK);
    EXPECT_EQ(o.frame->IsDirty(), S_OK);
    EXPECT_EQ(o.frame->Apply(), S_OK);
    EXPECT_EQ(o.frame->IsDirty(), S_FALSE);
    EXPECT_EQ(GetParam(o.filter.Get(), "mode"), std::to_string(c.modes.size() - 1));
    EXPECT_EQ(GetParam(o.filter.Get(), c.x), "40");
    EXPECT_EQ(GetParam(o.filter.Get(), c.y), "10");

    // The up-down control stops at its range; the page reopened shows what was written.
    ASSERT_EQ(o.frame->TypeText(1002, "32766"), S_OK);
    ASSERT_EQ(o.frame->PressArrow(1003, 5), S_OK);
    EXPECT_EQ(o.frame->Apply(), S_OK);
    EXPECT_EQ(GetParam(o.filter.Get(), c.x), "32767");
    o.frame->Close();

    ASSERT_TRUE(o.Open());
    EXPECT_TRUE(Contains(o.frame->Describe(), "edit 1002 \"Offset X:\" = \"32767\""));
    EXPECT_EQ(o.Send(1001, CB_GETCURSEL), static_cast<LRESULT>(c.modes.size() - 1));
    o.frame->Close();
  }
}

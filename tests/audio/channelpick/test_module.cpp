// The module ChannelPickFilter.so as a host sees it: what registration records, the filter
// created through the runtime, and its property page driven through the host's property frame.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/com/runtime.h"
#include "platform/graph/mapper.h"
#include "platform/strmbase/dllentry.h"
#include "platform/ui/propframe.h"
#include "support_audio.h"
#include "tests/support/modules.h"

using namespace audiotest;

namespace {

std::string ModulePath() {
  const char* dir = std::getenv("PLENOR_PLUGIN_DIR");
  return std::string(dir ? dir : PLENOR_AUDIO_PLUGIN_DIR) + "/ChannelPickFilter.so";
}

class ChannelPickModule : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    plenor::test::RegisterModuleFile(ModulePath());
  }
  void SetUp() override {
    ASSERT_EQ(CoCreateInstance(CLSID_ChannelPickFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               filter.AsOut()),
              S_OK)
        << CoGetLastLoadError();
  }
  void TearDown() override { filter = nullptr; }

  ComPtr<IBaseFilter> filter;
};

TEST_F(ChannelPickModule, RegistersTheFilterWithTwoUnnamedPcmPins) {
  RegisteredFilter entry;
  ASSERT_EQ(MapperGetFilter(CLSID_ChannelPickFilter, &entry), S_OK);
  EXPECT_EQ(entry.name, L"Ravik Plenor Stereo2Mono Filter");
  EXPECT_EQ(entry.merit, 0x200000u);
  ASSERT_EQ(entry.pins.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const RegisteredPin& pin = entry.pins[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(pin.name, L"");
    EXPECT_EQ(pin.output, i == 1);
    EXPECT_FALSE(pin.rendered);
    EXPECT_FALSE(pin.zero);
    EXPECT_FALSE(pin.many);
    ASSERT_EQ(pin.mediaTypes.size(), 1u);
    EXPECT_EQ(pin.mediaTypes[0].majorType, MEDIATYPE_Audio);
    EXPECT_EQ(pin.mediaTypes[0].subType, MEDIASUBTYPE_PCM);
  }
  // The page is creatable through the runtime, but is not a filter of the mapper.
  ComPtr<IPropertyPage> page;
  EXPECT_EQ(CoCreateInstance(CLSID_Stereo2MonoProperties, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                             page.AsOut()),
            S_OK);
  RegisteredFilter none;
  EXPECT_EQ(MapperGetFilter(CLSID_Stereo2MonoProperties, &none), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(ChannelPickModule, PageShowsTheChannelAndAppliesTypedValues) {
  ASSERT_EQ(SetChannel(filter.Get(), "1"), S_OK);
  std::unique_ptr<PropertyFrame> frame;
  ASSERT_EQ(PropertyFrame::Open(filter.Get(), &frame), S_OK);
  ASSERT_EQ(frame->PageCount(), 1u);
  EXPECT_EQ(frame->PageTitle(0), "Ravik STEREO2MONO Properties");
  const std::string page = frame->Describe();
  EXPECT_NE(page.find("static - \"Channel:\""), std::string::npos) << page;
  EXPECT_NE(page.find("edit 1001 \"Channel:\" = \"1\""), std::string::npos) << page;
  EXPECT_EQ(page.find("(digits)"), std::string::npos) << page;
  EXPECT_NE(page.find("up-down 1002 buddy 1001 range 0..32767"), std::string::npos) << page;

  ASSERT_EQ(frame->TypeText(1001, "0"), S_OK);
  ASSERT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(GetChannel(filter.Get()), "0");
  ASSERT_EQ(frame->TypeText(1001, "1"), S_OK);
  ASSERT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(GetChannel(filter.Get()), "1");

  // The arrows stay inside 0 ... 32767 and write the buddy.
  ASSERT_EQ(frame->PressArrow(1002, -3), S_OK);
  ASSERT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(GetChannel(filter.Get()), "0");
  frame->Close();
}

}  // namespace

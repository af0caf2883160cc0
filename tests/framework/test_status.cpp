// The status object: version text, status and last-error texts with their limits, and
// notifications to the event sink.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/status.h"
#include "platform/strmbase/combase.h"

namespace {

class Status : public CUnknown, public CStatusInterface {
 public:
  Status() : CUnknown(L"Status", nullptr), CStatusInterface(GetOwner()) {}
};

struct Sink : IMediaEventSink {
  struct Event {
    LONG code;
    LONG_PTR p1, p2;
  };
  std::vector<Event> events;
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Notify(LONG code, LONG_PTR p1, LONG_PTR p2) override {
    events.push_back({code, p1, p2});
    return S_OK;
  }
};

struct StatusTest : testing::Test {
  ComPtr<IStatusInterface> s{static_cast<IStatusInterface*>(new Status)};
  Sink sink;
};

TEST_F(StatusTest, VersionNeedsSixBytes) {
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(s->GetVersion(buf, 5), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(static_cast<DWORD>(s->GetVersion(buf, 5)), 0x8007007Au);
  EXPECT_EQ(buf[0], 'x');
  EXPECT_EQ(s->GetVersion(buf, 6), S_OK);
  EXPECT_STREQ(buf, "1.6.4");
}

TEST_F(StatusTest, FreshObjectHasEmptyTextsAndIdMinusOne) {
  int id = 0;
  EXPECT_EQ(s->GetNotificationId(&id), S_OK);
  EXPECT_EQ(id, -1);
  char buf[4] = "abc";
  EXPECT_EQ(s->GetLastErrorText(buf, 1), S_OK);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(s->GetStatusText(buf, 0), E_FAIL);
}

TEST_F(StatusTest, StatusTextLimitIs512AndOnlyAcceptedTextsNotify) {
  s->SetEventSink(&sink);
  s->SetNotificationId(-7);
  const std::string ok(512, 'a'), tooLong(513, 'b');
  EXPECT_EQ(s->SetStatusText(ok.c_str()), S_OK);
  ASSERT_EQ(sink.events.size(), 1u);
  EXPECT_EQ(sink.events[0].code, 0x800E);
  EXPECT_EQ(sink.events[0].p1, -7);  // sign-extended
  EXPECT_EQ(sink.events[0].p2, -7);

  EXPECT_EQ(s->SetStatusText(tooLong.c_str()), E_FAIL);
  EXPECT_EQ(sink.events.size(), 1u);
  std::vector<char> buf(600);
  EXPECT_EQ(s->GetStatusText(buf.data(), 512), E_FAIL);  // distinct code from the other two texts
  EXPECT_EQ(s->GetStatusText(buf.data(), 513), S_OK);
  EXPECT_EQ(std::string(buf.data()), ok);
}

TEST_F(StatusTest, LastErrorNotifiesOnlyWhenAskedAndWhenASinkIsSet) {
  EXPECT_EQ(s->SetLastErrorText("no sink", true), S_OK);  // stored even without a sink
  s->SetEventSink(&sink);
  s->SetNotificationId(3);
  EXPECT_EQ(s->SetLastErrorText("quiet", false), S_OK);
  EXPECT_TRUE(sink.events.empty());
  const std::string longText(2000, 'e');  // no limit on the error text
  EXPECT_EQ(s->SetLastErrorText(longText.c_str(), true), S_OK);
  ASSERT_EQ(sink.events.size(), 1u);
  EXPECT_EQ(sink.events[0].code, 0x800D);
  EXPECT_EQ(sink.events[0].p1, 3);

  std::vector<char> buf(2001, 'x');
  EXPECT_EQ(s->GetLastErrorText(buf.data(), 2000), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(buf[0], 'x');
  EXPECT_EQ(s->GetLastErrorText(buf.data(), 2001), S_OK);
  EXPECT_EQ(std::string(buf.data()), longText);

  s->SetEventSink(nullptr);
  EXPECT_EQ(s->SetStatusText("off"), S_OK);
  EXPECT_EQ(sink.events.size(), 1u);
}

}  // namespace

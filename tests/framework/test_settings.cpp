// The settings object: text formats, parsing, allowed values, read-only, revert, the listing and
// the buffer rules.
#include <gtest/gtest.h>

#include <string>

#include "framework/settings.h"
#include "platform/strmbase/combase.h"

namespace {

class Params : public CUnknown, public CSettingsInterface {
 public:
  Params() : CUnknown(L"Params", nullptr), CSettingsInterface(GetOwner()) { InitParameters(); }

  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_ISettingsInterface) return GetInterface(static_cast<ISettingsInterface*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }

  void InitParameters() override {
    AddParameter("width", &m_nWidth, 640);
    AddParameter("count", &m_uCount, 7u);
    AddParameter("invert", &m_bInvert, false);
    AddParameter("gain", &m_dGain, 1.0);
    AddParameter("label", &m_sLabel, std::string("abc"));
    AddParameter("mode", &m_nMode, 0, false, {0, 1, 2});
    AddParameter("fixed", &m_nFixed, 5, true);
  }

  // Lets a test register more parameters after construction.
  template <class... A>
  void Add(A&&... a) {
    AddParameter(std::forward<A>(a)...);
  }

  int m_nWidth = -1;
  unsigned int m_uCount = 0;
  bool m_bInvert = true;
  double m_dGain = 0;
  std::string m_sLabel;
  int m_nMode = -1;
  int m_nFixed = 0;
};

class Empty : public CUnknown, public CSettingsInterface {
 public:
  Empty() : CUnknown(L"Empty", nullptr), CSettingsInterface(GetOwner()) {}
  void InitParameters() override {}
};

std::string Get(ISettingsInterface* s, const char* name) {
  char buf[256] = "untouched";
  int len = -1;
  HRESULT hr = s->GetParameter(name, sizeof buf, buf, &len);
  if (FAILED(hr)) return "<failed>";
  EXPECT_EQ(static_cast<int>(std::string(buf).size()), len);
  return buf;
}

struct SettingsTest : testing::Test {
  Params* p = new Params;
  ComPtr<ISettingsInterface> s{static_cast<ISettingsInterface*>(p)};
};

TEST_F(SettingsTest, DefaultsAreAssignedAndFormattedPerType) {
  EXPECT_EQ(p->m_nWidth, 640);
  EXPECT_EQ(Get(s.Get(), "width"), "640");
  EXPECT_EQ(Get(s.Get(), "count"), "7");
  EXPECT_EQ(Get(s.Get(), "invert"), "0");
  EXPECT_EQ(Get(s.Get(), "gain"), "1.00");
  EXPECT_EQ(Get(s.Get(), "label"), "abc");
  EXPECT_EQ(Get(s.Get(), "nothere"), "<failed>");
  // Names are case-sensitive.
  EXPECT_EQ(Get(s.Get(), "Width"), "<failed>");
}

TEST_F(SettingsTest, GetParameterNeedsRoomForTheTerminator) {
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  int len = -1;
  EXPECT_EQ(s->GetParameter("width", 3, buf, &len), E_OUTOFMEMORY);
  EXPECT_EQ(buf[0], 'x');
  EXPECT_EQ(len, -1);
  EXPECT_EQ(s->GetParameter("width", 0, buf, &len), E_OUTOFMEMORY);
  EXPECT_EQ(s->GetParameter("width", -4, buf, &len), E_OUTOFMEMORY);
  EXPECT_EQ(s->GetParameter("width", 4, buf, &len), S_OK);
  EXPECT_STREQ(buf, "640");
  EXPECT_EQ(len, 3);
}

TEST_F(SettingsTest, IntegersParseLikeAtoiAndUnsignedLikeStreamExtraction) {
  EXPECT_EQ(s->SetParameter("width", "12abc"), S_OK);
  EXPECT_EQ(p->m_nWidth, 12);
  EXPECT_EQ(s->SetParameter("width", "abc"), S_OK);
  EXPECT_EQ(p->m_nWidth, 0);
  EXPECT_EQ(s->SetParameter("width", "  -35x"), S_OK);
  EXPECT_EQ(Get(s.Get(), "width"), "-35");

  EXPECT_EQ(s->SetParameter("count", " 4000000000 "), S_OK);
  EXPECT_EQ(Get(s.Get(), "count"), "4000000000");
  EXPECT_EQ(s->SetParameter("count", "x9"), S_OK);
  EXPECT_EQ(p->m_uCount, 0u);
  EXPECT_EQ(s->SetParameter("count", "42px"), S_OK);
  EXPECT_EQ(p->m_uCount, 42u);
}

TEST_F(SettingsTest, IntegerTextOutsideTheTypeClampsToItsRange) {
  // Out-of-range text used to wrap ("2147483648" read -2147483648, "99999999999" 1215752191).
  struct Case {
    const char* name;
    const char* text;
    const char* reads;
  };
  for (const Case& c : {Case{"width", "2147483647", "2147483647"}, Case{"width", "2147483648", "2147483647"},
                        Case{"width", "99999999999", "2147483647"}, Case{"width", "-2147483648", "-2147483648"},
                        Case{"width", "-2147483649", "-2147483648"},
                        Case{"width", "-99999999999999999999999", "-2147483648"},
                        Case{"count", "4294967295", "4294967295"}, Case{"count", "4294967296", "4294967295"},
                        Case{"count", "99999999999999999999999", "4294967295"}, Case{"count", "-1", "0"},
                        Case{"count", " +17z", "17"}}) {
    EXPECT_EQ(s->SetParameter(c.name, c.text), S_OK) << c.text;
    EXPECT_EQ(Get(s.Get(), c.name), c.reads) << c.name << " = " << c.text;
  }
}

TEST_F(SettingsTest, RealNumbersReadBackWithTwoDecimals) {
  EXPECT_EQ(s->SetParameter("gain", "2.5"), S_OK);
  EXPECT_EQ(Get(s.Get(), "gain"), "2.50");
  EXPECT_EQ(s->SetParameter("gain", "25"), S_OK);
  EXPECT_EQ(Get(s.Get(), "gain"), "25.00");
  EXPECT_EQ(s->SetParameter("gain", "-0.125"), S_OK);
  EXPECT_DOUBLE_EQ(p->m_dGain, -0.125);
  EXPECT_EQ(s->SetParameter("gain", "fast"), S_OK);
  EXPECT_EQ(p->m_dGain, 0.0);
}

TEST_F(SettingsTest, FlagsAcceptExactlySixWords) {
  for (const char* word : {"yes", "True", "2", "", " 1", "on"}) {
    p->m_bInvert = false;
    EXPECT_EQ(s->SetParameter("invert", word), E_FAIL) << word;
    EXPECT_FALSE(p->m_bInvert);
  }
  EXPECT_FALSE(p->RevertParameter("invert"));  // failed sets record nothing
  EXPECT_EQ(s->SetParameter("invert", "TRUE"), S_OK);
  EXPECT_EQ(Get(s.Get(), "invert"), "1");
  char list[512];
  ASSERT_EQ(s->GetParameterSettings(list, sizeof list), S_OK);
  EXPECT_NE(std::string(list).find("Parameter name: invert Value: true\r\n"), std::string::npos);
  for (const char* word : {"0", "false", "FALSE"}) {
    EXPECT_EQ(s->SetParameter("invert", "1"), S_OK);
    EXPECT_EQ(s->SetParameter("invert", word), S_OK);
    EXPECT_FALSE(p->m_bInvert) << word;
  }
  EXPECT_EQ(s->SetParameter("invert", "true"), S_OK);
  EXPECT_TRUE(p->m_bInvert);
}

TEST_F(SettingsTest, ReadOnlyAndAllowedValuesRefuseWithoutSideEffects) {
  EXPECT_EQ(s->SetParameter("fixed", "9"), E_FAIL);
  EXPECT_EQ(p->m_nFixed, 5);
  EXPECT_FALSE(p->RevertParameter("fixed"));

  EXPECT_EQ(s->SetParameter("mode", "2"), S_OK);
  EXPECT_EQ(s->SetParameter("mode", "3"), E_FAIL);
  EXPECT_EQ(p->m_nMode, 2);
  // The refused set did not overwrite the recorded previous value.
  EXPECT_TRUE(p->RevertParameter("mode"));
  EXPECT_EQ(p->m_nMode, 0);

  EXPECT_EQ(s->SetParameter("nothere", "1"), E_FAIL);
}

TEST_F(SettingsTest, RevertRestoresTheValueBeforeTheLastSetAndCanRepeat) {
  EXPECT_FALSE(p->RevertParameter("width"));
  EXPECT_FALSE(p->RevertParameter("nothere"));
  EXPECT_EQ(s->SetParameter("width", "100"), S_OK);
  EXPECT_EQ(s->SetParameter("width", "200"), S_OK);
  EXPECT_TRUE(p->RevertParameter("width"));
  EXPECT_EQ(p->m_nWidth, 100);
  p->m_nWidth = 555;
  EXPECT_TRUE(p->RevertParameter("width"));
  EXPECT_EQ(p->m_nWidth, 100);

  EXPECT_EQ(s->SetParameter("label", "new"), S_OK);
  EXPECT_TRUE(p->RevertParameter("label"));
  EXPECT_EQ(p->m_sLabel, "abc");
}

TEST_F(SettingsTest, SecondRegistrationKeepsTheFirstVariable) {
  int other = 99;
  p->Add(std::string("width"), &other, 1);
  EXPECT_EQ(other, 99);  // default not applied
  EXPECT_EQ(s->SetParameter("width", "5"), S_OK);
  EXPECT_EQ(p->m_nWidth, 5);
  EXPECT_EQ(other, 99);

  // Registering the name under another type switches its type and binds the new variable.
  double real = 0;
  p->Add(std::string("width"), &real, 3.0);
  EXPECT_EQ(real, 3.0);
  EXPECT_EQ(Get(s.Get(), "width"), "3.00");
}

TEST_F(SettingsTest, ListingGroupsByTypeThenSortsByName) {
  int a = 0;
  p->Add(std::string("Zeta"), &a, 1);  // upper case sorts before lower case
  char buf[1024];
  ASSERT_EQ(s->GetParameterSettings(buf, sizeof buf), S_OK);
  const std::string expected =
      "Parameter name: Zeta Value: 1\r\n"
      "Parameter name: fixed Value: 5\r\n"
      "Parameter name: mode Value: 0\r\n"
      "Parameter name: width Value: 640\r\n"
      "Parameter name: count Value: 7\r\n"
      "Parameter name: label Value: abc\r\n"
      "Parameter name: invert Value: false\r\n"
      "Parameter name: gain Value: 1.00\r\n";
  EXPECT_EQ(std::string(buf), expected);

  std::memset(buf, 'x', sizeof buf);
  const int n = static_cast<int>(expected.size());
  EXPECT_EQ(s->GetParameterSettings(buf, n), E_FAIL);
  EXPECT_EQ(buf[0], 'x');
  EXPECT_EQ(s->GetParameterSettings(buf, n + 1), S_OK);
  EXPECT_EQ(buf[n], '\0');
}

TEST(SettingsEmpty, ListingOfNoParametersIsEmpty) {
  ComPtr<ISettingsInterface> s(new Empty);
  char buf[4] = "xyz";
  EXPECT_EQ(s->GetParameterSettings(buf, 0), E_FAIL);
  EXPECT_EQ(s->GetParameterSettings(buf, 1), S_OK);
  EXPECT_STREQ(buf, "");
}

TEST_F(SettingsTest, InterfaceSharesTheOwnersIdentity) {
  ComPtr<IUnknown> unk;
  ASSERT_EQ(s->QueryInterface(IID_IUnknown, unk.AsOut()), S_OK);
  EXPECT_EQ(unk.Get(), p->GetOwner());
  ComPtr<ISettingsInterface> again = unk.As<ISettingsInterface>();
  EXPECT_EQ(again.Get(), s.Get());
}

}  // namespace

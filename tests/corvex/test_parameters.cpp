// The codec's parameter table: what is accepted, what is refused and with which text.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/corvex/support_corvex.h"

namespace {

using corvextest::Get;
using corvextest::MakeCodec;

struct Accepted {
  const char* name;
  const char* value;
  const char* reads;  // what GetParameter gives back afterwards
};

TEST(CorvexParameters, EveryNameTheFiltersSetIsAcceptedAndReadBack) {
  const Accepted cases[] = {
      {"width", "352", "352"},           {"height", "288", "288"},
      {"incolour", "16", "16"},          {"incolour", "0", "0"},
      {"outcolour", "16", "16"},         {"flip", "1", "1"},
      {"flip", "false", "0"},            {"flip", "TRUE", "1"},
      {"quality", "0", "0"},             {"quality", "51", "51"},
      {"mode of operation", "0", "0"},   {"mode of operation", "2", "2"},
      {"max bits per frame", "1000000", "1000000"},
      {"num rate control frames", "25", "25"},
      {"minimum intra qp", "16", "16"},  {"minimum inter qp", "4", "4"},
      {"rate overshoot percent", "100", "100"},
      {"ipicturemultiplier", "1", "1"},  {"switchframeperiod", "12", "12"},
      {"autoipicture", "1", "1"},        {"ipicturefraction", "0", "0"},
      {"seq param set", "0", "0"},       {"pic param set", "0", "0"},
      {"generate param set on open", "1", "1"},
      {"picture coding type", "2", "2"}, {"picture coding type", "3", "3"},
      {"picture coding type", "0", "0"},
      // Compatibility names keep any text and do nothing.
      {"usems264", "false", "false"},    {"max distortion", "30000", "30000"},
      {"ipicture dmax multiplier", "2", "2"}, {"ipicture dmax fraction", "0", "0"},
      {"unrestrictedmotion", "1", "1"},  {"extendedpicturetype", "1", "1"},
      {"advancedintracoding", "1", "1"}, {"alternativeintervlc", "1", "1"},
      {"modifiedquant", "1", "1"},
  };
  auto codec = MakeCodec();
  for (const Accepted& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " = " + c.value);
    ASSERT_NE(codec->SetParameter(c.name, c.value), 0) << codec->GetErrorText();
    EXPECT_EQ(Get(codec.get(), c.name), c.reads);
  }
}

struct Refused {
  const char* name;
  const char* value;
  const char* text;  // must appear in the error text
};

TEST(CorvexParameters, UnknownNamesBadValuesAndReadOnlyNamesAreRefusedByName) {
  const Refused cases[] = {
      {"widht", "352", "Unknown codec parameter \"widht\""},
      {"Quality", "20", "Unknown codec parameter \"Quality\""},
      {"", "1", "Unknown codec parameter \"\""},
      {"quality", "52", "\"quality\" takes a whole number from 0 to 51, not \"52\""},
      {"quality", "-1", "from 0 to 51"},
      {"quality", "20.5", "not \"20.5\""},
      {"quality", "", "not \"\""},
      {"quality", "12abc", "not \"12abc\""},
      {"width", "4098", "\"width\" takes a whole number from 0 to 4096"},
      {"width", "99999999999999999999", "\"width\""},
      {"mode of operation", "3", "\"mode of operation\" takes a whole number from 0 to 2"},
      {"max bits per frame", "0", "\"max bits per frame\""},
      {"num rate control frames", "0", "\"num rate control frames\""},
      {"incolour", "1", "\"incolour\" takes 0 (RGB24) or 16 (planar YUV 4:2:0), not \"1\""},
      {"outcolour", "24", "\"outcolour\" takes 0 (RGB24) or 16"},
      {"picture coding type", "1", "\"picture coding type\" takes 0 (picture), 2"},
      {"flip", "yes", "\"flip\" takes a whole number from 0 to 1"},
      {"seq param set", "1", "\"seq param set\" takes a whole number from 0 to 0"},
      {"last pic coding type", "0", "\"last pic coding type\" is read-only"},
      {"parameters", "3", "\"parameters\" is read-only"},
  };
  auto codec = MakeCodec();
  for (const Refused& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " = " + c.value);
    const bool bKnown = std::string(c.text).find("Unknown") == std::string::npos;
    const std::string sBefore = bKnown ? Get(codec.get(), c.name) : "";
    EXPECT_EQ(codec->SetParameter(c.name, c.value), 0);
    EXPECT_NE(std::string(codec->GetErrorText()).find(c.text), std::string::npos)
        << codec->GetErrorText();
    if (bKnown) {
      EXPECT_EQ(Get(codec.get(), c.name), sBefore) << "value changed";
    }
  }
  char szValue[CORVEX_MAX_VALUE];
  int nLength = 0;
  EXPECT_EQ(codec->GetParameter("nosuchname", &nLength, szValue), 0);
  EXPECT_NE(std::string(codec->GetErrorText()).find("\"nosuchname\""), std::string::npos);
}

TEST(CorvexParameters, TheListingNamesEveryParameterOnceAndEachCanBeRead) {
  auto codec = MakeCodec();
  const int nCount = std::stoi(Get(codec.get(), "parameters"));
  std::set<std::string> names;
  for (int i = 0; i < nCount; ++i) {
    const char* pszName = nullptr;
    int nLength = 0;
    ASSERT_NE(codec->GetParameterName(i, &pszName, &nLength), 0) << i;
    ASSERT_EQ(static_cast<size_t>(nLength), std::string(pszName).size());
    EXPECT_TRUE(names.insert(pszName).second) << pszName << " listed twice";
    char szValue[CORVEX_MAX_VALUE];
    int nValueLength = -1;
    EXPECT_NE(codec->GetParameter(pszName, &nValueLength, szValue), 0) << pszName;
    EXPECT_EQ(static_cast<size_t>(nValueLength), std::string(szValue).size());
  }
  const char* pszName = nullptr;
  int nLength = 0;
  EXPECT_EQ(codec->GetParameterName(nCount, &pszName, &nLength), 0);
  EXPECT_EQ(codec->GetParameterName(-1, &pszName, &nLength), 0);
  // Every name the encoder filter sets at construction is among them.
  for (const char* pszWanted :
       {"quality", "incolour", "outcolour", "ipicturemultiplier", "switchframeperiod",
        "max bits per frame", "num rate control frames", "max distortion",
        "ipicture dmax multiplier", "ipicture dmax fraction", "minimum intra qp",
        "minimum inter qp", "rate overshoot percent", "flip", "unrestrictedmotion",
        "extendedpicturetype", "advancedintracoding", "alternativeintervlc", "modifiedquant",
        "autoipicture", "ipicturefraction", "usems264", "mode of operation", "width", "height",
        "seq param set", "pic param set", "generate param set on open", "picture coding type",
        "last pic coding type", "parameters"}) {
    EXPECT_EQ(names.count(pszWanted), 1u) << pszWanted;
  }
  EXPECT_EQ(codec->Reserved1(), 0);
}

TEST(CorvexParameters, OpenRefusesSizesTheCodecCannotTakeAndSaysWhy) {
  const struct {
    const char* width;
    const char* height;
    const char* text;
  } cases[] = {
      {"0", "0", "too small"},
      {"175", "144", "175x144 is odd"},
      {"176", "143", "176x143 is odd"},
      {"8", "8", "too small"},
      {"4096", "4096", "4096x4096 is too large"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.width) + "x" + c.height);
    auto codec = MakeCodec();
    corvextest::Set(codec.get(), "width", c.width);
    corvextest::Set(codec.get(), "height", c.height);
    EXPECT_EQ(codec->Open(), 0);
    EXPECT_EQ(codec->IsReady(), 0);
    EXPECT_NE(std::string(codec->GetErrorText()).find(c.text), std::string::npos)
        << codec->GetErrorText();
  }
}

}  // namespace

// The kept file name of the file sources, as GetCurFile hands it out.
#include <gtest/gtest.h>

#include <string>

#include "framework/filesource.h"
#include "platform/com/runtime.h"

namespace {

TEST(KeptFileName, NullWithoutANameElseATaskMemoryCopy) {
  const struct {
    std::string name;
    bool kept;
    const wchar_t* expected;  // null: no copy handed out
  } cases[] = {
      {"", false, nullptr},
      {"/media/clip.264", false, nullptr},  // a name that is not kept is not handed out
      {"", true, L""},                      // a kept empty name is a copy, not null
      {"/media/t\xC3\xA9l\xC3\xA9.yuv", true, L"/media/t\u00E9l\u00E9.yuv"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + (c.kept ? " kept" : " not kept"));
    LPOLESTR out = reinterpret_cast<LPOLESTR>(&out);  // not null: must be overwritten
    EXPECT_EQ(GetKeptFileName(c.name, c.kept, &out), S_OK);
    if (!c.expected) {
      EXPECT_EQ(out, nullptr);
    } else {
      ASSERT_NE(out, nullptr);
      EXPECT_EQ(std::wstring(out), c.expected);
    }
    CoTaskMemFree(out);
  }
  EXPECT_EQ(GetKeptFileName("x", true, nullptr), E_POINTER);
}

}  // namespace

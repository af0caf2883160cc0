// GUID text forms, result names, code-page conversion, _wtoi, the performance counter and
// initialisation counting.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/com/runtime.h"

namespace {

PLENOR_GUID(kSample, 0x0123ABCD, 0x4567, 0x89EF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF);

TEST(Guid, TextFormIsBracedUpperCase38Characters) {
  EXPECT_EQ(GuidToString(kSample), "{0123ABCD-4567-89EF-0123-456789ABCDEF}");
  EXPECT_EQ(GuidToString(GUID_NULL), "{00000000-0000-0000-0000-000000000000}");

  OLECHAR buf[39];
  EXPECT_EQ(StringFromGUID2(kSample, buf, 39), 39);
  EXPECT_EQ(std::wstring(buf), L"{0123ABCD-4567-89EF-0123-456789ABCDEF}");
  OLECHAR small[38];
  EXPECT_EQ(StringFromGUID2(kSample, small, 38), 0);
}

TEST(Guid, ParsingAcceptsBothFormsAndRejectsTheRest) {
  GUID g{};
  ASSERT_TRUE(GuidFromString("{0123abcd-4567-89ef-0123-456789ABCDEF}", &g));
  EXPECT_EQ(g, kSample);
  ASSERT_TRUE(GuidFromString("0123ABCD-4567-89EF-0123-456789ABCDEF", &g));
  EXPECT_EQ(g, kSample);
  for (const char* bad : {"", "{0123ABCD-4567-89EF-0123-456789ABCDEF", "{0123ABCD-4567-89EF-0123-456789ABCDEG}",
                          "{0123ABCD-4567-89EF+0123-456789ABCDEF}", "{0123ABCD-4567-89EF-0123-456789ABCDEF}x",
                          "(0123ABCD-4567-89EF-0123-456789ABCDEF)", "{ 123ABCD-4567-89EF-0123-456789ABCDEF}"}) {
    EXPECT_FALSE(GuidFromString(bad, &g)) << bad;
  }
  CLSID c{};
  EXPECT_EQ(CLSIDFromString(L"{0123ABCD-4567-89EF-0123-456789ABCDEF}", &c), S_OK);
  EXPECT_EQ(c, kSample);
  EXPECT_EQ(CLSIDFromString(L"{0123ABCD-4567-89EF-0123-456789ABCDEF}}", &c), CO_E_CLASSSTRING);
  EXPECT_EQ(CLSIDFromString(L"{0123ABCD-4567-89EF-0123-456789ABCD\u00C9F}", &c), CO_E_CLASSSTRING);

  // Round trip of random GUIDs; they are version 4 and distinct.
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    GUID r = NewGuid();
    std::string text = GuidToString(r);
    EXPECT_EQ(text.size(), 38u);
    EXPECT_EQ(text[15], '4');
    ASSERT_TRUE(GuidFromString(text, &g));
    EXPECT_EQ(g, r);
    seen.insert(text);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST(ResultNames, KnownCodesAndWin32Forms) {
  EXPECT_STREQ(HResultName(S_OK), "S_OK");
  EXPECT_STREQ(HResultName(E_INVALIDARG), "E_INVALIDARG");
  EXPECT_STREQ(HResultName(VFW_E_NOT_IN_GRAPH), "VFW_E_NOT_IN_GRAPH");
  EXPECT_STREQ(HResultName(VFW_S_NO_MORE_ITEMS), "VFW_S_NO_MORE_ITEMS");
  EXPECT_STREQ(HResultName(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)");
  EXPECT_STREQ(HResultName(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)),
               "HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER)");
  EXPECT_EQ(HResultName(HR(0x8badf00d)), nullptr);
}

TEST(CodePages, Utf8RoundTripAndBufferRules) {
  const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xA5";  // a, e-acute, euro, film camera
  std::wstring wide = Utf8ToWide(utf8);
  EXPECT_EQ(wide, (std::wstring{L'a', 0xE9, 0x20AC, 0x1F3A5}));
  EXPECT_EQ(WideToUtf8(wide), utf8);

  // Size query includes the terminator when the length is -1.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0), 5);
  wchar_t out[5];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, utf8.c_str(), -1, out, 5), 5);
  EXPECT_EQ(out[4], L'\0');
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out, 4), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  char narrow[16];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr), 11);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), narrow, 16, nullptr,
                                nullptr),
            10);
  EXPECT_EQ(std::string(narrow, 10), utf8);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, narrow, 10, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  // Malformed input: replaced, or refused when asked to be strict.
  const char bad[] = "x\xC3(\xE2\x82";
  EXPECT_EQ(Utf8ToWide(bad), (std::wstring{L'x', 0xFFFD, L'(', 0xFFFD}));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bad, -1, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  // Overlong encodings and surrogates are not characters.
  EXPECT_EQ(Utf8ToWide("\xC0\xAF"), std::wstring(1, 0xFFFD));
  EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), std::wstring(1, 0xFFFD));
  EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(CodePages, WtoiFollowsTheRuntimeLibrary) {
  EXPECT_EQ(_wtoi(L"  -20x"), -20);
  EXPECT_EQ(_wtoi(L"+7"), 7);
  EXPECT_EQ(_wtoi(L"\t\n42"), 42);
  EXPECT_EQ(_wtoi(L"abc"), 0);
  EXPECT_EQ(_wtoi(L"- 5"), 0);
  EXPECT_EQ(_wtoi(L""), 0);
  EXPECT_EQ(_wtoi(nullptr), 0);
  EXPECT_EQ(_wtoi(L"99999999999"), 2147483647);
  EXPECT_EQ(_wtoi(L"-99999999999"), -2147483647 - 1);
  EXPECT_EQ(_wtoi(L"-2147483648"), -2147483647 - 1);
}

TEST(CodePages, TaskMemoryWideCopiesAreTerminatedAndFreeable) {
  const struct {
    const char* utf8;
    std::wstring wide;
  } cases[] = {
      {"", L""},
      {"/tmp/clip_352x288.yuv", L"/tmp/clip_352x288.yuv"},
      {"caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80", std::wstring{L'c', L'a', L'f', 0xE9, L' ', 0x20AC, 0x1F600}},
      {"bad \xC0\xAF", std::wstring{L'b', L'a', L'd', L' ', 0xFFFD}},  // as Utf8ToWide converts it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.utf8);
    LPOLESTR copy = TaskMemWideString(c.utf8);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::wstring(copy), c.wide);
    EXPECT_EQ(copy[c.wide.size()], L'\0');
    CoTaskMemFree(copy);
  }
}

TEST(PerformanceCounter, PerformanceCounterIn100NanosecondUnits) {
  LARGE_INTEGER freq{}, a{}, b{};
  ASSERT_TRUE(QueryPerformanceFrequency(&freq));
  EXPECT_EQ(freq.QuadPart, 10000000);
  ASSERT_TRUE(QueryPerformanceCounter(&a));
  DWORD t0 = timeGetTime();
  Sleep(20);
  ASSERT_TRUE(QueryPerformanceCounter(&b));
  DWORD t1 = timeGetTime();
  EXPECT_GE(b.QuadPart - a.QuadPart, 20 * 10000);
  EXPECT_LT(b.QuadPart - a.QuadPart, 5 * 10000000LL);
  EXPECT_GE(t1 - t0, 19u);
  EXPECT_FALSE(QueryPerformanceCounter(nullptr));
}

TEST(RuntimeBasics, InitialisationIsCountedAndTaskMemoryWorks) {
  HRESULT first = CoInitialize(nullptr);
  EXPECT_TRUE(first == S_OK || first == S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
  CoUninitialize();
  CoUninitialize();

  void* p = CoTaskMemAlloc(0);
  EXPECT_NE(p, nullptr);
  p = CoTaskMemRealloc(p, 1000);
  ASSERT_NE(p, nullptr);
  std::memset(p, 1, 1000);
  CoTaskMemFree(p);
  CoTaskMemFree(nullptr);

  SetLastError(1234);
  EXPECT_EQ(GetLastError(), 1234u);
}

}  // namespace

// BSTR and VARIANT ownership, and the memory property bag built on them.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "platform/com/objidl.h"
#include "platform/com/runtime.h"

namespace {

// An object that counts its references, to see what variants do with them.
class Probe : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  ULONG refs = 1;
};

TEST(Bstr, LengthPrefixAndEmbeddedZeros) {
  BSTR s = SysAllocString(L"plenor");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 6u);
  EXPECT_EQ(SysStringByteLen(s), 6u * sizeof(OLECHAR));
  EXPECT_EQ(std::wstring(s), L"plenor");
  SysFreeString(s);

  const OLECHAR withZero[] = {L'a', 0, L'b'};
  s = SysAllocStringLen(withZero, 3);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(s[2], L'b');
  EXPECT_EQ(s[3], 0) << "always terminated";
  SysFreeString(s);

  // Null text with a length: uninitialised in the original; zeros here.
  s = SysAllocStringLen(nullptr, 4);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 4u);
  SysFreeString(s);

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  SysFreeString(nullptr);
}

TEST(Variant, ClearReleasesWhatItOwns) {
  Probe probe;
  VARIANT v;
  VariantInit(&v);
  EXPECT_EQ(v.vt, VT_EMPTY);

  v.vt = VT_UNKNOWN;
  v.punkVal = &probe;
  probe.AddRef();
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(probe.refs, 1u);
  EXPECT_EQ(v.vt, VT_EMPTY);

  // By reference: owns nothing.
  v.vt = VT_UNKNOWN | VT_BYREF;
  IUnknown* borrowed = &probe;
  v.byref = &borrowed;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(probe.refs, 1u);

  // Task-allocated texts are freed (a leak here shows under the address sanitizer).
  v.vt = VT_LPWSTR;
  v.pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc(4 * sizeof(wchar_t)));
  std::wcscpy(v.pwszVal, L"abc");
  EXPECT_EQ(VariantClear(&v), S_OK);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(L"owned");
  EXPECT_EQ(VariantClear(&v), S_OK);

  // Types the runtime does not know are refused rather than guessed at.
  v.vt = VT_ARRAY | VT_I4;
  v.byref = nullptr;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST(Variant, CopyIsDeepAndClearsTheDestination) {
  Probe probe;
  VARIANT src, dst;
  VariantInit(&src);
  VariantInit(&dst);
  src.vt = VT_BSTR;
  src.bstrVal = SysAllocString(L"text");
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_NE(dst.bstrVal, src.bstrVal);
  EXPECT_EQ(std::wstring(dst.bstrVal), L"text");

  // Copying over a destination releases what it held.
  VariantClear(&src);
  src.vt = VT_UNKNOWN;
  src.punkVal = &probe;
  probe.AddRef();
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_EQ(probe.refs, 3u);
  EXPECT_EQ(VariantCopy(&dst, &dst), S_OK) << "self copy";
  EXPECT_EQ(probe.refs, 3u);
  VariantClear(&dst);
  VariantClear(&src);
  EXPECT_EQ(probe.refs, 1u);

  src.vt = VT_LPSTR;
  src.pszVal = static_cast<LPSTR>(CoTaskMemAlloc(3));
  std::strcpy(src.pszVal, "hi");
  ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
  EXPECT_NE(dst.pszVal, src.pszVal);
  EXPECT_STREQ(dst.pszVal, "hi");
  VariantClear(&dst);
  VariantClear(&src);

  // A failed copy leaves the destination as it was.
  dst.vt = VT_I4;
  dst.lVal = 7;
  src.vt = VT_ARRAY | VT_UI1;
  src.byref = nullptr;
  EXPECT_EQ(VariantCopy(&dst, &src), DISP_E_BADVARTYPE);
  EXPECT_EQ(dst.vt, VT_I4);
  EXPECT_EQ(dst.lVal, 7);
}

TEST(MemoryPropertyBag, NamesIgnoreCaseAndValuesAreCopies) {
  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(CreateMemoryPropertyBag(&bag), S_OK);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(L"-20");
  ASSERT_EQ(bag->Write(L"\"TIME SKEW\"", &v), S_OK);
  // The bag keeps its own copy.
  v.bstrVal[0] = L'+';
  VariantClear(&v);

  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(bag->Read(L"\"time skew\"", &out, nullptr), S_OK);
  ASSERT_EQ(out.vt, VT_BSTR);
  EXPECT_EQ(std::wstring(out.bstrVal), L"-20");
  EXPECT_EQ(_wtoi(out.bstrVal), -20);
  VariantClear(&out);

  // Without the quotes it is another name.
  out.vt = VT_I4;
  out.lVal = 5;
  EXPECT_EQ(bag->Read(L"TIME SKEW", &out, nullptr), E_INVALIDARG);
  EXPECT_EQ(out.vt, VT_I4) << "a missing name leaves the caller's variant alone";

  // The stored type is returned whatever type the caller's variant had.
  v.vt = VT_R8;
  v.dblVal = 2.9;
  ASSERT_EQ(bag->Write(L"\"Time Skew\"", &v), S_OK);
  ASSERT_EQ(bag->Read(L"\"TIME SKEW\"", &out, nullptr), S_OK);
  EXPECT_EQ(out.vt, VT_R8);
  EXPECT_EQ(out.dblVal, 2.9);

  // Objects are held by reference until overwritten or the bag goes.
  Probe probe;
  v.vt = VT_UNKNOWN;
  v.punkVal = &probe;
  ASSERT_EQ(bag->Write(L"obj", &v), S_OK);
  EXPECT_EQ(probe.refs, 2u);
  v.vt = VT_I4;
  v.lVal = 1;
  ASSERT_EQ(bag->Write(L"OBJ", &v), S_OK);
  EXPECT_EQ(probe.refs, 1u);
  v.vt = VT_UNKNOWN;
  v.punkVal = &probe;
  ASSERT_EQ(bag->Write(L"obj", &v), S_OK);
  EXPECT_EQ(probe.refs, 2u);
  bag.Reset();
  EXPECT_EQ(probe.refs, 1u);
}

TEST(MemoryPropertyBag, RefusesWhatItCannotKeep) {
  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(CreateMemoryPropertyBag(&bag), S_OK);
  VARIANT v;
  VariantInit(&v);
  LONG value = 3;
  v.vt = VT_I4 | VT_BYREF;
  v.byref = &value;
  EXPECT_EQ(bag->Write(L"ref", &v), E_INVALIDARG);
  v.vt = VT_ARRAY | VT_I4;
  EXPECT_EQ(bag->Write(L"arr", &v), DISP_E_BADVARTYPE);
  VariantInit(&v);
  EXPECT_EQ(bag->Read(L"arr", &v, nullptr), E_INVALIDARG) << "a failed write stores nothing";
  EXPECT_EQ(bag->Write(nullptr, &v), E_POINTER);
  EXPECT_EQ(bag->Read(L"x", nullptr, nullptr), E_POINTER);
}

}  // namespace

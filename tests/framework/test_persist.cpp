// Settings persistence: stream records, property-bag load and save, the filter's own property bag,
// variant conversion and the dirty flag.
#include <gtest/gtest.h>

#include <string>

#include "framework/persist.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/combase.h"

namespace {

PLENOR_GUID(CLSID_PersistProbe, 0x1fe129b7, 0x68fb, 0x43f8, 0x88, 0xb8, 0x24, 0xa0, 0x4a, 0x75, 0x7d, 0xd5);

// A signed filter with two values: the first reset by InitNew, the second kept.
class SignedProbe : public CUnknown, public CPersistSettings {
 public:
  SignedProbe()
      : CUnknown(L"SignedProbe", nullptr),
        CPersistSettings(GetOwner(), CLSID_PersistProbe, PersistKind::Signed,
                         {{L"\"TIME SKEW\"", &m_nSkew, VT_INT, VT_INT, true},
                          {L"\"offset_x\"", &m_nOffset, VT_INT, VT_INT, false}}) {}
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (GetPersistInterface(riid, ppv) == S_OK) return S_OK;
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  int m_nSkew = 0;
  int m_nOffset = 0;
};

// An unsigned filter: x and y written as VT_UINT, mode as VT_INT, all read back as VT_UINT.
class UnsignedProbe : public CUnknown, public CPersistSettings {
 public:
  UnsignedProbe()
      : CUnknown(L"UnsignedProbe", nullptr),
        CPersistSettings(GetOwner(), CLSID_PersistProbe, PersistKind::Unsigned,
                         {{L"\"x\"", &m_x, VT_UINT, VT_UINT, true},
                          {L"\"y\"", &m_y, VT_UINT, VT_UINT, true},
                          {L"\"mode\"", &m_mode, VT_INT, VT_UINT, false}}) {}
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (GetPersistInterface(riid, ppv) == S_OK) return S_OK;
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  unsigned int m_x = 0, m_y = 0, m_mode = 0;
};

ComPtr<IStream> MemoryStream(const std::string& bytes = {}) {
  ComPtr<IStream> s;
  EXPECT_EQ(CreateStreamOnMemory(bytes.data(), static_cast<ULONG>(bytes.size()), &s), S_OK);
  return s;
}

std::string Bytes(IStream* s) {
  std::string out;
  EXPECT_EQ(GetStreamBytes(s, &out), S_OK);
  return out;
}

// A stream whose reads or writes fail after a number of successful 4-byte transfers.
struct BrokenStream : IStream {
  int okCalls;
  HRESULT failure;
  BrokenStream(int ok, HRESULT hr) : okCalls(ok), failure(hr) {}
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP Read(void* pv, ULONG cb, ULONG* got) override {
    if (okCalls-- <= 0) return failure;
    std::memset(pv, 0x11, cb);
    *got = cb;
    return S_OK;
  }
  STDMETHODIMP Write(const void*, ULONG cb, ULONG* written) override {
    if (okCalls-- <= 0) return failure;
    *written = cb;
    return S_OK;
  }
  STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
  STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
  STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Revert() override { return E_NOTIMPL; }
  STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }
};

VARIANT Var(VARTYPE vt) {
  VARIANT v;
  VariantInit(&v);
  v.vt = vt;
  return v;
}

struct PersistTest : testing::Test {
  SignedProbe* f = new SignedProbe;
  ComPtr<IUnknown> unk{AsUnknown(f)};
  ComPtr<IPersistStream> ps = unk.As<IPersistStream>();
  ComPtr<IPersistPropertyBag> ppb = unk.As<IPersistPropertyBag>();
  ComPtr<IPropertyBag> bag = unk.As<IPropertyBag>();
};

TEST_F(PersistTest, StreamRecordIsLittleEndianValuesInOrder) {
  ASSERT_TRUE(ps && ppb && bag);
  f->m_nSkew = -5;
  f->m_nOffset = 0x01020304;
  ULARGE_INTEGER size{};
  EXPECT_EQ(ps->GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, 8u);
  EXPECT_EQ(ps->GetSizeMax(nullptr), E_INVALIDARG);
  ComPtr<IStream> s = MemoryStream();
  ASSERT_EQ(ps->Save(s.Get(), FALSE), S_OK);
  EXPECT_EQ(Bytes(s.Get()), std::string("\xFB\xFF\xFF\xFF\x04\x03\x02\x01", 8));
  EXPECT_EQ(ps->Save(nullptr, TRUE), E_INVALIDARG);
  EXPECT_EQ(ps->Load(nullptr), E_INVALIDARG);

  CLSID clsid{};
  EXPECT_EQ(ps->GetClassID(&clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_PersistProbe);
  EXPECT_EQ(ppb->GetClassID(nullptr), E_POINTER);
}

TEST_F(PersistTest, DirtyFlagFollowsStreamSavesAndChangingLoadsOnly) {
  EXPECT_EQ(ps->IsDirty(), S_OK);  // dirty from construction
  ComPtr<IStream> s = MemoryStream();
  ASSERT_EQ(ps->Save(s.Get(), FALSE), S_OK);
  EXPECT_EQ(ps->IsDirty(), S_OK);
  ASSERT_EQ(ps->Save(s.Get(), TRUE), S_OK);
  EXPECT_EQ(ps->IsDirty(), S_FALSE);

  // A load of the current values leaves it clean; a changing load makes it dirty.
  ASSERT_EQ(ps->Load(MemoryStream(std::string(8, '\0')).Get()), S_OK);
  EXPECT_EQ(ps->IsDirty(), S_FALSE);

  // Bag saves and loads, and writes through the filter's own bag, do not touch the flag.
  ComPtr<IPropertyBag> host;
  ASSERT_EQ(CreateMemoryPropertyBag(&host), S_OK);
  EXPECT_EQ(ppb->Save(host.Get(), TRUE, TRUE), S_OK);
  EXPECT_EQ(ppb->Load(host.Get(), nullptr), S_OK);
  VARIANT v = Var(VT_I4);
  v.lVal = 9;
  EXPECT_EQ(bag->Write(L"\"TIME SKEW\"", &v), S_OK);
  EXPECT_EQ(ps->IsDirty(), S_FALSE);

  ASSERT_EQ(ps->Load(MemoryStream(std::string("\x02\0\0\0\x03\0\0\0", 8)).Get()), S_OK);
  EXPECT_EQ(f->m_nSkew, 2);
  EXPECT_EQ(f->m_nOffset, 3);
  EXPECT_EQ(ps->IsDirty(), S_OK);
}

TEST_F(PersistTest, FailedOrShortStreamLoadChangesNothing) {
  f->m_nSkew = 7;
  f->m_nOffset = 8;
  BrokenStream failing(1, STG_E_READFAULT);
  EXPECT_EQ(ps->Load(&failing), STG_E_READFAULT);
  EXPECT_EQ(f->m_nSkew, 7);
  ComPtr<IStream> shortStream = MemoryStream(std::string("\x01\0\0\0\x02\0", 6));
  EXPECT_TRUE(FAILED(ps->Load(shortStream.Get())));
  EXPECT_EQ(f->m_nSkew, 7);
  EXPECT_EQ(f->m_nOffset, 8);

  BrokenStream full(1, STG_E_MEDIUMFULL);
  ASSERT_EQ(ps->Save(MemoryStream().Get(), TRUE), S_OK);
  EXPECT_EQ(ps->Save(&full, FALSE), STG_E_MEDIUMFULL);
  EXPECT_EQ(ps->IsDirty(), S_FALSE);
}

TEST_F(PersistTest, OwnBagFindsNamesCaseInsensitivelyOnlyWithQuotes) {
  f->m_nSkew = -20;
  VARIANT v = Var(VT_BSTR);
  v.bstrVal = SysAllocString(L"left over");
  EXPECT_EQ(bag->Read(L"\"time skew\"", &v, nullptr), S_OK);
  EXPECT_EQ(v.vt, VT_INT);
  EXPECT_EQ(v.intVal, -20);

  v = Var(VT_BSTR);
  v.bstrVal = SysAllocString(L"left over");
  EXPECT_EQ(bag->Read(L"TIME SKEW", &v, nullptr), E_INVALIDARG);
  EXPECT_EQ(v.vt, VT_EMPTY);  // cleared before the name was looked up
  EXPECT_EQ(bag->Read(nullptr, &v, nullptr), E_INVALIDARG);
  EXPECT_EQ(bag->Read(L"\"TIME SKEW\"", nullptr, nullptr), E_INVALIDARG);

  VARIANT w = Var(VT_I4);
  w.lVal = 4;
  EXPECT_EQ(bag->Write(L"TIME SKEW", &w), E_INVALIDARG);
  EXPECT_EQ(bag->Write(L"\"OFFSET_X\"", &w), S_OK);
  EXPECT_EQ(f->m_nOffset, 4);
  EXPECT_EQ(bag->Write(L"\"offset_x\"", nullptr), E_INVALIDARG);
}

TEST_F(PersistTest, SignedConversionTable) {
  struct Case {
    VARIANT v;
    bool converts;
    int value;
  };
  auto make = [](VARTYPE vt, auto setter) {
    VARIANT v = Var(vt);
    setter(v);
    return v;
  };
  std::vector<Case> cases = {
      {make(VT_I1, [](VARIANT& v) { v.cVal = static_cast<CHAR>(-3); }), true, -3},
      {make(VT_UI1, [](VARIANT& v) { v.bVal = 250; }), true, 250},
      {make(VT_I2, [](VARIANT& v) { v.iVal = -300; }), true, -300},
      {make(VT_UI2, [](VARIANT& v) { v.uiVal = 65535; }), true, 65535},
      {make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }), true, -1},
      {make(VT_UI4, [](VARIANT& v) { v.ulVal = 0xFFFFFFFEu; }), true, -2},
      {make(VT_I8, [](VARIANT& v) { v.llVal = 0x100000005LL; }), true, 5},
      {make(VT_R8, [](VARIANT& v) { v.dblVal = 2.9; }), true, 2},
      {make(VT_R4, [](VARIANT& v) { v.fltVal = -2.9f; }), true, -2},
      {make(VT_R8, [](VARIANT& v) { v.dblVal = 1e12; }), false, 0},
      {make(VT_LPSTR, [](VARIANT& v) { v.pszVal = const_cast<char*>("  -17xyz"); }), true, -17},
      {make(VT_LPSTR, [](VARIANT& v) { v.pszVal = nullptr; }), false, 0},
      {make(VT_LPWSTR, [](VARIANT& v) { v.pwszVal = const_cast<wchar_t*>(L"33"); }), true, 33},
      {make(VT_BSTR, [](VARIANT& v) { v.bstrVal = nullptr; }), false, 0},
      {make(VT_I4 | VT_BYREF, [](VARIANT& v) { v.byref = nullptr; }), false, 0},
      {make(VT_EMPTY, [](VARIANT&) {}), false, 0},
      {make(VT_DATE, [](VARIANT& v) { v.dblVal = 1; }), false, 0},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    f->m_nSkew = 12345;
    HRESULT hr = bag->Write(L"\"TIME SKEW\"", &cases[i].v);
    EXPECT_EQ(hr, cases[i].converts ? S_OK : E_INVALIDARG) << "case " << i;
    EXPECT_EQ(f->m_nSkew, cases[i].converts ? cases[i].value : 12345) << "case " << i;
  }
}

TEST(PersistUnsigned, NegativeNumbersAreRefusedButTrueIsAllOnes) {
  auto* f = new UnsignedProbe;
  ComPtr<IUnknown> unk{AsUnknown(f)};
  ComPtr<IPropertyBag> bag = unk.As<IPropertyBag>();
  ASSERT_TRUE(bag);
  f->m_mode = 3;
  for (VARTYPE vt : {VT_I2, VT_I4, VT_INT, VT_I8, VT_INT_PTR, VT_R8}) {
    VARIANT v = Var(vt);
    v.llVal = -1;
    if (vt == VT_R8) v.dblVal = -0.5;
    if (vt == VT_I2) v.iVal = -1;
    if (vt == VT_I4 || vt == VT_INT) v.lVal = -1;
    EXPECT_EQ(bag->Write(L"\"mode\"", &v), E_INVALIDARG) << vt;
    EXPECT_EQ(f->m_mode, 3u);
  }
  VARIANT t = Var(VT_BOOL);
  t.boolVal = VARIANT_TRUE;
  EXPECT_EQ(bag->Write(L"\"mode\"", &t), S_OK);
  EXPECT_EQ(f->m_mode, 4294967295u);
  VARIANT c = Var(VT_I1);
  c.cVal = static_cast<CHAR>(-2);
  EXPECT_EQ(bag->Write(L"\"x\"", &c), S_OK);
  EXPECT_EQ(f->m_x, 4294967294u);

  VARIANT r;
  VariantInit(&r);
  EXPECT_EQ(bag->Read(L"\"MODE\"", &r, nullptr), S_OK);
  EXPECT_EQ(r.vt, VT_UINT);
  EXPECT_EQ(r.uintVal, 4294967295u);
}

TEST(PersistUnsigned, BagSaveWritesEachFieldsTypeAndInitNewResetsItsColumn) {
  auto* f = new UnsignedProbe;
  ComPtr<IUnknown> unk{AsUnknown(f)};
  ComPtr<IPersistPropertyBag> ppb = unk.As<IPersistPropertyBag>();
  f->m_x = 10;
  f->m_y = 20;
  f->m_mode = 2;
  ComPtr<IPropertyBag> host;
  ASSERT_EQ(CreateMemoryPropertyBag(&host), S_OK);
  EXPECT_EQ(ppb->Save(host.Get(), FALSE, FALSE), S_OK);
  EXPECT_EQ(ppb->Save(nullptr, FALSE, FALSE), E_POINTER);
  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(host->Read(L"\"x\"", &v, nullptr), S_OK);
  EXPECT_EQ(v.vt, VT_UINT);
  EXPECT_EQ(v.uintVal, 10u);
  VariantClear(&v);
  ASSERT_EQ(host->Read(L"\"mode\"", &v, nullptr), S_OK);
  EXPECT_EQ(v.vt, VT_INT);
  EXPECT_EQ(v.intVal, 2);
  VariantClear(&v);

  EXPECT_EQ(ppb->InitNew(), S_OK);
  EXPECT_EQ(f->m_x, 0u);
  EXPECT_EQ(f->m_y, 0u);
  EXPECT_EQ(f->m_mode, 2u);

  // Loading takes back what the bag holds.
  EXPECT_EQ(ppb->Load(host.Get(), nullptr), S_OK);
  EXPECT_EQ(f->m_x, 10u);
  EXPECT_EQ(f->m_y, 20u);
  EXPECT_EQ(ppb->Load(nullptr, nullptr), E_POINTER);
}

TEST_F(PersistTest, BagLoadConvertsTextAndRealsAndSkipsWhatIsMissing) {
  f->m_nOffset = 77;
  ComPtr<IPropertyBag> host;
  ASSERT_EQ(CreateMemoryPropertyBag(&host), S_OK);
  VARIANT v = Var(VT_BSTR);
  v.bstrVal = SysAllocString(L"-20");
  ASSERT_EQ(host->Write(L"\"TIME SKEW\"", &v), S_OK);
  VariantClear(&v);
  EXPECT_EQ(ppb->Load(host.Get(), nullptr), S_OK);
  EXPECT_EQ(f->m_nSkew, -20);
  EXPECT_EQ(f->m_nOffset, 77);  // not in the bag

  v = Var(VT_R8);
  v.dblVal = 2.9;
  ASSERT_EQ(host->Write(L"\"time skew\"", &v), S_OK);
  EXPECT_EQ(ppb->Load(host.Get(), nullptr), S_OK);
  EXPECT_EQ(f->m_nSkew, 2);
}

}  // namespace

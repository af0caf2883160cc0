// Parameter text and persisted settings, as hosts, pages, graph files and property bags hand them
// to a filter: text for every parameter type (with and without allowed values, read-only ones),
// IPersistStream records of any bytes and length, and property-bag values of every by-value
// variant type and text.
//
// Input: the first byte picks the action, the rest is its argument.
//   0-9   SetParameter(parameter N, rest as text), then read everything back
//   10    IPersistStream::Load(rest), then Save and Load again (must round-trip)
//   11    IPersistPropertyBag::Load of a bag holding one variant per property, built from rest
//   12    IPropertyBag::Write of such variants straight into the object
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/persist.h"
#include "framework/settings.h"
#include "platform/com/guid.h"
#include "platform/com/oleauto.h"

namespace {

// The owner a filter would be: one identity whose reference count the subobjects forward to.
class Owner : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    if (ppv) *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
};

constexpr CLSID kClsid = {0x5a1d0c3e, 0x1b2f, 0x4c6d, {0x9e, 0x8a, 0x10, 0x22, 0x33, 0x44, 0x55, 0x66}};

class Settings : public CSettingsInterface, public CPersistSettings {
 public:
  explicit Settings(IUnknown* owner)
      : CSettingsInterface(owner),
        CPersistSettings(owner, kClsid, PersistKind::Signed,
                         {{L"\"SIGNED\"", &m_persistSigned, VT_INT, VT_INT, true},
                          {L"\"UNSIGNED\"", &m_persistUnsigned, VT_UINT, VT_UINT, false}}) {
    InitParameters();
  }
  void InitParameters() override {
    AddParameter("int", &m_int, 0);
    AddParameter("uint", &m_uint, 0u);
    AddParameter("text", &m_text, "");
    AddParameter("flag", &m_flag, false);
    AddParameter("real", &m_real, 0.0);
    AddParameter("int choice", &m_intChoice, 1, false, {1, 2, -3});
    AddParameter("uint choice", &m_uintChoice, 5u, false, {5u, 4000000000u});
    AddParameter("text choice", &m_textChoice, "a", false, {"a", "bb"});
    AddParameter("real choice", &m_realChoice, 0.5, false, {0.5, 29.97});
    AddParameter("read only", &m_readOnly, 7, true);
  }
  int m_persistSigned = 0;
  unsigned int m_persistUnsigned = 0;

 private:
  int m_int = 0, m_intChoice = 0, m_readOnly = 0;
  unsigned int m_uint = 0, m_uintChoice = 0;
  std::string m_text, m_textChoice;
  bool m_flag = false;
  double m_real = 0, m_realChoice = 0;
};

const char* const kNames[] = {"int", "uint", "text", "flag", "real", "int choice", "uint choice", "text choice",
                              "real choice", "read only"};

void ReadBack(Settings& s) {
  char value[4096];
  int length = 0;
  for (const char* name : kNames) {
    s.GetParameter(name, sizeof value, value, &length);
    s.GetParameter(name, 1, value, &length);  // too short: refused, nothing overrun
  }
  std::vector<char> all(8192);
  s.GetParameterSettings(all.data(), static_cast<int>(all.size()));
  s.GetParameterSettings(all.data(), 3);
}

// By-value variant types (pointer types would carry addresses, not data) and text.
const VARTYPE kTypes[] = {VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_ERROR,
                          VT_BOOL, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT,
                          VT_HRESULT, VT_INT_PTR, VT_UINT_PTR};

// One variant from the front of the bytes: a type index, 8 value bytes, or a text length and text.
bool TakeVariant(const uint8_t*& p, const uint8_t* end, VARIANT* v) {
  VariantInit(v);
  if (p >= end) return false;
  const VARTYPE type = kTypes[*p++ % (sizeof kTypes / sizeof kTypes[0])];
  if (type == VT_BSTR) {
    size_t n = p < end ? *p++ : 0;
    if (n > static_cast<size_t>(end - p)) n = static_cast<size_t>(end - p);
    std::wstring text;
    for (size_t i = 0; i < n; ++i) text += static_cast<wchar_t>(p[i]);
    p += n;
    v->vt = VT_BSTR;
    v->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return true;
  }
  uint8_t bits[8] = {};
  for (size_t i = 0; i < 8 && p < end; ++i) bits[i] = *p++;
  std::memcpy(&v->llVal, bits, sizeof bits);
  v->vt = type;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Owner owner;
  Settings s(&owner);
  const uint8_t action = data[0];
  const uint8_t* p = data + 1;
  const uint8_t* end = data + size;
  if (action < 10) {
    std::string text(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));
    s.SetParameter(kNames[action], text.c_str());
    ReadBack(s);
    s.RevertParameter(kNames[action]);
    ReadBack(s);
  } else if (action == 10) {
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnMemory(p, static_cast<ULONG>(end - p), &stream))) return 0;
    if (SUCCEEDED(static_cast<IPersistStream&>(s).Load(stream))) {
      const int a = s.m_persistSigned;
      const unsigned b = s.m_persistUnsigned;
      IStream* saved = nullptr;
      if (SUCCEEDED(CreateStreamOnMemory(nullptr, 0, &saved))) {
        static_cast<IPersistStream&>(s).Save(saved, TRUE);
        LARGE_INTEGER zero{};
        saved->Seek(zero, STREAM_SEEK_SET, nullptr);
        s.m_persistSigned = ~a;
        s.m_persistUnsigned = ~b;
        // What was loaded saves and loads back to the same values.
        if (FAILED(static_cast<IPersistStream&>(s).Load(saved)) || s.m_persistSigned != a || s.m_persistUnsigned != b)
          std::abort();
        saved->Release();
      }
    }
    stream->Release();
  } else {
    const wchar_t* const names[] = {L"\"SIGNED\"", L"\"unsigned\"", L"SIGNED", L""};
    IPropertyBag* bag = nullptr;
    if (action == 11 && FAILED(CreateMemoryPropertyBag(&bag))) return 0;
    for (size_t i = 0; p < end; ++i) {
      VARIANT v;
      if (!TakeVariant(p, end, &v)) break;
      const wchar_t* name = names[i % 4];
      if (bag) bag->Write(name, &v);
      else static_cast<IPropertyBag&>(s).Write(name, &v);
      VariantClear(&v);
    }
    if (bag) {
      static_cast<IPersistPropertyBag&>(s).Load(bag, nullptr);
      bag->Release();
    }
    VARIANT out;
    VariantInit(&out);
    static_cast<IPropertyBag&>(s).Read(L"\"SIGNED\"", &out, nullptr);
    VariantClear(&out);
  }
  return 0;
}

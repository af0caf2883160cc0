#include "framework/persist.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <new>

#include "platform/com/decimal.h"
#include "platform/com/runtime.h"

namespace {

// Property names compare without regard to case.
bool SameName(const wchar_t* a, const wchar_t* b) {
  for (; *a && *b; ++a, ++b) {
    if (std::towlower(static_cast<wint_t>(*a)) != std::towlower(static_cast<wint_t>(*b))) return false;
  }
  return *a == *b;
}

template <class Char>
DWORD TextToPersisted(const Char* text, PersistKind kind) {
  if (kind == PersistKind::Unsigned) return plenor::ClampedDecimal<DWORD>(text);
  return static_cast<DWORD>(plenor::ClampedDecimal<int>(text));
}

// A real number truncated toward zero, when the result fits the persisted kind.
bool RealToPersisted(double d, PersistKind kind, DWORD* out) {
  if (std::isnan(d)) return false;
  double t = std::trunc(d);
  if (kind == PersistKind::Unsigned) {
    if (d < 0 || t > 4294967295.0) return false;
    *out = static_cast<DWORD>(t);
  } else {
    if (t < -2147483648.0 || t > 2147483647.0) return false;
    *out = static_cast<DWORD>(static_cast<LONG>(t));
  }
  return true;
}

// Copies a property name into task memory, as the bag may keep the pointer for the call only.
struct TaskName {
  explicit TaskName(const wchar_t* name) {
    size_t bytes = (std::wcslen(name) + 1) * sizeof(wchar_t);
    p = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (p) std::memcpy(p, name, bytes);
  }
  ~TaskName() { CoTaskMemFree(p); }
  TaskName(const TaskName&) = delete;
  TaskName& operator=(const TaskName&) = delete;
  wchar_t* p;
};

}  // namespace

bool VariantToPersisted(const VARIANT& v, PersistKind kind, DWORD* out) {
  const bool isUnsigned = kind == PersistKind::Unsigned;
  switch (v.vt) {
    case VT_I1:
      *out = static_cast<DWORD>(static_cast<LONG>(static_cast<signed char>(v.cVal)));
      return true;
    case VT_I2:
      if (isUnsigned && v.iVal < 0) return false;
      *out = static_cast<DWORD>(static_cast<LONG>(v.iVal));
      return true;
    case VT_BOOL:
      *out = static_cast<DWORD>(static_cast<LONG>(v.boolVal));
      return true;
    case VT_UI1:
      *out = v.bVal;
      return true;
    case VT_UI2:
      *out = v.uiVal;
      return true;
    case VT_I4:
    case VT_INT:
      if (isUnsigned && v.lVal < 0) return false;
      *out = static_cast<DWORD>(v.lVal);
      return true;
    case VT_UI4:
    case VT_UINT:
      *out = v.ulVal;
      return true;
    case VT_I8:
      if (isUnsigned && v.llVal < 0) return false;
      *out = static_cast<DWORD>(static_cast<ULONGLONG>(v.llVal));
      return true;
    case VT_UI8:
      *out = static_cast<DWORD>(v.ullVal);
      return true;
    case VT_INT_PTR:
      if (isUnsigned && v.intptrVal < 0) return false;
      *out = static_cast<DWORD>(static_cast<UINT_PTR>(v.intptrVal));
      return true;
    case VT_UINT_PTR:
      *out = static_cast<DWORD>(v.uintptrVal);
      return true;
    case VT_R4:
      return RealToPersisted(v.fltVal, kind, out);
    case VT_R8:
      return RealToPersisted(v.dblVal, kind, out);
    // Text: the one decimal rule (platform/com/decimal.h), clamped to the persisted kind's range.
    case VT_BSTR:
      if (!v.bstrVal) return false;
      *out = TextToPersisted(v.bstrVal, kind);
      return true;
    case VT_LPWSTR:
      if (!v.pwszVal) return false;
      *out = TextToPersisted(v.pwszVal, kind);
      return true;
    case VT_LPSTR:
      if (!v.pszVal) return false;
      *out = TextToPersisted(v.pszVal, kind);
      return true;
    default:
      return false;  // every other type, by-reference and array types included
  }
}

CPersistSettings::CPersistSettings(IUnknown* pOwner, const CLSID& clsid, PersistKind kind,
                                   std::initializer_list<PersistField> fields)
    : m_pOwner(pOwner), m_clsid(clsid), m_kind(kind), m_fields(fields) {}

CPersistSettings::~CPersistSettings() = default;

HRESULT CPersistSettings::GetPersistInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IPersistPropertyBag) {
    *ppv = static_cast<IPersistPropertyBag*>(this);
  } else if (riid == IID_IPersistStream) {
    *ppv = static_cast<IPersistStream*>(this);
  } else if (riid == IID_IPropertyBag) {
    *ppv = static_cast<IPropertyBag*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  m_pOwner->AddRef();
  return S_OK;
}

STDMETHODIMP CPersistSettings::QueryInterface(REFIID riid, void** ppv) { return m_pOwner->QueryInterface(riid, ppv); }
STDMETHODIMP_(ULONG) CPersistSettings::AddRef() { return m_pOwner->AddRef(); }
STDMETHODIMP_(ULONG) CPersistSettings::Release() { return m_pOwner->Release(); }

DWORD CPersistSettings::GetValue(const PersistField& f) const {
  DWORD v;
  std::memcpy(&v, f.value, sizeof v);
  return v;
}

void CPersistSettings::SetValue(const PersistField& f, DWORD v) { std::memcpy(f.value, &v, sizeof v); }

const PersistField* CPersistSettings::Find(LPCOLESTR name) const {
  for (const PersistField& f : m_fields) {
    if (SameName(f.name, name)) return &f;
  }
  return nullptr;
}

STDMETHODIMP CPersistSettings::GetClassID(CLSID* pClassID) {
  if (!pClassID) return E_POINTER;
  *pClassID = m_clsid;
  return S_OK;
}

STDMETHODIMP CPersistSettings::IsDirty() { return m_bDirty ? S_OK : S_FALSE; }

STDMETHODIMP CPersistSettings::Load(IStream* pStm) {
  if (!pStm) return E_INVALIDARG;
  try {
    std::vector<DWORD> values(m_fields.size());
    for (DWORD& v : values) {
      BYTE b[4] = {};
      ULONG got = 0;
      HRESULT hr = pStm->Read(b, sizeof b, &got);
      if (FAILED(hr)) return hr;
      // A record cut short changes nothing: no value is taken from bytes that were not read.
      if (got != sizeof b) return STG_E_READFAULT;
      v = static_cast<DWORD>(b[0]) | (static_cast<DWORD>(b[1]) << 8) | (static_cast<DWORD>(b[2]) << 16) |
          (static_cast<DWORD>(b[3]) << 24);
    }
    bool changed = false;
    for (size_t i = 0; i < m_fields.size(); ++i) changed |= GetValue(m_fields[i]) != values[i];
    if (changed) {
      for (size_t i = 0; i < m_fields.size(); ++i) SetValue(m_fields[i], values[i]);
      m_bDirty = true;
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP CPersistSettings::Save(IStream* pStm, BOOL fClearDirty) {
  if (!pStm) return E_INVALIDARG;
  for (const PersistField& f : m_fields) {
    DWORD v = GetValue(f);
    const BYTE b[4] = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
                       static_cast<BYTE>(v >> 24)};
    ULONG written = 0;
    HRESULT hr = pStm->Write(b, sizeof b, &written);
    if (FAILED(hr)) return hr;
    if (written != sizeof b) return STG_E_MEDIUMFULL;
  }
  if (fClearDirty) m_bDirty = false;
  return S_OK;
}

STDMETHODIMP CPersistSettings::GetSizeMax(ULARGE_INTEGER* pcbSize) {
  if (!pcbSize) return E_INVALIDARG;
  pcbSize->QuadPart = RecordSize();
  return S_OK;
}

STDMETHODIMP CPersistSettings::InitNew() {
  for (const PersistField& f : m_fields) {
    if (f.resetByInitNew) SetValue(f, 0);
  }
  return S_OK;
}

STDMETHODIMP CPersistSettings::Load(IPropertyBag* pPropBag, IErrorLog* /*pErrorLog*/) {
  if (!pPropBag) return E_POINTER;
  for (const PersistField& f : m_fields) {
    TaskName name(f.name);
    if (!name.p) continue;
    VARIANT var;
    VariantInit(&var);
    DWORD v = 0;
    if (SUCCEEDED(pPropBag->Read(name.p, &var, nullptr)) && VariantToPersisted(var, m_kind, &v)) SetValue(f, v);
    VariantClear(&var);
  }
  return S_OK;
}

STDMETHODIMP CPersistSettings::Save(IPropertyBag* pPropBag, BOOL /*fClearDirty*/, BOOL /*fSaveAllProperties*/) {
  if (!pPropBag) return E_POINTER;
  for (const PersistField& f : m_fields) {
    TaskName name(f.name);
    if (!name.p) continue;
    VARIANT var;
    VariantInit(&var);
    var.vt = f.savedType;
    var.ulVal = GetValue(f);  // VT_INT and VT_UINT both live in the 32-bit slot
    pPropBag->Write(name.p, &var);
  }
  return S_OK;
}

STDMETHODIMP CPersistSettings::Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* /*pErrorLog*/) {
  if (!pszPropName || !pVar) return E_INVALIDARG;
  VariantClear(pVar);
  const PersistField* f = Find(pszPropName);
  if (!f) return E_INVALIDARG;
  pVar->vt = f->readType;
  pVar->ulVal = GetValue(*f);
  return S_OK;
}

STDMETHODIMP CPersistSettings::Write(LPCOLESTR pszPropName, VARIANT* pVar) {
  if (!pszPropName || !pVar) return E_INVALIDARG;
  const PersistField* f = Find(pszPropName);
  DWORD v = 0;
  if (!f || !VariantToPersisted(*pVar, m_kind, &v)) return E_INVALIDARG;
  SetValue(*f, v);
  return S_OK;
}

STDMETHODIMP CLockedPersistSettings::IsDirty() {
  CAutoLock lock(m_pPersistLock);
  return CPersistSettings::IsDirty();
}

STDMETHODIMP CLockedPersistSettings::Load(IStream* pStm) {
  CAutoLock lock(m_pPersistLock);
  return CPersistSettings::Load(pStm);
}

STDMETHODIMP CLockedPersistSettings::Save(IStream* pStm, BOOL fClearDirty) {
  CAutoLock lock(m_pPersistLock);
  return CPersistSettings::Save(pStm, fClearDirty);
}

STDMETHODIMP CLockedPersistSettings::InitNew() {
  CAutoLock lock(m_pPersistLock);
  return CPersistSettings::InitNew();
}

STDMETHODIMP CLockedPersistSettings::Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) {
  CAutoLock lock(m_pPersistLock);
  return CPersistSettings::Load(pPropBag, pErrorLog);
}

STDMETHODIMP CLockedPersistSettings::Save(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL fSaveAllProperties) {
  CAutoLock lock(m_pPersistLock);
  return CPersistSettings::Save(pPropBag, fClearDirty, fSaveAllProperties);
}

STDMETHODIMP CLockedPersistSettings::Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) {
  CAutoLock lock(m_pPersistLock);
  return CPersistSettings::Read(pszPropName, pVar, pErrorLog);
}

STDMETHODIMP CLockedPersistSettings::Write(LPCOLESTR pszPropName, VARIANT* pVar) {
  CAutoLock lock(m_pPersistLock);
  return CPersistSettings::Write(pszPropName, pVar);
}

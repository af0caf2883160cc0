// Settings persistence shared by the persisting filters: IPersistStream (a fixed record of 32-bit
// little-endian values), IPersistPropertyBag (the same values as named properties) and
// IPropertyBag on the filter itself (read and write those properties directly).
//
// A filter lists the persisted members once, in record order, and derives from CPersistSettings:
//
//   class TimeShiftFilter : public CTransInPlaceFilter, public CSettingsInterface,
//                           public ISpecifyPropertyPages, public CPersistSettings {
//     TimeShiftFilter(LPUNKNOWN pUnk, HRESULT* phr)
//         : CTransInPlaceFilter(..., CLSID_TimeShiftFilter, ...),
//           CSettingsInterface(GetOwner()),
//           CPersistSettings(GetOwner(), CLSID_TimeShiftFilter, PersistKind::Signed,
//                            {{L"\"TIME SKEW\"", &m_nSkew, VT_INT, VT_INT, true}}) {...}
//     STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
//       if (GetPersistInterface(riid, ppv) == S_OK) return S_OK;  // bags, stream
//       ...
//     }
//   };
//
// Property names carry a double quote at each end and compare without regard to case. Values set
// through persistence go straight into the members: no read-only or allowed-value check, no
// previous value for RevertParameter, no SetParameter reaction.
//
// Threads: called on application threads (graph load and save, hosts); no lock is taken. The
// streaming thread may read the same members. A filter that guards them with a state lock
// derives from CLockedPersistSettings (below) instead, which takes that lock around every call.
#pragma once

#include <initializer_list>
#include <vector>

#include "platform/com/objidl.h"
#include "platform/strmbase/wxutil.h"

// How variants convert to the persisted values. Signed: every numeric variant converts (low 32
// bits, truncation toward zero). Unsigned: negative VT_I2/I4/INT/I8/INT_PTR/R4/R8 values are
// refused, VT_I1 and VT_BOOL are still taken sign-extended (VARIANT_TRUE gives 4294967295).
enum class PersistKind { Signed, Unsigned };

// One persisted value.
struct PersistField {
  PersistField(const wchar_t* name, int* value, VARTYPE savedType, VARTYPE readType, bool resetByInitNew)
      : name(name), value(value), savedType(savedType), readType(readType), resetByInitNew(resetByInitNew) {}
  PersistField(const wchar_t* name, unsigned int* value, VARTYPE savedType, VARTYPE readType, bool resetByInitNew)
      : name(name), value(value), savedType(savedType), readType(readType), resetByInitNew(resetByInitNew) {}

  const wchar_t* name;   // property name with its quotes, e.g. L"\"CHANNEL\""; static text
  void* value;           // the filter's 32-bit member (int or unsigned int)
  VARTYPE savedType;     // variant type IPersistPropertyBag::Save writes (VT_INT or VT_UINT)
  VARTYPE readType;      // variant type IPropertyBag::Read returns (VT_INT or VT_UINT)
  bool resetByInitNew;   // IPersistPropertyBag::InitNew sets it to 0
};

// Converts a variant to a persisted value by the table of kind; false when it does not convert
// (unsupported or by-reference type, null string, negative value for the unsigned kind, real
// number outside the 32-bit range or not a number).
bool VariantToPersisted(const VARIANT& v, PersistKind kind, DWORD* out);

class CPersistSettings : public IPersistStream, public IPersistPropertyBag, public IPropertyBag {
 public:
  // pOwner: the filter's controlling IUnknown (not reference-counted); clsid: the filter's class
  // id; fields: the persisted members in record order (they belong to the filter).
  CPersistSettings(IUnknown* pOwner, const CLSID& clsid, PersistKind kind, std::initializer_list<PersistField> fields);
  CPersistSettings(const CPersistSettings&) = delete;
  CPersistSettings& operator=(const CPersistSettings&) = delete;
  virtual ~CPersistSettings();

  // Answers IID_IPersistPropertyBag, IID_IPersistStream and IID_IPropertyBag (in that order);
  // E_NOINTERFACE for anything else. For the filter's NonDelegatingQueryInterface.
  HRESULT GetPersistInterface(REFIID riid, void** ppv);

  // IUnknown: forwarded to the owner.
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IPersist (both persistence interfaces).
  STDMETHODIMP GetClassID(CLSID* pClassID) override;

  // IPersistStream.
  STDMETHODIMP IsDirty() override;
  STDMETHODIMP Load(IStream* pStm) override;
  STDMETHODIMP Save(IStream* pStm, BOOL fClearDirty) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER* pcbSize) override;

  // IPersistPropertyBag.
  STDMETHODIMP InitNew() override;
  STDMETHODIMP Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) override;
  STDMETHODIMP Save(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL fSaveAllProperties) override;

  // IPropertyBag on the filter.
  STDMETHODIMP Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) override;
  STDMETHODIMP Write(LPCOLESTR pszPropName, VARIANT* pVar) override;

  // Record size in bytes (4 per value).
  ULONG RecordSize() const { return static_cast<ULONG>(m_fields.size() * 4); }

 protected:
  // True when constructed; set by a stream load that changes a value, cleared only by a stream
  // save asked to clear it.
  bool m_bDirty = true;

 private:
  DWORD GetValue(const PersistField& f) const;
  void SetValue(const PersistField& f, DWORD v);
  const PersistField* Find(LPCOLESTR name) const;

  IUnknown* const m_pOwner;
  const CLSID m_clsid;
  const PersistKind m_kind;
  std::vector<PersistField> m_fields;
};

// The persistence of a filter whose streaming thread reads the persisted members under its state
// lock: every load, save, dirty test and property read or write runs under that lock (pLock, the
// filter's; it must outlive this object and is used only after construction). A property-bag load
// or save calls the host's bag while holding it: the bag must not wait for the filter's streaming
// thread.
class CLockedPersistSettings : public CPersistSettings {
 public:
  CLockedPersistSettings(IUnknown* pOwner, const CLSID& clsid, PersistKind kind,
                         std::initializer_list<PersistField> fields, CCritSec* pLock)
      : CPersistSettings(pOwner, clsid, kind, fields), m_pPersistLock(pLock) {}

  STDMETHODIMP IsDirty() override;
  STDMETHODIMP Load(IStream* pStm) override;
  STDMETHODIMP Save(IStream* pStm, BOOL fClearDirty) override;
  STDMETHODIMP InitNew() override;
  STDMETHODIMP Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) override;
  STDMETHODIMP Save(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL fSaveAllProperties) override;
  STDMETHODIMP Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) override;
  STDMETHODIMP Write(LPCOLESTR pszPropName, VARIANT* pVar) override;

 private:
  CCritSec* const m_pPersistLock;
};

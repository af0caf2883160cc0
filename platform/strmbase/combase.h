// CUnknown: the non-delegating IUnknown with aggregation support, and the per-module count of live
// objects that decides when a module may be unloaded.
#pragma once

#include <atomic>

#include "platform/com/unknown.h"

// The non-delegating IUnknown: same vtable layout as IUnknown, so a pointer to it can stand for the
// object's inner IUnknown when the object is aggregated.
struct INonDelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;

 protected:
  ~INonDelegatingUnknown() = default;
};
using PNDUNKNOWN = INonDelegatingUnknown*;

// Counts every live object of the module (filters, pins, enumerators, pages, class factories).
class CBaseObject {
 public:
  explicit CBaseObject(const wchar_t* pName);
  CBaseObject(const CBaseObject&) = delete;
  CBaseObject& operator=(const CBaseObject&) = delete;
  virtual ~CBaseObject();
  static LONG ObjectsActive() { return m_cObjects.load(); }

 protected:
  const wchar_t* m_pName;

 private:
  static std::atomic<LONG> m_cObjects;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  // pUnk: the controlling outer object, or null when not aggregated.
  CUnknown(const wchar_t* pName, LPUNKNOWN pUnk, HRESULT* phr = nullptr);
  ~CUnknown() override = default;

  // The outer IUnknown when aggregated, else this object's own (non-delegating) IUnknown.
  LPUNKNOWN GetOwner() const { return m_pUnknown; }

  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

 protected:
  std::atomic<LONG> m_cRef{0};

 private:
  LPUNKNOWN const m_pUnknown;
};

// Returns pUnk in *ppv with a reference added; E_POINTER for a null ppv.
HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv);

inline LPUNKNOWN AsUnknown(INonDelegatingUnknown* p) { return reinterpret_cast<LPUNKNOWN>(p); }

// The IUnknown operations of an object that delegate to its owner.
#define DECLARE_IUNKNOWN                                                       \
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {             \
    return GetOwner()->QueryInterface(riid, ppv);                              \
  }                                                                            \
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }      \
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }

// CUnknown: the non-delegating IUnknown with aggregation support, and the per-module count of live
// objects that decides when a module may be unloaded.
#pragma once

#include <atomic>

#include "platform/com/unknown.h"

// The non-delegating IUnknown of an object: the operations that act on the object itself, whether
// or not it is aggregated. CUnknown exposes them as a real IUnknown through GetInner().
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
  // This object's own IUnknown (the one an aggregating outer object holds): its operations are
  // the non-delegating ones.
  LPUNKNOWN GetInner() { return &m_inner; }

  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

 protected:
  std::atomic<LONG> m_cRef{0};

 private:
  // A real IUnknown forwarding to the non-delegating operations, so that no pointer is ever
  // reinterpreted as an interface it does not implement.
  struct InnerUnknown final : IUnknown {
    explicit InnerUnknown(CUnknown* owner) : m_pOwner(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
      return m_pOwner->NonDelegatingQueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return m_pOwner->NonDelegatingAddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_pOwner->NonDelegatingRelease(); }
    CUnknown* const m_pOwner;
  };
  InnerUnknown m_inner{this};
  LPUNKNOWN const m_pUnknown;
};

// Returns pUnk in *ppv with a reference added; E_POINTER for a null ppv.
HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv);

// The object's own IUnknown (see CUnknown::GetInner).
inline LPUNKNOWN AsUnknown(CUnknown* p) { return p->GetInner(); }

// The IUnknown operations of an object that delegate to its owner.
#define DECLARE_IUNKNOWN                                                       \
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {             \
    return GetOwner()->QueryInterface(riid, ppv);                              \
  }                                                                            \
  STDMETHODIMP_(ULONG) AddRef() override { return GetOwner()->AddRef(); }      \
  STDMETHODIMP_(ULONG) Release() override { return GetOwner()->Release(); }

#include "platform/strmbase/combase.h"

std::atomic<LONG> CBaseObject::m_cObjects{0};

CBaseObject::CBaseObject(const wchar_t* pName) : m_pName(pName) { m_cObjects.fetch_add(1); }

CBaseObject::~CBaseObject() { m_cObjects.fetch_sub(1); }

CUnknown::CUnknown(const wchar_t* pName, LPUNKNOWN pUnk, HRESULT* /*phr*/)
    : CBaseObject(pName), m_pUnknown(pUnk ? pUnk : &m_inner) {}

STDMETHODIMP CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IUnknown) return GetInterface(&m_inner, ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingAddRef() { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }

STDMETHODIMP_(ULONG) CUnknown::NonDelegatingRelease() {
  LONG left = m_cRef.fetch_sub(1) - 1;
  if (left == 0) {
    // Guard against a re-entrant release from the destructor (an object releasing an interface
    // that points back to it).
    m_cRef.store(1);
    delete this;
    return 0;
  }
  return static_cast<ULONG>(left > 0 ? left : 1);
}

HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = pUnk;
  pUnk->AddRef();
  return S_OK;
}

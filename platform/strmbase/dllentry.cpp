// Module entry: class factory, lock and object counting, load/unload hooks, DllGetClassObject and
// DllCanUnloadNow.
#include "platform/strmbase/dllentry.h"

#include <new>

#include "platform/com/runtime.h"

HINSTANCE g_hInst = nullptr;
DWORD g_amPlatform = VER_PLATFORM_WIN32_WINDOWS;

std::atomic<LONG> CClassFactory::m_cLocked{0};

namespace {

// Any symbol of this module identifies it to the runtime.
const char g_moduleMarker = 0;

void CallInitRoutines(BOOL bLoading) {
  for (int i = 0; i < g_cTemplates; ++i) {
    const CFactoryTemplate& t = g_Templates[i];
    if (t.m_lpfnInit) t.m_lpfnInit(bLoading, t.m_ClsID);
  }
}

// Process attach: runs when the module is loaded, before dlopen returns. The template table is
// constant-initialised, so it is ready here.
__attribute__((constructor)) void ModuleAttach() {
  g_hInst = ModuleHandleFromAddress(&g_moduleMarker);
  g_amPlatform = VER_PLATFORM_WIN32_NT;
  CallInitRoutines(TRUE);
}

// Process detach: runs when the module is unloaded or the process exits.
__attribute__((destructor)) void ModuleDetach() { CallInitRoutines(FALSE); }

}  // namespace

HINSTANCE GetModuleInstance() {
  if (!g_hInst) g_hInst = ModuleHandleFromAddress(&g_moduleMarker);
  return g_hInst;
}

CClassFactory::CClassFactory(const CFactoryTemplate* pTemplate)
    : CBaseObject(L"Class factory"), m_pTemplate(pTemplate) {}

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_IClassFactory) {
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef() { return static_cast<ULONG>(m_cRef.fetch_add(1) + 1); }

STDMETHODIMP_(ULONG) CClassFactory::Release() {
  LONG left = m_cRef.fetch_sub(1) - 1;
  if (left == 0) {
    delete this;
    return 0;
  }
  return static_cast<ULONG>(left);
}

STDMETHODIMP CClassFactory::CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregated object can only hand its inner IUnknown to the outer object.
  if (pUnkOuter && riid != IID_IUnknown) return E_NOINTERFACE;

  HRESULT hr = S_OK;
  CUnknown* pObj = nullptr;
  try {
    pObj = m_pTemplate->CreateInstance(pUnkOuter, &hr);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
  if (!pObj) return FAILED(hr) ? hr : E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete pObj;  // never referenced: its count is still zero
    return hr;
  }
  // Hold the object across the query so that a failed query destroys it.
  pObj->NonDelegatingAddRef();
  hr = pObj->NonDelegatingQueryInterface(riid, ppv);
  pObj->NonDelegatingRelease();
  return hr;
}

STDMETHODIMP CClassFactory::LockServer(BOOL fLock) {
  if (fLock)
    m_cLocked.fetch_add(1);
  else
    m_cLocked.fetch_sub(1);
  return S_OK;
}

extern "C" PLENOR_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
  for (int i = 0; i < g_cTemplates; ++i) {
    const CFactoryTemplate* t = &g_Templates[i];
    if (!t->IsClassID(rclsid)) continue;
    auto* factory = new (std::nothrow) CClassFactory(t);
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    *ppv = static_cast<IClassFactory*>(factory);
    return S_OK;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" PLENOR_EXPORT HRESULT DllCanUnloadNow() {
  return (CClassFactory::IsLocked() || CBaseObject::ObjectsActive() > 0) ? S_FALSE : S_OK;
}

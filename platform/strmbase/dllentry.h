// Module entry of a filter module: the factory-template table every module defines, the class
// factory bound to one template, the module's object and lock counting, the load/unload hooks that
// stand in for the process attach/detach notifications, and the exported entry points.
//
// A module supplies exactly two definitions (and links strmbase, which brings the rest):
//
//   const AMOVIESETUP_MEDIATYPE sudTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_I420}};
//   const AMOVIESETUP_PIN sudPins[] = {
//       {L"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, sudTypes}};
//   const AMOVIESETUP_FILTER sudFilter = {&CLSID_MyFilter, L"My Filter", MERIT_DO_NOT_USE, 1, sudPins};
//
//   CFactoryTemplate g_Templates[] = {
//       {L"My Filter", &CLSID_MyFilter, CMyFilter::CreateInstance, nullptr, &sudFilter},
//       {L"My Properties", &CLSID_MyPage, CMyPage::CreateInstance, nullptr, nullptr},
//   };
//   int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);
//
// A creation function allocates and constructs the object; on allocation failure it stores
// E_OUTOFMEMORY in *phr and returns null. It may also report a construction failure through *phr
// together with the object, which the class factory then destroys.
#pragma once

#include <atomic>

#include "platform/strmbase/combase.h"
#include "platform/strmbase/strmif.h"

// Creates a new object. pUnkOuter is the controlling IUnknown (null when not aggregated); *phr
// arrives as S_OK. Returns the object (its non-delegating IUnknown) or null.
using LPFNNewCOMObject = CUnknown* (*)(LPUNKNOWN pUnkOuter, HRESULT* phr);
// Called when the module is loaded (bLoading TRUE) and unloaded (FALSE) with the template's class id.
using LPFNInitRoutine = void (*)(BOOL bLoading, const CLSID* rclsid);

// One creatable class of the module. An aggregate so that modules can define their table with a
// brace initialiser (constant-initialised, hence ready before any load-time code runs).
struct CFactoryTemplate {
  const WCHAR* m_Name;                               // display name; the CLSID key's default value
  const CLSID* m_ClsID;                              // the class this entry creates
  LPFNNewCOMObject m_lpfnNew;                        // creation function
  LPFNInitRoutine m_lpfnInit;                        // load/unload routine or null
  const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;   // filter setup data (filters only) or null

  BOOL IsClassID(REFCLSID rclsid) const { return IsEqualCLSID(*m_ClsID, rclsid); }
  CUnknown* CreateInstance(LPUNKNOWN pUnkOuter, HRESULT* phr) const { return m_lpfnNew(pUnkOuter, phr); }
};

// Defined by each module (module-local: modules are built with hidden visibility).
extern CFactoryTemplate g_Templates[];
extern int g_cTemplates;

// Module state, recorded by the load hook.
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
extern HINSTANCE g_hInst;    // the module's instance handle (null until loaded)
extern DWORD g_amPlatform;   // platform id; VER_PLATFORM_WIN32_WINDOWS until the module is loaded

// The module's instance handle: g_hInst, looked up again when the load hook could not record it
// (the module was loaded before the runtime knew about it).
HINSTANCE GetModuleInstance();

// The class factory of one template. Counts as a live object of the module while it exists.
class CClassFactory final : public IClassFactory, public CBaseObject {
 public:
  explicit CClassFactory(const CFactoryTemplate* pTemplate);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // Aggregation is allowed only when the caller asks for the inner IUnknown.
  STDMETHODIMP CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** ppv) override;
  STDMETHODIMP LockServer(BOOL fLock) override;

  // True while LockServer(TRUE) calls outnumber LockServer(FALSE) calls.
  static BOOL IsLocked() { return m_cLocked.load() > 0 ? TRUE : FALSE; }

 private:
  ~CClassFactory() override = default;

  const CFactoryTemplate* const m_pTemplate;
  std::atomic<LONG> m_cRef{0};
  static std::atomic<LONG> m_cLocked;
};

// The module's exports (cmake/plugin.map keeps them the only exported symbols of a module).
extern "C" {
PLENOR_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
PLENOR_EXPORT HRESULT DllCanUnloadNow();
PLENOR_EXPORT HRESULT DllRegisterServer();
PLENOR_EXPORT HRESULT DllUnregisterServer();
}

// Signatures of the exports, for hosts that look them up with GetProcAddress.
using PFN_DllGetClassObject = HRESULT (*)(REFCLSID, REFIID, void**);
using PFN_DllCanUnloadNow = HRESULT (*)();
using PFN_DllRegisterServer = HRESULT (*)();
using PFN_DllUnregisterServer = HRESULT (*)();

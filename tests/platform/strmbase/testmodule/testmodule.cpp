// A test-only filter module: one creatable "filter" (no pins of its own, only registration data),
// one page class and, in module 1, a class whose construction fails. Every object reports the
// module's state through ITestModuleProbe.
#include "tests/platform/strmbase/testmodule/testmodule.h"

#include <atomic>
#include <new>

#include "platform/strmbase/dllentry.h"

#ifndef PLENOR_TEST_MODULE_INDEX
#error PLENOR_TEST_MODULE_INDEX must be 1 to 4
#endif

namespace {

constexpr int kIndex = PLENOR_TEST_MODULE_INDEX;
constexpr CLSID kFilterClsid = TestFilterClsid(kIndex);
constexpr CLSID kPageClsid = TestPageClsid(kIndex);

std::atomic<LONG> g_creations{0};
std::atomic<LONG> g_loadCalls{0};

class CTestObject : public CUnknown, public ITestModuleProbe {
 public:
  CTestObject(const wchar_t* name, LPUNKNOWN pUnk) : CUnknown(name, pUnk), m_bAggregated(pUnk != nullptr) {
    g_creations.fetch_add(1);
  }
  DECLARE_IUNKNOWN

  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_ITestModuleProbe) return GetInterface(static_cast<ITestModuleProbe*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }

  STDMETHODIMP_(LONG) ObjectsActive() override { return CBaseObject::ObjectsActive(); }
  STDMETHODIMP_(LONG) Creations() override { return g_creations.load(); }
  STDMETHODIMP_(LONG) LoadCalls() override { return g_loadCalls.load(); }
  STDMETHODIMP_(HINSTANCE) Instance() override { return g_hInst; }
  STDMETHODIMP_(DWORD) Platform() override { return g_amPlatform; }
  STDMETHODIMP_(int) ModuleIndex() override { return kIndex; }
  STDMETHODIMP_(BOOL) IsAggregated() override { return m_bAggregated ? TRUE : FALSE; }

 private:
  const bool m_bAggregated;
};

CUnknown* CreateFilter(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* p = new (std::nothrow) CTestObject(L"Test filter", pUnk);
  if (!p) *phr = E_OUTOFMEMORY;
  return p;
}

CUnknown* CreatePage(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* p = new (std::nothrow) CTestObject(L"Test page", pUnk);
  if (!p) *phr = E_OUTOFMEMORY;
  return p;
}

#if PLENOR_TEST_MODULE_INDEX == 1
CUnknown* CreateFailing(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* p = new (std::nothrow) CTestObject(L"Failing object", pUnk);
  *phr = p ? E_ACCESSDENIED : E_OUTOFMEMORY;
  return p;
}
#endif

void InitRoutine(BOOL bLoading, const CLSID*) {
  if (bLoading) g_loadCalls.fetch_add(1);
}

#if PLENOR_TEST_MODULE_INDEX == 1
const AMOVIESETUP_MEDIATYPE kTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_I420}};
const AMOVIESETUP_PIN kPins[] = {{L"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kTypes}};
#elif PLENOR_TEST_MODULE_INDEX == 2
const AMOVIESETUP_MEDIATYPE kInTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}, {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32}};
const AMOVIESETUP_MEDIATYPE kOutTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_I420}};
const AMOVIESETUP_PIN kPins[] = {{L"In", TRUE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 2, kInTypes},
                                 {L"Out", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kOutTypes}};
#elif PLENOR_TEST_MODULE_INDEX == 3
const AMOVIESETUP_MEDIATYPE kTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const AMOVIESETUP_PIN kPins[] = {{L"", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kTypes},
                                 {L"", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kTypes}};
#endif

#if PLENOR_TEST_MODULE_INDEX == 1 || PLENOR_TEST_MODULE_INDEX == 2 || PLENOR_TEST_MODULE_INDEX == 3
constexpr UINT kPinCount = sizeof(kPins) / sizeof(kPins[0]);
const AMOVIESETUP_PIN* const kPinArray = kPins;
#else
constexpr UINT kPinCount = 0;
const AMOVIESETUP_PIN* const kPinArray = nullptr;
#endif

#define PLENOR_WIDEN2(x) L##x
#define PLENOR_WIDEN(x) PLENOR_WIDEN2(x)
#define PLENOR_STR2(x) #x
#define PLENOR_STR(x) PLENOR_STR2(x)
#define FILTER_NAME PLENOR_WIDEN("Plenor Test Filter " PLENOR_STR(PLENOR_TEST_MODULE_INDEX))
#define PAGE_NAME PLENOR_WIDEN("Plenor Test Properties " PLENOR_STR(PLENOR_TEST_MODULE_INDEX))

const AMOVIESETUP_FILTER kFilterSetup = {&kFilterClsid, FILTER_NAME, TestFilterMerit(kIndex), kPinCount, kPinArray};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {FILTER_NAME, &kFilterClsid, CreateFilter, InitRoutine, &kFilterSetup},
    {PAGE_NAME, &kPageClsid, CreatePage, nullptr, nullptr},
#if PLENOR_TEST_MODULE_INDEX == 1
    {L"Plenor Test Failing Class", &CLSID_TestFailingClass, CreateFailing, nullptr, nullptr},
#endif
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

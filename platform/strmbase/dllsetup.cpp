// Registration of a module's classes and filters; DllRegisterServer and DllUnregisterServer.
#include "platform/strmbase/dllsetup.h"

#include <memory>
#include <new>
#include <string>
#include <type_traits>

#include "platform/com/registry.h"
#include "platform/com/runtime.h"

namespace {

// Mapper results that mean "this filter was not registered": not an error when unregistering.
constexpr HRESULT kNotRegistered = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

std::string ClassKeyName(REFCLSID clsid) {
  WCHAR guid[39];
  StringFromGUID2(clsid, guid, 39);
  return WideToUtf8(std::wstring(L"CLSID\\") + guid);
}

LSTATUS SetString(HKEY key, const char* valueName, const std::wstring& text) {
  std::string narrow = WideToUtf8(text);
  return RegSetValueEx(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(narrow.c_str()),
                       static_cast<DWORD>(narrow.size() + 1));
}

// Deletes parent\name after deleting each of its subkeys the same way.
LSTATUS DeleteKeyTree(HKEY parent, const std::string& name) {
  HKEY raw = nullptr;
  LSTATUS rc = RegOpenKeyEx(parent, name.c_str(), 0, KEY_ALL_ACCESS, &raw);
  if (rc != ERROR_SUCCESS) return rc;
  UniqueKey key(raw);
  for (;;) {
    // Always the first subkey: deleting one renumbers the rest.
    char sub[MAX_PATH];
    DWORD cch = sizeof sub;
    rc = RegEnumKeyEx(key.get(), 0, sub, &cch, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    rc = DeleteKeyTree(key.get(), std::string(sub, cch));
    if (rc != ERROR_SUCCESS) return rc;
  }
  key.reset();
  return RegDeleteKey(parent, name.c_str());
}

const CLSID& OrNull(const CLSID* p) { return p ? *p : CLSID_NULL; }

}  // namespace

HRESULT AMovieSetupRegisterServer(REFCLSID clsServer, LPCWSTR szDescription, LPCWSTR szFileName,
                                  LPCWSTR szThreadingModel, LPCWSTR szServerType) {
  if (!szDescription || !szFileName || !szThreadingModel || !szServerType) return E_POINTER;
  HKEY raw = nullptr;
  LSTATUS rc = RegCreateKey(HKEY_CLASSES_ROOT, ClassKeyName(clsServer).c_str(), &raw);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  UniqueKey classKey(raw);
  rc = SetString(classKey.get(), nullptr, szDescription);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);

  rc = RegCreateKey(classKey.get(), WideToUtf8(szServerType).c_str(), &raw);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  UniqueKey serverKey(raw);
  rc = SetString(serverKey.get(), nullptr, szFileName);
  if (rc == ERROR_SUCCESS) rc = SetString(serverKey.get(), "ThreadingModel", szThreadingModel);
  return HRESULT_FROM_WIN32(rc);
}

HRESULT AMovieSetupUnregisterServer(REFCLSID clsServer) {
  LSTATUS rc = DeleteKeyTree(HKEY_CLASSES_ROOT, ClassKeyName(clsServer));
  if (rc == ERROR_FILE_NOT_FOUND) return S_OK;  // nothing to remove
  return HRESULT_FROM_WIN32(rc);
}

HRESULT AMovieSetupRegisterFilter2(const AMOVIESETUP_FILTER* psetupdata, IFilterMapper2* pIFM2, BOOL bRegister) {
  if (!psetupdata || !psetupdata->clsID || !pIFM2) return E_POINTER;
  // Unregister first so that registering again replaces the entry instead of adding a second one.
  HRESULT hr = pIFM2->UnregisterFilter(nullptr, nullptr, *psetupdata->clsID);
  if (hr == kNotRegistered) hr = S_OK;
  if (SUCCEEDED(hr) && bRegister) {
    REGFILTER2 rf2{};
    rf2.dwVersion = 1;
    rf2.dwMerit = psetupdata->dwMerit;
    rf2.cPins = psetupdata->nPins;
    rf2.rgPins = psetupdata->lpPin;
    hr = pIFM2->RegisterFilter(*psetupdata->clsID, psetupdata->strName, nullptr, nullptr, nullptr, &rf2);
    if (hr == kNotRegistered) hr = S_OK;
  }
  return hr;
}

HRESULT AMovieSetupRegisterFilter(const AMOVIESETUP_FILTER* psetupdata, IFilterMapper* pIFM, BOOL bRegister) {
  if (!psetupdata || !psetupdata->clsID || !pIFM) return E_POINTER;
  const CLSID& clsid = *psetupdata->clsID;
  auto ok = [](HRESULT r) { return r == kNotRegistered ? S_OK : r; };
  HRESULT hr = ok(pIFM->UnregisterFilter(clsid));
  if (FAILED(hr) || !bRegister) return hr;

  hr = ok(pIFM->RegisterFilter(clsid, psetupdata->strName, psetupdata->dwMerit));
  for (UINT p = 0; SUCCEEDED(hr) && p < psetupdata->nPins; ++p) {
    const AMOVIESETUP_PIN& pin = psetupdata->lpPin[p];
    hr = ok(pIFM->RegisterPin(clsid, pin.strName, pin.bRendered, pin.bOutput, pin.bZero, pin.bMany,
                              OrNull(pin.clsConnectsToFilter), pin.strConnectsToPin));
    for (UINT t = 0; SUCCEEDED(hr) && t < pin.nMediaTypes; ++t) {
      const AMOVIESETUP_MEDIATYPE& mt = pin.lpMediaType[t];
      hr = ok(pIFM->RegisterPinType(clsid, pin.strName, OrNull(mt.clsMajorType), OrNull(mt.clsMinorType)));
    }
  }
  return hr;
}

namespace {

HRESULT RegisterWithMapper(BOOL bRegister) {
  // Initialise COM for the mapper; a failure here shows up as a failure to create it.
  HRESULT hrInit = CoInitialize(nullptr);
  HRESULT hr;
  {
    ComPtr<IFilterMapper2> mapper2;
    ComPtr<IFilterMapper> mapper;
    hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                          mapper2.AsOut());
    if (FAILED(hr)) {
      hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                            mapper.AsOut());
    }
    for (int i = 0; SUCCEEDED(hr) && i < g_cTemplates; ++i) {
      const AMOVIESETUP_FILTER* setup = g_Templates[i].m_pAMovieSetup_Filter;
      if (!setup) continue;
      hr = mapper2 ? AMovieSetupRegisterFilter2(setup, mapper2.Get(), bRegister)
                   : AMovieSetupRegisterFilter(setup, mapper.Get(), bRegister);
    }
  }  // mappers released here
  CoFreeUnusedLibraries();
  if (SUCCEEDED(hrInit)) CoUninitialize();
  return hr;
}

HRESULT RegisterModule(BOOL bRegister) {
  WCHAR path[MAX_PATH];
  SetLastError(ERROR_SUCCESS);
  DWORD len = GetModuleFileName(GetModuleInstance(), path, MAX_PATH);
  if (len == 0) {
    DWORD err = GetLastError();
    return HRESULT_FROM_WIN32(err != ERROR_SUCCESS ? err : ERROR_INVALID_HANDLE);
  }
  // A cut-off path would register a server that cannot be loaded.
  if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  const std::wstring fileName(path, len);

  if (bRegister) {
    for (int i = 0; i < g_cTemplates; ++i) {
      const CFactoryTemplate& t = g_Templates[i];
      HRESULT hr = AMovieSetupRegisterServer(*t.m_ClsID, t.m_Name, fileName.c_str());
      if (FAILED(hr)) return hr;
    }
  }

  HRESULT hr = RegisterWithMapper(bRegister);
  if (FAILED(hr) || bRegister) return hr;

  // A key that cannot be deleted does not keep the other templates' keys: every template is
  // tried, and the first failure is returned.
  HRESULT first = S_OK;
  for (int i = 0; i < g_cTemplates; ++i) {
    hr = AMovieSetupUnregisterServer(*g_Templates[i].m_ClsID);
    if (FAILED(hr) && SUCCEEDED(first)) first = hr;
  }
  return first;
}

}  // namespace

HRESULT AMovieDllRegisterServer2(BOOL bRegister) {
  // One transaction for the whole registration. It is committed even after a failure: what was
  // written before the failing step stays, as it would without transactions.
  LSTATUS rc = RegBeginTransaction();
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  HRESULT hr;
  try {
    hr = RegisterModule(bRegister);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  rc = RegEndTransaction(TRUE);
  if (SUCCEEDED(hr) && rc != ERROR_SUCCESS) hr = HRESULT_FROM_WIN32(rc);
  return hr;
}

extern "C" PLENOR_EXPORT HRESULT DllRegisterServer() { return AMovieDllRegisterServer2(TRUE); }

extern "C" PLENOR_EXPORT HRESULT DllUnregisterServer() { return AMovieDllRegisterServer2(FALSE); }

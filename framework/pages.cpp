#include "framework/pages.h"

#include "platform/com/runtime.h"

HRESULT GetSinglePropertyPage(CAUUID* pPages, REFCLSID page) {
  if (!pPages) return E_POINTER;
  pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
  if (!pPages->pElems) {
    pPages->cElems = 0;
    return E_OUTOFMEMORY;
  }
  pPages->cElems = 1;
  pPages->pElems[0] = page;
  return S_OK;
}

// The page list of a filter that has exactly one property page (ISpecifyPropertyPages::GetPages).
#pragma once

#include "platform/com/runtime.h"
#include "platform/strmbase/strmif.h"

// E_POINTER for a null list; E_OUTOFMEMORY (empty list) when the task allocator fails; otherwise
// one task-allocated entry, freed by the caller.
inline HRESULT SinglePropertyPage(CAUUID* pPages, const CLSID& page) {
  if (!pPages) return E_POINTER;
  pPages->cElems = 0;
  pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
  if (!pPages->pElems) return E_OUTOFMEMORY;
  pPages->cElems = 1;
  pPages->pElems[0] = page;
  return S_OK;
}

// ISpecifyPropertyPages helper shared by the suite's filters, each of which has one page.
#pragma once

#include "platform/strmbase/strmif.h"

// Fills pPages with the one class id page in a CoTaskMemAlloc block (freed by the caller).
// E_POINTER for null; E_OUTOFMEMORY (count 0, no block) when the block cannot be allocated.
HRESULT GetSinglePropertyPage(CAUUID* pPages, REFCLSID page);

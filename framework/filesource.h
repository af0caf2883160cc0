// IFileSourceFilter pieces shared by the suite's file sources.
#pragma once

#include <string>

#include "platform/strmbase/strmif.h"

// GetCurFile of a source that keeps the name of the last Load (whether or not the file opened):
// a wide copy of name in task memory, or null when kept is false. E_POINTER for a null
// ppszFileName, E_OUTOFMEMORY (null written) when the copy cannot be made. The caller holds the
// lock that guards the name.
HRESULT GetKeptFileName(const std::string& name, bool kept, LPOLESTR* ppszFileName);

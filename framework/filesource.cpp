#include "framework/filesource.h"

#include "platform/com/runtime.h"

HRESULT GetKeptFileName(const std::string& name, bool kept, LPOLESTR* ppszFileName) {
  if (!ppszFileName) return E_POINTER;
  *ppszFileName = nullptr;
  if (!kept) return S_OK;
  *ppszFileName = TaskMemWideString(name);
  return *ppszFileName ? S_OK : E_OUTOFMEMORY;
}

// Temporary entry points for the parts of the runtime still being written (registry, class
// loading, streams). Each answers "not implemented" so that dependants can link meanwhile.
#include "platform/com/objidl.h"
#include "platform/com/runtime.h"

HRESULT CoGetClassObject(REFCLSID, DWORD, LPVOID, REFIID, LPVOID* ppv) {
  if (ppv) *ppv = nullptr;
  return E_NOTIMPL;
}
HRESULT CoCreateInstance(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID* ppv) {
  if (ppv) *ppv = nullptr;
  return E_NOTIMPL;
}
void CoFreeUnusedLibraries() {}
void CoRegisterBuiltinClass(REFCLSID, PFN_BUILTIN_GETCLASSOBJECT) {}
HMODULE LoadLibrary(const char*, std::string* error) {
  if (error) *error = "not implemented";
  return nullptr;
}
void* GetProcAddress(HMODULE, const char*) { return nullptr; }
BOOL FreeLibrary(HMODULE) { return FALSE; }
DWORD GetModuleFileNameA(HMODULE, char*, DWORD) { return 0; }
DWORD GetModuleFileNameW(HMODULE, wchar_t*, DWORD) { return 0; }
HMODULE ModuleHandleFromAddress(const void*) { return nullptr; }
std::vector<LoadedModuleInfo> CoGetLoadedModules() { return {}; }

HRESULT CreateStreamOnMemory(const void*, ULONG, IStream** ppstm) {
  if (ppstm) *ppstm = nullptr;
  return E_NOTIMPL;
}
HRESULT CreateStreamOnFile(const char*, const char*, IStream** ppstm) {
  if (ppstm) *ppstm = nullptr;
  return E_NOTIMPL;
}
HRESULT GetStreamBytes(IStream*, std::string*) { return E_NOTIMPL; }
HRESULT CreateMemoryPropertyBag(IPropertyBag** ppBag) {
  if (ppBag) *ppBag = nullptr;
  return E_NOTIMPL;
}

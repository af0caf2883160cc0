// Temporary entry points for the parts of the runtime still being written (registry, class
// loading, streams). Each answers "not implemented" so that dependants can link meanwhile.
#include <mutex>

#include "platform/com/objidl.h"
#include "platform/com/registry.h"
#include "platform/com/runtime.h"

namespace {
std::mutex g_pathLock;
std::string g_registryPath;
}  // namespace

void CoSetRegistryPath(const std::string& path) {
  std::lock_guard lock(g_pathLock);
  g_registryPath = path;
}
std::string CoGetRegistryPath() {
  std::lock_guard lock(g_pathLock);
  return g_registryPath;
}

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

LSTATUS RegCreateKeyExA(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, void*, PHKEY, LPDWORD) { return ERROR_CANTOPEN; }
LSTATUS RegCreateKeyA(HKEY, LPCSTR, PHKEY) { return ERROR_CANTOPEN; }
LSTATUS RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, PHKEY) { return ERROR_CANTOPEN; }
LSTATUS RegOpenKeyA(HKEY, LPCSTR, PHKEY) { return ERROR_CANTOPEN; }
LSTATUS RegCloseKey(HKEY) { return ERROR_SUCCESS; }
LSTATUS RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) { return ERROR_CANTOPEN; }
LSTATUS RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) { return ERROR_CANTOPEN; }
LSTATUS RegEnumKeyExA(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPSTR, LPDWORD, void*) { return ERROR_CANTOPEN; }
LSTATUS RegEnumValueA(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPBYTE, LPDWORD) { return ERROR_CANTOPEN; }
LSTATUS RegDeleteKeyA(HKEY, LPCSTR) { return ERROR_CANTOPEN; }
LSTATUS RegDeleteValueA(HKEY, LPCSTR) { return ERROR_CANTOPEN; }
LSTATUS RegDeleteTreeA(HKEY, LPCSTR) { return ERROR_CANTOPEN; }
LSTATUS RegBeginTransaction() { return ERROR_CANTOPEN; }
LSTATUS RegEndTransaction(BOOL) { return ERROR_CANTOPEN; }

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

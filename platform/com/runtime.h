// The component runtime: initialisation, the task allocator, class loading through the registry
// (CLSID key -> "InprocServer32" path -> dlopen -> DllGetClassObject), module unloading and the
// process-wide settings of the runtime (which registry database to use).
#pragma once

#include <string>
#include <vector>

#include "platform/com/unknown.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_ALL = 0x17;
constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

PLENOR_EXPORT HRESULT CoInitialize(LPVOID reserved);
PLENOR_EXPORT HRESULT CoInitializeEx(LPVOID reserved, DWORD coinit);
PLENOR_EXPORT void CoUninitialize();

PLENOR_EXPORT LPVOID CoTaskMemAlloc(SIZE_T cb);
PLENOR_EXPORT LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
PLENOR_EXPORT void CoTaskMemFree(LPVOID pv);

PLENOR_EXPORT HRESULT CoGetClassObject(REFCLSID rclsid, DWORD clsctx, LPVOID reserved, REFIID riid, LPVOID* ppv);
PLENOR_EXPORT HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD clsctx, REFIID riid, LPVOID* ppv);
// Text of the calling thread's last failed module load through CoGetClassObject/CoCreateInstance
// (the loader's message for CO_E_DLLNOTFOUND, the missing export for CO_E_ERRORINDLL), or "".
PLENOR_EXPORT std::string CoGetLastLoadError();
// Asks every loaded module's DllCanUnloadNow and unloads those that have answered S_OK for at
// least dwUnloadDelay milliseconds: the first S_OK only marks the module idle, and an S_FALSE or
// a new class object request clears the mark. The delay covers a thread that has just dropped a
// module's last object and is still running the module's code on its way out of Release; with
// other threads using the module, 0 (unload at the first S_OK) can unload it under that thread.
// dwReserved must be 0.
PLENOR_EXPORT void CoFreeUnusedLibrariesEx(DWORD dwUnloadDelay, DWORD dwReserved);
// CoFreeUnusedLibrariesEx with kDefaultUnloadDelayMs.
constexpr DWORD kDefaultUnloadDelayMs = 500;
PLENOR_EXPORT void CoFreeUnusedLibraries();

// Class objects built into the runtime itself (the filter graph manager, the filter mapper, the
// system clock): looked up before the registry. The function returns a new class factory.
using PFN_BUILTIN_GETCLASSOBJECT = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
// Safe to call from static initialisers of the runtime library; registering a class again
// replaces its function, and a null fn removes the class.
PLENOR_EXPORT void CoRegisterBuiltinClass(REFCLSID rclsid, PFN_BUILTIN_GETCLASSOBJECT fn);

// Loads a module file directly (not through the registry), as a host does for a module it is
// asked to register or to use without registering. The runtime keeps the module loaded while
// the returned handle or any object of it is alive; FreeLibrary drops the handle's hold.
PLENOR_EXPORT HMODULE LoadLibrary(const char* path, std::string* error = nullptr);
PLENOR_EXPORT void* GetProcAddress(HMODULE module, const char* name);
PLENOR_EXPORT BOOL FreeLibrary(HMODULE module);

// Architecture of a module file read from its ELF header: "x86-64", "i386", "ELF machine N" for
// another machine, or "" when the file cannot be read or is not ELF. CoHostArchitecture is the
// running process's own; a module of another architecture is refused before the dynamic loader.
PLENOR_EXPORT std::string CoModuleArchitecture(const char* path);
PLENOR_EXPORT std::string CoHostArchitecture();

// Module file name for a handle recorded by a module at load (its instance handle). Returns the
// number of characters copied (without terminator), 0 on failure with GetLastError set;
// truncates to nSize - 1 characters and sets ERROR_INSUFFICIENT_BUFFER when the buffer is short.
PLENOR_EXPORT DWORD GetModuleFileNameA(HMODULE module, char* buf, DWORD nSize);
PLENOR_EXPORT DWORD GetModuleFileNameW(HMODULE module, wchar_t* buf, DWORD nSize);
#define GetModuleFileName GetModuleFileNameW
// The instance handle of the module that contains addr (any function or object of it), or null
// for an address outside every module. A module's handle is the address of its image header: the
// same value LoadLibrary returns for it and the one it computes itself while it is being loaded.
PLENOR_EXPORT HMODULE ModuleHandleFromAddress(const void* addr);

PLENOR_EXPORT DWORD GetLastError();
PLENOR_EXPORT void SetLastError(DWORD err);

// Information about modules loaded through the runtime, for tests and hosts that check no object
// of any loaded module is still alive.
struct LoadedModuleInfo {
  std::string path;
  HRESULT canUnloadNow;  // the module's DllCanUnloadNow answer
};
PLENOR_EXPORT std::vector<LoadedModuleInfo> CoGetLoadedModules();

// Process-wide runtime settings.
// The registry database file (SQLite). Empty: $PLENOR_REGISTRY if set, otherwise
// $XDG_DATA_HOME/plenor/registry.db (~/.local/share/plenor/registry.db).
PLENOR_EXPORT void CoSetRegistryPath(const std::string& path);
// The effective database path (the one set, or the default described above).
PLENOR_EXPORT std::string CoGetRegistryPath();
// Why the registry database could not be opened the last time that failed (the path and the
// database engine's message), or "" when the last open succeeded. Registry calls then return
// ERROR_CANTOPEN and set the thread's last error to ERROR_CANTOPEN.
PLENOR_EXPORT std::string CoGetRegistryError();

// Performance counter on the monotonic clock.
PLENOR_EXPORT BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
PLENOR_EXPORT BOOL QueryPerformanceFrequency(LARGE_INTEGER* freq);
PLENOR_EXPORT DWORD timeGetTime();
PLENOR_EXPORT void Sleep(DWORD ms);

// Code-page conversion (UTF-8 for CP_ACP/CP_UTF8), Windows semantics: with cchWideChar 0 returns
// the size needed; returns 0 and sets ERROR_INSUFFICIENT_BUFFER when the buffer is short.
constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
// MultiByteToWideChar flag: fail with ERROR_NO_UNICODE_TRANSLATION on malformed input instead of
// substituting U+FFFD.
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;
PLENOR_EXPORT int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int cbMultiByte, LPWSTR dst, int cchWideChar);
PLENOR_EXPORT int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int cchWideChar, LPSTR dst,
                                      int cbMultiByte, LPCSTR defaultChar, BOOL* usedDefault);
PLENOR_EXPORT std::wstring Utf8ToWide(const std::string& s);
PLENOR_EXPORT std::string WideToUtf8(const std::wstring& s);
// A UTF-8 text as a terminated wide string in task memory (the caller frees it with
// CoTaskMemFree), as interfaces hand out names (IFileSourceFilter::GetCurFile, IStream::Stat).
// Null when out of memory; never throws.
PLENOR_EXPORT LPOLESTR TaskMemWideString(const std::string& utf8);
// _wtoi semantics: leading blanks, optional sign, decimal digits; 0 when there are none.
PLENOR_EXPORT int _wtoi(const wchar_t* s);

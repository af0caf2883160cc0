// Class loading: built-in class objects, then the registry ("CLSID\{...}\InprocServer32" names the
// module file) -> dlopen -> DllGetClassObject. Also the process-wide table of loaded modules,
// their unloading, and module handles and file names.
//
// Module handles: a module's instance handle is the address of its ELF header (dladdr's
// dli_fbase). A module can compute it itself from any address inside it while it is still being
// loaded (ModuleHandleFromAddress), and LoadLibrary returns the same value, so every handle of a
// module is the same handle.
//
// Locking: one mutex guards the module table. It is never held while calling into a module
// (DllGetClassObject, DllCanUnloadNow) or into the dynamic loader (dlopen, dlclose, dlsym,
// dladdr): the loader runs a module's constructors and destructors under its own lock, and those
// may call back into the runtime. A module in use is pinned (busy count) so that no other thread
// unloads it meanwhile.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/com/registry.h"
#include "platform/com/runtime.h"

namespace {

using PFN_DLLGETCLASSOBJECT = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using PFN_DLLCANUNLOADNOW = HRESULT (*)();

thread_local std::string t_lastLoadError;

// ---- built-in classes -------------------------------------------------------------------------

struct BuiltinTable {
  std::mutex lock;
  std::unordered_map<GUID, PFN_BUILTIN_GETCLASSOBJECT> classes;
};

// Function-local so that it is ready for registrations from static initialisers of this library,
// whatever their order.
BuiltinTable& Builtins() {
  static BuiltinTable table;
  return table;
}

PFN_BUILTIN_GETCLASSOBJECT FindBuiltin(REFCLSID clsid) {
  BuiltinTable& t = Builtins();
  std::lock_guard lock(t.lock);
  auto it = t.classes.find(clsid);
  return it == t.classes.end() ? nullptr : it->second;
}

// ---- loaded modules ---------------------------------------------------------------------------

struct Module {
  std::string path;  // absolute, as loaded
  void* dl = nullptr;
  HMODULE base = nullptr;
  PFN_DLLGETCLASSOBJECT getClassObject = nullptr;
  PFN_DLLCANUNLOADNOW canUnloadNow = nullptr;
  int holds = 0;  // LoadLibrary handles not yet freed
  int busy = 0;   // threads currently using the module (calls in progress)
  // Set at the first DllCanUnloadNow S_OK of an unload attempt, cleared by S_FALSE or a new class
  // object request (CoFreeUnusedLibrariesEx).
  bool idle = false;
  std::chrono::steady_clock::time_point idleSince{};
};

struct ModuleTable {
  std::mutex lock;
  std::vector<std::unique_ptr<Module>> modules;

  Module* FindByPath(const std::string& path) {
    for (auto& m : modules)
      if (m->path == path) return m.get();
    return nullptr;
  }
  Module* FindByHandle(void* dl) {
    for (auto& m : modules)
      if (m->dl == dl) return m.get();
    return nullptr;
  }
  Module* FindByBase(HMODULE base) {
    for (auto& m : modules)
      if (m->base == base) return m.get();
    return nullptr;
  }
  // Takes a module out of the table; the caller dlcloses it after unlocking.
  std::unique_ptr<Module> Remove(Module* m) {
    auto it = std::find_if(modules.begin(), modules.end(), [m](auto& p) { return p.get() == m; });
    if (it == modules.end()) return nullptr;
    std::unique_ptr<Module> owned = std::move(*it);
    modules.erase(it);
    return owned;
  }
};

ModuleTable& Modules() {
  static ModuleTable table;
  return table;
}

// Serialises this runtime's loads and unloads. The dynamic loader has its own lock, but it is
// invisible to the thread checker, and a module's link map is read here right after dlopen.
// Recursive: a module's constructor or destructor may load another module. Taken before the table
// lock, never while holding it.
std::recursive_mutex& LoaderLock() {
  static std::recursive_mutex lock;
  return lock;
}

HMODULE BaseOf(const void* addr) {
  Dl_info info{};
  if (!addr || !::dladdr(addr, &info) || !info.dli_fbase) return nullptr;
  return static_cast<HMODULE>(info.dli_fbase);
}

HMODULE BaseOfHandle(void* dl) {
  link_map* map = nullptr;
  if (::dlinfo(dl, RTLD_DI_LINKMAP, &map) != 0 || !map) return nullptr;
  return BaseOf(map->l_ld);
}

// A symbol of the module itself (not one found in a library it depends on).
void* OwnSymbol(void* dl, HMODULE base, const char* name) {
  void* p = ::dlsym(dl, name);
  if (p && BaseOf(p) != base) return nullptr;
  return p;
}

std::string AbsolutePath(const char* path) {
  std::error_code ec;
  std::filesystem::path abs = std::filesystem::absolute(path, ec);
  if (ec) return path;
  return abs.lexically_normal().string();
}

std::string MachineName(unsigned machine) {
  if (machine == 62) return "x86-64";  // EM_X86_64
  if (machine == 3) return "i386";     // EM_386
  return "ELF machine " + std::to_string(machine);
}

// Loads (or finds) the module at path and returns it pinned (busy + 1); with hold it also gains a
// LoadLibrary hold. On failure returns null with the loader's message in *error.
Module* LoadPinned(const char* path, bool hold, std::string* error) {
  std::string abs = AbsolutePath(path);
  ModuleTable& t = Modules();
  {
    std::lock_guard lock(t.lock);
    if (Module* m = t.FindByPath(abs)) {
      ++m->busy;
      if (hold) ++m->holds;
      m->idle = false;
      return m;
    }
  }
  const std::string arch = CoModuleArchitecture(abs.c_str());
  if (!arch.empty() && arch != CoHostArchitecture()) {
    *error = abs + ": is an " + arch + " module and this host is " + CoHostArchitecture() +
             "; use the " + arch + " build of the host for it";
    return nullptr;
  }
  std::lock_guard loading(LoaderLock());
  ::dlerror();
  void* dl = ::dlopen(abs.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!dl) {
    const char* why = ::dlerror();
    *error = why ? why : abs + ": cannot be loaded";
    return nullptr;
  }
  auto fresh = std::make_unique<Module>();
  fresh->path = abs;
  fresh->dl = dl;
  fresh->base = BaseOfHandle(dl);
  fresh->getClassObject = reinterpret_cast<PFN_DLLGETCLASSOBJECT>(OwnSymbol(dl, fresh->base, "DllGetClassObject"));
  fresh->canUnloadNow = reinterpret_cast<PFN_DLLCANUNLOADNOW>(OwnSymbol(dl, fresh->base, "DllCanUnloadNow"));
  void* extra = nullptr;
  Module* result = nullptr;
  {
    std::lock_guard lock(t.lock);
    // Another thread may have loaded it meanwhile, or under another name of the same file.
    Module* m = t.FindByPath(abs);
    if (!m) m = t.FindByHandle(dl);
    if (m) {
      extra = dl;
    } else {
      m = fresh.get();
      t.modules.push_back(std::move(fresh));
    }
    ++m->busy;
    if (hold) ++m->holds;
    m->idle = false;
    result = m;
  }
  if (extra) ::dlclose(extra);  // drops only the reference this call added
  return result;
}

// Drops a pin. With tryUnload, a module left without holds and pins is unloaded when it has no
// live objects (DllCanUnloadNow == S_OK, or when it exports no DllCanUnloadNow and unloadBlind)
// and, for a module that asks DllCanUnloadNow, has had none for delayMs (see
// CoFreeUnusedLibrariesEx).
void Unpin(Module* m, bool tryUnload, bool unloadBlind, DWORD delayMs = 0) {
  ModuleTable& t = Modules();
  std::unique_ptr<Module> doomed;
  {
    std::unique_lock lock(t.lock);
    if (!tryUnload || m->holds > 0 || m->busy > 1) {
      --m->busy;
      return;
    }
    if (!m->canUnloadNow) {
      --m->busy;
      // Only a plain library (no class objects that could still be alive) goes without asking.
      if (!unloadBlind || m->getClassObject || m->busy > 0) return;
      doomed = t.Remove(m);
    } else {
      PFN_DLLCANUNLOADNOW ask = m->canUnloadNow;
      lock.unlock();
      HRESULT hr = ask();  // still pinned by this thread
      lock.lock();
      --m->busy;
      if (hr != S_OK) m->idle = false;
      if (hr != S_OK || m->holds > 0 || m->busy > 0) return;
      if (delayMs > 0) {
        const auto now = std::chrono::steady_clock::now();
        if (!m->idle) {
          m->idle = true;
          m->idleSince = now;
        }
        if (now - m->idleSince < std::chrono::milliseconds(delayMs)) return;
      }
      doomed = t.Remove(m);
    }
  }
  if (doomed) {
    std::lock_guard unloading(LoaderLock());
    ::dlclose(doomed->dl);
  }
}

// Whether the registry names a module for the class; the path in *path.
HRESULT ServerPath(REFCLSID clsid, std::string* path) {
  std::string keyName = "CLSID\\" + GuidToString(clsid) + "\\InprocServer32";
  RegSnapshot snapshot;  // the key and its value from the same committed state
  HKEY key = nullptr;
  LSTATUS st = RegOpenKeyExA(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_READ, &key);
  if (st == ERROR_FILE_NOT_FOUND) return REGDB_E_CLASSNOTREG;
  if (st != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(st));
  std::string value;
  DWORD type = 0, size = 0;
  st = RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size);
  if (st == ERROR_SUCCESS && type == REG_SZ && size > 1) {
    value.resize(size);
    st = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size);
    value.resize(st == ERROR_SUCCESS ? ::strnlen(value.data(), size) : 0);
  }
  RegCloseKey(key);
  if (st != ERROR_SUCCESS && st != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(static_cast<DWORD>(st));
  if (value.empty() || type != REG_SZ) return REGDB_E_CLASSNOTREG;
  *path = std::move(value);
  return S_OK;
}

HRESULT GetClassObjectImpl(REFCLSID rclsid, DWORD clsctx, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!(clsctx & CLSCTX_INPROC)) return REGDB_E_CLASSNOTREG;  // only in-process servers exist here

  if (PFN_BUILTIN_GETCLASSOBJECT builtin = FindBuiltin(rclsid)) return builtin(rclsid, riid, ppv);

  std::string path;
  HRESULT hr = ServerPath(rclsid, &path);
  if (FAILED(hr)) return hr;
  std::string error;
  Module* m = LoadPinned(path.c_str(), false, &error);
  if (!m) {
    t_lastLoadError = std::move(error);
    return CO_E_DLLNOTFOUND;
  }
  if (!m->getClassObject) {
    t_lastLoadError = m->path + ": does not export DllGetClassObject";
    Unpin(m, true, true);
    return CO_E_ERRORINDLL;
  }
  hr = m->getClassObject(rclsid, riid, ppv);
  Unpin(m, false, false);  // unloading is left to CoFreeUnusedLibraries
  return hr;
}

template <class F>
HRESULT GuardHr(F&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

// The absolute file path of the module whose ELF header is at module (null: the program).
bool ModulePath(HMODULE module, std::string* path) {
  if (module) {
    ModuleTable& t = Modules();
    std::lock_guard lock(t.lock);
    if (Module* m = t.FindByBase(module)) {
      *path = m->path;
      return true;
    }
  }
  if (module) {
    Dl_info info{};
    if (!::dladdr(module, &info) || info.dli_fbase != module) return false;
    // The program itself is listed under the name it was started with (or none); the kernel
    // knows its real path.
    void* program = ::dlopen(nullptr, RTLD_NOW);
    bool isProgram = program && BaseOfHandle(program) == module;
    if (program) ::dlclose(program);
    if (!isProgram && info.dli_fname && info.dli_fname[0]) {
      *path = AbsolutePath(info.dli_fname);
      return true;
    }
  }
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return false;
  path->assign(buf, static_cast<size_t>(n));
  return true;
}

}  // namespace

void CoRegisterBuiltinClass(REFCLSID rclsid, PFN_BUILTIN_GETCLASSOBJECT fn) {
  BuiltinTable& t = Builtins();
  std::lock_guard lock(t.lock);
  if (fn) {
    t.classes[rclsid] = fn;
  } else {
    t.classes.erase(rclsid);
  }
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD clsctx, LPVOID, REFIID riid, LPVOID* ppv) {
  return GuardHr([&] { return GetClassObjectImpl(rclsid, clsctx, riid, ppv); });
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD clsctx, REFIID riid, LPVOID* ppv) {
  return GuardHr([&]() -> HRESULT {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    ComPtr<IClassFactory> factory;
    HRESULT hr = GetClassObjectImpl(rclsid, clsctx, IID_IClassFactory, factory.AsOut());
    if (FAILED(hr)) return hr;
    if (!factory) return E_UNEXPECTED;
    return factory->CreateInstance(pUnkOuter, riid, ppv);
  });
}

std::string CoGetLastLoadError() { return t_lastLoadError; }

void CoFreeUnusedLibraries() { CoFreeUnusedLibrariesEx(kDefaultUnloadDelayMs, 0); }

void CoFreeUnusedLibrariesEx(DWORD dwUnloadDelay, DWORD) {
  try {
    ModuleTable& t = Modules();
    std::vector<Module*> candidates;
    {
      std::lock_guard lock(t.lock);
      for (auto& m : t.modules) {
        if (m->holds == 0 && m->busy == 0 && m->canUnloadNow) {
          ++m->busy;
          candidates.push_back(m.get());
        }
      }
    }
    for (Module* m : candidates) Unpin(m, true, false, dwUnloadDelay);
  } catch (const std::bad_alloc&) {
    // Nothing is unloaded this time; a later call retries.
  }
}

std::vector<LoadedModuleInfo> CoGetLoadedModules() {
  std::vector<LoadedModuleInfo> result;
  std::vector<Module*> pinned;
  ModuleTable& t = Modules();
  {
    std::lock_guard lock(t.lock);
    pinned.reserve(t.modules.size());
    result.reserve(t.modules.size());
    for (auto& m : t.modules) {
      ++m->busy;
      pinned.push_back(m.get());
    }
  }
  for (Module* m : pinned) {
    // A module without DllCanUnloadNow reports no live objects it could know of.
    HRESULT hr = m->canUnloadNow ? m->canUnloadNow() : S_OK;
    result.push_back({m->path, hr});
    Unpin(m, false, false);
  }
  return result;
}

HMODULE LoadLibrary(const char* path, std::string* error) {
  try {
    if (!path || !*path) {
      if (error) *error = "no module path given";
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    std::string why;
    Module* m = LoadPinned(path, true, &why);
    if (!m) {
      if (error) *error = why;
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    HMODULE base = m->base;
    Unpin(m, false, false);
    return base;
  } catch (const std::bad_alloc&) {
    if (error) error->clear();
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

void* GetProcAddress(HMODULE module, const char* name) {
  if (!module || !name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* fn = nullptr;
  Module* m = nullptr;
  {
    ModuleTable& t = Modules();
    std::lock_guard lock(t.lock);
    m = t.FindByBase(module);
    if (m) ++m->busy;  // the lookup itself runs without the table lock
  }
  if (m) {
    fn = OwnSymbol(m->dl, m->base, name);
    Unpin(m, false, false);
  } else {
    // A module loaded some other way (linked into the program, or by the dynamic loader).
    Dl_info info{};
    if (!::dladdr(module, &info) || info.dli_fbase != module || !info.dli_fname) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return nullptr;
    }
    void* dl = info.dli_fname[0] ? ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD) : ::dlopen(nullptr, RTLD_NOW);
    if (dl) {
      fn = OwnSymbol(dl, module, name);
      ::dlclose(dl);
    }
  }
  if (!fn) SetLastError(ERROR_PROC_NOT_FOUND);
  return fn;
}

BOOL FreeLibrary(HMODULE module) {
  Module* m = nullptr;
  {
    ModuleTable& t = Modules();
    std::lock_guard lock(t.lock);
    m = module ? t.FindByBase(module) : nullptr;
    if (!m || m->holds == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    --m->holds;
    ++m->busy;
  }
  // The last hold gone, a plain library goes too. A module with class objects goes as
  // CoFreeUnusedLibraries would take it: once it has been without objects for the default delay
  // (the loader's own threads may be finishing with one right now).
  Unpin(m, true, true, kDefaultUnloadDelayMs);
  return TRUE;
}

HMODULE ModuleHandleFromAddress(const void* addr) { return BaseOf(addr); }

namespace {

// Windows rules: the path and its terminator when they fit; otherwise the first nSize - 1
// characters, terminated, and ERROR_INSUFFICIENT_BUFFER.
template <class Ch>
DWORD CopyModuleFileName(HMODULE module, Ch* buf, DWORD nSize) {
  std::basic_string<Ch> path;
  try {
    std::string narrow;
    if (!ModulePath(module, &narrow)) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    if constexpr (sizeof(Ch) == 1) {
      path = std::move(narrow);
    } else {
      path = Utf8ToWide(narrow);
    }
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if (!buf || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= nSize) {
    std::copy_n(path.data(), nSize - 1, buf);
    buf[nSize - 1] = Ch(0);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize - 1;
  }
  std::copy_n(path.c_str(), path.size() + 1, buf);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

}  // namespace

DWORD GetModuleFileNameA(HMODULE module, char* buf, DWORD nSize) { return CopyModuleFileName(module, buf, nSize); }

DWORD GetModuleFileNameW(HMODULE module, wchar_t* buf, DWORD nSize) { return CopyModuleFileName(module, buf, nSize); }

std::string CoModuleArchitecture(const char* path) {
  // e_ident (16 bytes), e_type (2), e_machine (2, in the byte order e_ident[5] names).
  unsigned char head[20];
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return "";
  const size_t got = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  if (got != sizeof head || std::memcmp(head, "\x7f" "ELF", 4) != 0) return "";
  const unsigned machine = head[5] == 2 ? (head[18] << 8) | head[19] : head[18] | (head[19] << 8);
  return MachineName(machine);
}

std::string CoHostArchitecture() {
#if defined(__x86_64__)
  return MachineName(62);
#elif defined(__i386__)
  return MachineName(3);
#else
  return "unknown";
#endif
}

// Class loading through the registry and directly: errors for missing classes and modules, one
// load per module, unloading only when no object or hold is left, built-in classes, module handles
// and file names.
#include <gtest/gtest.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>
#include <string>

#include "platform/com/registry.h"
#include "platform/com/runtime.h"

namespace {

// {6A1D2C40-8E1B-4F35-9C7E-2B4F0D9A1C01}: the class of the loader test module.
PLENOR_GUID(CLSID_LoaderTestObject, 0x6a1d2c40, 0x8e1b, 0x4f35, 0x9c, 0x7e, 0x2b, 0x4f, 0x0d, 0x9a, 0x1c, 0x01);
PLENOR_GUID(CLSID_Unregistered, 0x6a1d2c40, 0x8e1b, 0x4f35, 0x9c, 0x7e, 0x2b, 0x4f, 0x0d, 0x9a, 0x1c, 0x02);
PLENOR_GUID(CLSID_MissingFile, 0x6a1d2c40, 0x8e1b, 0x4f35, 0x9c, 0x7e, 0x2b, 0x4f, 0x0d, 0x9a, 0x1c, 0x03);
PLENOR_GUID(CLSID_PlainModule, 0x6a1d2c40, 0x8e1b, 0x4f35, 0x9c, 0x7e, 0x2b, 0x4f, 0x0d, 0x9a, 0x1c, 0x04);
PLENOR_GUID(CLSID_NoServerKey, 0x6a1d2c40, 0x8e1b, 0x4f35, 0x9c, 0x7e, 0x2b, 0x4f, 0x0d, 0x9a, 0x1c, 0x05);
PLENOR_GUID(CLSID_Builtin, 0x6a1d2c40, 0x8e1b, 0x4f35, 0x9c, 0x7e, 0x2b, 0x4f, 0x0d, 0x9a, 0x1c, 0x06);

const std::string kLoaderModule = PLENOR_LOADER_TEST_MODULE;
const std::string kPlainModule = PLENOR_PLAIN_TEST_MODULE;

void RegisterServer(REFCLSID clsid, const std::string& path) {
  HKEY key = nullptr;
  std::string name = "CLSID\\" + GuidToString(clsid) + "\\InprocServer32";
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, name.c_str(), &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                           static_cast<DWORD>(path.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

bool IsLoaded(const std::string& path) {
  for (const LoadedModuleInfo& m : CoGetLoadedModules())
    if (m.path == path) return true;
  return false;
}

// Whether the dynamic loader still has the file mapped (not just our table).
bool IsMapped(const std::string& path) {
  void* dl = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (dl) ::dlclose(dl);
  return dl != nullptr;
}

HRESULT ModuleAnswer(const std::string& path) {
  for (const LoadedModuleInfo& m : CoGetLoadedModules())
    if (m.path == path) return m.canUnloadNow;
  return E_FAIL;
}

TEST(ClassLoad, ErrorsForClassesThatCannotBeCreated) {
  ComPtr<IUnknown> object;
  EXPECT_EQ(CoCreateInstance(CLSID_Unregistered, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.AsOut()),
            REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(object);
  EXPECT_EQ(CoCreateInstance(CLSID_Unregistered, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr), E_POINTER);

  // A class key without a server subkey is not registered either.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, ("CLSID\\" + GuidToString(CLSID_NoServerKey)).c_str(), &key),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(CoCreateInstance(CLSID_NoServerKey, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.AsOut()),
            REGDB_E_CLASSNOTREG);

  // A registered file that does not exist: the loader's message stays available.
  std::string missing = (std::filesystem::temp_directory_path() / "plenor-no-such-module.so").string();
  RegisterServer(CLSID_MissingFile, missing);
  ComPtr<IClassFactory> factory;
  EXPECT_EQ(CoGetClassObject(CLSID_MissingFile, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.AsOut()),
            CO_E_DLLNOTFOUND);
  EXPECT_NE(CoGetLastLoadError().find("plenor-no-such-module.so"), std::string::npos) << CoGetLastLoadError();
  std::string error;
  EXPECT_EQ(LoadLibrary(missing.c_str(), &error), nullptr);
  EXPECT_NE(error.find("plenor-no-such-module.so"), std::string::npos) << error;
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

  // A library without DllGetClassObject: an error in the module, and the module is not kept.
  RegisterServer(CLSID_PlainModule, kPlainModule);
  EXPECT_EQ(CoCreateInstance(CLSID_PlainModule, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.AsOut()),
            CO_E_ERRORINDLL);
  EXPECT_NE(CoGetLastLoadError().find("DllGetClassObject"), std::string::npos);
  EXPECT_FALSE(IsLoaded(kPlainModule));
  EXPECT_FALSE(IsMapped(kPlainModule));

  // Only in-process servers exist.
  EXPECT_EQ(CoCreateInstance(CLSID_LoaderTestObject, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, object.AsOut()),
            REGDB_E_CLASSNOTREG);
}

TEST(ClassLoad, ModuleStaysWhileObjectsLiveAndUnloadsWhenAsked) {
  RegisterServer(CLSID_LoaderTestObject, kLoaderModule);
  ComPtr<IUnknown> first, second;
  ASSERT_EQ(CoCreateInstance(CLSID_LoaderTestObject, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, first.AsOut()),
            S_OK);
  ASSERT_EQ(CoCreateInstance(CLSID_LoaderTestObject, nullptr, CLSCTX_ALL, IID_IUnknown, second.AsOut()), S_OK);
  // The same path is loaded once.
  auto modules = CoGetLoadedModules();
  EXPECT_EQ(std::count_if(modules.begin(), modules.end(), [](auto& m) { return m.path == kLoaderModule; }), 1);
  EXPECT_EQ(ModuleAnswer(kLoaderModule), S_FALSE);

  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_TRUE(IsMapped(kLoaderModule)) << "objects are alive";
  first.Reset();
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_TRUE(IsLoaded(kLoaderModule));
  second.Reset();
  EXPECT_EQ(ModuleAnswer(kLoaderModule), S_OK);
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_FALSE(IsLoaded(kLoaderModule));
  EXPECT_FALSE(IsMapped(kLoaderModule));

  // A class factory kept alive also keeps the module; unsupported factory interfaces fail.
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_LoaderTestObject, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             factory.AsOut()),
            S_OK);
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_TRUE(IsMapped(kLoaderModule));
  ComPtr<IUnknown> viaFactory;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, viaFactory.AsOut()), E_NOINTERFACE);
  factory.Reset();
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_FALSE(IsMapped(kLoaderModule));
}

// With a delay, the first S_OK only marks a module idle; it goes once it has stayed unused that
// long, and a class object request in between starts the wait again.
TEST(ClassLoad, UnloadWaitsUntilTheModuleStayedUnusedForTheDelay) {
  RegisterServer(CLSID_LoaderTestObject, kLoaderModule);
  auto useOnce = [] {
    ComPtr<IUnknown> object;
    return CoCreateInstance(CLSID_LoaderTestObject, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.AsOut());
  };
  constexpr DWORD kDelay = 100;
  const auto longer = std::chrono::milliseconds(kDelay + 30);
  ASSERT_EQ(useOnce(), S_OK);
  CoFreeUnusedLibrariesEx(kDelay, 0);
  EXPECT_TRUE(IsMapped(kLoaderModule)) << "only marked idle";
  ASSERT_EQ(useOnce(), S_OK);
  std::this_thread::sleep_for(longer);
  CoFreeUnusedLibrariesEx(kDelay, 0);
  EXPECT_TRUE(IsMapped(kLoaderModule)) << "the request cleared the mark";
  std::this_thread::sleep_for(longer);
  CoFreeUnusedLibrariesEx(kDelay, 0);
  EXPECT_FALSE(IsMapped(kLoaderModule));
}

TEST(ClassLoad, LibraryHoldsAndExports) {
  std::string error;
  HMODULE h = LoadLibrary(kLoaderModule.c_str(), &error);
  ASSERT_NE(h, nullptr) << error;
  // Loading again (even through a path with redundant parts) gives the same handle.
  std::filesystem::path p(kLoaderModule);
  std::string roundabout = (p.parent_path() / "." / p.filename()).string();
  EXPECT_EQ(LoadLibrary(roundabout.c_str()), h);

  // The handle is the one the module computes for itself while loading.
  auto instance = reinterpret_cast<HMODULE (*)()>(GetProcAddress(h, "LoaderModuleInstance"));
  ASSERT_NE(instance, nullptr);
  EXPECT_EQ(instance(), h);
  // Only the module's own exports, not those of the libraries it uses.
  EXPECT_EQ(GetProcAddress(h, "CoCreateInstance"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(GetProcAddress(h, "NoSuchExport"), nullptr);

  // Holds keep the module even when it has no objects.
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_TRUE(IsMapped(kLoaderModule));
  EXPECT_TRUE(FreeLibrary(h));
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_TRUE(IsMapped(kLoaderModule));

  // An object outlives the last hold: the module stays until the object is gone.
  RegisterServer(CLSID_LoaderTestObject, kLoaderModule);
  ComPtr<IUnknown> object;
  ASSERT_EQ(CoCreateInstance(CLSID_LoaderTestObject, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.AsOut()),
            S_OK);
  EXPECT_TRUE(FreeLibrary(h));
  EXPECT_TRUE(IsMapped(kLoaderModule));
  EXPECT_FALSE(FreeLibrary(h)) << "more frees than loads";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  object.Reset();
  CoFreeUnusedLibrariesEx(0, 0);
  EXPECT_FALSE(IsMapped(kLoaderModule));

  // A plain library goes with its last hold.
  HMODULE plain = LoadLibrary(kPlainModule.c_str(), &error);
  ASSERT_NE(plain, nullptr) << error;
  auto answer = reinterpret_cast<int (*)()>(GetProcAddress(plain, "PlainModuleAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_TRUE(FreeLibrary(plain));
  EXPECT_FALSE(IsMapped(kPlainModule));
}

TEST(ClassLoad, ModuleFileNames) {
  HMODULE h = LoadLibrary(kLoaderModule.c_str());
  ASSERT_NE(h, nullptr);
  char buf[MAX_PATH];
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  DWORD n = GetModuleFileNameA(h, buf, sizeof buf);
  EXPECT_EQ(std::string(buf, n), kLoaderModule);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

  // Any address inside the module identifies it.
  void* fn = GetProcAddress(h, "DllCanUnloadNow");
  EXPECT_EQ(ModuleHandleFromAddress(fn), h);

  // A short buffer: truncated, terminated, and flagged.
  char small[6];
  std::memset(small, 'x', sizeof small);
  EXPECT_EQ(GetModuleFileNameA(h, small, sizeof small), 5u);
  EXPECT_EQ(std::string(small), kLoaderModule.substr(0, 5));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  wchar_t wide[MAX_PATH];
  n = GetModuleFileNameW(h, wide, MAX_PATH);
  EXPECT_EQ(std::wstring(wide, n), Utf8ToWide(kLoaderModule));
  wchar_t wsmall[3];
  EXPECT_EQ(GetModuleFileNameW(h, wsmall, 3), 2u);
  EXPECT_EQ(wsmall[2], L'\0');
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_TRUE(FreeLibrary(h));

  // The runtime library and the program have names too; the program's is its real path.
  HMODULE runtime = ModuleHandleFromAddress(reinterpret_cast<const void*>(&CoCreateInstance));
  ASSERT_NE(runtime, nullptr);
  n = GetModuleFileNameA(runtime, buf, sizeof buf);
  EXPECT_NE(std::string(buf, n).find("libplenorrt"), std::string::npos) << buf;
  std::string program = std::filesystem::read_symlink("/proc/self/exe").string();
  n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  EXPECT_EQ(std::string(buf, n), program);
  static int localMarker;
  n = GetModuleFileNameA(ModuleHandleFromAddress(&localMarker), buf, sizeof buf);
  EXPECT_EQ(std::string(buf, n), program);

  // An address that belongs to no module.
  int onStack = 0;
  EXPECT_EQ(ModuleHandleFromAddress(&onStack), nullptr);
  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(&onStack), buf, sizeof buf), 0u);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

// A built-in class factory: counts its creations.
int g_builtinCalls = 0;
HRESULT BuiltinGetClassObject(REFCLSID, REFIID, LPVOID* ppv) {
  ++g_builtinCalls;
  *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

TEST(ClassLoad, BuiltinClassesComeBeforeTheRegistry) {
  // The registry names a file that does not exist; the built-in class answers first.
  RegisterServer(CLSID_Builtin, "/nonexistent/module.so");
  CoRegisterBuiltinClass(CLSID_Builtin, BuiltinGetClassObject);
  ComPtr<IUnknown> object;
  EXPECT_EQ(CoCreateInstance(CLSID_Builtin, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.AsOut()),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(g_builtinCalls, 1);
  // Removing the built-in class falls back to the registry.
  CoRegisterBuiltinClass(CLSID_Builtin, nullptr);
  EXPECT_EQ(CoCreateInstance(CLSID_Builtin, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.AsOut()),
            CO_E_DLLNOTFOUND);
  EXPECT_EQ(g_builtinCalls, 1);
}

}  // namespace

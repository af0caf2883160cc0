// The runtime under several threads: creating objects while other threads unload unused modules
// and list them, and registry writers on several threads, each with its own transactions.
#include <gtest/gtest.h>

#include <atomic>
#include <dlfcn.h>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/registry.h"
#include "platform/com/runtime.h"

namespace {

PLENOR_GUID(CLSID_LoaderTestObject, 0x6a1d2c40, 0x8e1b, 0x4f35, 0x9c, 0x7e, 0x2b, 0x4f, 0x0d, 0x9a, 0x1c, 0x01);
const std::string kLoaderModule = PLENOR_LOADER_TEST_MODULE;

TEST(ClassLoadThreads, CreateWhileOthersUnload) {
  HKEY key = nullptr;
  std::string name = "CLSID\\" + GuidToString(CLSID_LoaderTestObject) + "\\InprocServer32";
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, name.c_str(), &key), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(kLoaderModule.c_str()),
                           static_cast<DWORD>(kLoaderModule.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(key);

  constexpr int kCreators = 3;
  constexpr int kIterations = 150;
  std::atomic<int> failures{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kCreators; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kIterations; ++i) {
        ComPtr<IUnknown> object;
        if (CoCreateInstance(CLSID_LoaderTestObject, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             object.AsOut()) != S_OK ||
            !object) {
          ++failures;
          continue;
        }
        // Use the object (its code lives in the module) after others may have tried to unload.
        std::this_thread::yield();
        ComPtr<IUnknown> again;
        if (object->QueryInterface(IID_IUnknown, again.AsOut()) != S_OK) ++failures;
      }
    });
  }
  // Unloads whatever has been unused for the default delay, lists modules (calling into them) and
  // loads the module directly, as fast as it can. The module's load hook calls back into the
  // runtime meanwhile.
  threads.emplace_back([&] {
    while (!done) {
      CoFreeUnusedLibraries();
      for (const LoadedModuleInfo& m : CoGetLoadedModules())
        if (m.path != kLoaderModule) ++failures;
      HMODULE h = LoadLibrary(kLoaderModule.c_str());
      if (!h || !GetProcAddress(h, "DllCanUnloadNow") || !FreeLibrary(h)) ++failures;
    }
  });
  for (int t = 0; t < kCreators; ++t) threads[t].join();
  done = true;
  threads.back().join();
  EXPECT_EQ(failures, 0);

  CoFreeUnusedLibrariesEx(0, 0);  // nothing else runs now
  void* dl = ::dlopen(kLoaderModule.c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(dl, nullptr) << "the module is unloaded once nothing uses it";
  if (dl) ::dlclose(dl);
}

TEST(RegistryThreads, TransactionsOnSeveralThreads) {
  constexpr int kThreads = 4;
  constexpr int kKeys = 40;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kKeys; ++i) {
        if (RegBeginTransaction() != ERROR_SUCCESS) {
          ++failures;
          continue;
        }
        std::string path = "ThreadKeys\\T" + std::to_string(t) + "\\K" + std::to_string(i);
        HKEY key = nullptr;
        DWORD value = static_cast<DWORD>(t * 100 + i);
        bool ok = RegCreateKeyA(HKEY_CLASSES_ROOT, path.c_str(), &key) == ERROR_SUCCESS &&
                  RegSetValueExA(key, "v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4) == ERROR_SUCCESS;
        if (key) RegCloseKey(key);
        // Every fourth transaction is abandoned: its key must not appear.
        bool keep = i % 4 != 3;
        if (RegEndTransaction(ok && keep) != ERROR_SUCCESS || !ok) ++failures;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, 0);

  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kKeys; ++i) {
      std::string path = "ThreadKeys\\T" + std::to_string(t) + "\\K" + std::to_string(i);
      HKEY key = nullptr;
      LSTATUS st = RegOpenKeyA(HKEY_CLASSES_ROOT, path.c_str(), &key);
      if (i % 4 == 3) {
        EXPECT_EQ(st, ERROR_FILE_NOT_FOUND) << path;
        continue;
      }
      ASSERT_EQ(st, ERROR_SUCCESS) << path;
      DWORD value = 0, size = 4;
      EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
      EXPECT_EQ(value, static_cast<DWORD>(t * 100 + i));
      RegCloseKey(key);
    }
  }
}

}  // namespace

// Test-only filter modules PlenorTestModule.so and PlenorTestModule2.so .. PlenorTestModule4.so:
// class ids, the probe interface their objects expose, and the registration data each registers.
// The modules are built from one source with a different PLENOR_TEST_MODULE_INDEX (1 to 4).
#pragma once

#include <cstdlib>
#include <string>

#include "platform/com/unknown.h"
#include "platform/strmbase/strmif.h"

constexpr int kTestModuleCount = 4;

// The filter and page class of module n (1-based). Distinct across modules.
constexpr CLSID TestFilterClsid(int n) {
  return {0x0F84EA40u + static_cast<DWORD>(n), 0x3B29, 0x4162, {0x8E, 0x20, 0x14, 0x45, 0xC2, 0xE2, 0x83, 0x12}};
}
constexpr CLSID TestPageClsid(int n) {
  return {0x742A4ED0u + static_cast<DWORD>(n), 0x2ACC, 0x43E4, {0x8B, 0x3D, 0xBD, 0x72, 0x55, 0x56, 0x76, 0x87}};
}
// Module 1 only: a third class whose creation function returns its object together with
// E_ACCESSDENIED (a constructor that failed).
PLENOR_GUID(CLSID_TestFailingClass, 0xC0B3FF5C, 0xCEF1, 0x47D8, 0x81, 0x36, 0x0C, 0x83, 0x15, 0x53, 0x5A, 0xEB);

// Registration data: module n registers filter "Plenor Test Filter n" and page
// "Plenor Test Properties n".
//   module 1: merit MERIT_NORMAL, one pin "Output" (output) MEDIATYPE_Video / MEDIASUBTYPE_I420
//   module 2: merit MERIT_NORMAL + 1, pin "In" (input, rendered) Video/RGB24 and Video/RGB32,
//             pin "Out" (output) Video/I420
//   module 3: merit MERIT_UNLIKELY, pins "" (input) Audio/PCM and "" (output) Audio/PCM
//   module 4: merit MERIT_DO_NOT_USE, no pins
inline std::wstring TestFilterName(int n) { return L"Plenor Test Filter " + std::to_wstring(n); }
inline std::wstring TestPageName(int n) { return L"Plenor Test Properties " + std::to_wstring(n); }
constexpr DWORD TestFilterMerit(int n) {
  return n == 1 ? MERIT_NORMAL : n == 2 ? MERIT_NORMAL + 1 : n == 3 ? MERIT_UNLIKELY : MERIT_DO_NOT_USE;
}

// Reports the module-side state that the exports cannot show. Every object of the test modules
// (filter, page) exposes it.
PLENOR_GUID(IID_ITestModuleProbe, 0x406DF26F, 0x5CFE, 0x4E4F, 0x89, 0x03, 0x49, 0x2A, 0xF5, 0x38, 0x7F, 0x54);
struct ITestModuleProbe : IUnknown {
  static constexpr const IID& iid = IID_ITestModuleProbe;
  STDMETHOD_(LONG, ObjectsActive)() PURE;   // the module's live objects (class factories included)
  STDMETHOD_(LONG, Creations)() PURE;       // objects its creation functions have made so far
  STDMETHOD_(LONG, LoadCalls)() PURE;       // init routine calls with TRUE
  STDMETHOD_(HINSTANCE, Instance)() PURE;   // the instance handle recorded at load
  STDMETHOD_(DWORD, Platform)() PURE;       // the platform id recorded at load
  STDMETHOD_(int, ModuleIndex)() PURE;      // n of PlenorTestModule<n>
  STDMETHOD_(BOOL, IsAggregated)() PURE;    // created with a controlling IUnknown

 protected:
  ~ITestModuleProbe() = default;
};

// Path of test module n in the build (PLENOR_TEST_PLUGIN_DIR is set for the test binaries that use
// the modules), and the module loaded through the runtime with its exports.
#ifdef PLENOR_TEST_PLUGIN_DIR
#include "platform/com/runtime.h"

inline std::string TestModulePath(int n) {
  return std::string(PLENOR_TEST_PLUGIN_DIR) + (n == 1 ? "/PlenorTestModule.so"
                                                       : "/PlenorTestModule" + std::to_string(n) + ".so");
}

class TestModule {
 public:
  explicit TestModule(int n) : m_path(TestModulePath(n)), m_module(LoadLibrary(m_path.c_str(), &m_error)) {}
  TestModule(const TestModule&) = delete;
  TestModule& operator=(const TestModule&) = delete;
  ~TestModule() {
    if (m_module) FreeLibrary(m_module);
  }

  bool Loaded() const { return m_module != nullptr; }
  const std::string& Error() const { return m_error; }
  const std::string& Path() const { return m_path; }

  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** ppv) const {
    return Entry<HRESULT (*)(REFCLSID, REFIID, void**)>("DllGetClassObject")(clsid, iid, ppv);
  }
  HRESULT CanUnloadNow() const { return Entry<HRESULT (*)()>("DllCanUnloadNow")(); }
  HRESULT Register() const { return Entry<HRESULT (*)()>("DllRegisterServer")(); }
  HRESULT Unregister() const { return Entry<HRESULT (*)()>("DllUnregisterServer")(); }

 private:
  template <class Fn>
  Fn Entry(const char* name) const {
    void* p = m_module ? GetProcAddress(m_module, name) : nullptr;
    if (!p) std::abort();  // the test modules always export their entry points
    return reinterpret_cast<Fn>(p);
  }

  std::string m_path;
  std::string m_error;
  HMODULE m_module;
};
#endif

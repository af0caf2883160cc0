// Test-only module for the class loader: one class whose objects and factories are counted, the
// usual entry points, and a few extra exports the tests use to look inside.
#include <atomic>

#include "platform/com/runtime.h"

#define MODULE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// {6A1D2C40-8E1B-4F35-9C7E-2B4F0D9A1C01}
PLENOR_GUID(CLSID_LoaderTestObject, 0x6a1d2c40, 0x8e1b, 0x4f35, 0x9c, 0x7e, 0x2b, 0x4f, 0x0d, 0x9a, 0x1c, 0x01);

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
HMODULE g_instance = nullptr;
int g_marker = 0;

// Runs inside the dynamic loader; calls back into the runtime as a module's load hook may.
__attribute__((constructor)) void Attach() {
  g_instance = ModuleHandleFromAddress(&g_marker);
  (void)CoGetLoadedModules();
}

// Counts itself as a live object of the module from construction to destruction.
class Counted : public IUnknown {
 public:
  Counted() { ++g_objects; }
  virtual ~Counted() { --g_objects; }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG r = --m_refs;
    if (r == 0) delete this;
    return r;
  }

 private:
  std::atomic<ULONG> m_refs{0};
};

class TestObject : public Counted {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown) return E_NOINTERFACE;
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
};

class Factory : public Counted, public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return Counted::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return Counted::Release(); }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    ComPtr<IUnknown> object = ComPtr<IUnknown>::Attach(new TestObject);
    object->AddRef();
    return object->QueryInterface(riid, ppv);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    lock ? ++g_locks : --g_locks;
    return S_OK;
  }
};

}  // namespace

MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_LoaderTestObject) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new Factory;
  factory->AddRef();
  HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

MODULE_EXPORT HRESULT DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

MODULE_EXPORT long LoaderModuleLiveObjects() { return g_objects; }

MODULE_EXPORT HMODULE LoaderModuleInstance() { return g_instance; }

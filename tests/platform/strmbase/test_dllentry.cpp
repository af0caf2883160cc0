// Module entry of a real module (PlenorTestModule.so loaded through the runtime): DllGetClassObject,
// the class factory, object and lock counting, and the load hook.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "platform/com/runtime.h"
#include "tests/platform/strmbase/testmodule/testmodule.h"

namespace {

// A controlling object for aggregation tests; counts the references the inner object takes on it.
struct OuterUnknown : IUnknown {
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  std::atomic<ULONG> refs{1};
};

void* const kGarbage = reinterpret_cast<void*>(0x1234);

class ModuleEntryTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(module.Loaded()) << module.Error(); }

  ComPtr<IClassFactory> Factory(REFCLSID clsid) {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(module.GetClassObject(clsid, IID_IClassFactory, factory.AsOut()), S_OK);
    return factory;
  }
  // A live filter object whose probe reports the module's state.
  ComPtr<ITestModuleProbe> NewProbe() {
    ComPtr<ITestModuleProbe> probe;
    ComPtr<IClassFactory> factory = Factory(TestFilterClsid(1));
    if (factory) {
      EXPECT_EQ(factory->CreateInstance(nullptr, IID_ITestModuleProbe, probe.AsOut()), S_OK);
    }
    return probe;
  }

  TestModule module{1};
};

TEST_F(ModuleEntryTest, ClassObjectServesOnlyIUnknownAndIClassFactory) {
  for (const CLSID& clsid : {TestFilterClsid(1), TestPageClsid(1)}) {
    ComPtr<IUnknown> unk;
    EXPECT_EQ(module.GetClassObject(clsid, IID_IUnknown, unk.AsOut()), S_OK);
    EXPECT_TRUE(unk);
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(module.GetClassObject(clsid, IID_IClassFactory, factory.AsOut()), S_OK);
    EXPECT_TRUE(factory);

    void* p = kGarbage;
    EXPECT_EQ(module.GetClassObject(clsid, IID_IFilterMapper2, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    p = kGarbage;
    EXPECT_EQ(module.GetClassObject(clsid, IID_ITestModuleProbe, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
  }
  EXPECT_EQ(module.GetClassObject(TestFilterClsid(1), IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ModuleEntryTest, ClassOfAnotherModuleIsNotAvailable) {
  for (const CLSID& clsid : {TestFilterClsid(2), TestPageClsid(3), CLSID_FilterMapper2, CLSID_NULL}) {
    void* p = kGarbage;
    EXPECT_EQ(module.GetClassObject(clsid, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(p, nullptr);
  }
  // The interface check comes first.
  void* p = kGarbage;
  EXPECT_EQ(module.GetClassObject(TestFilterClsid(2), IID_IFilterMapper, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
}

TEST_F(ModuleEntryTest, FactoryQueryInterfaceAndLifetime) {
  ComPtr<IClassFactory> factory = Factory(TestFilterClsid(1));
  ASSERT_TRUE(factory);
  ComPtr<IUnknown> unk;
  EXPECT_EQ(factory->QueryInterface(IID_IUnknown, unk.AsOut()), S_OK);
  EXPECT_EQ(static_cast<void*>(unk.Get()), static_cast<void*>(factory.Get()));
  void* p = kGarbage;
  EXPECT_EQ(factory->QueryInterface(IID_IFilterMapper, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);

  // The factory is a live object of the module until its last reference goes.
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
  unk = nullptr;
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
  factory = nullptr;
  EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

TEST_F(ModuleEntryTest, CreateInstanceCountsObjectsUntilReleased) {
  ComPtr<IClassFactory> factory = Factory(TestPageClsid(1));
  ASSERT_TRUE(factory);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);

  ComPtr<ITestModuleProbe> page;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_ITestModuleProbe, page.AsOut()), S_OK);
  EXPECT_EQ(page->ObjectsActive(), 2);  // the factory and the page
  EXPECT_FALSE(page->IsAggregated());
  factory = nullptr;
  EXPECT_EQ(page->ObjectsActive(), 1);
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
  page = nullptr;
  EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

TEST_F(ModuleEntryTest, UnsupportedInterfaceDestroysTheNewObject) {
  ComPtr<ITestModuleProbe> probe = NewProbe();
  ASSERT_TRUE(probe);
  ComPtr<IClassFactory> factory = Factory(TestFilterClsid(1));
  const LONG created = probe->Creations();
  const LONG active = probe->ObjectsActive();
  void* p = kGarbage;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IFilterMapper2, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(probe->Creations(), created + 1);  // it was made ...
  EXPECT_EQ(probe->ObjectsActive(), active);   // ... and destroyed again
}

TEST_F(ModuleEntryTest, FailedConstructionReturnsItsCodeAndDestroysTheObject) {
  ComPtr<ITestModuleProbe> probe = NewProbe();
  ASSERT_TRUE(probe);
  ComPtr<IClassFactory> factory = Factory(CLSID_TestFailingClass);
  ASSERT_TRUE(factory);
  const LONG created = probe->Creations();
  const LONG active = probe->ObjectsActive();
  void* p = kGarbage;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &p), E_ACCESSDENIED);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(probe->Creations(), created + 1);
  EXPECT_EQ(probe->ObjectsActive(), active);
}

TEST_F(ModuleEntryTest, AggregationOnlyThroughTheInnerIUnknown) {
  ComPtr<ITestModuleProbe> probe = NewProbe();
  ASSERT_TRUE(probe);
  ComPtr<IClassFactory> factory = Factory(TestFilterClsid(1));
  OuterUnknown outer;
  const LONG created = probe->Creations();

  void* p = kGarbage;
  EXPECT_EQ(factory->CreateInstance(&outer, IID_ITestModuleProbe, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(probe->Creations(), created);  // refused before anything was created
  EXPECT_EQ(outer.refs, 1u);

  // Asking for IUnknown gives the inner (non-delegating) IUnknown of an aggregated object.
  IUnknown* inner = nullptr;
  ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  ITestModuleProbe* innerProbe = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_ITestModuleProbe, reinterpret_cast<void**>(&innerProbe)), S_OK);
  EXPECT_TRUE(innerProbe->IsAggregated());
  EXPECT_EQ(outer.refs, 2u);  // the interface's reference went to the outer object
  innerProbe->Release();      // delegates to the outer object as well
  EXPECT_EQ(outer.refs, 1u);
  EXPECT_EQ(probe->ObjectsActive(), 3);  // probe, factory, inner
  inner->Release();                      // the outer object's hold on the inner one
  EXPECT_EQ(probe->ObjectsActive(), 2);
}

TEST_F(ModuleEntryTest, LockServerKeepsTheModuleLoaded) {
  ComPtr<IClassFactory> factory = Factory(TestFilterClsid(1));
  ASSERT_TRUE(factory);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory = nullptr;
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);  // no object, but locked

  factory = Factory(TestPageClsid(1));  // any factory of the module releases the lock
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory = nullptr;
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);  // still locked once
  factory = Factory(TestFilterClsid(1));
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);  // the factory itself
  factory = nullptr;
  EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

TEST_F(ModuleEntryTest, LoadHookRecordsInstanceAndRunsInitRoutines) {
  ComPtr<ITestModuleProbe> probe = NewProbe();
  ASSERT_TRUE(probe);
  EXPECT_EQ(probe->ModuleIndex(), 1);
  EXPECT_EQ(probe->Platform(), 2u);   // VER_PLATFORM_WIN32_NT once loaded
  EXPECT_EQ(probe->LoadCalls(), 1);   // the filter template's init routine, once per load
  ASSERT_NE(probe->Instance(), nullptr);
  char path[4096];
  DWORD len = GetModuleFileNameA(probe->Instance(), path, sizeof path);
  ASSERT_GT(len, 0u);
  EXPECT_TRUE(std::filesystem::equivalent(std::string(path, len), module.Path()));
}

TEST(ModuleEntry, ModulesKeepSeparateCounts) {
  TestModule one(1);
  TestModule two(2);
  ASSERT_TRUE(one.Loaded() && two.Loaded());
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(two.GetClassObject(TestFilterClsid(2), IID_IClassFactory, factory.AsOut()), S_OK);
  EXPECT_EQ(two.CanUnloadNow(), S_FALSE);
  EXPECT_EQ(one.CanUnloadNow(), S_OK);  // each module has its own copy of the counters
  factory = nullptr;
  EXPECT_EQ(two.CanUnloadNow(), S_OK);
}

}  // namespace

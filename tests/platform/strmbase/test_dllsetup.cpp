// Registration of real modules (the test modules loaded through the runtime): class keys, mapper
// entries, registering twice, unregistering whole subtrees, and creating the registered classes
// through the registry.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/registry.h"
#include "platform/com/runtime.h"
#include "platform/graph/mapper.h"
#include "tests/platform/strmbase/testmodule/testmodule.h"

namespace {

std::string ClassKey(REFCLSID clsid) { return "CLSID\\" + GuidToString(clsid); }

// Reads a REG_SZ value of HKEY_CLASSES_ROOT\key; false when the key or value is missing.
bool ReadString(const std::string& key, const char* value, std::string* out) {
  HKEY hkey = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hkey) != ERROR_SUCCESS) return false;
  char buf[1024];
  DWORD type = 0, cb = sizeof buf;
  LSTATUS rc = RegQueryValueEx(hkey, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &cb);
  RegCloseKey(hkey);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
  *out = std::string(buf, cb > 0 && buf[cb - 1] == '\0' ? cb - 1 : cb);
  return true;
}

bool KeyExists(const std::string& key) {
  HKEY hkey = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hkey) != ERROR_SUCCESS) return false;
  RegCloseKey(hkey);
  return true;
}

std::vector<std::string> Subkeys(const std::string& key) {
  std::vector<std::string> names;
  HKEY hkey = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hkey) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD cch = sizeof name;
    if (RegEnumKeyEx(hkey, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, cch);
  }
  RegCloseKey(hkey);
  return names;
}

int CountValues(const std::string& key) {
  HKEY hkey = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hkey) != ERROR_SUCCESS) return -1;
  int n = 0;
  for (;; ++n) {
    char name[256];
    DWORD cch = sizeof name;
    if (RegEnumValue(hkey, static_cast<DWORD>(n), name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
  }
  RegCloseKey(hkey);
  return n;
}

int MapperEntriesFor(REFCLSID clsid) {
  std::vector<RegisteredFilter> filters;
  EXPECT_EQ(MapperGetFilters(&filters), S_OK);
  int n = 0;
  for (const RegisteredFilter& f : filters) n += f.clsid == clsid;
  return n;
}

class RegistrationTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(one.Loaded()) << one.Error();
    ASSERT_TRUE(two.Loaded()) << two.Error();
    ASSERT_TRUE(three.Loaded()) << three.Error();
  }
  void TearDown() override {
    one.Unregister();
    two.Unregister();
    three.Unregister();
  }
  TestModule one{1};
  TestModule two{2};
  TestModule three{3};
};

TEST_F(RegistrationTest, WritesClassKeysAndMapperEntry) {
  ASSERT_EQ(one.Register(), S_OK);
  const std::string canonical = std::filesystem::canonical(one.Path()).string();
  struct Expect {
    CLSID clsid;
    std::wstring name;
  };
  for (const Expect& e : {Expect{TestFilterClsid(1), TestFilterName(1)}, Expect{TestPageClsid(1), TestPageName(1)}}) {
    std::string value;
    ASSERT_TRUE(ReadString(ClassKey(e.clsid), nullptr, &value));
    EXPECT_EQ(value, WideToUtf8(e.name));
    ASSERT_TRUE(ReadString(ClassKey(e.clsid) + "\\InprocServer32", nullptr, &value));
    EXPECT_EQ(std::filesystem::canonical(value).string(), canonical);
    EXPECT_TRUE(std::filesystem::path(value).is_absolute());
    ASSERT_TRUE(ReadString(ClassKey(e.clsid) + "\\InprocServer32", "ThreadingModel", &value));
    EXPECT_EQ(value, "Both");
  }

  // Only the filter goes to the mapper, with its setup data.
  RegisteredFilter f;
  ASSERT_EQ(MapperGetFilter(TestFilterClsid(1), &f), S_OK);
  EXPECT_EQ(f.name, TestFilterName(1));
  EXPECT_EQ(f.merit, TestFilterMerit(1));
  EXPECT_EQ(f.category, CLSID_LegacyAmFilterCategory);
  ASSERT_EQ(f.pins.size(), 1u);
  EXPECT_EQ(f.pins[0].name, L"Output");
  EXPECT_TRUE(f.pins[0].output);
  EXPECT_FALSE(f.pins[0].rendered || f.pins[0].zero || f.pins[0].many);
  ASSERT_EQ(f.pins[0].mediaTypes.size(), 1u);
  EXPECT_EQ(f.pins[0].mediaTypes[0].majorType, MEDIATYPE_Video);
  EXPECT_EQ(f.pins[0].mediaTypes[0].subType, MEDIASUBTYPE_I420);
  EXPECT_EQ(MapperGetFilter(TestPageClsid(1), &f), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(RegistrationTest, RegisteringTwiceLeavesOneSetOfKeysAndOneMapperEntry) {
  ASSERT_EQ(three.Register(), S_OK);
  ASSERT_EQ(three.Register(), S_OK);
  EXPECT_EQ(Subkeys(ClassKey(TestFilterClsid(3))), std::vector<std::string>{"InprocServer32"});
  EXPECT_EQ(CountValues(ClassKey(TestFilterClsid(3))), 1);
  EXPECT_EQ(CountValues(ClassKey(TestFilterClsid(3)) + "\\InprocServer32"), 2);
  EXPECT_EQ(MapperEntriesFor(TestFilterClsid(3)), 1);

  // Two unnamed pins, each with its own single type: nothing added twice, nothing merged.
  RegisteredFilter f;
  ASSERT_EQ(MapperGetFilter(TestFilterClsid(3), &f), S_OK);
  ASSERT_EQ(f.pins.size(), 2u);
  EXPECT_FALSE(f.pins[0].output);
  EXPECT_TRUE(f.pins[1].output);
  for (const RegisteredPin& pin : f.pins) {
    EXPECT_EQ(pin.name, L"");
    ASSERT_EQ(pin.mediaTypes.size(), 1u);
    EXPECT_EQ(pin.mediaTypes[0].majorType, MEDIATYPE_Audio);
    EXPECT_EQ(pin.mediaTypes[0].subType, MEDIASUBTYPE_PCM);
  }
}

TEST_F(RegistrationTest, UnregisteringRemovesWholeSubtreesOfThatModuleOnly) {
  ASSERT_EQ(one.Register(), S_OK);
  ASSERT_EQ(two.Register(), S_OK);
  // Something else has written deeper under the class key.
  HKEY deep = nullptr;
  ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, (ClassKey(TestFilterClsid(1)) + "\\InprocServer32\\Extra\\Deeper").c_str(),
                         &deep),
            ERROR_SUCCESS);
  const char text[] = "x";
  EXPECT_EQ(RegSetValueEx(deep, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), ERROR_SUCCESS);
  RegCloseKey(deep);

  ASSERT_EQ(one.Unregister(), S_OK);
  EXPECT_FALSE(KeyExists(ClassKey(TestFilterClsid(1))));
  EXPECT_FALSE(KeyExists(ClassKey(TestPageClsid(1))));
  EXPECT_EQ(MapperEntriesFor(TestFilterClsid(1)), 0);
  // The other module is untouched.
  EXPECT_TRUE(KeyExists(ClassKey(TestFilterClsid(2)) + "\\InprocServer32"));
  EXPECT_TRUE(KeyExists(ClassKey(TestPageClsid(2)) + "\\InprocServer32"));
  EXPECT_EQ(MapperEntriesFor(TestFilterClsid(2)), 1);

  // Unregistering what is not registered is not an error.
  EXPECT_EQ(one.Unregister(), S_OK);
}

// A class key that cannot be deleted does not keep the module's other keys: every template is
// tried, and the first failure (in template order) is returned.
TEST_F(RegistrationTest, UnregisteringGoesOnPastAKeyItCannotDeleteAndReturnsTheFirstFailure) {
  struct ClearFaults {
    ~ClearFaults() { RegSetDeleteFault(nullptr, ERROR_SUCCESS); }
  } clear;
  // Module 1's templates in order: the filter, its page, the failing class.
  const CLSID classes[] = {TestFilterClsid(1), TestPageClsid(1), CLSID_TestFailingClass};
  struct Case {
    LSTATUS faults[3];  // what deleting each template's key answers
    HRESULT result;
  };
  const Case cases[] = {
      {{ERROR_ACCESS_DENIED, ERROR_SUCCESS, ERROR_SUCCESS}, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)},
      {{ERROR_SUCCESS, ERROR_WRITE_FAULT, ERROR_SUCCESS}, HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)},
      {{ERROR_SUCCESS, ERROR_SUCCESS, ERROR_ACCESS_DENIED}, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)},
      {{ERROR_WRITE_FAULT, ERROR_SUCCESS, ERROR_ACCESS_DENIED}, HRESULT_FROM_WIN32(ERROR_WRITE_FAULT)},
      {{ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_WRITE_FAULT}, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.faults));
    ASSERT_EQ(one.Register(), S_OK);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(KeyExists(ClassKey(classes[i])));
    for (int i = 0; i < 3; ++i) RegSetDeleteFault(ClassKey(classes[i]).c_str(), c.faults[i]);
    EXPECT_EQ(one.Unregister(), c.result);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(KeyExists(ClassKey(classes[i])), c.faults[i] != ERROR_SUCCESS) << i;
    EXPECT_EQ(MapperEntriesFor(TestFilterClsid(1)), 0);
    // Once the key can go, unregistering again removes what was left.
    RegSetDeleteFault(nullptr, ERROR_SUCCESS);
    EXPECT_EQ(one.Unregister(), S_OK);
    for (const CLSID& clsid : classes) EXPECT_FALSE(KeyExists(ClassKey(clsid)));
  }
}

TEST_F(RegistrationTest, RegisteredClassesAreCreatedThroughTheRegistry) {
  ASSERT_EQ(two.Register(), S_OK);
  ComPtr<ITestModuleProbe> probe;
  ASSERT_EQ(CoCreateInstance(TestFilterClsid(2), nullptr, CLSCTX_INPROC_SERVER, IID_ITestModuleProbe, probe.AsOut()),
            S_OK);
  EXPECT_EQ(probe->ModuleIndex(), 2);
  ComPtr<ITestModuleProbe> page;
  ASSERT_EQ(CoCreateInstance(TestPageClsid(2), nullptr, CLSCTX_INPROC_SERVER, IID_ITestModuleProbe, page.AsOut()),
            S_OK);
  EXPECT_EQ(page->ModuleIndex(), 2);
  EXPECT_EQ(two.CanUnloadNow(), S_FALSE);
  probe = nullptr;
  page = nullptr;
  EXPECT_EQ(two.CanUnloadNow(), S_OK);

  ASSERT_EQ(two.Unregister(), S_OK);
  void* p = nullptr;
  EXPECT_EQ(CoCreateInstance(TestFilterClsid(2), nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(p, nullptr);
}

TEST(RegistrationPath, ModulePathTooLongToRecordFailsBeforeWriting) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / ("plenor-deep-" + std::to_string(::getpid()));
  fs::path deep = root;
  for (int i = 0; i < 5; ++i) deep /= std::string(50, 'd');  // well over MAX_PATH characters
  fs::create_directories(deep);
  const fs::path copy = deep / "PlenorTestModule4.so";
  fs::copy_file(TestModulePath(4), copy, fs::copy_options::overwrite_existing);
  {
    HMODULE module = LoadLibrary(copy.c_str());
    ASSERT_NE(module, nullptr);
    auto reg = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr);
    // A cut-off path would name a module that does not exist.
    EXPECT_EQ(reg(), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_FALSE(KeyExists(ClassKey(TestFilterClsid(4))));
    EXPECT_EQ(MapperEntriesFor(TestFilterClsid(4)), 0);
    FreeLibrary(module);
  }
  std::error_code ec;
  fs::remove_all(root, ec);
}

}  // namespace

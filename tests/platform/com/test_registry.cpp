// Registry behaviour: values of each type, default values, enumeration, short buffers, deletion,
// case-insensitive paths, transactions and persistence across reopening the database.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/com/registry.h"
#include "platform/com/runtime.h"

namespace {

// Closes a key handle at scope end.
struct Key {
  HKEY h = nullptr;
  ~Key() {
    if (h) RegCloseKey(h);
  }
};

LSTATUS SetString(HKEY key, const char* name, const std::string& text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

std::string GetString(HKEY key, const char* name, LSTATUS* status = nullptr) {
  char buf[512] = {};
  DWORD size = sizeof buf;
  DWORD type = 0;
  LSTATUS st = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  if (status) *status = st;
  if (st != ERROR_SUCCESS || type != REG_SZ) return "<" + std::to_string(st) + "/" + std::to_string(type) + ">";
  return std::string(buf, size ? size - 1 : 0);
}

std::vector<std::string> SubkeyNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD cch = sizeof name;
    LSTATUS st = RegEnumKeyExA(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (st == ERROR_NO_MORE_ITEMS) break;
    EXPECT_EQ(st, ERROR_SUCCESS);
    if (st != ERROR_SUCCESS) break;
    names.emplace_back(name, cch);
  }
  return names;
}

TEST(Registry, ValuesOfEachTypeRoundTrip) {
  Key k;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "RegTest\\Types", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k.h,
                            &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);

  ASSERT_EQ(SetString(k.h, nullptr, "default text"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(k.h, "ThreadingModel", "Both"), ERROR_SUCCESS);
  DWORD merit = 0x600000;
  ASSERT_EQ(RegSetValueExA(k.h, "Merit", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&merit), 4), ERROR_SUCCESS);
  const BYTE blob[] = {0, 1, 2, 0, 0xFF};
  ASSERT_EQ(RegSetValueExA(k.h, "Blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(k.h, "Empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);

  EXPECT_EQ(GetString(k.h, ""), "default text");
  EXPECT_EQ(GetString(k.h, nullptr), "default text");
  EXPECT_EQ(GetString(k.h, "threadingmodel"), "Both");

  DWORD type = 0, value = 0, size = sizeof value;
  ASSERT_EQ(RegQueryValueExA(k.h, "MERIT", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(value, 0x600000u);

  BYTE out[16] = {};
  size = sizeof out;
  ASSERT_EQ(RegQueryValueExA(k.h, "Blob", nullptr, &type, out, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  ASSERT_EQ(size, sizeof blob);
  EXPECT_EQ(std::memcmp(out, blob, sizeof blob), 0);

  size = 99;
  ASSERT_EQ(RegQueryValueExA(k.h, "Empty", nullptr, &type, out, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 0u);

  // Overwriting changes type and data in place.
  ASSERT_EQ(SetString(k.h, "Merit", "now text"), ERROR_SUCCESS);
  EXPECT_EQ(GetString(k.h, "Merit"), "now text");

  // A DWORD must be four bytes.
  EXPECT_EQ(RegSetValueExA(k.h, "Bad", 0, REG_DWORD, blob, 2), ERROR_INVALID_PARAMETER);
}

TEST(Registry, QuerySizesAndShortBuffers) {
  Key k;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "RegTest\\Sizes", &k.h), ERROR_SUCCESS);
  ASSERT_EQ(SetString(k.h, "Name", "abcdef"), ERROR_SUCCESS);

  // Null data: size and type only; the size includes the terminator.
  DWORD type = 0, size = 0;
  ASSERT_EQ(RegQueryValueExA(k.h, "Name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 7u);

  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  size = 6;
  EXPECT_EQ(RegQueryValueExA(k.h, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(buf[0], 'x') << "a short buffer is left untouched";

  size = 7;
  ASSERT_EQ(RegQueryValueExA(k.h, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
  EXPECT_STREQ(buf, "abcdef");

  // Text set without its terminator reads back with one.
  ASSERT_EQ(RegSetValueExA(k.h, "NoZero", 0, REG_SZ, reinterpret_cast<const BYTE*>("xyz"), 3), ERROR_SUCCESS);
  size = sizeof buf;
  ASSERT_EQ(RegQueryValueExA(k.h, "NoZero", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4u);
  EXPECT_STREQ(buf, "xyz");

  LSTATUS st;
  GetString(k.h, "Missing", &st);
  EXPECT_EQ(st, ERROR_FILE_NOT_FOUND);
  // A key without a default value has none to read.
  GetString(k.h, nullptr, &st);
  EXPECT_EQ(st, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValueExA(k.h, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), nullptr),
            ERROR_INVALID_PARAMETER);
}

TEST(Registry, PathsCompareWithoutCaseAndKeepTheirSpelling) {
  Key a;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "RegTest\\Case\\MixedName", &a.h), ERROR_SUCCESS);
  ASSERT_EQ(SetString(a.h, "V", "1"), ERROR_SUCCESS);

  Key b;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "regtest\\CASE\\mixedname", 0, KEY_READ, &b.h), ERROR_SUCCESS);
  EXPECT_EQ(GetString(b.h, "v"), "1");

  DWORD disposition = 0;
  Key c;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "REGTEST\\case\\MIXEDNAME", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &c.h, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

  Key parent;
  ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "RegTest\\Case\\", &parent.h), ERROR_SUCCESS);
  EXPECT_EQ(SubkeyNames(parent.h), std::vector<std::string>{"MixedName"});

  Key bad;
  EXPECT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "RegTest\\\\Case", &bad.h), ERROR_BAD_PATHNAME);
  EXPECT_EQ(bad.h, nullptr);
  EXPECT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "RegTest\\NoSuchKey", &bad.h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, ("RegTest\\" + std::string(256, 'n')).c_str(), &bad.h),
            ERROR_INVALID_PARAMETER);
}

TEST(Registry, EnumerationOrderAndEnd) {
  Key k;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "RegTest\\Enum", &k.h), ERROR_SUCCESS);
  for (const char* name : {"delta", "Alpha", "charlie", "Bravo"}) {
    Key sub;
    ASSERT_EQ(RegCreateKeyA(k.h, name, &sub.h), ERROR_SUCCESS);
  }
  // Subkeys come in name order regardless of case.
  EXPECT_EQ(SubkeyNames(k.h), (std::vector<std::string>{"Alpha", "Bravo", "charlie", "delta"}));

  // Values come in the order they were first set; overwriting keeps the position.
  ASSERT_EQ(SetString(k.h, "zeta", "1"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(k.h, nullptr, "d"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(k.h, "alpha", "2"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(k.h, "zeta", "3"), ERROR_SUCCESS);
  std::vector<std::string> names;
  std::vector<std::string> data;
  for (DWORD i = 0;; ++i) {
    char name[64], value[64];
    DWORD cch = sizeof name, cb = sizeof value, type = 0;
    LSTATUS st = RegEnumValueA(k.h, i, name, &cch, nullptr, &type, reinterpret_cast<BYTE*>(value), &cb);
    if (st == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(st, ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    names.emplace_back(name, cch);
    data.emplace_back(value);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"zeta", "", "alpha"}));
  EXPECT_EQ(data, (std::vector<std::string>{"3", "d", "2"}));

  // Short name buffers: ERROR_MORE_DATA and the length needed.
  char small[4];
  DWORD cch = sizeof small;
  EXPECT_EQ(RegEnumKeyExA(k.h, 2, small, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(cch, 7u);
  cch = 5;  // "Alpha" needs 6 with its terminator
  char five[5];
  EXPECT_EQ(RegEnumKeyExA(k.h, 0, five, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  cch = 4;
  EXPECT_EQ(RegEnumValueA(k.h, 0, small, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(RegEnumKeyExA(k.h, 4, small, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST(Registry, DeleteKeyValueAndTree) {
  Key root;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "RegTest\\Del\\A\\B\\C", &root.h), ERROR_SUCCESS);
  ASSERT_EQ(SetString(root.h, "leaf", "x"), ERROR_SUCCESS);
  Key a;
  ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "RegTest\\Del\\A", &a.h), ERROR_SUCCESS);
  ASSERT_EQ(SetString(a.h, nullptr, "a"), ERROR_SUCCESS);

  // A key with subkeys cannot be deleted on its own.
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "RegTest\\Del\\A"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, "RegTest\\Del\\Nope"), ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(RegDeleteValueA(root.h, "leaf"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(root.h, "leaf"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(a.h, "B\\C"), ERROR_SUCCESS);
  // The open handle now refers to a deleted key.
  EXPECT_EQ(SetString(root.h, "again", "y"), ERROR_KEY_DELETED);
  LSTATUS st;
  GetString(root.h, "leaf", &st);
  EXPECT_EQ(st, ERROR_KEY_DELETED);

  // Recreating the key gives a new key, not the deleted one's values.
  Key again;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(a.h, "B\\C", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &again.h, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  GetString(again.h, "leaf", &st);
  EXPECT_EQ(st, ERROR_FILE_NOT_FOUND);

  // A tree with no subkey name empties the key and keeps it.
  ASSERT_EQ(RegDeleteTreeA(a.h, nullptr), ERROR_SUCCESS);
  EXPECT_TRUE(SubkeyNames(a.h).empty());
  GetString(a.h, nullptr, &st);
  EXPECT_EQ(st, ERROR_FILE_NOT_FOUND);
  Key b;
  EXPECT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "RegTest\\Del\\A\\B", &b.h), ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(RegCreateKeyA(a.h, "X\\Y\\Z", &b.h), ERROR_SUCCESS);
  ASSERT_EQ(SetString(b.h, "v", "1"), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "regtest\\del"), ERROR_SUCCESS);
  Key gone;
  EXPECT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "RegTest\\Del", &gone.h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "RegTest\\Del"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(SetString(b.h, "v", "2"), ERROR_KEY_DELETED);
}

// The deletion fault for tests: it hits the named key however it is reached, and nothing else.
TEST(Registry, DeleteFaultHitsOnlyTheNamedKeyUntilCleared) {
  struct ClearFaults {
    ~ClearFaults() { RegSetDeleteFault(nullptr, ERROR_SUCCESS); }
  } clear;
  Key a, b, parent;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "RegTest\\Fault\\A", &a.h), ERROR_SUCCESS);
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "RegTest\\Fault\\B", &b.h), ERROR_SUCCESS);
  ASSERT_EQ(SetString(a.h, "v", "kept"), ERROR_SUCCESS);
  ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "RegTest\\Fault", &parent.h), ERROR_SUCCESS);
  RegSetDeleteFault("regtest\\FAULT\\a", ERROR_WRITE_FAULT);
  struct Attempt {
    const char* how;
    LSTATUS result;
  };
  const Attempt attempts[] = {
      {"key by path", RegDeleteKeyA(HKEY_CLASSES_ROOT, "RegTest\\Fault\\A")},
      {"key from its parent", RegDeleteKeyA(parent.h, "a")},
      {"tree by path", RegDeleteTreeA(HKEY_CLASSES_ROOT, "REGTEST\\Fault\\A")},
      {"contents through its handle", RegDeleteTreeA(a.h, nullptr)},
  };
  for (const Attempt& t : attempts) EXPECT_EQ(t.result, ERROR_WRITE_FAULT) << t.how;
  EXPECT_EQ(GetString(a.h, "v"), "kept");
  EXPECT_EQ(RegDeleteKeyA(parent.h, "B"), ERROR_SUCCESS) << "another key is not touched";

  RegSetDeleteFault("RegTest\\Fault\\A", ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(parent.h, "A"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "RegTest\\Fault"), ERROR_SUCCESS);
}

TEST(Registry, HandlesAreChecked) {
  Key k;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "RegTest\\Handles", &k.h), ERROR_SUCCESS);
  HKEY h = k.h;
  ASSERT_EQ(RegCloseKey(h), ERROR_SUCCESS);
  k.h = nullptr;
  EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetString(h, "v", "1"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_CLASSES_ROOT), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, nullptr), ERROR_ACCESS_DENIED);
}

TEST(Registry, TransactionsCommitOrRollBackAsAWhole) {
  ASSERT_EQ(RegBeginTransaction(), ERROR_SUCCESS);
  {
    Key k;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "RegTest\\Tx\\Dropped", &k.h), ERROR_SUCCESS);
    ASSERT_EQ(SetString(k.h, "v", "1"), ERROR_SUCCESS);
    // A failing call inside the transaction does not end it.
    EXPECT_EQ(RegDeleteValueA(k.h, "missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetString(k.h, "v"), "1");
  }
  ASSERT_EQ(RegEndTransaction(FALSE), ERROR_SUCCESS);
  Key k;
  EXPECT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "RegTest\\Tx\\Dropped", &k.h), ERROR_FILE_NOT_FOUND);

  // Nested: the inner end only counts; the outer commit writes everything.
  ASSERT_EQ(RegBeginTransaction(), ERROR_SUCCESS);
  ASSERT_EQ(RegBeginTransaction(), ERROR_SUCCESS);
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "RegTest\\Tx\\Kept", &k.h), ERROR_SUCCESS);
  ASSERT_EQ(RegEndTransaction(TRUE), ERROR_SUCCESS);
  ASSERT_EQ(RegEndTransaction(TRUE), ERROR_SUCCESS);
  EXPECT_EQ(SetString(k.h, "v", "after"), ERROR_SUCCESS);
  Key again;
  EXPECT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "RegTest\\Tx\\Kept", &again.h), ERROR_SUCCESS);

  // An inner rollback dooms the outer commit.
  ASSERT_EQ(RegBeginTransaction(), ERROR_SUCCESS);
  ASSERT_EQ(RegBeginTransaction(), ERROR_SUCCESS);
  Key doomed;
  ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "RegTest\\Tx\\Doomed", &doomed.h), ERROR_SUCCESS);
  ASSERT_EQ(RegEndTransaction(FALSE), ERROR_SUCCESS);
  EXPECT_NE(RegEndTransaction(TRUE), ERROR_SUCCESS);
  Key check;
  EXPECT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "RegTest\\Tx\\Doomed", &check.h), ERROR_FILE_NOT_FOUND);

  EXPECT_EQ(RegEndTransaction(TRUE), ERROR_INVALID_PARAMETER) << "no transaction is open";
}

// Points the runtime at another database for one test and back afterwards.
class OtherDatabase : public testing::Test {
 protected:
  void SetUp() override {
    m_saved = CoGetRegistryPath();
    m_dir = std::filesystem::temp_directory_path() / ("plenor-regtest-" + std::to_string(::getpid()));
    std::filesystem::remove_all(m_dir);
  }
  void TearDown() override {
    CoSetRegistryPath(m_saved);
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }
  std::string m_saved;
  std::filesystem::path m_dir;
};

TEST_F(OtherDatabase, PersistsAcrossReopenAndCreatesFolders) {
  std::string path = (m_dir / "nested" / "folders" / "reg.db").string();
  CoSetRegistryPath(path);
  EXPECT_EQ(CoGetRegistryPath(), path);
  {
    Key k;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "CLSID\\{00000000-0000-0000-0000-000000000001}\\InprocServer32",
                            &k.h),
              ERROR_SUCCESS);
    ASSERT_EQ(SetString(k.h, nullptr, "/opt/module.so"), ERROR_SUCCESS);
  }
  EXPECT_TRUE(std::filesystem::exists(path));

  // Another database does not see the key; the first one still has it when switched back.
  CoSetRegistryPath((m_dir / "other.db").string());
  Key k;
  EXPECT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "CLSID", &k.h), ERROR_FILE_NOT_FOUND);
  CoSetRegistryPath(path);
  ASSERT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "clsid\\{00000000-0000-0000-0000-000000000001}\\inprocserver32", &k.h),
            ERROR_SUCCESS);
  EXPECT_EQ(GetString(k.h, nullptr), "/opt/module.so");
}

TEST_F(OtherDatabase, UnopenableDatabaseIsReportedClearly) {
  std::filesystem::create_directories(m_dir);
  // A path whose parent is a regular file cannot be created.
  std::ofstream(m_dir / "file") << "x";
  std::string path = (m_dir / "file" / "reg.db").string();
  CoSetRegistryPath(path);
  SetLastError(0);
  Key k;
  EXPECT_EQ(RegOpenKeyA(HKEY_CLASSES_ROOT, "CLSID", &k.h), ERROR_CANTOPEN);
  EXPECT_EQ(GetLastError(), ERROR_CANTOPEN);
  EXPECT_NE(CoGetRegistryError().find(path), std::string::npos) << CoGetRegistryError();
  // Class loading passes the reason on instead of calling the class unregistered.
  const GUID someClass = NewGuid();
  ComPtr<IUnknown> object;
  EXPECT_EQ(CoCreateInstance(someClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.AsOut()),
            HRESULT_FROM_WIN32(ERROR_CANTOPEN));

  // A file that is not a database.
  std::ofstream(m_dir / "junk.db") << std::string(4096, 'j');
  CoSetRegistryPath((m_dir / "junk.db").string());
  EXPECT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "CLSID", &k.h), ERROR_CANTOPEN);
  EXPECT_NE(CoGetRegistryError().find("junk.db"), std::string::npos) << CoGetRegistryError();

  CoSetRegistryPath((m_dir / "good.db").string());
  EXPECT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "CLSID", &k.h), ERROR_SUCCESS);
  EXPECT_EQ(CoGetRegistryError(), "");
}

}  // namespace

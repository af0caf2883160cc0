// Which database files the registry takes: its own, older unmarked registries, read-only ones;
// never an unrelated database, which it must leave untouched.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/registry.h"
#include "platform/com/runtime.h"

namespace fs = std::filesystem;

namespace {

// Runs SQL on a database file of the test's own (not through the registry).
void Sql(const fs::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

// The names of the tables and the application id of a database file.
std::string Describe(const fs::path& file) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_exec(
        db, "SELECT group_concat(name, ',') FROM (SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name)",
        [](void* o, int, char** v, char**) {
          *static_cast<std::string*>(o) += v[0] ? v[0] : "";
          return 0;
        },
        &out, nullptr);
    sqlite3_exec(
        db, "PRAGMA application_id",
        [](void* o, int, char** v, char**) {
          *static_cast<std::string*>(o) += std::string(" id=") + (v[0] ? v[0] : "");
          return 0;
        },
        &out, nullptr);
  }
  sqlite3_close(db);
  return out;
}

const char* const kRegistrySchema =
    "CREATE TABLE reg_keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE, UNIQUE(parent, name));"
    "CREATE TABLE reg_values(key INTEGER NOT NULL, name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL,"
    " data BLOB, UNIQUE(key, name));";

class RegistryFiles : public testing::Test {
 protected:
  void SetUp() override {
    m_saved = CoGetRegistryPath();
    m_dir = fs::temp_directory_path() / ("plenor-regfiles-" + std::to_string(::getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override {
    CoSetRegistryPath(m_saved);
    std::error_code ec;
    fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(m_dir, ec);
  }
  // Switches to path and tries to create a key there.
  static LSTATUS TryCreate(const fs::path& path) {
    CoSetRegistryPath(path.string());
    HKEY key = nullptr;
    LSTATUS st = RegCreateKeyA(HKEY_CLASSES_ROOT, "CLSID\\Probe", &key);
    if (key) RegCloseKey(key);
    return st;
  }
  // Closes this thread's connection to whatever database was in use.
  void Leave() {
    CoSetRegistryPath((m_dir / "elsewhere.db").string());
    HKEY key = nullptr;
    RegOpenKeyA(HKEY_CLASSES_ROOT, "CLSID", &key);
  }
  std::string m_saved;
  fs::path m_dir;
};

TEST_F(RegistryFiles, ForeignDatabasesAreRefusedUntouchedAndOldRegistriesAdopted) {
  struct Case {
    const char* name;
    std::string sql;  // what the file holds before the registry sees it ("" = no file)
    bool taken;
    std::string tablesAfter;  // when refused: exactly what it held before
  };
  const std::vector<Case> cases = {
      {"unrelated", "CREATE TABLE photos(id, path); INSERT INTO photos VALUES(1, 'a.jpg');", false, "photos id=0"},
      {"unrelated with a reg_keys table", "CREATE TABLE reg_keys(id, parent, name); CREATE TABLE other(x);", false,
       "other,reg_keys id=0"},
      {"another application's mark", "PRAGMA application_id=1234; CREATE TABLE t(x);", false, "t id=1234"},
      {"another application's mark, no tables", "PRAGMA application_id=77;", false, " id=77"},
      {"an unmarked registry", kRegistrySchema, true, ""},
      {"a new file", "", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path file = m_dir / (std::string(c.name) + ".db");
    if (!c.sql.empty()) Sql(file, c.sql);
    const LSTATUS st = TryCreate(file);
    if (c.taken) {
      EXPECT_EQ(st, ERROR_SUCCESS) << CoGetRegistryError();
      Leave();
      // Now marked as a registry.
      EXPECT_NE(Describe(file).find("id=1347179079"), std::string::npos) << Describe(file);
      EXPECT_EQ(TryCreate(file), ERROR_SUCCESS);
    } else {
      EXPECT_EQ(st, ERROR_CANTOPEN);
      EXPECT_NE(CoGetRegistryError().find("not a registry"), std::string::npos) << CoGetRegistryError();
      Leave();
      EXPECT_EQ(Describe(file), c.tablesAfter);
    }
  }
}

// A registry in a folder the process may not write (a system-wide install): a process of
// another user reads it, and its writes are refused as access denied.
TEST_F(RegistryFiles, RegistryInAFolderThatCannotBeWrittenIsReadable) {
  const fs::path sys = m_dir / "system";
  fs::create_directories(sys);
  const fs::path file = sys / "registry.db";
  CoSetRegistryPath(file.string());
  {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, "CLSID\\{1}\\InprocServer32", &key), ERROR_SUCCESS);
    const char path[] = "/usr/lib/plenor/x.so";
    ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), sizeof path),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  Leave();  // the last connection goes, and with it the log's side files
  ASSERT_FALSE(fs::exists(sys / "registry.db-wal"));
  fs::permissions(m_dir, fs::perms::all, fs::perm_options::add);
  fs::permissions(sys, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Root may write anywhere: read as an ordinary user instead.
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(20);
    CoSetRegistryPath(file.string());
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_CLASSES_ROOT, "CLSID\\{1}\\InprocServer32", &key) != ERROR_SUCCESS) ::_exit(21);
    char value[64] = {};
    DWORD cb = sizeof value, type = 0;
    if (RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &cb) != ERROR_SUCCESS) ::_exit(22);
    if (std::string(value) != "/usr/lib/plenor/x.so") ::_exit(23);
    HKEY other = nullptr;
    if (RegCreateKeyA(HKEY_CLASSES_ROOT, "CLSID\\{2}", &other) != ERROR_ACCESS_DENIED) ::_exit(24);
    if (RegBeginTransaction() != ERROR_ACCESS_DENIED) ::_exit(25);
    RegCloseKey(key);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "21: cannot open, 22: cannot read, 23: wrong value, 24/25: write not refused";
}

}  // namespace

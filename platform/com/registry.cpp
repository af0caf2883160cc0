// The registry: HKEY_CLASSES_ROOT stored in a SQLite database.
//
// Layout: reg_keys holds one row per key (id, parent id, name); the root HKEY_CLASSES_ROOT is the
// implicit id 0. reg_values holds one row per value (key id, name, type, data); the default value
// has the empty name. Names use SQLite's NOCASE collation, which folds ASCII letters only - the
// comparison the registry needs. Key ids are never reused (AUTOINCREMENT), so a handle to a key
// that another thread or process deleted reliably answers ERROR_KEY_DELETED.
//
// Every thread has its own database connection: transactions begun with RegBeginTransaction then
// cover exactly that thread's writes. The database runs in WAL mode with a busy timeout so that
// several processes (a host registering modules while another reads) can use it at once. Every
// write outside a transaction is its own IMMEDIATE transaction (the write lock is taken up front,
// so a read-then-write step never fails on a stale snapshot); inside one it is a savepoint, so that
// a failed call leaves nothing half done.
//
// Readers that take several steps (enumerating the filters, then reading each) open a read
// snapshot (RegBeginSnapshot): a deferred transaction, so every step sees the database as one
// committed state and never half of another process's registration.
//
// A registry database is marked with its application id (kApplicationId). A database without the
// mark is taken only when it is empty (a new file) or holds exactly the registry's tables (a
// registry made before the mark existed, which is then marked); anything else is refused, so an
// unrelated database is never changed. A database the process may not write (a registry installed
// system-wide, in a folder of another user) is opened read-only: writes answer
// ERROR_ACCESS_DENIED. When even that fails because the write-ahead log's side files cannot be
// made, it is opened as immutable (the main file alone, no locking).
#include "platform/com/registry.h"

#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/com/runtime.h"

struct HKEY__ {
  std::int64_t id;          // row id of the key (0 is the root)
  std::uint64_t database;   // which database the id belongs to (see g_generation)
};

namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr size_t kMaxKeyNameLength = 255;
constexpr std::int64_t kRootId = 0;
// PRAGMA application_id of a registry database ("PLRG").
constexpr std::int32_t kApplicationId = 0x504C5247;

// Settings shared by all threads.
std::mutex g_settingsLock;
std::string g_explicitPath;     // from CoSetRegistryPath; empty means the default
std::string g_lastOpenError;    // for CoGetRegistryError
// Bumped whenever the database path changes; connections and key handles of an older generation
// are stale.
std::atomic<std::uint64_t> g_generation{1};

std::string DefaultRegistryPath() {
  if (const char* p = std::getenv("PLENOR_REGISTRY"); p && *p) return p;
  std::filesystem::path base;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x == '/') {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    base = std::filesystem::path(h) / ".local" / "share";
  } else {
    base = std::filesystem::temp_directory_path();
  }
  return (base / "plenor" / "registry.db").string();
}

void RecordOpenError(std::string message) {
  std::lock_guard lock(g_settingsLock);
  g_lastOpenError = std::move(message);
}

LSTATUS FromSqlite(int rc, bool writing) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_NOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return ERROR_BADDB;
    case SQLITE_CANTOPEN:
      return ERROR_CANTOPEN;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    default:
      return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
  }
}

// One thread's connection and its cached statements.
class Connection {
 public:
  ~Connection() { Close(); }

  sqlite3* db() const { return m_db; }
  std::uint64_t generation() const { return m_generation; }
  int depth = 0;        // RegBeginTransaction nesting
  int snapshots = 0;    // RegBeginSnapshot nesting
  bool doomed = false;  // an inner level ended without committing: the outermost end rolls back
  bool readOnly = false;  // opened read-only: every write answers ERROR_ACCESS_DENIED

  // Makes sure the connection is open on the current database. Returns ERROR_SUCCESS or
  // ERROR_CANTOPEN (with the reason recorded for CoGetRegistryError).
  LSTATUS Ensure() {
    if (m_db && m_pid != ::getpid()) Abandon();  // inherited across fork: never touch it
    std::uint64_t gen = g_generation.load();
    if (m_db && m_generation != gen && depth == 0 && snapshots == 0) Close();
    if (m_db) return ERROR_SUCCESS;
    depth = 0;
    snapshots = 0;
    doomed = false;
    return Open(gen);
  }

  // A cached prepared statement, or null with *rc set.
  sqlite3_stmt* Prepare(const char* sql, int* rc) {
    auto it = m_statements.find(sql);
    if (it != m_statements.end()) return it->second;
    sqlite3_stmt* stmt = nullptr;
    *rc = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (*rc != SQLITE_OK) {
      sqlite3_finalize(stmt);
      return nullptr;
    }
    m_statements.emplace(sql, stmt);
    return stmt;
  }

  // Runs a statement without parameters or results (transaction control).
  int Exec(const char* sql) {
    int rc = SQLITE_OK;
    sqlite3_stmt* stmt = Prepare(sql, &rc);
    if (!stmt) return rc;
    rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
  }

 private:
  LSTATUS Open(std::uint64_t gen) {
    std::string path = CoGetRegistryPath();
    std::error_code ec;
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const bool exists = std::filesystem::exists(path, ec);
    if (!parent.empty() && !exists) std::filesystem::create_directories(parent, ec);
    if (ec) {
      return Fail("cannot create the folder of the registry database " + path + ": " + ec.message());
    }
    std::string why;
    int rc = OpenAs(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, false, &why);
    if (rc != SQLITE_OK && exists && (rc & 0xFF) != SQLITE_NOTADB && rc != kNotARegistry) {
      // Not writable here (the file or its folder belongs to someone else): read it.
      std::string readWhy;
      rc = OpenAs(path, SQLITE_OPEN_READONLY, true, &readWhy);
      if (rc != SQLITE_OK && rc != kNotARegistry) rc = OpenAs(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, true, &readWhy);
      if (rc != SQLITE_OK) why += "; read-only: " + readWhy;
    }
    if (rc != SQLITE_OK) return Fail("cannot open the registry database " + path + ": " + why);
    m_generation = gen;
    RecordOpenError("");
    return ERROR_SUCCESS;
  }

  static constexpr int kNotARegistry = -1;

  // One attempt to open the database; with the URI flag as immutable. Returns SQLITE_OK, an
  // SQLite error code or kNotARegistry, with *why set on failure.
  int OpenAs(const std::string& path, int flags, bool readOnlyOpen, std::string* why) {
    std::string name = path;
    if (flags & SQLITE_OPEN_URI) {
      // file: URI of the path with every byte that could end or escape it percent-encoded.
      name = "file:";
      static const char kHex[] = "0123456789ABCDEF";
      for (unsigned char ch : path) {
        if (std::isalnum(ch) || ch == '/' || ch == '.' || ch == '-' || ch == '_') {
          name += static_cast<char>(ch);
        } else {
          name += '%';
          name += kHex[ch >> 4];
          name += kHex[ch & 15];
        }
      }
      name += "?immutable=1";
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(name.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      *why = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
      sqlite3_close_v2(db);
      return rc;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    m_db = db;
    m_pid = ::getpid();
    readOnly = readOnlyOpen;
    rc = readOnlyOpen ? CheckReadable() : Initialise();
    if (rc != SQLITE_OK) {
      *why = rc == kNotARegistry ? "it is a database of something else (not a registry); give another file"
                                 : sqlite3_errmsg(m_db);
      Close();
    }
    return rc;
  }

  LSTATUS Fail(std::string message) {
    RecordOpenError(std::move(message));
    SetLastError(ERROR_CANTOPEN);
    return ERROR_CANTOPEN;
  }

  // Runs one statement, retrying while another connection holds what it needs, until the busy
  // timeout. Rolls back an open transaction when giving up.
  int Retry(const char* sql, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
      int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
      if (rc == SQLITE_OK) return rc;
      if (((rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_LOCKED) || std::chrono::steady_clock::now() > deadline) {
        if (!sqlite3_get_autocommit(m_db)) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return rc;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  // A single integer answer of a query, or an error code.
  int QueryInt(const char* sql, std::int64_t* value) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(stmt);
      if (rc == SQLITE_ROW) {
        *value = sqlite3_column_int64(stmt, 0);
        rc = SQLITE_OK;
      } else if (rc == SQLITE_DONE) {
        *value = 0;
        rc = SQLITE_OK;
      }
    }
    sqlite3_finalize(stmt);
    return rc;
  }

  // Whether the database is a registry: marked, or unmarked and holding nothing but the registry's
  // tables (*empty tells whether it holds no table at all). SQLITE_OK or kNotARegistry or an error.
  int Recognise(bool* empty, bool* marked) {
    std::int64_t id = 0, foreign = 0, tables = 0;
    int rc = QueryInt("PRAGMA application_id", &id);
    if (rc != SQLITE_OK) return rc;
    *marked = id == kApplicationId;
    if (id != 0 && !*marked) return kNotARegistry;
    rc = QueryInt("SELECT count(*) FROM sqlite_schema WHERE type = 'table'", &tables);
    if (rc != SQLITE_OK) return rc;
    rc = QueryInt("SELECT count(*) FROM sqlite_schema WHERE type IN ('table', 'view', 'trigger') AND"
                  " name NOT IN ('reg_keys', 'reg_values', 'sqlite_sequence')", &foreign);
    if (rc != SQLITE_OK) return rc;
    *empty = tables == 0;
    if (*marked) return SQLITE_OK;
    std::int64_t ours = 0;
    rc = QueryInt("SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name IN ('reg_keys', 'reg_values')",
                  &ours);
    if (rc != SQLITE_OK) return rc;
    return foreign == 0 && (tables == 0 || ours == 2) ? SQLITE_OK : kNotARegistry;
  }

  // A database opened read-only: it must be a registry with its tables.
  int CheckReadable() {
    bool empty = false, marked = false;
    int rc = Recognise(&empty, &marked);
    if (rc != SQLITE_OK) return rc;
    return empty ? kNotARegistry : SQLITE_OK;
  }

  // WAL mode and the schema. Switching to WAL and creating the tables need brief exclusive
  // access; when many processes open a fresh database at once some of these calls answer BUSY
  // without waiting, so they are retried until the busy timeout. The check that the file is a
  // registry and the mark are inside the same write transaction as the tables, so two processes
  // opening a new file agree.
  int Initialise() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    int rc = Retry("BEGIN IMMEDIATE", deadline);
    if (rc != SQLITE_OK) return rc;
    bool empty = false, marked = false;
    rc = Recognise(&empty, &marked);
    if (rc == SQLITE_OK && !marked) {
      char mark[64];
      std::snprintf(mark, sizeof mark, "PRAGMA application_id=%d", kApplicationId);
      rc = sqlite3_exec(m_db, mark, nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK)
      rc = sqlite3_exec(m_db,
                        "CREATE TABLE IF NOT EXISTS reg_keys("
                        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                        " parent INTEGER NOT NULL,"
                        " name TEXT NOT NULL COLLATE NOCASE,"
                        " UNIQUE(parent, name));"
                        "CREATE TABLE IF NOT EXISTS reg_values("
                        " key INTEGER NOT NULL,"
                        " name TEXT NOT NULL COLLATE NOCASE,"
                        " type INTEGER NOT NULL,"
                        " data BLOB,"
                        " UNIQUE(key, name))",
                        nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
      return rc;
    }
    rc = Retry("COMMIT", deadline);
    if (rc != SQLITE_OK) return rc;
    for (const char* step : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL"}) {
      rc = Retry(step, deadline);
      if (rc != SQLITE_OK) return rc;
    }
    return SQLITE_OK;
  }

  void Close() {
    if (m_db && m_pid == ::getpid()) {
      for (auto& [sql, stmt] : m_statements) sqlite3_finalize(stmt);
      sqlite3_close_v2(m_db);
    }
    m_statements.clear();
    m_db = nullptr;
    depth = 0;
    snapshots = 0;
    doomed = false;
    readOnly = false;
  }

  // Forgets a connection that belongs to the parent of a forked process without closing it:
  // closing would act on the parent's locks and journal.
  void Abandon() {
    m_statements.clear();
    m_db = nullptr;
    depth = 0;
    snapshots = 0;
    doomed = false;
    readOnly = false;
  }

  sqlite3* m_db = nullptr;
  pid_t m_pid = 0;
  std::uint64_t m_generation = 0;
  std::unordered_map<const char*, sqlite3_stmt*> m_statements;
};

thread_local Connection t_connection;

// A prepared statement in use; reset (and its bindings cleared) when the scope ends.
class Query {
 public:
  Query(Connection& c, const char* sql) { m_stmt = c.Prepare(sql, &m_rc); }
  ~Query() {
    if (m_stmt) {
      sqlite3_reset(m_stmt);
      sqlite3_clear_bindings(m_stmt);
    }
  }
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  bool ok() const { return m_stmt != nullptr; }
  int rc() const { return m_rc; }
  Query& Bind(int i, std::int64_t v) {
    if (m_stmt) sqlite3_bind_int64(m_stmt, i, v);
    return *this;
  }
  Query& Bind(int i, std::string_view text) {
    if (m_stmt) sqlite3_bind_text(m_stmt, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Query& BindBlob(int i, const void* data, size_t n) {
    if (m_stmt) sqlite3_bind_blob(m_stmt, i, n ? data : "", static_cast<int>(n), SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() { return m_stmt ? sqlite3_step(m_stmt) : m_rc; }
  sqlite3_stmt* get() const { return m_stmt; }

 private:
  sqlite3_stmt* m_stmt = nullptr;
  int m_rc = SQLITE_OK;
};

// Atomic scope for one write call: an IMMEDIATE transaction, or a savepoint inside the thread's
// open transaction. Rolled back unless Commit succeeds.
class WriteScope {
 public:
  explicit WriteScope(Connection& c) : m_c(c), m_nested(c.depth > 0 || c.snapshots > 0) {
    if (c.readOnly) {
      m_status = ERROR_ACCESS_DENIED;
      return;
    }
    if (m_nested && sqlite3_get_autocommit(c.db())) {
      // The database engine already abandoned the thread's transaction after a hard error;
      // writing now would silently escape it.
      m_status = ERROR_CANTWRITE;
      return;
    }
    int rc = m_c.Exec(m_nested ? "SAVEPOINT reg_call" : "BEGIN IMMEDIATE");
    m_status = FromSqlite(rc, true);
    m_open = m_status == ERROR_SUCCESS;
  }
  ~WriteScope() {
    if (!m_open) return;
    if (m_nested) {
      m_c.Exec("ROLLBACK TO reg_call");
      m_c.Exec("RELEASE reg_call");
    } else {
      m_c.Exec("ROLLBACK");
    }
  }
  WriteScope(const WriteScope&) = delete;
  WriteScope& operator=(const WriteScope&) = delete;

  LSTATUS status() const { return m_status; }
  LSTATUS Commit() {
    int rc = m_c.Exec(m_nested ? "RELEASE reg_call" : "COMMIT");
    if (rc != SQLITE_OK) return FromSqlite(rc, true);
    m_open = false;
    return ERROR_SUCCESS;
  }

 private:
  Connection& m_c;
  bool m_nested;
  bool m_open = false;
  LSTATUS m_status = ERROR_SUCCESS;
};

// Open key handles of this process, so that closed or foreign handles are refused rather than
// dereferenced.
struct HandleTable {
  std::mutex lock;
  std::unordered_map<HKEY, std::unique_ptr<HKEY__>> handles;  // each handle owned here until closed
};
HandleTable& Handles() {
  static HandleTable table;
  return table;
}

LSTATUS NewHandle(std::int64_t id, std::uint64_t database, PHKEY result) {
  auto handle = std::make_unique<HKEY__>(HKEY__{id, database});
  HKEY h = handle.get();
  HandleTable& t = Handles();
  std::lock_guard lock(t.lock);
  t.handles.emplace(h, std::move(handle));
  *result = h;
  return ERROR_SUCCESS;
}

// Connection and key id for a handle.
LSTATUS Resolve(HKEY key, Connection** conn, std::int64_t* id) {
  if (!key) return ERROR_INVALID_HANDLE;
  std::uint64_t database = 0;
  if (key == HKEY_CLASSES_ROOT) {
    *id = kRootId;
  } else {
    HandleTable& t = Handles();
    std::lock_guard lock(t.lock);
    if (!t.handles.count(key)) return ERROR_INVALID_HANDLE;  // closed, or never ours
    *id = key->id;
    database = key->database;
  }
  Connection& c = t_connection;
  LSTATUS st = c.Ensure();
  if (st != ERROR_SUCCESS) return st;
  if (database && database != c.generation()) return ERROR_INVALID_HANDLE;  // from an earlier database
  *conn = &c;
  return ERROR_SUCCESS;
}

// Splits "a\b\c" into its names. Null or "" is the key itself; a trailing backslash is accepted,
// empty names elsewhere and over-long names are not.
LSTATUS SplitPath(const char* subKey, std::vector<std::string_view>* parts) {
  parts->clear();
  if (!subKey || !*subKey) return ERROR_SUCCESS;
  std::string_view rest(subKey);
  if (rest.back() == '\\') rest.remove_suffix(1);
  for (;;) {
    size_t slash = rest.find('\\');
    std::string_view part = rest.substr(0, slash);
    if (part.empty()) return ERROR_BAD_PATHNAME;
    if (part.size() > kMaxKeyNameLength) return ERROR_INVALID_PARAMETER;
    parts->push_back(part);
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return ERROR_SUCCESS;
}

// Whether a key row exists (the root always does).
LSTATUS KeyExists(Connection& c, std::int64_t id, bool* exists) {
  if (id == kRootId) {
    *exists = true;
    return ERROR_SUCCESS;
  }
  Query q(c, "SELECT 1 FROM reg_keys WHERE id = ?1");
  int rc = q.Bind(1, id).Step();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return FromSqlite(rc, false);
  *exists = rc == SQLITE_ROW;
  return ERROR_SUCCESS;
}

LSTATUS RequireKey(Connection& c, std::int64_t id) {
  bool exists = false;
  LSTATUS st = KeyExists(c, id, &exists);
  if (st != ERROR_SUCCESS) return st;
  if (exists) return ERROR_SUCCESS;
  // A key that vanished was deleted by someone, unless the file is damaged (an index naming rows
  // the table lacks): that is reported as a damaged database, not as a deleted key.
  Query check(c, "PRAGMA quick_check(1)");
  int rc = check.Step();
  if (rc != SQLITE_ROW) return FromSqlite(rc, false);
  auto text = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
  return text && std::strcmp(text, "ok") == 0 ? ERROR_KEY_DELETED : ERROR_BADDB;
}

// The child of parent called name: ERROR_SUCCESS with *child, or ERROR_FILE_NOT_FOUND.
LSTATUS FindChild(Connection& c, std::int64_t parent, std::string_view name, std::int64_t* child) {
  Query q(c, "SELECT id FROM reg_keys WHERE parent = ?1 AND name = ?2");
  int rc = q.Bind(1, parent).Bind(2, name).Step();
  if (rc == SQLITE_ROW) {
    *child = sqlite3_column_int64(q.get(), 0);
    return ERROR_SUCCESS;
  }
  return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : FromSqlite(rc, false);
}

// Walks from start along parts. With create, missing keys are made and *created tells whether
// the last one was new.
LSTATUS Walk(Connection& c, std::int64_t start, const std::vector<std::string_view>& parts, bool create,
             std::int64_t* out, bool* created) {
  std::int64_t id = start;
  if (created) *created = false;
  for (std::string_view name : parts) {
    std::int64_t child = 0;
    LSTATUS st = FindChild(c, id, name, &child);
    if (st == ERROR_FILE_NOT_FOUND && create) {
      Query ins(c, "INSERT INTO reg_keys(parent, name) VALUES(?1, ?2)");
      int rc = ins.Bind(1, id).Bind(2, name).Step();
      if (rc != SQLITE_DONE) return FromSqlite(rc, true);
      child = sqlite3_last_insert_rowid(c.db());
      if (created) *created = true;
    } else if (st != ERROR_SUCCESS) {
      return st;
    } else if (created) {
      *created = false;
    }
    id = child;
  }
  *out = id;
  return ERROR_SUCCESS;
}

// Resolves key + subKey to an existing key id.
LSTATUS OpenPath(HKEY key, const char* subKey, Connection** conn, std::int64_t* id) {
  std::vector<std::string_view> parts;
  LSTATUS st = SplitPath(subKey, &parts);
  if (st != ERROR_SUCCESS) return st;
  std::int64_t base = 0;
  st = Resolve(key, conn, &base);
  if (st != ERROR_SUCCESS) return st;
  st = RequireKey(**conn, base);
  if (st != ERROR_SUCCESS) return st;
  return Walk(**conn, base, parts, false, id, nullptr);
}

// The stored bytes of a value in its Windows form: REG_SZ with its terminating zero, REG_DWORD as
// four little-endian bytes, anything else as stored.
std::string ValueBytes(sqlite3_stmt* stmt, int typeColumn, int dataColumn) {
  auto type = static_cast<DWORD>(sqlite3_column_int64(stmt, typeColumn));
  if (type == REG_DWORD) {
    auto v = static_cast<std::uint32_t>(sqlite3_column_int64(stmt, dataColumn));
    char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                 static_cast<char>(v >> 24)};
    return std::string(b, 4);
  }
  const void* p = sqlite3_column_blob(stmt, dataColumn);
  int n = sqlite3_column_bytes(stmt, dataColumn);
  std::string bytes(p ? static_cast<const char*>(p) : "", p ? static_cast<size_t>(n) : 0);
  if (type == REG_SZ) bytes.push_back('\0');
  return bytes;
}

// Windows rules for returning value data: null data reports the size; a short buffer gives
// ERROR_MORE_DATA with the size needed and leaves the buffer alone.
LSTATUS CopyValueOut(const std::string& bytes, LPBYTE data, LPDWORD cbData) {
  if (!cbData) return ERROR_SUCCESS;
  auto size = static_cast<DWORD>(bytes.size());
  if (data) {
    if (*cbData < size) {
      *cbData = size;
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, bytes.data(), bytes.size());
  }
  *cbData = size;
  return ERROR_SUCCESS;
}

// Copies a name into a caller's buffer of *cch characters (terminator included); on success *cch
// is the length without terminator. A short buffer gives ERROR_MORE_DATA with *cch set to the
// length needed without terminator.
LSTATUS CopyNameOut(std::string_view name, LPSTR buf, LPDWORD cch) {
  if (name.size() >= *cch) {
    *cch = static_cast<DWORD>(name.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(buf, name.data(), name.size());
  buf[name.size()] = '\0';
  *cch = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// Deletes the subtree rooted at id: its values and all descendants. With keepRoot the key itself
// stays (only its contents go).
LSTATUS DeleteSubtree(Connection& c, std::int64_t id, bool keepRoot) {
  Query values(c,
               "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM reg_keys k JOIN sub ON k.parent = sub.id)"
               " DELETE FROM reg_values WHERE key IN sub");
  int rc = values.Bind(1, id).Step();
  if (rc != SQLITE_DONE) return FromSqlite(rc, true);
  Query keys(c,
             "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM reg_keys k JOIN sub ON k.parent = sub.id)"
             " DELETE FROM reg_keys WHERE id IN sub AND (?2 = 0 OR id <> ?1)");
  rc = keys.Bind(1, id).Bind(2, keepRoot ? 1 : 0).Step();
  if (rc != SQLITE_DONE) return FromSqlite(rc, true);
  return ERROR_SUCCESS;
}

template <class F>
LSTATUS Guard(F&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_INVALID_DATA;
  }
}

// Deletions made to fail by RegSetDeleteFault: key path -> the status to answer. Empty (and
// unread, thanks to the flag) unless a test sets one.
struct DeleteFaults {
  std::mutex lock;
  std::vector<std::pair<std::string, LSTATUS>> faults;
  std::atomic<bool> any{false};
};
DeleteFaults& Faults() {
  static DeleteFaults faults;
  return faults;
}

// The status a fault makes the deletion of key id answer, or ERROR_SUCCESS.
LSTATUS InjectedDeleteFault(Connection& c, std::int64_t id) {
  DeleteFaults& f = Faults();
  if (!f.any.load(std::memory_order_acquire)) return ERROR_SUCCESS;
  std::vector<std::pair<std::string, LSTATUS>> faults;
  {
    std::lock_guard lock(f.lock);
    faults = f.faults;
  }
  for (const auto& [path, status] : faults) {
    std::vector<std::string_view> parts;
    std::int64_t target = 0;
    if (SplitPath(path.c_str(), &parts) == ERROR_SUCCESS && !parts.empty() &&
        Walk(c, kRootId, parts, false, &target, nullptr) == ERROR_SUCCESS && target == id)
      return status;
  }
  return ERROR_SUCCESS;
}

// One write call: resolves key and subKey (creating missing keys with create) inside a
// WriteScope, runs action(connection, key id, created) and commits when it succeeds.
template <class F>
LSTATUS WriteCall(HKEY key, const char* subKey, bool create, F&& action) {
  std::vector<std::string_view> parts;
  LSTATUS st = SplitPath(subKey, &parts);
  if (st != ERROR_SUCCESS) return st;
  Connection* c = nullptr;
  std::int64_t base = 0;
  st = Resolve(key, &c, &base);
  if (st != ERROR_SUCCESS) return st;
  WriteScope scope(*c);
  if (scope.status() != ERROR_SUCCESS) return scope.status();
  st = RequireKey(*c, base);
  if (st != ERROR_SUCCESS) return st;
  std::int64_t id = 0;
  bool created = false;
  st = Walk(*c, base, parts, create, &id, &created);
  if (st != ERROR_SUCCESS) return st;
  st = action(*c, id, created);
  if (st != ERROR_SUCCESS) return st;
  return scope.Commit();
}

}  // namespace

void CoSetRegistryPath(const std::string& path) {
  std::lock_guard lock(g_settingsLock);
  if (path == g_explicitPath) return;  // same database: connections and handles stay valid
  g_explicitPath = path;
  g_lastOpenError.clear();
  g_generation.fetch_add(1);
}

std::string CoGetRegistryPath() {
  {
    std::lock_guard lock(g_settingsLock);
    if (!g_explicitPath.empty()) return g_explicitPath;
  }
  return DefaultRegistryPath();
}

std::string CoGetRegistryError() {
  std::lock_guard lock(g_settingsLock);
  return g_lastOpenError;
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM, void*, PHKEY result,
                        LPDWORD disposition) {
  return Guard([&]() -> LSTATUS {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Connection* conn = nullptr;
    std::int64_t id = 0;
    bool isNew = false;
    LSTATUS st = WriteCall(key, subKey, true, [&](Connection& c, std::int64_t keyId, bool created) {
      conn = &c;
      id = keyId;
      isNew = created;
      return ERROR_SUCCESS;
    });
    if (st != ERROR_SUCCESS) return st;
    if (disposition) *disposition = isNew ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return NewHandle(id, conn->generation(), result);
  });
}

LSTATUS RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
  return RegCreateKeyExA(key, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, result,
                         nullptr);
}

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
  return Guard([&]() -> LSTATUS {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Connection* c = nullptr;
    std::int64_t id = 0;
    LSTATUS st = OpenPath(key, subKey, &c, &id);
    if (st != ERROR_SUCCESS) return st;
    return NewHandle(id, c->generation(), result);
  });
}

LSTATUS RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) { return RegOpenKeyExA(key, subKey, 0, KEY_ALL_ACCESS, result); }

LSTATUS RegCloseKey(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
  HandleTable& t = Handles();
  std::lock_guard lock(t.lock);
  return key && t.handles.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD cbData) {
  return Guard([&]() -> LSTATUS {
    if (!data && cbData) return ERROR_INVALID_PARAMETER;
    if (type == REG_DWORD && cbData != 4) return ERROR_INVALID_PARAMETER;
    std::string_view name = valueName ? valueName : "";
    return WriteCall(key, nullptr, false, [&](Connection& c, std::int64_t id, bool) -> LSTATUS {
      // Updating in place keeps the value's position in enumeration order.
      Query q(c,
              "INSERT INTO reg_values(key, name, type, data) VALUES(?1, ?2, ?3, ?4)"
              " ON CONFLICT(key, name) DO UPDATE SET name = excluded.name, type = excluded.type,"
              " data = excluded.data");
      q.Bind(1, id).Bind(2, name).Bind(3, static_cast<std::int64_t>(type));
      if (type == REG_SZ) {
        // Text is stored without its terminator (and ends at the first zero, as readers see it).
        const char* text = reinterpret_cast<const char*>(data);
        size_t n = cbData ? ::strnlen(text, cbData) : 0;
        q.Bind(4, std::string_view(text ? text : "", n));
      } else if (type == REG_DWORD) {
        std::uint32_t v = std::uint32_t(data[0]) | std::uint32_t(data[1]) << 8 | std::uint32_t(data[2]) << 16 |
                          std::uint32_t(data[3]) << 24;
        q.Bind(4, static_cast<std::int64_t>(v));
      } else {
        q.BindBlob(4, data, cbData);
      }
      int rc = q.Step();
      return rc == SQLITE_DONE ? ERROR_SUCCESS : FromSqlite(rc, true);
    });
  });
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD cbData) {
  return Guard([&]() -> LSTATUS {
    if (data && !cbData) return ERROR_INVALID_PARAMETER;
    Connection* c = nullptr;
    std::int64_t id = 0;
    LSTATUS st = Resolve(key, &c, &id);
    if (st != ERROR_SUCCESS) return st;
    Query q(*c, "SELECT type, data FROM reg_values WHERE key = ?1 AND name = ?2");
    int rc = q.Bind(1, id).Bind(2, std::string_view(valueName ? valueName : "")).Step();
    if (rc == SQLITE_DONE) {
      st = RequireKey(*c, id);
      return st == ERROR_SUCCESS ? ERROR_FILE_NOT_FOUND : st;
    }
    if (rc != SQLITE_ROW) return FromSqlite(rc, false);
    if (type) *type = static_cast<DWORD>(sqlite3_column_int64(q.get(), 0));
    return CopyValueOut(ValueBytes(q.get(), 0, 1), data, cbData);
  });
}

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD cchName, LPDWORD, LPSTR cls, LPDWORD cchClass,
                      void* lastWriteTime) {
  return Guard([&]() -> LSTATUS {
    if (!name || !cchName) return ERROR_INVALID_PARAMETER;
    Connection* c = nullptr;
    std::int64_t id = 0;
    LSTATUS st = Resolve(key, &c, &id);
    if (st != ERROR_SUCCESS) return st;
    Query q(*c, "SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY name LIMIT 1 OFFSET ?2");
    int rc = q.Bind(1, id).Bind(2, static_cast<std::int64_t>(index)).Step();
    if (rc == SQLITE_DONE) {
      st = RequireKey(*c, id);
      return st == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : st;
    }
    if (rc != SQLITE_ROW) return FromSqlite(rc, false);
    auto text = reinterpret_cast<const char*>(sqlite3_column_text(q.get(), 0));
    std::string_view keyName(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(q.get(), 0)));
    st = CopyNameOut(keyName, name, cchName);
    if (st != ERROR_SUCCESS) return st;
    // Keys have no class; the last write time is not kept (reported as zero).
    if (cls && cchClass && *cchClass) cls[0] = '\0';
    if (cchClass) *cchClass = 0;
    if (lastWriteTime) std::memset(lastWriteTime, 0, 8);
    return ERROR_SUCCESS;
  });
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD cchValueName, LPDWORD, LPDWORD type,
                      LPBYTE data, LPDWORD cbData) {
  return Guard([&]() -> LSTATUS {
    if (!valueName || !cchValueName) return ERROR_INVALID_PARAMETER;
    if (data && !cbData) return ERROR_INVALID_PARAMETER;
    Connection* c = nullptr;
    std::int64_t id = 0;
    LSTATUS st = Resolve(key, &c, &id);
    if (st != ERROR_SUCCESS) return st;
    // Values enumerate in the order they were first set.
    Query q(*c, "SELECT name, type, data FROM reg_values WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2");
    int rc = q.Bind(1, id).Bind(2, static_cast<std::int64_t>(index)).Step();
    if (rc == SQLITE_DONE) {
      st = RequireKey(*c, id);
      return st == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : st;
    }
    if (rc != SQLITE_ROW) return FromSqlite(rc, false);
    auto text = reinterpret_cast<const char*>(sqlite3_column_text(q.get(), 0));
    std::string name(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(q.get(), 0)));
    std::string bytes = ValueBytes(q.get(), 1, 2);
    if (type) *type = static_cast<DWORD>(sqlite3_column_int64(q.get(), 1));
    LSTATUS nameStatus = CopyNameOut(name, valueName, cchValueName);
    LSTATUS dataStatus = CopyValueOut(bytes, data, cbData);
    return nameStatus != ERROR_SUCCESS ? nameStatus : dataStatus;
  });
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  return Guard([&]() -> LSTATUS {
    return WriteCall(key, subKey, false, [&](Connection& c, std::int64_t id, bool) -> LSTATUS {
      if (id == kRootId) return ERROR_ACCESS_DENIED;
      if (LSTATUS fault = InjectedDeleteFault(c, id)) return fault;
      Query child(c, "SELECT 1 FROM reg_keys WHERE parent = ?1 LIMIT 1");
      int rc = child.Bind(1, id).Step();
      if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;  // only a key without subkeys goes alone
      if (rc != SQLITE_DONE) return FromSqlite(rc, false);
      return DeleteSubtree(c, id, false);
    });
  });
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) {
  return Guard([&]() -> LSTATUS {
    return WriteCall(key, nullptr, false, [&](Connection& c, std::int64_t id, bool) -> LSTATUS {
      Query q(c, "DELETE FROM reg_values WHERE key = ?1 AND name = ?2");
      int rc = q.Bind(1, id).Bind(2, std::string_view(valueName ? valueName : "")).Step();
      if (rc != SQLITE_DONE) return FromSqlite(rc, true);
      return sqlite3_changes(c.db()) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
    });
  });
}

LSTATUS RegDeleteTreeA(HKEY key, LPCSTR subKey) {
  return Guard([&]() -> LSTATUS {
    // Without a subkey name the key's contents go and the key stays.
    bool contentsOnly = !subKey || !*subKey;
    return WriteCall(key, subKey, false, [&](Connection& c, std::int64_t id, bool) {
      if (LSTATUS fault = InjectedDeleteFault(c, id)) return fault;
      return DeleteSubtree(c, id, contentsOnly || id == kRootId);
    });
  });
}

void RegSetDeleteFault(LPCSTR path, LSTATUS status) {
  DeleteFaults& f = Faults();
  std::lock_guard lock(f.lock);
  if (!path) {
    f.faults.clear();
  } else {
    std::string lower(path);
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::erase_if(f.faults, [&](const auto& fault) { return fault.first == lower; });
    if (status != ERROR_SUCCESS) f.faults.emplace_back(std::move(lower), status);
  }
  f.any.store(!f.faults.empty(), std::memory_order_release);
}

LSTATUS RegBeginTransaction() {
  return Guard([&]() -> LSTATUS {
    Connection& c = t_connection;
    LSTATUS st = c.Ensure();
    if (st != ERROR_SUCCESS) return st;
    if (c.depth == 0 && c.snapshots > 0) return ERROR_INVALID_PARAMETER;  // end the snapshot first
    if (c.readOnly) return ERROR_ACCESS_DENIED;
    if (c.depth == 0) {
      // Takes the write lock now (waiting up to the busy timeout) so that nothing inside the
      // transaction can fail for lack of it.
      int rc = c.Exec("BEGIN IMMEDIATE");
      if (rc != SQLITE_OK) return FromSqlite(rc, true);
      c.doomed = false;
    }
    ++c.depth;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegBeginSnapshot() {
  return Guard([&]() -> LSTATUS {
    Connection& c = t_connection;
    LSTATUS st = c.Ensure();
    if (st != ERROR_SUCCESS) return st;
    // Inside a write transaction the thread already sees one state (its own).
    if (c.depth == 0 && c.snapshots == 0) {
      int rc = c.Exec("BEGIN DEFERRED");
      if (rc != SQLITE_OK) return FromSqlite(rc, false);
    }
    ++c.snapshots;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegEndSnapshot() {
  return Guard([&]() -> LSTATUS {
    Connection& c = t_connection;
    if (!c.db() || c.snapshots == 0) return ERROR_INVALID_PARAMETER;
    if (--c.snapshots > 0 || c.depth > 0) return ERROR_SUCCESS;
    if (!sqlite3_get_autocommit(c.db())) {
      // Writes made inside the snapshot were savepoints of this transaction: keep them.
      int rc = c.Exec("COMMIT");
      if (rc != SQLITE_OK) {
        c.Exec("ROLLBACK");
        return FromSqlite(rc, true);
      }
    }
    return ERROR_SUCCESS;
  });
}

LSTATUS RegEndTransaction(BOOL commit) {
  return Guard([&]() -> LSTATUS {
    Connection& c = t_connection;
    if (!c.db() || c.depth == 0) return ERROR_INVALID_PARAMETER;  // no transaction on this thread
    if (!commit) c.doomed = true;
    if (--c.depth > 0) return ERROR_SUCCESS;
    bool doomed = c.doomed;
    c.doomed = false;
    if (sqlite3_get_autocommit(c.db())) {
      // The engine rolled the transaction back after a hard error: nothing of it was kept.
      return commit ? ERROR_CANTWRITE : ERROR_SUCCESS;
    }
    if (doomed) {
      c.Exec("ROLLBACK");
      // An inner level asked for the rollback: a commit at this level cannot be honoured.
      return commit ? ERROR_CANTWRITE : ERROR_SUCCESS;
    }
    int rc = c.Exec("COMMIT");
    if (rc != SQLITE_OK) {
      LSTATUS st = FromSqlite(rc, true);
      if (!sqlite3_get_autocommit(c.db())) c.Exec("ROLLBACK");
      return st;
    }
    return ERROR_SUCCESS;
  });
}

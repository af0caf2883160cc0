// The registry: HKEY_CLASSES_ROOT keys with default and named values (REG_SZ, REG_DWORD,
// REG_BINARY), stored in a SQLite database chosen by the host (CoSetRegistryPath). Calls return
// Win32 error codes (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA, ERROR_NO_MORE_ITEMS...).
// Key paths use backslashes and compare without regard to ASCII case, as on Windows; a key keeps
// the spelling it was created with. A handle to a key that was deleted (by this or another
// process) answers ERROR_KEY_DELETED; a closed or unknown handle ERROR_INVALID_HANDLE. When the
// database cannot be opened every call returns ERROR_CANTOPEN (CoGetRegistryError says why); a
// database that is not a registry is refused that way too, and left untouched. A registry the
// process may not write is opened read-only: reads work, writes answer ERROR_ACCESS_DENIED.
#pragma once

#include "platform/com/hresult.h"
#include "platform/com/wintypes.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000000u)))

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

PLENOR_EXPORT LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR cls, DWORD options,
                                      REGSAM sam, void* security, PHKEY result, LPDWORD disposition);
PLENOR_EXPORT LSTATUS RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result);
PLENOR_EXPORT LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM sam, PHKEY result);
PLENOR_EXPORT LSTATUS RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
PLENOR_EXPORT LSTATUS RegCloseKey(HKEY key);
// valueName null or "" is the key's default value. REG_DWORD data must be 4 bytes; REG_SZ text
// ends at its first zero (or at cbData).
PLENOR_EXPORT LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                                     DWORD cbData);
// Windows semantics: with data null reports type and size; ERROR_MORE_DATA when *cbData is short.
// REG_SZ data is returned with its terminating zero.
PLENOR_EXPORT LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                       LPDWORD cbData);
// Enumerates subkeys in name order (ASCII case ignored); *cchName in: buffer size, out: length
// without terminator (on ERROR_MORE_DATA: the length needed, without terminator).
PLENOR_EXPORT LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD cchName, LPDWORD reserved,
                                    LPSTR cls, LPDWORD cchClass, void* lastWriteTime);
// Enumerates values in the order they were first set (the default value has the name "").
PLENOR_EXPORT LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD cchValueName,
                                    LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD cbData);
// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED otherwise), with its values.
PLENOR_EXPORT LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey);
PLENOR_EXPORT LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName);
// Deletes a key with all its subkeys and values, in one transaction. With subKey null or "" the
// key's subkeys and values go and the key itself stays.
PLENOR_EXPORT LSTATUS RegDeleteTreeA(HKEY key, LPCSTR subKey);

// A fault for tests of what callers do when a key cannot be deleted: from now on RegDeleteKey and
// RegDeleteTree of the key at path (under HKEY_CLASSES_ROOT, ASCII case ignored) answer status
// and delete nothing, in this process, until the same path is given ERROR_SUCCESS; a null path
// clears every such fault. Without a fault set nothing is changed.
PLENOR_EXPORT void RegSetDeleteFault(LPCSTR path, LSTATUS status);

// Groups every registry write of the calling thread until the matching end into one transaction
// (nesting allowed): a module's registration is all or nothing for other processes. Returns
// ERROR_SUCCESS or the error that prevented the transaction. Begin waits (up to 10 s) for other
// writers; an end with FALSE at any level rolls the whole transaction back at the outermost end,
// where an end with TRUE then reports ERROR_CANTWRITE. An end without a begin is
// ERROR_INVALID_PARAMETER.
PLENOR_EXPORT LSTATUS RegBeginTransaction();
PLENOR_EXPORT LSTATUS RegEndTransaction(BOOL commit);

// Makes every read of the calling thread until the matching end see one committed state of the
// database, whatever other processes commit meanwhile (nesting allowed; inside a transaction it
// changes nothing). Readers that take several steps use it so that they never see half of a
// registration. A transaction cannot begin inside a snapshot (ERROR_INVALID_PARAMETER). An end
// without a begin is ERROR_INVALID_PARAMETER.
PLENOR_EXPORT LSTATUS RegBeginSnapshot();
PLENOR_EXPORT LSTATUS RegEndSnapshot();

// A read snapshot for the lifetime of the object (see RegBeginSnapshot).
class RegSnapshot {
 public:
  RegSnapshot() : m_open(RegBeginSnapshot() == ERROR_SUCCESS) {}
  ~RegSnapshot() {
    if (m_open) RegEndSnapshot();
  }
  RegSnapshot(const RegSnapshot&) = delete;
  RegSnapshot& operator=(const RegSnapshot&) = delete;

 private:
  bool m_open;
};

#define RegCreateKeyEx RegCreateKeyExA
#define RegCreateKey RegCreateKeyA
#define RegOpenKeyEx RegOpenKeyExA
#define RegOpenKey RegOpenKeyA
#define RegSetValueEx RegSetValueExA
#define RegQueryValueEx RegQueryValueExA
#define RegEnumKeyEx RegEnumKeyExA
#define RegEnumValue RegEnumValueA
#define RegDeleteKey RegDeleteKeyA
#define RegDeleteValue RegDeleteValueA
#define RegDeleteTree RegDeleteTreeA

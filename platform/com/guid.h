// GUIDs: layout, comparison, the 38-character braced text form and parsing.
#pragma once

#include <cstring>
#include <functional>
#include <string>

#include "platform/com/hresult.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using LPGUID = GUID*;
using LPCLSID = CLSID*;

inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool operator<(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
inline BOOL IsEqualGUID(REFGUID a, REFGUID b) { return a == b ? TRUE : FALSE; }
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)

// Declares a GUID constant with one definition per module (inline variable).
#define PLENOR_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

PLENOR_GUID(GUID_NULL, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);
inline constexpr CLSID CLSID_NULL = GUID_NULL;
inline constexpr IID IID_NULL = GUID_NULL;

// Writes the braced form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (38 characters and a terminating
// zero) into buf; returns the number of characters written including the terminator, or 0 when
// cchMax is smaller than 39.
PLENOR_EXPORT int StringFromGUID2(REFGUID guid, LPOLESTR buf, int cchMax);
// The braced upper-case text form as a narrow string.
PLENOR_EXPORT std::string GuidToString(REFGUID guid);
// Parses "{...}" or the same text without braces; false for anything else.
PLENOR_EXPORT bool GuidFromString(const std::string& text, GUID* out);
PLENOR_EXPORT HRESULT CLSIDFromString(LPCOLESTR text, CLSID* out);
// Fresh random (version 4) GUID.
PLENOR_EXPORT GUID NewGuid();

template <>
struct std::hash<GUID> {
  size_t operator()(const GUID& g) const noexcept {
    size_t h;
    std::memcpy(&h, &g, sizeof h);
    size_t h2;
    std::memcpy(&h2, reinterpret_cast<const char*>(&g) + 8, sizeof h2);
    return h ^ (h2 * 0x9E3779B97F4A7C15ull);
  }
};

// GUID text form (braced, upper case, 38 characters) and random GUIDs.
#include "platform/com/guid.h"

#include <errno.h>
#include <sys/random.h>

#include <chrono>
#include <cstdio>
#include <random>

namespace {

// Bytes in text order (Data1..Data3 big-endian as written) to a GUID.
GUID GuidFromBytes(const BYTE (&bytes)[16]) {
  GUID g;
  g.Data1 = DWORD(bytes[0]) << 24 | DWORD(bytes[1]) << 16 | DWORD(bytes[2]) << 8 | bytes[3];
  g.Data2 = static_cast<WORD>(bytes[4] << 8 | bytes[5]);
  g.Data3 = static_cast<WORD>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  return g;
}

int HexDigit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses the 36-character form "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" of any character type.
template <class Ch>
bool ParseBare(const Ch* s, size_t n, GUID* out) {
  if (n != 36) return false;
  for (size_t dash : {8u, 13u, 18u, 23u}) {
    if (s[dash] != '-') return false;
  }
  BYTE bytes[16];
  size_t b = 0;
  for (size_t i = 0; i < 36;) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      ++i;
      continue;
    }
    int hi = s[i] < 128 ? HexDigit(static_cast<int>(s[i])) : -1;
    int lo = s[i + 1] < 128 ? HexDigit(static_cast<int>(s[i + 1])) : -1;
    if (hi < 0 || lo < 0) return false;
    bytes[b++] = static_cast<BYTE>(hi << 4 | lo);
    i += 2;
  }
  *out = GuidFromBytes(bytes);
  return true;
}

template <class Ch>
bool ParseGuid(const Ch* s, size_t n, GUID* out) {
  if (n == 38) {
    if (s[0] != '{' || s[37] != '}') return false;
    return ParseBare(s + 1, 36, out);
  }
  return ParseBare(s, n, out);
}

}  // namespace

std::string GuidToString(REFGUID g) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buf, int cchMax) {
  if (!buf || cchMax < 39) return 0;
  std::string text = GuidToString(guid);
  for (size_t i = 0; i < text.size(); ++i) buf[i] = static_cast<OLECHAR>(text[i]);
  buf[text.size()] = 0;
  return static_cast<int>(text.size()) + 1;
}

bool GuidFromString(const std::string& text, GUID* out) {
  if (!out) return false;
  return ParseGuid(text.data(), text.size(), out);
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* out) {
  if (!text || !out) return E_POINTER;
  size_t n = 0;
  while (n < 40 && text[n]) ++n;
  if (!ParseGuid(text, n, out)) {
    *out = GUID_NULL;
    return CO_E_CLASSSTRING;
  }
  return S_OK;
}

GUID NewGuid() {
  BYTE bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t r = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  if (got < sizeof bytes) {
    // No kernel entropy available: fall back to a generator seeded from the clock and address.
    thread_local std::mt19937_64 gen(static_cast<std::uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ reinterpret_cast<std::uintptr_t>(&got)));
    for (BYTE& b : bytes) b = static_cast<BYTE>(gen());
  }
  bytes[6] = static_cast<BYTE>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<BYTE>((bytes[8] & 0x3F) | 0x80);  // variant 1
  return GuidFromBytes(bytes);
}

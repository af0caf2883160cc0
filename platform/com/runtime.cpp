// Basic runtime services: initialisation counting, the task allocator, the thread's last error,
// the performance counter and UTF-8 code-page conversion.
#include "platform/com/runtime.h"

#include <time.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>
#include <thread>

#include "platform/com/decimal.h"
#include "platform/com/textconv.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;
thread_local int t_initCount = 0;

}  // namespace

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

// The runtime has no apartments: every object is free-threaded. Initialisation is only counted so
// that repeated calls answer S_FALSE as callers expect.
HRESULT CoInitializeEx(LPVOID, DWORD) { return t_initCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_initCount > 0) --t_initCount;
}

LPVOID CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb ? cb : 1); }

// Reallocating to zero bytes frees the block and returns null, as the original does.
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
  if (pv && cb == 0) {
    std::free(pv);
    return nullptr;
  }
  return std::realloc(pv, cb ? cb : 1);
}

void CoTaskMemFree(LPVOID pv) { std::free(pv); }

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD err) { t_lastError = err; }

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
  if (!count) return FALSE;
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::chrono::steady_clock::now().time_since_epoch())
                .count();
  count->QuadPart = ns / 100;
  return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* freq) {
  if (!freq) return FALSE;
  freq->QuadPart = 10000000;  // 100 ns units, the same unit as REFERENCE_TIME
  return TRUE;
}

DWORD timeGetTime() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now().time_since_epoch())
                .count();
  return static_cast<DWORD>(ms);  // wraps like the original after 49.7 days
}

void Sleep(DWORD ms) {
  if (ms == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int cbMultiByte, LPWSTR dst, int cchWideChar) {
  if (codePage != CP_ACP && codePage != CP_UTF8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!src || cbMultiByte == 0 || cchWideChar < 0 || (cchWideChar > 0 && !dst)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = cbMultiByte < 0 ? std::strlen(src) + 1 : static_cast<size_t>(cbMultiByte);
  std::wstring out;
  if (!plenor::DecodeUtf8(std::string_view(src, n), &out, (flags & MB_ERR_INVALID_CHARS) != 0)) {
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  if (out.size() > INT_MAX) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (cchWideChar == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(cchWideChar)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::wmemcpy(dst, out.data(), out.size());
  return static_cast<int>(out.size());
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR src, int cchWideChar, LPSTR dst, int cbMultiByte, LPCSTR,
                        BOOL* usedDefault) {
  if (codePage != CP_ACP && codePage != CP_UTF8) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (!src || cchWideChar == 0 || cbMultiByte < 0 || (cbMultiByte > 0 && !dst)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = cchWideChar < 0 ? std::wcslen(src) + 1 : static_cast<size_t>(cchWideChar);
  std::string out;
  plenor::EncodeUtf8(std::wstring_view(src, n), &out);
  if (usedDefault) *usedDefault = FALSE;
  if (out.size() > INT_MAX) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (cbMultiByte == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(cbMultiByte)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, out.data(), out.size());
  return static_cast<int>(out.size());
}

std::wstring Utf8ToWide(const std::string& s) {
  std::wstring out;
  plenor::DecodeUtf8(s, &out, false);
  return out;
}

std::string WideToUtf8(const std::wstring& s) {
  std::string out;
  plenor::EncodeUtf8(s, &out);
  return out;
}

LPOLESTR TaskMemWideString(const std::string& utf8) {
  try {
    const std::wstring wide = Utf8ToWide(utf8);
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide.size() + 1) * sizeof(wchar_t)));
    if (out) std::wmemcpy(out, wide.c_str(), wide.size() + 1);
    return out;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int _wtoi(const wchar_t* s) { return plenor::ClampedDecimal<int>(s); }

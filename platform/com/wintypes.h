// Windows integer and handle types with their Windows sizes on a 64-bit Linux host.
// LONG and DWORD are 32-bit here (C++ `long` is 64-bit on this platform and is never used for them).
#pragma once

#include <cstddef>
#include <cstdint>

#define PLENOR_EXPORT __attribute__((visibility("default")))
#define STDMETHODCALLTYPE
#define STDMETHOD(name) virtual HRESULT STDMETHODCALLTYPE name
#define STDMETHOD_(type, name) virtual type STDMETHODCALLTYPE name
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define PURE = 0
#define WINAPI
#define CALLBACK

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using USHORT = std::uint16_t;
using UCHAR = std::uint8_t;
using LONG = std::int32_t;
using INT = std::int32_t;
using SHORT = std::int16_t;
using CHAR = char;
using BOOL = std::int32_t;
using BOOLEAN = std::uint8_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using DWORDLONG = std::uint64_t;
using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using HRESULT = std::int32_t;
using SCODE = std::int32_t;
using WCHAR = wchar_t;
using OLECHAR = wchar_t;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using LPOLESTR = wchar_t*;
using LPCOLESTR = const wchar_t*;
using PVOID = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using LPLONG = LONG*;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using ATOM = WORD;
using LCID = DWORD;

// Reference time: signed 64-bit count of 100 ns units.
using REFERENCE_TIME = LONGLONG;
using REFTIME = double;

// Opaque handles. A window handle points at a dialog-system object; a module handle at a loaded
// module's record in the component runtime.
struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using HANDLE = void*;
using HEVENT = HANDLE;
using HSEMAPHORE = HANDLE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu

struct RECT {
  LONG left, top, right, bottom;
};
using LPRECT = RECT*;
using LPCRECT = const RECT*;
struct POINT {
  LONG x, y;
};
struct SIZE {
  LONG cx, cy;
};

union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
};
union ULARGE_INTEGER {
  struct {
    DWORD LowPart;
    DWORD HighPart;
  } u;
  ULONGLONG QuadPart;
};

static_assert(sizeof(LONG) == 4 && sizeof(DWORD) == 4 && sizeof(WORD) == 2 && sizeof(BOOL) == 4);
static_assert(sizeof(RECT) == 16 && sizeof(LARGE_INTEGER) == 8);

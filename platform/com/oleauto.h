// BSTR and VARIANT: length-prefixed wide strings and the tagged value used by property bags.
#pragma once

#include "platform/com/unknown.h"

using BSTR = OLECHAR*;
using VARIANT_BOOL = SHORT;
using VARTYPE = USHORT;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_INT_PTR = 37,
  VT_UINT_PTR = 38,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
};

struct VARIANT {
  VARTYPE vt;
  WORD wReserved1, wReserved2, wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    BSTR bstrVal;
    IUnknown* punkVal;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    LPSTR pszVal;    // VT_LPSTR
    LPWSTR pwszVal;  // VT_LPWSTR
    INT_PTR intptrVal;
    UINT_PTR uintptrVal;
    void* byref;
  };
};
using VARIANTARG = VARIANT;

// Allocates a BSTR holding a copy of s (null for a null s).
PLENOR_EXPORT BSTR SysAllocString(const OLECHAR* s);
PLENOR_EXPORT BSTR SysAllocStringLen(const OLECHAR* s, UINT len);
PLENOR_EXPORT void SysFreeString(BSTR s);
PLENOR_EXPORT UINT SysStringLen(BSTR s);
PLENOR_EXPORT UINT SysStringByteLen(BSTR s);

PLENOR_EXPORT void VariantInit(VARIANT* v);
// Frees what the variant owns (BSTR, interface reference; the text of VT_LPSTR/VT_LPWSTR through
// the task allocator) and sets it to VT_EMPTY. By-reference variants own nothing.
PLENOR_EXPORT HRESULT VariantClear(VARIANT* v);
PLENOR_EXPORT HRESULT VariantCopy(VARIANT* dst, const VARIANT* src);

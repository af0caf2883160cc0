// BSTR allocation and VARIANT lifetime.
//
// A BSTR points at the first character of a block laid out as
//   [padding][DWORD byte length][characters...][terminating zero]
// so that SysStringLen is O(1) and the string may contain embedded zeros.
#include "platform/com/oleauto.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>

#include "platform/com/runtime.h"

namespace {

// Header size: keeps the characters 8-byte aligned with the length right before them.
constexpr size_t kHeader = 8;

DWORD* LengthSlot(BSTR s) { return reinterpret_cast<DWORD*>(reinterpret_cast<char*>(s) - sizeof(DWORD)); }

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* s, UINT len) {
  constexpr UINT kMaxLen = (std::numeric_limits<DWORD>::max() - kHeader) / sizeof(OLECHAR) - 1;
  if (len > kMaxLen) return nullptr;
  size_t bytes = static_cast<size_t>(len) * sizeof(OLECHAR);
  auto* block = static_cast<char*>(std::malloc(kHeader + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  auto str = reinterpret_cast<BSTR>(block + kHeader);
  *LengthSlot(str) = static_cast<DWORD>(bytes);
  if (s) {
    std::memcpy(str, s, bytes);
  } else {
    std::memset(str, 0, bytes);
  }
  str[len] = 0;
  return str;
}

BSTR SysAllocString(const OLECHAR* s) {
  if (!s) return nullptr;
  size_t n = std::wcslen(s);
  if (n > std::numeric_limits<UINT>::max()) return nullptr;
  return SysAllocStringLen(s, static_cast<UINT>(n));
}

void SysFreeString(BSTR s) {
  if (s) std::free(reinterpret_cast<char*>(s) - kHeader);
}

UINT SysStringLen(BSTR s) { return s ? *LengthSlot(s) / sizeof(OLECHAR) : 0; }

UINT SysStringByteLen(BSTR s) { return s ? *LengthSlot(s) : 0; }

void VariantInit(VARIANT* v) {
  if (!v) return;
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

namespace {

// Whether vt is a type this runtime knows how to clear and copy.
bool IsKnownType(VARTYPE vt) {
  if (vt & VT_BYREF) return true;  // owns nothing
  if (vt & VT_ARRAY) return false;   // arrays are not supported by this runtime
  switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE:
    case VT_BSTR: case VT_DISPATCH: case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_DECIMAL:
    case VT_I1: case VT_UI1: case VT_UI2: case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
    case VT_HRESULT: case VT_LPSTR: case VT_LPWSTR: case VT_INT_PTR: case VT_UINT_PTR:
      return true;
    default:
      return false;
  }
}

}  // namespace

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  if (!IsKnownType(v->vt)) return DISP_E_BADVARTYPE;
  if (!(v->vt & VT_BYREF)) {
    switch (v->vt) {
      case VT_BSTR:
        SysFreeString(v->bstrVal);
        break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        if (v->punkVal) v->punkVal->Release();
        break;
      case VT_LPSTR:
        CoTaskMemFree(v->pszVal);
        break;
      case VT_LPWSTR:
        CoTaskMemFree(v->pwszVal);
        break;
      default:
        break;
    }
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) {
  if (!dst || !src) return E_INVALIDARG;
  if (dst == src) return S_OK;
  if (!IsKnownType(src->vt)) return DISP_E_BADVARTYPE;
  // Build the copy first so that a failed allocation leaves dst untouched.
  VARIANT copy = *src;
  if (!(src->vt & VT_BYREF)) {
    switch (src->vt) {
      case VT_BSTR:
        if (src->bstrVal) {
          copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
          if (!copy.bstrVal) return E_OUTOFMEMORY;
        }
        break;
      case VT_UNKNOWN:
      case VT_DISPATCH:
        if (copy.punkVal) copy.punkVal->AddRef();
        break;
      case VT_LPSTR:
        if (src->pszVal) {
          size_t n = std::strlen(src->pszVal) + 1;
          copy.pszVal = static_cast<LPSTR>(CoTaskMemAlloc(n));
          if (!copy.pszVal) return E_OUTOFMEMORY;
          std::memcpy(copy.pszVal, src->pszVal, n);
        }
        break;
      case VT_LPWSTR:
        if (src->pwszVal) {
          size_t n = std::wcslen(src->pwszVal) + 1;
          copy.pwszVal = static_cast<LPWSTR>(CoTaskMemAlloc(n * sizeof(wchar_t)));
          if (!copy.pwszVal) return E_OUTOFMEMORY;
          std::wmemcpy(copy.pwszVal, src->pwszVal, n);
        }
        break;
      default:
        break;
    }
  }
  HRESULT hr = VariantClear(dst);
  if (FAILED(hr)) {
    VARIANT undo = copy;
    VariantClear(&undo);
    return hr;
  }
  *dst = copy;
  return S_OK;
}

// IUnknown, IClassFactory and the ComPtr smart pointer that holds every COM reference.
#pragma once

#include <memory>
#include <utility>

#include "platform/com/guid.h"

PLENOR_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
PLENOR_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IUnknown {
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) PURE;
  STDMETHOD_(ULONG, AddRef)() PURE;
  STDMETHOD_(ULONG, Release)() PURE;

 protected:
  ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

struct IClassFactory : IUnknown {
  STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppv) PURE;
  STDMETHOD(LockServer)(BOOL fLock) PURE;

 protected:
  ~IClassFactory() = default;
};

// Maps an interface type to its IID: every interface declares `static constexpr const IID& iid`.
template <class T>
constexpr const IID& uuidof() {
  return T::iid;
}
template <>
constexpr const IID& uuidof<IUnknown>() {
  return IID_IUnknown;
}
template <>
constexpr const IID& uuidof<IClassFactory>() {
  return IID_IClassFactory;
}

// Owns one reference to a COM object. Copying AddRefs, destruction Releases.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a new reference to p.
  explicit ComPtr(T* p) : m_p(p) {
    if (m_p) m_p->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.m_p) {}
  ComPtr(ComPtr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  ~ComPtr() { Reset(); }
  ComPtr& operator=(const ComPtr& o) {
    ComPtr(o).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    ComPtr(std::move(o)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  // Adopts a reference the caller already owns (no AddRef).
  static ComPtr Attach(T* p) {
    ComPtr c;
    c.m_p = p;
    return c;
  }
  // Gives up ownership without Release.
  T* Detach() { return std::exchange(m_p, nullptr); }
  void Reset() {
    if (T* p = std::exchange(m_p, nullptr)) p->Release();
  }
  void Swap(ComPtr& o) noexcept { std::swap(m_p, o.m_p); }

  T* Get() const { return m_p; }
  T* operator->() const { return m_p; }
  T& operator*() const { return *m_p; }
  explicit operator bool() const { return m_p != nullptr; }
  // Releases the current reference and returns the slot for an out parameter.
  T** operator&() {
    Reset();
    return &m_p;
  }
  T** ReleaseAndGetAddressOf() { return &*this; }
  void** AsOut() { return reinterpret_cast<void**>(&*this); }

  // QueryInterface into another smart pointer.
  template <class U>
  HRESULT As(ComPtr<U>* out) const {
    if (!m_p) return E_POINTER;
    return m_p->QueryInterface(uuidof<U>(), reinterpret_cast<void**>(out->ReleaseAndGetAddressOf()));
  }
  template <class U>
  ComPtr<U> As() const {
    ComPtr<U> out;
    As(std::addressof(out));
    return out;
  }

 private:
  T* m_p = nullptr;
};

template <class T, class U>
bool operator==(const ComPtr<T>& a, const ComPtr<U>& b) {
  return a.Get() == b.Get();
}

// A small COM object base for the graph runtime's own objects (graph manager, clock,
// enumerators). These objects live inside the runtime library, never inside a plugin module, so
// they take no part in a module's live-object count.
#pragma once

#include <atomic>
#include <exception>
#include <new>
#include <type_traits>

#include "platform/com/unknown.h"

namespace plenor::graph {

// Implements IUnknown for a class that derives from one or more interfaces. The first interface
// stands for the object's IUnknown. Interfaces not named in the list (base interfaces such as
// IFilterGraph of IGraphBuilder) are answered by the derived class's QueryExtra.
template <class Derived, class First, class... Rest>
class ComObject : public First, public Rest... {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown)
      *ppv = static_cast<First*>(this);
    else if (!Find<First, Rest...>(riid, ppv))
      *ppv = static_cast<Derived*>(this)->QueryExtra(riid);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG c = --m_cRef;
    if (c == 0) {
      // Calls made during destruction may AddRef and Release the object again: keep the count
      // away from zero so that they cannot delete it a second time.
      m_cRef = 1u << 30;
      delete static_cast<Derived*>(this);
    }
    return c;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;
  // Base interfaces the list does not name; null when the object has none for riid.
  void* QueryExtra(REFIID) { return nullptr; }

 private:
  template <class I, class... More>
  bool Find(REFIID riid, void** ppv) {
    if (riid == uuidof<I>()) {
      *ppv = static_cast<I*>(this);
      return true;
    }
    if constexpr (sizeof...(More) > 0)
      return Find<More...>(riid, ppv);
    else
      return false;
  }

  std::atomic<ULONG> m_cRef{1};
};

// Runs an interface method body, mapping exceptions to result codes so that none crosses the
// interface boundary.
template <class F>
HRESULT Guarded(F&& f) noexcept {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

// Creates a ComObject-derived object (reference count 1) and hands out riid.
template <class T, class... Args>
HRESULT CreateComObject(REFIID riid, void** ppv, Args&&... args) noexcept {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  return Guarded([&]() -> HRESULT {
    T* p = new T(std::forward<Args>(args)...);
    HRESULT hr = p->QueryInterface(riid, ppv);
    p->Release();
    return hr;
  });
}

}  // namespace plenor::graph

// Reference counting for the COM objects implemented inside the runtime (streams, property bags).
// Internal to plenorrt: modules use strmbase's CUnknown instead.
#pragma once

#include <atomic>

#include "platform/com/unknown.h"

namespace plenor {

// Implements AddRef/Release for an object with one interface chain. Objects start with one
// reference, owned by whoever created them with new.
template <class Interface>
class RefCounted : public Interface {
 public:
  STDMETHODIMP_(ULONG) AddRef() override { return m_refs.fetch_add(1, std::memory_order_relaxed) + 1; }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  RefCounted() = default;
  virtual ~RefCounted() = default;

  // QueryInterface helper: answers for IUnknown and each of the given interface ids with this
  // object's Interface pointer.
  template <class... Ids>
  HRESULT QueryChain(REFIID riid, void** ppv, const Ids&... ids) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || ((riid == ids) || ...)) {
      *ppv = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }

 private:
  std::atomic<ULONG> m_refs{1};
};

}  // namespace plenor

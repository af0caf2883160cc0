// A property bag held in memory, for hosts that save and load filters' named properties.
#include <map>
#include <mutex>
#include <new>
#include <string>

#include "platform/com/objidl.h"
#include "platform/com/refcounted.h"

namespace {

// Names compare with ASCII letters folded, like the registry's and the persisted names of filters.
std::wstring FoldCase(LPCOLESTR name) {
  std::wstring folded(name);
  for (wchar_t& c : folded)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return folded;
}

class MemoryPropertyBag final : public plenor::RefCounted<IPropertyBag> {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return QueryChain(riid, ppv, IID_IPropertyBag); }

  // The stored variant, copied with its own type into the caller's (which is cleared first).
  STDMETHODIMP Read(LPCOLESTR name, VARIANT* var, IErrorLog*) override {
    if (!name || !var) return E_POINTER;
    try {
      std::lock_guard lock(m_lock);
      auto it = m_values.find(FoldCase(name));
      if (it == m_values.end()) return E_INVALIDARG;
      return VariantCopy(var, &it->second);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

  STDMETHODIMP Write(LPCOLESTR name, VARIANT* var) override {
    if (!name || !var) return E_POINTER;
    // A by-reference variant points into the caller's memory, which the bag would outlive.
    if (var->vt & VT_BYREF) return E_INVALIDARG;
    try {
      std::wstring key = FoldCase(name);
      std::lock_guard lock(m_lock);
      auto [it, inserted] = m_values.try_emplace(std::move(key));  // a new slot starts as VT_EMPTY
      // VariantCopy leaves the old value in place when it fails.
      HRESULT hr = VariantCopy(&it->second, var);
      if (FAILED(hr) && inserted) m_values.erase(it);
      return hr;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }

 private:
  ~MemoryPropertyBag() override {
    for (auto& [name, value] : m_values) VariantClear(&value);
  }

  std::mutex m_lock;
  std::map<std::wstring, VARIANT> m_values;  // by folded name; each variant owned by the bag
};

}  // namespace

HRESULT CreateMemoryPropertyBag(IPropertyBag** ppBag) {
  if (!ppBag) return E_POINTER;
  *ppBag = new (std::nothrow) MemoryPropertyBag;
  return *ppBag ? S_OK : E_OUTOFMEMORY;
}

// The filter mapper over the registry (layout in mapper.h) and its COM objects: the mapper itself
// (IFilterMapper2 and IFilterMapper), its enumerator (IEnumRegFilters) and its class factory.
// The runtime cannot use strmbase: the objects are built on the runtime's own ComObject.
#include "platform/graph/mapper.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>

#include "platform/com/registry.h"
#include "platform/com/runtime.h"
#include "platform/graph/comobject.h"

namespace {

// ---- Registry access ----

constexpr const char* kFilterRoot = "Filter";
constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

LSTATUS OpenKey(HKEY parent, const std::string& name, UniqueKey* out) {
  HKEY raw = nullptr;
  LSTATUS rc = RegOpenKeyEx(parent, name.c_str(), 0, KEY_ALL_ACCESS, &raw);
  if (rc == ERROR_SUCCESS) out->reset(raw);
  return rc;
}

LSTATUS CreateKey(HKEY parent, const std::string& name, UniqueKey* out) {
  HKEY raw = nullptr;
  LSTATUS rc = RegCreateKey(parent, name.c_str(), &raw);
  if (rc == ERROR_SUCCESS) out->reset(raw);
  return rc;
}

std::string FilterKeyName(REFCLSID clsid) { return std::string(kFilterRoot) + "\\" + GuidToString(clsid); }

std::string IndexName(DWORD index) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04u", index);
  return buf;
}

LSTATUS WriteString(HKEY key, const char* valueName, const std::string& text) {
  return RegSetValueEx(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
}
LSTATUS WriteWide(HKEY key, const char* valueName, const std::wstring& text) {
  return WriteString(key, valueName, WideToUtf8(text));
}
LSTATUS WriteDword(HKEY key, const char* valueName, DWORD value) {
  return RegSetValueEx(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}
LSTATUS WriteGuid(HKEY key, const char* valueName, REFGUID guid) { return WriteString(key, valueName, GuidToString(guid)); }

LSTATUS ReadString(HKEY key, const char* valueName, std::string* out) {
  DWORD type = REG_NONE;
  DWORD cb = 0;
  LSTATUS rc = RegQueryValueEx(key, valueName, nullptr, &type, nullptr, &cb);
  if (rc != ERROR_SUCCESS) return rc;
  if (type != REG_SZ) return ERROR_INVALID_DATA;
  std::string buf(cb, '\0');
  rc = RegQueryValueEx(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &cb);
  if (rc != ERROR_SUCCESS) return rc;
  buf.resize(std::min<size_t>(cb, buf.size()));
  // Stored with its terminating zero; cut at the first zero in any case.
  buf.resize(std::strlen(buf.c_str()));
  *out = std::move(buf);
  return ERROR_SUCCESS;
}
LSTATUS ReadWide(HKEY key, const char* valueName, std::wstring* out) {
  std::string s;
  LSTATUS rc = ReadString(key, valueName, &s);
  if (rc == ERROR_SUCCESS) *out = Utf8ToWide(s);
  return rc;
}
LSTATUS ReadDword(HKEY key, const char* valueName, DWORD* out) {
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD cb = sizeof value;
  LSTATUS rc = RegQueryValueEx(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &cb);
  if (rc != ERROR_SUCCESS) return rc;
  if (type != REG_DWORD || cb != sizeof value) return ERROR_INVALID_DATA;
  *out = value;
  return ERROR_SUCCESS;
}
LSTATUS ReadGuid(HKEY key, const char* valueName, GUID* out) {
  std::string s;
  LSTATUS rc = ReadString(key, valueName, &s);
  if (rc != ERROR_SUCCESS) return rc;
  return GuidFromString(s, out) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

// Names of the subkeys of key, in the registry's (name) order.
LSTATUS SubkeyNames(HKEY key, std::vector<std::string>* names) {
  names->clear();
  for (DWORD i = 0;; ++i) {
    char name[MAX_PATH];
    DWORD cch = sizeof name;
    LSTATUS rc = RegEnumKeyEx(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS) return rc;
    names->emplace_back(name, cch);
  }
}

// The index after the highest numbered subkey of key (0 when there is none).
LSTATUS NextIndex(HKEY key, DWORD* next) {
  std::vector<std::string> names;
  LSTATUS rc = SubkeyNames(key, &names);
  if (rc != ERROR_SUCCESS) return rc;
  DWORD n = 0;
  for (const std::string& name : names) n = std::max<DWORD>(n, static_cast<DWORD>(std::strtoul(name.c_str(), nullptr, 10)) + 1);
  *next = n;
  return ERROR_SUCCESS;
}

bool KeyExists(HKEY parent, const std::string& name) {
  UniqueKey key;
  return OpenKey(parent, name, &key) == ERROR_SUCCESS;
}

// Runs body inside one registry transaction, committed even when body fails: the arguments are
// checked before anything is written, so a failure is a registry failure, and a rollback here
// would also undo the caller's own writes when the caller has a transaction open (a module's
// registration keeps what it wrote before a failing step).
template <class Body>
HRESULT InTransaction(Body body) {
  LSTATUS rc = RegBeginTransaction();
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  HRESULT hr;
  try {
    hr = body();
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  rc = RegEndTransaction(TRUE);
  if (SUCCEEDED(hr) && rc != ERROR_SUCCESS) hr = HRESULT_FROM_WIN32(rc);
  return hr;
}

#define RETURN_IF_REG_FAILED(expr)                        \
  do {                                                    \
    LSTATUS rc_ = (expr);                                 \
    if (rc_ != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc_); \
  } while (0)

HRESULT WriteMediaType(HKEY typesKey, DWORD index, const RegisteredMediaType& mt) {
  UniqueKey key;
  RETURN_IF_REG_FAILED(CreateKey(typesKey, IndexName(index), &key));
  RETURN_IF_REG_FAILED(WriteGuid(key.get(), "Major", mt.majorType));
  RETURN_IF_REG_FAILED(WriteGuid(key.get(), "Sub", mt.subType));
  return S_OK;
}

HRESULT WritePin(HKEY pinsKey, DWORD index, const RegisteredPin& pin) {
  UniqueKey key;
  RETURN_IF_REG_FAILED(CreateKey(pinsKey, IndexName(index), &key));
  RETURN_IF_REG_FAILED(WriteWide(key.get(), nullptr, pin.name));
  RETURN_IF_REG_FAILED(WriteDword(key.get(), "Rendered", pin.rendered ? 1 : 0));
  RETURN_IF_REG_FAILED(WriteDword(key.get(), "Output", pin.output ? 1 : 0));
  RETURN_IF_REG_FAILED(WriteDword(key.get(), "Zero", pin.zero ? 1 : 0));
  RETURN_IF_REG_FAILED(WriteDword(key.get(), "Many", pin.many ? 1 : 0));
  RETURN_IF_REG_FAILED(WriteGuid(key.get(), "ConnectsToFilter", pin.connectsToFilter));
  RETURN_IF_REG_FAILED(WriteWide(key.get(), "ConnectsToPin", pin.connectsToPin));
  if (pin.mediaTypes.empty()) return S_OK;
  UniqueKey types;
  RETURN_IF_REG_FAILED(CreateKey(key.get(), "Types", &types));
  for (size_t t = 0; t < pin.mediaTypes.size(); ++t) {
    HRESULT hr = WriteMediaType(types.get(), static_cast<DWORD>(t), pin.mediaTypes[t]);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// Replaces the class's entry by a new one with no pins; returns the new key in *filterKey.
HRESULT WriteFilterEntry(REFCLSID clsid, const std::wstring& name, DWORD merit, REFCLSID category,
                         UniqueKey* filterKey) {
  const std::string keyName = FilterKeyName(clsid);
  if (KeyExists(HKEY_CLASSES_ROOT, keyName)) RETURN_IF_REG_FAILED(RegDeleteTree(HKEY_CLASSES_ROOT, keyName.c_str()));
  RETURN_IF_REG_FAILED(CreateKey(HKEY_CLASSES_ROOT, keyName, filterKey));
  RETURN_IF_REG_FAILED(WriteWide(filterKey->get(), nullptr, name));
  RETURN_IF_REG_FAILED(WriteDword(filterKey->get(), "Merit", merit));
  RETURN_IF_REG_FAILED(WriteGuid(filterKey->get(), "Category", category));
  return S_OK;
}

HRESULT RemoveFilterEntry(REFCLSID clsid) {
  const std::string keyName = FilterKeyName(clsid);
  if (!KeyExists(HKEY_CLASSES_ROOT, keyName)) return kNotFound;
  RETURN_IF_REG_FAILED(RegDeleteTree(HKEY_CLASSES_ROOT, keyName.c_str()));
  return S_OK;
}

LSTATUS ReadPin(HKEY pinKey, RegisteredPin* pin) {
  DWORD flag = 0;
  LSTATUS rc = ReadWide(pinKey, nullptr, &pin->name);
  if (rc == ERROR_SUCCESS && (rc = ReadDword(pinKey, "Rendered", &flag)) == ERROR_SUCCESS) pin->rendered = flag != 0;
  if (rc == ERROR_SUCCESS && (rc = ReadDword(pinKey, "Output", &flag)) == ERROR_SUCCESS) pin->output = flag != 0;
  if (rc == ERROR_SUCCESS && (rc = ReadDword(pinKey, "Zero", &flag)) == ERROR_SUCCESS) pin->zero = flag != 0;
  if (rc == ERROR_SUCCESS && (rc = ReadDword(pinKey, "Many", &flag)) == ERROR_SUCCESS) pin->many = flag != 0;
  if (rc == ERROR_SUCCESS) rc = ReadGuid(pinKey, "ConnectsToFilter", &pin->connectsToFilter);
  if (rc == ERROR_SUCCESS) rc = ReadWide(pinKey, "ConnectsToPin", &pin->connectsToPin);
  if (rc != ERROR_SUCCESS) return rc;

  UniqueKey types;
  rc = OpenKey(pinKey, "Types", &types);
  if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;  // a pin without types
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<std::string> names;
  rc = SubkeyNames(types.get(), &names);
  for (size_t i = 0; rc == ERROR_SUCCESS && i < names.size(); ++i) {
    UniqueKey typeKey;
    RegisteredMediaType mt;
    rc = OpenKey(types.get(), names[i], &typeKey);
    if (rc == ERROR_SUCCESS) rc = ReadGuid(typeKey.get(), "Major", &mt.majorType);
    if (rc == ERROR_SUCCESS) rc = ReadGuid(typeKey.get(), "Sub", &mt.subType);
    if (rc == ERROR_SUCCESS) pin->mediaTypes.push_back(mt);
  }
  return rc;
}

LSTATUS ReadFilter(HKEY filterKey, REFCLSID clsid, RegisteredFilter* filter) {
  filter->clsid = clsid;
  LSTATUS rc = ReadWide(filterKey, nullptr, &filter->name);
  if (rc == ERROR_SUCCESS) rc = ReadDword(filterKey, "Merit", &filter->merit);
  if (rc == ERROR_SUCCESS) rc = ReadGuid(filterKey, "Category", &filter->category);
  if (rc != ERROR_SUCCESS) return rc;

  UniqueKey pins;
  rc = OpenKey(filterKey, "Pins", &pins);
  if (rc == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;  // a filter without registered pins
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<std::string> names;
  rc = SubkeyNames(pins.get(), &names);
  for (size_t i = 0; rc == ERROR_SUCCESS && i < names.size(); ++i) {
    UniqueKey pinKey;
    RegisteredPin pin;
    rc = OpenKey(pins.get(), names[i], &pinKey);
    if (rc == ERROR_SUCCESS) rc = ReadPin(pinKey.get(), &pin);
    if (rc == ERROR_SUCCESS) filter->pins.push_back(std::move(pin));
  }
  return rc;
}

bool GuidMatches(REFGUID requested, REFGUID registered, bool exact) {
  return requested == GUID_NULL || requested == registered || (!exact && registered == GUID_NULL);
}

bool PinMatches(const RegisteredPin& pin, bool output, bool render, const std::vector<RegisteredMediaType>& types,
                bool exact) {
  if (pin.output != output) return false;
  if (render && !pin.rendered) return false;
  if (types.empty()) return true;
  for (const RegisteredMediaType& want : types) {
    for (const RegisteredMediaType& have : pin.mediaTypes) {
      if (GuidMatches(want.majorType, have.majorType, exact) && GuidMatches(want.subType, have.subType, exact))
        return true;
    }
  }
  return false;
}

bool HasMatchingPin(const RegisteredFilter& f, bool output, bool render, const std::vector<RegisteredMediaType>& types,
                    bool exact) {
  return std::any_of(f.pins.begin(), f.pins.end(),
                     [&](const RegisteredPin& p) { return PinMatches(p, output, render, types, exact); });
}

std::vector<RegisteredMediaType> TypePairs(DWORD count, const GUID* pairs) {
  std::vector<RegisteredMediaType> types;
  for (DWORD i = 0; i < count; ++i) types.push_back({pairs[2 * i], pairs[2 * i + 1]});
  return types;
}

// ---- COM objects ----

// One match as the enumerator hands it out.
struct MatchEntry {
  CLSID clsid;
  std::wstring name;
};
using MatchList = std::vector<MatchEntry>;

class RegFilterEnum final : public plenor::graph::ComObject<RegFilterEnum, IEnumRegFilters> {
 public:
  RegFilterEnum(std::shared_ptr<const MatchList> list, size_t pos) : m_list(std::move(list)), m_pos(pos) {}

  STDMETHODIMP Next(ULONG cFilters, REGFILTER** apRegFilter, ULONG* pcFetched) override {
    if (!apRegFilter) return E_POINTER;
    if (cFilters > 1 && !pcFetched) return E_INVALIDARG;
    std::lock_guard lock(m_lock);
    ULONG fetched = 0;
    while (fetched < cFilters && m_pos < m_list->size()) {
      const MatchEntry& e = (*m_list)[m_pos];
      // One block: the record, then its name.
      const size_t cb = sizeof(REGFILTER) + (e.name.size() + 1) * sizeof(WCHAR);
      auto* rf = static_cast<REGFILTER*>(CoTaskMemAlloc(cb));
      if (!rf) {
        for (ULONG i = 0; i < fetched; ++i) {
          CoTaskMemFree(apRegFilter[i]);
          apRegFilter[i] = nullptr;
        }
        m_pos -= fetched;
        if (pcFetched) *pcFetched = 0;
        return E_OUTOFMEMORY;
      }
      rf->Clsid = e.clsid;
      rf->Name = reinterpret_cast<LPWSTR>(rf + 1);
      std::memcpy(rf->Name, e.name.c_str(), (e.name.size() + 1) * sizeof(WCHAR));
      apRegFilter[fetched++] = rf;
      ++m_pos;
    }
    if (pcFetched) *pcFetched = fetched;
    return fetched == cFilters ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG cFilters) override {
    std::lock_guard lock(m_lock);
    const size_t left = m_list->size() - m_pos;
    if (cFilters > left) {
      m_pos = m_list->size();
      return S_FALSE;
    }
    m_pos += cFilters;
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    std::lock_guard lock(m_lock);
    m_pos = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumRegFilters** ppEnum) override {
    std::lock_guard lock(m_lock);
    return plenor::graph::CreateComObject<RegFilterEnum>(IID_IEnumRegFilters, reinterpret_cast<void**>(ppEnum),
                                                         m_list, m_pos);
  }

 private:
  std::mutex m_lock;
  const std::shared_ptr<const MatchList> m_list;
  size_t m_pos;
};

HRESULT MakeEnum(const FilterMatchCriteria& criteria, bool matchNothing, IEnumRegFilters** ppEnum) {
  std::vector<RegisteredFilter> filters;
  if (!matchNothing) {
    HRESULT hr = MapperFindFilters(criteria, &filters);
    if (FAILED(hr)) return hr;
  }
  auto list = std::make_shared<MatchList>();
  for (RegisteredFilter& f : filters) list->push_back({f.clsid, std::move(f.name)});
  return plenor::graph::CreateComObject<RegFilterEnum>(IID_IEnumRegFilters, reinterpret_cast<void**>(ppEnum),
                                                       std::shared_ptr<const MatchList>(std::move(list)), size_t{0});
}

using plenor::graph::Guarded;

class FilterMapper final : public plenor::graph::ComObject<FilterMapper, IFilterMapper2, IFilterMapper> {
 public:
  // ---- IFilterMapper2 ----

  STDMETHODIMP CreateCategory(REFCLSID clsidCategory, DWORD dwCategoryMerit, LPCWSTR Description) override {
    if (!Description) return E_POINTER;
    return Guarded([&] {
      return InTransaction([&]() -> HRESULT {
        UniqueKey key;
        RETURN_IF_REG_FAILED(CreateKey(HKEY_CLASSES_ROOT, "FilterCategory\\" + GuidToString(clsidCategory), &key));
        RETURN_IF_REG_FAILED(WriteWide(key.get(), nullptr, Description));
        RETURN_IF_REG_FAILED(WriteDword(key.get(), "Merit", dwCategoryMerit));
        return S_OK;
      });
    });
  }

  STDMETHODIMP UnregisterFilter(const CLSID*, LPCOLESTR, REFCLSID Filter) override {
    return Guarded([&] { return InTransaction([&] { return RemoveFilterEntry(Filter); }); });
  }

  STDMETHODIMP RegisterFilter(REFCLSID clsidFilter, LPCWSTR Name, void** ppMoniker, const CLSID* pclsidCategory,
                              LPCOLESTR, const REGFILTER2* prf2) override {
    if (!Name || !prf2) return E_POINTER;
    if (ppMoniker) return E_INVALIDARG;  // monikers are not modelled
    if (prf2->dwVersion != 1 || (prf2->cPins && !prf2->rgPins)) return E_INVALIDARG;
    for (ULONG p = 0; p < prf2->cPins; ++p)
      if (prf2->rgPins[p].nMediaTypes && !prf2->rgPins[p].lpMediaType) return E_INVALIDARG;
    return Guarded([&] {
      const CLSID category = pclsidCategory ? *pclsidCategory : CLSID_LegacyAmFilterCategory;
      return InTransaction([&]() -> HRESULT {
        UniqueKey filterKey;
        HRESULT hr = WriteFilterEntry(clsidFilter, Name, prf2->dwMerit, category, &filterKey);
        if (FAILED(hr) || prf2->cPins == 0) return hr;
        UniqueKey pinsKey;
        RETURN_IF_REG_FAILED(CreateKey(filterKey.get(), "Pins", &pinsKey));
        for (ULONG p = 0; p < prf2->cPins; ++p) {
          hr = WritePin(pinsKey.get(), p, ToPin(prf2->rgPins[p]));
          if (FAILED(hr)) return hr;
        }
        return S_OK;
      });
    });
  }

  STDMETHODIMP EnumMatchingFilters(IEnumRegFilters** ppEnum, DWORD, BOOL bExactMatch, DWORD dwMerit,
                                   BOOL bInputNeeded, DWORD cInputTypes, const GUID* pInputTypes, const void* pMedIn,
                                   const CLSID* pPinCategoryIn, BOOL bRender, BOOL bOutputNeeded,
                                   DWORD cOutputTypes, const GUID* pOutputTypes, const void* pMedOut,
                                   const CLSID* pPinCategoryOut) override {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    if ((cInputTypes && !pInputTypes) || (cOutputTypes && !pOutputTypes)) return E_POINTER;
    return Guarded([&] {
      FilterMatchCriteria c;
      c.minMerit = dwMerit;
      c.exactMatch = bExactMatch != FALSE;
      c.inputNeeded = bInputNeeded != FALSE;
      c.render = bRender != FALSE;
      c.inputTypes = TypePairs(cInputTypes, pInputTypes);
      c.outputNeeded = bOutputNeeded != FALSE;
      c.outputTypes = TypePairs(cOutputTypes, pOutputTypes);
      // Pins are registered without mediums and categories: asking for one matches no pin.
      auto asksCategory = [](const CLSID* p) { return p && *p != GUID_NULL; };
      const bool none = pMedIn || pMedOut || asksCategory(pPinCategoryIn) || asksCategory(pPinCategoryOut);
      return MakeEnum(c, none, ppEnum);
    });
  }

  // ---- IFilterMapper ----

  STDMETHODIMP RegisterFilter(CLSID clsid, LPCWSTR Name, DWORD dwMerit) override {
    if (!Name) return E_POINTER;
    return Guarded([&] {
      return InTransaction([&] {
        UniqueKey filterKey;
        return WriteFilterEntry(clsid, Name, dwMerit, CLSID_LegacyAmFilterCategory, &filterKey);
      });
    });
  }
  STDMETHODIMP RegisterFilterInstance(CLSID, LPCWSTR, CLSID*) override { return E_NOTIMPL; }

  // Adds a pin after the filter's existing ones, even when one of the same name exists: names
  // need not be unique (two unnamed pins are common). RegisterPinType adds to the newest pin of
  // the name, so registering pin by pin, each followed by its types, gives every pin its types.
  STDMETHODIMP RegisterPin(CLSID Filter, LPCWSTR Name, BOOL bRendered, BOOL bOutput, BOOL bZero, BOOL bMany,
                           CLSID ConnectsToFilter, LPCWSTR ConnectsToPin) override {
    if (!Name) return E_POINTER;
    return Guarded([&] {
      return InTransaction([&]() -> HRESULT {
        UniqueKey filterKey, pinsKey;
        if (OpenKey(HKEY_CLASSES_ROOT, FilterKeyName(Filter), &filterKey) != ERROR_SUCCESS) return VFW_E_NOT_FOUND;
        RETURN_IF_REG_FAILED(CreateKey(filterKey.get(), "Pins", &pinsKey));
        DWORD index = 0;
        RETURN_IF_REG_FAILED(NextIndex(pinsKey.get(), &index));
        RegisteredPin pin;
        pin.name = Name;
        pin.rendered = bRendered != FALSE;
        pin.output = bOutput != FALSE;
        pin.zero = bZero != FALSE;
        pin.many = bMany != FALSE;
        pin.connectsToFilter = ConnectsToFilter;
        pin.connectsToPin = ConnectsToPin ? ConnectsToPin : L"";
        return WritePin(pinsKey.get(), index, pin);
      });
    });
  }

  STDMETHODIMP RegisterPinType(CLSID clsFilter, LPCWSTR strName, CLSID clsMajorType, CLSID clsSubType) override {
    if (!strName) return E_POINTER;
    return Guarded([&] {
      return InTransaction([&]() -> HRESULT {
        std::vector<std::string> pins;
        UniqueKey pinsKey;
        HRESULT hr = FindPins(clsFilter, strName, &pinsKey, &pins);
        if (FAILED(hr)) return hr;
        UniqueKey pinKey, typesKey;
        RETURN_IF_REG_FAILED(OpenKey(pinsKey.get(), pins.back(), &pinKey));
        RETURN_IF_REG_FAILED(CreateKey(pinKey.get(), "Types", &typesKey));
        DWORD index = 0;
        RETURN_IF_REG_FAILED(NextIndex(typesKey.get(), &index));
        return WriteMediaType(typesKey.get(), index, {clsMajorType, clsSubType});
      });
    });
  }

  STDMETHODIMP UnregisterFilter(CLSID Filter) override {
    return Guarded([&] { return InTransaction([&] { return RemoveFilterEntry(Filter); }); });
  }
  STDMETHODIMP UnregisterFilterInstance(CLSID) override { return E_NOTIMPL; }

  // Removes every pin of the name.
  STDMETHODIMP UnregisterPin(CLSID Filter, LPCWSTR Name) override {
    if (!Name) return E_POINTER;
    return Guarded([&] {
      return InTransaction([&]() -> HRESULT {
        std::vector<std::string> pins;
        UniqueKey pinsKey;
        HRESULT hr = FindPins(Filter, Name, &pinsKey, &pins);
        if (FAILED(hr)) return hr;
        for (const std::string& pin : pins) RETURN_IF_REG_FAILED(RegDeleteTree(pinsKey.get(), pin.c_str()));
        return S_OK;
      });
    });
  }

  STDMETHODIMP EnumMatchingFilters(IEnumRegFilters** ppEnum, DWORD dwMerit, BOOL bInputNeeded, CLSID clsInMaj,
                                   CLSID clsInSub, BOOL bRender, BOOL bOututNeeded, CLSID clsOutMaj,
                                   CLSID clsOutSub) override {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    return Guarded([&] {
      FilterMatchCriteria c;
      c.minMerit = dwMerit;
      c.inputNeeded = bInputNeeded != FALSE;
      c.render = bRender != FALSE;
      if (clsInMaj != GUID_NULL || clsInSub != GUID_NULL) c.inputTypes.push_back({clsInMaj, clsInSub});
      c.outputNeeded = bOututNeeded != FALSE;
      if (clsOutMaj != GUID_NULL || clsOutSub != GUID_NULL) c.outputTypes.push_back({clsOutMaj, clsOutSub});
      return MakeEnum(c, false, ppEnum);
    });
  }

 private:
  static RegisteredPin ToPin(const REGFILTERPINS& p) {
    RegisteredPin pin;
    pin.name = p.strName ? p.strName : L"";
    pin.rendered = p.bRendered != FALSE;
    pin.output = p.bOutput != FALSE;
    pin.zero = p.bZero != FALSE;
    pin.many = p.bMany != FALSE;
    pin.connectsToFilter = p.clsConnectsToFilter ? *p.clsConnectsToFilter : CLSID_NULL;
    pin.connectsToPin = p.strConnectsToPin ? p.strConnectsToPin : L"";
    for (UINT t = 0; t < p.nMediaTypes; ++t) {
      const REGPINTYPES& mt = p.lpMediaType[t];
      pin.mediaTypes.push_back({mt.clsMajorType ? *mt.clsMajorType : GUID_NULL,
                                mt.clsMinorType ? *mt.clsMinorType : GUID_NULL});
    }
    return pin;
  }

  // The pin keys of the filter's pins named name, in index order; VFW_E_NOT_FOUND when the filter
  // or such a pin does not exist.
  static HRESULT FindPins(REFCLSID clsid, LPCWSTR name, UniqueKey* pinsKey, std::vector<std::string>* found) {
    UniqueKey filterKey;
    if (OpenKey(HKEY_CLASSES_ROOT, FilterKeyName(clsid), &filterKey) != ERROR_SUCCESS) return VFW_E_NOT_FOUND;
    if (OpenKey(filterKey.get(), "Pins", pinsKey) != ERROR_SUCCESS) return VFW_E_NOT_FOUND;
    std::vector<std::string> names;
    RETURN_IF_REG_FAILED(SubkeyNames(pinsKey->get(), &names));
    const std::string wanted = WideToUtf8(name);
    for (const std::string& n : names) {
      UniqueKey pinKey;
      std::string pinName;
      if (OpenKey(pinsKey->get(), n, &pinKey) == ERROR_SUCCESS &&
          ReadString(pinKey.get(), nullptr, &pinName) == ERROR_SUCCESS && pinName == wanted)
        found->push_back(n);
    }
    return found->empty() ? VFW_E_NOT_FOUND : S_OK;
  }
};

class MapperClassFactory final : public plenor::graph::ComObject<MapperClassFactory, IClassFactory> {
 public:
  STDMETHODIMP CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    return CreateFilterMapper(riid, ppv);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }  // the runtime is never unloaded
};

HRESULT GetMapperClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_FilterMapper2 && rclsid != CLSID_FilterMapper) return CLASS_E_CLASSNOTAVAILABLE;
  return plenor::graph::CreateComObject<MapperClassFactory>(riid, ppv);
}

[[maybe_unused]] const bool g_mapperClassesRegistered = [] {
  CoRegisterBuiltinClass(CLSID_FilterMapper2, GetMapperClassObject);
  CoRegisterBuiltinClass(CLSID_FilterMapper, GetMapperClassObject);
  return true;
}();

}  // namespace

HRESULT CreateFilterMapper(REFIID riid, void** ppv) { return plenor::graph::CreateComObject<FilterMapper>(riid, ppv); }

bool MapperFilterMatches(const RegisteredFilter& f, const FilterMatchCriteria& c) {
  if (f.merit < c.minMerit) return false;
  if ((c.inputNeeded || c.render || !c.inputTypes.empty()) &&
      !HasMatchingPin(f, false, c.render, c.inputTypes, c.exactMatch))
    return false;
  if ((c.outputNeeded || !c.outputTypes.empty()) && !HasMatchingPin(f, true, false, c.outputTypes, c.exactMatch))
    return false;
  return true;
}

HRESULT MapperGetFilter(REFCLSID clsid, RegisteredFilter* filter) {
  if (!filter) return E_POINTER;
  return Guarded([&]() -> HRESULT {
    RegSnapshot snapshot;  // the entry as one registration left it
    UniqueKey key;
    LSTATUS rc = OpenKey(HKEY_CLASSES_ROOT, FilterKeyName(clsid), &key);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    RegisteredFilter f;
    RETURN_IF_REG_FAILED(ReadFilter(key.get(), clsid, &f));
    *filter = std::move(f);
    return S_OK;
  });
}

HRESULT MapperGetFilters(std::vector<RegisteredFilter>* filters) {
  if (!filters) return E_POINTER;
  return Guarded([&]() -> HRESULT {
    filters->clear();
    // Every entry as one committed state has it: a registration in progress elsewhere is seen
    // either whole or not at all.
    RegSnapshot snapshot;
    UniqueKey root;
    LSTATUS rc = OpenKey(HKEY_CLASSES_ROOT, kFilterRoot, &root);
    if (rc == ERROR_FILE_NOT_FOUND) return S_OK;
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    std::vector<std::string> names;
    RETURN_IF_REG_FAILED(SubkeyNames(root.get(), &names));
    for (const std::string& name : names) {
      CLSID clsid;
      UniqueKey key;
      RegisteredFilter f;
      // Skip what is not a complete entry (a foreign key, or one removed while we read).
      if (!GuidFromString(name, &clsid) || OpenKey(root.get(), name, &key) != ERROR_SUCCESS ||
          ReadFilter(key.get(), clsid, &f) != ERROR_SUCCESS)
        continue;
      filters->push_back(std::move(f));
    }
    std::sort(filters->begin(), filters->end(), [](const RegisteredFilter& a, const RegisteredFilter& b) {
      if (a.merit != b.merit) return a.merit > b.merit;
      if (a.name != b.name) return a.name < b.name;
      return a.clsid < b.clsid;
    });
    return S_OK;
  });
}

HRESULT MapperFindFilters(const FilterMatchCriteria& criteria, std::vector<RegisteredFilter>* filters) {
  if (!filters) return E_POINTER;
  HRESULT hr = MapperGetFilters(filters);
  if (FAILED(hr)) return hr;
  std::erase_if(*filters, [&](const RegisteredFilter& f) { return !MapperFilterMatches(f, criteria); });
  return S_OK;
}

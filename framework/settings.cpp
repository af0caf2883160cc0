#include "framework/settings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <new>
#include <sstream>

#include "platform/com/decimal.h"

namespace {

std::string FormatReal(double v) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(2) << v;
  return out.str();
}

// The six accepted flag words; false for anything else.
bool ParseFlag(const std::string& text, bool* value) {
  if (text == "1" || text == "TRUE" || text == "true") {
    *value = true;
    return true;
  }
  if (text == "0" || text == "FALSE" || text == "false") {
    *value = false;
    return true;
  }
  return false;
}

}  // namespace

bool CopyTextToBuffer(const std::string& text, char* buffer, int bufferSize) {
  if (!buffer || bufferSize <= 0 || text.size() >= static_cast<size_t>(bufferSize)) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

CSettingsInterface::CSettingsInterface(IUnknown* pOwner) : m_pOwner(pOwner) {}

CSettingsInterface::~CSettingsInterface() = default;

STDMETHODIMP CSettingsInterface::QueryInterface(REFIID riid, void** ppv) { return m_pOwner->QueryInterface(riid, ppv); }
STDMETHODIMP_(ULONG) CSettingsInterface::AddRef() { return m_pOwner->AddRef(); }
STDMETHODIMP_(ULONG) CSettingsInterface::Release() { return m_pOwner->Release(); }

template <class T>
void CSettingsInterface::Register(ParamType type, Store<T>& store, const std::string& name, T* variable,
                                  T defaultValue, bool readOnly, std::vector<T>&& allowed) {
  if (!variable) return;
  m_types[name] = type;
  if (store.variables.count(name)) return;
  store.variables[name] = variable;
  store.allowed[name] = std::move(allowed);
  store.readOnly[name] = readOnly;
  *variable = std::move(defaultValue);
}

void CSettingsInterface::AddParameter(const std::string& name, double* variable, double defaultValue, bool readOnly,
                                      std::vector<double> allowed) {
  Register(ParamType::Real, m_real, name, variable, defaultValue, readOnly, std::move(allowed));
}
void CSettingsInterface::AddParameter(const std::string& name, bool* variable, bool defaultValue, bool readOnly,
                                      std::vector<bool> allowed) {
  Register(ParamType::Flag, m_flag, name, variable, defaultValue, readOnly, std::move(allowed));
}
void CSettingsInterface::AddParameter(const std::string& name, std::string* variable, std::string defaultValue,
                                      bool readOnly, std::vector<std::string> allowed) {
  Register(ParamType::Text, m_text, name, variable, std::move(defaultValue), readOnly, std::move(allowed));
}
void CSettingsInterface::AddParameter(const std::string& name, unsigned int* variable, unsigned int defaultValue,
                                      bool readOnly, std::vector<unsigned int> allowed) {
  Register(ParamType::UInt, m_uint, name, variable, defaultValue, readOnly, std::move(allowed));
}
void CSettingsInterface::AddParameter(const std::string& name, int* variable, int defaultValue, bool readOnly,
                                      std::vector<int> allowed) {
  Register(ParamType::Int, m_int, name, variable, defaultValue, readOnly, std::move(allowed));
}

bool CSettingsInterface::FormatValue(const std::string& name, ParamType type, bool flagWords,
                                     std::string* text) const {
  char number[16];
  switch (type) {
    case ParamType::Text: {
      auto it = m_text.variables.find(name);
      if (it == m_text.variables.end()) return false;
      *text = *it->second;
      return true;
    }
    case ParamType::Int: {
      auto it = m_int.variables.find(name);
      if (it == m_int.variables.end()) return false;
      std::snprintf(number, sizeof number, "%d", *it->second);
      *text = number;
      return true;
    }
    case ParamType::UInt: {
      auto it = m_uint.variables.find(name);
      if (it == m_uint.variables.end()) return false;
      std::snprintf(number, sizeof number, "%u", *it->second);
      *text = number;
      return true;
    }
    case ParamType::Flag: {
      auto it = m_flag.variables.find(name);
      if (it == m_flag.variables.end()) return false;
      if (flagWords)
        *text = *it->second ? "true" : "false";
      else
        *text = *it->second ? "1" : "0";
      return true;
    }
    case ParamType::Real: {
      auto it = m_real.variables.find(name);
      if (it == m_real.variables.end()) return false;
      *text = FormatReal(*it->second);
      return true;
    }
  }
  return false;
}

STDMETHODIMP CSettingsInterface::GetParameter(const char* name, int bufferSize, char* value, int* length) {
  if (!name || !value) return E_POINTER;
  try {
    auto it = m_types.find(name);
    if (it == m_types.end()) return E_FAIL;
    std::string text;
    if (!FormatValue(it->first, it->second, false, &text)) return E_FAIL;
    if (!CopyTextToBuffer(text, value, bufferSize)) return E_OUTOFMEMORY;
    if (length) *length = static_cast<int>(text.size());
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

template <class T>
HRESULT CSettingsInterface::StoreValue(Store<T>& store, const std::string& name, const T& value) {
  auto var = store.variables.find(name);
  if (var == store.variables.end()) return E_FAIL;
  if (store.readOnly[name]) return E_FAIL;
  const std::vector<T>& allowed = store.allowed[name];
  if (!allowed.empty() && std::find(allowed.begin(), allowed.end(), value) == allowed.end()) return E_FAIL;
  store.previous[name] = *var->second;
  *var->second = value;
  return S_OK;
}

STDMETHODIMP CSettingsInterface::SetParameter(const char* name, const char* value) {
  if (!name || !value) return E_POINTER;
  try {
    auto it = m_types.find(name);
    if (it == m_types.end()) return E_FAIL;
    const std::string& key = it->first;
    switch (it->second) {
      case ParamType::Text:
        return StoreValue(m_text, key, std::string(value));
      // Integers: leading blanks, optional sign, digits up to the first other character, clamped
      // to the type's range (platform/com/decimal.h), the rule of every numeric text.
      case ParamType::Int:
        return StoreValue(m_int, key, plenor::ClampedDecimal<int>(value));
      case ParamType::UInt:
        return StoreValue(m_uint, key, plenor::ClampedDecimal<unsigned int>(value));
      case ParamType::Flag: {
        bool v = false;
        if (!ParseFlag(value, &v)) return E_FAIL;
        return StoreValue(m_flag, key, v);
      }
      case ParamType::Real: {
        std::istringstream in(value);
        double v = 0.0;
        in >> v;
        if (in.fail()) v = 0.0;
        return StoreValue(m_real, key, v);
      }
    }
    return E_FAIL;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CSettingsInterface::ParameterListing(std::string* text) const {
  try {
    text->clear();
    for (ParamType group : {ParamType::Int, ParamType::UInt, ParamType::Text, ParamType::Flag, ParamType::Real}) {
      for (const auto& [name, type] : m_types) {
        if (type != group) continue;
        std::string value;
        if (!FormatValue(name, type, true, &value)) continue;
        *text += "Parameter name: ";
        *text += name;
        *text += " Value: ";
        *text += value;
        *text += "\r\n";
      }
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP CSettingsInterface::GetParameterSettings(char* result, int bufferSize) {
  if (!result) return E_POINTER;
  std::string text;
  HRESULT hr = ParameterListing(&text);
  if (FAILED(hr)) return hr;
  return CopyTextToBuffer(text, result, bufferSize) ? S_OK : E_FAIL;
}

template <class T>
bool CSettingsInterface::Revert(Store<T>& store, const std::string& name) {
  auto var = store.variables.find(name);
  auto prev = store.previous.find(name);
  if (var == store.variables.end() || prev == store.previous.end()) return false;
  *var->second = prev->second;
  return true;
}

bool CSettingsInterface::RevertParameter(const char* name) {
  if (!name) return false;
  auto it = m_types.find(name);
  if (it == m_types.end()) return false;
  switch (it->second) {
    case ParamType::Text:
      return Revert(m_text, it->first);
    case ParamType::Int:
      return Revert(m_int, it->first);
    case ParamType::UInt:
      return Revert(m_uint, it->first);
    case ParamType::Flag:
      return Revert(m_flag, it->first);
    case ParamType::Real:
      return Revert(m_real, it->first);
  }
  return false;
}

STDMETHODIMP CLockedSettings::GetParameter(const char* name, int bufferSize, char* value, int* length) {
  CAutoLock lock(m_pSettingsLock);
  return CSettingsInterface::GetParameter(name, bufferSize, value, length);
}

STDMETHODIMP CLockedSettings::SetParameter(const char* name, const char* value) {
  CAutoLock lock(m_pSettingsLock);
  return CSettingsInterface::SetParameter(name, value);
}

STDMETHODIMP CLockedSettings::GetParameterSettings(char* result, int bufferSize) {
  CAutoLock lock(m_pSettingsLock);
  return CSettingsInterface::GetParameterSettings(result, bufferSize);
}

bool CLockedSettings::RevertParameter(const char* name) {
  CAutoLock lock(m_pSettingsLock);
  return CSettingsInterface::RevertParameter(name);
}

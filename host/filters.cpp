#include "host/filters.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "framework/status.h"
#include "host/cli_util.h"
#include "platform/graph/graphfile.h"
#include "platform/com/registry.h"
#include "utilities/utilities.h"

namespace fs = std::filesystem;

namespace cli {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The registry copy used while a module file given by path is registered for this run only.
struct Overlay {
  std::string path;
  std::vector<std::string> registered;  // canonical module paths registered into it
  ~Overlay() { Drop(); }
  void Drop() {
    if (path.empty()) return;
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) fs::remove(path + suffix, ec);
    path.clear();
  }
};
Overlay g_overlay;

// Switches the process to a private copy of the registry (once).
bool StartOverlay(std::string* error) {
  if (!g_overlay.path.empty()) return true;
  const std::string original = CoGetRegistryPath();
  std::string tmp = (fs::temp_directory_path() / ("plenor-run-" + std::to_string(::getpid()) + ".db")).string();
  std::error_code ec;
  for (const char* suffix : {"", "-wal"}) {
    if (fs::exists(original + suffix, ec)) {
      fs::copy_file(original + suffix, tmp + suffix, fs::copy_options::overwrite_existing, ec);
      if (ec) {
        *error = "cannot copy the registry " + original + " to " + tmp + ": " + ec.message();
        return false;
      }
    }
  }
  g_overlay.path = tmp;
  CoSetRegistryPath(tmp);
  return true;
}

using PFN_Register = HRESULT (*)();

// Registers the module at path into the overlay registry; *canonical gets its absolute path.
bool RegisterForThisRun(const std::string& path, std::string* canonical, std::string* error, HRESULT* hr) {
  std::error_code ec;
  fs::path abs = fs::absolute(path, ec).lexically_normal();
  if (!fs::is_regular_file(abs, ec)) {
    *hr = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    *error = "module " + abs.string() + ": no such file, " + FormatHResult(*hr) + "; check the path";
    return false;
  }
  *canonical = fs::canonical(abs, ec).string();
  if (std::find(g_overlay.registered.begin(), g_overlay.registered.end(), *canonical) != g_overlay.registered.end())
    return true;
  if (!StartOverlay(error)) {
    *hr = E_FAIL;
    return false;
  }
  std::string loadError;
  HMODULE module = LoadLibrary(canonical->c_str(), &loadError);
  if (!module && OfOtherArchitecture(*canonical)) {
    *hr = CO_E_ERRORINDLL;
    *error = loadError;
    return false;
  }
  if (!module) {
    std::replace(loadError.begin(), loadError.end(), '\n', ' ');
    *hr = CO_E_ERRORINDLL;
    *error = "module " + *canonical + ": not a loadable module, " + FormatHResult(*hr) + " (" + loadError +
             "); pass a filter module (.so) built for this system";
    return false;
  }
  auto fn = reinterpret_cast<PFN_Register>(GetProcAddress(module, "DllRegisterServer"));
  *hr = fn ? fn() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  FreeLibrary(module);
  if (FAILED(*hr)) {
    *error = "module " + *canonical + (fn ? ": DllRegisterServer failed with " : ": not a filter module, ") +
             FormatHResult(*hr) + "; pass a module built as a Plenor plugin";
    return false;
  }
  g_overlay.registered.push_back(*canonical);
  return true;
}

std::string RemoveSpaces(const std::wstring& name) {
  std::string s = WideToUtf8(name), out;
  for (char c : s)
    if (std::isalnum(static_cast<unsigned char>(c))) out += c;
  return out;
}

std::string ShortNameFor(const RegisteredFilter& f, const std::string& module, int filtersInModule) {
  for (const UtilityFilterName& u : kUtilityFilters)
    if (*u.clsid == f.clsid) return u.shortName;
  if (!module.empty() && filtersInModule == 1) return fs::path(module).stem().string();
  return RemoveSpaces(f.name);
}

}  // namespace

void DropRegistryOverlay() { g_overlay.Drop(); }

bool RegistryOverlayActive() { return !g_overlay.path.empty(); }

std::string ModulePathOf(REFCLSID clsid) {
  const std::string key = "CLSID\\" + GuidToString(clsid) + "\\InprocServer32";
  HKEY hkey = nullptr;
  if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hkey) != ERROR_SUCCESS) return {};
  std::string path;
  DWORD type = REG_NONE, cb = 0;
  if (RegQueryValueEx(hkey, nullptr, nullptr, &type, nullptr, &cb) == ERROR_SUCCESS && type == REG_SZ && cb > 0) {
    path.resize(cb);
    if (RegQueryValueEx(hkey, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path.data()), &cb) == ERROR_SUCCESS)
      path.resize(std::strlen(path.c_str()));
    else
      path.clear();
  }
  RegCloseKey(hkey);
  return path;
}

HRESULT ListFilters(std::vector<FilterEntry>* filters) {
  filters->clear();
  RegSnapshot snapshot;  // the filters and their modules from one committed state
  std::vector<RegisteredFilter> regs;
  HRESULT hr = MapperGetFilters(&regs);
  if (FAILED(hr)) return hr;
  std::map<std::string, int> perModule;
  for (const RegisteredFilter& r : regs) {
    FilterEntry e;
    e.reg = r;
    e.module = ModulePathOf(r.clsid);
    if (!e.module.empty()) ++perModule[e.module];
    filters->push_back(std::move(e));
  }
  for (FilterEntry& e : *filters) e.shortName = ShortNameFor(e.reg, e.module, e.module.empty() ? 0 : perModule[e.module]);
  return S_OK;
}

bool ResolveFilter(const std::string& text, FilterEntry* entry, std::string* error, HRESULT* hr) {
  std::string name = text, pick;
  std::string module;
  const bool isPath = text.find('/') != std::string::npos || text.find(".so") != std::string::npos;
  if (isPath) {
    size_t so = text.rfind(".so");
    if (so != std::string::npos && so + 3 < text.size() && text[so + 3] == ':') {
      name = text.substr(0, so + 3);
      pick = text.substr(so + 4);
    }
    if (!RegisterForThisRun(name, &module, error, hr)) return false;
  }
  std::vector<FilterEntry> all;
  *hr = ListFilters(&all);
  if (FAILED(*hr)) {
    *error = RegistryReadError(*hr);
    return false;
  }
  std::vector<const FilterEntry*> found;
  if (isPath) {
    for (const FilterEntry& e : all)
      if (e.module == module && (pick.empty() || Lower(e.shortName) == Lower(pick))) found.push_back(&e);
    if (found.size() > 1) {
      std::string names;
      for (const FilterEntry* e : found) names += (names.empty() ? "" : ", ") + e->shortName;
      *hr = E_INVALIDARG;
      *error = "module " + module + " holds several filters (" + names + "), " + FormatHResult(*hr) +
               "; pick one as " + name + ":NAME";
      return false;
    }
  } else {
    GUID clsid;
    const bool isGuid = !text.empty() && text[0] == '{' && GuidFromString(text, &clsid);
    for (const FilterEntry& e : all) {
      if ((isGuid && e.reg.clsid == clsid) || Lower(e.shortName) == Lower(text) ||
          Lower(WideToUtf8(e.reg.name)) == Lower(text)) {
        found.push_back(&e);
        break;
      }
    }
  }
  if (found.empty()) {
    *hr = REGDB_E_CLASSNOTREG;
    if (isPath)
      *error = "module " + module + " registers no filter" + (pick.empty() ? "" : " named '" + pick + "'") + ", " +
               FormatHResult(*hr) + "; check the name after ':' with plenor list";
    else
      *error = "no filter named '" + text + "' in the registry " + CoGetRegistryPath() + ", " + FormatHResult(*hr) +
               "; run plenor list for the names, plenor register to add modules, or give a module path";
    return false;
  }
  *entry = *found[0];
  *hr = S_OK;
  return true;
}

HRESULT CreateFilter(const FilterEntry& entry, ComPtr<IBaseFilter>& filter, std::string* error) {
  HRESULT hr = CoCreateInstance(entry.reg.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.AsOut());
  if (FAILED(hr)) {
    std::string why = CoGetLastLoadError();
    if (!why.empty() && !entry.module.empty() && OfOtherArchitecture(entry.module)) {
      *error = why;
      return hr;
    }
    std::replace(why.begin(), why.end(), '\n', ' ');
    *error = "cannot create " + entry.shortName + " " + GuidToString(entry.reg.clsid) + ", " + FormatHResult(hr) +
             (why.empty() ? "" : " (" + why + ")") + "; check that its module " +
             (entry.module.empty() ? std::string("is registered") : entry.module + " exists") +
             " (plenor register)";
  }
  return hr;
}

bool GetParameterText(ISettingsInterface* settings, const std::string& name, std::string* value) {
  std::vector<char> buf(256);
  for (;;) {
    int len = 0;
    HRESULT hr = settings->GetParameter(name.c_str(), static_cast<int>(buf.size()), buf.data(), &len);
    if (hr == E_OUTOFMEMORY && buf.size() < (1u << 24)) {
      buf.resize(buf.size() * 4);
      continue;
    }
    if (FAILED(hr)) return false;
    value->assign(buf.data(), static_cast<size_t>(std::max(len, 0)));
    return true;
  }
}

HRESULT ReadParameters(ISettingsInterface* settings, bool probe, std::vector<ParameterInfo>* params) {
  params->clear();
  std::vector<char> buf(4096);
  HRESULT hr;
  while ((hr = settings->GetParameterSettings(buf.data(), static_cast<int>(buf.size()))) == E_FAIL &&
         buf.size() < (1u << 24))
    buf.resize(buf.size() * 4);
  if (FAILED(hr)) return hr;
  // "Parameter name: NAME Value: VALUE\r\n" per parameter. Names may hold spaces, so the value is
  // found by asking each candidate split whether the name exists. A text value may hold zero bytes
  // (the encoder's parameter sets), so the listing is not read as one zero-terminated string: each
  // value is stepped over by the length GetParameter gives, and only a zero where a line starts (or
  // outside a parameter's line) ends it.
  const std::string all(buf.data(), buf.size());
  enum { kInt, kUInt, kText, kFlag, kReal };
  using Candidates = std::vector<int>;
  std::vector<Candidates> candidates;
  const std::string head = "Parameter name: ", mid = " Value: ";
  for (size_t pos = 0; pos < all.size() && all[pos] != '\0';) {
    const size_t lineEnd = std::min(all.find("\r\n", pos), all.size());
    const size_t zero = std::min(all.find('\0', pos), all.size());
    size_t next = lineEnd + 2;
    ParameterInfo p;
    std::string shown;
    if (all.compare(pos, head.size(), head) == 0) {
      const size_t nameAt = pos + head.size();
      for (size_t m = all.find(mid, nameAt); m < std::min(lineEnd, zero); m = all.find(mid, m + 1)) {
        std::string value;
        if (!GetParameterText(settings, all.substr(nameAt, m - nameAt), &value)) continue;
        p.name = all.substr(nameAt, m - nameAt);
        p.value = value;
        const size_t valueAt = m + mid.size();
        if (valueAt + value.size() + 2 <= all.size() && all.compare(valueAt, value.size(), value) == 0 &&
            all.compare(valueAt + value.size(), 2, "\r\n") == 0) {
          shown = value;
          next = valueAt + value.size() + 2;
        } else {  // shown otherwise than GetParameter gives it (flags as true/false)
          shown = all.substr(valueAt, std::min(lineEnd, zero) - valueAt);
        }
        break;
      }
    }
    if (p.name.empty() && zero < lineEnd) break;  // the terminator
    pos = next;
    if (p.name.empty()) continue;
    const bool numeric = !p.value.empty() && p.value.find_first_not_of("-0123456789") == std::string::npos;
    const bool realForm = p.value.size() > 3 && p.value[p.value.size() - 3] == '.' &&
                          p.value.find_first_not_of("-0123456789.") == std::string::npos;
    Candidates c;
    if ((shown == "true" || shown == "false") && (p.value == "1" || p.value == "0")) c = {kFlag};
    else if (realForm) c = {kReal};
    else if (!numeric) c = {kText};
    else c = {kInt, kUInt, kText};
    if (probe) {
      const std::string original = p.value;
      std::string back;
      if (c.size() > 1) {
        // Integers parse "abc" as 0, text keeps it; a filter may refuse either.
        if (SUCCEEDED(settings->SetParameter(p.name.c_str(), "abc")) && GetParameterText(settings, p.name, &back))
          c = back == "abc" ? Candidates{kText} : Candidates{kInt, kUInt};
        if (c.size() > 1 && SUCCEEDED(settings->SetParameter(p.name.c_str(), "-1")) &&
            GetParameterText(settings, p.name, &back)) {
          if (back == "-1") c.erase(std::remove(c.begin(), c.end(), kUInt), c.end());
          else c.erase(std::remove(c.begin(), c.end(), kInt), c.end());
        }
      }
      // Writing the current value back fails only for read-only parameters.
      p.readOnly = FAILED(settings->SetParameter(p.name.c_str(), original.c_str()));
      if (!p.readOnly) {
        const char* other = c == Candidates{kFlag} ? (original == "1" ? "0" : "1")
                            : c == Candidates{kText} ? "\x01probe" : "987654";
        p.restricted = FAILED(settings->SetParameter(p.name.c_str(), other));
        settings->SetParameter(p.name.c_str(), original.c_str());
      }
    }
    candidates.push_back(c);
    params->push_back(std::move(p));
  }
  // The settings text lists signed integers, unsigned integers, texts, flags and real numbers in
  // that order, names ascending within each group: a parameter's group is at least the previous
  // one's, and a later one when its name does not sort after the previous name.
  static const char* const kTypeNames[] = {"int", "uint", "text", "flag", "real"};
  int prevRank = -1;
  for (size_t i = 0; i < params->size(); ++i) {
    const Candidates& c = candidates[i];
    bool mustAdvance = i > 0 && (*params)[i].name <= (*params)[i - 1].name;
    int chosen = -1;
    // An undecided parameter most likely shares the group of the next decided one in the same
    // ascending run of names.
    if (c.size() > 1) {
      for (size_t k = i + 1; k < params->size() && (*params)[k].name > (*params)[k - 1].name; ++k) {
        if (candidates[k].size() != 1) continue;
        int r = candidates[k].front();
        if (std::find(c.begin(), c.end(), r) != c.end() && (r > prevRank || (r == prevRank && !mustAdvance))) chosen = r;
        break;
      }
    }
    for (size_t k = 0; chosen < 0 && k < c.size(); ++k)
      if (c[k] > prevRank || (c[k] == prevRank && !mustAdvance)) chosen = c[k];
    if (chosen < 0) chosen = c.front();
    (*params)[i].type = kTypeNames[chosen];
    prevRank = chosen;
  }
  return S_OK;
}

HRESULT SetParameterChecked(ISettingsInterface* settings, const std::string& name, const std::string& value,
                            std::string* error) {
  std::string current;
  if (!GetParameterText(settings, name, &current)) {
    std::vector<ParameterInfo> params;
    std::string names;
    if (SUCCEEDED(ReadParameters(settings, false, &params)))
      for (const ParameterInfo& p : params) names += (names.empty() ? "" : ", ") + p.name;
    *error = "unknown, " + FormatHResult(E_FAIL) + "; the filter's parameters are: " +
             (names.empty() ? "(none)" : names);
    return E_FAIL;
  }
  HRESULT hr = settings->SetParameter(name.c_str(), value.c_str());
  if (FAILED(hr)) {
    *error = "refused the value '" + plenor::graph::PrintableBytes(value) + "', " + FormatHResult(hr) +
             "; the parameter is read-only, or the value is not one it allows (a flag takes 1/0/true/false); "
             "it is now '" + plenor::graph::PrintableBytes(current) + "'";
  }
  return hr;
}

std::string LastErrorText(IUnknown* filter) {
  ComPtr<IStatusInterface> status;
  if (!filter || FAILED(filter->QueryInterface(IID_IStatusInterface, status.AsOut()))) return {};
  std::vector<char> buf(1024);
  if (FAILED(status->GetLastErrorText(buf.data(), static_cast<int>(buf.size())))) {
    buf.assign(65536, 0);
    if (FAILED(status->GetLastErrorText(buf.data(), static_cast<int>(buf.size())))) return {};
  }
  std::string s(buf.data());
  std::replace(s.begin(), s.end(), '\n', ' ');
  return s;
}

std::string FilterName(IBaseFilter* filter) {
  FILTER_INFO info{};
  if (FAILED(filter->QueryFilterInfo(&info))) return {};
  if (info.pGraph) info.pGraph->Release();
  return WideToUtf8(info.achName);
}

std::string PinLabel(IPin* pin) {
  PIN_INFO info{};
  std::string name;
  if (SUCCEEDED(pin->QueryPinInfo(&info))) {
    if (info.pFilter) info.pFilter->Release();
    name = WideToUtf8(info.achName);
  }
  if (!name.empty()) return "\"" + name + "\"";
  LPWSTR id = nullptr;
  if (SUCCEEDED(pin->QueryId(&id)) && id) {
    name = WideToUtf8(id);
    CoTaskMemFree(id);
  }
  return "\"" + name + "\"";
}

std::vector<ComPtr<IPin>> Pins(IBaseFilter* filter) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> e;
  if (FAILED(filter->EnumPins(&e)) || !e) return pins;
  for (;;) {
    IPin* p = nullptr;
    ULONG got = 0;
    if (e->Next(1, &p, &got) != S_OK || got != 1) break;
    pins.push_back(ComPtr<IPin>::Attach(p));
  }
  return pins;
}

PIN_DIRECTION Direction(IPin* pin) {
  PIN_DIRECTION d = PINDIR_INPUT;
  pin->QueryDirection(&d);
  return d;
}

}  // namespace cli

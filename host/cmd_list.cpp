// plenor list: one line per filter registered in the mapper: name, class id, merit and module.
#include <cstdio>
#include <cstring>

#include "host/cli_util.h"
#include "host/commands.h"
#include "platform/com/registry.h"
#include "platform/graph/mapper.h"

namespace cli {

namespace {

// The module registered for the class ("CLSID\{clsid}\InprocServer32"), or "" when there is none.
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

}  // namespace

int RunList(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError("list: unexpected argument '" + args[0] + "'");
  std::vector<RegisteredFilter> filters;
  HRESULT hr = MapperGetFilters(&filters);
  if (FAILED(hr))
    return Fail("list: cannot read the registry " + CoGetRegistryPath() + ", " + FormatHResult(hr) +
                "; check that the file exists and is a registry database");
  if (filters.empty()) Note("list: no filters registered in " + CoGetRegistryPath());
  for (const RegisteredFilter& f : filters) {
    std::string module = ModulePathOf(f.clsid);
    std::printf("%s\t%s\t0x%08X\t%s\n", WideToUtf8(f.name).c_str(), GuidToString(f.clsid).c_str(),
                static_cast<unsigned>(f.merit), module.empty() ? "(no module registered)" : module.c_str());
  }
  return kExitOk;
}

}  // namespace cli

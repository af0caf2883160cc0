// plenor list: one line per filter registered in the mapper: name, short name, class id, merit,
// module and the module's architecture (read from its file; "-" when it cannot be read).
#include <cstdio>

#include "host/cli_util.h"
#include "host/commands.h"
#include "host/filters.h"

namespace cli {

int RunList() {
  std::vector<FilterEntry> filters;
  HRESULT hr = ListFilters(&filters);
  if (FAILED(hr))
    return Fail("list: " + RegistryReadError(hr));
  if (filters.empty())
    Note("list: no filters registered in " + CoGetRegistryPath() +
         "; register the plugins with plenor register (every module of " + PluginDirectory() +
         ") or plenor register MODULE.so");
  for (const FilterEntry& f : filters) {
    const std::string arch = f.module.empty() ? "" : CoModuleArchitecture(f.module.c_str());
    std::printf("%s\t%s\t%s\t0x%08X\t%s\t%s\n", WideToUtf8(f.reg.name).c_str(), f.shortName.c_str(),
                GuidToString(f.reg.clsid).c_str(), static_cast<unsigned>(f.reg.merit),
                f.module.empty() ? "(no module registered)" : f.module.c_str(), arch.empty() ? "-" : arch.c_str());
  }
  return kExitOk;
}

}  // namespace cli

// plenor register [MODULE.so ...] and plenor unregister MODULE.so ...: load each module, call its
// DllRegisterServer or DllUnregisterServer, free it.
#include <cstdio>

#include "host/cli_util.h"
#include "host/commands.h"
#include "platform/com/registry.h"

namespace cli {

namespace {

using PFN_RegisterEntry = HRESULT (*)();

// Registers or unregisters one module; prints one line for the outcome.
bool RunEntry(const std::string& path, bool doRegister) {
  const char* verb = doRegister ? "register" : "unregister";
  const char* entry = doRegister ? "DllRegisterServer" : "DllUnregisterServer";
  ModuleFile module;
  if (!module.Load(path, verb)) return false;
  auto fn = reinterpret_cast<PFN_RegisterEntry>(module.Export(entry, verb));
  if (!fn) return false;
  HRESULT hr = fn();
  if (FAILED(hr)) {
    std::string why = CoGetRegistryError();
    Fail(std::string(verb) + ": " + module.Path() + ": " + entry + " failed with " + FormatHResult(hr) +
         (why.empty() ? "" : " (" + why + ")") + "; check that the registry " + CoGetRegistryPath() +
         " is writable and not damaged");
    return false;
  }
  std::printf("%s %s\n", doRegister ? "registered" : "unregistered", module.Path().c_str());
  return true;
}

int RunAll(const std::vector<std::string>& modules, bool doRegister) {
  bool ok = true;
  for (const std::string& m : modules) ok = RunEntry(m, doRegister) && ok;
  return ok ? kExitOk : kExitFailure;
}

}  // namespace

int RunRegister(const std::vector<std::string>& modules) {
  if (!modules.empty()) return RunAll(modules, true);

  const std::string dir = PluginDirectory();
  std::vector<std::string> found;
  if (!ListModules(dir, &found))
    return Fail("register: plugin folder " + dir +
                " does not exist or cannot be read; build the plugins or set PLENOR_PLUGIN_DIR");
  if (found.empty()) {
    Note("register: no modules (*.so) in " + dir + "; nothing to register");
    return kExitOk;
  }
  return RunAll(found, true);
}

int RunUnregister(const std::vector<std::string>& modules) {
  if (modules.empty()) return UsageError("unregister", "name the module files to unregister");
  return RunAll(modules, false);
}

}  // namespace cli

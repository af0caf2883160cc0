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

int RunRegister(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (!a.empty() && a[0] == '-') return UsageError("register: unknown option '" + a + "'");
  if (!args.empty()) return RunAll(args, true);

  const std::string dir = PluginDirectory();
  std::vector<std::string> modules;
  if (!ListModules(dir, &modules))
    return Fail("register: plugin folder " + dir +
                " does not exist or cannot be read; build the plugins or set PLENOR_PLUGIN_DIR");
  if (modules.empty()) {
    Note("register: no modules (*.so) in " + dir + "; nothing to register");
    return kExitOk;
  }
  return RunAll(modules, true);
}

int RunUnregister(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError("unregister: name the module files to unregister");
  for (const std::string& a : args)
    if (!a.empty() && a[0] == '-') return UsageError("unregister: unknown option '" + a + "'");
  return RunAll(args, false);
}

}  // namespace cli

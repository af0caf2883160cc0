#include "host/cli_util.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/com/registry.h"

namespace fs = std::filesystem;

namespace cli {

std::string FormatHResult(HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
  const char* name = HResultName(hr);
  return std::string(code) + " (" + (name ? name : "unnamed result") + ")";
}

std::string RegistryReadError(HRESULT hr) {
  std::string why = CoGetRegistryError();
  std::replace(why.begin(), why.end(), '\n', ' ');
  std::string hint;
  if (hr == HRESULT_FROM_WIN32(ERROR_BADDB))
    hint = "the file is damaged; register the modules again into a new registry file (plenor --registry NEW.db register)";
  else if (hr == HRESULT_FROM_WIN32(ERROR_CANTOPEN))
    hint = "check that the file is a registry database and its folder can be read";
  else
    hint = "check that the file exists and is a registry database";
  return "cannot read the registry " + CoGetRegistryPath() + ", " + FormatHResult(hr) +
         (why.empty() ? "" : " (" + why + ")") + "; " + hint;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "plenor: %s\n", message.c_str());
  return kExitFailure;
}

int UsageError(const std::string& command, const std::string& message) {
  if (command.empty()) {
    std::fprintf(stderr, "plenor: %s (see plenor --help)\n", message.c_str());
  } else {
    std::fprintf(stderr, "plenor: %s: %s (see plenor help %s)\n", command.c_str(), message.c_str(), command.c_str());
  }
  return kExitUsage;
}

void Note(const std::string& message) { std::fprintf(stderr, "plenor: %s\n", message.c_str()); }

ModuleFile::~ModuleFile() {
  if (m_module) FreeLibrary(m_module);
}

bool ModuleFile::Load(const std::string& path, const char* verb) {
  std::error_code ec;
  m_path = fs::absolute(path, ec).lexically_normal().string();
  if (ec) m_path = path;
  const std::string prefix = std::string(verb) + ": " + m_path + ": ";
  fs::file_status st = fs::status(m_path, ec);
  if (!fs::exists(st)) {
    Fail(prefix + "no such file, " + FormatHResult(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) +
         "; check the path");
    return false;
  }
  if (!fs::is_regular_file(st)) {
    Fail(prefix + "not a file, " + FormatHResult(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) +
         "; pass the path of a module (.so)");
    return false;
  }
  std::string error;
  m_module = LoadLibrary(m_path.c_str(), &error);
  if (!m_module && OfOtherArchitecture(m_path)) {
    Fail(std::string(verb) + ": " + error);
    return false;
  }
  if (!m_module) {
    std::replace(error.begin(), error.end(), '\n', ' ');
    Fail(prefix + "not a loadable module, " + FormatHResult(CO_E_ERRORINDLL) + " (" +
         error + "); pass a filter module (.so) built for this system");
    return false;
  }
  return true;
}

void* ModuleFile::Export(const char* name, const char* verb) const {
  void* fn = m_module ? GetProcAddress(m_module, name) : nullptr;
  if (!fn) {
    Fail(std::string(verb) + ": " + m_path + ": not a filter module: it does not export " + name + ", " +
         FormatHResult(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND)) + "; pass a module built as a Plenor plugin");
  }
  return fn;
}

bool OfOtherArchitecture(const std::string& path) {
  const std::string arch = CoModuleArchitecture(path.c_str());
  return !arch.empty() && arch != CoHostArchitecture();
}

std::string PluginDirectory() {
  const char* env = std::getenv("PLENOR_PLUGIN_DIR");
  if (env && *env) return env;
  return PLENOR_BUILD_PLUGIN_DIR;
}

bool ListModules(const std::string& dir, std::vector<std::string>* modules) {
  modules->clear();
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return false;
  fs::directory_iterator it(dir, ec), end;
  if (ec) return false;
  for (; it != end; it.increment(ec)) {
    if (ec) return false;
    if (it->path().extension() == ".so" && it->is_regular_file(ec)) modules->push_back(it->path().string());
  }
  std::sort(modules->begin(), modules->end());
  return true;
}

}  // namespace cli

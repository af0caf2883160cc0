// Shared pieces of the plenor command-line host: exit codes, error reporting, result-code text and
// loading a module file for a command.
#pragma once

#include <string>
#include <vector>

#include "platform/com/runtime.h"

namespace cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the command ran and something failed
constexpr int kExitUsage = 2;    // the command line is wrong

// "0x80070002 (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))"; unnamed codes get "(unnamed result)".
std::string FormatHResult(HRESULT hr);

// "cannot read the registry PATH, CODE (why); what to do", for a failed registry read: the reason
// the database was refused when there is one, and a hint that fits the code.
std::string RegistryReadError(HRESULT hr);

// Prints "plenor: MESSAGE" as one line on standard error and returns kExitFailure.
int Fail(const std::string& message);
// Prints "plenor: COMMAND: MESSAGE (see plenor help COMMAND)" on standard error and returns
// kExitUsage.
int UsageError(const std::string& command, const std::string& message);
// Prints "plenor: MESSAGE" on standard error (a note, not an error).
void Note(const std::string& message);

// A module file loaded for a command; freed when this goes away.
class ModuleFile {
 public:
  ModuleFile() = default;
  ModuleFile(const ModuleFile&) = delete;
  ModuleFile& operator=(const ModuleFile&) = delete;
  ~ModuleFile();

  // Loads path (made absolute first, so that what the module registers is an absolute path).
  // On failure prints one line naming the file, the problem and what to do, prefixed with verb
  // ("register", ...), and returns false. The failures: no such file, not a regular file, not a
  // loadable module, a module of another architecture (the class loader's own line).
  bool Load(const std::string& path, const char* verb);
  // The exported function name, or null after printing that the module lacks it.
  void* Export(const char* name, const char* verb) const;

  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
  HMODULE m_module = nullptr;
};

// True when the file at path is a module of another architecture than this host. The class
// loader refuses such a module in one line that names both architectures and the host build to
// use; that line is the whole message, with no loader hint around it.
bool OfOtherArchitecture(const std::string& path);

// The folder of plugin modules: $PLENOR_PLUGIN_DIR when set and not empty, else the build's.
std::string PluginDirectory();
// The *.so files of dir in name order. Returns false when dir is not a readable folder.
bool ListModules(const std::string& dir, std::vector<std::string>* modules);

}  // namespace cli

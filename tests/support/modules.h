// Modules and filters as a host uses them in the integration tests: the plugin modules registered
// in the test process's registry, parameters read and written by name through ISettingsInterface,
// and the graph manager with its control and event interfaces.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/strmbase/strmif.h"

namespace plenor::test {

// The plugin folder: $PLENOR_PLUGIN_DIR, else fallback (the build's folder a test target was
// given), else empty.
std::string PluginFolder(const char* fallback = nullptr);
// Loads the module at path, calls its DllRegisterServer and unloads it; a test failure names a
// module that does not load, export the entry or register.
void RegisterModuleFile(const std::string& path);
// RegisterModuleFile for each name in the plugin folder; a test failure when there is no folder.
void RegisterPluginModules(std::initializer_list<const char*> names, const char* fallback = nullptr);

// SetParameter through the object's ISettingsInterface; the query's failure when it has none.
HRESULT SetParam(IUnknown* filter, const char* name, const std::string& value);
// The parameter's text (256 bytes at most), or "<failed>".
std::string GetParam(IUnknown* filter, const char* name);

// The graph manager as a host uses it.
struct GraphHost {
  GraphHost();
  void Add(IBaseFilter* filter, const wchar_t* name);
  // Waits for the end of the stream; the completion code.
  LONG WaitForCompletion(long timeoutMs = 20000);
  // Codes of the events queued so far.
  std::vector<LONG> EventCodes();

  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
};

}  // namespace plenor::test

#include "tests/support/modules.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "framework/settings.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/uuids.h"

namespace plenor::test {

std::string PluginFolder(const char* fallback) {
  const char* dir = std::getenv("PLENOR_PLUGIN_DIR");
  if (dir) return dir;
  return fallback ? fallback : "";
}

void RegisterModuleFile(const std::string& path) {
  std::string error;
  HMODULE module = LoadLibrary(path.c_str(), &error);
  ASSERT_TRUE(module) << path << ": " << error;
  auto reg = reinterpret_cast<PFN_DllRegisterServer>(GetProcAddress(module, "DllRegisterServer"));
  EXPECT_TRUE(reg) << path;
  if (reg) {
    EXPECT_EQ(reg(), S_OK) << path;
  }
  FreeLibrary(module);
}

void RegisterPluginModules(std::initializer_list<const char*> names, const char* fallback) {
  const std::string dir = PluginFolder(fallback);
  ASSERT_FALSE(dir.empty()) << "PLENOR_PLUGIN_DIR is not set";
  for (const char* name : names) RegisterModuleFile(dir + "/" + name);
}

HRESULT SetParam(IUnknown* filter, const char* name, const std::string& value) {
  ComPtr<ISettingsInterface> settings;
  HRESULT hr = filter->QueryInterface(IID_ISettingsInterface, settings.AsOut());
  if (FAILED(hr)) return hr;
  return settings->SetParameter(name, value.c_str());
}

std::string GetParam(IUnknown* filter, const char* name) {
  ComPtr<ISettingsInterface> settings;
  if (FAILED(filter->QueryInterface(IID_ISettingsInterface, settings.AsOut()))) return "<failed>";
  char value[256];
  int length = 0;
  if (FAILED(settings->GetParameter(name, sizeof value, value, &length))) return "<failed>";
  return value;
}

GraphHost::GraphHost() {
  EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.AsOut()), S_OK);
  control = graph.As<IMediaControl>();
  events = graph.As<IMediaEventEx>();
}

void GraphHost::Add(IBaseFilter* filter, const wchar_t* name) { EXPECT_TRUE(SUCCEEDED(graph->AddFilter(filter, name))); }

LONG GraphHost::WaitForCompletion(long timeoutMs) {
  LONG code = 0;
  EXPECT_EQ(events->WaitForCompletion(timeoutMs, &code), S_OK);
  return code;
}

std::vector<LONG> GraphHost::EventCodes() {
  std::vector<LONG> codes;
  LONG code;
  LONG_PTR p1, p2;
  while (events->GetEvent(&code, &p1, &p2, 0) == S_OK) codes.push_back(code);
  return codes;
}

}  // namespace plenor::test

// plenor graph save FILE PIPELINE | graph run [OPTIONS] FILE | graph show FILE: graph files in the
// JSON format of platform/graph/graphfile.h.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "host/cli_util.h"
#include "host/commands.h"
#include "host/filters.h"
#include "host/graphbuild.h"
#include "host/run.h"
#include "platform/com/safefile.h"
#include "platform/graph/graphfile.h"
#include "platform/graph/mapper.h"

namespace cli {

namespace {

using plenor::graph::GraphFile;
using plenor::graph::GraphFileFilter;

// The names of the parameters the filter's class keeps read-only, told by an instance made for the
// purpose (writing a value into it is harmless); empty when none can be made.
std::set<std::string> ReadOnlyParameters(IBaseFilter* filter) {
  std::set<std::string> names;
  CLSID clsid;
  ComPtr<ISettingsInterface> fresh;
  std::vector<ParameterInfo> params;
  if (FAILED(filter->GetClassID(&clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISettingsInterface, fresh.AsOut())) ||
      FAILED(ReadParameters(fresh.Get(), true, &params)))
    return names;
  for (const ParameterInfo& p : params)
    if (p.readOnly) names.insert(p.name);
  return names;
}

// The parameters a graph file keeps. Read-only ones are left out: they are what the filter works
// out itself (the encoder's parameter sets, a source's picture size, the file a reader opened),
// done again when the graph is built from the file, and they cannot be written back.
void ReadFilterParameters(IBaseFilter* filter, std::vector<std::pair<std::string, std::string>>* out) {
  ComPtr<ISettingsInterface> settings;
  if (FAILED(filter->QueryInterface(IID_ISettingsInterface, settings.AsOut()))) return;
  std::vector<ParameterInfo> params;
  if (FAILED(ReadParameters(settings.Get(), false, &params))) return;
  const std::set<std::string> readOnly = ReadOnlyParameters(filter);
  for (const ParameterInfo& p : params)
    if (!readOnly.count(p.name)) out->emplace_back(p.name, p.value);
}

// Writes a saved parameter unless it already holds the value. A value the filter refuses is
// skipped when the parameter refuses its own current value as well, that is when it is read-only:
// files saved by earlier versions carry read-only parameters, whose values the filter works out
// again when the graph is connected.
HRESULT WriteFilterParameter(IBaseFilter* filter, const std::string& name, const std::string& value, std::string* error) {
  ComPtr<ISettingsInterface> settings;
  HRESULT hr = filter->QueryInterface(IID_ISettingsInterface, settings.AsOut());
  if (FAILED(hr)) {
    *error = "the filter has no parameters, " + FormatHResult(hr);
    return hr;
  }
  std::string current;
  const bool known = GetParameterText(settings.Get(), name, &current);
  if (known && current == value) return S_OK;
  hr = SetParameterChecked(settings.Get(), name, value, error);
  if (FAILED(hr) && known && current.find('\0') == std::string::npos &&
      FAILED(settings->SetParameter(name.c_str(), current.c_str()))) {
    error->clear();
    return S_OK;
  }
  return hr;
}

// A writable parameter whose value holds a zero byte cannot be written back through the settings
// interface, which takes zero-terminated text: such a graph is refused rather than saved cut short.
// Returns the message, or "" when every value can be written back.
std::string UnwritableParameter(const GraphFile& file) {
  for (const GraphFileFilter& f : file.filters)
    for (const auto& [name, value] : f.parameters)
      if (value.find('\0') != std::string::npos)
        return "filter '" + f.name + "' parameter '" + name + "' holds a zero byte, which cannot be written back as "
               "a parameter's text, " + FormatHResult(E_INVALIDARG) + "; the graph cannot be saved while it holds one";
  return {};
}

// Reads and checks a graph file; prints the error line itself.
bool LoadFile(const std::string& path, const char* verb, GraphFile* file) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    Fail(std::string(verb) + ": " + path + " is a folder, not a graph file, " +
         FormatHResult(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) + "; give the file written by plenor graph save");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Fail(std::string(verb) + ": cannot open the graph file " + path + ", " +
         FormatHResult(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) + "; check the path");
    return false;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  std::string error;
  if (!plenor::graph::ParseGraphFile(ss.str(), file, &error)) {
    Fail(std::string(verb) + ": graph file " + path + " is damaged: " + error + ", " + FormatHResult(E_INVALIDARG) +
         "; save it again with plenor graph save");
    return false;
  }
  return true;
}

int Save(const std::string& path, const RunOptions& options, const std::vector<std::string>& words) {
  if (path.empty()) return UsageError("graph save", "give FILE PIPELINE");
  if (words.empty()) return UsageError("graph save", "give the pipeline after the file name");
  Pipeline pipeline;
  std::string error;
  if (!ParsePipeline(words, &pipeline, &error)) return UsageError("graph save", error);
  BuiltGraph built;
  if (int rc = BuildGraph(pipeline, "graph save", options.verboseNegotiation, &built)) return rc;
  GraphFile file;
  HRESULT hr = plenor::graph::CaptureGraph(built.graph.Get(), ReadFilterParameters, &file, &error);
  if (FAILED(hr)) return Fail("graph save: " + error);
  error = UnwritableParameter(file);
  if (!error.empty()) return Fail("graph save: " + error + "; " + path + " was not written");
  for (GraphFileFilter& f : file.filters) {
    RegisteredFilter reg;
    if (SUCCEEDED(MapperGetFilter(f.clsid, &reg))) f.displayName = WideToUtf8(reg.name);
  }
  // Written next to the old file and renamed over it: a failure leaves the old file as it was.
  hr = plenor::WriteFileSafely(path, plenor::graph::WriteGraphFile(file), &error);
  if (FAILED(hr)) return Fail("graph save: " + error + ", " + FormatHResult(hr) + "; the old file is unchanged");
  if (RegistryOverlayActive())
    Note("graph save: modules given by path were used without registering them; register them "
         "(plenor register MODULE.so) before plenor graph run " + path);
  if (!options.quiet)
    std::printf("saved %zu filters and %zu connections to %s\n", file.filters.size(), file.connections.size(),
                path.c_str());
  return kExitOk;
}

int RunFile(const std::string& path, const RunOptions& options) {
  if (path.empty()) return UsageError("graph run", "give one graph file");
  GraphFile file;
  if (!LoadFile(path, "graph run", &file)) return kExitFailure;
  BuiltGraph built;
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, built.graph.AsOut());
  if (FAILED(hr)) return Fail("graph run: cannot create the filter graph manager, " + FormatHResult(hr));
  std::string error;
  hr = plenor::graph::BuildGraphFromFile(file, built.graph.Get(), WriteFilterParameter, &error);
  if (FAILED(hr)) return Fail("graph run: " + path + ": " + error);
  for (const GraphFileFilter& f : file.filters) {
    ComPtr<IBaseFilter> filter;
    built.graph->FindFilterByName(Utf8ToWide(f.name).c_str(), &filter);
    built.filters.push_back(filter);
    built.labels.push_back("'" + f.name + "'");
  }
  if (!options.dotFile.empty())
    if (int rc = WriteDot(built, options.dotFile, "graph run")) return rc;
  return RunGraph(built, options, "graph run");
}

int Show(const std::string& path) {
  if (path.empty()) return UsageError("graph show", "give one graph file");
  GraphFile file;
  if (!LoadFile(path, "graph show", &file)) return kExitFailure;
  std::printf("Filters\n");
  for (const GraphFileFilter& f : file.filters) {
    std::printf("  %s  %s%s\n", f.name.c_str(), GuidToString(f.clsid).c_str(),
                f.displayName.empty() ? "" : ("  \"" + f.displayName + "\"").c_str());
    if (f.fileRole != GraphFileFilter::FileRole::None)
      std::printf("      %s file %s\n", f.fileRole == GraphFileFilter::FileRole::Source ? "reads" : "writes",
                  f.filePath.c_str());
    for (const auto& [name, value] : f.parameters)
      std::printf("      %s = \"%s\"\n", name.c_str(), plenor::graph::PrintableBytes(value).c_str());
    if (f.hasPersist) {
      std::string hex;
      char b[4];
      for (unsigned char c : f.persist) {
        std::snprintf(b, sizeof b, "%02X ", c);
        hex += b;
      }
      if (!hex.empty()) hex.pop_back();
      std::printf("      persisted record (%zu bytes): %s\n", f.persist.size(), hex.c_str());
    }
  }
  std::printf("Connections\n");
  for (const auto& c : file.connections)
    std::printf("  %s.%s -> %s.%s  %s\n", c.outFilter.c_str(), c.outPin.c_str(), c.inFilter.c_str(), c.inPin.c_str(),
                c.mediaType.description.c_str());
  return kExitOk;
}

}  // namespace

// The registry copy made for modules given by path goes when the command is done.
int RunGraphSave(const std::string& file, const RunOptions& options, const std::vector<std::string>& pipeline) {
  int rc = Save(file, options, pipeline);
  DropRegistryOverlay();
  return rc;
}

int RunGraphRun(const std::string& file, const RunOptions& options) {
  int rc = RunFile(file, options);
  DropRegistryOverlay();
  return rc;
}

int RunGraphShow(const std::string& file) { return Show(file); }

}  // namespace cli

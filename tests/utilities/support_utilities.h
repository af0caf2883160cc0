// Helpers of the utility-filter tests: registering PlenorUtilities.so in the test's registry,
// creating its filters through the runtime, building and running graphs through the graph
// manager, reading what a sample grabber recorded, and scratch folders.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/strmbase/strmif.h"
#include "utilities/utilities.h"

namespace utiltest {

// Registers the module once per process.
void RegisterUtilities();
// CoCreateInstance of a registered filter class.
ComPtr<IBaseFilter> CreateFilter(const CLSID& clsid);
// SetParameter through ISettingsInterface; the result.
HRESULT Set(IUnknown* filter, const char* name, const std::string& value);
std::string Get(IUnknown* filter, const char* name);
std::string LastError(IUnknown* filter);

// A graph of filters added in order (named "f0", "f1", ...) and connected output pin to input
// pin, one after the other.
struct Graph {
  ComPtr<IGraphBuilder> builder;
  std::vector<ComPtr<IBaseFilter>> filters;
  ~Graph();
  HRESULT Add(IBaseFilter* filter);
  // Connects the first output pin of filter i to the first input pin of filter i + 1, directly.
  HRESULT ConnectChain();
  // Add for each filter, then ConnectChain.
  HRESULT Build(std::initializer_list<IBaseFilter*> chain);
  // Runs until a terminal event (EC_COMPLETE, EC_ERRORABORT, ...) or the timeout; returns the
  // event code (0 on timeout) and stops the graph.
  LONG RunToEnd(DWORD timeoutMs = 20000);
  // Every event queued so far as (code, param1).
  std::vector<std::pair<LONG, LONG_PTR>> Events();
};

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION dir);

struct Grabbed {
  GRABBED_SAMPLE_INFO info;
  std::vector<BYTE> bytes;
};
std::vector<Grabbed> ReadGrabber(IBaseFilter* grabber);
// The grabber's connection type (type 0); free with FreeMediaType.
AM_MEDIA_TYPE GrabberType(IBaseFilter* grabber);

// A fresh empty folder under the system temporary folder, removed by the destructor.
struct ScratchDir {
  ScratchDir();
  ~ScratchDir();
  std::filesystem::path path;
  std::string File(const std::string& name) const { return (path / name).string(); }
  // Names of the files in the folder, sorted.
  std::vector<std::string> Files() const;
};

std::vector<BYTE> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<BYTE>& bytes);

}  // namespace utiltest

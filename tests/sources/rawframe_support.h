// Shared helpers of the raw YUV source tests: YUV files made by the test, the module registered in
// the test's registry, and a graph built through the graph manager as a host builds it.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "framework/settings.h"
#include "platform/strmbase/strmif.h"
#include "tests/support/harness.h"
#include "utilities/utilities.h"

namespace rawtest {

// A fresh folder under the temporary folder, removed with its contents by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // The full name of name inside the folder (sub-folders are created).
  std::string File(const std::string& name) const;

 private:
  std::filesystem::path m_path;
};

// Byte i of frame n in the files the tests write: differs between neighbouring frames and
// neighbouring bytes.
BYTE FrameByte(long long n, size_t i);
// Writes count frames of frameSize bytes of FrameByte followed by trailing bytes (0xEE); returns
// everything written.
std::vector<BYTE> WriteYuvFile(const std::string& path, size_t frameSize, int count, size_t trailing = 0);
// Bytes of frame n of a file returned by WriteYuvFile.
std::vector<BYTE> FrameOf(const std::vector<BYTE>& file, size_t frameSize, long long n);

// Registers RawFrameSource.so and PlenorUtilities.so (for its sample grabber) in this test
// process's registry (once per process).
void RegisterModules();
// The default value of the class key of clsid in the registry ("<none>" when absent).
std::string RegisteredClassName(REFCLSID clsid);
// Creates the filter through the registry, as a host does.
ComPtr<IBaseFilter> CreateRawFrameSource();

std::wstring Wide(const std::string& s);
// The parameter's text, or "<error>" when the read fails.
std::string GetParam(IUnknown* filter, const char* name);
HRESULT SetParam(IUnknown* filter, const char* name, const char* value);
HRESULT LoadFile(IUnknown* filter, const std::string& path);

// The output pin's offered type (position 0 of its enumeration).
CMediaType OfferedType(IBaseFilter* filter);
const VIDEOINFOHEADER& Vih(const CMediaType& mt);

// What the sample grabber recorded about one sample.
struct Grabbed {
  std::vector<BYTE> data;
  REFERENCE_TIME start = 0, stop = 0;
  bool timeValid = false;
  bool sync = false;
};

// A graph made by the graph manager with the source connected directly to the utilities module's
// sample grabber, as a host builds it.
struct Pipeline {
  explicit Pipeline(ComPtr<IBaseFilter> source);
  ~Pipeline();
  // Runs and waits for the completion (or abort) event; returns its code.
  LONG RunToEnd(DWORD timeoutMs = 20000);
  HRESULT Stop() { return control->Stop(); }
  // Takes queued events (waiting for more) until one of code arrives; false on timeout.
  bool WaitForEvent(LONG code, LONG_PTR* param1, DWORD timeoutMs = 20000);
  // The grabber's recording (cleared whenever the graph leaves the stopped state).
  std::vector<Grabbed> Samples();
  size_t SampleCount();
  LONG EndOfStreams();
  bool WaitForSamples(LONG count, DWORD timeoutMs);
  bool WaitForEndOfStream(DWORD timeoutMs);
  void Clear();
  // The type the source's output pin was connected with.
  HRESULT ConnectionType(CMediaType* mt);

  ComPtr<IGraphBuilder> graph;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
  ComPtr<IBaseFilter> source;
  ComPtr<IBaseFilter> grabberFilter;
  ComPtr<IPlenorSampleGrabber> grabber;
  HRESULT connected = E_FAIL;
};

}  // namespace rawtest

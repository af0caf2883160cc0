// Shared pieces of the overlay tests: the two modules and the utilities registered from the
// plugin folder, parameters by name, a push chain carrying real pictures, and PNG read-back.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "framework/settings.h"
#include "platform/strmbase/mtype.h"
#include "tests/support/harness.h"
#include "tests/support/modules.h"
#include "tests/support/ocr.h"
#include "utilities/utilities.h"

namespace overlaytest {

using namespace plenor::test;

// Registers OverlayKitFilter.so, RateOverlayFilter.so and PlenorUtilities.so (from
// $PLENOR_PLUGIN_DIR) in this test process's registry; once per process.
void RegisterOverlayModules();
ComPtr<IBaseFilter> CreateFilter(const CLSID& clsid);

// An RGB video type of width x height (negative: top-down) with a VIDEOINFOHEADER.
CMediaType RgbType(int bits, LONG width, LONG height);
// Bytes of such a picture (rows padded to 4 bytes).
size_t PictureSize(int bits, LONG width, LONG height);

// The graph manager, with the modules registered.
struct Host : GraphHost {
  Host() { RegisterOverlayModules(); }
};

// push source -> filters (in order) -> recording sink (or the given renderer), in the graph
// manager.
struct PushChain {
  PushChain(std::vector<ComPtr<IBaseFilter>> filters, const CMediaType& type, LONG bufferSize = 4096,
            ComPtr<IBaseFilter> renderer = {});
  ~PushChain();
  // A sample holding data, with the given times (none when absent); the downstream result.
  HRESULT Push(const std::vector<BYTE>& data, std::optional<REFERENCE_TIME> start,
               std::optional<REFERENCE_TIME> stop = std::nullopt);
  // The bytes of the last sample the sink received (empty when none).
  std::vector<BYTE> Last();

  Host host;
  ComPtr<PushSource> push;
  std::vector<ComPtr<IBaseFilter>> filters;
  ComPtr<TestSink> sink;
  ComPtr<IBaseFilter> renderer;
  HRESULT connected = E_FAIL;  // the first failing connection, or S_OK
};

// A PNG file read as top-down RGB (empty image when it cannot be read).
RgbImage ReadPng(const std::string& path);
// A fresh empty folder under /tmp.
std::string TempFolder();

}  // namespace overlaytest

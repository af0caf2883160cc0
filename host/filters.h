// Finding filters by the names a user types, creating them, and reading and writing their
// parameters through ISettingsInterface.
//
// A FILTER on the command line is one of:
//   - a short name, case-insensitive: the module file name of a single-filter module
//     (RawFrameSource.so -> RawFrameSource), or the name a multi-filter module declares for each
//     of its classes (PlenorUtilities.so: TestPatternSource, FileWriter, ...);
//   - a display name as registered ("Ravik Plenor Stereo2Mono Filter"), case-insensitive;
//   - a braced class id;
//   - the path of a module file (anything with a '/' or ending in ".so"), optionally followed by
//     ":SHORTNAME" to pick one class of a multi-filter module. The module is registered into a
//     private copy of the registry for this run only, so a filter just built can be used without
//     registering it.
#pragma once

#include <string>
#include <vector>

#include "framework/settings.h"
#include "platform/graph/mapper.h"
#include "platform/strmbase/strmif.h"

namespace cli {

struct FilterEntry {
  RegisteredFilter reg;
  std::string shortName;
  std::string module;  // InprocServer32 path, "" when none is registered
};

// The module registered for a class, or "".
std::string ModulePathOf(REFCLSID clsid);
// Every registered filter with its short name. Returns the mapper's result.
HRESULT ListFilters(std::vector<FilterEntry>* filters);

// Resolves what the user typed. On failure returns false after writing one line (without the
// "plenor: " prefix) into *error naming the filter, the HRESULT and a hint; *hr gets the code.
bool ResolveFilter(const std::string& text, FilterEntry* entry, std::string* error, HRESULT* hr);

// Creates an instance of a resolved filter. On failure *error says why.
HRESULT CreateFilter(const FilterEntry& entry, ComPtr<IBaseFilter>& filter, std::string* error);

// Removes the private registry copy made for module paths (also done at exit).
void DropRegistryOverlay();
// Whether a module given by path has been registered into the private copy.
bool RegistryOverlayActive();

// One parameter as far as the settings interface reveals it.
struct ParameterInfo {
  std::string name;
  std::string value;     // GetParameter's text
  std::string type;      // "int", "uint", "text", "flag", "real"
  bool readOnly = false;
  bool restricted = false;  // the filter refused a test value (an allowed-value list or its own check)
};
// Parameters in GetParameterSettings order. With probe set, each parameter is written with test
// values (and set back) to tell its type, read-only flag and whether its values are restricted:
// use it only on an instance made for the purpose.
HRESULT ReadParameters(ISettingsInterface* settings, bool probe, std::vector<ParameterInfo>* params);
// GetParameter into a string; false when the name is unknown.
bool GetParameterText(ISettingsInterface* settings, const std::string& name, std::string* value);

// Sets one parameter; on failure writes an explanation (after "parameter 'NAME'") into *error.
HRESULT SetParameterChecked(ISettingsInterface* settings, const std::string& name, const std::string& value,
                            std::string* error);

// The filter's last-error text through IStatusInterface, or "".
std::string LastErrorText(IUnknown* filter);

// The filter's name in its graph (QueryFilterInfo), UTF-8.
std::string FilterName(IBaseFilter* filter);
// A pin's name, or its id in quotes when the name is empty.
std::string PinLabel(IPin* pin);
// The filter's pins in enumeration order.
std::vector<ComPtr<IPin>> Pins(IBaseFilter* filter);
PIN_DIRECTION Direction(IPin* pin);

}  // namespace cli

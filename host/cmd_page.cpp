// plenor page FILTER [PARAM=VALUE ...] [--set CONTROL_ID=VALUE ...] [--apply]: opens the filter's
// property page in the host's property frame after setting the given parameters, shows it as
// text, changes controls by id as a user would, applies through the page, and shows the
// parameters as they then read.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

#include "host/cli_util.h"
#include "host/commands.h"
#include "host/filters.h"
#include "platform/ui/propframe.h"

namespace cli {

namespace {

// Control id -> kind ("edit", "check", "radio", "list", "up-down", "button", ...) from the frame's
// description of the active page.
std::map<int, std::string> ControlKinds(const std::string& description) {
  std::map<int, std::string> kinds;
  std::istringstream in(description);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string kind, id;
    if (!(words >> kind >> id)) continue;
    if (kind == "up-down" || kind == "edit" || kind == "check" || kind == "radio" || kind == "list" ||
        kind == "button" || kind == "group" || kind == "static") {
      char* end = nullptr;
      long n = std::strtol(id.c_str(), &end, 10);
      if (end && !*end && !id.empty()) kinds[static_cast<int>(n)] = kind;
    }
  }
  return kinds;
}

bool ParseInt(const std::string& s, long* out) {
  char* end = nullptr;
  *out = std::strtol(s.c_str(), &end, 10);
  return !s.empty() && end && !*end;
}

HRESULT Drive(PropertyFrame& frame, const std::string& kind, int id, const std::string& value, std::string* how) {
  long n = 0;
  if (kind == "edit") {
    *how = "typing '" + value + "'";
    return frame.TypeText(id, value);
  }
  if (kind == "check" || kind == "radio") {
    bool on = value == "1" || value == "true" || value == "on" || value == "TRUE";
    bool off = value == "0" || value == "false" || value == "off" || value == "FALSE";
    if (!on && !off) {
      *how = "setting it to '" + value + "' (a check takes 1/0, a radio button 1)";
      return E_INVALIDARG;
    }
    *how = on ? "checking it" : "unchecking it";
    return frame.SetCheck(id, on);
  }
  if (kind == "list") {
    *how = "selecting '" + value + "'";
    HRESULT hr = frame.SelectItem(id, value);
    if (FAILED(hr) && ParseInt(value, &n)) {
      *how = "selecting item " + value;
      hr = frame.SelectItem(id, static_cast<int>(n));
    }
    return hr;
  }
  if (kind == "up-down") {
    *how = "pressing the arrow " + value + " times (negative: down)";
    if (!ParseInt(value, &n)) return E_INVALIDARG;
    return frame.PressArrow(id, static_cast<int>(n));
  }
  if (kind == "button") {
    *how = "clicking it";
    return frame.Click(id);
  }
  *how = "changing a " + kind;
  return E_INVALIDARG;
}

void PrintParameters(ISettingsInterface* settings) {
  std::vector<ParameterInfo> params;
  if (!settings || FAILED(ReadParameters(settings, false, &params))) return;
  std::printf("Parameters\n");
  for (const ParameterInfo& p : params) std::printf("  %s = \"%s\"\n", p.name.c_str(), p.value.c_str());
}

}  // namespace

int RunPage(const PageRequest& request) {
  if (request.filter.empty()) return UsageError("page", "name a filter");
  const auto& params = request.params;
  const auto& sets = request.sets;
  const bool apply = request.apply;

  int rc = kExitOk;
  {
    FilterEntry entry;
    std::string error;
    HRESULT hr;
    ComPtr<IBaseFilter> filter;
    if (!ResolveFilter(request.filter, &entry, &error, &hr) || FAILED(CreateFilter(entry, filter, &error))) {
      DropRegistryOverlay();
      return Fail("page: " + error);
    }
    ComPtr<ISettingsInterface> settings;
    filter->QueryInterface(IID_ISettingsInterface, settings.AsOut());
    for (const auto& [key, value] : params) {
      if (!settings) {
        rc = Fail("page: " + entry.shortName + " has no parameters, " + FormatHResult(E_NOINTERFACE));
        break;
      }
      if (FAILED(SetParameterChecked(settings.Get(), key, value, &error))) {
        rc = Fail("page: " + entry.shortName + ": parameter '" + key + "' " + error);
        break;
      }
    }
    std::unique_ptr<PropertyFrame> frame;
    if (rc == kExitOk) {
      hr = PropertyFrame::Open(filter.Get(), &frame);
      if (FAILED(hr))
        rc = Fail("page: cannot open the property pages of " + entry.shortName + ", " + FormatHResult(hr) +
                  (hr == E_NOINTERFACE ? "; the filter has no property page" : "; check that its page class is registered"));
    }
    if (rc == kExitOk) {
      std::string before = frame->Describe();
      std::printf("%s", before.c_str());
      std::map<int, std::string> kinds = ControlKinds(before);
      for (const auto& [id, value] : sets) {
        auto it = kinds.find(id);
        if (it == kinds.end()) {
          rc = Fail("page: control " + std::to_string(id) + ": no such control on the page \"" +
                    frame->PageTitle(frame->ActivePage()) + "\", " + FormatHResult(E_INVALIDARG) +
                    "; the ids are the numbers after each control's kind above");
          break;
        }
        std::string how;
        hr = Drive(*frame, it->second, id, value, &how);
        if (FAILED(hr)) {
          rc = Fail("page: control " + std::to_string(id) + " (" + it->second + "): " + how + " failed, " +
                    FormatHResult(hr) + "; the control is disabled or does not take that value");
          break;
        }
      }
      if (rc == kExitOk && apply) {
        hr = frame->Apply();
        if (FAILED(hr)) {
          std::string why = LastErrorText(filter.Get());
          rc = Fail("page: applying the page of " + entry.shortName + " failed, " + FormatHResult(hr) +
                    (why.empty() ? "" : " (" + why + ")") + "; the filter refused a value, see the parameters below");
        } else {
          std::printf("applied\n");
        }
      }
      if (rc == kExitOk && (!sets.empty() || apply)) std::printf("\n%s", frame->Describe().c_str());
      frame->Close();
    }
    std::printf("\n");
    PrintParameters(settings.Get());
  }
  DropRegistryOverlay();
  return rc;
}

}  // namespace cli

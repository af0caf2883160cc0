// plenor inspect FILTER: everything a user needs to use a filter: its registration, pins, the
// interfaces it answers, version and status texts, every parameter and its property pages.
#include <cstdio>

#include "framework/status.h"
#include "host/cli_util.h"
#include "host/commands.h"
#include "host/filters.h"
#include "platform/graph/diagnostics.h"
#include "platform/ui/propframe.h"
#include "utilities/utilities.h"

namespace cli {

namespace {

struct NamedIid {
  const char* name;
  const IID* iid;
};
const NamedIid kInterfaces[] = {
    {"IBaseFilter", &IID_IBaseFilter},
    {"IMediaSeeking", &IID_IMediaSeeking},
    {"IFileSourceFilter", &IID_IFileSourceFilter},
    {"IFileSinkFilter", &IID_IFileSinkFilter},
    {"ISpecifyPropertyPages", &IID_ISpecifyPropertyPages},
    {"IPersistStream", &IID_IPersistStream},
    {"IPersistPropertyBag", &IID_IPersistPropertyBag},
    {"IPropertyBag", &IID_IPropertyBag},
    {"IAMovieSetup", &IID_IAMovieSetup},
    {"IQualityControl", &IID_IQualityControl},
    {"ISettingsInterface", &IID_ISettingsInterface},
    {"IStatusInterface", &IID_IStatusInterface},
    {"IPlenorSampleGrabber", &IID_IPlenorSampleGrabber},
};

std::string StatusText(IStatusInterface* status, HRESULT (IStatusInterface::*get)(char*, int)) {
  std::vector<char> buf(4096);
  if (FAILED((status->*get)(buf.data(), static_cast<int>(buf.size())))) return "(unreadable)";
  return buf.data();
}

const char* TypeName(const std::string& t) {
  if (t == "int") return "signed integer";
  if (t == "uint") return "unsigned integer";
  if (t == "flag") return "flag";
  if (t == "real") return "real number";
  return "text";
}

}  // namespace

int RunInspect(const std::string& name) {
  if (name.empty()) return UsageError("inspect", "name one filter (short name, \"display name\", class id or module path)");
  int rc = kExitOk;
  {
    FilterEntry entry;
    std::string error;
    HRESULT hr;
    if (!ResolveFilter(name, &entry, &error, &hr)) {
      DropRegistryOverlay();
      return Fail("inspect: " + error);
    }
    std::printf("Filter\n");
    std::printf("  Name          %s\n", WideToUtf8(entry.reg.name).c_str());
    std::printf("  Short name    %s\n", entry.shortName.c_str());
    std::printf("  Class id      %s\n", GuidToString(entry.reg.clsid).c_str());
    std::printf("  Module        %s\n", entry.module.empty() ? "(none registered)" : entry.module.c_str());
    std::printf("  Merit         0x%08X\n", static_cast<unsigned>(entry.reg.merit));
    std::printf("\nRegistered pins%s\n", entry.reg.pins.empty() ? ": none" : "");
    for (const RegisteredPin& p : entry.reg.pins) {
      std::printf("  \"%s\" %s%s%s%s\n", WideToUtf8(p.name).c_str(), p.output ? "output" : "input",
                  p.rendered ? ", rendered" : "", p.zero ? ", zero instances allowed" : "",
                  p.many ? ", many instances" : ", one instance");
      for (const RegisteredMediaType& t : p.mediaTypes)
        std::printf("      %s / %s\n", plenor::graph::GuidDisplayName(t.majorType).c_str(),
                    plenor::graph::GuidDisplayName(t.subType).c_str());
    }

    ComPtr<IBaseFilter> filter;
    if (FAILED(CreateFilter(entry, filter, &error))) {
      Fail("inspect: " + error);
      rc = kExitFailure;
    } else {
      std::printf("\nPins of a new instance\n");
      for (ComPtr<IPin>& p : Pins(filter.Get())) {
        std::printf("  %s %s\n", PinLabel(p.Get()).c_str(), Direction(p.Get()) == PINDIR_OUTPUT ? "output" : "input");
        ComPtr<IEnumMediaTypes> types;
        if (SUCCEEDED(p->EnumMediaTypes(&types)) && types) {
          for (;;) {
            AM_MEDIA_TYPE* mt = nullptr;
            ULONG got = 0;
            if (types->Next(1, &mt, &got) != S_OK || got != 1) break;
            std::printf("      offers %s\n", plenor::graph::DescribeMediaType(*mt).c_str());
            if (mt->pbFormat) CoTaskMemFree(mt->pbFormat);
            if (mt->pUnk) mt->pUnk->Release();
            CoTaskMemFree(mt);
          }
        }
      }

      std::printf("\nInterfaces\n ");
      for (const NamedIid& i : kInterfaces) {
        ComPtr<IUnknown> unk;
        if (SUCCEEDED(filter->QueryInterface(*i.iid, unk.AsOut()))) std::printf(" %s", i.name);
      }
      std::printf("\n");

      ComPtr<IStatusInterface> status;
      if (SUCCEEDED(filter->QueryInterface(IID_IStatusInterface, status.AsOut()))) {
        std::printf("\nStatus\n");
        std::printf("  Version       %s\n", StatusText(status.Get(), &IStatusInterface::GetVersion).c_str());
        std::printf("  Status text   %s\n", StatusText(status.Get(), &IStatusInterface::GetStatusText).c_str());
        std::printf("  Last error    %s\n", StatusText(status.Get(), &IStatusInterface::GetLastErrorText).c_str());
      }

      // The pages first, while every parameter still holds its default.
      std::string pages;
      {
        std::unique_ptr<PropertyFrame> frame;
        hr = PropertyFrame::Open(filter.Get(), &frame);
        if (SUCCEEDED(hr)) {
          for (size_t i = 0; i < frame->PageCount(); ++i) {
            if (i > 0 && FAILED(frame->SelectPage(i))) continue;
            pages += "\nProperty page " + std::to_string(i + 1) + " of " + std::to_string(frame->PageCount()) +
                     " (plenor page " + entry.shortName + ")\n" + frame->Describe();
            if (!pages.empty() && pages.back() != '\n') pages += '\n';
          }
          frame->Close();
        } else {
          ComPtr<ISpecifyPropertyPages> spp;
          pages = filter->QueryInterface(IID_ISpecifyPropertyPages, spp.AsOut()) == S_OK
                      ? "\nProperty pages: cannot open them, " + FormatHResult(hr) + "\n"
                      : "\nProperty pages: none\n";
        }
      }

      ComPtr<ISettingsInterface> settings;
      if (SUCCEEDED(filter->QueryInterface(IID_ISettingsInterface, settings.AsOut()))) {
        std::vector<ParameterInfo> params;
        ReadParameters(settings.Get(), true, &params);
        std::printf("\nParameters%s\n", params.empty() ? ": none" : " (set with NAME=VALUE in plenor run and plenor page)");
        size_t width = 4;
        for (const ParameterInfo& p : params) width = std::max(width, p.name.size());
        for (const ParameterInfo& p : params) {
          std::printf("  %-*s  %-16s  = %-12s %s%s\n", static_cast<int>(width), p.name.c_str(), TypeName(p.type),
                      ("\"" + p.value + "\"").c_str(), p.readOnly ? "read-only" : "read-write",
                      p.readOnly ? "" : p.restricted ? ", checked by the filter" : ", any value");
        }
      } else {
        std::printf("\nParameters: none (no settings interface)\n");
      }
      std::printf("%s", pages.c_str());
    }
  }
  DropRegistryOverlay();
  return rc;
}

}  // namespace cli

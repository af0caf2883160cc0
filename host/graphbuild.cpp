#include "host/graphbuild.h"

#include <cstdio>
#include <filesystem>

#include "host/cli_util.h"
#include "host/filters.h"
#include "platform/graph/diagnostics.h"

namespace fs = std::filesystem;

namespace cli {

namespace {

// Whether a filter's settings know a parameter of this name.
bool HasParameter(IBaseFilter* filter, const char* name) {
  ComPtr<ISettingsInterface> settings;
  std::string value;
  return SUCCEEDED(filter->QueryInterface(IID_ISettingsInterface, settings.AsOut())) &&
         GetParameterText(settings.Get(), name, &value);
}

// The first pin of the given direction that is not connected yet.
ComPtr<IPin> NextFreePin(IBaseFilter* filter, PIN_DIRECTION dir) {
  for (ComPtr<IPin>& p : Pins(filter)) {
    if (Direction(p.Get()) != dir) continue;
    ComPtr<IPin> other;
    if (p->ConnectedTo(&other) == S_OK && other) continue;
    return p;
  }
  return nullptr;
}

std::string TypeList(const std::vector<plenor::graph::TypeCheck>& checks, const std::string& judge) {
  if (checks.empty()) return "no types";
  std::string s;
  size_t shown = 0;
  for (const auto& c : checks) {
    if (shown == 4) {
      s += ", ... (" + std::to_string(checks.size() - shown) + " more)";
      break;
    }
    s += (shown++ ? ", " : "") + c.type.text + (c.result == S_OK ? " [" + judge + " accepts]" : "");
  }
  return s;
}

std::string TakeText(LPSTR text) {
  std::string s = text ? text : "";
  if (text) CoTaskMemFree(text);
  return s;
}

}  // namespace

HRESULT SetLocation(IBaseFilter* filter, const std::string& path, std::string* error) {
  std::error_code ec;
  std::string abs = fs::absolute(path, ec).lexically_normal().string();
  if (ec) abs = path;
  std::wstring wide = Utf8ToWide(abs);
  ComPtr<IFileSourceFilter> source;
  if (SUCCEEDED(filter->QueryInterface(IID_IFileSourceFilter, source.AsOut()))) {
    HRESULT hr = source->Load(wide.c_str(), nullptr);
    if (FAILED(hr)) {
      std::string why = LastErrorText(filter);
      bool missing = !fs::exists(abs, ec);
      *error = "cannot open the file " + abs + ", " + FormatHResult(hr) + (why.empty() ? "" : " (" + why + ")") +
               (missing ? "; the file does not exist, check the path" : "; check that the file is readable and of the right kind");
    }
    return hr;
  }
  ComPtr<IFileSinkFilter> sink;
  if (SUCCEEDED(filter->QueryInterface(IID_IFileSinkFilter, sink.AsOut()))) {
    HRESULT hr = sink->SetFileName(wide.c_str(), nullptr);
    if (FAILED(hr)) {
      std::string why = LastErrorText(filter);
      *error = "cannot write to the file " + abs + ", " + FormatHResult(hr) + (why.empty() ? "" : " (" + why + ")") +
               "; check that its folder exists and is writable";
    }
    return hr;
  }
  *error = "takes no location: it reads and writes no file, " + FormatHResult(E_NOINTERFACE) +
           "; drop location= from this element";
  return E_NOINTERFACE;
}

std::string GraphDot(IGraphBuilder* graph) {
  ComPtr<IGraphDiagnostics> diag;
  if (FAILED(graph->QueryInterface(IID_IGraphDiagnostics, diag.AsOut()))) return {};
  LPSTR text = nullptr;
  if (FAILED(diag->GetDot(&text))) return {};
  return TakeText(text);
}

namespace {

// False only for a file writer that has no file name yet.
bool HasFile(IBaseFilter* filter) {
  ComPtr<IFileSinkFilter> sink = ComPtr<IBaseFilter>(filter).As<IFileSinkFilter>();
  if (!sink) return true;
  LPOLESTR name = nullptr;
  HRESULT hr = sink->GetCurFile(&name, nullptr);
  const bool has = SUCCEEDED(hr) && name && *name;
  if (name) CoTaskMemFree(name);
  return has;
}

}  // namespace

int BuildGraph(const Pipeline& pipeline, const char* verb, bool verboseNegotiation, BuiltGraph* built) {
  const std::string v = verb;
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                built->graph.AsOut());
  if (FAILED(hr)) return Fail(v + ": cannot create the filter graph manager, " + FormatHResult(hr));

  for (size_t i = 0; i < pipeline.elements.size(); ++i) {
    const PipelineElement& e = pipeline.elements[i];
    const std::string where = v + ": element " + std::to_string(i + 1) + " '" + e.filter + "': ";
    FilterEntry entry;
    std::string error;
    if (!ResolveFilter(e.filter, &entry, &error, &hr)) return Fail(where + error);
    ComPtr<IBaseFilter> filter;
    if (FAILED(CreateFilter(entry, filter, &error))) return Fail(where + error);
    std::string name = e.name.empty() ? entry.shortName + std::to_string(i + 1) : e.name;
    hr = built->graph->AddFilter(filter.Get(), Utf8ToWide(name).c_str());
    if (FAILED(hr)) return Fail(where + "cannot add it to the graph, " + FormatHResult(hr));
    const std::string label = entry.shortName + (e.name.empty() ? "" : " '" + e.name + "'") + " (element " +
                              std::to_string(i + 1) + ")";
    ComPtr<ISettingsInterface> settings;
    filter->QueryInterface(IID_ISettingsInterface, settings.AsOut());
    for (const auto& [key, value] : e.params) {
      if (key == "location") {
        if (FAILED(SetLocation(filter.Get(), value, &error))) return Fail(v + ": " + label + ": " + error);
        continue;
      }
      if (!settings) {
        return Fail(v + ": " + label + ": parameter '" + key + "': the filter has no parameters, " +
                    FormatHResult(E_NOINTERFACE) + "; see plenor inspect " + entry.shortName);
      }
      if (FAILED(SetParameterChecked(settings.Get(), key, value, &error)))
        return Fail(v + ": " + label + ": parameter '" + key + "' " + error + "; see plenor inspect " +
                    entry.shortName);
    }
    built->filters.push_back(filter);
    built->labels.push_back(label);
  }

  for (const PipelineLink& link : pipeline.links) {
    IBaseFilter* up = built->filters[static_cast<size_t>(link.from)].Get();
    IBaseFilter* down = built->filters[static_cast<size_t>(link.to)].Get();
    const std::string& upLabel = built->labels[static_cast<size_t>(link.from)];
    const std::string& downLabel = built->labels[static_cast<size_t>(link.to)];
    ComPtr<IPin> out = NextFreePin(up, PINDIR_OUTPUT);
    if (!out)
      return Fail(v + ": " + upLabel + " has no free output pin to link to " + downLabel + ", " +
                  FormatHResult(VFW_E_NOT_FOUND) + "; it is a renderer, or its outputs are all linked already");
    ComPtr<IPin> in = NextFreePin(down, PINDIR_INPUT);
    if (!in)
      return Fail(v + ": " + downLabel + " has no free input pin for " + upLabel + ", " +
                  FormatHResult(VFW_E_NOT_FOUND) + "; it is a source, or its inputs are all linked already");
    hr = built->graph->Connect(out.Get(), in.Get());
    if (FAILED(hr)) {
      plenor::graph::ConnectionReport report = plenor::graph::DiagnoseConnection(out.Get(), in.Get());
      report.connectResult = hr;
      if (verboseNegotiation) std::fprintf(stderr, "%s", report.ToText().c_str());
      std::string why;
      bool upInputFree = false;
      for (ComPtr<IPin>& p : Pins(up)) {
        ComPtr<IPin> peer;
        if (Direction(p.Get()) == PINDIR_INPUT && (p->ConnectedTo(&peer) != S_OK || !peer)) upInputFree = true;
      }
      // What a filter said about the refusal is the best explanation there is; a writer without
      // a file refuses every type, which is no matter of converters.
      const std::string upText = LastErrorText(up), downText = LastErrorText(down);
      if (!downText.empty() || !upText.empty())
        why = (!downText.empty() ? downLabel + " says: " + downText : upLabel + " says: " + upText);
      else if (!HasFile(down))
        why = downLabel + " has no file to write yet; give it location=FILE";
      else if (upInputFree)
        why = upLabel + " has an input that is not linked yet, and a transform offers its output type only once its "
              "input is connected; link something into it first";
      else if (!report.AgreeableTypes().empty())
        why = "a type both accept exists, so the refusal came later (CheckConnect, SetMediaType or buffers); "
              "check the filters' parameters";
      else
        why = "no type of one is accepted by the other and no registered filter converts between them; "
              "put a converter between them";
      // The H.264 decoder takes the other forms, not MEDIASUBTYPE_H264 with a VIDEOINFOHEADER2:
      // name the setting of the upstream filter that switches the form (the encoder chooses among
      // three forms, the file source between two).
      for (const auto& offered : report.offeredByOutput)
        if (offered.type.subType == MEDIASUBTYPE_H264 && offered.type.formatType == FORMAT_VideoInfo2) {
          why += "; a decoder that refuses MEDIASUBTYPE_H264 with VIDEOINFOHEADER2 takes the other forms: ";
          if (HasParameter(up, "usequelth264"))
            why += "set usequelth264=1 (MEDIASUBTYPE_PLENOR_H264) on " + upLabel;
          else
            why += "set h264_output_type=2 (MEDIASUBTYPE_AVC1) or h264_output_type=0 (MEDIASUBTYPE_PLENOR_H264) on " +
                   upLabel;
          break;
        }
      return Fail(v + ": cannot connect " + upLabel + " pin " + PinLabel(out.Get()) + " to " + downLabel + " pin " +
                  PinLabel(in.Get()) + ", " + FormatHResult(hr) + "; " + upLabel + " offers " +
                  TypeList(report.offeredByOutput, "input") + "; " + downLabel + " offers " +
                  TypeList(report.offeredByInput, "output") + "; " + why +
                  (verboseNegotiation ? "" : " (--verbose-negotiation shows every type and verdict)"));
    }
    if (verboseNegotiation) {
      ComPtr<IPin> peer;
      out->ConnectedTo(&peer);
      AM_MEDIA_TYPE mt{};
      std::string type = "?";
      if (SUCCEEDED(out->ConnectionMediaType(&mt))) {
        type = plenor::graph::DescribeMediaType(mt);
        if (mt.pbFormat) CoTaskMemFree(mt.pbFormat);
        if (mt.pUnk) mt.pUnk->Release();
      }
      bool direct = peer && peer.Get() == in.Get();
      std::fprintf(stderr, "plenor: linked %s pin %s -> %s pin %s: %s%s\n", upLabel.c_str(), PinLabel(out.Get()).c_str(),
                   downLabel.c_str(), PinLabel(in.Get()).c_str(), type.c_str(),
                   direct ? "" : " (through intermediate filters)");
    }
  }
  return kExitOk;
}

}  // namespace cli

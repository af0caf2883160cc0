#include "platform/graph/diagnostics.h"

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string_view>

#include "platform/com/runtime.h"
#include "platform/graph/pinutil.h"

namespace plenor::graph {

namespace {

struct NamedGuid {
  const GUID* guid;
  const char* name;
};

constexpr NamedGuid kGuidNames[] = {
    {&MEDIATYPE_Video, "Video"},
    {&MEDIATYPE_Audio, "Audio"},
    {&MEDIATYPE_Text, "Text"},
    {&MEDIATYPE_Stream, "Stream"},
    {&MEDIASUBTYPE_RGB565, "RGB565"},
    {&MEDIASUBTYPE_RGB555, "RGB555"},
    {&MEDIASUBTYPE_RGB24, "RGB24"},
    {&MEDIASUBTYPE_RGB32, "RGB32"},
    {&MEDIASUBTYPE_ARGB32, "ARGB32"},
    {&MEDIASUBTYPE_AYUV, "AYUV"},
    {&MEDIASUBTYPE_I420, "I420"},
    {&MEDIASUBTYPE_IYUV, "IYUV"},
    {&MEDIASUBTYPE_YV12, "YV12"},
    {&MEDIASUBTYPE_NV12, "NV12"},
    {&MEDIASUBTYPE_YUY2, "YUY2"},
    {&MEDIASUBTYPE_H264, "H264"},
    {&MEDIASUBTYPE_AVC1, "AVC1"},
    {&MEDIASUBTYPE_PCM, "PCM"},
    {&MEDIASUBTYPE_None, "None"},
    {&FORMAT_None, "FormatNone"},
    {&FORMAT_VideoInfo, "VideoInfo"},
    {&FORMAT_VideoInfo2, "VideoInfo2"},
    {&FORMAT_MPEG2Video, "MPEG2Video"},
    {&FORMAT_WaveFormatEx, "WaveFormatEx"},
    {&GUID_NULL, "any"},
};

std::string Utf8(const std::wstring& w) { return WideToUtf8(w); }

// Joins text pieces (also keeps GCC 12's -Wrestrict false positive on "literal" + string away).
std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string s;
  for (std::string_view p : parts) s.append(p);
  return s;
}

// Quotes text for a DOT string or record label.
std::string DotEscape(const std::string& s, bool record) {
  std::string out;
  for (char c : s) {
    if (c == '"' || c == '\\' || (record && (c == '{' || c == '}' || c == '|' || c == '<' || c == '>')))
      out += '\\';
    if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

void SummarizeVideo(const BITMAPINFOHEADER& bi, REFERENCE_TIME avg, MediaTypeSummary* s) {
  s->hasVideo = true;
  s->width = bi.biWidth;
  s->height = bi.biHeight;
  s->bitCount = bi.biBitCount;
  s->compression = bi.biCompression;
  s->avgTimePerFrame = avg;
}

std::string PinLabel(const std::string& filter, const std::string& pin) { return Cat({"\"", filter, "\".", pin}); }

void AppendChecks(std::ostringstream& out, const std::vector<TypeCheck>& checks, HRESULT enumResult,
                  const std::string& offerer, const std::string& checker) {
  out << "Types offered by " << offerer << " (checked with " << checker << " QueryAccept):\n";
  if (FAILED(enumResult)) out << "  enumeration failed: " << DescribeResult(enumResult) << "\n";
  if (checks.empty() && SUCCEEDED(enumResult)) out << "  none\n";
  int n = 0;
  for (const TypeCheck& c : checks) {
    out << "  " << ++n << ". " << c.type.text << ": ";
    if (c.result == S_OK)
      out << "accepted\n";
    else
      out << "refused by " << checker << " QueryAccept: " << DescribeResult(c.result) << "\n";
  }
}

}  // namespace

std::string GuidDisplayName(REFGUID guid) {
  for (const NamedGuid& n : kGuidNames)
    if (*n.guid == guid) return n.name;
  return GuidToString(guid);
}

std::string DescribeResult(HRESULT hr) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(hr));
  const char* name = HResultName(hr);
  return name ? std::string(name) + " (" + hex + ")" : std::string(hex);
}

MediaTypeSummary SummarizeMediaType(const AM_MEDIA_TYPE& mt) {
  MediaTypeSummary s;
  s.majorType = mt.majortype;
  s.subType = mt.subtype;
  s.formatType = mt.formattype;
  s.formatSize = mt.pbFormat ? mt.cbFormat : 0;
  std::ostringstream text;
  text << GuidDisplayName(mt.majortype) << " " << GuidDisplayName(mt.subtype) << " "
       << GuidDisplayName(mt.formattype);
  const BYTE* fmt = mt.pbFormat;
  ULONG size = s.formatSize;
  bool shortBlock = false;
  if (mt.formattype == FORMAT_VideoInfo) {
    if (size >= sizeof(VIDEOINFOHEADER)) {
      VIDEOINFOHEADER vih;
      std::memcpy(&vih, fmt, sizeof vih);
      SummarizeVideo(vih.bmiHeader, vih.AvgTimePerFrame, &s);
    } else {
      shortBlock = true;
    }
  } else if (mt.formattype == FORMAT_VideoInfo2 || mt.formattype == FORMAT_MPEG2Video) {
    if (size >= sizeof(VIDEOINFOHEADER2)) {
      VIDEOINFOHEADER2 vih;
      std::memcpy(&vih, fmt, sizeof vih);
      SummarizeVideo(vih.bmiHeader, vih.AvgTimePerFrame, &s);
    } else {
      shortBlock = true;
    }
  } else if (mt.formattype == FORMAT_WaveFormatEx) {
    if (size >= sizeof(WAVEFORMATEX)) {
      WAVEFORMATEX wfx;
      std::memcpy(&wfx, fmt, sizeof wfx);
      s.hasAudio = true;
      s.formatTag = wfx.wFormatTag;
      s.samplesPerSec = wfx.nSamplesPerSec;
      s.channels = wfx.nChannels;
      s.bitsPerSample = wfx.wBitsPerSample;
    } else {
      shortBlock = true;
    }
  }
  if (s.hasVideo) {
    text << " " << s.width << "x" << s.height << " " << s.bitCount << "-bit";
    if (s.avgTimePerFrame > 0) {
      char fps[32];
      std::snprintf(fps, sizeof fps, " %.3g fps", 1e7 / static_cast<double>(s.avgTimePerFrame));
      text << fps;
    }
  }
  if (s.hasAudio)
    text << " " << s.samplesPerSec << " Hz " << s.channels << " ch " << s.bitsPerSample << "-bit";
  if (shortBlock) text << " (format block too short: " << size << " bytes)";
  s.text = text.str();
  return s;
}

std::string DescribeMediaType(const AM_MEDIA_TYPE& mt) { return SummarizeMediaType(mt).text; }

std::vector<MediaTypeSummary> ConnectionReport::AgreeableTypes() const {
  // A pin's own offers pass its own checks; what matters is the other pin's verdict.
  std::vector<MediaTypeSummary> out;
  for (const TypeCheck& c : offeredByOutput)
    if (c.result == S_OK) out.push_back(c.type);
  for (const TypeCheck& c : offeredByInput)
    if (c.result == S_OK) out.push_back(c.type);
  return out;
}

std::string ConnectionReport::ToText() const {
  std::ostringstream out;
  std::string outName = PinLabel(outputFilter, outputPin);
  std::string inName = PinLabel(inputFilter, inputPin);
  out << "Connection " << outName << " -> " << inName;
  if (connectResult != S_OK)
    out << " failed: " << DescribeResult(connectResult) << "\n";
  else
    out << "\n";
  for (const std::string& n : notes) out << "Note: " << n << "\n";
  AppendChecks(out, offeredByOutput, outputEnumResult, Cat({"output pin ", outName}), Cat({"input pin ", inName}));
  AppendChecks(out, offeredByInput, inputEnumResult, Cat({"input pin ", inName}), Cat({"output pin ", outName}));
  std::vector<MediaTypeSummary> agreed = AgreeableTypes();
  if (FAILED(connectResult)) {
    if (agreed.empty())
      out << "No type offered by either pin is accepted by the other.\n";
    else
      out << "Accepted by both pins: " << agreed.front().text
          << "; the connection was refused after the type check (connection checks, format or allocator).\n";
  }
  return out.str();
}

ConnectionReport DiagnoseConnection(IPin* pOut, IPin* pIn) {
  ConnectionReport r;
  r.outputPin = pOut ? Utf8(PinName(pOut)) : "(null)";
  r.inputPin = pIn ? Utf8(PinName(pIn)) : "(null)";
  ComPtr<IBaseFilter> fOut = PinFilter(pOut), fIn = PinFilter(pIn);
  r.outputFilter = fOut ? Utf8(FilterName(fOut.Get())) : "?";
  r.inputFilter = fIn ? Utf8(FilterName(fIn.Get())) : "?";
  if (!pOut || !pIn) {
    r.notes.push_back("a pin is missing");
    return r;
  }
  PIN_DIRECTION d;
  if (PinDirection(pOut, &d) && d != PINDIR_OUTPUT) r.notes.push_back(Cat({"\"", r.outputPin, "\" is not an output pin"}));
  if (PinDirection(pIn, &d) && d != PINDIR_INPUT) r.notes.push_back(Cat({"\"", r.inputPin, "\" is not an input pin"}));
  if (ComPtr<IPin> peer = ConnectedPeer(pOut)) r.notes.push_back("the output pin is already connected");
  if (ComPtr<IPin> peer = ConnectedPeer(pIn)) r.notes.push_back("the input pin is already connected");
  if (fOut && fIn && Identity(fOut.Get()) == Identity(fIn.Get()))
    r.notes.push_back("both pins belong to the same filter");

  for (const TaskMediaType& mt : OfferedTypes(pOut, &r.outputEnumResult))
    r.offeredByOutput.push_back({SummarizeMediaType(*mt), pIn->QueryAccept(mt.get())});
  for (const TaskMediaType& mt : OfferedTypes(pIn, &r.inputEnumResult))
    r.offeredByInput.push_back({SummarizeMediaType(*mt), pOut->QueryAccept(mt.get())});
  return r;
}

std::string GraphToDot(IFilterGraph* graph) {
  std::ostringstream dot;
  dot << "digraph FilterGraph {\n  rankdir=LR;\n  node [shape=record, fontname=\"sans\"];\n"
         "  edge [fontname=\"sans\", fontsize=10];\n";
  if (!graph) {
    dot << "}\n";
    return dot.str();
  }
  std::vector<ComPtr<IBaseFilter>> filters;
  ComPtr<IEnumFilters> e;
  if (SUCCEEDED(graph->EnumFilters(&e)) && e) {
    for (;;) {
      IBaseFilter* f = nullptr;
      ULONG got = 0;
      if (e->Next(1, &f, &got) != S_OK || got != 1 || !f) {
        if (f) f->Release();
        break;
      }
      filters.push_back(ComPtr<IBaseFilter>::Attach(f));
    }
  }
  // Pins are named by identity so that edges find their ends.
  struct PinRef {
    ComPtr<IUnknown> id;
    std::string node;
  };
  std::vector<PinRef> pinRefs;
  std::vector<std::vector<ComPtr<IPin>>> allPins;
  for (size_t i = 0; i < filters.size(); ++i) {
    std::vector<ComPtr<IPin>> pins = FilterPins(filters[i].Get());
    std::string ins, outs;
    for (size_t k = 0; k < pins.size(); ++k) {
      PIN_DIRECTION d = PINDIR_INPUT;
      PinDirection(pins[k].Get(), &d);
      std::string port = Cat({"p", std::to_string(k)});
      std::string cell = Cat({"<", port, "> ", DotEscape(Utf8(PinName(pins[k].Get())), true)});
      std::string& side = d == PINDIR_INPUT ? ins : outs;
      if (!side.empty()) side += "|";
      side += cell;
      pinRefs.push_back({Identity(pins[k].Get()), Cat({"f", std::to_string(i), ":", port})});
    }
    std::string name = DotEscape(Utf8(FilterName(filters[i].Get())), true);
    dot << "  f" << i << " [label=\"{{" << ins << "}|" << name << "|{" << outs << "}}\"];\n";
    allPins.push_back(std::move(pins));
  }
  for (const std::vector<ComPtr<IPin>>& pins : allPins) {
    for (const ComPtr<IPin>& pin : pins) {
      PIN_DIRECTION d;
      if (!PinDirection(pin.Get(), &d) || d != PINDIR_OUTPUT) continue;
      ComPtr<IPin> peer = ConnectedPeer(pin.Get());
      if (!peer) continue;
      std::string from, to;
      ComPtr<IUnknown> pid = Identity(pin.Get()), qid = Identity(peer.Get());
      for (const PinRef& r : pinRefs) {
        if (r.id == pid) from = r.node;
        if (r.id == qid) to = r.node;
      }
      if (from.empty() || to.empty()) continue;
      HeldMediaType mt;
      std::string label = SUCCEEDED(pin->ConnectionMediaType(&mt)) ? DescribeMediaType(*mt) : "?";
      dot << "  " << from << " -> " << to << " [label=\"" << DotEscape(label, false) << "\"];\n";
    }
  }
  dot << "}\n";
  return dot.str();
}

}  // namespace plenor::graph

// Diagnostics of the filter graph runtime, for hosts and tests:
//
// - why a connection between two pins fails: every media type each pin offers, and what the
//   other pin's QueryAccept answered for it (DiagnoseConnection, ConnectionReport::ToText);
// - the graph drawn as Graphviz DOT: filters, their pins and the media type agreed on each
//   connection (GraphToDot);
// - a one-line text for a media type (DescribeMediaType), naming the major type, subtype and
//   format, width, height and bit count for video, rate, channels and bits for audio.
//
// The same reports are reachable from a graph object alone through IGraphDiagnostics, which
// the filter graph manager answers to (QueryInterface on the graph); its texts come back in
// task-allocated narrow strings (UTF-8) that the caller frees with CoTaskMemFree. The graph also
// keeps the report of the last connection that failed in Connect or ConnectDirect.
#pragma once

#include <string>
#include <vector>

#include "platform/strmbase/strmif.h"

PLENOR_GUID(IID_IGraphDiagnostics, 0x5e1c7a43, 0x0b2d, 0x4f0e, 0x9a, 0x61, 0x3d, 0x27, 0xc4, 0x88, 0x10, 0x5b);

struct IGraphDiagnostics : IUnknown {
  static constexpr const IID& iid = IID_IGraphDiagnostics;
  // The text of DiagnoseConnection(pOut, pIn).
  STDMETHOD(DiagnoseConnection)(IPin* pOut, IPin* pIn, LPSTR* ppText) PURE;
  // The text report of the last connection that failed in this graph's Connect or
  // ConnectDirect; S_FALSE and an empty text when none has failed.
  STDMETHOD(GetLastConnectionReport)(LPSTR* ppText) PURE;
  // The graph as Graphviz DOT.
  STDMETHOD(GetDot)(LPSTR* ppText) PURE;

 protected:
  ~IGraphDiagnostics() = default;
};

namespace plenor::graph {

// The parts of a media type that a person needs to tell types apart.
struct MediaTypeSummary {
  GUID majorType = GUID_NULL;
  GUID subType = GUID_NULL;
  GUID formatType = GUID_NULL;
  ULONG formatSize = 0;
  // Video (VIDEOINFOHEADER, VIDEOINFOHEADER2 or MPEG-2 video format blocks).
  bool hasVideo = false;
  LONG width = 0;
  LONG height = 0;  // as in the format block: negative for top-down pictures
  WORD bitCount = 0;
  DWORD compression = 0;
  REFERENCE_TIME avgTimePerFrame = 0;
  // Audio (WAVEFORMATEX).
  bool hasAudio = false;
  WORD formatTag = 0;
  DWORD samplesPerSec = 0;
  WORD channels = 0;
  WORD bitsPerSample = 0;
  // The one-line description (DescribeMediaType).
  std::string text;
};

// Summary of a media type; format blocks too short for their format type are named as such and
// not read.
PLENOR_EXPORT MediaTypeSummary SummarizeMediaType(const AM_MEDIA_TYPE& mt);
// For example "Video RGB24 VideoInfo 320x240 24-bit" or "Audio PCM WaveFormatEx 48000 Hz 2 ch
// 16-bit". Unknown GUIDs appear in their braced text form.
PLENOR_EXPORT std::string DescribeMediaType(const AM_MEDIA_TYPE& mt);
// Short name of a well-known major type, subtype or format type GUID ("Video", "RGB24",
// "VideoInfo"), or its braced text form.
PLENOR_EXPORT std::string GuidDisplayName(REFGUID guid);
// "VFW_E_TYPE_NOT_ACCEPTED (0x8004022A)", or just the hexadecimal value for codes without a name.
PLENOR_EXPORT std::string DescribeResult(HRESULT hr);

// One offered type and the other pin's verdict on it.
struct TypeCheck {
  MediaTypeSummary type;
  HRESULT result = S_OK;  // the checking pin's QueryAccept: S_OK accepts, anything else refuses
};

struct PLENOR_EXPORT ConnectionReport {
  std::string outputFilter, outputPin;  // names (UTF-8)
  std::string inputFilter, inputPin;
  // Result of the connection attempt this report explains, when it comes from one (the graph's
  // Connect or ConnectDirect); S_OK when the report was asked for directly.
  HRESULT connectResult = S_OK;
  // EnumMediaTypes of each pin: a failure there is itself a reason.
  HRESULT outputEnumResult = S_OK;
  HRESULT inputEnumResult = S_OK;
  std::vector<TypeCheck> offeredByOutput;  // checked with the input pin's QueryAccept
  std::vector<TypeCheck> offeredByInput;   // checked with the output pin's QueryAccept
  // Problems found before any type was tried (a pin already connected, wrong direction, ...).
  std::vector<std::string> notes;

  // Types offered by one pin that the other pin accepts: when there are some and the connection
  // still failed, the refusal came after the type check (CheckConnect, SetMediaType, allocators).
  std::vector<MediaTypeSummary> AgreeableTypes() const;
  // A readable multi-line report naming both pins, every type and each verdict.
  std::string ToText() const;
};

// Asks each pin's offered types of the other pin. Does not connect anything; pOut must be an
// output pin and pIn an input pin (otherwise the report says so in notes).
PLENOR_EXPORT ConnectionReport DiagnoseConnection(IPin* pOut, IPin* pIn);

// The graph as Graphviz DOT: one record node per filter with its input pins on the left and
// output pins on the right, one edge per connection labelled with the agreed media type.
PLENOR_EXPORT std::string GraphToDot(IFilterGraph* graph);

}  // namespace plenor::graph

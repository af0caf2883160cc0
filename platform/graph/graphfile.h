// Graph files: a filter graph saved as JSON, written and read here so that any host can use them.
//
// The format (version 1), every member required unless marked optional:
//
//   {
//     "format": "plenor-graph",
//     "version": 1,
//     "filters": [
//       {
//         "name": "src",                                 unique, not empty
//         "clsid": "{A45BCC8C-CCC4-4EAA-80D0-8DCE8FF567D5}",
//         "display_name": "Plenor File Writer",          optional, informative
//         "file": {"role": "source" | "sink", "path": "/abs/in.yuv"},   optional:
//                                                        IFileSourceFilter::Load or
//                                                        IFileSinkFilter::SetFileName
//         "parameters": [{"name": "fps", "value": "25"}, ...],  optional: parameters as text,
//                                                        in the order they are written back; a
//                                                        value that is not UTF-8 text is kept
//                                                        byte for byte as "value_base64" instead
//                                                        of "value"
//         "persist": "BAAAAA=="                          optional: the IPersistStream record,
//                                                        base64
//       }, ...
//     ],
//     "connections": [                                   upstream connections first
//       {
//         "from": {"filter": "src", "pin": "Output"},     pin ids (IPin::QueryId)
//         "to": {"filter": "conv", "pin": "In"},
//         "media_type": {
//           "major": "{...}", "subtype": "{...}", "format_type": "{...}",
//           "fixed_size": true, "temporal_compression": false, "sample_size": 76800,
//           "format": "base64 of the format block",       may be ""
//           "description": "Video I420 ..."               optional, informative
//         }
//       }, ...
//     ]
//   }
//
// Loading creates each filter by class id, adds it under its name, opens its file, writes its
// parameters, then loads its IPersistStream record (so persisted state wins, as when a host
// restores a saved graph), and finally connects every connection directly with its saved media
// type. Files that are damaged in any way are refused with a message naming the member at fault.
//
// The settings interface belongs to the suite above this layer, so the graph file does not read or
// write parameters itself: the host passes a reader and a writer.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/strmbase/strmif.h"

namespace plenor::graph {

struct GraphFileMediaType {
  GUID majorType = GUID_NULL;
  GUID subType = GUID_NULL;
  GUID formatType = GUID_NULL;
  bool fixedSizeSamples = false;
  bool temporalCompression = false;
  ULONG sampleSize = 0;
  std::string format;       // the format block's bytes
  std::string description;  // informative
};

struct GraphFileFilter {
  std::string name;
  CLSID clsid = CLSID_NULL;
  std::string displayName;
  enum class FileRole { None, Source, Sink } fileRole = FileRole::None;
  std::string filePath;
  std::vector<std::pair<std::string, std::string>> parameters;
  bool hasPersist = false;
  std::string persist;  // the IPersistStream record's bytes
};

struct GraphFileConnection {
  std::string outFilter, outPin;
  std::string inFilter, inPin;
  GraphFileMediaType mediaType;
};

struct GraphFile {
  std::vector<GraphFileFilter> filters;
  std::vector<GraphFileConnection> connections;
};

// Fills params with the filter's parameters as text (in the order to write them back).
using GraphParameterReader =
    std::function<void(IBaseFilter* filter, std::vector<std::pair<std::string, std::string>>* params)>;
// Writes one parameter; on failure returns the failure and a reason in *error.
using GraphParameterWriter = std::function<HRESULT(IBaseFilter* filter, const std::string& name,
                                                   const std::string& value, std::string* error)>;

// The graph's filters, their files, parameters (through readParameters, may be empty) and
// persisted records, and its connections with their media types. On failure *error says why.
PLENOR_EXPORT HRESULT CaptureGraph(IFilterGraph* graph, const GraphParameterReader& readParameters, GraphFile* file,
                                   std::string* error);
// The JSON text of a graph file.
PLENOR_EXPORT std::string WriteGraphFile(const GraphFile& file);
// Parses and checks JSON text. On failure returns false with one line naming what is wrong.
PLENOR_EXPORT bool ParseGraphFile(const std::string& text, GraphFile* file, std::string* error);
// Builds the saved graph in graph (which should be empty). On failure returns the failing step's
// result with one line naming the filter, pin or connection in *error; what was built stays in
// the graph for the caller to release.
PLENOR_EXPORT HRESULT BuildGraphFromFile(const GraphFile& file, IGraphBuilder* graph,
                                         const GraphParameterWriter& writeParameter, std::string* error);

// Whether bytes are well-formed UTF-8 (what a JSON string can carry unchanged).
PLENOR_EXPORT bool IsUtf8(const std::string& bytes);
// The bytes as a message can show them: UTF-8 text as it is, control characters, backslashes and
// bytes that are not UTF-8 as \xNN.
PLENOR_EXPORT std::string PrintableBytes(const std::string& bytes);

// Base64 (standard alphabet, with padding). Decode refuses any other character or a bad length.
PLENOR_EXPORT std::string Base64Encode(const std::string& bytes);
PLENOR_EXPORT bool Base64Decode(const std::string& text, std::string* bytes);

}  // namespace plenor::graph

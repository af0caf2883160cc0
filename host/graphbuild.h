// Building a graph from a parsed pipeline: create each element's filter, add it to a new graph
// manager, set its parameters and file, and connect the links (directly first, then through
// registered intermediate filters: the graph manager's Connect).
#pragma once

#include <string>
#include <vector>

#include "host/pipeline.h"
#include "platform/strmbase/strmif.h"

namespace cli {

struct BuiltGraph {
  ComPtr<IGraphBuilder> graph;
  std::vector<ComPtr<IBaseFilter>> filters;  // one per pipeline element
  std::vector<std::string> labels;           // "FileWriter (element 3)" for messages
};

// Prints the one-line error itself (prefixed with verb) and returns the exit code; kExitOk on success.
// With verboseNegotiation, every connection's agreed type (or its full failure report) goes to stderr.
int BuildGraph(const Pipeline& pipeline, const char* verb, bool verboseNegotiation, BuiltGraph* built);

// Sets location on a filter: IFileSourceFilter::Load or IFileSinkFilter::SetFileName.
HRESULT SetLocation(IBaseFilter* filter, const std::string& path, std::string* error);

// The graph's DOT text, or "" on failure.
std::string GraphDot(IGraphBuilder* graph);

}  // namespace cli

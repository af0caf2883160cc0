// Running a built graph, shared by plenor run and plenor graph run. The options are read by
// main.cpp's command line.
#pragma once

#include <string>
#include <vector>

#include "host/graphbuild.h"

namespace cli {

struct RunOptions {
  long long frames = 0;   // --frames N: stop after N video frames (0: no limit)
  double seconds = 0;     // --seconds S: stop at S seconds of stream time (0: no limit)
  bool quiet = false;     // no progress line, no summary
  bool verbose = false;   // --verbose: filters' status texts as they change
  bool verboseNegotiation = false;
  std::string dotFile;    // --dot FILE
};

// Pauses, runs until the end of the stream, a limit or Ctrl-C, stops, and prints the summary.
// Returns the exit code.
int RunGraph(BuiltGraph& built, const RunOptions& options, const char* verb);
// Writes the graph as Graphviz DOT.
int WriteDot(const BuiltGraph& built, const std::string& file, const char* verb);

}  // namespace cli

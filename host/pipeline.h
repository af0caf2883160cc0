// The pipeline language of plenor run and plenor graph save:
//
//   TestPatternSource frames=10 ! FileWriter location=out.rgb
//   RawFrameSource location=clip_352x288.yuv ! I420ToRgbFilter ! ImageWriter location=snap.png
//   SRC ! mix.   SRC2 ! mix.   TileMixFilter name=mix ! NullRenderer
//   WavSource location=in.wav name=w   w. ! WavWriter location=a.wav
//
// Elements are separated by '!'. An element is FILTER [name=ID] [PARAM=VALUE ...]; a word ending
// in '.' ("ID.") refers to the element named ID: at the end of a chain it connects to that
// element's next free input pin, at the start of a chain it continues from its next free output
// pin. A word that follows an element without '!' starts a new chain. Words take double or single
// quotes (either may cover part of a word: "mode of operation"=1) and backslash escapes.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace cli {

struct PipelineElement {
  std::string filter;  // as typed (quotes removed)
  std::string name;    // name=ID, or "" (a name is made up when the graph is built)
  std::vector<std::pair<std::string, std::string>> params;  // in order; location included
};

// One end of a link: an element index, or a reference ID. that resolves to one.
struct PipelineLink {
  int from = -1;  // element index
  int to = -1;
};

struct Pipeline {
  std::vector<PipelineElement> elements;
  std::vector<PipelineLink> links;  // in the order written
};

// Parses the words of the command line (joined with spaces and split again, so that a pipeline
// may come as one argument or many). On failure returns false with a one-line reason.
bool ParsePipeline(const std::vector<std::string>& args, Pipeline* pipeline, std::string* error);

}  // namespace cli

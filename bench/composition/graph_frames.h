// Whole frames of the two composition filters through the graph manager with the registered
// plugins (graph_frames.cpp).
#pragma once

// Adds the InsetVideoFilter and TileMixFilter graph benchmarks.
void RegisterGraphFrameBenchmarks();
// Prints the frames per second each graph reached.
void PrintGraphFrameFigures();

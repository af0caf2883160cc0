// Shared helpers of the H.264 file source tests: NAL units and streams made by the tests (by
// hand, by the suite's codec library, by ffmpeg's x264), the modules registered in the test's
// registry, and the filter created as a host creates it. Graphs and files use rawframe_support.
#pragma once

#include <string>
#include <vector>

#include "sources/avcfile/avcfilesource.h"
#include "tests/sources/nalunit_builder.h"
#include "tests/sources/rawframe_support.h"

namespace avctest {

void WriteBytes(const std::string& path, const Bytes& bytes);
Bytes ReadBytes(const std::string& path);

// A stream coded by the suite's codec library: its SPS, its PPS, then one unit per picture
// (frame n of a moving test picture; every intraPeriod-th picture intra, 0: the first only).
// Returns the units in file order.
std::vector<Bytes> EncodeStream(int width, int height, int frames, int intraPeriod = 0);
// A baseline stream coded by x264 through ffmpeg from its test source (SPS, PPS, SEI, slices);
// false when ffmpeg fails.
bool X264Stream(const std::string& path, int width, int height, int frames, int keyint = 250);

// The units of a start-code stream as the reader cuts them.
std::vector<Bytes> SplitUnits(const Bytes& stream);

// Registers AvcFileSource.so, RawFrameSource.so and PlenorUtilities.so, and AvcDecodeFilter.so
// in the tests that name it (once per process).
void RegisterModules();
ComPtr<IBaseFilter> CreateAvcFileSource();

std::string LastError(IUnknown* filter);
ComPtr<IMediaSeeking> Seeking(IUnknown* filter);

}  // namespace avctest

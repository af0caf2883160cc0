// Helpers of the conversion filter tests: video media types, the scalar reference conversions
// the filters' output must equal, solid frames, and a harness chain (push source -> filter ->
// recording sink on a fake graph) for either filter.
#pragma once

#include <vector>

#include "framework/status.h"
#include "platform/strmbase/mtype.h"
#include "tests/support/filterchain.h"
#include "tests/support/harness.h"

namespace colourfilter {

using Bytes = std::vector<BYTE>;

// RGB24 / RGB32 bitmap type (rows padded to 4 bytes, biSizeImage = stride x |height|).
CMediaType RgbType(const GUID& subtype, LONG width, LONG height);
// A 12-bit planar YUV type with the subtype's FOURCC.
CMediaType YuvType(const GUID& subtype, LONG width, LONG height);
// The VIDEOINFOHEADER of a type (a zeroed one, and a test failure, when it has none).
VIDEOINFOHEADER VideoInfo(const AM_MEDIA_TYPE& mt);

// Row stride of an RGB bitmap.
inline long BitmapStride(long width, int bytesPerPixel) { return (width * bytesPerPixel + 3) / 4 * 4; }

// A w x h frame of one colour: rows of stride bytes (the padding left zero).
Bytes SolidRgb(int width, int height, int bytesPerPixel, long stride, BYTE r, BYTE g, BYTE b);
// Deterministic pseudo-random bytes.
Bytes RandomBytes(size_t n, unsigned seed);

// What the scalar reference converters give for a frame. The RGB source has rows of srcStride
// bytes; bottomUp: its first row in memory is the picture's bottom row. I420 output is packed (Y,
// U, V; chroma planes (w x h) / 4 bytes each).
Bytes ReferenceI420(const Bytes& rgb, int width, int height, int bytesPerPixel, long srcStride, bool bottomUp,
                    int offset);
// RGB24 output with rows of dstStride bytes (padding zero); bottomUp: bottom row first.
Bytes ReferenceRgb24(const Bytes& i420, int width, int height, bool bottomUp, int offset, long dstStride);

// What the filters define for the pixels outside the whole 2x2 blocks of an odd-sized picture:
// the last column repeats the one before it, the last row the row before it (memory rows; the
// picture's last row is memory row 0 when bottomUp); a picture 1 pixel wide or high is all 0.
// Applied to a reference frame at offset.
void ExpectOddEdges(Bytes* frame, size_t offset, long w, long h, long stride, int bpp, bool bottomUp);

// Registers RgbToI420Filter.so, I420ToRgbFilter.so and PlenorUtilities.so from the plugin folder
// in the test's registry (once per process).
void RegisterModules();

// push -> Filter -> sink on a fake graph, connected with the given input type and running; the
// filter's status object reports to the fake graph.
template <class Filter>
struct Chain : plenor::test::FilterChain<Filter> {
  explicit Chain(const CMediaType& input, LONG pushBufferSize, plenor::test::SinkOptions sinkOptions = {})
      : plenor::test::FilterChain<Filter>(plenor::test::MakeObject<Filter>(), input, pushBufferSize, sinkOptions,
                                          L"converter") {}
  // Pushes one frame; *received: the bytes the sink received for it (empty when none arrived).
  HRESULT PushFrame(const Bytes& frame, Bytes* received = nullptr) { return this->PushBytes(frame, received); }
};

}  // namespace colourfilter

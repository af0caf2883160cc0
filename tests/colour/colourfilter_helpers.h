// Helpers of the conversion filter tests: video media types, the scalar reference conversions
// the filters' output must equal, solid frames, and a harness chain (push source -> filter ->
// recording sink on a fake graph) for either filter.
#pragma once

#include <vector>

#include "framework/status.h"
#include "platform/strmbase/mtype.h"
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
struct Chain {
  explicit Chain(const CMediaType& input, LONG pushBufferSize, plenor::test::SinkOptions sinkOptions = {})
      : graph(plenor::test::FakeGraph::Create()),
        push(plenor::test::PushSource::Create({.offeredTypes = {input}, .bufferSize = pushBufferSize})),
        filter(plenor::test::MakeObject<Filter>()),
        sink(plenor::test::TestSink::Create(sinkOptions)) {
    graph->AddFilter(push.Get(), L"push");
    graph->AddFilter(Base(), L"converter");
    graph->AddFilter(sink.Get(), L"sink");
    filter->SetEventSink(static_cast<IMediaEventSink*>(graph.Get()));
    inputConnect = graph->Connect(push->OutputPin(), plenor::test::PinOf(Base(), 0).Get(), &input);
    if (SUCCEEDED(inputConnect)) outputConnect = graph->Connect(plenor::test::PinOf(Base(), 1).Get(), sink->InputPin());
    if (SUCCEEDED(outputConnect)) graph->Run();
  }
  ~Chain() {
    filter->SetEventSink(nullptr);
    graph->TearDown();
  }
  IBaseFilter* Base() { return static_cast<IBaseFilter*>(filter.Get()); }
  // The type the sink was connected with.
  CMediaType OutputType() {
    AM_MEDIA_TYPE mt{};
    CMediaType out;
    if (SUCCEEDED(sink->InputPin()->ConnectionMediaType(&mt))) {
      out.Set(mt);
      FreeMediaType(mt);
    }
    return out;
  }
  // Pushes one frame and returns the bytes the sink received for it (empty when none arrived).
  HRESULT PushFrame(const Bytes& frame, Bytes* received = nullptr) {
    const size_t before = sink->SampleCount();
    HRESULT hr = push->PushBytes(frame, 0, 1);
    if (received) {
      received->clear();
      std::vector<plenor::test::ReceivedSample> samples = sink->Samples();
      if (samples.size() > before) *received = samples.back().data;
    }
    return hr;
  }

  ComPtr<plenor::test::FakeGraph> graph;
  ComPtr<plenor::test::PushSource> push;
  ComPtr<Filter> filter;
  ComPtr<plenor::test::TestSink> sink;
  HRESULT inputConnect = E_FAIL;
  HRESULT outputConnect = E_FAIL;
};

}  // namespace colourfilter

// I420ToRgbFilter: converts planar YUV 4:2:0 video into RGB24 with the converter of
// kernels/.
//
// Input: MEDIATYPE_Video / the suite's YUV420P, I420 or YV12 / FORMAT_VideoInfo, always read as
// Y plane, U plane, V plane (I420 order; YV12 input therefore comes out with U and V exchanged),
// each chroma plane (width x height) / 4 bytes. Output: RGB24 bitmap rows (3 bytes per pixel,
// padded to a multiple of 4), bottom row first with a positive biHeight when "invert" is true,
// top row first with a negative biHeight when it is false.
//
// Parameters:
//   "chrominanceoffset"  signed  128   added to each chroma byte before it is read as a signed
//                                      value (low 8 bits take effect)
//   "invert"             flag    true  output rows bottom row first
// A change reaches the converter at once and takes effect from the next frame; a changed
// "invert" flips the rows written while the connected output type keeps its height sign.
//
// A sample shorter than one YUV frame, or an output buffer shorter than one RGB24 frame (an
// output type with a smaller picture than the input), fails the sample with a last-error text.
#pragma once

#include <memory>

#include "kernels/converters.h"
#include "framework/custombase.h"

// {31A717F5-4507-4B48-B895-E55AC6C855C2}
PLENOR_GUID(CLSID_I420ToRgbFilter, 0x31a717f5, 0x4507, 0x4b48, 0xb8, 0x95, 0xe5, 0x5a, 0xc6, 0xc8, 0x55, 0xc2);
// {ED0D9BFB-E6A0-47B7-AC56-72986AD0CBB5}
PLENOR_GUID(CLSID_YUV2RGBProperties, 0xed0d9bfb, 0xe6a0, 0x47b7, 0xac, 0x56, 0x72, 0x98, 0x6a, 0xd0, 0xcb, 0xb5);

class I420ToRgbFilter : public CCustomBaseFilter, public ISpecifyPropertyPages {
 public:
  // Creation function of the factory template. The filter is not aggregatable: pUnk is ignored.
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  I420ToRgbFilter();
  ~I420ToRgbFilter() override;

  DECLARE_IUNKNOWN
  // ISpecifyPropertyPages, then the base chain.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  // The one page, YUV2RGBProperties.
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  // "chrominanceoffset" (signed, 128), then "invert" (flag, true).
  void InitParameters() override;
  // The base, then the offset and orientation are copied into the converter (any thread).
  STDMETHODIMP SetParameter(const char* name, const char* value) override;

  // YUV420P, I420 and YV12 with FORMAT_VideoInfo.
  void InitialiseInputTypes() override;
  // The input table, then a readable VIDEOINFOHEADER with a picture whose RGB24 frame fits.
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  // Video RGB24 with a VIDEOINFOHEADER whose height sign agrees with "invert" (0 passes).
  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
  // Position 0: the input type made RGB24 (24 bits, height sign from "invert", one bitmap frame
  // per sample).
  HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
  // Buffers of one bitmap frame of the output format block (rows padded to 4 bytes).
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
  // The base; an input connection records the chroma plane size and sizes the converter.
  HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
  // Converts one frame. Streaming thread, under the receive lock.
  HRESULT ApplyTransform(BYTE* pIn, LONG lInBufferSize, LONG lInDataLength, BYTE* pOut, LONG lOutBufferSize,
                         LONG& lOutDataLength) override;

  // State for tests and diagnostics.
  const RealYUV420toRGB24Converter* Converter() const { return m_pConverter.get(); }
  int ChromaPlaneSize() const { return m_nChromaPlaneSize; }

 private:
  // Bytes of one input frame (Y plane and both chroma planes) and of one output bitmap frame.
  long long InputFrameBytes() const { return static_cast<long long>(m_nInPixels) + 2LL * m_nChromaPlaneSize; }
  long long OutputStride() const;
  long long OutputFrameBytes() const { return OutputStride() * m_nInHeight; }

  std::unique_ptr<RealYUV420toRGB24Converter> m_pConverter;  // for the filter's lifetime
  int m_nChromaPlaneSize = 0;      // input pixels / 4
  int m_nChrominanceOffset = 128;  // bound to "chrominanceoffset"
  bool m_bInvert = true;           // bound to "invert"
};

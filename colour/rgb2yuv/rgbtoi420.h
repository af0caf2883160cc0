// RgbToI420Filter: converts RGB24 or RGB32 video into planar YUV 4:2:0 in I420 order (Y plane,
// then U, then V; rows top to bottom) with the converters of kernels/.
//
// Input: MEDIATYPE_Video / RGB24 or RGB32 / FORMAT_VideoInfo. Output: I420 offered (position 0),
// I420, YV12 and the suite's YUV420P accepted, always written in I420 order, with the input's
// height made positive. One output frame holds the Y plane (width x height bytes) and two chroma
// planes of (width x height) / 4 bytes each.
//
// Parameters:
//   "chrominanceoffset"  signed  128   added to every signed chroma sample of RGB24 input (its
//                                      low 8 bits take effect); RGB32 input always uses 128
//   "invert"             flag    true  the input's first row in memory is the bottom row; set
//                                      afresh from the sign of biHeight at every input connection
// A change reaches the converter at once and takes effect from the next frame.
//
// Input rows are read with the bitmap stride (3 or 4 bytes per pixel, padded to a multiple of 4)
// when the sample holds that much, otherwise tightly packed. A sample shorter than one packed
// frame, or an output buffer shorter than one YUV frame, fails the sample with a last-error text.
#pragma once

#include <memory>

#include "kernels/converters.h"
#include "framework/custombase.h"
#include "platform/strmbase/wxutil.h"

// {2F7C38CD-EDBF-436B-8692-8ACF3C65226A}
PLENOR_GUID(CLSID_RgbToI420Filter, 0x2f7c38cd, 0xedbf, 0x436b, 0x86, 0x92, 0x8a, 0xcf, 0x3c, 0x65, 0x22, 0x6a);
// {85738B96-3290-4A34-8979-8502D098A6EF}
PLENOR_GUID(CLSID_RGB2YUVProperties, 0x85738b96, 0x3290, 0x4a34, 0x89, 0x79, 0x85, 0x02, 0xd0, 0x98, 0xa6, 0xef);

class RgbToI420Filter : public CCustomBaseFilter, public ISpecifyPropertyPages {
 public:
  // Creation function of the factory template. The filter is not aggregatable: pUnk is ignored.
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  RgbToI420Filter();
  ~RgbToI420Filter() override;

  DECLARE_IUNKNOWN
  // ISpecifyPropertyPages, then the base chain.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  // The one page, RGB2YUVProperties.
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  // "chrominanceoffset" (signed, 128) and "invert" (flag, true).
  void InitParameters() override;
  // The base, then the offset and orientation are copied into the converter (any thread).
  STDMETHODIMP SetParameter(const char* name, const char* value) override;

  // RGB24 and RGB32 with FORMAT_VideoInfo.
  void InitialiseInputTypes() override;
  // The input table, then a readable VIDEOINFOHEADER with a picture PictureFits.
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  // Video I420, YV12 or YUV420P with a VIDEOINFOHEADER whose biHeight is |input biHeight|.
  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
  // Position 0: the input type made I420 (12 bits, positive height, one YUV frame per sample).
  HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
  // Buffers of one YUV frame.
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
  // The base; an input connection records the chroma plane size and orientation and builds the
  // converter for the subtype (E_OUTOFMEMORY, no converter, when it cannot be built).
  HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) override;
  // Converts one frame. Streaming thread, under the receive lock.
  HRESULT ApplyTransform(BYTE* pIn, LONG lInBufferSize, LONG lInDataLength, BYTE* pOut, LONG lOutBufferSize,
                         LONG& lOutDataLength) override;

  // State for tests and diagnostics.
  const RGBtoYUV420Converter* Converter() const { return m_pConverter.get(); }
  int ChromaPlaneSize() const { return m_nChromaPlaneSize; }
  bool Inverted() const { return m_bInvert; }

 private:
  // Bytes of one output frame: the Y plane and both chroma planes.
  long long FrameBytes() const { return static_cast<long long>(m_nInPixels) + 2LL * m_nChromaPlaneSize; }

  std::unique_ptr<RGBtoYUV420Converter> m_pConverter;
  int m_nChromaPlaneSize = 0;     // input pixels / 4
  int m_nChrominanceOffset = 128; // bound to "chrominanceoffset"
  bool m_bInvert = true;          // bound to "invert"
  int m_nBytesPerPixel = 3;       // of the connected input subtype
  // Guards m_pConverter against replacement (input connection) while SetParameter writes into
  // it from another thread. The streaming thread does not take it: the converter is only
  // replaced while the filter is stopped.
  CCritSec m_csConverter;
};

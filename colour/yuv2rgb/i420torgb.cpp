#include "colour/yuv2rgb/i420torgb.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "colour/common/videoframe.h"
#include "framework/pages.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"

using colour::VideoInfoOf;

namespace {
constexpr int kRgbBytes = 3;
}  // namespace

CUnknown* I420ToRgbFilter::CreateInstance(LPUNKNOWN /*pUnk*/, HRESULT* phr) {
  try {
    return new I420ToRgbFilter;
  } catch (const std::bad_alloc&) {
    if (phr) *phr = E_OUTOFMEMORY;
    return nullptr;
  }
}

I420ToRgbFilter::I420ToRgbFilter()
    : CCustomBaseFilter(CLSID_I420ToRgbFilter), m_pConverter(std::make_unique<RealYUV420toRGB24Converter>()) {
  InitialiseInputTypes();
  InitParameters();
  m_pConverter->m_bInvert = m_bInvert;
  m_pConverter->m_nChromaOffset = m_nChrominanceOffset;
}

I420ToRgbFilter::~I420ToRgbFilter() = default;

STDMETHODIMP I420ToRgbFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  return CCustomBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP I420ToRgbFilter::GetPages(CAUUID* pPages) { return GetSinglePropertyPage(pPages, CLSID_YUV2RGBProperties); }

void I420ToRgbFilter::InitParameters() {
  AddParameter("chrominanceoffset", &m_nChrominanceOffset, 128);
  AddParameter("invert", &m_bInvert, true);
}

STDMETHODIMP I420ToRgbFilter::SetParameter(const char* name, const char* value) {
  if (FAILED(CCustomBaseFilter::SetParameter(name, value))) return E_FAIL;
  m_pConverter->m_nChromaOffset = m_nChrominanceOffset;
  m_pConverter->m_bInvert = m_bInvert;
  return S_OK;
}

void I420ToRgbFilter::InitialiseInputTypes() {
  AddInputType(&MEDIATYPE_Video, &MEDIASUBTYPE_PLENOR_YUV420P, &FORMAT_VideoInfo);
  AddInputType(&MEDIATYPE_Video, &MEDIASUBTYPE_I420, &FORMAT_VideoInfo);
  AddInputType(&MEDIATYPE_Video, &MEDIASUBTYPE_YV12, &FORMAT_VideoInfo);
}

HRESULT I420ToRgbFilter::CheckInputType(const CMediaType* mtIn) {
  HRESULT hr = CCustomBaseFilter::CheckInputType(mtIn);
  if (hr != S_OK) return hr;
  const VIDEOINFOHEADER* vih = VideoInfoOf(*mtIn);
  if (!vih || !colour::PictureFits(vih->bmiHeader, kRgbBytes)) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT I420ToRgbFilter::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
  if (!mtIn || !mtOut) return E_POINTER;
  if (*mtOut->Type() != MEDIATYPE_Video || *mtOut->Subtype() != MEDIASUBTYPE_RGB24) return VFW_E_TYPE_NOT_ACCEPTED;
  if (*mtOut->FormatType() != FORMAT_VideoInfo) return VFW_E_TYPE_NOT_ACCEPTED;
  const VIDEOINFOHEADER* out = VideoInfoOf(*mtOut);
  if (!out) return VFW_E_TYPE_NOT_ACCEPTED;  // the buffers are sized from it
  // The height's sign must say the row order "invert" writes.
  const LONG height = out->bmiHeader.biHeight;
  if ((m_bInvert && height < 0) || (!m_bInvert && height > 0)) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT I420ToRgbFilter::GetMediaType(int iPosition, CMediaType* pMediaType) {
  if (iPosition < 0) return E_INVALIDARG;
  if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
  if (!pMediaType) return E_POINTER;
  HRESULT hr = CopyInputConnectionType(pMediaType);
  if (FAILED(hr)) return hr;
  VIDEOINFOHEADER* vih = VideoInfoOf(*pMediaType);
  if (!vih) return E_UNEXPECTED;  // the input check lets no such type through
  BITMAPINFOHEADER& bmi = vih->bmiHeader;
  bmi.biBitCount = 24;
  bmi.biSizeImage = static_cast<DWORD>(OutputFrameBytes());
  if ((m_bInvert && bmi.biHeight < 0) || (!m_bInvert && bmi.biHeight > 0)) bmi.biHeight = -bmi.biHeight;
  pMediaType->SetSampleSize(bmi.biSizeImage);
  bmi.biCompression = BI_RGB;
  pMediaType->SetSubtype(&MEDIASUBTYPE_RGB24);
  return S_OK;
}

HRESULT I420ToRgbFilter::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
  if (!pAlloc || !pProp) return E_POINTER;
  AM_MEDIA_TYPE output{};
  HRESULT hr = m_pOutput->ConnectionMediaType(&output);
  if (FAILED(hr)) return hr;
  // One bitmap frame of the output format block, computed wide so that no size can wrap.
  long long bytes = -1;
  if (const VIDEOINFOHEADER* vih = VideoInfoOf(output)) {
    const BITMAPINFOHEADER& bmi = vih->bmiHeader;
    const long long stride = (static_cast<long long>(bmi.biBitCount) * bmi.biWidth + 31) / 32 * 4;
    const long long height = bmi.biHeight < 0 ? -static_cast<long long>(bmi.biHeight) : bmi.biHeight;
    bytes = stride * height;
  }
  FreeMediaType(output);
  if (bytes <= 0 || bytes > INT32_MAX) return E_FAIL;
  return colour::SetBufferSize(pAlloc, pProp, static_cast<LONG>(bytes));
}

HRESULT I420ToRgbFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
  HRESULT hr = CCustomBaseFilter::SetMediaType(direction, pmt);
  if (FAILED(hr) || direction != PINDIR_INPUT) return hr;
  m_nChromaPlaneSize = m_nInPixels >> 2;
  m_pConverter->m_nWidth = m_nInWidth;
  m_pConverter->m_nHeight = m_nInHeight;
  return hr;
}

long long I420ToRgbFilter::OutputStride() const { return colour::BitmapStride(m_nInWidth, kRgbBytes); }

HRESULT I420ToRgbFilter::ApplyTransform(BYTE* pIn, LONG lInBufferSize, LONG lInDataLength, BYTE* pOut,
                                        LONG lOutBufferSize, LONG& lOutDataLength) {
  const long long width = m_nInWidth, height = m_nInHeight;
  const long long available = std::max<LONG>(0, std::min(lInDataLength, lInBufferSize));
  const long long inFrame = InputFrameBytes();
  if (available < inFrame)
    return colour::ReportSampleFailure(
        this, E_INVALIDARG, "Input sample of %lld bytes is shorter than one %lldx%lld YUV 4:2:0 frame (%lld bytes)",
        available, width, height, inFrame);
  const long long stride = OutputStride();
  const long long outFrame = stride * height;
  if (lOutBufferSize < outFrame)
    return colour::ReportSampleFailure(this, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
                                       "Output buffer of %ld bytes is shorter than one %lldx%lld RGB24 frame (%lld bytes)",
                                       static_cast<long>(lOutBufferSize), width, height, outFrame);

  const LONG chromaStride = static_cast<LONG>(width / 2);
  const BYTE* pU = pIn + m_nInPixels;
  const BYTE* pV = pU + m_nChromaPlaneSize;
  m_pConverter->ConvertStrided(pIn, static_cast<LONG>(width), pU, chromaStride, pV, chromaStride, pOut,
                               static_cast<LONG>(stride));
  // An odd last column or row is not converted: it repeats its neighbour (videoframe.h).
  colour::CompleteOddEdges(pOut, width, height, stride, kRgbBytes, m_pConverter->m_bInvert);
  // The bytes that pad each row to 4 are part of the frame but no pixel: keep them zero.
  const long long pad = stride - kRgbBytes * width;
  if (pad > 0)
    for (long long row = 0; row < height; ++row) std::memset(pOut + row * stride + kRgbBytes * width, 0, pad);
  lOutDataLength = static_cast<LONG>(outFrame);
  return S_OK;
}

#include "colour/rgb2yuv/rgbtoi420.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "colour/common/videoframe.h"
#include "framework/pages.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"

using colour::VideoInfoOf;

namespace {

bool IsYuvOutput(const GUID& subtype) {
  return subtype == MEDIASUBTYPE_I420 || subtype == MEDIASUBTYPE_YV12 || subtype == MEDIASUBTYPE_PLENOR_YUV420P;
}

int BytesPerPixel(const GUID& subtype) { return subtype == MEDIASUBTYPE_RGB32 ? 4 : 3; }

}  // namespace

CUnknown* RgbToI420Filter::CreateInstance(LPUNKNOWN /*pUnk*/, HRESULT* phr) {
  try {
    return new RgbToI420Filter;
  } catch (const std::bad_alloc&) {
    if (phr) *phr = E_OUTOFMEMORY;
    return nullptr;
  }
}

RgbToI420Filter::RgbToI420Filter() : CCustomBaseFilter(CLSID_RgbToI420Filter) {
  InitialiseInputTypes();
  InitParameters();
}

RgbToI420Filter::~RgbToI420Filter() = default;

STDMETHODIMP RgbToI420Filter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  return CCustomBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP RgbToI420Filter::GetPages(CAUUID* pPages) { return GetSinglePropertyPage(pPages, CLSID_RGB2YUVProperties); }

void RgbToI420Filter::InitParameters() {
  AddParameter("chrominanceoffset", &m_nChrominanceOffset, 128);
  AddParameter("invert", &m_bInvert, true);
}

STDMETHODIMP RgbToI420Filter::SetParameter(const char* name, const char* value) {
  if (FAILED(CCustomBaseFilter::SetParameter(name, value))) return E_FAIL;
  CAutoLock lock(&m_csConverter);
  if (m_pConverter) {
    m_pConverter->m_nChromaOffset = m_nChrominanceOffset;
    m_pConverter->m_bInvert = m_bInvert;
  }
  return S_OK;
}

void RgbToI420Filter::InitialiseInputTypes() {
  AddInputType(&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24, &FORMAT_VideoInfo);
  AddInputType(&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32, &FORMAT_VideoInfo);
}

HRESULT RgbToI420Filter::CheckInputType(const CMediaType* mtIn) {
  HRESULT hr = CCustomBaseFilter::CheckInputType(mtIn);
  if (hr != S_OK) return hr;
  const VIDEOINFOHEADER* vih = VideoInfoOf(*mtIn);
  if (!vih || !colour::PictureFits(vih->bmiHeader, BytesPerPixel(*mtIn->Subtype()))) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT RgbToI420Filter::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
  if (!mtIn || !mtOut) return E_POINTER;
  if (*mtOut->Type() != MEDIATYPE_Video || !IsYuvOutput(*mtOut->Subtype())) return VFW_E_TYPE_NOT_ACCEPTED;
  if (*mtOut->FormatType() != FORMAT_VideoInfo) return VFW_E_TYPE_NOT_ACCEPTED;
  // The output's height is the input's made positive: the planes are always written top down.
  const VIDEOINFOHEADER* in = VideoInfoOf(*mtIn);
  const VIDEOINFOHEADER* out = VideoInfoOf(*mtOut);
  if (!in || !out) return VFW_E_TYPE_NOT_ACCEPTED;
  const long long inHeight = in->bmiHeader.biHeight;
  if (out->bmiHeader.biHeight != (inHeight < 0 ? -inHeight : inHeight)) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT RgbToI420Filter::GetMediaType(int iPosition, CMediaType* pMediaType) {
  if (iPosition < 0) return E_INVALIDARG;
  if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
  if (!pMediaType) return E_POINTER;
  HRESULT hr = CopyInputConnectionType(pMediaType);
  if (FAILED(hr)) return hr;
  pMediaType->SetType(&MEDIATYPE_Video);
  pMediaType->SetSubtype(&MEDIASUBTYPE_I420);
  pMediaType->SetFormatType(&FORMAT_VideoInfo);
  VIDEOINFOHEADER* vih = VideoInfoOf(*pMediaType);
  if (!vih) return E_UNEXPECTED;  // the input check lets no such type through
  BITMAPINFOHEADER& bmi = vih->bmiHeader;
  bmi.biBitCount = 12;
  bmi.biCompression = MAKEFOURCC('I', '4', '2', '0');
  if (bmi.biHeight < 0) bmi.biHeight = -bmi.biHeight;
  bmi.biSizeImage = static_cast<DWORD>(FrameBytes());
  pMediaType->SetSampleSize(bmi.biSizeImage);
  return S_OK;
}

HRESULT RgbToI420Filter::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
  if (!pAlloc || !pProp) return E_POINTER;
  AM_MEDIA_TYPE output{};
  HRESULT hr = m_pOutput->ConnectionMediaType(&output);
  if (FAILED(hr)) return hr;
  FreeMediaType(output);
  return colour::SetBufferSize(pAlloc, pProp, static_cast<LONG>(FrameBytes()));
}

HRESULT RgbToI420Filter::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
  HRESULT hr = CCustomBaseFilter::SetMediaType(direction, pmt);
  if (FAILED(hr) || direction != PINDIR_INPUT || !pmt) return hr;
  m_nChromaPlaneSize = m_nInPixels >> 2;
  if (*pmt->Type() != MEDIATYPE_Video) return hr;
  if (const VIDEOINFOHEADER* vih = VideoInfoOf(*pmt)) m_bInvert = vih->bmiHeader.biHeight >= 0;

  const GUID& subtype = *pmt->Subtype();
  std::unique_ptr<RGBtoYUV420Converter> converter;
  try {
    if (subtype == MEDIASUBTYPE_RGB24)
      converter = std::make_unique<RealRGB24toYUV420Converter>(m_nInWidth, m_nInHeight, m_nChrominanceOffset);
    else if (subtype == MEDIASUBTYPE_RGB32)
      converter = std::make_unique<RealRGB32toYUV420Converter>(m_nInWidth, m_nInHeight);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;  // the connection is refused; no converter is left behind
  }
  if (converter) {
    converter->m_bInvert = m_bInvert;
    converter->m_nChromaOffset = m_nChrominanceOffset;
  }
  m_nBytesPerPixel = BytesPerPixel(subtype);
  CAutoLock lock(&m_csConverter);
  m_pConverter = std::move(converter);
  return hr;
}

HRESULT RgbToI420Filter::ApplyTransform(BYTE* pIn, LONG lInBufferSize, LONG lInDataLength, BYTE* pOut,
                                        LONG lOutBufferSize, LONG& lOutDataLength) {
  RGBtoYUV420Converter* converter = m_pConverter.get();
  if (!converter)
    return colour::ReportSampleFailure(this, E_UNEXPECTED, "No converter for the connected input type");

  const long long width = m_nInWidth, height = m_nInHeight;
  const long long packed = width * m_nBytesPerPixel;
  const long long padded = colour::BitmapStride(width, m_nBytesPerPixel);
  const long long available = std::max<LONG>(0, std::min(lInDataLength, lInBufferSize));
  // Bitmap rows are padded to 4 bytes; a sender that packs them sends a shorter frame.
  long long stride;
  if (available >= padded * height)
    stride = padded;
  else if (available >= packed * height)
    stride = packed;
  else
    return colour::ReportSampleFailure(
        this, E_INVALIDARG, "Input sample of %lld bytes is shorter than one %lldx%lld RGB%d frame (%lld bytes)",
        available, width, height, 8 * m_nBytesPerPixel, packed * height);

  const long long frame = FrameBytes();
  if (lOutBufferSize < frame)
    return colour::ReportSampleFailure(this, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
                                       "Output buffer of %ld bytes is shorter than one YUV 4:2:0 frame (%lld bytes)",
                                       static_cast<long>(lOutBufferSize), frame);

  BYTE* pU = pOut + m_nInPixels;
  BYTE* pV = pU + m_nChromaPlaneSize;
  const LONG chromaStride = static_cast<LONG>(width / 2);
  converter->ConvertStrided(pIn, static_cast<LONG>(stride),
                            YUV420Planes{pOut, pU, pV, static_cast<LONG>(width), chromaStride, chromaStride});
  // An odd last Y column or row is not converted: it repeats its neighbour (videoframe.h). Each
  // chroma plane holds (width / 2) x (height / 2) samples in the pixels / 4 bytes the frame gives
  // it; the bytes left over (odd sizes only) are padding and zero.
  colour::CompleteOddEdges(pOut, width, height, width, 1, false);
  const long long chroma = (width / 2) * (height / 2);
  if (m_nChromaPlaneSize > chroma) {
    std::memset(pU + chroma, 0, static_cast<size_t>(m_nChromaPlaneSize - chroma));
    std::memset(pV + chroma, 0, static_cast<size_t>(m_nChromaPlaneSize - chroma));
  }
  lOutDataLength = static_cast<LONG>(frame);
  return S_OK;
}

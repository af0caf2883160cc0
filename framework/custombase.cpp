#include "framework/custombase.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"

namespace {

// |height| and |height x width| of a bitmap header, computed in 64 bits. False (and nothing
// stored) when either does not fit the 32-bit members: a height of INT_MIN has no positive
// 32-bit value, and 65536 x 65536 pixels would wrap to 0.
bool PictureSize(const BITMAPINFOHEADER& bmi, int* height, int* width, int* pixels) {
  const long long h = std::llabs(static_cast<long long>(bmi.biHeight));
  const long long p = std::llabs(h * bmi.biWidth);
  if (h > INT_MAX || p > INT_MAX) return false;
  *height = static_cast<int>(h);
  *width = bmi.biWidth;
  *pixels = static_cast<int>(p);
  return true;
}

HRESULT RefuseSize(CStatusInterface* status, const BITMAPINFOHEADER& bmi) {
  char text[200];
  std::snprintf(text, sizeof text,
                "Refused a picture of %ld x %ld: its height or pixel count does not fit in 32 bits",
                static_cast<long>(bmi.biWidth), static_cast<long>(bmi.biHeight));
  status->SetLastErrorText(text, true);
  return VFW_E_TYPE_NOT_ACCEPTED;
}

bool Matches(const GUID* row, const GUID& value) { return row == nullptr || *row == value; }

}  // namespace

CCustomBaseFilter::CCustomBaseFilter(REFCLSID clsid)
    : CTransformFilter(nullptr, nullptr, clsid), CSettingsInterface(GetOwner()), CStatusInterface(GetOwner()) {}

CCustomBaseFilter::~CCustomBaseFilter() = default;

STDMETHODIMP CCustomBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_ISettingsInterface) return GetInterface(static_cast<ISettingsInterface*>(this), ppv);
  if (riid == IID_IStatusInterface) return GetInterface(static_cast<IStatusInterface*>(this), ppv);
  return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

void CCustomBaseFilter::AddInputType(const GUID* pMajorType, const GUID* pSubType, const GUID* pFormat) {
  m_vInTypes.push_back(pMajorType);
  m_vInSubTypes.push_back(pSubType);
  m_vInFormats.push_back(pFormat);
}

HRESULT CCustomBaseFilter::CheckInputType(const CMediaType* mtIn) {
  if (!mtIn) return E_POINTER;
  for (size_t i = 0; i < m_vInTypes.size(); ++i) {
    if (Matches(m_vInTypes[i], *mtIn->Type()) && Matches(m_vInSubTypes[i], *mtIn->Subtype()) &&
        Matches(m_vInFormats[i], *mtIn->FormatType()))
      return S_OK;
  }
  return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CCustomBaseFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
  if (!pmt || !pmt->Format()) return S_OK;
  const GUID& format = *pmt->FormatType();
  if (direction == PINDIR_INPUT) {
    if (format == FORMAT_VideoInfo && pmt->FormatLength() >= sizeof(VIDEOINFOHEADER)) {
      VIDEOINFOHEADER vih;
      std::memcpy(&vih, pmt->Format(), sizeof vih);
      if (!PictureSize(vih.bmiHeader, &m_nInHeight, &m_nInWidth, &m_nInPixels)) return RefuseSize(this, vih.bmiHeader);
      m_vihIn = vih;
    } else if ((format == FORMAT_VideoInfo2 || format == FORMAT_MPEG2Video) &&
               pmt->FormatLength() >= sizeof(VIDEOINFOHEADER2)) {
      VIDEOINFOHEADER2 vih2;
      std::memcpy(&vih2, pmt->Format(), sizeof vih2);
      if (!PictureSize(vih2.bmiHeader, &m_nInHeight, &m_nInWidth, &m_nInPixels))
        return RefuseSize(this, vih2.bmiHeader);
    }
  } else if (direction == PINDIR_OUTPUT) {
    if (format == FORMAT_VideoInfo && pmt->FormatLength() >= sizeof(VIDEOINFOHEADER)) {
      VIDEOINFOHEADER vih;
      std::memcpy(&vih, pmt->Format(), sizeof vih);
      if (!PictureSize(vih.bmiHeader, &m_nOutHeight, &m_nOutWidth, &m_nOutPixels))
        return RefuseSize(this, vih.bmiHeader);
      m_vihOut = vih;
    }
  }
  return S_OK;
}

HRESULT CCustomBaseFilter::Transform(IMediaSample* pIn, IMediaSample* pOut) {
  if (!pIn || !pOut) return E_POINTER;
  const LONG inSize = pIn->GetSize();
  const LONG outSize = pOut->GetSize();
  const LONG inLength = pIn->GetActualDataLength();
  BYTE* pInData = nullptr;
  HRESULT hr = pIn->GetPointer(&pInData);
  if (FAILED(hr)) return hr;
  BYTE* pOutData = nullptr;
  hr = pOut->GetPointer(&pOutData);
  if (FAILED(hr)) return hr;
  LONG outLength = 0;
  hr = ApplyTransform(pInData, inSize, inLength, pOutData, outSize, outLength);
  if (SUCCEEDED(hr)) {
    pOut->SetActualDataLength(outLength);
    pOut->SetSyncPoint(TRUE);
  }
  return hr;
}

HRESULT CCustomBaseFilter::CopyInputConnectionType(CMediaType* pMediaType) const {
  AM_MEDIA_TYPE connected{};
  HRESULT hr = m_pInput->ConnectionMediaType(&connected);
  if (FAILED(hr)) return hr;
  hr = pMediaType->Set(connected);
  FreeMediaType(connected);
  return hr;
}

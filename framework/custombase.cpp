#include "framework/custombase.h"

#include <cstdlib>
#include <cstring>

#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"

namespace {

// |height| and |height x width| of a bitmap header, computed in 64 bits so that hostile sizes
// cannot overflow.
void PictureSize(const BITMAPINFOHEADER& bmi, int* height, int* width, int* pixels) {
  long long h = std::llabs(static_cast<long long>(bmi.biHeight));
  *height = static_cast<int>(h);
  *width = bmi.biWidth;
  *pixels = static_cast<int>(std::llabs(h * bmi.biWidth));
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
      std::memcpy(&m_vihIn, pmt->Format(), sizeof(VIDEOINFOHEADER));
      PictureSize(m_vihIn.bmiHeader, &m_nInHeight, &m_nInWidth, &m_nInPixels);
    } else if ((format == FORMAT_VideoInfo2 || format == FORMAT_MPEG2Video) &&
               pmt->FormatLength() >= sizeof(VIDEOINFOHEADER2)) {
      VIDEOINFOHEADER2 vih2;
      std::memcpy(&vih2, pmt->Format(), sizeof vih2);
      PictureSize(vih2.bmiHeader, &m_nInHeight, &m_nInWidth, &m_nInPixels);
    }
  } else if (direction == PINDIR_OUTPUT) {
    if (format == FORMAT_VideoInfo && pmt->FormatLength() >= sizeof(VIDEOINFOHEADER)) {
      std::memcpy(&m_vihOut, pmt->Format(), sizeof(VIDEOINFOHEADER));
      PictureSize(m_vihOut.bmiHeader, &m_nOutHeight, &m_nOutWidth, &m_nOutPixels);
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

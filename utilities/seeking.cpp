#include "utilities/seeking.h"

#include "platform/strmbase/uuids.h"

namespace plenor::utilities {

STDMETHODIMP CMediaTimeSeeking::GetCapabilities(DWORD* pCapabilities) {
  if (!pCapabilities) return E_POINTER;
  *pCapabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                   AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration;
  return S_OK;
}

STDMETHODIMP CMediaTimeSeeking::CheckCapabilities(DWORD* pCapabilities) {
  if (!pCapabilities) return E_POINTER;
  DWORD have = 0;
  GetCapabilities(&have);
  const DWORD asked = *pCapabilities;
  *pCapabilities &= have;
  if (*pCapabilities == asked) return S_OK;
  return *pCapabilities ? S_FALSE : E_FAIL;
}

STDMETHODIMP CMediaTimeSeeking::IsFormatSupported(const GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

STDMETHODIMP CMediaTimeSeeking::QueryPreferredFormat(GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  *pFormat = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

STDMETHODIMP CMediaTimeSeeking::GetTimeFormat(GUID* pFormat) { return QueryPreferredFormat(pFormat); }

STDMETHODIMP CMediaTimeSeeking::IsUsingTimeFormat(const GUID* pFormat) { return IsFormatSupported(pFormat); }

STDMETHODIMP CMediaTimeSeeking::SetTimeFormat(const GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

STDMETHODIMP CMediaTimeSeeking::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                                  const GUID* pSourceFormat) {
  if (!pTarget) return E_POINTER;
  auto media = [](const GUID* g) { return !g || *g == TIME_FORMAT_MEDIA_TIME; };
  if (!media(pTargetFormat) || !media(pSourceFormat)) return E_INVALIDARG;
  *pTarget = Source;
  return S_OK;
}

STDMETHODIMP CMediaTimeSeeking::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
  if (pCurrent) {
    HRESULT hr = GetCurrentPosition(pCurrent);
    if (FAILED(hr)) return hr;
  }
  if (pStop) return GetStopPosition(pStop);
  return S_OK;
}

STDMETHODIMP CMediaTimeSeeking::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
  if (pEarliest) *pEarliest = 0;
  if (pLatest) return GetDuration(pLatest);
  return S_OK;
}

STDMETHODIMP CMediaTimeSeeking::SetRate(double dRate) { return dRate == 1.0 ? S_OK : E_INVALIDARG; }

STDMETHODIMP CMediaTimeSeeking::GetRate(double* pdRate) {
  if (!pdRate) return E_POINTER;
  *pdRate = 1.0;
  return S_OK;
}

STDMETHODIMP CMediaTimeSeeking::GetPreroll(LONGLONG* pllPreroll) {
  if (!pllPreroll) return E_POINTER;
  *pllPreroll = 0;
  return S_OK;
}

HRESULT CMediaTimeSeeking::CheckPositionArguments(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                                  DWORD dwStopFlags) {
  if ((dwCurrentFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_NoPositioning && !pCurrent) return E_POINTER;
  if ((dwStopFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_NoPositioning && !pStop) return E_POINTER;
  return S_OK;
}

}  // namespace plenor::utilities

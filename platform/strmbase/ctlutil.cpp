#include "platform/strmbase/ctlutil.h"

#include <memory>

CPosPassThru::CPosPassThru(const wchar_t* pName, LPUNKNOWN pUnk, HRESULT* phr, IPin* pPin)
    : CUnknown(pName, pUnk, phr), m_pPin(pPin) {
  if (!pPin && phr) *phr = E_POINTER;
}

STDMETHODIMP CPosPassThru::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CPosPassThru::GetPeerSeeking(ComPtr<IMediaSeeking>* ppMS) {
  ComPtr<IPin> peer;
  HRESULT hr = m_pPin->ConnectedTo(&peer);
  if (FAILED(hr) || !peer) return VFW_E_NOT_CONNECTED;
  // The upstream pin first (transform output pins answer there), then its filter (sources).
  if (SUCCEEDED(peer->QueryInterface(IID_IMediaSeeking, ppMS->AsOut())) && *ppMS) return S_OK;
  PIN_INFO info{};
  hr = peer->QueryPinInfo(&info);
  if (FAILED(hr) || !info.pFilter) return E_NOTIMPL;
  ComPtr<IBaseFilter> filter = ComPtr<IBaseFilter>::Attach(info.pFilter);
  if (SUCCEEDED(filter->QueryInterface(IID_IMediaSeeking, ppMS->AsOut())) && *ppMS) return S_OK;
  return E_NOTIMPL;
}

#define PASS_THROUGH(call)                  \
  ComPtr<IMediaSeeking> ms;                 \
  HRESULT hr = GetPeerSeeking(std::addressof(ms)); \
  if (FAILED(hr)) return hr;                \
  return ms->call

STDMETHODIMP CPosPassThru::GetCapabilities(DWORD* p) { PASS_THROUGH(GetCapabilities(p)); }
STDMETHODIMP CPosPassThru::CheckCapabilities(DWORD* p) { PASS_THROUGH(CheckCapabilities(p)); }
STDMETHODIMP CPosPassThru::IsFormatSupported(const GUID* p) { PASS_THROUGH(IsFormatSupported(p)); }
STDMETHODIMP CPosPassThru::QueryPreferredFormat(GUID* p) { PASS_THROUGH(QueryPreferredFormat(p)); }
STDMETHODIMP CPosPassThru::GetTimeFormat(GUID* p) { PASS_THROUGH(GetTimeFormat(p)); }
STDMETHODIMP CPosPassThru::IsUsingTimeFormat(const GUID* p) { PASS_THROUGH(IsUsingTimeFormat(p)); }
STDMETHODIMP CPosPassThru::SetTimeFormat(const GUID* p) { PASS_THROUGH(SetTimeFormat(p)); }
STDMETHODIMP CPosPassThru::GetDuration(LONGLONG* p) { PASS_THROUGH(GetDuration(p)); }
STDMETHODIMP CPosPassThru::GetStopPosition(LONGLONG* p) { PASS_THROUGH(GetStopPosition(p)); }
STDMETHODIMP CPosPassThru::GetCurrentPosition(LONGLONG* p) { PASS_THROUGH(GetCurrentPosition(p)); }
STDMETHODIMP CPosPassThru::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                             const GUID* pSourceFormat) {
  PASS_THROUGH(ConvertTimeFormat(pTarget, pTargetFormat, Source, pSourceFormat));
}
STDMETHODIMP CPosPassThru::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) {
  PASS_THROUGH(SetPositions(pCurrent, dwCurrentFlags, pStop, dwStopFlags));
}
STDMETHODIMP CPosPassThru::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
  PASS_THROUGH(GetPositions(pCurrent, pStop));
}
STDMETHODIMP CPosPassThru::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
  PASS_THROUGH(GetAvailable(pEarliest, pLatest));
}
STDMETHODIMP CPosPassThru::SetRate(double dRate) { PASS_THROUGH(SetRate(dRate)); }
STDMETHODIMP CPosPassThru::GetRate(double* pdRate) { PASS_THROUGH(GetRate(pdRate)); }
STDMETHODIMP CPosPassThru::GetPreroll(LONGLONG* p) { PASS_THROUGH(GetPreroll(p)); }

#undef PASS_THROUGH

// =============================================================================================
// CSourceSeeking

CSourceSeeking::CSourceSeeking(const wchar_t* pName, LPUNKNOWN pUnk, HRESULT* phr, CCritSec* pLock)
    : CUnknown(pName, pUnk, phr),
      m_dwSeekingCaps(AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanSeekAbsolute |
                      AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration),
      m_pLock(pLock) {}

STDMETHODIMP CSourceSeeking::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CSourceSeeking::GetCapabilities(DWORD* pCapabilities) {
  if (!pCapabilities) return E_POINTER;
  *pCapabilities = m_dwSeekingCaps;
  return S_OK;
}

STDMETHODIMP CSourceSeeking::CheckCapabilities(DWORD* pCapabilities) {
  if (!pCapabilities) return E_POINTER;
  DWORD asked = *pCapabilities;
  *pCapabilities &= m_dwSeekingCaps;
  if (*pCapabilities == asked) return S_OK;
  return *pCapabilities ? S_FALSE : E_FAIL;
}

STDMETHODIMP CSourceSeeking::IsFormatSupported(const GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

STDMETHODIMP CSourceSeeking::QueryPreferredFormat(GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  *pFormat = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

STDMETHODIMP CSourceSeeking::GetTimeFormat(GUID* pFormat) { return QueryPreferredFormat(pFormat); }

STDMETHODIMP CSourceSeeking::IsUsingTimeFormat(const GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

STDMETHODIMP CSourceSeeking::SetTimeFormat(const GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

STDMETHODIMP CSourceSeeking::GetDuration(LONGLONG* pDuration) {
  if (!pDuration) return E_POINTER;
  CAutoLock lock(m_pLock);
  *pDuration = m_rtDuration;
  return S_OK;
}

STDMETHODIMP CSourceSeeking::GetStopPosition(LONGLONG* pStop) {
  if (!pStop) return E_POINTER;
  CAutoLock lock(m_pLock);
  *pStop = m_rtStop;
  return S_OK;
}

STDMETHODIMP CSourceSeeking::GetCurrentPosition(LONGLONG*) { return E_NOTIMPL; }

STDMETHODIMP CSourceSeeking::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                               const GUID* pSourceFormat) {
  if (!pTarget) return E_POINTER;
  bool targetOk = !pTargetFormat || *pTargetFormat == TIME_FORMAT_MEDIA_TIME;
  bool sourceOk = !pSourceFormat || *pSourceFormat == TIME_FORMAT_MEDIA_TIME;
  if (!targetOk || !sourceOk) return E_INVALIDARG;
  *pTarget = Source;
  return S_OK;
}

STDMETHODIMP CSourceSeeking::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                          DWORD dwStopFlags) {
  DWORD startBits = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
  DWORD stopBits = dwStopFlags & AM_SEEKING_PositioningBitsMask;
  if ((startBits && !pCurrent) || (stopBits && !pStop)) return E_POINTER;
  CAutoLock lock(m_pLock);
  REFERENCE_TIME newStart = m_rtStart, newStop = m_rtStop;
  if (startBits == AM_SEEKING_AbsolutePositioning)
    newStart = *pCurrent;
  else if (startBits == AM_SEEKING_RelativePositioning)
    newStart += *pCurrent;
  else if (startBits != AM_SEEKING_NoPositioning)
    return E_INVALIDARG;
  if (stopBits == AM_SEEKING_AbsolutePositioning)
    newStop = *pStop;
  else if (stopBits == AM_SEEKING_RelativePositioning)
    newStop += *pStop;
  else if (stopBits == AM_SEEKING_IncrementalPositioning)
    newStop = newStart + *pStop;
  else if (stopBits != AM_SEEKING_NoPositioning)
    return E_INVALIDARG;
  HRESULT hr = S_OK;
  if (stopBits) {
    m_rtStop = newStop;
    hr = ChangeStop();
    if (FAILED(hr)) return hr;
  }
  if (startBits) {
    m_rtStart = newStart;
    hr = ChangeStart();
  }
  return hr;
}

STDMETHODIMP CSourceSeeking::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
  CAutoLock lock(m_pLock);
  if (pCurrent) *pCurrent = m_rtStart;
  if (pStop) *pStop = m_rtStop;
  return S_OK;
}

STDMETHODIMP CSourceSeeking::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
  CAutoLock lock(m_pLock);
  if (pEarliest) *pEarliest = 0;
  if (pLatest) *pLatest = m_rtDuration;
  return S_OK;
}

STDMETHODIMP CSourceSeeking::SetRate(double dRate) {
  if (!(dRate > 0.0)) return E_INVALIDARG;
  CAutoLock lock(m_pLock);
  m_dRateSeeking = dRate;
  return ChangeRate();
}

STDMETHODIMP CSourceSeeking::GetRate(double* pdRate) {
  if (!pdRate) return E_POINTER;
  CAutoLock lock(m_pLock);
  *pdRate = m_dRateSeeking;
  return S_OK;
}

STDMETHODIMP CSourceSeeking::GetPreroll(LONGLONG* pllPreroll) {
  if (!pllPreroll) return E_POINTER;
  *pllPreroll = 0;
  return S_OK;
}

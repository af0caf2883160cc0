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

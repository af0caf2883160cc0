#include "utilities/renderers.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "platform/strmbase/mtype.h"
#include "framework/pages.h"
#include "utilities/common.h"

namespace plenor::utilities {

// ---------------------------------------------------------------------------------------------
// NullRenderer

CUnknown* CNullRenderer::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* filter = new (std::nothrow) CNullRenderer(pUnk, phr);
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

CNullRenderer::CNullRenderer(LPUNKNOWN pUnk, HRESULT* phr)
    : CBaseRenderer(CLSID_NullRenderer, L"Null renderer", pUnk, phr), CUtilitySettings(GetOwner()) {
  InitParameters();
}

STDMETHODIMP CNullRenderer::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  HRESULT hr = QueryCommonInterfaces(riid, ppv, this, nullptr, this);
  if (hr != S_FALSE) return hr;
  return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CNullRenderer::GetPages(CAUUID* pPages) { return GetSinglePropertyPage(pPages, CLSID_NullRendererProperties); }

void CNullRenderer::InitParameters() { AddParameter("sync", &m_bSync, false); }

HRESULT CNullRenderer::CheckMediaType(const CMediaType* pmt) { return pmt ? S_OK : E_POINTER; }

HRESULT CNullRenderer::OnStartStreaming() {
  // Taken when the graph leaves the stopped state; a change while running waits for the next run.
  CAutoLock params(&m_csParams);
  SetSyncToClock(m_bSync);
  m_nRendered = 0;
  return S_OK;
}

HRESULT CNullRenderer::DoRenderSample(IMediaSample* /*pSample*/) {
  ++m_nRendered;
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// SampleGrabber

CUnknown* CSampleGrabber::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* filter = new (std::nothrow) CSampleGrabber(pUnk, phr);
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

CSampleGrabber::CSampleGrabber(LPUNKNOWN pUnk, HRESULT* phr)
    : CBaseRenderer(CLSID_SampleGrabber, L"Sample grabber", pUnk, phr), CUtilitySettings(GetOwner()) {
  InitParameters();
}

STDMETHODIMP CSampleGrabber::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  HRESULT hr = QueryCommonInterfaces(riid, ppv, this, nullptr, this);
  if (hr != S_FALSE) return hr;
  if (riid == IID_IPlenorSampleGrabber) return GetInterface(static_cast<IPlenorSampleGrabber*>(this), ppv);
  return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CSampleGrabber::GetPages(CAUUID* pPages) { return GetSinglePropertyPage(pPages, CLSID_SampleGrabberProperties); }

void CSampleGrabber::InitParameters() {
  AddParameter("sync", &m_bSync, false);
  AddParameter("max_samples", &m_nMaxSamples, 0u);
}

HRESULT CSampleGrabber::CheckMediaType(const CMediaType* pmt) { return pmt ? S_OK : E_POINTER; }

HRESULT CSampleGrabber::SetMediaType(const CMediaType* pmt) {
  std::lock_guard lock(m_lock);
  m_types.clear();
  m_types.emplace_back(*pmt);
  ClearLocked();
  return S_OK;
}

HRESULT CSampleGrabber::OnStartStreaming() {
  CAutoLock params(&m_csParams);
  SetSyncToClock(m_bSync);
  std::lock_guard lock(m_lock);
  m_nKeep = m_nMaxSamples;
  ClearLocked();
  return S_OK;
}

void CSampleGrabber::ClearLocked() {
  m_samples.clear();
  if (m_types.size() > 1) m_types.resize(1);
  m_nSequence = 0;
  m_nEndOfStream = 0;
  m_changed.notify_all();
}

// Streaming thread.
HRESULT CSampleGrabber::DoRenderSample(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  try {
    Recorded r{};
    GRABBED_SAMPLE_INFO& info = r.info;
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT hr = pSample->GetTime(&start, &stop);
    if (SUCCEEDED(hr)) {
      info.bTimeValid = TRUE;
      info.bStopValid = hr == S_OK ? TRUE : FALSE;  // VFW_S_NO_STOP_TIME: start only
      info.tStart = start;
      info.tStop = info.bStopValid ? stop : start;
    }
    LONGLONG ms = 0, me = 0;
    if (pSample->GetMediaTime(&ms, &me) == S_OK) {
      info.bMediaTimeValid = TRUE;
      info.tMediaStart = ms;
      info.tMediaStop = me;
    }
    info.bSyncPoint = pSample->IsSyncPoint() == S_OK;
    info.bPreroll = pSample->IsPreroll() == S_OK;
    info.bDiscontinuity = pSample->IsDiscontinuity() == S_OK;
    AM_MEDIA_TYPE* changed = nullptr;
    if (pSample->GetMediaType(&changed) == S_OK && changed) info.bTypeChanged = TRUE;
    const LONG length = pSample->GetActualDataLength();
    BYTE* p = nullptr;
    if (length > 0 && SUCCEEDED(pSample->GetPointer(&p)) && p)
      r.bytes.assign(p, p + std::min(length, pSample->GetSize()));
    info.lActualLength = static_cast<LONG>(r.bytes.size());

    ComPtr<IPlenorSampleGrabberCallback> callback;
    {
      std::lock_guard lock(m_lock);
      if (changed) m_types.emplace_back(*changed);
      info.lTypeIndex = m_types.empty() ? 0 : static_cast<LONG>(m_types.size() - 1);
      info.lSequence = m_nSequence++;
      callback = m_pCallback;
    }
    HRESULT result = S_OK;
    if (callback) {
      AM_MEDIA_TYPE current{};
      {
        std::lock_guard lock(m_lock);
        if (!m_types.empty()) CopyMediaType(&current, &m_types.back());
      }
      result = callback->SampleReceived(pSample, &current);
      FreeMediaType(current);
    }
    if (changed) DeleteMediaType(changed);
    {
      std::lock_guard lock(m_lock);
      if (m_nKeep == 0 || m_samples.size() < m_nKeep) m_samples.push_back(std::move(r));
    }
    m_changed.notify_all();
    return FAILED(result) ? result : S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CSampleGrabber::EndOfStream() {
  {
    std::lock_guard lock(m_lock);
    ++m_nEndOfStream;
  }
  m_changed.notify_all();
  return CBaseRenderer::EndOfStream();
}

STDMETHODIMP CSampleGrabber::GetSampleCount(LONG* pCount) {
  if (!pCount) return E_POINTER;
  std::lock_guard lock(m_lock);
  *pCount = static_cast<LONG>(m_samples.size());
  return S_OK;
}

STDMETHODIMP CSampleGrabber::GetSampleInfo(LONG index, GRABBED_SAMPLE_INFO* pInfo) {
  if (!pInfo) return E_POINTER;
  std::lock_guard lock(m_lock);
  if (index < 0 || static_cast<size_t>(index) >= m_samples.size()) return E_INVALIDARG;
  *pInfo = m_samples[static_cast<size_t>(index)].info;
  return S_OK;
}

STDMETHODIMP CSampleGrabber::GetSampleData(LONG index, BYTE* pBuffer, LONG size, LONG* pCopied) {
  if (pCopied) *pCopied = 0;
  if (!pBuffer && size > 0) return E_POINTER;
  std::lock_guard lock(m_lock);
  if (index < 0 || static_cast<size_t>(index) >= m_samples.size()) return E_INVALIDARG;
  const std::vector<BYTE>& bytes = m_samples[static_cast<size_t>(index)].bytes;
  const size_t n = std::min(bytes.size(), static_cast<size_t>(std::max<LONG>(0, size)));
  if (n) std::memcpy(pBuffer, bytes.data(), n);
  if (pCopied) *pCopied = static_cast<LONG>(n);
  return S_OK;
}

STDMETHODIMP CSampleGrabber::GetMediaType(LONG typeIndex, AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  std::lock_guard lock(m_lock);
  if (typeIndex < 0 || static_cast<size_t>(typeIndex) >= m_types.size()) return E_INVALIDARG;
  return CopyMediaType(pmt, &m_types[static_cast<size_t>(typeIndex)]);
}

STDMETHODIMP CSampleGrabber::GetEndOfStreamCount(LONG* pCount) {
  if (!pCount) return E_POINTER;
  std::lock_guard lock(m_lock);
  *pCount = m_nEndOfStream;
  return S_OK;
}

STDMETHODIMP CSampleGrabber::WaitForSamples(LONG count, DWORD timeoutMs) {
  std::unique_lock lock(m_lock);
  auto ready = [&] { return static_cast<LONG>(m_samples.size()) >= count; };
  if (timeoutMs == INFINITE) {
    m_changed.wait(lock, ready);
    return S_OK;
  }
  return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready) ? S_OK : S_FALSE;
}

STDMETHODIMP CSampleGrabber::WaitForEndOfStream(DWORD timeoutMs) {
  std::unique_lock lock(m_lock);
  auto ready = [&] { return m_nEndOfStream > 0; };
  if (timeoutMs == INFINITE) {
    m_changed.wait(lock, ready);
    return S_OK;
  }
  return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready) ? S_OK : S_FALSE;
}

STDMETHODIMP CSampleGrabber::Clear() {
  std::lock_guard lock(m_lock);
  ClearLocked();
  return S_OK;
}

STDMETHODIMP CSampleGrabber::SetCallback(IPlenorSampleGrabberCallback* pCallback) {
  std::lock_guard lock(m_lock);
  m_pCallback = ComPtr<IPlenorSampleGrabberCallback>(pCallback);
  return S_OK;
}

}  // namespace plenor::utilities

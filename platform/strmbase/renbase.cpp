#include "platform/strmbase/renbase.h"

#include <chrono>
#include <cwchar>
#include <new>

// =============================================================================================
// CRendererInputPin

CRendererInputPin::CRendererInputPin(CBaseRenderer* pRenderer, HRESULT* phr, LPCWSTR pPinName)
    : CBaseInputPin(L"Renderer input pin", pRenderer, &pRenderer->m_InterfaceLock, phr, pPinName),
      m_pRenderer(pRenderer) {}

STDMETHODIMP CRendererInputPin::Receive(IMediaSample* pSample) {
  HRESULT hr = CBaseInputPin::Receive(pSample);
  if (hr != S_OK) return hr;
  return m_pRenderer->Receive(pSample);
}

STDMETHODIMP CRendererInputPin::EndOfStream() {
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  return m_pRenderer->EndOfStream();
}

STDMETHODIMP CRendererInputPin::BeginFlush() {
  CAutoLock lock(&m_pRenderer->m_InterfaceLock);
  CBaseInputPin::BeginFlush();
  return m_pRenderer->BeginFlush();
}

STDMETHODIMP CRendererInputPin::EndFlush() {
  CAutoLock lock(&m_pRenderer->m_InterfaceLock);
  HRESULT hr = m_pRenderer->EndFlush();
  if (FAILED(hr)) return hr;
  return CBaseInputPin::EndFlush();
}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* pmt) { return m_pRenderer->CheckMediaType(pmt); }

HRESULT CRendererInputPin::SetMediaType(const CMediaType* pmt) {
  HRESULT hr = CBaseInputPin::SetMediaType(pmt);
  if (FAILED(hr)) return hr;
  return m_pRenderer->SetMediaType(pmt);
}

HRESULT CRendererInputPin::CompleteConnect(IPin* pReceivePin) {
  HRESULT hr = CBaseInputPin::CompleteConnect(pReceivePin);
  if (FAILED(hr)) return hr;
  return m_pRenderer->CompleteConnect(pReceivePin);
}

HRESULT CRendererInputPin::BreakConnect() {
  m_pRenderer->BreakConnect();
  return CBaseInputPin::BreakConnect();
}

// =============================================================================================
// CBaseRenderer

CBaseRenderer::CBaseRenderer(REFCLSID RenderClass, const wchar_t* pName, LPUNKNOWN pUnk, HRESULT* phr)
    : CBaseFilter(pName, pUnk, &m_InterfaceLock, RenderClass, phr) {}

CBaseRenderer::~CBaseRenderer() { delete m_pInputPin; }

CBasePin* CBaseRenderer::GetPin(int n) {
  CAutoLock lock(&m_InterfaceLock);
  if (n != 0) return nullptr;
  if (!m_pInputPin) {
    HRESULT hr = S_OK;
    m_pInputPin = new (std::nothrow) CRendererInputPin(this, &hr, L"In");
    if (m_pInputPin && FAILED(hr)) {
      delete m_pInputPin;
      m_pInputPin = nullptr;
    }
  }
  return m_pInputPin;
}

STDMETHODIMP CBaseRenderer::FindPin(LPCWSTR Id, IPin** ppPin) {
  if (!ppPin) return E_POINTER;
  *ppPin = nullptr;
  if (!Id) return E_POINTER;
  if (std::wcscmp(Id, L"In") != 0) return VFW_E_NOT_FOUND;
  CBasePin* pPin = GetPin(0);
  if (!pPin) return E_OUTOFMEMORY;
  *ppPin = pPin;
  pPin->AddRef();
  return S_OK;
}

void CBaseRenderer::CancelWait() {
  {
    std::lock_guard lock(m_WaitMutex);
    m_WaitGeneration++;
  }
  m_WaitCond.notify_all();
}

STDMETHODIMP CBaseRenderer::Stop() {
  CAutoLock lock(&m_InterfaceLock);
  if (m_State == State_Stopped) return S_OK;
  CancelWait();
  HRESULT hr = CBaseFilter::Stop();
  {
    CAutoLock rl(&m_RendererLock);
    m_bEOS = false;
    m_bEOSDelivered = false;
    m_bFirstSample = true;
  }
  OnStopStreaming();
  return hr;
}

STDMETHODIMP CBaseRenderer::Pause() {
  CAutoLock lock(&m_InterfaceLock);
  FILTER_STATE old = m_State;
  if (old == State_Running) CancelWait();
  if (old == State_Stopped) {
    HRESULT hr = OnStartStreaming();
    if (FAILED(hr)) return hr;
  }
  HRESULT hr = CBaseFilter::Pause();
  if (FAILED(hr)) return hr;
  // A renderer whose input is not connected has nothing to wait for.
  if (old == State_Stopped && (!m_pInputPin || !m_pInputPin->IsConnected())) {
    CAutoLock rl(&m_RendererLock);
    m_bEOS = true;
  }
  return S_OK;
}

STDMETHODIMP CBaseRenderer::Run(REFERENCE_TIME tStart) {
  CAutoLock lock(&m_InterfaceLock);
  HRESULT hr = CBaseFilter::Run(tStart);
  if (FAILED(hr)) return hr;
  // Wake a sample waiting for the run to start.
  {
    std::lock_guard wl(m_WaitMutex);
    m_tRunStart = tStart;
    m_WaitGeneration++;
  }
  m_WaitCond.notify_all();
  CAutoLock rl(&m_RendererLock);
  if (m_bEOS) SendEndOfStreamLocked();
  return S_OK;
}

void CBaseRenderer::SendEndOfStreamLocked() {
  if (m_bEOSDelivered) return;
  m_bEOSDelivered = true;
  NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
}

bool CBaseRenderer::WaitForRenderTime(REFERENCE_TIME tStart) {
  std::unique_lock lock(m_WaitMutex);
  unsigned generation = m_WaitGeneration;
  for (;;) {
    if (m_WaitGeneration != generation) {
      // Woken by a state change or flush: a flush abandons the sample; a pause keeps it waiting
      // for the run; a run recomputes the wait.
      if (m_pInputPin->IsFlushing()) return false;
      generation = m_WaitGeneration;
    }
    if (m_State == State_Stopped) return false;
    std::chrono::milliseconds wait(50);
    if (m_State == State_Running && m_pClock) {
      REFERENCE_TIME now = 0;
      if (FAILED(m_pClock->GetTime(&now))) return true;
      now -= m_tRunStart;
      if (now >= tStart) return true;
      REFERENCE_TIME left = tStart - now;  // 100 ns units
      long long ms = left / 10000 + 1;
      if (ms < 50) wait = std::chrono::milliseconds(ms);
    } else if (m_State == State_Running) {
      return true;  // no clock: render at once
    }
    m_WaitCond.wait_for(lock, wait);
  }
}

HRESULT CBaseRenderer::Receive(IMediaSample* pMediaSample) {
  {
    CAutoLock rl(&m_RendererLock);
    if (m_bEOS) return VFW_E_SAMPLE_REJECTED_EOS;
    if (m_bFirstSample) {
      m_bFirstSample = false;
      OnReceiveFirstSample(pMediaSample);
    }
  }
  if (m_bSyncToClock) {
    REFERENCE_TIME tStart = 0, tStop = 0;
    if (SUCCEEDED(pMediaSample->GetTime(&tStart, &tStop))) {
      if (!WaitForRenderTime(tStart)) return S_FALSE;
    }
  }
  return DoRenderSample(pMediaSample);
}

HRESULT CBaseRenderer::EndOfStream() {
  CAutoLock rl(&m_RendererLock);
  if (m_bEOS) return S_OK;
  m_bEOS = true;
  if (m_State == State_Running) SendEndOfStreamLocked();
  return S_OK;
}

HRESULT CBaseRenderer::BeginFlush() {
  CancelWait();
  return S_OK;
}

HRESULT CBaseRenderer::EndFlush() {
  CAutoLock rl(&m_RendererLock);
  // A flush (seek) starts a new stretch of stream: a new end of stream is expected.
  m_bEOS = false;
  m_bEOSDelivered = false;
  m_bFirstSample = true;
  return S_OK;
}

#include "platform/strmbase/transfrm.h"

#include <cwchar>
#include <new>

#include "platform/com/runtime.h"
#include "platform/strmbase/ctlutil.h"

// =============================================================================================
// CTransformInputPin

CTransformInputPin::CTransformInputPin(const wchar_t* pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr,
                                       LPCWSTR pName)
    : CBaseInputPin(pObjectName, pTransformFilter, &pTransformFilter->m_csFilter, phr, pName),
      m_pTransformFilter(pTransformFilter) {}

STDMETHODIMP CTransformInputPin::QueryId(LPWSTR* Id) { return CBaseInputPin::QueryId(Id); }

HRESULT CTransformInputPin::CheckConnect(IPin* pPin) {
  HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pPin);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::CheckConnect(pPin);
}

HRESULT CTransformInputPin::BreakConnect() {
  m_pTransformFilter->BreakConnect(PINDIR_INPUT);
  return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* pReceivePin) {
  HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, pReceivePin);
  if (FAILED(hr)) return hr;
  return CBaseInputPin::CompleteConnect(pReceivePin);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* mtIn) {
  HRESULT hr = m_pTransformFilter->CheckInputType(mtIn);
  if (hr != S_OK) return hr;
  // With the output connected, the new input must still produce the output's type.
  if (m_pTransformFilter->m_pOutput && m_pTransformFilter->m_pOutput->IsConnected())
    return m_pTransformFilter->CheckTransform(mtIn, &m_pTransformFilter->m_pOutput->CurrentMediaType());
  return hr;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* mt) {
  HRESULT hr = CBasePin::SetMediaType(mt);
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->SetMediaType(PINDIR_INPUT, mt);
}

HRESULT CTransformInputPin::CheckStreaming() {
  if (!m_pTransformFilter->m_pOutput || !m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
  return CBaseInputPin::CheckStreaming();
}

STDMETHODIMP CTransformInputPin::Receive(IMediaSample* pSample) {
  CAutoLock lock(&m_pTransformFilter->m_csReceive);
  HRESULT hr = CBaseInputPin::Receive(pSample);
  if (hr == S_OK) hr = m_pTransformFilter->Receive(pSample);
  return hr;
}

STDMETHODIMP CTransformInputPin::EndOfStream() {
  CAutoLock lock(&m_pTransformFilter->m_csReceive);
  HRESULT hr = CheckStreaming();
  if (hr == S_OK) hr = m_pTransformFilter->EndOfStream();
  return hr;
}

STDMETHODIMP CTransformInputPin::BeginFlush() {
  CAutoLock lock(&m_pTransformFilter->m_csFilter);
  if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
  HRESULT hr = CBaseInputPin::BeginFlush();
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->BeginFlush();
}

STDMETHODIMP CTransformInputPin::EndFlush() {
  CAutoLock lock(&m_pTransformFilter->m_csFilter);
  if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
  HRESULT hr = m_pTransformFilter->EndFlush();
  if (FAILED(hr)) return hr;
  return CBaseInputPin::EndFlush();
}

STDMETHODIMP CTransformInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  CBasePin::NewSegment(tStart, tStop, dRate);
  return m_pTransformFilter->NewSegment(tStart, tStop, dRate);
}

// =============================================================================================
// CTransformOutputPin

CTransformOutputPin::CTransformOutputPin(const wchar_t* pObjectName, CTransformFilter* pTransformFilter,
                                         HRESULT* phr, LPCWSTR pName)
    : CBaseOutputPin(pObjectName, pTransformFilter, &pTransformFilter->m_csFilter, phr, pName),
      m_pTransformFilter(pTransformFilter) {}

CTransformOutputPin::~CTransformOutputPin() { delete m_pPosition; }

STDMETHODIMP CTransformOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaSeeking) {
    CAutoLock lock(m_pLock);
    if (!m_pPosition) {
      HRESULT hr = S_OK;
      // Aggregated: its IUnknown calls come back to this pin (and so to the filter).
      m_pPosition = new (std::nothrow)
          CPosPassThru(L"Transform seeking pass-through", GetOwner(), &hr, static_cast<IPin*>(m_pTransformFilter->m_pInput));
      if (!m_pPosition) return E_OUTOFMEMORY;
      if (FAILED(hr)) {
        delete m_pPosition;
        m_pPosition = nullptr;
        return hr;
      }
    }
    return m_pPosition->NonDelegatingQueryInterface(riid, ppv);
  }
  return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CTransformOutputPin::QueryId(LPWSTR* Id) { return CBaseOutputPin::QueryId(Id); }

STDMETHODIMP CTransformOutputPin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
  {
    CAutoLock lock(m_pLock);
    if (!m_pTransformFilter->m_pInput || !m_pTransformFilter->m_pInput->IsConnected()) return E_UNEXPECTED;
  }
  return CBaseOutputPin::Connect(pReceivePin, pmt);
}

HRESULT CTransformOutputPin::CheckConnect(IPin* pPin) {
  // The output types depend on the input type.
  if (!m_pTransformFilter->m_pInput || !m_pTransformFilter->m_pInput->IsConnected()) return E_UNEXPECTED;
  HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pPin);
  if (FAILED(hr)) return hr;
  return CBaseOutputPin::CheckConnect(pPin);
}

HRESULT CTransformOutputPin::BreakConnect() {
  m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
  return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* pReceivePin) {
  HRESULT hr = CBaseOutputPin::CompleteConnect(pReceivePin);
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, pReceivePin);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
  return m_pTransformFilter->DecideBufferSize(pAlloc, pProp);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* mtOut) {
  if (!m_pTransformFilter->m_pInput->IsConnected()) return E_INVALIDARG;
  return m_pTransformFilter->CheckTransform(&m_pTransformFilter->m_pInput->CurrentMediaType(), mtOut);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* pmt) {
  HRESULT hr = CBasePin::SetMediaType(pmt);
  if (FAILED(hr)) return hr;
  return m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, pmt);
}

HRESULT CTransformOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
  if (iPosition < 0) return E_INVALIDARG;
  if (m_pTransformFilter->m_pInput->IsConnected()) return m_pTransformFilter->GetMediaType(iPosition, pMediaType);
  return VFW_S_NO_MORE_ITEMS;
}

STDMETHODIMP CTransformOutputPin::Notify(IBaseFilter*, Quality q) {
  HRESULT hr = m_pTransformFilter->AlterQuality(q);
  if (hr != S_FALSE) return hr;
  return m_pTransformFilter->m_pInput->PassNotify(q);
}

// =============================================================================================
// CTransformFilter

CTransformFilter::CTransformFilter(const wchar_t* pName, LPUNKNOWN pUnk, REFCLSID clsid)
    : CBaseFilter(pName, pUnk, &m_csFilter, clsid) {}

CTransformFilter::~CTransformFilter() {
  delete m_pInput;
  delete m_pOutput;
}

CBasePin* CTransformFilter::GetPin(int n) {
  return GetPinMaking(
      n,
      [this](HRESULT* phr) {
        return new (std::nothrow) CTransformInputPin(L"Transform input pin", this, phr, L"XForm In");
      },
      [this](HRESULT* phr) {
        return new (std::nothrow) CTransformOutputPin(L"Transform output pin", this, phr, L"XForm Out");
      });
}

STDMETHODIMP CTransformFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
  if (!ppPin) return E_POINTER;
  *ppPin = nullptr;
  if (!Id) return E_POINTER;
  CBasePin* pPin = nullptr;
  if (std::wcscmp(Id, L"In") == 0)
    pPin = GetPin(0);
  else if (std::wcscmp(Id, L"Out") == 0)
    pPin = GetPin(1);
  if (pPin) {
    *ppPin = pPin;
    pPin->AddRef();
    return S_OK;
  }
  // Otherwise look the pins up by name.
  return CBaseFilter::FindPin(Id, ppPin);
}

STDMETHODIMP CTransformFilter::Stop() {
  CAutoLock lock(&m_csFilter);
  if (m_State == State_Stopped) return S_OK;
  if (!m_pInput || !m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
    m_State = State_Stopped;
    m_bEOSDelivered = false;
    return S_OK;
  }
  // Decommitting the input allocator fails upstream's pending GetBuffer, so a Receive in
  // progress finishes and we can take the receive lock.
  m_pInput->Inactive();
  CAutoLock lock2(&m_csReceive);
  m_pOutput->Inactive();
  HRESULT hr = StopStreaming();
  if (SUCCEEDED(hr)) {
    m_State = State_Stopped;
    m_bEOSDelivered = false;
  }
  return hr;
}

STDMETHODIMP CTransformFilter::Pause() {
  CAutoLock lock(&m_csFilter);
  HRESULT hr = S_OK;
  if (m_State == State_Paused) {
    // Nothing to do.
  } else if (!m_pInput || !m_pInput->IsConnected()) {
    // Nothing will ever come in: tell downstream once that nothing comes out.
    if (m_pOutput && !m_bEOSDelivered) {
      m_pOutput->DeliverEndOfStream();
      m_bEOSDelivered = true;
    }
    m_State = State_Paused;
  } else if (!m_pOutput->IsConnected()) {
    m_State = State_Paused;
  } else {
    if (m_State == State_Stopped) {
      CAutoLock lock2(&m_csReceive);
      hr = StartStreaming();
    }
    if (SUCCEEDED(hr)) hr = CBaseFilter::Pause();
  }
  m_bSampleSkipped = false;
  m_bQualityChanged = false;
  return hr;
}

HRESULT CTransformFilter::Transform(IMediaSample*, IMediaSample*) { return E_UNEXPECTED; }
HRESULT CTransformFilter::StartStreaming() { return S_OK; }
HRESULT CTransformFilter::StopStreaming() { return S_OK; }
HRESULT CTransformFilter::AlterQuality(Quality) { return S_FALSE; }
HRESULT CTransformFilter::SetMediaType(PIN_DIRECTION, const CMediaType*) { return S_OK; }
HRESULT CTransformFilter::CheckConnect(PIN_DIRECTION, IPin*) { return S_OK; }
HRESULT CTransformFilter::BreakConnect(PIN_DIRECTION) { return S_OK; }
HRESULT CTransformFilter::CompleteConnect(PIN_DIRECTION, IPin*) { return S_OK; }

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* pSample, IMediaSample** ppOutSample) {
  AM_SAMPLE2_PROPERTIES* const pProps = m_pInput->SampleProps();
  DWORD dwFlags = m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0;
  if (!(pProps->dwSampleFlags & AM_SAMPLE_SPLICEPOINT)) dwFlags |= AM_GBF_NOTASYNCPOINT;

  IMediaSample* pOutSample = nullptr;
  HRESULT hr = m_pOutput->GetDeliveryBuffer(
      &pOutSample, (pProps->dwSampleFlags & AM_SAMPLE_TIMEVALID) ? &pProps->tStart : nullptr,
      (pProps->dwSampleFlags & AM_SAMPLE_STOPVALID) ? &pProps->tStop : nullptr, dwFlags);
  *ppOutSample = pOutSample;
  if (FAILED(hr)) return hr;

  ComPtr<IMediaSample2> out2;
  if (SUCCEEDED(pOutSample->QueryInterface(IID_IMediaSample2, out2.AsOut()))) {
    AM_SAMPLE2_PROPERTIES outProps;
    constexpr DWORD cbUpToStreamId = offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId);
    hr = out2->GetProperties(cbUpToStreamId, reinterpret_cast<BYTE*>(&outProps));
    if (FAILED(hr)) return hr;
    outProps.dwTypeSpecificFlags = pProps->dwTypeSpecificFlags;
    outProps.dwSampleFlags =
        (outProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) | (pProps->dwSampleFlags & ~AM_SAMPLE_TYPECHANGED);
    outProps.tStart = pProps->tStart;
    outProps.tStop = pProps->tStop;
    outProps.cbData = cbUpToStreamId;
    hr = out2->SetProperties(cbUpToStreamId, reinterpret_cast<const BYTE*>(&outProps));
    if (FAILED(hr)) return hr;
    if (pProps->dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) m_bSampleSkipped = false;
  } else {
    if (pProps->dwSampleFlags & AM_SAMPLE_TIMEVALID) pOutSample->SetTime(&pProps->tStart, &pProps->tStop);
    if (pProps->dwSampleFlags & AM_SAMPLE_SPLICEPOINT) pOutSample->SetSyncPoint(TRUE);
    if (pProps->dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) pOutSample->SetDiscontinuity(TRUE);
    if (pProps->dwSampleFlags & AM_SAMPLE_PREROLL) pOutSample->SetPreroll(TRUE);
    m_bSampleSkipped = false;
  }

  LONGLONG mediaStart, mediaEnd;
  if (pSample->GetMediaTime(&mediaStart, &mediaEnd) == S_OK) pOutSample->SetMediaTime(&mediaStart, &mediaEnd);

  // A format change travelling with the input goes on with the output.
  if ((pProps->dwSampleFlags & AM_SAMPLE_TYPECHANGED) && pProps->pMediaType) {
    hr = pOutSample->SetMediaType(pProps->pMediaType);
    if (FAILED(hr)) return hr;
  } else {
    AM_MEDIA_TYPE* pmt = nullptr;
    if (!pProps->pMediaType && pSample->GetMediaType(&pmt) == S_OK && pmt) {
      hr = pOutSample->SetMediaType(pmt);
      DeleteMediaType(pmt);
      if (FAILED(hr)) return hr;
    }
  }
  return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* pSample) {
  AM_SAMPLE2_PROPERTIES* const pProps = m_pInput->SampleProps();
  // Stream-control samples are not ours to transform.
  if (pProps->dwStreamId != AM_STREAM_MEDIA) return m_pOutput->Deliver(pSample);

  IMediaSample* pOutRaw = nullptr;
  HRESULT hr = InitializeOutputSample(pSample, &pOutRaw);
  ComPtr<IMediaSample> pOutSample = ComPtr<IMediaSample>::Attach(pOutRaw);
  if (FAILED(hr)) return hr;

  hr = Transform(pSample, pOutSample.Get());
  if (FAILED(hr)) {
    // The stream ends here: upstream stops pushing on the failure, and the graph is told so that
    // it does not wait for an end of stream that will never come.
    NotifyEvent(EC_ERRORABORT, hr, 0);
    return hr;
  }
  if (hr == S_OK) {
    hr = m_pOutput->Deliver(pOutSample.Get());
    m_bSampleSkipped = false;
    return hr;
  }
  // S_FALSE: drop the sample, keep the stream going.
  m_bSampleSkipped = true;
  if (!m_bQualityChanged) {
    NotifyEvent(EC_QUALITY_CHANGE, 0, 0);
    m_bQualityChanged = true;
  }
  return S_OK;
}

HRESULT CTransformFilter::EndOfStream() {
  if (!m_pOutput) return E_UNEXPECTED;
  return m_pOutput->DeliverEndOfStream();
}

HRESULT CTransformFilter::BeginFlush() {
  if (!m_pOutput) return E_UNEXPECTED;
  return m_pOutput->DeliverBeginFlush();
}

HRESULT CTransformFilter::EndFlush() {
  if (!m_pOutput) return E_UNEXPECTED;
  return m_pOutput->DeliverEndFlush();
}

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  if (!m_pOutput) return E_UNEXPECTED;
  return m_pOutput->DeliverNewSegment(tStart, tStop, dRate);
}

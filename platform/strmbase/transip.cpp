#include "platform/strmbase/transip.h"

#include <cstring>
#include <new>

// =============================================================================================
// CTransInPlaceInputPin

CTransInPlaceInputPin::CTransInPlaceInputPin(const wchar_t* pObjectName, CTransInPlaceFilter* pFilter, HRESULT* phr,
                                             LPCWSTR pName)
    : CTransformInputPin(pObjectName, pFilter, phr, pName), m_pTIPFilter(pFilter) {}

STDMETHODIMP CTransInPlaceInputPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  if (!m_pTIPFilter->m_pOutput || !m_pTIPFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
  return m_pTIPFilter->m_pOutput->GetConnected()->EnumMediaTypes(ppEnum);
}

HRESULT CTransInPlaceInputPin::CheckMediaType(const CMediaType* pmt) {
  HRESULT hr = m_pTIPFilter->CheckInputType(pmt);
  if (hr != S_OK) return hr;
  if (m_pTIPFilter->m_pOutput && m_pTIPFilter->m_pOutput->IsConnected())
    return m_pTIPFilter->m_pOutput->GetConnected()->QueryAccept(pmt) == S_OK ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

STDMETHODIMP CTransInPlaceInputPin::GetAllocator(IMemAllocator** ppAllocator) {
  if (!ppAllocator) return E_POINTER;
  *ppAllocator = nullptr;
  CAutoLock lock(m_pLock);
  CTransInPlaceOutputPin* pOut = m_pTIPFilter->OutputPin();
  if (pOut && pOut->IsConnected() && pOut->ConnectedIMemInputPin()) {
    // Hand upstream the downstream allocator, so samples pass through without a copy.
    HRESULT hr = pOut->ConnectedIMemInputPin()->GetAllocator(ppAllocator);
    if (SUCCEEDED(hr)) pOut->SetAllocator(*ppAllocator);
    return hr;
  }
  return CTransformInputPin::GetAllocator(ppAllocator);
}

STDMETHODIMP CTransInPlaceInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
  if (!pAllocator) return E_POINTER;
  CAutoLock lock(m_pLock);
  CTransInPlaceOutputPin* pOut = m_pTIPFilter->OutputPin();
  if (!pOut || !pOut->IsConnected() || !pOut->ConnectedIMemInputPin())
    return CTransformInputPin::NotifyAllocator(pAllocator, bReadOnly);

  HRESULT hr = S_OK;
  if (bReadOnly && m_pTIPFilter->m_bModifiesData) {
    // We write into the buffers but upstream's may not be written: the output needs buffers of
    // its own, sized like upstream's, and every sample is copied into them.
    ComPtr<IMemAllocator> outAlloc;
    IMemInputPin* pDownstream = pOut->ConnectedIMemInputPin();
    hr = pDownstream->GetAllocator(&outAlloc);
    if (FAILED(hr) || !outAlloc) hr = CreateMemoryAllocator(&outAlloc);
    if (FAILED(hr)) return hr;
    if (outAlloc.Get() == pAllocator) {
      outAlloc = nullptr;
      hr = CreateMemoryAllocator(&outAlloc);
      if (FAILED(hr)) return hr;
    }
    ALLOCATOR_PROPERTIES props{}, actual{};
    hr = pAllocator->GetProperties(&props);
    if (FAILED(hr)) return hr;
    if (props.cbAlign <= 0) props.cbAlign = 1;
    if (props.cBuffers <= 0) props.cBuffers = 1;
    if (props.cbBuffer <= 0) props.cbBuffer = 1;
    hr = outAlloc->SetProperties(&props, &actual);
    if (FAILED(hr)) return hr;
    hr = pDownstream->NotifyAllocator(outAlloc.Get(), FALSE);
    if (FAILED(hr)) return hr;
    pOut->SetAllocator(outAlloc.Get());
  } else {
    // Pass upstream's allocator on: both sides share the buffers.
    hr = pOut->ConnectedIMemInputPin()->NotifyAllocator(pAllocator, bReadOnly);
    if (FAILED(hr)) return hr;
    pOut->SetAllocator(pAllocator);
  }
  m_pAllocator = ComPtr<IMemAllocator>(pAllocator);
  m_bReadOnly = bReadOnly != FALSE;
  return S_OK;
}

STDMETHODIMP CTransInPlaceInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) {
  if (!pProps) return E_POINTER;
  CTransInPlaceOutputPin* pOut = m_pTIPFilter->OutputPin();
  if (pOut && pOut->IsConnected() && pOut->ConnectedIMemInputPin())
    return pOut->ConnectedIMemInputPin()->GetAllocatorRequirements(pProps);
  return E_NOTIMPL;
}

// =============================================================================================
// CTransInPlaceOutputPin

CTransInPlaceOutputPin::CTransInPlaceOutputPin(const wchar_t* pObjectName, CTransInPlaceFilter* pFilter, HRESULT* phr,
                                               LPCWSTR pName)
    : CTransformOutputPin(pObjectName, pFilter, phr, pName), m_pTIPFilter(pFilter) {}

STDMETHODIMP CTransInPlaceOutputPin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  if (!m_pTIPFilter->m_pInput || !m_pTIPFilter->m_pInput->IsConnected()) return VFW_E_NOT_CONNECTED;
  return m_pTIPFilter->m_pInput->GetConnected()->EnumMediaTypes(ppEnum);
}

HRESULT CTransInPlaceOutputPin::CheckMediaType(const CMediaType* pmt) {
  HRESULT hr = m_pTIPFilter->CheckInputType(pmt);
  if (hr != S_OK) return hr;
  if (m_pTIPFilter->m_pInput && m_pTIPFilter->m_pInput->IsConnected())
    return m_pTIPFilter->m_pInput->GetConnected()->QueryAccept(pmt) == S_OK ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT CTransInPlaceOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
  if (!pPin || !ppAlloc) return E_POINTER;
  *ppAlloc = nullptr;
  CTransInPlaceInputPin* pIn = m_pTIPFilter->InputPin();
  IMemAllocator* pInputAlloc = pIn ? pIn->PeekAllocator() : nullptr;
  if (pIn && pIn->IsConnected() && pInputAlloc && !(pIn->IsReadOnly() && m_pTIPFilter->m_bModifiesData)) {
    // Offer downstream the buffers upstream already fills.
    if (SUCCEEDED(pPin->NotifyAllocator(pInputAlloc, pIn->IsReadOnly()))) {
      *ppAlloc = ComPtr<IMemAllocator>(pInputAlloc).Detach();
      return S_OK;
    }
  }
  return CTransformOutputPin::DecideAllocator(pPin, ppAlloc);
}

void CTransInPlaceOutputPin::SetAllocator(IMemAllocator* pAllocator) { m_pAllocator = ComPtr<IMemAllocator>(pAllocator); }

// =============================================================================================
// CTransInPlaceFilter

CTransInPlaceFilter::CTransInPlaceFilter(const wchar_t* pName, LPUNKNOWN pUnk, REFCLSID clsid, HRESULT*,
                                         bool bModifiesData)
    : CTransformFilter(pName, pUnk, clsid), m_bModifiesData(bModifiesData) {}

CBasePin* CTransInPlaceFilter::GetPin(int n) {
  return GetPinMaking(n, [this](HRESULT* phr) { return MakeInPlaceInputPin(phr); },
                      [this](HRESULT* phr) {
                        return new (std::nothrow)
                            CTransInPlaceOutputPin(L"TransInPlace output pin", this, phr, L"Output");
                      });
}

CTransInPlaceInputPin* CTransInPlaceFilter::MakeInPlaceInputPin(HRESULT* phr) {
  return new (std::nothrow) CTransInPlaceInputPin(L"TransInPlace input pin", this, phr, L"Input");
}

HRESULT CTransInPlaceFilter::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProperties) {
  if (!pAlloc || !pProperties) return E_POINTER;
  ALLOCATOR_PROPERTIES request{}, actual{};
  IMemAllocator* pInputAlloc = m_pInput ? InputPin()->PeekAllocator() : nullptr;
  if (m_pInput && m_pInput->IsConnected() && pInputAlloc) {
    HRESULT hr = pInputAlloc->GetProperties(&request);
    if (FAILED(hr)) return hr;
  } else {
    request.cBuffers = 1;
    request.cbBuffer = 1;
  }
  if (request.cBuffers <= 0) request.cBuffers = 1;
  if (request.cbBuffer <= 0) request.cbBuffer = 1;
  if (request.cbAlign <= 0) request.cbAlign = 1;
  pProperties->cBuffers = request.cBuffers;
  pProperties->cbBuffer = request.cbBuffer;
  pProperties->cbAlign = request.cbAlign;
  if (pProperties->cbPrefix < 0) pProperties->cbPrefix = 0;
  HRESULT hr = pAlloc->SetProperties(pProperties, &actual);
  if (FAILED(hr)) return hr;
  if (actual.cBuffers < request.cBuffers || actual.cbBuffer < request.cbBuffer || actual.cbAlign < request.cbAlign)
    return E_FAIL;
  return S_OK;
}

HRESULT CTransInPlaceFilter::CompleteConnect(PIN_DIRECTION dir, IPin*) {
  if (!m_pGraph) return VFW_E_NOT_IN_GRAPH;
  if (!m_pInput || !m_pOutput) return E_UNEXPECTED;
  // The type passes through unchanged, so both sides must agree on it.
  if (dir == PINDIR_OUTPUT) {
    if (m_pInput->IsConnected() && !TypesMatch())
      return ReconnectPin(m_pInput, &m_pOutput->CurrentMediaType());
    return S_OK;
  }
  if (m_pOutput->IsConnected() && !TypesMatch()) return ReconnectPin(m_pOutput, &m_pInput->CurrentMediaType());
  return S_OK;
}

bool CTransInPlaceFilter::TypesMatch() { return m_pInput->CurrentMediaType() == m_pOutput->CurrentMediaType(); }

bool CTransInPlaceFilter::UsingDifferentAllocators() const {
  return InputPin()->PeekAllocator() != OutputPin()->PeekAllocator();
}

IMediaSample* CTransInPlaceFilter::Copy(IMediaSample* pSource) {
  AM_SAMPLE2_PROPERTIES* const pProps = m_pInput->SampleProps();
  DWORD dwFlags = m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0;
  if (!(pProps->dwSampleFlags & AM_SAMPLE_SPLICEPOINT)) dwFlags |= AM_GBF_NOTASYNCPOINT;
  IMediaSample* pDestRaw = nullptr;
  HRESULT hr = OutputPin()->GetDeliveryBuffer(
      &pDestRaw, (pProps->dwSampleFlags & AM_SAMPLE_TIMEVALID) ? &pProps->tStart : nullptr,
      (pProps->dwSampleFlags & AM_SAMPLE_STOPVALID) ? &pProps->tStop : nullptr, dwFlags);
  ComPtr<IMediaSample> pDest = ComPtr<IMediaSample>::Attach(pDestRaw);
  if (FAILED(hr) || !pDest) return nullptr;
  m_bSampleSkipped = false;

  // Properties: flags, times, stream id and an attached type, all at once when both sides offer
  // the extended interface.
  ComPtr<IMediaSample2> src2, dst2;
  if (SUCCEEDED(pSource->QueryInterface(IID_IMediaSample2, src2.AsOut())) &&
      SUCCEEDED(pDest->QueryInterface(IID_IMediaSample2, dst2.AsOut()))) {
    AM_SAMPLE2_PROPERTIES props;
    if (FAILED(src2->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)))) return nullptr;
    props.pbBuffer = nullptr;
    props.cbBuffer = 0;
    // Length and data are set below; the destination keeps its own buffer.
    constexpr DWORD cbUpToBuffer = offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer);
    props.lActual = 0;
    if (FAILED(dst2->SetProperties(cbUpToBuffer, reinterpret_cast<const BYTE*>(&props)))) return nullptr;
  } else {
    REFERENCE_TIME tStart, tStop;
    hr = pSource->GetTime(&tStart, &tStop);
    if (hr == S_OK)
      pDest->SetTime(&tStart, &tStop);
    else if (hr == VFW_S_NO_STOP_TIME)
      pDest->SetTime(&tStart, nullptr);
    pDest->SetSyncPoint(pSource->IsSyncPoint() == S_OK);
    pDest->SetDiscontinuity(pSource->IsDiscontinuity() == S_OK);
    pDest->SetPreroll(pSource->IsPreroll() == S_OK);
    AM_MEDIA_TYPE* pmt = nullptr;
    if (pSource->GetMediaType(&pmt) == S_OK && pmt) {
      pDest->SetMediaType(pmt);
      DeleteMediaType(pmt);
    }
  }
  LONGLONG mStart, mEnd;
  if (pSource->GetMediaTime(&mStart, &mEnd) == S_OK) pDest->SetMediaTime(&mStart, &mEnd);

  // The data, bounded by the destination's capacity.
  LONG lDataLength = pSource->GetActualDataLength();
  if (lDataLength < 0 || lDataLength > pDest->GetSize()) return nullptr;
  BYTE* pSrcBuffer = nullptr;
  BYTE* pDstBuffer = nullptr;
  if (FAILED(pSource->GetPointer(&pSrcBuffer)) || FAILED(pDest->GetPointer(&pDstBuffer))) return nullptr;
  if (lDataLength > 0) {
    if (!pSrcBuffer || !pDstBuffer) return nullptr;
    std::memcpy(pDstBuffer, pSrcBuffer, static_cast<size_t>(lDataLength));
  }
  if (FAILED(pDest->SetActualDataLength(lDataLength))) return nullptr;
  return pDest.Detach();
}

HRESULT CTransInPlaceFilter::Receive(IMediaSample* pSample) {
  AM_SAMPLE2_PROPERTIES* const pProps = m_pInput->SampleProps();
  if (pProps->dwStreamId != AM_STREAM_MEDIA) return m_pOutput->Deliver(pSample);

  ComPtr<IMediaSample> copy;
  if (UsingDifferentAllocators()) {
    copy = ComPtr<IMediaSample>::Attach(Copy(pSample));
    if (!copy) return E_UNEXPECTED;
    pSample = copy.Get();
  }

  HRESULT hr = Transform(pSample);
  if (FAILED(hr)) {
    NotifyEvent(EC_ERRORABORT, hr, 0);
    return hr;
  }
  if (hr == S_OK) return m_pOutput->Deliver(pSample);

  m_bSampleSkipped = true;
  if (!m_bQualityChanged) {
    NotifyEvent(EC_QUALITY_CHANGE, 0, 0);
    m_bQualityChanged = true;
  }
  return S_OK;
}

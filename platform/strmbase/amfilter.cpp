#include "platform/strmbase/amfilter.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "platform/com/runtime.h"

namespace {

// A task-allocated copy of a wide string.
HRESULT AMGetWideString(const std::wstring& s, LPWSTR* pp) {
  if (!pp) return E_POINTER;
  size_t cb = (s.size() + 1) * sizeof(wchar_t);
  *pp = static_cast<LPWSTR>(CoTaskMemAlloc(cb));
  if (!*pp) return E_OUTOFMEMORY;
  std::memcpy(*pp, s.c_str(), cb);
  return S_OK;
}

void CopyName(WCHAR* dst, size_t cch, const std::wstring& src) {
  size_t n = src.size() < cch - 1 ? src.size() : cch - 1;
  std::wmemcpy(dst, src.c_str(), n);
  dst[n] = L'\0';
}

}  // namespace

// =============================================================================================
// CBaseFilter

CBaseFilter::CBaseFilter(const wchar_t* pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid, HRESULT* phr)
    : CUnknown(pName, pUnk, phr), m_clsid(clsid), m_pLock(pLock) {}

CBaseFilter::~CBaseFilter() = default;

STDMETHODIMP CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IBaseFilter) return GetInterface(static_cast<IBaseFilter*>(this), ppv);
  if (riid == IID_IMediaFilter) return GetInterface(static_cast<IMediaFilter*>(this), ppv);
  if (riid == IID_IPersist) return GetInterface(static_cast<IPersist*>(this), ppv);
  if (riid == IID_IAMovieSetup) return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseFilter::GetClassID(CLSID* pClsID) {
  if (!pClsID) return E_POINTER;
  *pClsID = m_clsid;
  return S_OK;
}

STDMETHODIMP CBaseFilter::Stop() {
  CAutoLock lock(m_pLock);
  HRESULT hr = S_OK;
  if (m_State != State_Stopped) {
    int cPins = GetPinCount();
    for (int c = 0; c < cPins; c++) {
      CBasePin* pPin = GetPin(c);
      if (!pPin) break;
      if (pPin->IsConnected()) {
        HRESULT hrTmp = pPin->Inactive();
        if (FAILED(hrTmp) && SUCCEEDED(hr)) hr = hrTmp;
      }
    }
  }
  m_State = State_Stopped;
  return hr;
}

STDMETHODIMP CBaseFilter::Pause() {
  CAutoLock lock(m_pLock);
  if (m_State == State_Stopped) {
    int cPins = GetPinCount();
    for (int c = 0; c < cPins; c++) {
      CBasePin* pPin = GetPin(c);
      if (!pPin) break;
      if (pPin->IsConnected()) {
        HRESULT hr = pPin->Active();
        if (FAILED(hr)) return hr;
      }
    }
  }
  m_State = State_Paused;
  return S_OK;
}

STDMETHODIMP CBaseFilter::Run(REFERENCE_TIME tStart) {
  CAutoLock lock(m_pLock);
  m_tStart = tStart;
  if (m_State == State_Stopped) {
    HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  if (m_State != State_Running) {
    int cPins = GetPinCount();
    for (int c = 0; c < cPins; c++) {
      CBasePin* pPin = GetPin(c);
      if (!pPin) break;
      if (pPin->IsConnected()) {
        HRESULT hr = pPin->Run(tStart);
        if (FAILED(hr)) return hr;
      }
    }
  }
  m_State = State_Running;
  return S_OK;
}

STDMETHODIMP CBaseFilter::GetState(DWORD, FILTER_STATE* State) {
  if (!State) return E_POINTER;
  *State = m_State;
  return S_OK;
}

STDMETHODIMP CBaseFilter::SetSyncSource(IReferenceClock* pClock) {
  CAutoLock lock(m_pLock);
  m_pClock = ComPtr<IReferenceClock>(pClock);
  return S_OK;
}

STDMETHODIMP CBaseFilter::GetSyncSource(IReferenceClock** pClock) {
  if (!pClock) return E_POINTER;
  CAutoLock lock(m_pLock);
  *pClock = ComPtr<IReferenceClock>(m_pClock).Detach();
  return S_OK;
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME& rtStream) {
  if (!m_pClock) return VFW_E_NO_CLOCK;
  HRESULT hr = m_pClock->GetTime(&rtStream);
  if (FAILED(hr)) return hr;
  rtStream -= m_tStart;
  return S_OK;
}

STDMETHODIMP CBaseFilter::EnumPins(IEnumPins** ppEnum) {
  if (!ppEnum) return E_POINTER;
  auto* p = new (std::nothrow) CEnumPins(this, nullptr);
  if (!p) {
    *ppEnum = nullptr;
    return E_OUTOFMEMORY;
  }
  p->NonDelegatingAddRef();
  *ppEnum = p;
  return S_OK;
}

STDMETHODIMP CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
  if (!ppPin) return E_POINTER;
  *ppPin = nullptr;
  if (!Id) return E_POINTER;
  CAutoLock lock(m_pLock);
  int n = GetPinCount();
  for (int i = 0; i < n; i++) {
    CBasePin* pPin = GetPin(i);
    if (!pPin) break;
    LPWSTR pinId = nullptr;
    if (SUCCEEDED(pPin->QueryId(&pinId)) && pinId) {
      bool match = std::wcscmp(pinId, Id) == 0;
      CoTaskMemFree(pinId);
      if (match) {
        *ppPin = pPin;
        pPin->AddRef();
        return S_OK;
      }
    }
  }
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
  if (!pInfo) return E_POINTER;
  CopyName(pInfo->achName, MAX_FILTER_NAME, m_FilterName);
  pInfo->pGraph = m_pGraph;
  if (m_pGraph) m_pGraph->AddRef();
  return S_OK;
}

STDMETHODIMP CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
  CAutoLock lock(m_pLock);
  m_pGraph = pGraph;
  m_pSink = nullptr;
  if (pGraph) {
    // The graph holds us: keep the sink as a plain pointer that lives as long as the graph.
    ComPtr<IMediaEventSink> sink;
    if (SUCCEEDED(pGraph->QueryInterface(IID_IMediaEventSink, sink.AsOut()))) m_pSink = sink.Get();
  }
  if (pName)
    m_FilterName = pName;
  else
    m_FilterName.clear();
  return S_OK;
}

STDMETHODIMP CBaseFilter::QueryVendorInfo(LPWSTR* pVendorInfo) {
  if (pVendorInfo) *pVendorInfo = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP CBaseFilter::Register() { return E_NOTIMPL; }
STDMETHODIMP CBaseFilter::Unregister() { return E_NOTIMPL; }

HRESULT CBaseFilter::NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
  IMediaEventSink* pSink = m_pSink;
  if (!pSink) return E_NOTIMPL;
  // EC_COMPLETE identifies the filter that finished when the caller did not say.
  if (EventCode == EC_COMPLETE && EventParam2 == 0)
    EventParam2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  return pSink->Notify(EventCode, EventParam1, EventParam2);
}

HRESULT CBaseFilter::ReconnectPin(IPin* pPin, const AM_MEDIA_TYPE*) {
  if (!m_pGraph) return VFW_E_NOT_IN_GRAPH;
  return m_pGraph->Reconnect(pPin);
}

// =============================================================================================
// CBasePin

CBasePin::CBasePin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName,
                   PIN_DIRECTION dir)
    : CUnknown(pObjectName, nullptr, phr), m_pName(pName ? pName : L""), m_dir(dir), m_pLock(pLock),
      m_pFilter(pFilter) {}

CBasePin::~CBasePin() = default;

STDMETHODIMP CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), ppv);
  if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CBasePin::NonDelegatingAddRef() { return m_pFilter->AddRef(); }
STDMETHODIMP_(ULONG) CBasePin::NonDelegatingRelease() { return m_pFilter->Release(); }

STDMETHODIMP CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
  if (!pReceivePin) return E_POINTER;
  {
    CAutoLock lock(m_pLock);
    if (m_Connected) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
  }
  // The negotiation calls into the peer filter (its lock, its type offers), which may call back
  // into filters upstream of us; holding our lock across it would order filter locks against each
  // other. Connections are made one at a time by the graph's thread, so none can interleave.
  try {
    if (pmt) {
      CMediaType mt(*pmt);
      return AgreeMediaType(pReceivePin, &mt);
    }
    return AgreeMediaType(pReceivePin, nullptr);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CBasePin::AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt) {
  // A fully specified type is the only one tried.
  if (pmt && !pmt->IsPartiallySpecified()) return AttemptConnection(pReceivePin, pmt);

  HRESULT hrFailure = VFW_E_NO_ACCEPTABLE_TYPES;
  for (int i = 0; i < 2; i++) {
    ComPtr<IEnumMediaTypes> pEnum;
    HRESULT hr;
    if (i == static_cast<int>(m_bTryMyTypesFirst))
      hr = pReceivePin->EnumMediaTypes(&pEnum);
    else
      hr = EnumMediaTypes(&pEnum);
    if (SUCCEEDED(hr) && pEnum) {
      hr = TryMediaTypes(pReceivePin, pmt, pEnum.Get());
      if (SUCCEEDED(hr)) return S_OK;
      // Remember a specific reason rather than the generic one.
      if (hr != E_FAIL && hr != E_INVALIDARG && hr != VFW_E_TYPE_NOT_ACCEPTED) hrFailure = hr;
    }
  }
  return hrFailure;
}

HRESULT CBasePin::TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum) {
  HRESULT hr = pEnum->Reset();
  if (FAILED(hr)) return hr;
  HRESULT hrFailure = S_OK;
  for (;;) {
    AM_MEDIA_TYPE* pMediaType = nullptr;
    ULONG fetched = 0;
    hr = pEnum->Next(1, &pMediaType, &fetched);
    if (hr != S_OK || fetched != 1 || !pMediaType) {
      DeleteMediaType(pMediaType);
      if (hrFailure == S_OK) hrFailure = VFW_E_NO_ACCEPTABLE_TYPES;
      return hrFailure;
    }
    CMediaType candidate(*pMediaType);
    DeleteMediaType(pMediaType);
    if (!pmt || candidate.MatchesPartial(pmt)) {
      hr = AttemptConnection(pReceivePin, &candidate);
      if (SUCCEEDED(hr)) return hr;
      // Keep the first failure that says more than "not this type".
      if (hrFailure == S_OK || hrFailure == VFW_E_TYPE_NOT_ACCEPTED ||
          (hr != VFW_E_TYPE_NOT_ACCEPTED && hr != E_FAIL && hr != E_INVALIDARG && SUCCEEDED(hrFailure)))
        hrFailure = hr;
    }
  }
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const CMediaType* pmt) {
  HRESULT hr = CheckConnect(pReceivePin);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(pmt);
  if (hr == S_OK) {
    m_Connected = ComPtr<IPin>(pReceivePin);
    hr = SetMediaType(pmt);
    if (SUCCEEDED(hr)) {
      hr = pReceivePin->ReceiveConnection(static_cast<IPin*>(this), pmt);
      if (SUCCEEDED(hr)) {
        hr = CompleteConnect(pReceivePin);
        if (SUCCEEDED(hr)) return hr;
        pReceivePin->Disconnect();
      }
    }
  } else if (SUCCEEDED(hr)) {
    hr = VFW_E_TYPE_NOT_ACCEPTED;
  }
  m_Connected = nullptr;
  BreakConnect();
  return hr;
}

STDMETHODIMP CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
  if (!pConnector || !pmt) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (m_Connected) return VFW_E_ALREADY_CONNECTED;
  if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
  HRESULT hr = CheckConnect(pConnector);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  try {
    CMediaType mt(*pmt);
    hr = CheckMediaType(&mt);
    if (hr != S_OK) {
      BreakConnect();
      return SUCCEEDED(hr) ? VFW_E_TYPE_NOT_ACCEPTED : hr;
    }
    m_Connected = ComPtr<IPin>(pConnector);
    hr = SetMediaType(&mt);
    if (SUCCEEDED(hr)) {
      hr = CompleteConnect(pConnector);
      if (SUCCEEDED(hr)) return S_OK;
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  m_Connected = nullptr;
  BreakConnect();
  return hr;
}

STDMETHODIMP CBasePin::Disconnect() {
  CAutoLock lock(m_pLock);
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
  if (!m_Connected) return S_FALSE;
  HRESULT hr = BreakConnect();
  if (FAILED(hr)) return hr;
  m_Connected = nullptr;
  return S_OK;
}

STDMETHODIMP CBasePin::ConnectedTo(IPin** pPin) {
  if (!pPin) return E_POINTER;
  CAutoLock lock(m_pLock);
  *pPin = ComPtr<IPin>(m_Connected).Detach();
  return *pPin ? S_OK : VFW_E_NOT_CONNECTED;
}

STDMETHODIMP CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (!m_Connected) {
    std::memset(static_cast<void*>(pmt), 0, sizeof(*pmt));
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(pmt, &m_mt);
}

STDMETHODIMP CBasePin::QueryPinInfo(PIN_INFO* pInfo) {
  if (!pInfo) return E_POINTER;
  pInfo->pFilter = m_pFilter;
  if (m_pFilter) m_pFilter->AddRef();
  CopyName(pInfo->achName, MAX_PIN_NAME, m_pName);
  pInfo->dir = m_dir;
  return S_OK;
}

STDMETHODIMP CBasePin::QueryDirection(PIN_DIRECTION* pPinDir) {
  if (!pPinDir) return E_POINTER;
  *pPinDir = m_dir;
  return S_OK;
}

STDMETHODIMP CBasePin::QueryId(LPWSTR* Id) { return AMGetWideString(m_pName, Id); }

STDMETHODIMP CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  try {
    CMediaType mt(*pmt);
    HRESULT hr = CheckMediaType(&mt);
    return hr == S_OK ? S_OK : S_FALSE;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
  if (!ppEnum) return E_POINTER;
  auto* p = new (std::nothrow) CEnumMediaTypes(this, nullptr);
  if (!p) {
    *ppEnum = nullptr;
    return E_OUTOFMEMORY;
  }
  p->NonDelegatingAddRef();
  *ppEnum = p;
  return S_OK;
}

STDMETHODIMP CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

STDMETHODIMP CBasePin::EndOfStream() { return S_OK; }

STDMETHODIMP CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  m_tStart = tStart;
  m_tStop = tStop;
  m_dRate = dRate;
  return S_OK;
}

STDMETHODIMP CBasePin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

STDMETHODIMP CBasePin::SetSink(IQualityControl* piqc) {
  CAutoLock lock(m_pLock);
  m_pQSink = piqc;
  return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* pmt) {
  HRESULT hr = m_mt.Set(*pmt);
  return hr;
}

HRESULT CBasePin::CheckConnect(IPin* pPin) {
  PIN_DIRECTION pd;
  HRESULT hr = pPin->QueryDirection(&pd);
  if (FAILED(hr)) return hr;
  if (pd == m_dir) return VFW_E_INVALID_DIRECTION;
  return S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }
HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }

HRESULT CBasePin::GetMediaType(int iPosition, CMediaType*) {
  return iPosition < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
}

// =============================================================================================
// Enumerators

CEnumPins::CEnumPins(CBaseFilter* pFilter, const CEnumPins* pEnumPins)
    : CUnknown(L"Pin enumerator", nullptr), m_pFilter(pFilter) {
  m_pFilter->AddRef();
  if (pEnumPins) {
    m_Position = pEnumPins->m_Position;
    m_PinCount = pEnumPins->m_PinCount;
    m_Version = pEnumPins->m_Version;
  } else {
    m_PinCount = m_pFilter->GetPinCount();
    m_Version = m_pFilter->GetPinVersion();
  }
}

CEnumPins::~CEnumPins() { m_pFilter->Release(); }

STDMETHODIMP CEnumPins::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IEnumPins) return GetInterface(static_cast<IEnumPins*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) {
  if (!ppPins) return E_POINTER;
  if (!pcFetched && cPins > 1) return E_INVALIDARG;
  if (AreWeOutOfSync()) {
    if (pcFetched) *pcFetched = 0;
    return VFW_E_ENUM_OUT_OF_SYNC;
  }
  ULONG fetched = 0;
  while (fetched < cPins && m_Position < m_PinCount) {
    CBasePin* pPin = m_pFilter->GetPin(m_Position++);
    if (!pPin) break;
    ppPins[fetched] = pPin;
    pPin->AddRef();
    fetched++;
  }
  if (pcFetched) *pcFetched = fetched;
  return fetched == cPins ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumPins::Skip(ULONG cPins) {
  if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  ULONG left = static_cast<ULONG>(m_PinCount - m_Position);
  if (cPins > left) return S_FALSE;
  m_Position += static_cast<int>(cPins);
  return S_OK;
}

STDMETHODIMP CEnumPins::Reset() {
  m_Version = m_pFilter->GetPinVersion();
  m_PinCount = m_pFilter->GetPinCount();
  m_Position = 0;
  return S_OK;
}

STDMETHODIMP CEnumPins::Clone(IEnumPins** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* p = new (std::nothrow) CEnumPins(m_pFilter, this);
  if (!p) return E_OUTOFMEMORY;
  p->NonDelegatingAddRef();
  *ppEnum = p;
  return S_OK;
}

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pPin, const CEnumMediaTypes* pEnumMediaTypes)
    : CUnknown(L"Media type enumerator", nullptr), m_pPin(pPin) {
  m_pPin->AddRef();
  if (pEnumMediaTypes) {
    m_Position = pEnumMediaTypes->m_Position;
    m_Version = pEnumMediaTypes->m_Version;
  } else {
    m_Version = m_pPin->GetMediaTypeVersion();
  }
}

CEnumMediaTypes::~CEnumMediaTypes() { m_pPin->Release(); }

STDMETHODIMP CEnumMediaTypes::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IEnumMediaTypes) return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CEnumMediaTypes::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) {
  if (!ppMediaTypes) return E_POINTER;
  if (!pcFetched && cMediaTypes > 1) return E_INVALIDARG;
  if (AreWeOutOfSync()) {
    if (pcFetched) *pcFetched = 0;
    return VFW_E_ENUM_OUT_OF_SYNC;
  }
  ULONG fetched = 0;
  try {
    while (fetched < cMediaTypes) {
      CMediaType cmt;
      HRESULT hr = m_pPin->GetMediaType(m_Position, &cmt);
      if (hr != S_OK) break;
      m_Position++;
      AM_MEDIA_TYPE* pmt = CreateMediaType(&cmt);
      if (!pmt) break;
      ppMediaTypes[fetched++] = pmt;
    }
  } catch (const std::bad_alloc&) {
  }
  if (pcFetched) *pcFetched = fetched;
  return fetched == cMediaTypes ? S_OK : S_FALSE;
}

STDMETHODIMP CEnumMediaTypes::Skip(ULONG cMediaTypes) {
  if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  for (ULONG i = 0; i < cMediaTypes; i++) {
    CMediaType cmt;
    if (m_pPin->GetMediaType(m_Position, &cmt) != S_OK) return S_FALSE;
    m_Position++;
  }
  return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Reset() {
  m_Position = 0;
  m_Version = m_pPin->GetMediaTypeVersion();
  return S_OK;
}

STDMETHODIMP CEnumMediaTypes::Clone(IEnumMediaTypes** ppEnum) {
  if (!ppEnum) return E_POINTER;
  *ppEnum = nullptr;
  if (AreWeOutOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  auto* p = new (std::nothrow) CEnumMediaTypes(m_pPin, this);
  if (!p) return E_OUTOFMEMORY;
  p->NonDelegatingAddRef();
  *ppEnum = p;
  return S_OK;
}

// =============================================================================================
// CBaseOutputPin

CBaseOutputPin::CBaseOutputPin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                               LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() = default;

HRESULT CBaseOutputPin::CheckConnect(IPin* pPin) {
  HRESULT hr = CBasePin::CheckConnect(pPin);
  if (FAILED(hr)) return hr;
  ComPtr<IMemInputPin> input;
  hr = pPin->QueryInterface(IID_IMemInputPin, input.AsOut());
  if (FAILED(hr)) return VFW_E_NO_TRANSPORT;
  m_pInputPin = std::move(input);
  return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
  ComPtr<IMemAllocator> alloc;
  HRESULT hr = DecideAllocator(m_pInputPin.Get(), &alloc);
  if (SUCCEEDED(hr)) m_pAllocator = std::move(alloc);
  return hr;
}

HRESULT CBaseOutputPin::BreakConnect() {
  if (m_pAllocator) {
    // The allocator may be shared with the peer; decommitting is harmless when stopped.
    m_pAllocator->Decommit();
    m_pAllocator = nullptr;
  }
  m_pInputPin = nullptr;
  return S_OK;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
  if (!pPin || !ppAlloc) return E_POINTER;
  *ppAlloc = nullptr;
  ALLOCATOR_PROPERTIES prop{};
  pPin->GetAllocatorRequirements(&prop);
  if (prop.cbAlign == 0) prop.cbAlign = 1;

  ComPtr<IMemAllocator> alloc;
  HRESULT hr = pPin->GetAllocator(&alloc);
  if (SUCCEEDED(hr) && alloc) {
    hr = DecideBufferSize(alloc.Get(), &prop);
    if (SUCCEEDED(hr)) {
      hr = pPin->NotifyAllocator(alloc.Get(), FALSE);
      if (SUCCEEDED(hr)) {
        *ppAlloc = alloc.Detach();
        return S_OK;
      }
    }
  }
  alloc = nullptr;
  // The peer offered no usable allocator: use our own.
  hr = InitAllocator(&alloc);
  if (SUCCEEDED(hr)) {
    ALLOCATOR_PROPERTIES prop2{};
    pPin->GetAllocatorRequirements(&prop2);
    if (prop2.cbAlign == 0) prop2.cbAlign = 1;
    hr = DecideBufferSize(alloc.Get(), &prop2);
    if (SUCCEEDED(hr)) {
      hr = pPin->NotifyAllocator(alloc.Get(), FALSE);
      if (SUCCEEDED(hr)) {
        *ppAlloc = alloc.Detach();
        return S_OK;
      }
    }
  }
  return hr;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** ppAlloc) { return CreateMemoryAllocator(ppAlloc); }

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                          REFERENCE_TIME* pEndTime, DWORD dwFlags) {
  if (!ppSample) return E_POINTER;
  *ppSample = nullptr;
  if (!m_pAllocator) return E_NOINTERFACE;
  return m_pAllocator->GetBuffer(ppSample, pStartTime, pEndTime, dwFlags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* pSample) {
  if (!m_pInputPin) return VFW_E_NOT_CONNECTED;
  return m_pInputPin->Receive(pSample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->NewSegment(tStart, tStop, dRate);
}

HRESULT CBaseOutputPin::Active() {
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
  m_bRunTimeError = false;
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Decommit();
}

STDMETHODIMP CBaseOutputPin::EndOfStream() { return E_UNEXPECTED; }
STDMETHODIMP CBaseOutputPin::BeginFlush() { return E_UNEXPECTED; }
STDMETHODIMP CBaseOutputPin::EndFlush() { return E_UNEXPECTED; }

// =============================================================================================
// CBaseInputPin

CBaseInputPin::CBaseInputPin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                             LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() = default;

STDMETHODIMP CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), ppv);
  if (riid == IID_IPinSampleCount) return GetInterface(static_cast<IPinSampleCount*>(this), ppv);
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseInputPin::GetAllocator(IMemAllocator** ppAllocator) {
  if (!ppAllocator) return E_POINTER;
  *ppAllocator = nullptr;
  CAutoLock lock(m_pLock);
  if (!m_pAllocator) {
    HRESULT hr = CreateMemoryAllocator(&m_pAllocator);
    if (FAILED(hr)) return hr;
  }
  *ppAllocator = ComPtr<IMemAllocator>(m_pAllocator).Detach();
  return S_OK;
}

STDMETHODIMP CBaseInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
  if (!pAllocator) return E_POINTER;
  CAutoLock lock(m_pLock);
  m_pAllocator = ComPtr<IMemAllocator>(pAllocator);
  m_bReadOnly = bReadOnly != FALSE;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT CBaseInputPin::CheckStreaming() {
  if (!IsConnected()) return VFW_E_NOT_CONNECTED;
  if (IsStopped()) return VFW_E_WRONG_STATE;
  if (m_bFlushing) return S_FALSE;
  if (m_bRunTimeError) return VFW_E_RUNTIME_ERROR;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::Receive(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;

  ComPtr<IMediaSample2> sample2;
  if (SUCCEEDED(pSample->QueryInterface(IID_IMediaSample2, sample2.AsOut()))) {
    hr = sample2->GetProperties(sizeof(m_SampleProps), reinterpret_cast<BYTE*>(&m_SampleProps));
    if (FAILED(hr)) return hr;
  } else {
    // Build the properties from the plain sample interface.
    m_SampleProps.cbData = sizeof(m_SampleProps);
    m_SampleProps.dwTypeSpecificFlags = 0;
    m_SampleProps.dwStreamId = AM_STREAM_MEDIA;
    m_SampleProps.dwSampleFlags = 0;
    if (pSample->IsDiscontinuity() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
    if (pSample->IsPreroll() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_PREROLL;
    if (pSample->IsSyncPoint() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
    hr = pSample->GetTime(&m_SampleProps.tStart, &m_SampleProps.tStop);
    if (SUCCEEDED(hr)) {
      m_SampleProps.dwSampleFlags |= AM_SAMPLE_TIMEVALID;
      if (hr == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_STOPVALID;
    }
    // The plain interface only hands out copies of an attached type: report the change and
    // check the copy here, so that no pointer to a freed type is kept.
    AM_MEDIA_TYPE* pmt = nullptr;
    m_SampleProps.pMediaType = nullptr;
    if (pSample->GetMediaType(&pmt) == S_OK && pmt) {
      CMediaType changed(*pmt);
      DeleteMediaType(pmt);
      if (CheckMediaType(&changed) != S_OK) {
        // End of stream first (it checks the streaming state), then refuse further samples.
        EndOfStream();
        m_bRunTimeError = true;
        m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
        return VFW_E_INVALIDMEDIATYPE;
      }
    }
    pSample->GetPointer(&m_SampleProps.pbBuffer);
    m_SampleProps.lActual = pSample->GetActualDataLength();
    m_SampleProps.cbBuffer = pSample->GetSize();
    m_cSamplesAccepted.fetch_add(1, std::memory_order_relaxed);
    return S_OK;
  }

  if ((m_SampleProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) && m_SampleProps.pMediaType) {
    CMediaType changed(*m_SampleProps.pMediaType);
    if (CheckMediaType(&changed) != S_OK) {
      // A type we cannot take mid-stream: stop taking samples and tell the graph.
      EndOfStream();
      m_bRunTimeError = true;
      m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
      return VFW_E_INVALIDMEDIATYPE;
    }
  }
  m_cSamplesAccepted.fetch_add(1, std::memory_order_relaxed);
  return S_OK;
}

STDMETHODIMP CBaseInputPin::GetSampleCount(LONGLONG* pCount) {
  if (!pCount) return E_POINTER;
  *pCount = m_cSamplesAccepted.load(std::memory_order_relaxed);
  return S_OK;
}

STDMETHODIMP CBaseInputPin::ReceiveMultiple(IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed) {
  if (!pSamples) return E_POINTER;
  HRESULT hr = S_OK;
  LONG processed = 0;
  while (nSamples-- > 0) {
    hr = Receive(pSamples[processed]);
    if (hr != S_OK) break;
    processed++;
  }
  if (nSamplesProcessed) *nSamplesProcessed = processed;
  return hr;
}

STDMETHODIMP CBaseInputPin::ReceiveCanBlock() {
  int cPins = m_pFilter->GetPinCount();
  int cOutputPins = 0;
  for (int c = 0; c < cPins; c++) {
    CBasePin* pPin = m_pFilter->GetPin(c);
    if (!pPin) break;
    if (pPin->Direction() != PINDIR_OUTPUT) continue;
    cOutputPins++;
    IPin* pConnected = pPin->GetConnected();
    if (!pConnected) continue;
    ComPtr<IMemInputPin> input;
    if (SUCCEEDED(pConnected->QueryInterface(IID_IMemInputPin, input.AsOut()))) {
      if (input->ReceiveCanBlock() != S_FALSE) return S_OK;
    } else {
      // A peer with another transport may block.
      return S_OK;
    }
  }
  return cOutputPins == 0 ? S_OK : S_FALSE;
}

STDMETHODIMP CBaseInputPin::BeginFlush() {
  CAutoLock lock(m_pLock);
  m_bFlushing = true;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::EndFlush() {
  CAutoLock lock(m_pLock);
  m_bFlushing = false;
  m_bRunTimeError = false;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::Notify(IBaseFilter*, Quality) { return E_NOTIMPL; }

HRESULT CBaseInputPin::PassNotify(Quality& q) {
  if (m_pQSink) return m_pQSink->Notify(m_pFilter, q);
  if (!m_Connected) return VFW_E_NOT_FOUND;
  ComPtr<IQualityControl> qc;
  HRESULT hr = m_Connected->QueryInterface(IID_IQualityControl, qc.AsOut());
  if (FAILED(hr)) return VFW_E_NOT_FOUND;
  return qc->Notify(m_pFilter, q);
}

HRESULT CBaseInputPin::BreakConnect() {
  if (m_pAllocator) {
    m_pAllocator->Decommit();
    m_pAllocator = nullptr;
  }
  m_bReadOnly = false;
  return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
  m_bRunTimeError = false;
  m_bFlushing = false;
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->Decommit();
}

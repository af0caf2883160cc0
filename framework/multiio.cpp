#include "framework/multiio.h"

#include <cstddef>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/strmbase/uuids.h"

namespace {

bool Matches(const GUID* row, const GUID& value) { return row == nullptr || *row == value; }

}  // namespace

bool MatchesAcceptedType(const std::vector<AcceptedMediaType*>& list, const AM_MEDIA_TYPE& mt) {
  for (const AcceptedMediaType* row : list) {
    if (Matches(row->majorType, mt.majortype) && Matches(row->subType, mt.subtype) &&
        Matches(row->formatType, mt.formattype))
      return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Input pin

CMultiIOInputPin::CMultiIOInputPin(CMultiIOBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName,
                                   int nIndex)
    : CBaseInputPin(L"multi-IO input pin", pFilter, pLock, phr, pName), m_pMultiIOFilter(pFilter), m_nPinIndex(nIndex) {}

HRESULT CMultiIOInputPin::CheckMediaType(const CMediaType* pmt) { return m_pMultiIOFilter->CheckInputType(pmt); }

HRESULT CMultiIOInputPin::SetMediaType(const CMediaType* pmt) {
  HRESULT hr = CBaseInputPin::SetMediaType(pmt);
  if (FAILED(hr)) return hr;
  return m_pMultiIOFilter->SetPinMediaType(PINDIR_INPUT, pmt, m_nPinIndex);
}

HRESULT CMultiIOInputPin::CompleteConnect(IPin* pReceivePin) {
  HRESULT hr = CBaseInputPin::CompleteConnect(pReceivePin);
  if (FAILED(hr)) return hr;
  m_pMultiIOFilter->PinConnected(m_nPinIndex, PINDIR_INPUT);
  return hr;
}

HRESULT CMultiIOInputPin::BreakConnect() {
  HRESULT hr = CBaseInputPin::BreakConnect();
  m_pMultiIOFilter->InputDisconnected(m_nPinIndex);
  return hr;
}

STDMETHODIMP CMultiIOInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

STDMETHODIMP CMultiIOInputPin::Receive(IMediaSample* pSample) {
  CAutoLock lock(m_pMultiIOFilter->ReceiveLock());
  HRESULT hr = CBaseInputPin::Receive(pSample);
  if (hr != S_OK) return hr;
  return m_pMultiIOFilter->ReceiveSample(pSample, m_nPinIndex);
}

STDMETHODIMP CMultiIOInputPin::EndOfStream() {
  HRESULT hr = CBaseInputPin::EndOfStream();
  if (FAILED(hr)) return hr;
  return m_pMultiIOFilter->InputEndOfStream(m_nPinIndex);
}

STDMETHODIMP CMultiIOInputPin::BeginFlush() {
  HRESULT hr = CBaseInputPin::BeginFlush();
  if (FAILED(hr)) return hr;
  return m_pMultiIOFilter->InputBeginFlush(m_nPinIndex);
}

STDMETHODIMP CMultiIOInputPin::EndFlush() {
  HRESULT hr = CBaseInputPin::EndFlush();
  if (FAILED(hr)) return hr;
  return m_pMultiIOFilter->InputEndFlush(m_nPinIndex);
}

STDMETHODIMP CMultiIOInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  HRESULT hr = CBaseInputPin::NewSegment(tStart, tStop, dRate);
  if (FAILED(hr)) return hr;
  return m_pMultiIOFilter->InputNewSegment(tStart, tStop, dRate, m_nPinIndex);
}

// ---------------------------------------------------------------------------------------------
// Output pin

CMultiIOOutputPin::CMultiIOOutputPin(CMultiIOBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName,
                                     int nIndex)
    : CBaseOutputPin(L"multi-IO output pin", pFilter, pLock, phr, pName),
      m_pMultiIOFilter(pFilter),
      m_nPinIndex(nIndex) {}

CMultiIOOutputPin::~CMultiIOOutputPin() = default;

HRESULT CMultiIOOutputPin::CheckMediaType(const CMediaType* pmt) { return m_pMultiIOFilter->CheckOutputType(pmt); }

HRESULT CMultiIOOutputPin::CompleteConnect(IPin* pReceivePin) {
  HRESULT hr = CBaseOutputPin::CompleteConnect(pReceivePin);
  if (FAILED(hr)) return hr;
  m_pMultiIOFilter->PinConnected(m_nPinIndex, PINDIR_OUTPUT);
  return hr;
}

HRESULT CMultiIOOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
  const CMultiIOInputPin* in0 = m_pMultiIOFilter->InputPin(0);
  const CMultiIOInputPin* in1 = m_pMultiIOFilter->InputPin(1);
  if (!(in0 && in0->IsConnected()) && !(in1 && in1->IsConnected())) return VFW_S_NO_MORE_ITEMS;
  return m_pMultiIOFilter->GetOutputMediaType(iPosition, pMediaType, m_nPinIndex);
}

HRESULT CMultiIOOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
  return m_pMultiIOFilter->DecideOutputBufferSize(pAlloc, pProp, m_nPinIndex);
}

HRESULT CMultiIOOutputPin::Active() {
  CAutoLock lock(m_pLock);
  if (!IsConnected()) return S_OK;
  if (!m_pOutputQueue) {
    HRESULT hr = S_OK;
    // Automatic mode: a thread of its own only when the downstream pin can block.
    std::unique_ptr<COutputQueue> queue(new (std::nothrow) COutputQueue(
        GetConnected(), &hr, TRUE, FALSE, 1, FALSE, DEFAULTCACHE, THREAD_PRIORITY_NORMAL, false));
    if (!queue) return E_OUTOFMEMORY;
    if (FAILED(hr)) return hr;
    m_pOutputQueue = std::move(queue);
  }
  CBaseOutputPin::Active();  // an allocator that fails to commit shows up at GetBuffer
  return S_OK;
}

HRESULT CMultiIOOutputPin::Inactive() {
  CAutoLock lock(m_pLock);
  m_pOutputQueue.reset();  // waits for its thread
  CBaseOutputPin::Inactive();
  return S_OK;
}

HRESULT CMultiIOOutputPin::Deliver(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  if (!m_pOutputQueue) return S_OK;
  pSample->AddRef();
  return m_pOutputQueue->Receive(pSample);
}

HRESULT CMultiIOOutputPin::DeliverEndOfStream() {
  if (m_pOutputQueue) m_pOutputQueue->EOS();
  return S_OK;
}

HRESULT CMultiIOOutputPin::DeliverBeginFlush() {
  if (m_pOutputQueue) m_pOutputQueue->BeginFlush();
  return S_OK;
}

HRESULT CMultiIOOutputPin::DeliverEndFlush() {
  if (m_pOutputQueue) m_pOutputQueue->EndFlush();
  return S_OK;
}

HRESULT CMultiIOOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  if (m_pOutputQueue) m_pOutputQueue->NewSegment(tStart, tStop, dRate);
  return S_OK;
}

// ---------------------------------------------------------------------------------------------
// Filter

CMultiIOBaseFilter::CMultiIOBaseFilter(const wchar_t* pName, REFCLSID clsid)
    : CBaseFilter(pName, nullptr, &m_csFilter, clsid), CSettingsInterface(GetOwner()), CStatusInterface(GetOwner()) {}

CMultiIOBaseFilter::~CMultiIOBaseFilter() {
  for (CMultiIOInputPin* pin : m_inputPins) pin->Release();
  for (CMultiIOOutputPin* pin : m_outputPins) pin->Release();
  for (AcceptedMediaType* row : m_acceptedInputTypes) delete row;
  for (AcceptedMediaType* row : m_acceptedOutputTypes) delete row;
}

STDMETHODIMP CMultiIOBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_ISettingsInterface) return GetInterface(static_cast<ISettingsInterface*>(this), ppv);
  if (riid == IID_IStatusInterface) return GetInterface(static_cast<IStatusInterface*>(this), ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

int CMultiIOBaseFilter::GetPinCount() { return InputPinCount() + OutputPinCount(); }

CBasePin* CMultiIOBaseFilter::GetPin(int n) {
  if (n < 0 || n >= GetPinCount()) return nullptr;
  if (n < InputPinCount()) return m_inputPins[n];
  return m_outputPins[n - InputPinCount()];
}

STDMETHODIMP CMultiIOBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
  if (!ppPin) return E_POINTER;
  *ppPin = nullptr;
  if (!Id) return VFW_E_NOT_FOUND;
  std::string id;
  for (const wchar_t* p = Id; *p; ++p) id += static_cast<char>(*p);
  size_t numberAt = 0;
  int base = 0;
  if (id.compare(0, 5, "Input") == 0) {
    numberAt = 6;
  } else if (id.compare(0, 5, "Outpu") == 0) {
    numberAt = 7;
    base = InputPinCount();
  } else {
    return VFW_E_NOT_FOUND;
  }
  // An id with the right prefix but no number after it names no pin.
  if (id.size() <= numberAt) return VFW_E_NOT_FOUND;
  const char* start = id.c_str() + numberAt;
  char* end = nullptr;
  const long number = std::strtol(start, &end, 10);
  if (end == start) return VFW_E_NOT_FOUND;
  CBasePin* pin = (number < 0 || number > 0x7FFFFFFF - base) ? nullptr : GetPin(static_cast<int>(number) + base);
  if (!pin) return E_OUTOFMEMORY;
  return GetInterface(static_cast<IPin*>(pin), reinterpret_cast<void**>(ppPin));
}

HRESULT CMultiIOBaseFilter::CheckInputType(const CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  return MatchesAcceptedType(m_acceptedInputTypes, *pmt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CMultiIOBaseFilter::CheckOutputType(const CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  return MatchesAcceptedType(m_acceptedOutputTypes, *pmt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

void CMultiIOBaseFilter::PinConnected(int index, PIN_DIRECTION direction) {
  if (direction == PINDIR_INPUT) {
    if (CanAddInputPin() && index == InputPinCount() - 1) AddInputPin();
  } else if (CanAddOutputPin() && index == OutputPinCount() - 1) {
    AddOutputPin();
  }
}

void CMultiIOBaseFilter::InputDisconnected(int index) {
  const int count = InputPinCount();
  if (!CanAddInputPin() || index != count - 2 || m_inputPins.back()->IsConnected() || count <= InitialInputPinCount())
    return;
  m_inputPins.back()->Release();
  m_inputPins.pop_back();
  IncrementPinVersion();
}

HRESULT CMultiIOBaseFilter::SetPinMediaType(PIN_DIRECTION direction, const CMediaType* pmt, int index) {
  if (!pmt) return E_POINTER;
  if (direction == PINDIR_INPUT) m_inputMediaTypes[index] = *pmt;
  return MatchesAcceptedType(m_acceptedInputTypes, *pmt) ? S_OK : E_FAIL;
}

HRESULT CMultiIOBaseFilter::InitializeOutputSample(IMediaSample* /*pIn*/, IMediaSample** ppOut, int inputIndex,
                                                   int outputIndex) {
  if (!ppOut) return E_POINTER;
  *ppOut = nullptr;
  CMultiIOInputPin* in = InputPin(inputIndex);
  CMultiIOOutputPin* out = OutputPin(outputIndex);
  if (!in || !out) return E_INVALIDARG;
  const AM_SAMPLE2_PROPERTIES* props = in->SampleProps();
  const DWORD flags = (props->dwSampleFlags & AM_SAMPLE_SPLICEPOINT) ? 0 : AM_GBF_NOTASYNCPOINT;
  REFERENCE_TIME start = props->tStart, stop = props->tStop;
  HRESULT hr = out->GetDeliveryBuffer(ppOut, (props->dwSampleFlags & AM_SAMPLE_TIMEVALID) ? &start : nullptr,
                                      (props->dwSampleFlags & AM_SAMPLE_STOPVALID) ? &stop : nullptr, flags);
  if (FAILED(hr)) return hr;
  IMediaSample* pOut = *ppOut;
  if (!pOut) return E_UNEXPECTED;

  ComPtr<IMediaSample2> out2;
  if (SUCCEEDED(pOut->QueryInterface(IID_IMediaSample2, out2.AsOut()))) {
    AM_SAMPLE2_PROPERTIES outProps{};
    hr = out2->GetProperties(offsetof(AM_SAMPLE2_PROPERTIES, tStart), reinterpret_cast<BYTE*>(&outProps));
    if (FAILED(hr)) return hr;
    outProps.dwTypeSpecificFlags = props->dwTypeSpecificFlags;
    outProps.dwSampleFlags =
        (outProps.dwSampleFlags & AM_SAMPLE_TYPECHANGED) | (props->dwSampleFlags & ~AM_SAMPLE_TYPECHANGED);
    outProps.tStart = props->tStart;
    outProps.tStop = props->tStop;
    outProps.cbData = offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId);
    hr = out2->SetProperties(offsetof(AM_SAMPLE2_PROPERTIES, dwStreamId), reinterpret_cast<BYTE*>(&outProps));
    if (FAILED(hr)) return hr;
  } else {
    if (props->dwSampleFlags & AM_SAMPLE_TIMEVALID) pOut->SetTime(&start, &stop);
    if (props->dwSampleFlags & AM_SAMPLE_SPLICEPOINT) pOut->SetSyncPoint(TRUE);
    if (props->dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) pOut->SetDiscontinuity(TRUE);
  }
  return S_OK;
}

HRESULT CMultiIOBaseFilter::InputEndOfStream(int) { return S_OK; }
HRESULT CMultiIOBaseFilter::InputBeginFlush(int) { return S_OK; }
HRESULT CMultiIOBaseFilter::InputEndFlush(int) { return S_OK; }
HRESULT CMultiIOBaseFilter::InputNewSegment(REFERENCE_TIME, REFERENCE_TIME, double, int) { return S_OK; }

void CMultiIOBaseFilter::CreatePins() {
  if (m_bPinsCreated) return;
  const int inputs = InitialInputPinCount();
  const int outputs = InitialOutputPinCount();
  for (int i = 0; i < inputs; ++i) AddInputPin();
  for (int i = 0; i < outputs; ++i) AddOutputPin();
  InitialiseInputTypes();
  InitialiseOutputTypes();
  m_bPinsCreated = true;
}

void CMultiIOBaseFilter::AddInputPin() {
  const int index = InputPinCount();
  const std::wstring name = L"Input " + std::to_wstring(index);
  HRESULT hr = S_OK;
  auto* pin = new CMultiIOInputPin(this, &m_csFilter, &hr, name.c_str(), index);
  pin->AddRef();
  m_inputPins.push_back(pin);
  IncrementPinVersion();
}

void CMultiIOBaseFilter::AddOutputPin() {
  const int index = OutputPinCount();
  const std::wstring name = L"Output " + std::to_wstring(index);
  HRESULT hr = S_OK;
  auto* pin = new CMultiIOOutputPin(this, &m_csFilter, &hr, name.c_str(), index);
  pin->AddRef();
  m_outputPins.push_back(pin);
  IncrementPinVersion();
}

void CMultiIOBaseFilter::AddAcceptedType(std::vector<AcceptedMediaType*>& list, const GUID* major, const GUID* sub,
                                         const GUID* format) {
  list.push_back(new AcceptedMediaType{major, sub, format});
}

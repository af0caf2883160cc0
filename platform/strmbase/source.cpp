#include "platform/strmbase/source.h"

#include <algorithm>
#include <cwchar>

#include "platform/com/runtime.h"

// =============================================================================================
// CSource

CSource::CSource(const wchar_t* pName, LPUNKNOWN lpunk, REFCLSID clsid, HRESULT* phr)
    : CBaseFilter(pName, lpunk, &m_cStateLock, clsid, phr) {}

CSource::~CSource() {
  // Pins remove themselves from the array as they are deleted.
  while (!m_paStreams.empty()) delete m_paStreams.back();
}

int CSource::GetPinCount() {
  CAutoLock lock(&m_cStateLock);
  return static_cast<int>(m_paStreams.size());
}

CBasePin* CSource::GetPin(int n) {
  CAutoLock lock(&m_cStateLock);
  if (n < 0 || n >= static_cast<int>(m_paStreams.size())) return nullptr;
  return m_paStreams[static_cast<size_t>(n)];
}

STDMETHODIMP CSource::FindPin(LPCWSTR Id, IPin** ppPin) { return CBaseFilter::FindPin(Id, ppPin); }

int CSource::FindPinNumber(IPin* iPin) {
  CAutoLock lock(&m_cStateLock);
  for (size_t i = 0; i < m_paStreams.size(); i++)
    if (static_cast<IPin*>(m_paStreams[i]) == iPin) return static_cast<int>(i);
  return -1;
}

HRESULT CSource::AddPin(CSourceStream* pStream) {
  CAutoLock lock(&m_cStateLock);
  try {
    m_paStreams.push_back(pStream);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  IncrementPinVersion();
  return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pStream) {
  CAutoLock lock(&m_cStateLock);
  auto it = std::find(m_paStreams.begin(), m_paStreams.end(), pStream);
  if (it == m_paStreams.end()) return S_FALSE;
  m_paStreams.erase(it);
  IncrementPinVersion();
  return S_OK;
}

// =============================================================================================
// CSourceStream

CSourceStream::CSourceStream(const wchar_t* pObjectName, HRESULT* phr, CSource* pms, LPCWSTR pName)
    : CBaseOutputPin(pObjectName, pms, pms->pStateLock(), phr, pName), m_pFilter(pms) {
  HRESULT hr = m_pFilter->AddPin(this);
  if (FAILED(hr) && phr) *phr = hr;
}

CSourceStream::~CSourceStream() {
  // The worker must be gone before the pin is: it runs our virtual functions.
  if (CAMThread::ThreadExists()) {
    Stop();
    Exit();
    Close();
  }
  m_pFilter->RemovePin(this);
}

HRESULT CSourceStream::Active() {
  CAutoLock lock(m_pFilter->pStateLock());
  if (m_pFilter->IsActive()) return S_FALSE;
  if (!IsConnected()) return S_OK;
  HRESULT hr = CBaseOutputPin::Active();
  if (FAILED(hr)) return hr;
  if (CAMThread::ThreadExists()) return E_UNEXPECTED;
  if (!Create()) return E_FAIL;
  hr = Init();
  if (FAILED(hr)) {
    // The thread has already left (OnThreadCreate failed).
    Close();
    return hr;
  }
  return Pause();
}

HRESULT CSourceStream::Inactive() {
  CAutoLock lock(m_pFilter->pStateLock());
  if (!IsConnected()) return S_OK;
  // Decommit first: a GetDeliveryBuffer in progress fails and the loop sees our command.
  HRESULT hr = CBaseOutputPin::Inactive();
  if (FAILED(hr)) return hr;
  if (CAMThread::ThreadExists()) {
    hr = Stop();
    if (FAILED(hr)) return hr;
    hr = Exit();
    if (FAILED(hr)) return hr;
    Close();
  }
  return S_OK;
}

HRESULT CSourceStream::GetMediaType(CMediaType*) { return E_UNEXPECTED; }

HRESULT CSourceStream::GetMediaType(int iPosition, CMediaType* pMediaType) {
  CAutoLock lock(m_pFilter->pStateLock());
  if (iPosition < 0) return E_INVALIDARG;
  if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
  return GetMediaType(pMediaType);
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* pMediaType) {
  if (!pMediaType) return E_POINTER;
  CAutoLock lock(m_pFilter->pStateLock());
  CMediaType mt;
  if (FAILED(GetMediaType(&mt))) return E_FAIL;
  return mt == *pMediaType ? S_OK : E_FAIL;
}

STDMETHODIMP CSourceStream::QueryId(LPWSTR* Id) { return CBaseOutputPin::QueryId(Id); }

BOOL CSourceStream::CheckRequest(Command* pCom) {
  DWORD param = 0;
  BOOL b = CAMThread::CheckRequest(&param);
  if (b && pCom) *pCom = static_cast<Command>(param);
  return b;
}

DWORD CSourceStream::ThreadProc() {
  Command com;
  do {
    com = GetRequest();
    if (com != CMD_INIT) Reply(static_cast<DWORD>(E_UNEXPECTED));
  } while (com != CMD_INIT);

  HRESULT hr = OnThreadCreate();
  if (FAILED(hr)) {
    OnThreadDestroy();
    Reply(static_cast<DWORD>(hr));
    return 1;
  }
  Reply(S_OK);

  Command cmd;
  do {
    cmd = GetRequest();
    switch (cmd) {
      case CMD_EXIT:
      case CMD_STOP:
        Reply(S_OK);
        break;
      case CMD_RUN:
      case CMD_PAUSE:
        Reply(S_OK);
        DoBufferProcessingLoop();
        break;
      default:
        Reply(static_cast<DWORD>(E_NOTIMPL));
        break;
    }
  } while (cmd != CMD_EXIT);

  hr = OnThreadDestroy();
  return FAILED(hr) ? 1 : 0;
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
  Command com;
  OnThreadStartPlay();
  do {
    while (!CheckRequest(&com)) {
      IMediaSample* pRaw = nullptr;
      HRESULT hr = GetDeliveryBuffer(&pRaw, nullptr, nullptr, 0);
      if (FAILED(hr) || !pRaw) {
        // Decommitted (stopping) or no buffer yet: retry until a command arrives.
        if (pRaw) pRaw->Release();
        Sleep(1);
        continue;
      }
      ComPtr<IMediaSample> pSample = ComPtr<IMediaSample>::Attach(pRaw);
      hr = FillBuffer(pSample.Get());
      if (hr == S_OK) {
        hr = Deliver(pSample.Get());
        pSample = nullptr;
        // Downstream refused or is stopping: wait for our next command.
        if (hr != S_OK) return S_OK;
      } else if (hr == S_FALSE) {
        pSample = nullptr;
        DeliverEndOfStream();
        return S_OK;
      } else {
        pSample = nullptr;
        DeliverEndOfStream();
        m_pFilter->NotifyEvent(EC_ERRORABORT, hr, 0);
        return hr;
      }
    }
    // A command arrived while streaming.
    if (com == CMD_RUN || com == CMD_PAUSE) {
      Reply(S_OK);
    } else if (com != CMD_STOP) {
      Reply(static_cast<DWORD>(E_UNEXPECTED));
    }
  } while (com != CMD_STOP);
  return S_FALSE;
}

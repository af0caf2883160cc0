#include "utilities/queue.h"

#include <algorithm>
#include <new>

#include "framework/pages.h"

namespace plenor::utilities {

// ---------------------------------------------------------------------------------------------
// Input pin

CQueueInputPin::CQueueInputPin(CQueueFilter* pFilter, HRESULT* phr)
    : CTransInPlaceInputPin(L"Queue input pin", pFilter, phr, L"Input"), m_pQueue(pFilter) {}

STDMETHODIMP CQueueInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) {
  if (!pProps) return E_POINTER;
  if (FAILED(CTransInPlaceInputPin::GetAllocatorRequirements(pProps))) *pProps = ALLOCATOR_PROPERTIES{};
  // Upstream has not chosen its buffer size yet: the connected type's sample size (0 for samples of
  // varying size, which the byte bound then does not shorten) stands for it.
  const LONG size = pProps->cbBuffer > 0 ? pProps->cbBuffer : static_cast<LONG>(std::min<ULONG>(m_mt.GetSampleSize(), 0x7FFFFFFF));
  pProps->cBuffers = std::max(pProps->cBuffers, m_pQueue->BuffersNeeded(size));
  return S_OK;
}

STDMETHODIMP CQueueInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
  if (!pAllocator) return E_POINTER;
  // Upstream may have sized the allocator for itself alone (one buffer, typically); each sample
  // the queue holds keeps one of these buffers. The allocator is not committed yet, so its count
  // can still be raised. Should it refuse, the queue still works, only with less overlap.
  ALLOCATOR_PROPERTIES props{}, actual{};
  if (SUCCEEDED(pAllocator->GetProperties(&props)) && props.cBuffers < m_pQueue->BuffersNeeded(props.cbBuffer)) {
    props.cBuffers = m_pQueue->BuffersNeeded(props.cbBuffer);
    if (props.cbAlign <= 0) props.cbAlign = 1;
    if (props.cbBuffer <= 0) props.cbBuffer = 1;
    pAllocator->SetProperties(&props, &actual);
  }
  return CTransInPlaceInputPin::NotifyAllocator(pAllocator, bReadOnly);
}

// ---------------------------------------------------------------------------------------------
// Filter

CUnknown* CQueueFilter::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* filter = new (std::nothrow) CQueueFilter(pUnk, phr);
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

CQueueFilter::CQueueFilter(LPUNKNOWN pUnk, HRESULT* phr)
    : CTransInPlaceFilter(L"Queue", pUnk, CLSID_Queue, phr, false), CUtilitySettings(GetOwner()) {
  InitParameters();
}

CQueueFilter::~CQueueFilter() { StopThread(); }

STDMETHODIMP CQueueFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  HRESULT hr = QueryCommonInterfaces(riid, ppv, this, nullptr, this);
  if (hr != S_FALSE) return hr;
  return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CQueueFilter::GetPages(CAUUID* pPages) { return GetSinglePropertyPage(pPages, CLSID_QueueProperties); }

void CQueueFilter::InitParameters() {
  AddParameter("max_samples", &m_nMaxSamples, 3u);
  AddParameter("max_bytes", &m_nMaxBytes, kDefaultMaxBytes);
}

// "max_samples" as the list's limit: at least 1, and bounded so that the ring and the buffer count
// stay allocatable.
unsigned int CQueueFilter::SampleLimit() const { return std::clamp(m_nMaxSamples, 1u, 1u << 20); }

LONG CQueueFilter::BuffersNeeded(LONG cbBuffer) {
  CAutoLock params(&m_csParams);
  unsigned int n = SampleLimit();
  if (m_nMaxBytes > 0 && cbBuffer > 0)
    n = std::clamp(m_nMaxBytes / static_cast<unsigned int>(cbBuffer), 1u, n);
  return static_cast<LONG>(n) + 1;
}

bool CQueueFilter::HasRoomFor(size_t bytes) const {
  if (m_nSamples == 0) return true;  // one sample always fits, however large
  return m_nSamples < m_nLimit && (m_nByteLimit == 0 || m_nBytes + bytes <= m_nByteLimit);
}

CBasePin* CQueueFilter::GetPin(int n) {
  return GetPinMaking(n, [this](HRESULT* phr) { return new (std::nothrow) CQueueInputPin(this, phr); },
                      [this](HRESULT* phr) {
                        return new (std::nothrow) CTransInPlaceOutputPin(L"Queue output pin", this, phr, L"Output");
                      });
}

HRESULT CQueueFilter::CheckInputType(const CMediaType* pmt) { return pmt ? S_OK : E_POINTER; }

void CQueueFilter::Push(const Packet& p) {
  if (m_count == m_ring.size()) {
    // Full ring (only control packets beyond the reserve get here): grow, keeping the order.
    std::vector<Packet> grown(std::max<size_t>(8, 2 * m_ring.size()));
    for (size_t i = 0; i < m_count; ++i) grown[i] = m_ring[(m_head + i) % m_ring.size()];
    m_ring.swap(grown);
    m_head = 0;
  }
  m_ring[(m_head + m_count) % m_ring.size()] = p;
  ++m_count;
  if (p.kind == Kind::Sample) {
    ++m_nSamples;
    m_nBytes += p.bytes;
  }
}

CQueueFilter::Packet CQueueFilter::Pop() {
  Packet p = m_ring[m_head];
  m_ring[m_head] = Packet{};
  m_head = (m_head + 1) % m_ring.size();
  --m_count;
  if (p.kind == Kind::Sample) {
    --m_nSamples;
    m_nBytes -= p.bytes;
  }
  return p;
}

void CQueueFilter::DropAll() {
  while (m_count > 0) {
    Packet p = Pop();
    if (p.sample) p.sample->Release();
  }
  m_cvSpace.notify_all();
  if (!m_bBusy) m_cvIdle.notify_all();
}

HRESULT CQueueFilter::Receive(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  const size_t bytes = static_cast<size_t>(std::max(0L, static_cast<long>(pSample->GetActualDataLength())));
  std::unique_lock lock(m_lock);
  m_cvSpace.wait(lock, [&] { return m_bStopping || m_bFlushing || m_hrDownstream != S_OK || HasRoomFor(bytes); });
  if (m_bStopping) return VFW_E_WRONG_STATE;
  if (m_bFlushing) return S_FALSE;
  if (m_hrDownstream != S_OK) return m_hrDownstream;
  pSample->AddRef();
  Packet p;
  p.sample = pSample;
  p.bytes = bytes;
  Push(p);
  // Woken after the lock is let go, so that the thread does not wake only to wait for it.
  lock.unlock();
  m_cvWork.notify_one();
  return S_OK;
}

HRESULT CQueueFilter::EndOfStream() {
  {
    std::lock_guard lock(m_lock);
    if (m_bStopping) return VFW_E_WRONG_STATE;
    if (m_bFlushing) return S_FALSE;
    Packet p;
    p.kind = Kind::EndOfStream;
    Push(p);
  }
  m_cvWork.notify_one();
  return S_OK;
}

HRESULT CQueueFilter::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  std::unique_lock lock(m_lock);
  if (m_bStopping) {
    // Not streaming: nothing is queued, so passing it on at once keeps the order.
    lock.unlock();
    return CTransInPlaceFilter::NewSegment(tStart, tStop, dRate);
  }
  Packet p;
  p.kind = Kind::NewSegment;
  p.tStart = tStart;
  p.tStop = tStop;
  p.dRate = dRate;
  Push(p);
  lock.unlock();
  m_cvWork.notify_one();
  return S_OK;
}

HRESULT CQueueFilter::BeginFlush() {
  {
    std::lock_guard lock(m_lock);
    m_bFlushing = true;
    DropAll();
  }
  // Downstream's flush also returns a delivery in progress that it would block.
  return CTransInPlaceFilter::BeginFlush();
}

HRESULT CQueueFilter::EndFlush() {
  {
    std::unique_lock lock(m_lock);
    m_cvIdle.wait(lock, [&] { return m_bStopping || (m_count == 0 && !m_bBusy); });
    m_bFlushing = false;
    m_hrDownstream = S_OK;
  }
  return CTransInPlaceFilter::EndFlush();
}

HRESULT CQueueFilter::StartStreaming() {
  StopThread();
  std::lock_guard lock(m_lock);
  {
    CAutoLock params(&m_csParams);
    m_nLimit = SampleLimit();
    m_nByteLimit = m_nMaxBytes;
  }
  try {
    if (m_ring.size() < m_nLimit + 4) {
      std::vector<Packet> ring(m_nLimit + 4);
      m_ring.swap(ring);
    }
    m_head = m_count = m_nSamples = m_nBytes = 0;
    m_bStopping = false;
    m_bFlushing = false;
    m_bBusy = false;
    m_hrDownstream = S_OK;
    m_thread = std::thread(&CQueueFilter::ThreadProc, this);
  } catch (const std::exception&) {
    m_bStopping = true;
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

STDMETHODIMP CQueueFilter::Stop() {
  CAutoLock lock(&m_csFilter);
  StopThread();
  return CTransInPlaceFilter::Stop();
}

void CQueueFilter::StopThread() {
  {
    std::lock_guard lock(m_lock);
    m_bStopping = true;
    DropAll();
    m_cvWork.notify_all();
    m_cvIdle.notify_all();
  }
  if (m_thread.joinable()) m_thread.join();
}

// The delivery thread: one packet after another, in order, until Stop.
void CQueueFilter::ThreadProc() {
  std::unique_lock lock(m_lock);
  for (;;) {
    m_cvWork.wait(lock, [&] { return m_bStopping || m_count > 0; });
    if (m_bStopping) break;
    Packet p = Pop();
    const bool dropping = p.kind == Kind::Sample && m_hrDownstream != S_OK;
    m_bBusy = true;
    lock.unlock();
    if (p.kind == Kind::Sample) m_cvSpace.notify_one();  // room for upstream's next sample
    HRESULT hr = S_OK;
    switch (p.kind) {
      case Kind::Sample:
        if (!dropping) hr = m_pOutput->Deliver(p.sample);
        p.sample->Release();
        break;
      case Kind::EndOfStream:
        m_pOutput->DeliverEndOfStream();
        break;
      case Kind::NewSegment:
        m_pOutput->DeliverNewSegment(p.tStart, p.tStop, p.dRate);
        break;
    }
    lock.lock();
    m_bBusy = false;
    if (hr != S_OK && m_hrDownstream == S_OK && !m_bFlushing && !m_bStopping) {
      // Downstream wants no more: tell upstream at its next Receive, which may be waiting.
      m_hrDownstream = hr;
      m_cvSpace.notify_all();
    }
    if (m_count == 0) m_cvIdle.notify_all();
  }
  m_bBusy = false;
  m_cvIdle.notify_all();
}

}  // namespace plenor::utilities

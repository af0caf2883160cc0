#include "platform/strmbase/outputq.h"

#include <new>

COutputQueue::COutputQueue(IPin* pInputPin, HRESULT* phr, BOOL bAuto, BOOL bQueue, LONG lBatchSize, BOOL bBatchExact,
                           LONG lListSize, DWORD, bool)
    : m_pPin(pInputPin), m_bBatchExact(bBatchExact != FALSE), m_lBatchSize(lBatchSize > 0 ? lBatchSize : 1) {
  HRESULT hr = S_OK;
  if (!pInputPin) {
    hr = E_POINTER;
  } else {
    hr = pInputPin->QueryInterface(IID_IMemInputPin, m_pInputPin.AsOut());
  }
  if (SUCCEEDED(hr)) {
    if (bAuto) {
      // Our own thread only when the downstream Receive may block.
      m_bSync = m_pInputPin->ReceiveCanBlock() != S_OK;
    } else {
      m_bSync = !bQueue;
    }
    if (!m_bSync) {
      try {
        size_t cap = static_cast<size_t>(lListSize > 0 ? lListSize : DEFAULTCACHE) + 4;
        m_Ring.resize(cap);
        m_Batch.reserve(static_cast<size_t>(m_lBatchSize));
        m_Thread = std::thread([this] { ThreadProc(); });
      } catch (...) {
        hr = E_OUTOFMEMORY;
      }
    }
  }
  if (phr && FAILED(hr)) *phr = hr;
}

COutputQueue::~COutputQueue() {
  if (m_Thread.joinable()) {
    {
      std::lock_guard lock(m_Mutex);
      // Stopping: what has not gone out yet is dropped.
      DropQueuedSamples();
      m_bFlushing = true;
      Packet p;
      p.kind = Kind::Exit;
      try {
        Push(p);
      } catch (const std::bad_alloc&) {
        // Cannot queue the exit: drop everything and make room.
        DropQueuedSamples();
        Push(p);
      }
    }
    m_Work.notify_all();
    m_Thread.join();
  }
  std::lock_guard lock(m_Mutex);
  DropQueuedSamples();
}

void COutputQueue::Push(const Packet& p) {
  if (m_Count == m_Ring.size()) {
    // Grow: keep order, never shrink.
    std::vector<Packet> bigger(m_Ring.size() * 2 + 4);
    for (size_t i = 0; i < m_Count; i++) bigger[i] = m_Ring[(m_Head + i) % m_Ring.size()];
    m_Ring.swap(bigger);
    m_Head = 0;
  }
  m_Ring[(m_Head + m_Count) % m_Ring.size()] = p;
  m_Count++;
}

bool COutputQueue::Pop(Packet* p) {
  if (m_Count == 0) return false;
  *p = m_Ring[m_Head];
  m_Ring[m_Head] = Packet{};
  m_Head = (m_Head + 1) % m_Ring.size();
  m_Count--;
  return true;
}

void COutputQueue::DropQueuedSamples() {
  // Keeps control packets (exit, end of stream, segments) in order; releases samples.
  size_t n = m_Count;
  size_t kept = 0;
  for (size_t i = 0; i < n; i++) {
    Packet p = m_Ring[(m_Head + i) % m_Ring.size()];
    m_Ring[(m_Head + i) % m_Ring.size()] = Packet{};
    if (p.kind == Kind::Sample) {
      if (p.sample) p.sample->Release();
    } else {
      m_Ring[(m_Head + kept) % m_Ring.size()] = p;
      kept++;
    }
  }
  m_Count = kept;
}

HRESULT COutputQueue::Receive(IMediaSample* pSample) {
  LONG processed = 0;
  return ReceiveMultiple(&pSample, 1, &processed);
}

HRESULT COutputQueue::ReceiveMultiple(IMediaSample** ppSamples, LONG nSamples, LONG* nSamplesProcessed) {
  if (nSamplesProcessed) *nSamplesProcessed = 0;
  if (!ppSamples) return E_POINTER;
  if (m_bSync) {
    HRESULT hr;
    LONG processed = 0;
    {
      std::lock_guard lock(m_Mutex);
      hr = m_hr;
    }
    if (hr == S_OK) {
      hr = m_pInputPin->ReceiveMultiple(ppSamples, nSamples, &processed);
      if (hr != S_OK) {
        std::lock_guard lock(m_Mutex);
        m_hr = hr;
      }
    }
    for (LONG i = 0; i < nSamples; i++) ppSamples[i]->Release();
    if (nSamplesProcessed) *nSamplesProcessed = processed;
    return hr;
  }

  std::unique_lock lock(m_Mutex);
  if (m_bFlushing || m_hr != S_OK) {
    HRESULT hr = m_bFlushing ? S_FALSE : m_hr;
    lock.unlock();
    for (LONG i = 0; i < nSamples; i++) ppSamples[i]->Release();
    return hr;
  }
  LONG accepted = 0;
  try {
    for (; accepted < nSamples; accepted++) {
      Packet p;
      p.kind = Kind::Sample;
      p.sample = ppSamples[accepted];
      Push(p);
    }
  } catch (const std::bad_alloc&) {
    lock.unlock();
    for (LONG i = accepted; i < nSamples; i++) ppSamples[i]->Release();
    m_Work.notify_all();
    if (nSamplesProcessed) *nSamplesProcessed = accepted;
    return E_OUTOFMEMORY;
  }
  lock.unlock();
  m_Work.notify_all();
  if (nSamplesProcessed) *nSamplesProcessed = accepted;
  return S_OK;
}

void COutputQueue::EOS() {
  if (m_bSync) {
    m_pPin->EndOfStream();
    return;
  }
  {
    std::lock_guard lock(m_Mutex);
    Packet p;
    p.kind = Kind::EndOfStream;
    try {
      Push(p);
    } catch (const std::bad_alloc&) {
      return;
    }
  }
  m_Work.notify_all();
}

void COutputQueue::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  if (m_bSync) {
    m_pPin->NewSegment(tStart, tStop, dRate);
    return;
  }
  {
    std::lock_guard lock(m_Mutex);
    Packet p;
    p.kind = Kind::NewSegment;
    p.tStart = tStart;
    p.tStop = tStop;
    p.dRate = dRate;
    try {
      Push(p);
    } catch (const std::bad_alloc&) {
      return;
    }
  }
  m_Work.notify_all();
}

void COutputQueue::SendAnyway() {
  if (m_bSync) return;
  {
    std::lock_guard lock(m_Mutex);
    m_bSendAnyway = true;
  }
  m_Work.notify_all();
}

void COutputQueue::BeginFlush() {
  if (!m_bSync) {
    {
      std::lock_guard lock(m_Mutex);
      m_bFlushing = true;
      DropQueuedSamples();
      // A partial batch held by the thread is released now too.
      m_bSendAnyway = true;
    }
    m_Work.notify_all();
  }
  // Downstream flushes at once, which also unblocks a Receive the thread may be waiting in.
  m_pPin->BeginFlush();
}

void COutputQueue::EndFlush() {
  if (!m_bSync) {
    std::unique_lock lock(m_Mutex);
    // Whatever the thread is delivering must be out of the way before downstream ends its flush.
    m_Idle.wait(lock, [this] {
      for (size_t i = 0; i < m_Count; i++)
        if (m_Ring[(m_Head + i) % m_Ring.size()].kind == Kind::Sample) return false;
      return !m_bBusy && m_Batch.empty();
    });
  }
  m_pPin->EndFlush();
  std::lock_guard lock(m_Mutex);
  m_bFlushing = false;
  m_hr = S_OK;
}

void COutputQueue::Reset() {
  std::lock_guard lock(m_Mutex);
  m_hr = S_OK;
}

BOOL COutputQueue::IsIdle() {
  std::lock_guard lock(m_Mutex);
  return (m_Count == 0 && !m_bBusy && m_Batch.empty()) ? TRUE : FALSE;
}

void COutputQueue::DeliverBatch(std::vector<IMediaSample*>& batch) {
  // Called on the queue thread without the lock.
  if (batch.empty()) return;
  HRESULT hr;
  {
    std::lock_guard lock(m_Mutex);
    hr = m_bFlushing ? S_FALSE : m_hr;
  }
  if (hr == S_OK) {
    LONG processed = 0;
    hr = m_pInputPin->ReceiveMultiple(batch.data(), static_cast<LONG>(batch.size()), &processed);
    if (hr != S_OK) {
      std::lock_guard lock(m_Mutex);
      if (!m_bFlushing) m_hr = hr;
    }
  }
  for (IMediaSample* s : batch) s->Release();
  std::lock_guard lock(m_Mutex);
  batch.clear();
}

void COutputQueue::ThreadProc() {
  for (;;) {
    Packet p;
    {
      std::unique_lock lock(m_Mutex);
      m_bBusy = false;
      m_Idle.notify_all();
      m_Work.wait(lock, [this] { return m_Count > 0 || (m_bSendAnyway && !m_Batch.empty()); });
      if (m_Count == 0) {
        // A partial batch was asked to go now.
        m_bSendAnyway = false;
        m_bBusy = true;
        lock.unlock();
        DeliverBatch(m_Batch);
        continue;
      }
      Pop(&p);
      m_bBusy = true;
    }
    switch (p.kind) {
      case Kind::Sample: {
        bool full, more, anyway;
        {
          // The batch is only changed under the lock, so IsIdle and EndFlush can look at it.
          std::lock_guard lock(m_Mutex);
          m_Batch.push_back(p.sample);
          full = static_cast<LONG>(m_Batch.size()) >= m_lBatchSize;
          more = m_Count > 0;
          anyway = m_bSendAnyway;
          if (anyway) m_bSendAnyway = false;
        }
        // Send when the batch is full, or (inexact batches) when nothing else is waiting.
        if (full || anyway || (!m_bBatchExact && !more)) DeliverBatch(m_Batch);
        break;
      }
      case Kind::EndOfStream:
        DeliverBatch(m_Batch);
        m_pPin->EndOfStream();
        break;
      case Kind::NewSegment:
        DeliverBatch(m_Batch);
        m_pPin->NewSegment(p.tStart, p.tStop, p.dRate);
        break;
      case Kind::SendNow:
        DeliverBatch(m_Batch);
        break;
      case Kind::Exit:
        DeliverBatch(m_Batch);
        {
          std::lock_guard lock(m_Mutex);
          m_bBusy = false;
          m_Idle.notify_all();
        }
        return;
    }
  }
}

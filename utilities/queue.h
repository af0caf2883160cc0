// Queue: a thread boundary. An in-place pass-through that takes each sample from the upstream
// streaming thread into a bounded list and delivers it downstream on a thread of its own, so the
// filters upstream and downstream of it run at the same time on different cores.
//
//   plenor run TestPatternSource ! I420ToRgbFilter ! Queue ! RgbToI420Filter ! NullRenderer
//
// What passes through:
// - Samples, in the order they arrive, none lost while streaming; the queue holds a reference to
//   the upstream sample (the payload is never copied). Receive blocks while "max_samples" samples
//   wait, which is how a fast upstream is held back.
// - End of stream and new segments are queued behind the samples before them.
// - BeginFlush drops what waits and is passed downstream at once; EndFlush waits until the
//   delivery thread has finished with the sample it was delivering, then is passed on. Samples
//   queued before a flush never reach downstream after it.
// - Stop drops what waits, ends the delivery thread (after the delivery in progress returns) and
//   then stops the filter as every in-place filter stops.
// - A failure or S_FALSE from downstream is returned to upstream by the next Receive, and the
//   samples still queued are dropped, so the stream upstream ends as it would without the queue.
//
// Buffers: the queue shares upstream's allocator with downstream, so every queued sample holds one
// of upstream's buffers. At connection the allocator is given at least one buffer more than the
// list may hold: the queued ones and one that upstream fills while the list has room or the
// delivery thread hands downstream while it is full (upstream then waits for room anyway; more
// buffers would only cost memory and cache). The count is settled when the input connects: larger
// limits set later take effect after reconnecting.
//
// The list is bounded by samples and by bytes, whichever is reached first, and always takes one
// sample however large. Pictures in flight cost memory: a queue of three 1080p RGB24 frames keeps
// four 6 MB buffers circulating, and one more picture in the list does not make a pipeline of
// steady stages faster. The byte bound keeps large pictures to a short list and lets small ones
// (compressed video, audio) queue a few.
//
// Parameters (ISettingsInterface), read when the graph leaves the stopped state:
// - "max_samples" (unsigned, default 3, at least 1): samples the list holds at most;
// - "max_bytes" (unsigned, default 8388608 = 8 MiB, 0 = no bound): payload bytes the list holds at
//   most, counted by each sample's data length.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/strmbase/transip.h"
#include "utilities/common.h"
#include "utilities/utilities.h"

namespace plenor::utilities {

class CQueueFilter;

class CQueueInputPin : public CTransInPlaceInputPin {
 public:
  CQueueInputPin(CQueueFilter* pFilter, HRESULT* phr);

  // Downstream's requirements (or none) with the buffer count raised to what the queue needs.
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
  // Raises the allocator's buffer count to what the queue needs, then passes it on.
  STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;

 private:
  CQueueFilter* m_pQueue;
};

class CQueueFilter : public CTransInPlaceFilter, public CUtilitySettings, public ISpecifyPropertyPages {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  ~CQueueFilter() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP GetPages(CAUUID* pPages) override;
  void InitParameters() override;

  // Creates the queue's own input pin and the usual in-place output pin.
  CBasePin* GetPin(int n) override;

  // Any type passes (E_POINTER for null).
  HRESULT CheckInputType(const CMediaType* pmt) override;
  // Never called: Receive queues the sample instead.
  HRESULT Transform(IMediaSample*) override { return S_OK; }

  // Streaming thread (upstream's), under m_csReceive.
  HRESULT Receive(IMediaSample* pSample) override;
  HRESULT EndOfStream() override;
  HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;
  // Application thread, under m_csFilter.
  HRESULT BeginFlush() override;
  HRESULT EndFlush() override;
  // Under both locks, when the graph leaves the stopped state: starts the delivery thread.
  HRESULT StartStreaming() override;
  // Application thread: ends the delivery thread first, so that an upstream Receive waiting for
  // room returns, then the base Stop.
  STDMETHODIMP Stop() override;

  // Buffers the shared allocator needs for buffers of `cbBuffer` bytes (0: not known yet): one more
  // than the samples the list can hold under both bounds.
  LONG BuffersNeeded(LONG cbBuffer);

 private:
  explicit CQueueFilter(LPUNKNOWN pUnk, HRESULT* phr);
  static constexpr unsigned int kDefaultMaxBytes = 8u << 20;
  // Under m_csParams.
  unsigned int SampleLimit() const;
  // Under m_lock: whether a sample of `bytes` fits in the list now.
  bool HasRoomFor(size_t bytes) const;

  enum class Kind { Sample, EndOfStream, NewSegment };
  struct Packet {
    Kind kind = Kind::Sample;
    IMediaSample* sample = nullptr;  // a reference owned while queued
    size_t bytes = 0;                // the sample's data length
    REFERENCE_TIME tStart = 0, tStop = 0;
    double dRate = 1.0;
  };

  void ThreadProc();
  void StopThread();
  // Under m_lock.
  void Push(const Packet& p);
  Packet Pop();
  void DropAll();

  unsigned int m_nMaxSamples = 3;
  unsigned int m_nMaxBytes = kDefaultMaxBytes;

  std::mutex m_lock;                  // everything below
  std::condition_variable m_cvSpace;  // a sample left the list, or flushing/stopping began
  std::condition_variable m_cvWork;   // a packet arrived, or the thread must leave
  std::condition_variable m_cvIdle;   // the list is empty and nothing is being delivered
  // Ring of packets; capacity is reserved when streaming starts and grows only for control
  // packets beyond it, so steady streaming allocates nothing.
  std::vector<Packet> m_ring;
  size_t m_head = 0, m_count = 0;
  size_t m_nSamples = 0;  // samples among the queued packets
  size_t m_nLimit = 3;    // m_nMaxSamples when streaming started
  size_t m_nBytes = 0;      // payload bytes of the queued samples
  size_t m_nByteLimit = 0;  // m_nMaxBytes when streaming started (0: none)
  bool m_bFlushing = false;
  bool m_bStopping = true;
  bool m_bBusy = false;        // the thread is delivering a packet
  HRESULT m_hrDownstream = S_OK;  // first result other than S_OK from downstream since start/flush
  std::thread m_thread;
};

}  // namespace plenor::utilities

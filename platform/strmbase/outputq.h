// COutputQueue: delivers samples and stream events to a downstream input pin, either directly on
// the caller's thread or through a queue served by its own thread. In automatic mode the queue
// owns a thread only when the downstream pin says its Receive can block (ReceiveCanBlock S_OK).
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/strmbase/amfilter.h"

constexpr LONG DEFAULTCACHE = 10;
constexpr DWORD THREAD_PRIORITY_NORMAL = 0;

class COutputQueue {
 public:
  // pInputPin: the downstream pin (must offer IMemInputPin). bAuto: decide thread or not from
  // ReceiveCanBlock; otherwise bQueue decides. lBatchSize: samples handed to ReceiveMultiple at
  // once by the thread; bBatchExact: wait for a full batch. lListSize: initial queue capacity.
  COutputQueue(IPin* pInputPin, HRESULT* phr, BOOL bAuto = TRUE, BOOL bQueue = TRUE, LONG lBatchSize = 1,
               BOOL bBatchExact = FALSE, LONG lListSize = DEFAULTCACHE, DWORD dwPriority = THREAD_PRIORITY_NORMAL,
               bool bFlushingOpt = false);
  COutputQueue(const COutputQueue&) = delete;
  COutputQueue& operator=(const COutputQueue&) = delete;
  // Stops the thread (waiting for it) and releases queued samples.
  ~COutputQueue();

  // Takes over the caller's reference on pSample. Returns the delivery result (synchronous) or
  // the first failure the thread has met since the last flush.
  HRESULT Receive(IMediaSample* pSample);
  // Takes over one reference per sample; *nSamplesProcessed gets how many were accepted.
  HRESULT ReceiveMultiple(IMediaSample** ppSamples, LONG nSamples, LONG* nSamplesProcessed);

  // Queued after the samples already waiting (or delivered at once when synchronous).
  void EOS();
  void NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);
  // BeginFlush drops queued samples and passes the flush downstream at once; EndFlush waits
  // until the thread is idle, passes EndFlush on and clears the remembered failure.
  void BeginFlush();
  void EndFlush();
  // Delivers a partial batch now.
  void SendAnyway();
  // Forgets the remembered failure.
  void Reset();

  // TRUE when nothing is queued or being delivered.
  BOOL IsIdle();
  // TRUE when the queue delivers on the caller's thread.
  BOOL IsSync() const { return m_bSync ? TRUE : FALSE; }
  // TRUE while a delivery thread exists.
  BOOL HasThread() const { return m_Thread.joinable() ? TRUE : FALSE; }

 private:
  enum class Kind { Sample, EndOfStream, NewSegment, SendNow, Exit };
  struct Packet {
    Kind kind = Kind::Sample;
    IMediaSample* sample = nullptr;  // owned reference while queued
    REFERENCE_TIME tStart = 0, tStop = 0;
    double dRate = 1.0;
  };
  void Push(const Packet& p);  // under m_Mutex
  bool Pop(Packet* p);         // under m_Mutex
  void ThreadProc();
  void DeliverBatch(std::vector<IMediaSample*>& batch);
  void DropQueuedSamples();  // under m_Mutex

  ComPtr<IPin> m_pPin;
  ComPtr<IMemInputPin> m_pInputPin;
  bool m_bSync = true;
  bool m_bBatchExact;
  LONG m_lBatchSize;
  bool m_bFlushing = false;
  bool m_bSendAnyway = false;
  bool m_bBusy = false;
  HRESULT m_hr = S_OK;

  std::mutex m_Mutex;
  std::condition_variable m_Work;  // packets arrived
  std::condition_variable m_Idle;  // the thread has nothing to do
  // Ring buffer of packets: capacity grows when full and never shrinks, so steady streaming
  // allocates nothing.
  std::vector<Packet> m_Ring;
  size_t m_Head = 0, m_Count = 0;
  std::vector<IMediaSample*> m_Batch;  // thread's batch (capacity reserved)
  std::thread m_Thread;
};

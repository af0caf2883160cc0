// CSource and CSourceStream: a push source whose output pins each own a worker thread that asks
// FillBuffer for one sample after another and delivers it downstream.
//
// Threads: the application thread connects and changes state under m_cStateLock (the filter
// lock); each pin's worker thread runs FillBuffer and delivery. Commands to the worker are
// synchronous (CAMThread::CallWorker waits for the reply).
#pragma once

#include <vector>

#include "platform/strmbase/amfilter.h"

class CSourceStream;

class CSource : public CBaseFilter {
 public:
  CSource(const wchar_t* pName, LPUNKNOWN lpunk, REFCLSID clsid, HRESULT* phr = nullptr);
  // Deletes any pin still attached.
  ~CSource() override;

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;
  // Finds the pin whose QueryId equals Id (the pin's name).
  STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
  // The index of pin iPin, or -1.
  int FindPinNumber(IPin* iPin);

  CCritSec* pStateLock() { return &m_cStateLock; }

  // Called by the pin's constructor and destructor.
  HRESULT AddPin(CSourceStream* pStream);
  HRESULT RemovePin(CSourceStream* pStream);

 protected:
  // The pins, in creation order (owned: the derived filter or ~CSource deletes them).
  std::vector<CSourceStream*> m_paStreams;
  // The filter lock.
  CCritSec m_cStateLock;
};

class CSourceStream : public CAMThread, public CBaseOutputPin {
 public:
  // Adds itself to pms's pin array.
  CSourceStream(const wchar_t* pObjectName, HRESULT* phr, CSource* pms, LPCWSTR pName);
  // Removes itself from the filter's pin array.
  ~CSourceStream() override;

  // Worker thread: fill the sample (data, length, times, sync point) and return S_OK, or S_FALSE
  // to end the stream. A failure ends it with EC_ERRORABORT.
  virtual HRESULT FillBuffer(IMediaSample* pSamp) = 0;

  // Worker-thread hooks (no-ops returning S_OK by default).
  virtual HRESULT OnThreadCreate() { return S_OK; }
  virtual HRESULT OnThreadDestroy() { return S_OK; }
  virtual HRESULT OnThreadStartPlay() { return S_OK; }

  // Under the state lock. For a connected pin: commit the allocator, start the thread, send
  // INIT then PAUSE. An unconnected pin does nothing.
  HRESULT Active() override;
  // Under the state lock: decommit the allocator, send STOP and EXIT, wait for the thread.
  HRESULT Inactive() override;

  BOOL ThreadExists() { return CAMThread::ThreadExists(); }

  enum Command : DWORD { CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };
  HRESULT Init() { return static_cast<HRESULT>(CallWorker(CMD_INIT)); }
  HRESULT Exit() { return static_cast<HRESULT>(CallWorker(CMD_EXIT)); }
  HRESULT Run() { return static_cast<HRESULT>(CallWorker(CMD_RUN)); }
  HRESULT Pause() { return static_cast<HRESULT>(CallWorker(CMD_PAUSE)); }
  HRESULT Stop() { return static_cast<HRESULT>(CallWorker(CMD_STOP)); }
  using CBasePin::Run;

  // Single-type form: the one type the pin offers (E_UNEXPECTED unless overridden).
  virtual HRESULT GetMediaType(CMediaType* pMediaType);
  // Position 0: the single type; above 0: VFW_S_NO_MORE_ITEMS; below 0: E_INVALIDARG.
  HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
  // Accepts exactly the single type (major type, subtype, format type and format block).
  HRESULT CheckMediaType(const CMediaType* pMediaType) override;

  STDMETHODIMP QueryId(LPWSTR* Id) override;

 protected:
  Command GetRequest() { return static_cast<Command>(CAMThread::GetRequest()); }
  BOOL CheckRequest(Command* pCom);

  // The worker: waits for INIT, then serves commands; PAUSE and RUN start the delivery loop.
  DWORD ThreadProc() override;
  // Delivers samples until a command arrives (STOP ends it), FillBuffer returns S_FALSE or
  // fails, or delivery does not return S_OK.
  virtual HRESULT DoBufferProcessingLoop();

  CSource* m_pFilter;
};

// CBaseRenderer: a filter with one input pin "In" that renders each sample it receives, either on
// arrival or, with the clock-synchronised flag, once the filter's stream time reaches the sample's
// start time (waits are abandoned on Stop, Pause and flush). End of stream sends EC_COMPLETE to
// the graph once per run, when the filter is running.
#pragma once

#include <condition_variable>
#include <mutex>

#include "platform/strmbase/amfilter.h"

class CBaseRenderer;

class CRendererInputPin : public CBaseInputPin {
 public:
  CRendererInputPin(CBaseRenderer* pRenderer, HRESULT* phr, LPCWSTR pPinName);

  // Streaming thread: the base checks, then the renderer's Receive.
  STDMETHODIMP Receive(IMediaSample* pSample) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT SetMediaType(const CMediaType* pmt) override;
  HRESULT CompleteConnect(IPin* pReceivePin) override;
  HRESULT BreakConnect() override;

 protected:
  CBaseRenderer* m_pRenderer;
};

class CBaseRenderer : public CBaseFilter {
 public:
  CBaseRenderer(REFCLSID RenderClass, const wchar_t* pName, LPUNKNOWN pUnk, HRESULT* phr);
  ~CBaseRenderer() override;

  int GetPinCount() override { return 1; }
  // The input pin "In" (created on first request).
  CBasePin* GetPin(int n) override;
  STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;

  // Under m_InterfaceLock (the filter lock). Stop and Pause abandon a pending clock wait.
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME tStart) override;

  // ---- Hooks ----
  virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
  // Streaming thread: render one sample.
  virtual HRESULT DoRenderSample(IMediaSample* pMediaSample) = 0;
  virtual HRESULT SetMediaType(const CMediaType* /*pmt*/) { return S_OK; }
  virtual HRESULT CompleteConnect(IPin* /*pReceivePin*/) { return S_OK; }
  virtual HRESULT BreakConnect() { return S_OK; }
  // Leaving Stopped / entering Stopped.
  virtual HRESULT OnStartStreaming() { return S_OK; }
  virtual HRESULT OnStopStreaming() { return S_OK; }
  // The first sample of a run, before it is rendered (or waited for).
  virtual void OnReceiveFirstSample(IMediaSample* /*pMediaSample*/) {}

  // Streaming thread: waits for the sample's time when clock-synchronised, then DoRenderSample.
  // S_FALSE when the wait was abandoned (stop or flush).
  virtual HRESULT Receive(IMediaSample* pMediaSample);
  // Records the end of stream; EC_COMPLETE goes to the graph now when running, else at Run.
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();

  // Render in step with the reference clock (default: on arrival).
  void SetSyncToClock(bool bSync) { m_bSyncToClock = bSync; }
  bool IsSyncToClock() const { return m_bSyncToClock; }
  BOOL IsEndOfStream() const { return m_bEOS ? TRUE : FALSE; }

 protected:
  friend class CRendererInputPin;
  // Wakes a pending clock wait.
  void CancelWait();
  // Sends EC_COMPLETE once per run (under m_RendererLock).
  void SendEndOfStreamLocked();
  // Waits until the stream time reaches tStart (and the filter runs); false when abandoned.
  bool WaitForRenderTime(REFERENCE_TIME tStart);

  CCritSec m_InterfaceLock;  // the filter lock
  CCritSec m_RendererLock;   // streaming state: EOS flags
  CRendererInputPin* m_pInputPin = nullptr;
  bool m_bSyncToClock = false;
  bool m_bEOS = false;
  bool m_bEOSDelivered = false;
  bool m_bFirstSample = true;

  std::mutex m_WaitMutex;
  std::condition_variable m_WaitCond;
  unsigned m_WaitGeneration = 0;  // bumped to abandon waits
  REFERENCE_TIME m_tRunStart = 0;  // copy of the run start for the streaming thread
};

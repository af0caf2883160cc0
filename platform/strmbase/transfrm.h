// CTransformFilter: a one-input, one-output filter that turns each input sample into a new output
// sample (copy transform). Pins "XForm In" and "XForm Out" are created on the first GetPin.
//
// Locks: m_csFilter (the filter lock, connections and state changes) is taken before m_csReceive
// (held for the whole of each Receive on the upstream streaming thread).
#pragma once

#include "platform/strmbase/amfilter.h"

class CTransformFilter;
class CPosPassThru;

class CTransformInputPin : public CBaseInputPin {
 public:
  CTransformInputPin(const wchar_t* pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr, LPCWSTR pName);

  STDMETHODIMP QueryId(LPWSTR* Id) override;
  // Filter's CheckConnect(PINDIR_INPUT), then the base checks.
  HRESULT CheckConnect(IPin* pPin) override;
  // Filter's BreakConnect(PINDIR_INPUT), then the base.
  HRESULT BreakConnect() override;
  // Base, then the filter's CompleteConnect(PINDIR_INPUT).
  HRESULT CompleteConnect(IPin* pReceivePin) override;
  // CheckInputType, and CheckTransform against a connected output's type.
  HRESULT CheckMediaType(const CMediaType* mtIn) override;
  // Base, then the filter's SetMediaType(PINDIR_INPUT).
  HRESULT SetMediaType(const CMediaType* mt) override;

  // Streaming thread, under m_csReceive: the base checks, then the filter's Receive.
  STDMETHODIMP Receive(IMediaSample* pSample) override;
  // Under m_csReceive: the filter's EndOfStream (passed downstream).
  STDMETHODIMP EndOfStream() override;
  // Under the filter lock: flushing flag, then the filter's BeginFlush/EndFlush (downstream).
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

  // Checks the stream state, refusing samples while the output pin is unconnected.
  HRESULT CheckStreaming() override;

 protected:
  CTransformFilter* m_pTransformFilter;
};

class CTransformOutputPin : public CBaseOutputPin {
 public:
  CTransformOutputPin(const wchar_t* pObjectName, CTransformFilter* pTransformFilter, HRESULT* phr, LPCWSTR pName);
  ~CTransformOutputPin() override;

  // Also answers IMediaSeeking by passing it upstream through the input pin's peer.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP QueryId(LPWSTR* Id) override;
  // E_UNEXPECTED while the input is unconnected (whatever types are on offer).
  STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;

  // E_UNEXPECTED while the input is unconnected; then the filter's CheckConnect(PINDIR_OUTPUT).
  HRESULT CheckConnect(IPin* pPin) override;
  HRESULT BreakConnect() override;
  // Allocator negotiation, then the filter's CompleteConnect(PINDIR_OUTPUT).
  HRESULT CompleteConnect(IPin* pReceivePin) override;
  // The filter's DecideBufferSize.
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
  // The filter's CheckTransform(input type, pmt); E_INVALIDARG while the input is unconnected.
  HRESULT CheckMediaType(const CMediaType* mtOut) override;
  // Base, then the filter's SetMediaType(PINDIR_OUTPUT).
  HRESULT SetMediaType(const CMediaType* pmt) override;
  // The filter's GetMediaType while the input is connected, otherwise none.
  HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;

  // Quality message from downstream: the filter's AlterQuality; S_FALSE passes it upstream.
  STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;

 protected:
  CTransformFilter* m_pTransformFilter;
  // Aggregated IMediaSeeking pass-through, created on first request.
  CPosPassThru* m_pPosition = nullptr;
};

class CTransformFilter : public CBaseFilter {
 public:
  CTransformFilter(const wchar_t* pName, LPUNKNOWN pUnk, REFCLSID clsid);
  ~CTransformFilter() override;

  int GetPinCount() override { return 2; }
  // Creates both pins on the first call (input first). 0: input, 1: output, otherwise null.
  CBasePin* GetPin(int n) override;
  // "In" and "Out" select the input and output pin.
  STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;

  // Under m_csFilter. Stop deactivates the input, waits for a Receive in progress (m_csReceive),
  // deactivates the output and calls StopStreaming. Pause with an unconnected input delivers one
  // end-of-stream downstream; leaving Stopped with both pins connected calls StartStreaming.
  // Every Pause clears m_bSampleSkipped and m_bQualityChanged.
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;

  // ---- Hooks ----
  // The per-sample work: S_OK delivers pOut, S_FALSE drops it, a failure stops the stream.
  virtual HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut);
  virtual HRESULT CheckInputType(const CMediaType* mtIn) = 0;
  virtual HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) = 0;
  virtual HRESULT DecideBufferSize(IMemAllocator* pAllocator, ALLOCATOR_PROPERTIES* pprop) = 0;
  // Output types offered while the input is connected: S_OK, VFW_S_NO_MORE_ITEMS past the last,
  // E_INVALIDARG for a negative position.
  virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) = 0;

  // Stopped -> paused / -> stopped (under both locks). S_OK by default.
  virtual HRESULT StartStreaming();
  virtual HRESULT StopStreaming();
  // Quality message from downstream; S_FALSE (the default) passes it upstream.
  virtual HRESULT AlterQuality(Quality q);
  // A connection on the pin of direction was made with *pmt. S_OK by default.
  virtual HRESULT SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt);
  virtual HRESULT CheckConnect(PIN_DIRECTION dir, IPin* pPin);
  virtual HRESULT BreakConnect(PIN_DIRECTION dir);
  virtual HRESULT CompleteConnect(PIN_DIRECTION direction, IPin* pReceivePin);

  // Streaming thread, under m_csReceive, after the input pin's checks. Non-media stream samples
  // are delivered unchanged; otherwise an output sample is prepared (InitializeOutputSample),
  // Transform runs and its result is handled (deliver, drop with EC_QUALITY_CHANGE once per
  // run, or fail with EC_ERRORABORT so that the graph learns the stream ended).
  virtual HRESULT Receive(IMediaSample* pSample);
  // Passed downstream through the output pin.
  virtual HRESULT EndOfStream();
  virtual HRESULT BeginFlush();
  virtual HRESULT EndFlush();
  virtual HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

  // An empty output sample carrying the input's times, flags, media times and attached type.
  // *ppOutSample is set (possibly null) even on failure; the caller owns the reference.
  virtual HRESULT InitializeOutputSample(IMediaSample* pSample, IMediaSample** ppOutSample);

  CTransformInputPin* InputPinPtr() const { return m_pInput; }
  CTransformOutputPin* OutputPinPtr() const { return m_pOutput; }

 protected:
  friend class CTransformInputPin;
  friend class CTransformOutputPin;

  // GetPin's work for a filter with pins of its own classes. On the first call the input pin is
  // made (makeInput(&hr)) and, when that gave one, the output pin (makeOutput(&hr)); when the
  // output pin is null or hr failed, both are deleted again and null is returned (the next call
  // tries again). Then 0: input, 1: output, otherwise null.
  template <class MakeInput, class MakeOutput>
  CBasePin* GetPinMaking(int n, MakeInput makeInput, MakeOutput makeOutput) {
    if (!m_pInput) {
      HRESULT hr = S_OK;
      m_pInput = makeInput(&hr);
      if (!m_pInput) return nullptr;
      m_pOutput = makeOutput(&hr);
      if (!m_pOutput || FAILED(hr)) {
        delete m_pInput;
        delete m_pOutput;
        m_pInput = nullptr;
        m_pOutput = nullptr;
        return nullptr;
      }
    }
    if (n == 0) return m_pInput;
    if (n == 1) return m_pOutput;
    return nullptr;
  }

  bool m_bEOSDelivered = false;
  // Set on the streaming thread, cleared by Pause on the application thread.
  std::atomic<bool> m_bSampleSkipped{false};
  std::atomic<bool> m_bQualityChanged{false};

  // Filter lock: connections and state changes. Taken before m_csReceive.
  CCritSec m_csFilter;
  // Receive lock: held during each Receive and around StartStreaming/StopStreaming.
  CCritSec m_csReceive;

 public:
  // Owned by the filter (deleted in its destructor); created by GetPin.
  CTransformInputPin* m_pInput = nullptr;
  CTransformOutputPin* m_pOutput = nullptr;
};

// The filter-writing base classes: CBaseFilter, CBasePin, CBaseInputPin, CBaseOutputPin, the pin
// and media-type enumerators, and the pooled media samples and memory allocator.
//
// Threads: connections and state changes run on an application thread under the filter lock
// (the CCritSec given to CBaseFilter and to every pin). Receive, EndOfStream and the delivery
// helpers run on the upstream streaming thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/strmbase/combase.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/strmif.h"
#include "platform/strmbase/wxutil.h"

class CBasePin;
class CBaseFilter;
class CBaseAllocator;
class CMemAllocator;

// ---------------------------------------------------------------------------------------------
// CBaseFilter

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
 public:
  // pLock: the filter lock, shared with the pins (owned by the derived class).
  CBaseFilter(const wchar_t* pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid, HRESULT* phr = nullptr);
  ~CBaseFilter() override;

  DECLARE_IUNKNOWN
  // IBaseFilter, IMediaFilter, IPersist, IAMovieSetup, IUnknown.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IPersist
  STDMETHODIMP GetClassID(CLSID* pClsID) override;

  // IMediaFilter. Stop deactivates connected pins, Pause activates them when leaving Stopped,
  // Run pauses first when stopped and then calls each connected pin's Run.
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME tStart) override;
  STDMETHODIMP GetState(DWORD dwMSecs, FILTER_STATE* State) override;
  STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override;
  STDMETHODIMP GetSyncSource(IReferenceClock** pClock) override;

  // IBaseFilter
  STDMETHODIMP EnumPins(IEnumPins** ppEnum) override;
  // Finds the pin whose QueryId equals Id.
  STDMETHODIMP FindPin(LPCWSTR Id, IPin** ppPin) override;
  STDMETHODIMP QueryFilterInfo(FILTER_INFO* pInfo) override;
  // Records the graph and its IMediaEventSink without holding references (the graph holds us).
  STDMETHODIMP JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* pVendorInfo) override;

  // IAMovieSetup: registration through the module entry; this base has none of its own.
  STDMETHODIMP Register() override;
  STDMETHODIMP Unregister() override;

  // The pins. GetPin returns a pin without adding a reference (null for an invalid index).
  virtual int GetPinCount() = 0;
  virtual CBasePin* GetPin(int n) = 0;
  // Changes whenever pins are added or removed; enumerators resynchronise on it.
  virtual LONG GetPinVersion() { return m_PinVersion; }
  void IncrementPinVersion() { ++m_PinVersion; }

  // Current stream time (clock time minus the run start); VFW_E_NO_CLOCK without a clock.
  virtual HRESULT StreamTime(REFERENCE_TIME& rtStream);

  BOOL IsActive() {
    CAutoLock cObjectLock(m_pLock);
    return m_State != State_Stopped ? TRUE : FALSE;
  }
  BOOL IsStopped() { return m_State == State_Stopped ? TRUE : FALSE; }
  FILTER_STATE GetStateNoLock() const { return m_State; }

  // Sends an event to the graph's event sink (E_NOTIMPL when the filter is in no graph). For
  // EC_COMPLETE, EC_ERRORABORT-free calls the second parameter may carry this filter.
  HRESULT NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2);

  // The graph the filter belongs to (no reference), or null.
  IFilterGraph* GetFilterGraph() { return m_pGraph; }
  // Asks the graph to reconnect pPin (and its peer). VFW_E_NOT_IN_GRAPH outside a graph.
  HRESULT ReconnectPin(IPin* pPin, const AM_MEDIA_TYPE* pmt);

  // Name given by JoinFilterGraph.
  const std::wstring& FilterName() const { return m_FilterName; }

  CCritSec* pLock() { return m_pLock; }
  // The registration data of the filter, or null.
  virtual const AMOVIESETUP_FILTER* GetSetupData() { return nullptr; }

 protected:
  // Read by streaming threads (CheckStreaming), written under the filter lock.
  std::atomic<FILTER_STATE> m_State{State_Stopped};
  ComPtr<IReferenceClock> m_pClock;
  REFERENCE_TIME m_tStart = 0;
  CLSID m_clsid;
  CCritSec* m_pLock;
  std::wstring m_FilterName;
  IFilterGraph* m_pGraph = nullptr;  // not referenced
  IMediaEventSink* m_pSink = nullptr;  // not referenced
  LONG m_PinVersion = 1;
};

// ---------------------------------------------------------------------------------------------
// CBasePin

class CBasePin : public CUnknown, public IPin, public IQualityControl {
 public:
  CBasePin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName,
           PIN_DIRECTION dir);
  ~CBasePin() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  // A pin's references are its filter's: AddRef and Release go to the filter. A pin that counts
  // its own references overrides both with the CUnknown versions.
  STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
  STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

  // IPin
  // Connects to pReceivePin: a fully specified pmt is tried alone; otherwise the receiving pin's
  // types and then ours (or ours first when m_bTryMyTypesFirst), each filtered by a partial pmt.
  STDMETHODIMP Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP ConnectedTo(IPin** pPin) override;
  STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP QueryPinInfo(PIN_INFO* pInfo) override;
  STDMETHODIMP QueryDirection(PIN_DIRECTION* pPinDir) override;
  STDMETHODIMP QueryId(LPWSTR* Id) override;
  // S_OK when CheckMediaType accepts the type, S_FALSE otherwise.
  STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
  STDMETHODIMP QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override = 0;
  STDMETHODIMP EndFlush() override = 0;
  // Records the segment (m_tStart, m_tStop, m_dRate).
  STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

  // IQualityControl: E_NOTIMPL by default; SetSink records the sink.
  STDMETHODIMP Notify(IBaseFilter* pSelf, Quality q) override;
  STDMETHODIMP SetSink(IQualityControl* piqc) override;

  BOOL IsConnected() const { return m_Connected ? TRUE : FALSE; }
  IPin* GetConnected() const { return m_Connected.Get(); }
  BOOL IsStopped() const { return m_pFilter->IsStopped(); }
  CBaseFilter* Filter() const { return m_pFilter; }
  const std::wstring& Name() const { return m_pName; }
  PIN_DIRECTION Direction() const { return m_dir; }

  // The agreed connection type.
  CMediaType& CurrentMediaType() { return m_mt; }

  // Called by the filter when it leaves / enters Stopped, and at Run.
  virtual HRESULT Active() { return S_OK; }
  virtual HRESULT Inactive() { return S_OK; }
  virtual HRESULT Run(REFERENCE_TIME /*tStart*/) { return S_OK; }

  // Connection hooks.
  virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
  // Records the agreed type in m_mt.
  virtual HRESULT SetMediaType(const CMediaType* pmt);
  // Checks the peer before any type is tried (direction must differ).
  virtual HRESULT CheckConnect(IPin* pPin);
  // Undoes what CheckConnect and CompleteConnect set up.
  virtual HRESULT BreakConnect();
  virtual HRESULT CompleteConnect(IPin* pReceivePin);
  // Preferred types: S_OK and the type at iPosition, VFW_S_NO_MORE_ITEMS past the end,
  // E_INVALIDARG for a negative position. The base offers none.
  virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);
  virtual LONG GetMediaTypeVersion() { return m_TypeVersion; }
  void IncrementTypeVersion() { ++m_TypeVersion; }

  REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
  REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
  double CurrentRate() const { return m_dRate; }

  // Disconnects without the state check (the filter lock must be held).
  HRESULT DisconnectInternal();

 protected:
  virtual HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt);
  virtual HRESULT AttemptConnection(IPin* pReceivePin, const CMediaType* pmt);
  virtual HRESULT TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum);

  std::wstring m_pName;
  ComPtr<IPin> m_Connected;
  PIN_DIRECTION m_dir;
  CCritSec* m_pLock;
  std::atomic<bool> m_bRunTimeError{false};
  bool m_bCanReconnectWhenActive = false;
  bool m_bTryMyTypesFirst = false;
  CBaseFilter* m_pFilter;
  IQualityControl* m_pQSink = nullptr;  // not referenced
  LONG m_TypeVersion = 1;
  CMediaType m_mt;
  REFERENCE_TIME m_tStart = 0;
  REFERENCE_TIME m_tStop = 0x7FFFFFFFFFFFFFFFLL;
  double m_dRate = 1.0;
};

// ---------------------------------------------------------------------------------------------
// Enumerators

class CEnumPins : public CUnknown, public IEnumPins {
 public:
  // pPins: copied state when cloning (null for a fresh enumerator).
  CEnumPins(CBaseFilter* pFilter, const CEnumPins* pEnumPins);
  ~CEnumPins() override;
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) override;
  STDMETHODIMP Skip(ULONG cPins) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumPins** ppEnum) override;

 private:
  bool AreWeOutOfSync() const { return m_pFilter->GetPinVersion() != m_Version; }
  int m_Position = 0;
  int m_PinCount = 0;
  CBaseFilter* m_pFilter;  // referenced
  LONG m_Version = 0;
};

class CEnumMediaTypes : public CUnknown, public IEnumMediaTypes {
 public:
  CEnumMediaTypes(CBasePin* pPin, const CEnumMediaTypes* pEnumMediaTypes);
  ~CEnumMediaTypes() override;
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) override;
  STDMETHODIMP Skip(ULONG cMediaTypes) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumMediaTypes** ppEnum) override;

 private:
  bool AreWeOutOfSync() const { return m_pPin->GetMediaTypeVersion() != m_Version; }
  int m_Position = 0;
  CBasePin* m_pPin;  // referenced
  LONG m_Version = 0;
};

// ---------------------------------------------------------------------------------------------
// CBaseOutputPin

class CBaseOutputPin : public CBasePin {
 public:
  CBaseOutputPin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName);
  ~CBaseOutputPin() override;

  // Keeps the peer's IMemInputPin (VFW_E_NO_TRANSPORT without one).
  HRESULT CheckConnect(IPin* pPin) override;
  // Negotiates the allocator (DecideAllocator).
  HRESULT CompleteConnect(IPin* pReceivePin) override;
  HRESULT BreakConnect() override;

  // Asks the peer for its allocator requirements and allocator, sizes it with DecideBufferSize and
  // tells the peer (NotifyAllocator, not read-only); falls back to our own memory allocator.
  virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** pAlloc);
  // Fill in the properties and call pAlloc->SetProperties; check what was granted.
  virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* ppropInputRequest) = 0;
  // A new CMemAllocator.
  virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);

  // Streaming thread: an empty sample from our allocator (blocks until one is free).
  virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                                    DWORD dwFlags);
  // Streaming thread: the peer's Receive (VFW_E_NOT_CONNECTED when not connected).
  virtual HRESULT Deliver(IMediaSample* pSample);
  virtual HRESULT DeliverEndOfStream();
  virtual HRESULT DeliverBeginFlush();
  virtual HRESULT DeliverEndFlush();
  virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

  // Commits the allocator / decommits it (VFW_E_NO_ALLOCATOR without one).
  HRESULT Active() override;
  HRESULT Inactive() override;

  // An output pin receives no stream events.
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

  IMemAllocator* PeekAllocator() const { return m_pAllocator.Get(); }
  IMemInputPin* ConnectedIMemInputPin() const { return m_pInputPin.Get(); }

 protected:
  ComPtr<IMemAllocator> m_pAllocator;
  ComPtr<IMemInputPin> m_pInputPin;
};

// ---------------------------------------------------------------------------------------------
// CBaseInputPin

class CBaseInputPin : public CBasePin, public IMemInputPin, public IPinSampleCount {
 public:
  CBaseInputPin(const wchar_t* pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr, LPCWSTR pName);
  ~CBaseInputPin() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IMemInputPin
  // Our allocator (a CMemAllocator created on first request) with a reference added.
  STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
  // Records the allocator the upstream pin chose and whether its buffers are read-only.
  STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
  // The receive checks: streaming state (CheckStreaming), the sample's properties copied into
  // m_SampleProps, and a type change checked with CheckMediaType. A refused type marks a run-time
  // error, signals our EndOfStream, notifies EC_ERRORABORT (VFW_E_TYPE_NOT_ACCEPTED) and returns
  // VFW_E_INVALIDMEDIATYPE. Derived pins call this first and process the sample on S_OK.
  STDMETHODIMP Receive(IMediaSample* pSample) override;
  // Receive for each sample until one does not return S_OK.
  STDMETHODIMP ReceiveMultiple(IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed) override;
  // S_OK when the filter has no output pin or a connected output pin's peer can block.
  STDMETHODIMP ReceiveCanBlock() override;

  // IPinSampleCount: samples accepted by Receive's checks since the pin was created.
  STDMETHODIMP GetSampleCount(LONGLONG* pCount) override;

  // Flushing flag (under the filter lock); EndFlush also clears a run-time error.
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  // Input pins pass quality messages nowhere by default.
  STDMETHODIMP Notify(IBaseFilter* pSelf, Quality q) override;
  // Sends a quality message upstream (the sink set with SetSink, else the connected pin).
  HRESULT PassNotify(Quality& q);

  HRESULT BreakConnect() override;
  // Clears the run-time error and flushing flags and decommits the allocator.
  HRESULT Inactive() override;

  BOOL IsReadOnly() const { return m_bReadOnly ? TRUE : FALSE; }
  BOOL IsFlushing() const { return m_bFlushing ? TRUE : FALSE; }
  // S_OK while samples may be received: VFW_E_NOT_CONNECTED, VFW_E_WRONG_STATE when stopped,
  // S_FALSE while flushing, VFW_E_RUNTIME_ERROR after a run-time error.
  virtual HRESULT CheckStreaming();
  // The properties of the sample being received (valid during Receive).
  AM_SAMPLE2_PROPERTIES* SampleProps() { return &m_SampleProps; }
  IMemAllocator* PeekAllocator() const { return m_pAllocator.Get(); }

 protected:
  ComPtr<IMemAllocator> m_pAllocator;
  bool m_bReadOnly = false;
  std::atomic<bool> m_bFlushing{false};
  AM_SAMPLE2_PROPERTIES m_SampleProps{};

 private:
  std::atomic<LONGLONG> m_cSamplesAccepted{0};
};

// ---------------------------------------------------------------------------------------------
// Media samples and allocators

// A media sample of a pooled allocator. Its reference count starts at 1 when handed out by
// GetBuffer; the last Release gives it back to the allocator instead of deleting it.
class CMediaSample : public IMediaSample2 {
 public:
  CMediaSample(const wchar_t* pName, CBaseAllocator* pAllocator, HRESULT* phr, LPBYTE pBuffer = nullptr,
               LONG length = 0);
  CMediaSample(const CMediaSample&) = delete;
  CMediaSample& operator=(const CMediaSample&) = delete;
  virtual ~CMediaSample();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  HRESULT SetPointer(BYTE* ptr, LONG cBytes);

  STDMETHODIMP GetPointer(BYTE** ppBuffer) override;
  STDMETHODIMP_(LONG) GetSize() override;
  STDMETHODIMP GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
  STDMETHODIMP SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
  STDMETHODIMP IsSyncPoint() override;
  STDMETHODIMP SetSyncPoint(BOOL bIsSyncPoint) override;
  STDMETHODIMP IsPreroll() override;
  STDMETHODIMP SetPreroll(BOOL bIsPreroll) override;
  STDMETHODIMP_(LONG) GetActualDataLength() override;
  STDMETHODIMP SetActualDataLength(LONG len) override;
  STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
  STDMETHODIMP SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
  STDMETHODIMP IsDiscontinuity() override;
  STDMETHODIMP SetDiscontinuity(BOOL bDiscontinuity) override;
  STDMETHODIMP GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
  STDMETHODIMP SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
  STDMETHODIMP GetProperties(DWORD cbProperties, BYTE* pbProperties) override;
  STDMETHODIMP SetProperties(DWORD cbProperties, const BYTE* pbProperties) override;

  // Allocator side: clears the per-use state when the sample returns to the pool.
  void ResetForReuse();
  // Allocator side: the count is set to 1 when the sample is handed out.
  void SetRefForHandOut() { m_cRef.store(1); }

 protected:
  friend class CBaseAllocator;
  enum : DWORD {
    Sample_SyncPoint = AM_SAMPLE_SPLICEPOINT,
    Sample_Preroll = AM_SAMPLE_PREROLL,
    Sample_Discontinuity = AM_SAMPLE_DATADISCONTINUITY,
    Sample_TypeChanged = AM_SAMPLE_TYPECHANGED,
    Sample_TimeValid = AM_SAMPLE_TIMEVALID,
    Sample_MediaTimeValid = 0x20,
    Sample_TimeDiscontinuity = AM_SAMPLE_TIMEDISCONTINUITY,
    Sample_StopValid = AM_SAMPLE_STOPVALID,
    Sample_ValidFlags = 0x1FF
  };
  DWORD m_dwFlags = 0;
  DWORD m_dwTypeSpecificFlags = 0;
  LPBYTE m_pBuffer;
  LONG m_lActual = 0;
  LONG m_cbBuffer;
  CBaseAllocator* m_pAllocator;
  REFERENCE_TIME m_Start = 0;
  REFERENCE_TIME m_End = 0;
  LONGLONG m_MediaStart = 0;
  LONG m_MediaEnd = 0;  // offset from m_MediaStart
  AM_MEDIA_TYPE* m_pMediaType = nullptr;
  DWORD m_dwStreamId = AM_STREAM_MEDIA;
  std::atomic<LONG> m_cRef{0};
};

// The pool logic of an allocator: SetProperties, Commit/Decommit, GetBuffer that blocks until a
// sample returns (or fails with VFW_E_NOT_COMMITTED once decommitted), ReleaseBuffer. Every
// sample handed out holds a reference on the allocator until it comes back.
class CBaseAllocator : public CUnknown, public IMemAllocator {
 public:
  CBaseAllocator(const wchar_t* pName, LPUNKNOWN pUnk, HRESULT* phr);
  ~CBaseAllocator() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
  STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
  // Allocates the buffers (Alloc) when they do not exist yet; VFW_E_SIZENOTSET without properties.
  STDMETHODIMP Commit() override;
  // Fails pending and future GetBuffer calls; Free is called once every sample is back.
  STDMETHODIMP Decommit() override;
  STDMETHODIMP GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                         DWORD dwFlags) override;
  STDMETHODIMP ReleaseBuffer(IMediaSample* pBuffer) override;

  // Number of samples currently handed out.
  LONG OutstandingCount();
  BOOL IsCommitted();

 protected:
  // Creates the samples and their memory (called under the lock from Commit).
  virtual HRESULT Alloc() = 0;
  // After a Decommit, once every sample is back (under the lock): releases what the derived
  // allocator does not keep for the next Commit.
  virtual void Free() = 0;

  std::mutex m_Lock;
  std::condition_variable m_FreeCond;
  // The free samples (owned by the derived allocator; this list only points at them).
  std::vector<CMediaSample*> m_lFree;
  LONG m_lAllocated = 0;  // samples that exist
  LONG m_lCount = 0;
  LONG m_lSize = 0;
  LONG m_lAlignment = 0;
  LONG m_lPrefix = 0;
  bool m_bChanged = false;
  bool m_bCommitted = false;
  bool m_bDecommitInProgress = false;
};

// An allocator of plain memory: one block holding every buffer, aligned and prefixed as asked,
// allocated at the first Commit and kept through Decommit until the properties change or the
// allocator goes.
class CMemAllocator : public CBaseAllocator {
 public:
  CMemAllocator(const wchar_t* pName, LPUNKNOWN pUnk, HRESULT* phr);
  ~CMemAllocator() override;
  // Validates alignment (a power of two) and rounds the buffer size so that every buffer starts
  // aligned after its prefix.
  STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;

  // Number of times memory was allocated (for tests that check nothing is allocated per sample).
  LONG AllocationCount() const { return m_lAllocations; }

 protected:
  HRESULT Alloc() override;
  void Free() override;

 private:
  void ReallyFree();
  std::vector<std::unique_ptr<CMediaSample>> m_Samples;
  BYTE* m_pBuffer = nullptr;  // std::aligned_alloc'd
  LONG m_lAllocations = 0;
};

// A new CMemAllocator with one reference.
HRESULT CreateMemoryAllocator(IMemAllocator** ppAllocator);

// Filter test harness: run a filter without a host. A fake graph (IFilterGraph + IMediaEventSink
// that records every event), a push source on a worker thread (TestSource), a recording sink
// (TestSink), and a source the test drives on its own thread (PushSource: connect it to a filter's
// input with a chosen type and push time-stamped samples synchronously).
//
// Typical use:
//   auto graph = FakeGraph::Create();
//   auto push = PushSource::Create({.offeredTypes = {type}});
//   auto sink = TestSink::Create({});
//   graph->AddFilter(push.Get(), L"push"); graph->AddFilter(filter, L"f"); graph->AddFilter(sink...);
//   graph->Connect(push->OutputPin(), PinOf(filter, 0), &type);
//   graph->Connect(PinOf(filter, 1), sink->InputPin());
//   graph->Run();  push->Push({...});  sink->Samples() ...;  graph->Stop();
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/strmbase/amfilter.h"
#include "platform/strmbase/source.h"

namespace plenor::test {

// Creates a COM object with one reference owned by the returned pointer.
template <class T, class... Args>
ComPtr<T> MakeObject(Args&&... args) {
  return ComPtr<T>(new T(std::forward<Args>(args)...));
}

// A video type with a VIDEOINFOHEADER: biSizeImage = stride × |height| for RGB (rows padded to 4
// bytes), width × |height| × bitCount / 8 otherwise. lSampleSize = biSizeImage.
CMediaType MakeVideoType(const GUID& subtype, LONG width, LONG height, WORD bitCount, DWORD compression = BI_RGB,
                         REFERENCE_TIME avgTimePerFrame = 333333);
// A type with only GUIDs set (format type FORMAT_None, no format block).
CMediaType MakeSimpleType(const GUID& major, const GUID& sub);

// The pin at index n of a filter's pin enumeration (null when absent).
ComPtr<IPin> PinOf(IBaseFilter* filter, int n);
// The type a pin is connected with (an empty type when it is not connected).
CMediaType ConnectionType(IPin* pin);
// The bytes the test source writes into sample n (byte i = (7 n + i) mod 256).
std::vector<BYTE> PatternBytes(int n, LONG size);

struct RecordedEvent {
  LONG code;
  LONG_PTR param1;
  LONG_PTR param2;
};

class FakeGraph : public CUnknown, public IFilterGraph, public IMediaEventSink {
 public:
  static ComPtr<FakeGraph> Create();
  ~FakeGraph() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IFilterGraph. AddFilter holds a reference and calls JoinFilterGraph; ConnectDirect calls the
  // output pin's Connect; Reconnect disconnects the pin and its peer and connects them again with
  // the output pin's proposed type (or none); Disconnect calls the pin's Disconnect.
  STDMETHODIMP AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override;
  STDMETHODIMP RemoveFilter(IBaseFilter* pFilter) override;
  STDMETHODIMP EnumFilters(IEnumFilters** ppEnum) override;
  STDMETHODIMP FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override;
  STDMETHODIMP ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override;
  STDMETHODIMP Reconnect(IPin* ppin) override;
  STDMETHODIMP Disconnect(IPin* ppin) override;
  STDMETHODIMP SetDefaultSyncSource() override;

  // IMediaEventSink: records every event (thread-safe).
  STDMETHODIMP Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

  // Helpers.
  HRESULT Connect(IPin* out, IPin* in, const AM_MEDIA_TYPE* pmt = nullptr) { return ConnectDirect(out, in, pmt); }
  // State changes on every filter, downstream first (reverse order of AddFilter). Each returns the
  // first failure.
  HRESULT Pause();
  HRESULT Run(REFERENCE_TIME tStart = 0);
  HRESULT Stop();
  // Gives every filter the clock (null removes it).
  void SetClock(IReferenceClock* clock);

  std::vector<RecordedEvent> Events();
  int CountEvents(LONG code);
  // Waits until at least count events of code were recorded.
  bool WaitForEvent(LONG code, int count, DWORD timeoutMs);
  void ClearEvents();
  // Number of Reconnect calls (and the pins asked for).
  int ReconnectCount();
  // When set, Reconnect only records the request and returns S_OK.
  void SetRecordReconnectOnly(bool b) { m_bRecordReconnectOnly = b; }

  // Stops, disconnects every pin and removes every filter (also done by the destructor).
  void TearDown();

 private:
  FakeGraph();
  std::vector<ComPtr<IBaseFilter>> m_Filters;
  std::mutex m_EventLock;
  std::condition_variable m_EventCond;
  std::vector<RecordedEvent> m_Events;
  int m_Reconnects = 0;
  bool m_bRecordReconnectOnly = false;
  // Connections being re-made further up this thread's stack (as the graph manager does, a
  // Reconnect of one of them from inside its own reconnection succeeds without recursing).
  std::vector<std::pair<IPin*, IPin*>> m_Reconnecting;
};

// ---------------------------------------------------------------------------------------------
// TestSource: a CSource with one CSourceStream pin "Out" offering one type.

struct SourceOptions {
  CMediaType mediaType{};
  int sampleCount = 10;  // -1: never ends
  LONG sampleSize = 1024;
  LONG bufferCount = 2;
  REFERENCE_TIME startTime = 0;
  REFERENCE_TIME duration = 333333;
  // Replaces the default filling when set: called with the 0-based call number (counted since
  // the last Stop) and the sample; its result is FillBuffer's.
  std::function<HRESULT(int call, IMediaSample* sample)> fill{};
};

class TestSourcePin;

class TestSource : public CSource {
 public:
  static ComPtr<TestSource> Create(const SourceOptions& options);
  ~TestSource() override;

  // Base Stop, then rewind to the first sample.
  STDMETHODIMP Stop() override;

  IPin* OutputPin();
  TestSourcePin* Stream() { return m_pPin; }
  // FillBuffer calls since creation, and worker threads started since creation.
  int FillCalls() const;
  int ThreadStarts() const;
  const SourceOptions& Options() const { return m_Options; }

 private:
  explicit TestSource(const SourceOptions& options);
  SourceOptions m_Options;
  TestSourcePin* m_pPin = nullptr;
};

class TestSourcePin : public CSourceStream {
 public:
  TestSourcePin(HRESULT* phr, TestSource* pFilter);
  HRESULT FillBuffer(IMediaSample* pSample) override;
  HRESULT GetMediaType(CMediaType* pmt) override;
  using CSourceStream::GetMediaType;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
  HRESULT OnThreadCreate() override;
  void Rewind();

  std::atomic<int> m_FillCalls{0};
  std::atomic<int> m_ThreadStarts{0};

 private:
  TestSource* m_pSource;
  CCritSec m_csStream;
  int m_Index = 0;
};

// ---------------------------------------------------------------------------------------------
// TestSink: a filter with one input pin "In" that records everything it receives.

struct SinkOptions {
  // Types the input accepts (empty: any). Compared with CMediaType equality.
  std::vector<CMediaType> acceptedTypes{};
  // Types the input pin offers in its enumeration.
  std::vector<CMediaType> offeredTypes{};
  // NotifyAllocator refuses any allocator but the sink's own (forces a copy upstream).
  bool refuseForeignAllocator = false;
  // Returned by Receive after the sample was recorded.
  HRESULT receiveResult = S_OK;
  // ReceiveCanBlock answer: S_OK when true, else S_FALSE.
  bool receiveCanBlock = false;
  // Buffer count of the sink's own allocator requirements (0: no requirements).
  LONG requiredBuffers = 0;
};

struct ReceivedSample {
  std::vector<BYTE> data;
  BYTE* pointer = nullptr;
  HRESULT timeResult = S_OK;
  REFERENCE_TIME start = 0, stop = 0;
  bool sync = false, discontinuity = false, preroll = false;
  DWORD streamId = AM_STREAM_MEDIA;
  DWORD typeSpecificFlags = 0;
  bool hasMediaType = false;
  CMediaType mediaType;
  HRESULT mediaTimeResult = S_OK;
  LONGLONG mediaStart = 0, mediaEnd = 0;
  std::thread::id thread;
};

class TestSinkPin;

class TestSink : public CBaseFilter {
 public:
  static ComPtr<TestSink> Create(const SinkOptions& options);
  ~TestSink() override;

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;
  // Unblocks a blocked Receive before stopping.
  STDMETHODIMP Stop() override;

  IPin* InputPin();
  TestSinkPin* Pin() { return m_pPin; }

  std::vector<ReceivedSample> Samples();
  size_t SampleCount();
  int EndOfStreamCount();
  int BeginFlushCount();
  int EndFlushCount();
  int NewSegmentCount();
  bool WaitForSamples(size_t n, DWORD timeoutMs);
  bool WaitForEndOfStream(int count, DWORD timeoutMs);
  void ClearRecords();

  // While blocked, Receive waits (until unblocked, flushed or stopped) before recording.
  void SetBlocking(bool block);
  // Receive calls currently waiting.
  int BlockedReceives();
  void SetReceiveResult(HRESULT hr);

  // The allocator the upstream pin chose.
  IMemAllocator* Allocator();
  // The sink's own allocator (created on first GetAllocator).
  IMemAllocator* OwnAllocator();
  BOOL NotifiedReadOnly();

 private:
  friend class TestSinkPin;
  explicit TestSink(const SinkOptions& options);
  SinkOptions m_Options;
  CCritSec m_csFilter;
  TestSinkPin* m_pPin = nullptr;

  std::mutex m_RecordLock;
  std::condition_variable m_RecordCond;
  std::vector<ReceivedSample> m_Samples;
  int m_EOS = 0, m_BeginFlush = 0, m_EndFlush = 0, m_NewSegment = 0;
  bool m_bBlocking = false;
  unsigned m_StopCount = 0;  // bumped by Stop to release blocked Receive calls
  int m_Blocked = 0;
  HRESULT m_ReceiveResult;
};

class TestSinkPin : public CBaseInputPin {
 public:
  TestSinkPin(HRESULT* phr, TestSink* pSink);
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
  STDMETHODIMP Receive(IMediaSample* pSample) override;
  STDMETHODIMP EndOfStream() override;
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;
  STDMETHODIMP NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;
  STDMETHODIMP ReceiveCanBlock() override;
  STDMETHODIMP NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
  STDMETHODIMP GetAllocator(IMemAllocator** ppAllocator) override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;

  ComPtr<IMemAllocator> m_OwnAllocator;

 private:
  TestSink* m_pSink;
};

// ---------------------------------------------------------------------------------------------
// PushSource: an output pin "Out" the test drives on its own thread.

struct PushOptions {
  // Types offered and accepted (empty: offers none, accepts any).
  std::vector<CMediaType> offeredTypes{};
  LONG bufferCount = 2;
  LONG bufferSize = 4096;
};

struct PushSample {
  std::vector<BYTE> data{};
  std::optional<REFERENCE_TIME> start{}, stop{};
  bool sync = true, discontinuity = false, preroll = false;
  DWORD streamId = AM_STREAM_MEDIA;
  DWORD typeSpecificFlags = 0;
  const AM_MEDIA_TYPE* mediaType = nullptr;  // attached as a format change
  std::optional<LONGLONG> mediaStart{}, mediaStop{};
};

class PushPin;

class PushSource : public CBaseFilter {
 public:
  static ComPtr<PushSource> Create(const PushOptions& options);
  ~PushSource() override;

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;

  IPin* OutputPin();
  PushPin* Pin() { return m_pPin; }

  // Takes a buffer from the negotiated allocator, fills it and delivers it on this thread;
  // returns the downstream Receive result (or the GetBuffer/fill failure).
  HRESULT Push(const PushSample& sample);
  // Convenience: bytes with start and stop times.
  HRESULT PushBytes(const std::vector<BYTE>& data, REFERENCE_TIME start, REFERENCE_TIME stop);
  HRESULT EndOfStream();
  HRESULT BeginFlush();
  HRESULT EndFlush();
  HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

  IMemAllocator* Allocator();
  // The buffer of the last pushed sample.
  BYTE* LastBuffer() const { return m_pLastBuffer; }

  // Makes the filter answer IMediaSeeking with this object (as a file source would).
  void SetSeeking(IMediaSeeking* seeking) { m_pSeeking = ComPtr<IMediaSeeking>(seeking); }
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

 private:
  explicit PushSource(const PushOptions& options);
  ComPtr<IMediaSeeking> m_pSeeking;
  friend class PushPin;
  PushOptions m_Options;
  CCritSec m_csFilter;
  PushPin* m_pPin = nullptr;
  BYTE* m_pLastBuffer = nullptr;
};

class PushPin : public CBaseOutputPin {
 public:
  PushPin(HRESULT* phr, PushSource* pSource);
  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;

 private:
  PushSource* m_pSource;
};

}  // namespace plenor::test

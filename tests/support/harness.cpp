#include "tests/support/harness.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/com/runtime.h"

namespace plenor::test {

// =============================================================================================
// Helpers

CMediaType MakeVideoType(const GUID& subtype, LONG width, LONG height, WORD bitCount, DWORD compression,
                         REFERENCE_TIME avgTimePerFrame) {
  CMediaType mt;
  mt.SetType(&MEDIATYPE_Video);
  mt.SetSubtype(&subtype);
  mt.SetFormatType(&FORMAT_VideoInfo);
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  vih->AvgTimePerFrame = avgTimePerFrame;
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = width;
  vih->bmiHeader.biHeight = height;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biBitCount = bitCount;
  vih->bmiHeader.biCompression = compression;
  LONG h = height < 0 ? -height : height;
  if (compression == BI_RGB)
    vih->bmiHeader.biSizeImage = GetBitmapSize(&vih->bmiHeader);
  else
    vih->bmiHeader.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(h) * bitCount / 8;
  vih->rcSource = {0, 0, width, h};
  vih->rcTarget = vih->rcSource;
  mt.SetSampleSize(vih->bmiHeader.biSizeImage);
  mt.SetTemporalCompression(FALSE);
  return mt;
}

CMediaType MakeSimpleType(const GUID& major, const GUID& sub) {
  CMediaType mt;
  mt.SetType(&major);
  mt.SetSubtype(&sub);
  mt.SetFormatType(&FORMAT_None);
  return mt;
}

ComPtr<IPin> PinOf(IBaseFilter* filter, int n) {
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(&pins))) return nullptr;
  if (n > 0 && pins->Skip(static_cast<ULONG>(n)) != S_OK) return nullptr;
  IPin* pin = nullptr;
  ULONG fetched = 0;
  if (pins->Next(1, &pin, &fetched) != S_OK || fetched != 1) return nullptr;
  return ComPtr<IPin>::Attach(pin);
}

CMediaType ConnectionType(IPin* pin) {
  AM_MEDIA_TYPE mt{};
  CMediaType out;
  if (SUCCEEDED(pin->ConnectionMediaType(&mt))) {
    out.Set(mt);
    FreeMediaType(mt);
  }
  return out;
}

std::vector<BYTE> PatternBytes(int n, LONG size) {
  std::vector<BYTE> v(static_cast<size_t>(size));
  for (LONG i = 0; i < size; i++) v[static_cast<size_t>(i)] = static_cast<BYTE>((7 * n + i) & 0xFF);
  return v;
}

// =============================================================================================
// FakeGraph

FakeGraph::FakeGraph() : CUnknown(L"Fake graph", nullptr) {}

ComPtr<FakeGraph> FakeGraph::Create() { return ComPtr<FakeGraph>(new FakeGraph()); }

FakeGraph::~FakeGraph() { TearDown(); }

STDMETHODIMP FakeGraph::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IFilterGraph) return GetInterface(static_cast<IFilterGraph*>(this), ppv);
  if (riid == IID_IMediaEventSink) return GetInterface(static_cast<IMediaEventSink*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP FakeGraph::AddFilter(IBaseFilter* pFilter, LPCWSTR pName) {
  if (!pFilter) return E_POINTER;
  HRESULT hr = pFilter->JoinFilterGraph(this, pName);
  if (FAILED(hr)) return hr;
  m_Filters.emplace_back(pFilter);
  return S_OK;
}

STDMETHODIMP FakeGraph::RemoveFilter(IBaseFilter* pFilter) {
  auto it = std::find_if(m_Filters.begin(), m_Filters.end(),
                         [pFilter](const ComPtr<IBaseFilter>& f) { return f.Get() == pFilter; });
  if (it == m_Filters.end()) return VFW_E_NOT_FOUND;
  pFilter->JoinFilterGraph(nullptr, nullptr);
  m_Filters.erase(it);
  return S_OK;
}

STDMETHODIMP FakeGraph::EnumFilters(IEnumFilters** ppEnum) {
  if (ppEnum) *ppEnum = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP FakeGraph::FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) {
  if (!ppFilter || !pName) return E_POINTER;
  *ppFilter = nullptr;
  for (auto& f : m_Filters) {
    FILTER_INFO info{};
    if (SUCCEEDED(f->QueryFilterInfo(&info))) {
      if (info.pGraph) info.pGraph->Release();
      if (std::wcscmp(info.achName, pName) == 0) {
        *ppFilter = ComPtr<IBaseFilter>(f).Detach();
        return S_OK;
      }
    }
  }
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP FakeGraph::ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) {
  if (!ppinOut || !ppinIn) return E_POINTER;
  return ppinOut->Connect(ppinIn, pmt);
}

STDMETHODIMP FakeGraph::Reconnect(IPin* ppin) {
  if (!ppin) return E_POINTER;
  {
    std::lock_guard lock(m_EventLock);
    m_Reconnects++;
  }
  if (m_bRecordReconnectOnly) return S_OK;
  ComPtr<IPin> peer;
  if (FAILED(ppin->ConnectedTo(&peer))) return VFW_E_NOT_CONNECTED;
  PIN_DIRECTION dir;
  ppin->QueryDirection(&dir);
  IPin* out = dir == PINDIR_OUTPUT ? ppin : peer.Get();
  IPin* in = dir == PINDIR_OUTPUT ? peer.Get() : ppin;
  const std::pair<IPin*, IPin*> key{out, in};
  if (std::find(m_Reconnecting.begin(), m_Reconnecting.end(), key) != m_Reconnecting.end()) return S_OK;
  if (m_Reconnecting.size() >= 8) return VFW_E_CANNOT_CONNECT;
  ComPtr<IPin> keepOut(out), keepIn(in);
  m_Reconnecting.push_back(key);
  out->Disconnect();
  in->Disconnect();
  HRESULT hr = out->Connect(in, nullptr);
  m_Reconnecting.pop_back();
  return hr;
}

STDMETHODIMP FakeGraph::Disconnect(IPin* ppin) {
  if (!ppin) return E_POINTER;
  return ppin->Disconnect();
}

STDMETHODIMP FakeGraph::SetDefaultSyncSource() { return E_NOTIMPL; }

STDMETHODIMP FakeGraph::Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
  {
    std::lock_guard lock(m_EventLock);
    m_Events.push_back({EventCode, EventParam1, EventParam2});
  }
  m_EventCond.notify_all();
  return S_OK;
}

HRESULT FakeGraph::Pause() {
  HRESULT result = S_OK;
  for (auto it = m_Filters.rbegin(); it != m_Filters.rend(); ++it) {
    HRESULT hr = (*it)->Pause();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

HRESULT FakeGraph::Run(REFERENCE_TIME tStart) {
  HRESULT result = S_OK;
  for (auto it = m_Filters.rbegin(); it != m_Filters.rend(); ++it) {
    HRESULT hr = (*it)->Run(tStart);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

HRESULT FakeGraph::Stop() {
  HRESULT result = S_OK;
  for (auto it = m_Filters.rbegin(); it != m_Filters.rend(); ++it) {
    HRESULT hr = (*it)->Stop();
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

void FakeGraph::SetClock(IReferenceClock* clock) {
  for (auto& f : m_Filters) f->SetSyncSource(clock);
}

std::vector<RecordedEvent> FakeGraph::Events() {
  std::lock_guard lock(m_EventLock);
  return m_Events;
}

int FakeGraph::CountEvents(LONG code) {
  std::lock_guard lock(m_EventLock);
  return static_cast<int>(
      std::count_if(m_Events.begin(), m_Events.end(), [code](const RecordedEvent& e) { return e.code == code; }));
}

bool FakeGraph::WaitForEvent(LONG code, int count, DWORD timeoutMs) {
  std::unique_lock lock(m_EventLock);
  return m_EventCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
    return std::count_if(m_Events.begin(), m_Events.end(), [code](const RecordedEvent& e) { return e.code == code; }) >=
           count;
  });
}

void FakeGraph::ClearEvents() {
  std::lock_guard lock(m_EventLock);
  m_Events.clear();
}

int FakeGraph::ReconnectCount() {
  std::lock_guard lock(m_EventLock);
  return m_Reconnects;
}

void FakeGraph::TearDown() {
  Stop();
  // Connected pins hold each other's filters: break every connection before letting go.
  for (auto& f : m_Filters) {
    ComPtr<IEnumPins> pins;
    if (FAILED(f->EnumPins(&pins))) continue;
    IPin* pin = nullptr;
    ULONG fetched = 0;
    while (pins->Next(1, &pin, &fetched) == S_OK && fetched == 1) {
      ComPtr<IPin> p = ComPtr<IPin>::Attach(pin);
      p->Disconnect();
    }
  }
  for (auto& f : m_Filters) f->JoinFilterGraph(nullptr, nullptr);
  m_Filters.clear();
}

// =============================================================================================
// TestSource

TestSource::TestSource(const SourceOptions& options)
    : CSource(L"Test source", nullptr, GUID_NULL), m_Options(options) {}

ComPtr<TestSource> TestSource::Create(const SourceOptions& options) {
  ComPtr<TestSource> source(new TestSource(options));
  HRESULT hr = S_OK;
  source->m_pPin = new TestSourcePin(&hr, source.Get());
  return source;
}

TestSource::~TestSource() { delete m_pPin; }

STDMETHODIMP TestSource::Stop() {
  HRESULT hr = CSource::Stop();
  if (m_pPin) m_pPin->Rewind();
  return hr;
}

IPin* TestSource::OutputPin() { return m_pPin; }
int TestSource::FillCalls() const { return m_pPin->m_FillCalls.load(); }
int TestSource::ThreadStarts() const { return m_pPin->m_ThreadStarts.load(); }

TestSourcePin::TestSourcePin(HRESULT* phr, TestSource* pFilter)
    : CSourceStream(L"Test source pin", phr, pFilter, L"Out"), m_pSource(pFilter) {}

HRESULT TestSourcePin::OnThreadCreate() {
  m_ThreadStarts++;
  return S_OK;
}

void TestSourcePin::Rewind() {
  CAutoLock lock(&m_csStream);
  m_Index = 0;
}

HRESULT TestSourcePin::FillBuffer(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  CAutoLock lock(&m_csStream);
  m_FillCalls++;
  const SourceOptions& o = m_pSource->Options();
  int n = m_Index++;
  if (o.fill) return o.fill(n, pSample);
  if (o.sampleCount >= 0 && n >= o.sampleCount) return S_FALSE;
  BYTE* p = nullptr;
  pSample->GetPointer(&p);
  LONG size = std::min(o.sampleSize, pSample->GetSize());
  for (LONG i = 0; i < size; i++) p[i] = static_cast<BYTE>((7 * n + i) & 0xFF);
  pSample->SetActualDataLength(size);
  REFERENCE_TIME start = o.startTime + n * o.duration;
  REFERENCE_TIME stop = start + o.duration;
  pSample->SetTime(&start, &stop);
  pSample->SetSyncPoint(TRUE);
  return S_OK;
}

HRESULT TestSourcePin::GetMediaType(CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  *pmt = m_pSource->Options().mediaType;
  return S_OK;
}

HRESULT TestSourcePin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
  if (!pAlloc || !pRequest) return E_POINTER;
  CAutoLock lock(m_pSource->pStateLock());
  const SourceOptions& o = m_pSource->Options();
  pRequest->cBuffers = std::max(pRequest->cBuffers, o.bufferCount);
  pRequest->cbBuffer = std::max(pRequest->cbBuffer, o.sampleSize);
  if (pRequest->cbAlign <= 0) pRequest->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < pRequest->cbBuffer ? E_FAIL : S_OK;
}

// =============================================================================================
// TestSink

TestSink::TestSink(const SinkOptions& options)
    : CBaseFilter(L"Test sink", nullptr, &m_csFilter, GUID_NULL), m_Options(options),
      m_ReceiveResult(options.receiveResult) {}

ComPtr<TestSink> TestSink::Create(const SinkOptions& options) {
  ComPtr<TestSink> sink(new TestSink(options));
  HRESULT hr = S_OK;
  sink->m_pPin = new TestSinkPin(&hr, sink.Get());
  return sink;
}

TestSink::~TestSink() { delete m_pPin; }

CBasePin* TestSink::GetPin(int n) { return n == 0 ? m_pPin : nullptr; }

STDMETHODIMP TestSink::Stop() {
  {
    std::lock_guard lock(m_RecordLock);
    m_StopCount++;
  }
  m_RecordCond.notify_all();
  return CBaseFilter::Stop();
}

IPin* TestSink::InputPin() { return m_pPin; }

std::vector<ReceivedSample> TestSink::Samples() {
  std::lock_guard lock(m_RecordLock);
  return m_Samples;
}

size_t TestSink::SampleCount() {
  std::lock_guard lock(m_RecordLock);
  return m_Samples.size();
}

int TestSink::EndOfStreamCount() {
  std::lock_guard lock(m_RecordLock);
  return m_EOS;
}
int TestSink::BeginFlushCount() {
  std::lock_guard lock(m_RecordLock);
  return m_BeginFlush;
}
int TestSink::EndFlushCount() {
  std::lock_guard lock(m_RecordLock);
  return m_EndFlush;
}
int TestSink::NewSegmentCount() {
  std::lock_guard lock(m_RecordLock);
  return m_NewSegment;
}

bool TestSink::WaitForSamples(size_t n, DWORD timeoutMs) {
  std::unique_lock lock(m_RecordLock);
  return m_RecordCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_Samples.size() >= n; });
}

bool TestSink::WaitForEndOfStream(int count, DWORD timeoutMs) {
  std::unique_lock lock(m_RecordLock);
  return m_RecordCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_EOS >= count; });
}

void TestSink::ClearRecords() {
  std::lock_guard lock(m_RecordLock);
  m_Samples.clear();
  m_EOS = m_BeginFlush = m_EndFlush = m_NewSegment = 0;
}

void TestSink::SetBlocking(bool block) {
  {
    std::lock_guard lock(m_RecordLock);
    m_bBlocking = block;
  }
  m_RecordCond.notify_all();
}

int TestSink::BlockedReceives() {
  std::lock_guard lock(m_RecordLock);
  return m_Blocked;
}

void TestSink::SetReceiveResult(HRESULT hr) {
  std::lock_guard lock(m_RecordLock);
  m_ReceiveResult = hr;
}

IMemAllocator* TestSink::Allocator() { return m_pPin->PeekAllocator(); }
IMemAllocator* TestSink::OwnAllocator() { return m_pPin->m_OwnAllocator.Get(); }
BOOL TestSink::NotifiedReadOnly() { return m_pPin->IsReadOnly(); }

TestSinkPin::TestSinkPin(HRESULT* phr, TestSink* pSink)
    : CBaseInputPin(L"Test sink pin", pSink, &pSink->m_csFilter, phr, L"In"), m_pSink(pSink) {}

HRESULT TestSinkPin::CheckMediaType(const CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  const auto& accepted = m_pSink->m_Options.acceptedTypes;
  if (accepted.empty()) return S_OK;
  for (const CMediaType& t : accepted)
    if (t == *pmt) return S_OK;
  return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT TestSinkPin::GetMediaType(int iPosition, CMediaType* pmt) {
  if (iPosition < 0) return E_INVALIDARG;
  const auto& offered = m_pSink->m_Options.offeredTypes;
  if (static_cast<size_t>(iPosition) >= offered.size()) return VFW_S_NO_MORE_ITEMS;
  *pmt = offered[static_cast<size_t>(iPosition)];
  return S_OK;
}

STDMETHODIMP TestSinkPin::Receive(IMediaSample* pSample) {
  HRESULT hr = CBaseInputPin::Receive(pSample);
  if (hr != S_OK) return hr;
  TestSink* s = m_pSink;
  {
    std::unique_lock lock(s->m_RecordLock);
    if (s->m_bBlocking) {
      unsigned stops = s->m_StopCount;
      s->m_Blocked++;
      s->m_RecordCond.notify_all();
      s->m_RecordCond.wait(lock, [&] { return !s->m_bBlocking || s->m_StopCount != stops || m_bFlushing.load(); });
      s->m_Blocked--;
      if (s->m_StopCount != stops || m_bFlushing) return S_FALSE;
    }
  }
  ReceivedSample r;
  BYTE* p = nullptr;
  pSample->GetPointer(&p);
  r.pointer = p;
  LONG len = pSample->GetActualDataLength();
  if (p && len > 0) r.data.assign(p, p + len);
  r.timeResult = pSample->GetTime(&r.start, &r.stop);
  r.sync = pSample->IsSyncPoint() == S_OK;
  r.discontinuity = pSample->IsDiscontinuity() == S_OK;
  r.preroll = pSample->IsPreroll() == S_OK;
  r.streamId = m_SampleProps.dwStreamId;
  r.typeSpecificFlags = m_SampleProps.dwTypeSpecificFlags;
  AM_MEDIA_TYPE* pmt = nullptr;
  if (pSample->GetMediaType(&pmt) == S_OK && pmt) {
    r.hasMediaType = true;
    r.mediaType = *pmt;
    DeleteMediaType(pmt);
  }
  r.mediaTimeResult = pSample->GetMediaTime(&r.mediaStart, &r.mediaEnd);
  r.thread = std::this_thread::get_id();
  std::lock_guard lock(s->m_RecordLock);
  s->m_Samples.push_back(std::move(r));
  s->m_RecordCond.notify_all();
  return s->m_ReceiveResult;
}

STDMETHODIMP TestSinkPin::EndOfStream() {
  {
    std::lock_guard lock(m_pSink->m_RecordLock);
    m_pSink->m_EOS++;
  }
  m_pSink->m_RecordCond.notify_all();
  m_pSink->NotifyEvent(EC_COMPLETE, S_OK, 0);
  return S_OK;
}

STDMETHODIMP TestSinkPin::BeginFlush() {
  CBaseInputPin::BeginFlush();
  {
    std::lock_guard lock(m_pSink->m_RecordLock);
    m_pSink->m_BeginFlush++;
  }
  m_pSink->m_RecordCond.notify_all();
  return S_OK;
}

STDMETHODIMP TestSinkPin::EndFlush() {
  {
    std::lock_guard lock(m_pSink->m_RecordLock);
    m_pSink->m_EndFlush++;
  }
  return CBaseInputPin::EndFlush();
}

STDMETHODIMP TestSinkPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  {
    std::lock_guard lock(m_pSink->m_RecordLock);
    m_pSink->m_NewSegment++;
  }
  return CBaseInputPin::NewSegment(tStart, tStop, dRate);
}

STDMETHODIMP TestSinkPin::ReceiveCanBlock() { return m_pSink->m_Options.receiveCanBlock ? S_OK : S_FALSE; }

STDMETHODIMP TestSinkPin::GetAllocator(IMemAllocator** ppAllocator) {
  if (!ppAllocator) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (!m_OwnAllocator) {
    HRESULT hr = CreateMemoryAllocator(&m_OwnAllocator);
    if (FAILED(hr)) return hr;
  }
  *ppAllocator = ComPtr<IMemAllocator>(m_OwnAllocator).Detach();
  return S_OK;
}

STDMETHODIMP TestSinkPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
  if (m_pSink->m_Options.refuseForeignAllocator && pAllocator != m_OwnAllocator.Get()) return E_FAIL;
  return CBaseInputPin::NotifyAllocator(pAllocator, bReadOnly);
}

STDMETHODIMP TestSinkPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) {
  if (!pProps) return E_POINTER;
  if (m_pSink->m_Options.requiredBuffers <= 0) return E_NOTIMPL;
  pProps->cBuffers = m_pSink->m_Options.requiredBuffers;
  return S_OK;
}

// =============================================================================================
// PushSource

PushSource::PushSource(const PushOptions& options)
    : CBaseFilter(L"Push source", nullptr, &m_csFilter, GUID_NULL), m_Options(options) {}

ComPtr<PushSource> PushSource::Create(const PushOptions& options) {
  ComPtr<PushSource> source(new PushSource(options));
  HRESULT hr = S_OK;
  source->m_pPin = new PushPin(&hr, source.Get());
  return source;
}

PushSource::~PushSource() { delete m_pPin; }

STDMETHODIMP PushSource::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv && riid == IID_IMediaSeeking && m_pSeeking) return GetInterface(m_pSeeking.Get(), ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* PushSource::GetPin(int n) { return n == 0 ? m_pPin : nullptr; }
IPin* PushSource::OutputPin() { return m_pPin; }
IMemAllocator* PushSource::Allocator() { return m_pPin->PeekAllocator(); }

HRESULT PushSource::Push(const PushSample& s) {
  IMediaSample* raw = nullptr;
  HRESULT hr = m_pPin->GetDeliveryBuffer(&raw, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  ComPtr<IMediaSample> sample = ComPtr<IMediaSample>::Attach(raw);
  BYTE* p = nullptr;
  sample->GetPointer(&p);
  if (static_cast<LONG>(s.data.size()) > sample->GetSize()) return E_INVALIDARG;
  if (!s.data.empty()) std::memcpy(p, s.data.data(), s.data.size());
  hr = sample->SetActualDataLength(static_cast<LONG>(s.data.size()));
  if (FAILED(hr)) return hr;
  REFERENCE_TIME start = s.start.value_or(0), stop = s.stop.value_or(0);
  sample->SetTime(s.start ? &start : nullptr, s.stop ? &stop : nullptr);
  sample->SetSyncPoint(s.sync);
  sample->SetDiscontinuity(s.discontinuity);
  sample->SetPreroll(s.preroll);
  if (s.mediaType) {
    hr = sample->SetMediaType(const_cast<AM_MEDIA_TYPE*>(s.mediaType));
    if (FAILED(hr)) return hr;
  }
  if (s.mediaStart && s.mediaStop) {
    LONGLONG ms = *s.mediaStart, me = *s.mediaStop;
    sample->SetMediaTime(&ms, &me);
  }
  if (s.streamId != AM_STREAM_MEDIA || s.typeSpecificFlags != 0) {
    ComPtr<IMediaSample2> s2;
    hr = sample->QueryInterface(IID_IMediaSample2, s2.AsOut());
    if (FAILED(hr)) return hr;
    AM_SAMPLE2_PROPERTIES props;
    s2->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props));
    props.dwStreamId = s.streamId;
    props.dwTypeSpecificFlags = s.typeSpecificFlags;
    hr = s2->SetProperties(offsetof(AM_SAMPLE2_PROPERTIES, pbBuffer), reinterpret_cast<const BYTE*>(&props));
    if (FAILED(hr)) return hr;
  }
  m_pLastBuffer = p;
  return m_pPin->Deliver(sample.Get());
}

HRESULT PushSource::PushBytes(const std::vector<BYTE>& data, REFERENCE_TIME start, REFERENCE_TIME stop) {
  PushSample s;
  s.data = data;
  s.start = start;
  s.stop = stop;
  return Push(s);
}

HRESULT PushSource::EndOfStream() { return m_pPin->DeliverEndOfStream(); }
HRESULT PushSource::BeginFlush() { return m_pPin->DeliverBeginFlush(); }
HRESULT PushSource::EndFlush() { return m_pPin->DeliverEndFlush(); }
HRESULT PushSource::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
  return m_pPin->DeliverNewSegment(tStart, tStop, dRate);
}

PushPin::PushPin(HRESULT* phr, PushSource* pSource)
    : CBaseOutputPin(L"Push pin", pSource, &pSource->m_csFilter, phr, L"Out"), m_pSource(pSource) {}

HRESULT PushPin::CheckMediaType(const CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  const auto& offered = m_pSource->m_Options.offeredTypes;
  if (offered.empty()) return S_OK;
  for (const CMediaType& t : offered)
    if (t == *pmt) return S_OK;
  return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT PushPin::GetMediaType(int iPosition, CMediaType* pmt) {
  if (iPosition < 0) return E_INVALIDARG;
  const auto& offered = m_pSource->m_Options.offeredTypes;
  if (static_cast<size_t>(iPosition) >= offered.size()) return VFW_S_NO_MORE_ITEMS;
  *pmt = offered[static_cast<size_t>(iPosition)];
  return S_OK;
}

HRESULT PushPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
  if (!pAlloc || !pRequest) return E_POINTER;
  const PushOptions& o = m_pSource->m_Options;
  pRequest->cBuffers = std::max(pRequest->cBuffers, o.bufferCount);
  pRequest->cbBuffer = std::max(pRequest->cbBuffer, o.bufferSize);
  if (pRequest->cbAlign <= 0) pRequest->cbAlign = 1;
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
  if (FAILED(hr)) return hr;
  return (actual.cbBuffer < pRequest->cbBuffer || actual.cBuffers < pRequest->cBuffers) ? E_FAIL : S_OK;
}

}  // namespace plenor::test

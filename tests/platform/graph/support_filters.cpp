#include "support_filters.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace graphtest {

namespace {
const GUID CLSID_GraphTestSource = {0x7d1e0a01, 0x3c2b, 0x4a55, {0x90, 0x11, 0x5e, 0x6f, 0x70, 0x81, 0x92, 0xa3}};
const GUID CLSID_GraphTestCopy = {0x7d1e0a02, 0x3c2b, 0x4a55, {0x90, 0x11, 0x5e, 0x6f, 0x70, 0x81, 0x92, 0xa3}};
const GUID CLSID_GraphTestPass = {0x7d1e0a03, 0x3c2b, 0x4a55, {0x90, 0x11, 0x5e, 0x6f, 0x70, 0x81, 0x92, 0xa3}};
const GUID CLSID_GraphTestRenderer = {0x7d1e0a04, 0x3c2b, 0x4a55, {0x90, 0x11, 0x5e, 0x6f, 0x70, 0x81, 0x92, 0xa3}};
const GUID CLSID_GraphTestTwoInput = {0x7d1e0a05, 0x3c2b, 0x4a55, {0x90, 0x11, 0x5e, 0x6f, 0x70, 0x81, 0x92, 0xa3}};

int FrameNumber(IMediaSample* s) {
  BYTE* p = nullptr;
  if (FAILED(s->GetPointer(&p)) || s->GetActualDataLength() < 4) return -1;
  int n;
  std::memcpy(&n, p, 4);
  return n;
}
}  // namespace

ComPtr<IPin> PinAt(IBaseFilter* filter, int n) {
  ComPtr<IEnumPins> e;
  if (FAILED(filter->EnumPins(&e))) return nullptr;
  ComPtr<IPin> pin;
  for (int i = 0; i <= n; ++i) {
    ULONG got = 0;
    if (e->Next(1, &pin, &got) != S_OK) return nullptr;
  }
  return pin;
}

CMediaType Opaque(const GUID& subtype, ULONG sampleSize) {
  CMediaType mt(&MEDIATYPE_Stream);
  mt.SetSubtype(&subtype);
  mt.SetFormatType(&FORMAT_None);
  mt.SetSampleSize(sampleSize);
  return mt;
}

// ---- FrameSource ----

// The source pin also answers IMediaSeeking in media time: duration = frames x frame time, and a
// new current position moves the next frame to deliver.
class FrameSource::Pin : public CSourceStream, public IMediaSeeking {
 public:
  Pin(HRESULT* phr, FrameSource* f, const CMediaType& mt, int frames, LONG buffers, int failAt)
      : CSourceStream(L"frame source pin", phr, f, L"Out"),
        m_source(f),
        m_type(mt),
        m_frames(frames),
        m_buffers(buffers),
        m_failAt(failAt) {
    const VIDEOINFOHEADER* vih = m_type.FormatLength() >= sizeof(VIDEOINFOHEADER)
                                     ? reinterpret_cast<const VIDEOINFOHEADER*>(m_type.Format())
                                     : nullptr;
    m_frameTime = vih && vih->AvgTimePerFrame > 0 ? vih->AvgTimePerFrame : 400000;
  }
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
  }
  HRESULT GetMediaType(CMediaType* pmt) override {
    *pmt = m_type;
    return S_OK;
  }
  using CSourceStream::GetMediaType;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* req) override {
    req->cBuffers = std::max(req->cBuffers, m_buffers);
    req->cbBuffer = std::max<LONG>(req->cbBuffer, static_cast<LONG>(m_type.GetSampleSize()));
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = pAlloc->SetProperties(req, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < req->cbBuffer ? E_FAIL : S_OK;
  }
  HRESULT FillBuffer(IMediaSample* s) override {
    CAutoLock lock(&m_csStream);
    if (m_frames >= 0 && m_next >= m_frames) return S_FALSE;
    if (m_next == m_failAt) return E_FAIL;
    BYTE* p = nullptr;
    s->GetPointer(&p);
    LONG size = std::min<LONG>(s->GetSize(), static_cast<LONG>(m_type.GetSampleSize()));
    if (size >= 4) std::memcpy(p, &m_next, 4);
    s->SetActualDataLength(size);
    REFERENCE_TIME t0 = (m_next - m_first) * m_frameTime, t1 = t0 + m_frameTime;
    s->SetTime(&t0, &t1);
    s->SetSyncPoint(TRUE);
    ++m_next;
    ++m_source->filled;
    return S_OK;
  }
  // Back to the position of the last seek (the start unless one was made).
  void Rewind() {
    CAutoLock lock(&m_csStream);
    m_next = m_first;
  }

  // IMediaSeeking (application thread).
  STDMETHODIMP GetCapabilities(DWORD* caps) override {
    *caps = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetDuration | AM_SEEKING_CanGetStopPos;
    return S_OK;
  }
  STDMETHODIMP CheckCapabilities(DWORD* caps) override {
    DWORD have;
    GetCapabilities(&have);
    DWORD asked = *caps;
    *caps &= have;
    return *caps == asked ? S_OK : *caps ? S_FALSE : E_FAIL;
  }
  STDMETHODIMP IsFormatSupported(const GUID* f) override { return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE; }
  STDMETHODIMP QueryPreferredFormat(GUID* f) override {
    *f = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
  }
  STDMETHODIMP GetTimeFormat(GUID* f) override { return QueryPreferredFormat(f); }
  STDMETHODIMP IsUsingTimeFormat(const GUID* f) override { return IsFormatSupported(f); }
  STDMETHODIMP SetTimeFormat(const GUID* f) override { return *f == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG; }
  STDMETHODIMP GetDuration(LONGLONG* d) override {
    if (m_frames < 0) return E_NOTIMPL;
    *d = m_frames * m_frameTime;
    return S_OK;
  }
  STDMETHODIMP GetStopPosition(LONGLONG* s) override { return GetDuration(s); }
  STDMETHODIMP GetCurrentPosition(LONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override { return E_NOTIMPL; }
  STDMETHODIMP SetPositions(LONGLONG* cur, DWORD curFlags, LONGLONG*, DWORD) override {
    if ((curFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_AbsolutePositioning || !cur) return S_OK;
    CAutoLock lock(&m_csStream);
    m_first = m_next = static_cast<int>(*cur / m_frameTime);
    return S_OK;
  }
  STDMETHODIMP GetPositions(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetAvailable(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
  STDMETHODIMP SetRate(double r) override { return r == 1.0 ? S_OK : E_INVALIDARG; }
  STDMETHODIMP GetRate(double* r) override {
    *r = 1.0;
    return S_OK;
  }
  STDMETHODIMP GetPreroll(LONGLONG* p) override {
    *p = 0;
    return S_OK;
  }

 private:
  FrameSource* m_source;
  CMediaType m_type;
  int m_frames;
  LONG m_buffers;
  int m_failAt;
  REFERENCE_TIME m_frameTime;
  CCritSec m_csStream;
  int m_next = 0;
  int m_first = 0;
};

FrameSource::FrameSource(const CMediaType& mt, int frames, LONG buffers, int failAt)
    : CSource(L"frame source", nullptr, CLSID_GraphTestSource) {
  HRESULT hr = S_OK;
  m_pPin = new Pin(&hr, this, mt, frames, buffers, failAt);
}

STDMETHODIMP FrameSource::Stop() {
  HRESULT hr = CSource::Stop();
  m_pPin->Rewind();
  return hr;
}

IPin* FrameSource::Output() { return m_pPin; }

// ---- CopyFilter ----

CopyFilter::CopyFilter(int failAt, const GUID& subtype)
    : CTransformFilter(L"copy filter", nullptr, CLSID_GraphTestCopy), m_failAt(failAt), m_subtype(subtype) {}

HRESULT CopyFilter::CheckInputType(const CMediaType* mtIn) {
  if (*mtIn->Type() != MEDIATYPE_Video && *mtIn->Type() != MEDIATYPE_Stream) return VFW_E_TYPE_NOT_ACCEPTED;
  if (m_subtype != GUID_NULL && *mtIn->Subtype() != m_subtype) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT CopyFilter::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
  return *mtIn == *mtOut ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CopyFilter::DecideBufferSize(IMemAllocator* pAllocator, ALLOCATOR_PROPERTIES* pprop) {
  pprop->cBuffers = std::max<LONG>(pprop->cBuffers, 2);
  pprop->cbBuffer = std::max<LONG>(pprop->cbBuffer, static_cast<LONG>(m_pInput->CurrentMediaType().GetSampleSize()));
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = pAllocator->SetProperties(pprop, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < pprop->cbBuffer ? E_FAIL : S_OK;
}

HRESULT CopyFilter::GetMediaType(int iPosition, CMediaType* pMediaType) {
  if (iPosition < 0) return E_INVALIDARG;
  if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
  *pMediaType = m_pInput->CurrentMediaType();
  return S_OK;
}

HRESULT CopyFilter::StartStreaming() {
  transformed = 0;
  return S_OK;
}

HRESULT CopyFilter::Transform(IMediaSample* pIn, IMediaSample* pOut) {
  if (transformed.load() == m_failAt) return E_FAIL;
  BYTE *src = nullptr, *dst = nullptr;
  pIn->GetPointer(&src);
  pOut->GetPointer(&dst);
  LONG n = std::min(pIn->GetActualDataLength(), pOut->GetSize());
  std::memcpy(dst, src, static_cast<size_t>(n));
  pOut->SetActualDataLength(n);
  ++transformed;
  return S_OK;
}

// ---- PassFilter ----

PassFilter::PassFilter() : CTransInPlaceFilter(L"pass filter", nullptr, CLSID_GraphTestPass, nullptr, false) {}

HRESULT PassFilter::CheckInputType(const CMediaType*) { return S_OK; }

HRESULT PassFilter::Transform(IMediaSample*) {
  passed.fetch_add(1, std::memory_order_relaxed);
  return S_OK;
}

// ---- CountingRenderer ----

CountingRenderer::CountingRenderer(const GUID& subtype)
    : CBaseRenderer(CLSID_GraphTestRenderer, L"counting renderer", nullptr, nullptr), m_subtype(subtype) {}

HRESULT CountingRenderer::CheckMediaType(const CMediaType* pmt) {
  return m_subtype == GUID_NULL || *pmt->Subtype() == m_subtype ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CountingRenderer::OnStartStreaming() {
  m_last = -1;
  return S_OK;
}

HRESULT CountingRenderer::DoRenderSample(IMediaSample* s) {
  int n = FrameNumber(s);
  if (n >= 0) {
    if (n <= m_last) outOfOrder.fetch_add(1, std::memory_order_relaxed);
    m_last = n;
  }
  rendered.fetch_add(1, std::memory_order_release);
  return S_OK;
}

// ---- TwoInputRenderer ----

class TwoInputRenderer::Pin : public CBaseInputPin {
 public:
  Pin(TwoInputRenderer* f, int index, HRESULT* phr)
      : CBaseInputPin(L"two-input pin", f, &f->m_csFilter, phr, index == 0 ? L"In 0" : L"In 1"),
        m_owner(f),
        m_index(index) {}
  HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
  STDMETHODIMP Receive(IMediaSample* s) override {
    CAutoLock lock(&m_owner->m_csReceive);
    HRESULT hr = CBaseInputPin::Receive(s);
    if (hr != S_OK) return hr;
    return m_owner->Receive(m_index, s);
  }
  STDMETHODIMP EndOfStream() override { return m_owner->EndOfStream(m_index); }
  STDMETHODIMP BeginFlush() override { return CBaseInputPin::BeginFlush(); }
  STDMETHODIMP EndFlush() override { return CBaseInputPin::EndFlush(); }

 private:
  TwoInputRenderer* m_owner;
  int m_index;
};

TwoInputRenderer::TwoInputRenderer() : CBaseFilter(L"two-input renderer", nullptr, &m_csFilter, CLSID_GraphTestTwoInput) {
  HRESULT hr = S_OK;
  m_pins[0] = new Pin(this, 0, &hr);
  m_pins[1] = new Pin(this, 1, &hr);
}

TwoInputRenderer::~TwoInputRenderer() {
  delete m_pins[0];
  delete m_pins[1];
}

CBasePin* TwoInputRenderer::GetPin(int n) { return n == 0 || n == 1 ? m_pins[n] : nullptr; }

STDMETHODIMP TwoInputRenderer::Pause() {
  CAutoLock lock(&m_csFilter);
  if (m_State == State_Stopped) m_ended = 0;
  return CBaseFilter::Pause();
}

// Streaming threads of both inputs, one at a time under m_csReceive.
HRESULT TwoInputRenderer::Receive(int index, IMediaSample*) {
  int now = ++m_inReceive;
  int seen = maxConcurrent.load();
  while (now > seen && !maxConcurrent.compare_exchange_weak(seen, now)) {
  }
  // Stay a little while so that an unserialised second thread would be caught inside.
  for (int i = 0; i < 50; ++i) std::this_thread::yield();
  ++received[index];
  --m_inReceive;
  return S_OK;
}

HRESULT TwoInputRenderer::EndOfStream(int) {
  if (++m_ended == 2) NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
  return S_OK;
}

}  // namespace graphtest

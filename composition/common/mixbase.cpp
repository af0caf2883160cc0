#include "composition/common/mixbase.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/com/runtime.h"
#include "platform/strmbase/uuids.h"

VideoMixingBase::VideoMixingBase(const wchar_t* pName, REFCLSID clsid) : CMultiIOBaseFilter(pName, clsid) {
  CreatePins();
}

VideoMixingBase::~VideoMixingBase() = default;

void VideoMixingBase::InitialiseInputTypes() {
  for (const GUID* format : {&FORMAT_VideoInfo, &FORMAT_VideoInfo2})
    for (const GUID* sub : {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_ARGB32, &MEDIASUBTYPE_AYUV})
      AddAcceptedType(m_acceptedInputTypes, &MEDIATYPE_Video, sub, format);
}

void VideoMixingBase::InitialiseOutputTypes() {
  for (const GUID* sub : {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_ARGB32, &MEDIASUBTYPE_AYUV})
    AddAcceptedType(m_acceptedOutputTypes, &MEDIATYPE_Video, sub, &FORMAT_VideoInfo);
}

DWORD VideoMixingBase::MicrosecondClock() {
  LARGE_INTEGER count{}, frequency{};
  if (!QueryPerformanceCounter(&count) || !QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) return 0;
  // count x 1,000,000 / frequency without overflowing: whole seconds and the remainder apart.
  const long long seconds = count.QuadPart / frequency.QuadPart;
  const long long rest = count.QuadPart % frequency.QuadPart;
  return static_cast<DWORD>(seconds * 1000000 + rest * 1000000 / frequency.QuadPart);
}

BITMAPINFOHEADER* VideoMixingBase::BitmapHeader(const AM_MEDIA_TYPE& mt) {
  if (!mt.pbFormat) return nullptr;
  if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
    return &reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
  if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
    return &reinterpret_cast<VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader;
  return nullptr;
}

HRESULT VideoMixingBase::ReceiveSample(IMediaSample* pSample, int inputIndex) {
  if (inputIndex < 0 || inputIndex >= InputPinCount()) return E_INVALIDARG;
  if (!pSample) return E_POINTER;
  CAutoLock lock(&m_csReceive);
  return inputIndex == 0 ? ReceiveFirst(pSample) : ReceiveSecond(pSample);
}

HRESULT VideoMixingBase::ReceiveFirst(IMediaSample* pSample) { return ReceiveFrame(pSample, 0); }
HRESULT VideoMixingBase::ReceiveSecond(IMediaSample* pSample) { return ReceiveFrame(pSample, 1); }

HRESULT VideoMixingBase::ReceiveFrame(IMediaSample* pSample, int index) {
  if (!OutputConnected(0)) return S_FALSE;
  if (!pSample) return E_POINTER;
  BYTE* data = nullptr;
  HRESULT hr = pSample->GetPointer(&data);
  if (FAILED(hr)) return hr;
  std::vector<BYTE>& store = m_pInputFrame[index];
  if (!data || store.empty()) return E_POINTER;
  // Never read past the sample's buffer: a short sample fills the front of the store only.
  const LONG available = pSample->GetSize();
  const size_t bytes = available > 0 ? std::min(store.size(), static_cast<size_t>(available)) : 0;
  std::memcpy(store.data(), data, bytes);
  return ComposeAndDeliver(pSample, index);
}

HRESULT VideoMixingBase::DeliverDownstream(IMediaSample* pSample) {
  CMultiIOOutputPin* out = OutputPin(0);
  IMemInputPin* peer = out ? out->ConnectedIMemInputPin() : nullptr;
  if (!peer) return S_FALSE;
  return peer->Receive(pSample);
}

HRESULT VideoMixingBase::ComposeAndDeliver(IMediaSample* pSample, int index) {
  if (InputPin(index)->SampleProps()->dwStreamId != AM_STREAM_MEDIA) return DeliverDownstream(pSample);

  if (m_nFrameIntervalUs != 0) {
    const DWORD d = m_nOutputClockUs + m_nFrameIntervalUs - MicrosecondClock();
    if (d < (1u << 27)) return S_OK;  // the next output frame is not due yet
  }

  IMediaSample* out = nullptr;
  HRESULT hr = InitializeOutputSample(pSample, &out, index, 0);
  if (FAILED(hr)) {
    if (out) out->Release();
    return hr;
  }
  ComPtr<IMediaSample> outSample = ComPtr<IMediaSample>::Attach(out);
  BYTE* data = nullptr;
  hr = outSample->GetPointer(&data);
  if (FAILED(hr)) return hr;
  if (!data) return E_POINTER;
  const LONG size = outSample->GetSize();
  {
    CAutoLock draw(&m_csDraw);
    FillOutput(data, size > 0 ? size : 0);
  }
  outSample->SetActualDataLength(std::min<LONG>(m_nOutputFrameSize, size > 0 ? size : 0));
  outSample->SetSyncPoint(TRUE);
  hr = DeliverDownstream(outSample.Get());
  m_nOutputClockUs += m_nFrameIntervalUs;
  m_nComposed.fetch_add(1, std::memory_order_relaxed);
  return hr;
}

HRESULT VideoMixingBase::SetPinMediaType(PIN_DIRECTION direction, const CMediaType* pmt, int index) {
  HRESULT hr = CMultiIOBaseFilter::SetPinMediaType(direction, pmt, index);
  if (FAILED(hr)) return hr;
  if (direction != PINDIR_INPUT) return S_OK;
  if (index < 0 || index > 1) return E_INVALIDARG;
  const BITMAPINFOHEADER* bmi = BitmapHeader(*pmt);
  if (!bmi) return VFW_E_INVALID_MEDIA_TYPE;
  const int other = index == 0 ? 1 : 0;
  if (m_inputSubtype[other] != GUID_NULL && m_inputSubtype[other] != *pmt->Subtype()) return VFW_E_INVALID_MEDIA_TYPE;
  if (OutputConnected(0)) {
    const BITMAPINFOHEADER& stored = m_inputFormat[index].bmiHeader;
    if ((stored.biWidth != 0 && bmi->biWidth != stored.biWidth) ||
        (stored.biHeight != 0 && bmi->biHeight != stored.biHeight))
      return E_FAIL;
  }

  VIDEOINFOHEADER vih{};
  if (*pmt->FormatType() == FORMAT_VideoInfo) {
    std::memcpy(&vih, pmt->Format(), sizeof vih);
  } else {
    const auto* v2 = reinterpret_cast<const VIDEOINFOHEADER2*>(pmt->Format());
    vih.rcSource = v2->rcSource;
    vih.rcTarget = v2->rcTarget;
    vih.dwBitRate = v2->dwBitRate;
    vih.dwBitErrorRate = v2->dwBitErrorRate;
    vih.AvgTimePerFrame = v2->AvgTimePerFrame;
    vih.bmiHeader = v2->bmiHeader;
  }
  m_inputFormat[index] = vih;
  m_inputSubtype[index] = *pmt->Subtype();

  hr = OnInputTypeSet(pmt, index);
  if (FAILED(hr)) return hr;

  // The output size from the inputs that are connected now (this one counts as connected: the
  // framework marks it only after the connection completes).
  CMediaType types[2];
  const BITMAPINFOHEADER* headers[2] = {nullptr, nullptr};
  for (int i = 0; i < 2; ++i) {
    if (i == index) {
      headers[i] = &m_inputFormat[i].bmiHeader;
    } else if (InputConnected(i)) {
      types[i] = InputPin(i)->CurrentMediaType();
      headers[i] = BitmapHeader(types[i]);
    }
  }
  return ComputeOutputSize(headers[0], headers[1], &m_nOutputWidth, &m_nOutputHeight, &m_nOutputFrameSize);
}

HRESULT VideoMixingBase::OnInputTypeSet(const CMediaType* pmt, int index) {
  const BITMAPINFOHEADER* bmi = pmt ? BitmapHeader(*pmt) : nullptr;
  if (!bmi) return E_FAIL;
  const REFERENCE_TIME avg = *pmt->FormatType() == FORMAT_VideoInfo
                                 ? reinterpret_cast<const VIDEOINFOHEADER*>(pmt->Format())->AvgTimePerFrame
                                 : reinterpret_cast<const VIDEOINFOHEADER2*>(pmt->Format())->AvgTimePerFrame;
  if (avg > 0) m_nFrameIntervalUs = static_cast<DWORD>(avg / 10);
  if (index < 0 || index > 1) return E_INVALIDARG;

  int bits = 0;
  const GUID& sub = *pmt->Subtype();
  if (sub == MEDIASUBTYPE_RGB24)
    bits = 24;
  else if (sub == MEDIASUBTYPE_RGB32 || sub == MEDIASUBTYPE_ARGB32 || sub == MEDIASUBTYPE_AYUV)
    bits = 32;
  else
    return VFW_E_TYPE_NOT_ACCEPTED;
  // The store holds bitmap rows of the subtype's depth; sizes that do not fit a sample are refused.
  // Row size and height are each checked before their product, which then fits 64 bits.
  const long long stride = RowBytes(bmi->biWidth, bits);
  const long long height = std::llabs(static_cast<long long>(bmi->biHeight));
  if (bmi->biWidth <= 0 || height == 0 || stride > INT_MAX || stride * height > INT_MAX) {
    SetLastErrorText("the input picture size is not usable (width above 0, height not 0, at most 2 GiB a frame)", true);
    return VFW_E_TYPE_NOT_ACCEPTED;
  }
  CAutoLock draw(&m_csDraw);
  m_nInputStride[index] = static_cast<int>(stride);
  m_nStoreWidth[index] = bmi->biWidth;
  m_nStoreHeight[index] = static_cast<int>(height);
  m_nInputFrameSize[index] = static_cast<int>(stride * height);
  m_pInputFrame[index].assign(static_cast<size_t>(stride * height), 0);
  PrepareWorker(bits);
  return S_OK;
}

void VideoMixingBase::InputDisconnected(int index) {
  CMultiIOBaseFilter::InputDisconnected(index);
  if (index == 0 || index == 1) {
    m_inputFormat[index] = VIDEOINFOHEADER{};
    m_inputSubtype[index] = GUID_NULL;
  }
}

HRESULT VideoMixingBase::GetOutputMediaType(int position, CMediaType* pmt, int outputIndex) {
  if (position < 0 || outputIndex != 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  if (!pmt) return E_POINTER;
  int source = -1;
  bool both = false;
  if (InputConnected(0)) {
    source = 0;
    both = InputConnected(1);
  } else if (InputConnected(1)) {
    source = 1;
  } else {
    return E_FAIL;
  }
  AM_MEDIA_TYPE mt{};
  HRESULT hr = InputPin(source)->ConnectionMediaType(&mt);
  if (FAILED(hr)) return hr;
  hr = pmt->Set(mt);
  FreeMediaType(mt);
  if (FAILED(hr)) return hr;
  if (!both) return S_OK;

  {
    CAutoLock draw(&m_csDraw);
    ComputeOutputSize(&m_inputFormat[0].bmiHeader, &m_inputFormat[1].bmiHeader, &m_nOutputWidth, &m_nOutputHeight,
                      &m_nOutputFrameSize);
  }
  BITMAPINFOHEADER* bmi = BitmapHeader(*pmt);
  if (!bmi) return VFW_S_NO_MORE_ITEMS;
  auto patch = [&](auto* block) {
    block->AvgTimePerFrame = static_cast<REFERENCE_TIME>(m_nFrameIntervalUs) * 10;
    if (m_nFrameIntervalUs != 0)
      block->dwBitRate = static_cast<DWORD>(static_cast<unsigned long long>(static_cast<unsigned>(m_nOutputFrameSize)) *
                                            8000000ull / m_nFrameIntervalUs);
    block->rcSource = RECT{0, 0, m_nOutputWidth, m_nOutputHeight};
    block->rcTarget = RECT{0, 0, m_nOutputWidth, m_nOutputHeight};
  };
  if (*pmt->FormatType() == FORMAT_VideoInfo)
    patch(reinterpret_cast<VIDEOINFOHEADER*>(pmt->Format()));
  else
    patch(reinterpret_cast<VIDEOINFOHEADER2*>(pmt->Format()));
  bmi->biWidth = m_nOutputWidth;
  bmi->biHeight = m_nOutputHeight;
  bmi->biSizeImage = static_cast<DWORD>(m_nOutputFrameSize);
  bmi->biCompression = 0;
  pmt->SetSampleSize(static_cast<ULONG>(m_nOutputFrameSize));
  return S_OK;
}

HRESULT VideoMixingBase::DecideOutputBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp, int outputIndex) {
  if (!pAlloc || !pProp) return E_POINTER;
  CMultiIOOutputPin* out = OutputPin(outputIndex);
  if (!out) return E_INVALIDARG;
  AM_MEDIA_TYPE mt{};
  HRESULT hr = out->ConnectionMediaType(&mt);
  if (FAILED(hr)) return hr;
  long long size = -1;
  if (const BITMAPINFOHEADER* bmi = BitmapHeader(mt))
    size = RowBytes(bmi->biWidth, bmi->biBitCount) * std::llabs(static_cast<long long>(bmi->biHeight));
  FreeMediaType(mt);
  if (size <= 0 || size > INT_MAX) return E_FAIL;
  pProp->cbBuffer = static_cast<LONG>(size);
  if (pProp->cbAlign == 0) pProp->cbAlign = 1;
  if (pProp->cBuffers == 0) pProp->cBuffers = 1;
  ALLOCATOR_PROPERTIES actual{};
  hr = pAlloc->SetProperties(pProp, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < pProp->cbBuffer ? E_FAIL : S_OK;
}

HRESULT VideoMixingBase::OutputSubtypeVerdict(const GUID& sub) const {
  auto either = [this](const GUID& g) { return m_inputSubtype[0] == g || m_inputSubtype[1] == g; };
  if (m_nBitCount == 24) return sub == MEDIASUBTYPE_RGB24 ? S_OK : S_FALSE;
  if (m_nBitCount == 32) {
    if (sub == MEDIASUBTYPE_AYUV && either(MEDIASUBTYPE_AYUV)) return S_OK;
    if ((sub == MEDIASUBTYPE_RGB32 || sub == MEDIASUBTYPE_ARGB32) &&
        (either(MEDIASUBTYPE_RGB32) || either(MEDIASUBTYPE_ARGB32)))
      return S_OK;
  }
  return S_FALSE;
}

HRESULT VideoMixingBase::InputEndOfStream(int) {
  if (++m_nEndOfStreamCount == m_nMergedInputs) OutputPin(0)->DeliverEndOfStream();
  return S_OK;
}

HRESULT VideoMixingBase::InputBeginFlush(int) {
  if (++m_nBeginFlushCount == m_nMergedInputs) OutputPin(0)->DeliverBeginFlush();
  return S_OK;
}

HRESULT VideoMixingBase::InputEndFlush(int) {
  if (++m_nEndFlushCount == m_nMergedInputs) OutputPin(0)->DeliverEndFlush();
  return S_OK;
}

HRESULT VideoMixingBase::StartStreaming() {
  // End of stream and flushes go downstream once every connected input has sent them: with one
  // input connected, waiting for a second that never comes would leave the graph running forever.
  m_nMergedInputs = InputConnected(0) && InputConnected(1) ? 2 : 1;
  m_nEndOfStreamCount = 0;
  m_nBeginFlushCount = 0;
  m_nEndFlushCount = 0;
  return S_OK;
}

HRESULT VideoMixingBase::StopStreaming() { return S_OK; }

STDMETHODIMP VideoMixingBase::Pause() {
  CAutoLock lock(&m_csFilter);
  if (m_State == State_Paused) return S_OK;
  if (!InputConnected(0) && !InputConnected(1)) {
    OutputPin(0)->DeliverEndOfStream();
    m_State = State_Paused;
    return S_OK;
  }
  if (m_State == State_Stopped) {
    CAutoLock receive(&m_csReceive);
    HRESULT hr = StartStreaming();
    if (FAILED(hr)) return hr;
    // Sources deliver while paused, before Run sets the output clock: measured from a stale clock
    // (0 after construction) the gate held every frame for about two minutes of each 71-minute turn
    // of the microsecond counter. The first frame of a run is due at once.
    m_nOutputClockUs = MicrosecondClock() - m_nFrameIntervalUs - 1;
  }
  HRESULT hr = CBaseFilter::Pause();
  if (FAILED(hr)) return hr;
  return OutputConnected(0) ? S_OK : S_FALSE;
}

STDMETHODIMP VideoMixingBase::Stop() {
  CAutoLock lock(&m_csFilter);
  if (m_State == State_Stopped) return S_OK;
  if ((InputConnected(0) || InputConnected(1)) && OutputConnected(0)) {
    for (int i = 0; i < 2; ++i)
      if (InputConnected(i)) InputPin(i)->Inactive();
    CAutoLock receive(&m_csReceive);
    OutputPin(0)->Inactive();
    if (SUCCEEDED(StopStreaming())) m_State = State_Stopped;
  } else {
    m_State = State_Stopped;
  }
  return S_OK;
}

STDMETHODIMP VideoMixingBase::Run(REFERENCE_TIME tStart) {
  CAutoLock lock(&m_csFilter);
  m_nOutputClockUs = MicrosecondClock();
  return CBaseFilter::Run(tStart);
}

#include "sources/avcfile/avcfilesource.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "corvex/codecv2.h"
#include "framework/filesource.h"
#include "framework/pages.h"
#include "h264/common/avcformat.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"

namespace {

constexpr int kDefaultWidth = 352;
constexpr int kDefaultHeight = 288;
constexpr DWORD kSeekingCapabilities = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetDuration;  // 0x21
// The standard type's nominal frame duration (25 frames a second).
constexpr REFERENCE_TIME kH264AvgTimePerFrame = 400000;
// Above this many frames a second the frame duration would be below one 100-ns unit.
constexpr unsigned int kMaxFps = 10000000;

// Sets the last-error text without letting an allocation failure leave a COM call.
void Report(CStatusInterface* status, const std::string& text) { status->SetLastErrorText(text.c_str(), true); }

}  // namespace

// =============================================================================================
// H264OutputPin

H264OutputPin::H264OutputPin(HRESULT* phr, AvcFileSourceFilter* pFilter, LPCWSTR pName)
    : CSourceStream(L"H264OutputPin", phr, pFilter, pName), m_pSource(pFilter) {}

HRESULT H264OutputPin::FillBuffer(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  CAutoLock lock(&m_csStream);
  AvcFileSourceFilter* f = m_pSource;
  NalUnitReader& reader = f->m_reader;
  if (!reader.IsOpen()) return S_FALSE;
  if (!reader.ReadNextUnit()) return f->ReportReaderStop();

  const uint32_t length = reader.UnitLength();
  const LONG bufferSize = pSample->GetSize();
  if (bufferSize < 0 || length > static_cast<uint32_t>(bufferSize)) {
    try {
      Report(f, "NAL unit of " + std::to_string(length) + " bytes at offset " + std::to_string(reader.UnitOffset()) +
                    " in " + f->m_sFileName + " does not fit the sample buffer of " + std::to_string(bufferSize) +
                    " bytes: reconnect the output pin after loading the file");
    } catch (const std::bad_alloc&) {
    }
    return VFW_E_BUFFER_OVERFLOW;
  }
  BYTE* data = nullptr;
  HRESULT hr = pSample->GetPointer(&data);
  if (FAILED(hr)) return hr;
  std::memcpy(data, reader.Unit(), length);
  pSample->SetActualDataLength(static_cast<LONG>(length));
  pSample->SetTime(nullptr, nullptr);
  pSample->SetSyncPoint(reader.UnitType() == NalUnitReader::kIdrSlice ? TRUE : FALSE);
  return S_OK;
}

HRESULT H264OutputPin::GetMediaType(CMediaType* pMediaType) {
  if (!pMediaType) return E_POINTER;
  CAutoLock lock(m_pFilter->pStateLock());
  AvcFileSourceFilter* f = m_pSource;
  pMediaType->InitMediaType();
  pMediaType->SetType(&MEDIATYPE_Video);
  pMediaType->SetTemporalCompression(FALSE);

  if (f->m_bUseQueltDecoder) {
    std::vector<uint8_t> format;
    try {
      format.assign(sizeof(VIDEOINFOHEADER), 0);
      h264::AppendTrailer(format, f->m_reader.SeqParamSet(), f->m_reader.PicParamSet());
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(format.data());
    const DWORD sizeImage = static_cast<DWORD>(f->m_nWidth) * static_cast<DWORD>(f->m_nHeight) * 3;
    pMediaType->SetSubtype(&MEDIASUBTYPE_PLENOR_H264);
    pMediaType->SetFormatType(&FORMAT_VideoInfo);
    pMediaType->SetSampleSize(sizeImage);
    vih->AvgTimePerFrame = m_rtFrameDuration;
    vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih->bmiHeader.biWidth = f->m_nWidth;
    vih->bmiHeader.biHeight = f->m_nHeight;
    vih->bmiHeader.biPlanes = 1;
    vih->bmiHeader.biBitCount = 12;
    vih->bmiHeader.biCompression = h264::kAvc1FourCC;
    vih->bmiHeader.biSizeImage = sizeImage;
    BYTE* block = pMediaType->AllocFormatBuffer(static_cast<ULONG>(format.size()));
    if (!block) return E_OUTOFMEMORY;
    std::memcpy(block, format.data(), format.size());
    return S_OK;
  }

  auto* vih2 = reinterpret_cast<VIDEOINFOHEADER2*>(pMediaType->AllocFormatBuffer(sizeof(VIDEOINFOHEADER2)));
  if (!vih2) return E_OUTOFMEMORY;
  std::memset(vih2, 0, sizeof(VIDEOINFOHEADER2));
  const LONG width = f->m_nWidth ? f->m_nWidth : kDefaultWidth;
  const LONG height = f->m_nHeight ? f->m_nHeight : kDefaultHeight;
  pMediaType->SetSubtype(&MEDIASUBTYPE_H264);
  pMediaType->SetFormatType(&FORMAT_VideoInfo2);
  vih2->rcSource = RECT{0, 0, width, height};
  vih2->rcTarget = vih2->rcSource;
  vih2->dwPictAspectRatioX = static_cast<DWORD>(width);
  vih2->dwPictAspectRatioY = static_cast<DWORD>(height);
  vih2->AvgTimePerFrame = kH264AvgTimePerFrame;
  vih2->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih2->bmiHeader.biWidth = width;
  vih2->bmiHeader.biHeight = height;
  vih2->bmiHeader.biPlanes = 1;
  vih2->bmiHeader.biBitCount = 24;
  vih2->bmiHeader.biCompression = MAKEFOURCC('a', 'v', 'c', '1');
  vih2->bmiHeader.biSizeImage = static_cast<DWORD>(((24 * width + 31) / 32) * 4 * height);
  return S_OK;
}

HRESULT H264OutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
  if (!pAlloc || !pRequest) return E_POINTER;
  CAutoLock lock(m_pFilter->pStateLock());
  if (pRequest->cBuffers == 0) pRequest->cBuffers = 1;
  pRequest->cbBuffer = m_pSource->SampleBufferSize();
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < pRequest->cbBuffer ? E_FAIL : S_OK;
}

// =============================================================================================
// AvcFileSourceFilter

CUnknown* AvcFileSourceFilter::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  try {
    // With a failure in *phr the class factory destroys the object.
    return new AvcFileSourceFilter(pUnk, phr);
  } catch (const std::bad_alloc&) {
    if (phr) *phr = E_OUTOFMEMORY;
    return nullptr;
  }
}

AvcFileSourceFilter::AvcFileSourceFilter(LPUNKNOWN pUnk, HRESULT* phr)
    : CSource(L"Ravik Plenor H264 Source", pUnk, CLSID_AvcFileSource, phr),
      CLockedSettings(GetOwner(), &m_cStateLock),
      CStatusInterface(GetOwner()) {
  InitParameters();
  m_pPin = new (std::nothrow) H264OutputPin(phr, this, L"Out");
  CorvexFactory factory;
  m_pCodec = factory.GetCodecInstance();
  if (!m_pCodec) SetLastErrorText("Unable to create H264 Encoder from Factory.", true);
  if ((!m_pPin || !m_pCodec) && phr) *phr = E_OUTOFMEMORY;
}

AvcFileSourceFilter::~AvcFileSourceFilter() {
  m_reader.Close();
  // The pin's destructor ends its worker thread and takes it out of the pin array.
  delete m_pPin;
  if (m_pCodec) {
    m_pCodec->Close();
    CorvexFactory factory;
    factory.ReleaseCodecInstance(m_pCodec);
  }
}

STDMETHODIMP AvcFileSourceFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_ISettingsInterface) return GetInterface(static_cast<ISettingsInterface*>(this), ppv);
  if (riid == IID_IStatusInterface) return GetInterface(static_cast<IStatusInterface*>(this), ppv);
  if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  return CSource::NonDelegatingQueryInterface(riid, ppv);
}

void AvcFileSourceFilter::InitParameters() {
  AddParameter("fps", &m_nFps, 30u);
  AddParameter("usequelth264", &m_bUseQueltDecoder, false);
  AddParameter("sourcedimensions", &m_sSourceDimensions, std::string(), true);
}

LONG AvcFileSourceFilter::SampleBufferSize() const {
  const LONGLONG width = m_nWidth ? m_nWidth : kDefaultWidth;
  const LONGLONG height = m_nHeight ? m_nHeight : kDefaultHeight;
  LONGLONG size = std::max<LONGLONG>(width * height * 3, m_reader.LargestUnit());
  return static_cast<LONG>(std::min<LONGLONG>(size, LONG_MAX));
}

bool AvcFileSourceFilter::LearnPictureSize() {
  if (!m_pCodec) return false;
  // A codec that learnt another file's sets starts afresh and takes the size from the new SPS.
  m_pCodec->Close();
  m_pCodec->SetParameter("width", "0");
  m_pCodec->SetParameter("height", "0");

  const std::vector<BYTE>& sps = m_reader.SeqParamSet();
  const std::vector<BYTE>& pps = m_reader.PicParamSet();
  BYTE scratch[256];
  // Parameter sets are short; a unit too long for a bit count in an int is not one to decode.
  const bool fits = sps.size() <= INT_MAX / 8 && pps.size() <= INT_MAX / 8;
  if (!fits || !m_pCodec->Decode(sps.data(), static_cast<int>(sps.size() * 8), scratch) ||
      !m_pCodec->Decode(pps.data(), static_cast<int>(pps.size() * 8), scratch)) {
    const char* error = fits ? m_pCodec->GetErrorText() : "parameter set too long";
    Report(this, std::string("H264 decode error has occurred: ") + (error ? error : ""));
    return false;
  }
  m_pCodec->SetParameter("generate param set on open", "0");
  if (!m_pCodec->Open()) {
    const char* error = m_pCodec->GetErrorText();
    std::printf("%s\n", error ? error : "");
    std::fflush(stdout);
    Report(this, error ? error : "");
    return false;
  }
  char value[CORVEX_MAX_VALUE] = "";
  int length = 0;
  auto read = [&](const char* name) {
    value[0] = 0;
    if (!m_pCodec->GetParameter(name, &length, value)) return 0L;
    value[sizeof value - 1] = 0;
    const long v = std::strtol(value, nullptr, 10);
    return v > 0 && v <= 65536 ? v : 0L;
  };
  m_nWidth = static_cast<int>(read("width"));
  m_nHeight = static_cast<int>(read("height"));
  m_sSourceDimensions = std::to_string(m_nWidth) + "x" + std::to_string(m_nHeight);
  return true;
}

STDMETHODIMP AvcFileSourceFilter::Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* /*pmt*/) {
  if (!pszFileName) return E_POINTER;
  try {
    CAutoLock state(&m_cStateLock);
    CAutoLock stream(m_pPin->StreamLock());
    const std::string name = WideToUtf8(pszFileName);
    // The file loaded before is closed whether or not the new one opens.
    m_reader.Close();
    m_sFileName = name;
    m_bHasFileName = true;
    m_nWidth = m_nHeight = 0;
    m_sSourceDimensions.clear();
    m_pPin->m_nFrameIndex = 0;

    ComPtr<IStream> file;
    if (FAILED(CreateStreamOnFile(name.c_str(), "r", &file))) {
      Report(this, "Failed to open file: " + name);
      return E_FAIL;
    }
    if (m_nFps > 0 && m_nFps <= kMaxFps) m_pPin->m_rtFrameDuration = 10000000 / static_cast<REFERENCE_TIME>(m_nFps);

    m_reader.Open(std::move(file));
    if (!m_reader.BuildIndex()) {
      const bool outOfMemory = m_reader.LastStop() == NalUnitReader::StopReason::OutOfMemory;
      m_reader.Close();
      return outOfMemory ? E_OUTOFMEMORY : E_FAIL;
    }
    if (!LearnPictureSize() && m_bUseQueltDecoder) {
      Report(this, "Failed to parse parameter required for Quelt codec sets in: " + name);
      m_reader.Close();
      return E_FAIL;
    }
    m_pPin->m_nFrameIndex = 0;
    m_reader.Rewind();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP AvcFileSourceFilter::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* /*pmt*/) {
  CAutoLock state(&m_cStateLock);
  return GetKeptFileName(m_sFileName, m_bHasFileName, ppszFileName);
}

STDMETHODIMP AvcFileSourceFilter::GetPages(CAUUID* pPages) { return GetSinglePropertyPage(pPages, CLSID_H264Properties); }

HRESULT AvcFileSourceFilter::ReportReaderStop() {
  using Reason = NalUnitReader::StopReason;
  try {
    const std::string at = " at offset " + std::to_string(m_reader.LastStopOffset()) + " in " + m_sFileName;
    switch (m_reader.LastStop()) {
      case Reason::UnitTooLarge:
        Report(this, "No end of the NAL unit" + at + " within " + std::to_string(m_reader.MaxCapacity() >> 20) +
                         " MiB: the file is damaged or not an H.264 byte stream");
        return VFW_E_INVALID_FILE_FORMAT;
      case Reason::ReadError:
        Report(this, "Failed to read file" + at);
        return STG_E_READFAULT;
      case Reason::OutOfMemory:
        Report(this, "Out of memory reading the NAL unit" + at);
        return E_OUTOFMEMORY;
      default:
        return S_FALSE;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// ---- Settings ----

STDMETHODIMP AvcFileSourceFilter::SetParameter(const char* name, const char* value) {
  if (!name || !value) return E_POINTER;
  CAutoLock state(&m_cStateLock);
  HRESULT hr = CSettingsInterface::SetParameter(name, value);
  if (SUCCEEDED(hr) && std::strcmp(name, "fps") == 0 && (m_nFps == 0 || m_nFps > kMaxFps)) {
    // No frame duration exists for these rates.
    RevertParameter(name);
    return E_FAIL;
  }
  return hr;
}

// ---- Stop ----

STDMETHODIMP AvcFileSourceFilter::Stop() {
  CAutoLock state(&m_cStateLock);
  // The worker thread is gone once the base has stopped, so no unit is read after the rewind.
  HRESULT hr = CSource::Stop();
  CAutoLock stream(m_pPin->StreamLock());
  m_pPin->m_nFrameIndex = 0;
  if (m_reader.IsOpen()) m_reader.Rewind();
  return hr;
}

// ---- IMediaSeeking ----

STDMETHODIMP AvcFileSourceFilter::GetCapabilities(DWORD* pCapabilities) {
  if (!pCapabilities) return E_POINTER;
  *pCapabilities = kSeekingCapabilities;
  return S_OK;
}

STDMETHODIMP AvcFileSourceFilter::CheckCapabilities(DWORD* pCapabilities) {
  if (!pCapabilities) return E_POINTER;
  const DWORD asked = *pCapabilities;
  *pCapabilities = asked & kSeekingCapabilities;
  if (*pCapabilities == asked) return S_OK;
  return *pCapabilities ? S_FALSE : E_FAIL;
}

STDMETHODIMP AvcFileSourceFilter::IsFormatSupported(const GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

STDMETHODIMP AvcFileSourceFilter::QueryPreferredFormat(GUID* pFormat) {
  if (!pFormat) return E_POINTER;
  *pFormat = TIME_FORMAT_MEDIA_TIME;
  return S_OK;
}

STDMETHODIMP AvcFileSourceFilter::GetTimeFormat(GUID* pFormat) { return QueryPreferredFormat(pFormat); }

STDMETHODIMP AvcFileSourceFilter::IsUsingTimeFormat(const GUID* pFormat) { return IsFormatSupported(pFormat); }

STDMETHODIMP AvcFileSourceFilter::SetTimeFormat(const GUID*) { return E_NOTIMPL; }

STDMETHODIMP AvcFileSourceFilter::GetDuration(LONGLONG* pDuration) {
  if (!pDuration) return E_POINTER;
  CAutoLock state(&m_cStateLock);
  *pDuration = static_cast<LONGLONG>(m_reader.UnitOffsets().size()) * m_pPin->m_rtFrameDuration;
  return S_OK;
}

STDMETHODIMP AvcFileSourceFilter::GetStopPosition(LONGLONG* pStop) { return GetDuration(pStop); }

STDMETHODIMP AvcFileSourceFilter::GetCurrentPosition(LONGLONG* pCurrent) {
  if (!pCurrent) return E_POINTER;
  CAutoLock state(&m_cStateLock);
  *pCurrent = m_pPin->m_nFrameIndex * m_pPin->m_rtFrameDuration;
  return S_OK;
}

STDMETHODIMP AvcFileSourceFilter::ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) {
  return E_NOTIMPL;
}

STDMETHODIMP AvcFileSourceFilter::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* /*pStop*/,
                                               DWORD /*dwStopFlags*/) {
  if (!pCurrent) return E_POINTER;
  if ((dwCurrentFlags & AM_SEEKING_PositioningBitsMask) != AM_SEEKING_AbsolutePositioning) return E_INVALIDARG;
  CAutoLock state(&m_cStateLock);
  CAutoLock stream(m_pPin->StreamLock());
  const REFERENCE_TIME duration = m_pPin->m_rtFrameDuration;
  if (*pCurrent < 0 || duration <= 0) return E_INVALIDARG;
  const LONGLONG index = *pCurrent / duration;
  if (static_cast<ULONGLONG>(index) >= m_reader.UnitOffsets().size()) return E_INVALIDARG;
  m_reader.SeekToUnit(static_cast<size_t>(index));
  m_pPin->m_nFrameIndex = index;
  return S_OK;
}

STDMETHODIMP AvcFileSourceFilter::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
  if (!pCurrent || !pStop) return E_POINTER;
  GetCurrentPosition(pCurrent);
  return GetStopPosition(pStop);
}

STDMETHODIMP AvcFileSourceFilter::GetAvailable(LONGLONG*, LONGLONG*) { return E_NOTIMPL; }
STDMETHODIMP AvcFileSourceFilter::SetRate(double) { return E_NOTIMPL; }
STDMETHODIMP AvcFileSourceFilter::GetRate(double*) { return E_NOTIMPL; }
STDMETHODIMP AvcFileSourceFilter::GetPreroll(LONGLONG*) { return E_NOTIMPL; }

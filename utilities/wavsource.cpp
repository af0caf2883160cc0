#include "utilities/wavsource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <sys/stat.h>

#include "platform/com/runtime.h"
#include "platform/com/wide.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"
#include "framework/pages.h"
#include "utilities/common.h"
#include "utilities/utilities.h"

namespace plenor::utilities {

namespace {

class FileReader final : public wav::Reader {
 public:
  FileReader(std::FILE* f, uint64_t size) : m_file(f), m_size(size) {}
  uint64_t Size() const override { return m_size; }
  bool Read(uint64_t offset, void* dst, size_t n) const override {
    if (offset > m_size || n > m_size - offset) return false;
    if (fseeko(m_file, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    return std::fread(dst, 1, n, m_file) == n;
  }

 private:
  std::FILE* m_file;
  uint64_t m_size;
};

REFERENCE_TIME SampleTime(uint64_t frame, uint32_t rate) {
  namespace w = plenor::wide;
  return static_cast<REFERENCE_TIME>(plenor::NarrowOr(w::Div(w::Mul(frame, 10000000u), {0, rate}), INT64_MAX));
}

}  // namespace

CUnknown* CWavSource::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* filter = new (std::nothrow) CWavSource(pUnk, phr);
  if (!filter) {
    if (phr) *phr = E_OUTOFMEMORY;
    return nullptr;
  }
  if (!filter->m_pPin && phr && SUCCEEDED(*phr)) *phr = E_OUTOFMEMORY;
  return filter;
}

CWavSource::CWavSource(LPUNKNOWN pUnk, HRESULT* phr)
    : CSource(L"WAV source", pUnk, CLSID_WavSource, phr), CUtilitySettings(GetOwner()), CStatusInterface(GetOwner()) {
  InitParameters();
  HRESULT hr = S_OK;
  m_pPin = new (std::nothrow) CWavSourcePin(&hr, this);
  if (m_pPin && FAILED(hr)) {
    delete m_pPin;
    m_pPin = nullptr;
    if (phr) *phr = hr;
  }
}

CWavSource::~CWavSource() { delete m_pPin; }

STDMETHODIMP CWavSource::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  HRESULT hr = QueryCommonInterfaces(riid, ppv, this, this, this);
  if (hr != S_FALSE) return hr;
  if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
  return CSource::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CWavSource::GetPages(CAUUID* pPages) { return GetSinglePropertyPage(pPages, CLSID_WavSourceProperties); }

void CWavSource::InitParameters() { AddParameter("filename", &m_sFileName, ""); }

STDMETHODIMP CWavSource::SetParameter(const char* name, const char* value) {
  std::string path;
  {
    CAutoLock lock(&m_csParams);
    HRESULT hr = CUtilitySettings::SetParameter(name, value);
    if (FAILED(hr) || std::strcmp(name, "filename") != 0) return hr;
    path = m_sFileName;
  }
  // Loading takes the filter lock, never while the parameter lock is held.
  HRESULT hr = LoadFile(path);
  if (FAILED(hr)) RevertParameter(name);
  return hr;
}

STDMETHODIMP CWavSource::Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* /*pmt*/) {
  if (!pszFileName) return E_POINTER;
  try {
    std::string path = NarrowFileName(pszFileName);
    HRESULT hr = LoadFile(path);
    if (SUCCEEDED(hr)) {
      CAutoLock lock(&m_csParams);
      m_sFileName = path;
    }
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CWavSource::LoadFile(const std::string& path) {
  CAutoLock lock(&m_cStateLock);
  if (!IsStopped()) return VFW_E_WRONG_STATE;
  auto fail = [&](HRESULT hr, const std::string& what) {
    m_sLoaded.clear();
    m_layout = wav::Layout{};
    SetLastErrorText(("WAV source: '" + path + "': " + what).c_str(), true);
    return hr;
  };
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    int e = errno;
    return fail(e == ENOENT ? HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) : HresultFromErrno(e), std::strerror(e));
  }
  struct stat st {};
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode)) {
    std::fclose(f);
    return fail(VFW_E_INVALID_FILE_FORMAT, "not a regular file");
  }
  FileReader reader(f, static_cast<uint64_t>(st.st_size));
  wav::Layout layout;
  std::string message;
  wav::Status status = wav::Parse(reader, &layout, &message);
  std::fclose(f);
  switch (status) {
    case wav::Status::Ok: break;
    case wav::Status::Truncated: return fail(VFW_E_FILE_TOO_SHORT, "truncated file: " + message);
    case wav::Status::NotPcm: return fail(VFW_E_UNSUPPORTED_AUDIO, "unsupported audio: " + message);
    case wav::Status::ReadError: return fail(STG_E_READFAULT, "read error: " + message);
    case wav::Status::NotRiff:
    case wav::Status::Malformed: return fail(VFW_E_INVALID_FILE_FORMAT, "malformed file: " + message);
  }
  m_layout = layout;
  m_sLoaded = path;
  // A new file may have a new format: the pin offers it from now on.
  if (m_pPin) m_pPin->ResetPositions();
  return S_OK;
}

STDMETHODIMP CWavSource::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) {
  if (!ppszFileName) return E_POINTER;
  *ppszFileName = nullptr;
  CAutoLock lock(&m_cStateLock);
  if (m_sLoaded.empty()) return E_FAIL;
  *ppszFileName = TaskMemWideString(m_sLoaded);
  if (!*ppszFileName) return E_OUTOFMEMORY;
  if (pmt) {
    CMediaType mt;
    if (m_pPin && SUCCEEDED(m_pPin->GetMediaType(&mt))) {
      if (FAILED(CopyMediaType(pmt, &mt))) return E_OUTOFMEMORY;
    } else {
      std::memset(pmt, 0, sizeof *pmt);
    }
  }
  return S_OK;
}

STDMETHODIMP CWavSource::Stop() {
  HRESULT hr = CSource::Stop();
  if (m_pPin) m_pPin->Rewind();
  return hr;
}

CWavSourcePin::CWavSourcePin(HRESULT* phr, CWavSource* pFilter)
    : CSourceStream(L"WAV output", phr, pFilter, L"Out") {}

CWavSourcePin::~CWavSourcePin() {
  if (m_file) std::fclose(m_file);
}

STDMETHODIMP CWavSourcePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

uint64_t CWavSourcePin::TotalFrames() const {
  const wav::Layout& layout = Source()->m_layout;
  return layout.format.blockAlign ? layout.dataSize / layout.format.blockAlign : 0;
}

uint64_t CWavSourcePin::EndFrame() const {
  const uint64_t total = TotalFrames();
  return m_nStopFrame ? std::min(total, m_nStopFrame) : total;
}

STDMETHODIMP CWavSourcePin::GetDuration(LONGLONG* pDuration) {
  if (!pDuration) return E_POINTER;
  CAutoLock lock(m_pFilter->pStateLock());
  if (Source()->m_sLoaded.empty()) return E_UNEXPECTED;
  *pDuration = SampleTime(TotalFrames(), Source()->m_layout.format.sampleRate);
  return S_OK;
}

STDMETHODIMP CWavSourcePin::GetStopPosition(LONGLONG* pStop) {
  if (!pStop) return E_POINTER;
  CAutoLock lock(m_pFilter->pStateLock());
  if (Source()->m_sLoaded.empty()) return E_UNEXPECTED;
  CAutoLock shared(&m_cSharedState);
  *pStop = SampleTime(EndFrame(), Source()->m_layout.format.sampleRate);
  return S_OK;
}

STDMETHODIMP CWavSourcePin::GetCurrentPosition(LONGLONG* pCurrent) {
  if (!pCurrent) return E_POINTER;
  CAutoLock lock(m_pFilter->pStateLock());
  if (Source()->m_sLoaded.empty()) return E_UNEXPECTED;
  CAutoLock shared(&m_cSharedState);
  *pCurrent = SampleTime(m_nFrame, Source()->m_layout.format.sampleRate);
  return S_OK;
}

STDMETHODIMP CWavSourcePin::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                         DWORD dwStopFlags) {
  HRESULT hr = CheckPositionArguments(pCurrent, dwCurrentFlags, pStop, dwStopFlags);
  if (FAILED(hr)) return hr;
  CAutoLock lock(m_pFilter->pStateLock());
  if (Source()->m_sLoaded.empty()) return E_UNEXPECTED;
  // Positions change only while nothing streams; a running source would need a flush.
  if (!m_pFilter->IsStopped()) return VFW_E_NOT_STOPPED;
  const uint32_t rate = Source()->m_layout.format.sampleRate;
  const uint64_t total = TotalFrames();
  // The frame at time t, rounded down (up for a stop, so that its last sample plays).
  auto frameAt = [&](REFERENCE_TIME t, bool up) -> uint64_t {
    if (t <= 0) return 0;
    namespace w = plenor::wide;
    const plenor::UWide scaled = w::AddSat(w::Mul(static_cast<uint64_t>(t), rate), up ? 9999999u : 0u);
    return plenor::NarrowOr(w::Div(scaled, {0, 10000000u}), total);
  };
  CAutoLock shared(&m_cSharedState);
  const DWORD how = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
  if (how == AM_SEEKING_AbsolutePositioning)
    m_nStartFrame = frameAt(*pCurrent, false);
  else if (how != AM_SEEKING_NoPositioning)
    m_nStartFrame = frameAt(SampleTime(m_nStartFrame, rate) + *pCurrent, false);
  const DWORD stopHow = dwStopFlags & AM_SEEKING_PositioningBitsMask;
  if (stopHow == AM_SEEKING_AbsolutePositioning)
    m_nStopFrame = std::max<uint64_t>(1, frameAt(*pStop, true));
  else if (stopHow != AM_SEEKING_NoPositioning)
    m_nStopFrame = std::max<uint64_t>(1, frameAt(SampleTime(m_nStartFrame, rate) + *pStop, true));
  m_nFrame = m_nStartFrame;
  return S_OK;
}

uint32_t CWavSourcePin::FramesPerBuffer() const {
  return std::max<uint32_t>(1, Source()->m_layout.format.sampleRate / 10);
}

HRESULT CWavSourcePin::GetMediaType(CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  CAutoLock lock(m_pFilter->pStateLock());
  if (Source()->m_sLoaded.empty()) return E_UNEXPECTED;
  const wav::Format& f = Source()->m_layout.format;
  WAVEFORMATEX wfx{};
  wfx.wFormatTag = WAVE_FORMAT_PCM;
  wfx.nChannels = f.channels;
  wfx.nSamplesPerSec = f.sampleRate;
  wfx.wBitsPerSample = f.bitsPerSample;
  wfx.nBlockAlign = f.blockAlign;
  wfx.nAvgBytesPerSec = f.sampleRate * f.blockAlign;
  pmt->InitMediaType();
  HRESULT hr = CreateAudioMediaType(&wfx, pmt, TRUE);
  if (FAILED(hr)) return hr;
  pmt->SetSampleSize(f.blockAlign);
  return S_OK;
}

HRESULT CWavSourcePin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
  if (!pAlloc || !pRequest) return E_POINTER;
  CAutoLock lock(m_pFilter->pStateLock());
  if (Source()->m_sLoaded.empty()) return E_UNEXPECTED;
  if (pRequest->cBuffers < 2) pRequest->cBuffers = 2;
  pRequest->cbBuffer = static_cast<LONG>(FramesPerBuffer() * Source()->m_layout.format.blockAlign);
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < pRequest->cbBuffer ? E_FAIL : S_OK;
}

// Worker thread.
HRESULT CWavSourcePin::OnThreadCreate() {
  CAutoLock lock(&m_cSharedState);
  if (m_file) std::fclose(m_file);
  m_file = std::fopen(Source()->m_sLoaded.c_str(), "rb");
  if (!m_file) {
    Source()->SetLastErrorText(
        ("WAV source: '" + Source()->m_sLoaded + "': " + std::strerror(errno)).c_str(), true);
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  return S_OK;
}

HRESULT CWavSourcePin::OnThreadDestroy() {
  CAutoLock lock(&m_cSharedState);
  if (m_file) std::fclose(m_file);
  m_file = nullptr;
  return S_OK;
}

// Worker thread.
HRESULT CWavSourcePin::FillBuffer(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  CAutoLock lock(&m_cSharedState);
  if (!m_file) return E_UNEXPECTED;
  const wav::Layout& layout = Source()->m_layout;
  const uint64_t totalFrames = EndFrame();
  if (m_nFrame >= totalFrames) return S_FALSE;
  BYTE* p = nullptr;
  HRESULT hr = pSample->GetPointer(&p);
  if (FAILED(hr)) return hr;
  const uint64_t room = static_cast<uint64_t>(std::max<LONG>(0, pSample->GetSize())) / layout.format.blockAlign;
  const uint64_t frames = std::min({static_cast<uint64_t>(FramesPerBuffer()), totalFrames - m_nFrame, room});
  if (frames == 0) return E_UNEXPECTED;
  const size_t bytes = static_cast<size_t>(frames * layout.format.blockAlign);
  const uint64_t offset = layout.dataOffset + m_nFrame * layout.format.blockAlign;
  if (fseeko(m_file, static_cast<off_t>(offset), SEEK_SET) != 0 || std::fread(p, 1, bytes, m_file) != bytes) {
    Source()->SetLastErrorText(("WAV source: '" + Source()->m_sLoaded + "': the file ended early or could not be read")
                                   .c_str(),
                               true);
    return VFW_E_FILE_TOO_SHORT;
  }
  pSample->SetActualDataLength(static_cast<LONG>(bytes));
  const uint32_t rate = layout.format.sampleRate;
  const REFERENCE_TIME base = SampleTime(m_nStartFrame, rate);
  REFERENCE_TIME start = SampleTime(m_nFrame, rate) - base, stop = SampleTime(m_nFrame + frames, rate) - base;
  pSample->SetTime(&start, &stop);
  LONGLONG mediaStart = static_cast<LONGLONG>(m_nFrame), mediaStop = static_cast<LONGLONG>(m_nFrame + frames);
  pSample->SetMediaTime(&mediaStart, &mediaStop);
  pSample->SetSyncPoint(TRUE);
  pSample->SetDiscontinuity(m_nFrame == m_nStartFrame ? TRUE : FALSE);
  m_nFrame += frames;
  return S_OK;
}

void CWavSourcePin::Rewind() {
  CAutoLock lock(&m_cSharedState);
  m_nFrame = m_nStartFrame;
}

void CWavSourcePin::ResetPositions() {
  CAutoLock lock(&m_cSharedState);
  m_nFrame = m_nStartFrame = m_nStopFrame = 0;
}

}  // namespace plenor::utilities

#include "utilities/writers.h"

#include <sys/stat.h>

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "framework/pages.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"
#include "utilities/utilities.h"

namespace plenor::utilities {

// ---------------------------------------------------------------------------------------------
// CWriterFilter

CWriterFilter::CWriterFilter(REFCLSID clsid, const wchar_t* pName, const char* displayName, const CLSID& page,
                             LPUNKNOWN pUnk, HRESULT* phr)
    : CBaseRenderer(clsid, pName, pUnk, phr),
      CUtilitySettings(GetOwner()),
      CStatusInterface(GetOwner()),
      m_pDisplayName(displayName),
      m_PageClsid(page) {}

STDMETHODIMP CWriterFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  HRESULT hr = QueryCommonInterfaces(riid, ppv, this, this, this);
  if (hr != S_FALSE) return hr;
  if (riid == IID_IFileSinkFilter) return GetInterface(static_cast<IFileSinkFilter*>(this), ppv);
  return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CWriterFilter::GetPages(CAUUID* pPages) { return GetSinglePropertyPage(pPages, m_PageClsid); }

void CWriterFilter::InitParameters() {
  AddParameter("filename", &m_sFileName, "");
  AddParameter("sync", &m_bSync, false);
  AddParameter("timelog", &m_sTimeLog, "");
}

STDMETHODIMP CWriterFilter::SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* /*pmt*/) {
  if (!pszFileName) return E_POINTER;
  try {
    CAutoLock lock(&m_InterfaceLock);
    const std::string name = NarrowFileName(pszFileName);
    if (name.empty()) {
      SetLastErrorText((std::string(m_pDisplayName) + ": the file name is empty; give the file to write").c_str(),
                       false);
      return E_INVALIDARG;
    }
    // A refused name has its reason in the last error text.
    if (FAILED(SetParameter("filename", name.c_str()))) return E_INVALIDARG;
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP CWriterFilter::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) {
  if (!ppszFileName) return E_POINTER;
  *ppszFileName = nullptr;
  CAutoLock lock(&m_InterfaceLock);
  std::string name;
  {
    CAutoLock params(&m_csParams);
    name = m_sFileName;
  }
  if (name.empty()) return E_FAIL;
  *ppszFileName = TaskMemWideString(name);
  if (!*ppszFileName) return E_OUTOFMEMORY;
  if (pmt) {
    std::memset(pmt, 0, sizeof *pmt);
    if (m_pInputPin && m_pInputPin->IsConnected() && FAILED(CopyMediaType(pmt, &m_pInputPin->CurrentMediaType())))
      return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CWriterFilter::Payload(IMediaSample* pSample, const BYTE** data, size_t* length) {
  BYTE* p = nullptr;
  HRESULT hr = pSample->GetPointer(&p);
  if (FAILED(hr)) return hr;
  *data = p;
  *length = static_cast<size_t>(std::max<LONG>(0, std::min(pSample->GetActualDataLength(), pSample->GetSize())));
  return S_OK;
}

void CWriterFilter::Fail(HRESULT hr, const std::string& message) {
  m_hrFailure = hr;
  m_bFinished = true;
  AbandonOutput();
  m_timeLog.Abandon();
  SetLastErrorText((std::string(m_pDisplayName) + ": " + message).c_str(), true);
  NotifyEvent(EC_ERRORABORT, hr, 0);
}

HRESULT CWriterFilter::OnStartStreaming() {
  CAutoLock lock(&m_WriteLock);
  CAutoLock params(&m_csParams);  // BeginOutput copies the parameters
  m_hrFailure = S_OK;
  m_bFinished = false;
  // "sync": render each sample when the reference clock reaches its start time.
  SetSyncToClock(m_bSync);
  std::string error;
  HRESULT hr = BeginOutput(&error);
  if (SUCCEEDED(hr) && !m_sTimeLog.empty()) hr = m_timeLog.Open(m_sTimeLog, &error);
  if (FAILED(hr)) Fail(hr, error);
  return S_OK;
}

HRESULT CWriterFilter::Finish(std::string* error) {
  HRESULT hr = FinishOutput(error);
  if (SUCCEEDED(hr) && m_timeLog.IsOpen()) hr = m_timeLog.Commit(error);
  return hr;
}

HRESULT CWriterFilter::LogTimes(IMediaSample* pSample, std::string* error) {
  REFERENCE_TIME start = 0, stop = 0;
  const HRESULT times = pSample->GetTime(&start, &stop);  // VFW_S_NO_STOP_TIME: start only
  char line[48] = "- -\n";
  int n = 4;
  if (times == S_OK)
    n = std::snprintf(line, sizeof line, "%lld %lld\n", static_cast<long long>(start), static_cast<long long>(stop));
  else if (SUCCEEDED(times))
    n = std::snprintf(line, sizeof line, "%lld -\n", static_cast<long long>(start));
  return m_timeLog.Write(line, static_cast<size_t>(n), error);
}

HRESULT CWriterFilter::OnStopStreaming() {
  CAutoLock lock(&m_WriteLock);
  if (m_bFinished) return S_OK;
  m_bFinished = true;
  std::string error;
  HRESULT hr = Finish(&error);
  if (FAILED(hr)) Fail(hr, error);
  return S_OK;
}

HRESULT CWriterFilter::DoRenderSample(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  CAutoLock lock(&m_WriteLock);
  if (FAILED(m_hrFailure)) return m_hrFailure;
  if (m_bFinished) return VFW_E_WRONG_STATE;
  std::string error;
  HRESULT hr = WriteSample(pSample, &error);
  if (SUCCEEDED(hr) && m_timeLog.IsOpen()) hr = LogTimes(pSample, &error);
  if (FAILED(hr)) {
    Fail(hr, error);
    return hr;
  }
  return S_OK;
}

HRESULT CWriterFilter::EndOfStream() {
  {
    CAutoLock lock(&m_WriteLock);
    // After a failure the graph has its EC_ERRORABORT; no EC_COMPLETE follows.
    if (FAILED(m_hrFailure)) return S_OK;
    if (!m_bFinished) {
      m_bFinished = true;
      std::string error;
      HRESULT hr = Finish(&error);
      if (FAILED(hr)) {
        Fail(hr, error);
        return S_OK;
      }
    }
  }
  return CBaseRenderer::EndOfStream();
}

// ---------------------------------------------------------------------------------------------
// FileWriter

CUnknown* CFileWriter::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* filter = new (std::nothrow) CFileWriter(pUnk, phr);
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

CFileWriter::CFileWriter(LPUNKNOWN pUnk, HRESULT* phr)
    : CWriterFilter(CLSID_FileWriter, L"File writer", "File writer", CLSID_FileWriterProperties, pUnk, phr) {
  InitParameters();
}

HRESULT CFileWriter::CheckMediaType(const CMediaType* pmt) { return pmt ? S_OK : E_POINTER; }

HRESULT CFileWriter::BeginOutput(std::string* error) { return m_file.Open(m_sFileName, error); }

HRESULT CFileWriter::WriteSample(IMediaSample* pSample, std::string* error) {
  const BYTE* p = nullptr;
  size_t length = 0;
  HRESULT hr = Payload(pSample, &p, &length);
  if (FAILED(hr) || length == 0) return hr;
  return m_file.Write(p, length, error);
}

HRESULT CFileWriter::FinishOutput(std::string* error) { return m_file.Commit(error); }

void CFileWriter::AbandonOutput() { m_file.Abandon(); }

// ---------------------------------------------------------------------------------------------
// WavWriter

CUnknown* CWavWriter::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* filter = new (std::nothrow) CWavWriter(pUnk, phr);
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

CWavWriter::CWavWriter(LPUNKNOWN pUnk, HRESULT* phr)
    : CWriterFilter(CLSID_WavWriter, L"WAV writer", "WAV writer", CLSID_WavWriterProperties, pUnk, phr) {
  InitParameters();
}

HRESULT CWavWriter::CheckMediaType(const CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  if (*pmt->Type() != MEDIATYPE_Audio || *pmt->Subtype() != MEDIASUBTYPE_PCM ||
      *pmt->FormatType() != FORMAT_WaveFormatEx || pmt->FormatLength() < 16 || !pmt->Format())
    return VFW_E_TYPE_NOT_ACCEPTED;
  WAVEFORMATEX wfx{};
  std::memcpy(&wfx, pmt->Format(), std::min<size_t>(sizeof wfx, pmt->FormatLength()));
  if (wfx.wFormatTag != WAVE_FORMAT_PCM || (wfx.wBitsPerSample != 8 && wfx.wBitsPerSample != 16) ||
      wfx.nChannels == 0 || wfx.nSamplesPerSec == 0 ||
      wfx.nBlockAlign != static_cast<DWORD>(wfx.nChannels) * (wfx.wBitsPerSample / 8u))
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT CWavWriter::SetMediaType(const CMediaType* pmt) {
  WAVEFORMATEX wfx{};
  std::memcpy(&wfx, pmt->Format(), std::min<size_t>(sizeof wfx, pmt->FormatLength()));
  CAutoLock lock(&m_InterfaceLock);
  m_format.channels = wfx.nChannels;
  m_format.sampleRate = wfx.nSamplesPerSec;
  m_format.bitsPerSample = wfx.wBitsPerSample;
  m_format.blockAlign = wfx.nBlockAlign;
  return S_OK;
}

HRESULT CWavWriter::BeginOutput(std::string* error) {
  HRESULT hr = m_file.Open(m_sFileName, error);
  if (FAILED(hr)) return hr;
  // Sizes stay 0 until the end: the header is patched when the data is complete. A pipe cannot
  // be patched: its header declares the largest size, as streamed WAV data does.
  const auto header = wav::MakeHeader(m_format, m_file.CanSeek() ? 0 : wav::kMaxDataBytes);
  return m_file.Write(header.data(), header.size(), error);
}

HRESULT CWavWriter::WriteSample(IMediaSample* pSample, std::string* error) {
  const BYTE* p = nullptr;
  size_t length = 0;
  HRESULT hr = Payload(pSample, &p, &length);
  if (FAILED(hr) || length == 0) return hr;
  if (m_file.BytesWritten() - wav::kHeaderSize + length > wav::kMaxDataBytes) {
    *error = "'" + m_file.Target() + "' would exceed the 4 GB a WAV file can hold";
    return STG_E_MEDIUMFULL;
  }
  return m_file.Write(p, length, error);
}

HRESULT CWavWriter::FinishOutput(std::string* error) {
  const uint64_t data = m_file.BytesWritten() - wav::kHeaderSize;
  if (data & 1u) {
    const uint8_t pad = 0;
    HRESULT hr = m_file.Write(&pad, 1, error);
    if (FAILED(hr)) return hr;
  }
  if (m_file.CanSeek()) {
    const auto header = wav::MakeHeader(m_format, data);
    HRESULT hr = m_file.WriteAt(0, header.data(), header.size(), error);
    if (FAILED(hr)) return hr;
  }
  return m_file.Commit(error);
}

void CWavWriter::AbandonOutput() { m_file.Abandon(); }

// ---------------------------------------------------------------------------------------------
// ImageWriter

namespace {
// The pattern with its frame number conversion replaced by n; *converted tells whether it had one.
bool ExpandFramePattern(const std::string& pattern, uint64_t n, std::string* name, bool* converted) {
  std::string out;
  *converted = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      out += pattern[i];
      continue;
    }
    if (++i >= pattern.size()) return false;
    if (pattern[i] == '%') {
      out += '%';
      continue;
    }
    bool zero = false;
    if (pattern[i] == '0') {
      zero = true;
      if (++i >= pattern.size()) return false;
    }
    int width = 0;
    if (pattern[i] >= '1' && pattern[i] <= '9') {
      width = pattern[i] - '0';
      if (++i >= pattern.size()) return false;
    }
    if (pattern[i] != 'd' || *converted) return false;
    *converted = true;
    std::string digits = std::to_string(n);
    if (digits.size() < static_cast<size_t>(width)) digits.insert(0, width - digits.size(), zero ? '0' : ' ');
    out += digits;
  }
  *name = out;
  return true;
}

// A name without a frame number that is a device, FIFO or socket: every picture goes to it as it
// is (a picture stream to a pipe, or to /dev/null to measure), rather than to new files beside it.
bool NamesASpecialFile(const std::string& pattern) {
  std::string name;
  bool converted = false;
  struct stat st {};
  return ExpandFramePattern(pattern, 0, &name, &converted) && !converted && stat(pattern.c_str(), &st) == 0 &&
         !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}
}  // namespace

bool FormatFramePattern(const std::string& pattern, uint64_t n, std::string* name) {
  bool converted = false;
  if (!ExpandFramePattern(pattern, n, name, &converted)) return false;
  if (converted) return !name->empty();
  // No frame number in the pattern: "_%05d" goes before the extension.
  const size_t slash = pattern.rfind('/');
  size_t dot = pattern.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = pattern.size();
  return FormatFramePattern(pattern.substr(0, dot) + "_%05d" + pattern.substr(dot), n, name);
}

bool ParseFrameList(const std::string& text, std::vector<std::pair<uint64_t, uint64_t>>* ranges) {
  std::vector<std::pair<uint64_t, uint64_t>> out;
  size_t i = 0;
  auto skipSpace = [&] {
    while (i < text.size() && text[i] == ' ') ++i;
  };
  auto number = [&](uint64_t* v) {
    skipSpace();
    size_t start = i;
    uint64_t x = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      if (i - start >= 15) return false;
      x = x * 10 + static_cast<uint64_t>(text[i++] - '0');
    }
    skipSpace();
    *v = x;
    return i > start;
  };
  skipSpace();
  while (i < text.size()) {
    uint64_t a = 0, b = 0;
    if (!number(&a)) return false;
    b = a;
    if (i < text.size() && text[i] == '-') {
      ++i;
      if (!number(&b) || b < a) return false;
    }
    out.emplace_back(a, b);
    if (i < text.size()) {
      if (text[i] != ',') return false;
      ++i;
      skipSpace();
      if (i >= text.size()) return false;
    }
  }
  std::sort(out.begin(), out.end());
  ranges->clear();
  for (const auto& r : out) {
    if (!ranges->empty() && r.first <= ranges->back().second + 1)
      ranges->back().second = std::max(ranges->back().second, r.second);
    else
      ranges->push_back(r);
  }
  return true;
}

CUnknown* CImageWriter::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* filter = new (std::nothrow) CImageWriter(pUnk, phr);
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

CImageWriter::CImageWriter(LPUNKNOWN pUnk, HRESULT* phr)
    : CWriterFilter(CLSID_ImageWriter, L"Image writer", "Image writer", CLSID_ImageWriterProperties, pUnk, phr) {
  InitParameters();
}

void CImageWriter::InitParameters() {
  CWriterFilter::InitParameters();
  AddParameter("every", &m_nEvery, 1u);
  AddParameter("frames", &m_sFrames, "");
}

STDMETHODIMP CImageWriter::SetParameter(const char* name, const char* value) {
  CAutoLock lock(&m_csParams);
  HRESULT hr = CWriterFilter::SetParameter(name, value);
  if (FAILED(hr)) return hr;
  const std::string n = name;
  std::string probe;
  std::vector<std::pair<uint64_t, uint64_t>> ranges;
  bool ok = true;
  if (n == "filename") {
    ok = m_sFileName.empty() || FormatFramePattern(m_sFileName, 0, &probe);
    if (!ok)
      SetLastErrorText(("Image writer: the file name pattern '" + m_sFileName +
                        "' is not usable: the frame number goes in through one %d or %0Nd (N from 1 to 9), %% "
                        "writes a percent sign, and no other % conversion is allowed")
                           .c_str(),
                       false);
  }
  else if (n == "every") ok = m_nEvery >= 1;
  else if (n == "frames") ok = ParseFrameList(m_sFrames, &ranges);
  if (ok) return S_OK;
  RevertParameter(name);
  return E_FAIL;
}

HRESULT CImageWriter::CheckMediaType(const CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  if (*pmt->Type() != MEDIATYPE_Video || *pmt->FormatType() != FORMAT_VideoInfo || !pmt->Format() ||
      pmt->FormatLength() < sizeof(VIDEOINFOHEADER))
    return VFW_E_TYPE_NOT_ACCEPTED;
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->Format());
  const BITMAPINFOHEADER& bih = vih->bmiHeader;
  const LONG w = bih.biWidth, h = bih.biHeight < 0 ? -static_cast<int64_t>(bih.biHeight) : bih.biHeight;
  if (w <= 0 || h <= 0 || w > 16384 || h > 16384) return VFW_E_TYPE_NOT_ACCEPTED;
  const GUID& sub = *pmt->Subtype();
  if (sub == MEDIASUBTYPE_RGB24 && bih.biBitCount == 24) return S_OK;
  if (sub == MEDIASUBTYPE_RGB32 && bih.biBitCount == 32) return S_OK;
  if (sub == MEDIASUBTYPE_I420 && w % 2 == 0 && h % 2 == 0) return S_OK;
  return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CImageWriter::SetMediaType(const CMediaType* pmt) {
  const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->Format());
  const BITMAPINFOHEADER& bih = vih->bmiHeader;
  CAutoLock lock(&m_InterfaceLock);
  try {
    m_subtype = *pmt->Subtype();
    m_nWidth = bih.biWidth;
    m_nHeight = bih.biHeight < 0 ? -bih.biHeight : bih.biHeight;
    const size_t w = static_cast<size_t>(m_nWidth), h = static_cast<size_t>(m_nHeight);
    if (m_subtype == MEDIASUBTYPE_I420) {
      m_bBottomUp = false;  // planar YUV is always top-down
      m_cbStride = w;
      m_cbFrame = w * h + 2 * ((w / 2) * (h / 2));
    } else {
      m_bBottomUp = bih.biHeight > 0;
      m_cbStride = ((w * bih.biBitCount + 31) & ~size_t{31}) / 8;
      m_cbFrame = m_cbStride * h;
    }
    m_rgb.assign(m_subtype == MEDIASUBTYPE_RGB24 ? 0 : w * h * 3, 0);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(w);
    image.height = static_cast<png_uint_32>(h);
    image.format = PNG_FORMAT_BGR;
    m_png.assign(PNG_IMAGE_PNG_SIZE_MAX(image), 0);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CImageWriter::BeginOutput(std::string* error) {
  m_nFrame = 0;
  std::string probe;
  if (m_sFileName.empty()) {
    *error = "no output file name pattern is set; give one with location=NAME_%05d.png (or the \"filename\" parameter)";
    return E_INVALIDARG;
  }
  if (!FormatFramePattern(m_sFileName, 0, &probe)) {
    *error = "the file name pattern '" + m_sFileName + "' is not usable";
    return E_INVALIDARG;
  }
  if (!ParseFrameList(m_sFrames, &m_ranges)) {
    *error = "the frame list '" + m_sFrames + "' is not usable";
    return E_INVALIDARG;
  }
  // The streaming thread works with copies: the host may change the parameters meanwhile.
  m_sPattern = m_sFileName;
  m_bSpecialFile = NamesASpecialFile(m_sFileName);
  m_nEveryRun = std::max(1u, m_nEvery);
  return S_OK;
}

bool CImageWriter::Selected(uint64_t n) const {
  if (!m_ranges.empty()) {
    for (const auto& r : m_ranges)
      if (n >= r.first && n <= r.second) return true;
    return false;
  }
  return n % m_nEveryRun == 0;
}

HRESULT CImageWriter::WriteSample(IMediaSample* pSample, std::string* error) {
  const uint64_t n = m_nFrame++;
  if (!Selected(n)) return S_OK;
  BYTE* p = nullptr;
  HRESULT hr = pSample->GetPointer(&p);
  if (FAILED(hr)) return hr;
  if (static_cast<size_t>(std::max<LONG>(0, pSample->GetActualDataLength())) < m_cbFrame ||
      static_cast<size_t>(std::max<LONG>(0, pSample->GetSize())) < m_cbFrame) {
    *error = "frame " + std::to_string(n) + " is shorter than its format says";
    return VFW_E_BUFFER_UNDERFLOW;
  }
  const size_t w = static_cast<size_t>(m_nWidth), h = static_cast<size_t>(m_nHeight);
  const uint8_t* pixels = p;
  png_int_32 stride = static_cast<png_int_32>(m_cbStride);
  if (m_subtype == MEDIASUBTYPE_RGB32) {
    for (size_t y = 0; y < h; ++y)
      for (size_t x = 0; x < w; ++x) std::memcpy(&m_rgb[(y * w + x) * 3], p + y * m_cbStride + x * 4, 3);
    pixels = m_rgb.data();
    stride = static_cast<png_int_32>(w * 3);
  } else if (m_subtype == MEDIASUBTYPE_I420) {
    const uint8_t* yp = p;
    const uint8_t* up = p + w * h;
    const uint8_t* vp = up + (w / 2) * (h / 2);
    auto clip = [](int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
    for (size_t y = 0; y < h; ++y)
      for (size_t x = 0; x < w; ++x) {
        const int c = yp[y * w + x] - 16, d = up[(y / 2) * (w / 2) + x / 2] - 128,
                  e = vp[(y / 2) * (w / 2) + x / 2] - 128;
        uint8_t* o = &m_rgb[(y * w + x) * 3];
        o[0] = clip((298 * c + 516 * d + 128) >> 8);
        o[1] = clip((298 * c - 100 * d - 208 * e + 128) >> 8);
        o[2] = clip((298 * c + 409 * e + 128) >> 8);
      }
    pixels = m_rgb.data();
    stride = static_cast<png_int_32>(w * 3);
  }
  // A negative stride tells the encoder that the first row in memory is the bottom row.
  if (m_bBottomUp) stride = -stride;

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(w);
  image.height = static_cast<png_uint_32>(h);
  image.format = PNG_FORMAT_BGR;
  png_alloc_size_t size = m_png.size();
  std::string name = m_sPattern;
  if (!m_bSpecialFile) FormatFramePattern(m_sPattern, n, &name);
  if (!png_image_write_to_memory(&image, m_png.data(), &size, 0, pixels, stride, nullptr)) {
    *error = "cannot encode '" + name + "': " + image.message;
    png_image_free(&image);
    return E_FAIL;
  }
  // A special file is one stream of pictures, opened at the first and closed at the end (a reader
  // of a pipe would take the close after each picture for the end of the stream); every other
  // picture is a file of its own.
  hr = m_bSpecialFile && m_file.IsOpen() ? S_OK : m_file.Open(name, error);
  if (SUCCEEDED(hr)) hr = m_file.Write(m_png.data(), size, error);
  if (SUCCEEDED(hr) && !m_bSpecialFile) hr = m_file.Commit(error);
  if (FAILED(hr)) m_file.Abandon();
  return hr;
}

HRESULT CImageWriter::FinishOutput(std::string* error) { return m_file.IsOpen() ? m_file.Commit(error) : S_OK; }

void CImageWriter::AbandonOutput() { m_file.Abandon(); }

}  // namespace plenor::utilities

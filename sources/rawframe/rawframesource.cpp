#include "sources/rawframe/rawframesource.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "framework/filesource.h"
#include "framework/pages.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/mtype.h"
#include "platform/strmbase/uuids.h"
#include "sources/rawframe/yuvfilename.h"

namespace {

constexpr int kDefaultWidth = 352;
constexpr int kDefaultHeight = 288;
constexpr double kBytesPerPixel420 = 1.5;
constexpr double kBytesPerPixel444 = 4.0;

double BytesPerPixelOf(unsigned int yuvFormat, double current) {
  if (yuvFormat == 0) return kBytesPerPixel420;
  if (yuvFormat == 1) return kBytesPerPixel444;
  return current;  // no format of ours: the type names no subtype and the frame size stays
}

}  // namespace

// =============================================================================================
// YuvOutputPin

YuvOutputPin::YuvOutputPin(HRESULT* phr, RawFrameSourceFilter* pFilter, LPCWSTR pName)
    : CSourceStream(L"YuvOutputPin", phr, pFilter, pName), m_pSource(pFilter) {}

HRESULT YuvOutputPin::FillBuffer(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  CAutoLock lock(&m_csStream);
  RawFrameSourceFilter* f = m_pSource;
  if (!f->m_file || m_nFrameIndex >= f->m_nFrameCount) return S_FALSE;

  const LONG frameSize = f->m_nFrameSize;
  const LONG bufferSize = pSample->GetSize();
  if (frameSize > bufferSize) {
    // The size or format changed after the pin was connected: the negotiated buffers are too
    // small for the new frames. Copying would overrun the sample, so the stream ends here.
    try {
      std::string message = "Frame of " + std::to_string(frameSize) + " bytes does not fit the sample buffer of " +
                            std::to_string(bufferSize) + " bytes: reconnect the output pin after changing the size";
      f->SetLastErrorText(message.c_str(), true);
    } catch (const std::bad_alloc&) {
    }
    return VFW_E_BUFFER_OVERFLOW;
  }
  BYTE* data = nullptr;
  HRESULT hr = pSample->GetPointer(&data);
  if (FAILED(hr)) return hr;

  // 64-bit offsets: files beyond 4 GiB play to their end.
  LARGE_INTEGER offset{};
  offset.QuadPart = m_nFrameIndex * static_cast<LONGLONG>(frameSize);
  hr = f->m_file->Seek(offset, STREAM_SEEK_SET, nullptr);
  ULONG got = 0;
  if (SUCCEEDED(hr)) hr = f->m_file->Read(data, static_cast<ULONG>(frameSize), &got);
  if (FAILED(hr)) {
    try {
      f->SetLastErrorText(("Failed to read file: " + f->m_sFileName).c_str(), true);
    } catch (const std::bad_alloc&) {
    }
    return hr;
  }
  // The file shrank since it was loaded: what is left is not a whole frame.
  if (got < static_cast<ULONG>(frameSize)) return S_FALSE;

  pSample->SetActualDataLength(frameSize);
  REFERENCE_TIME start = m_nFrameIndex * m_rtFrameDuration;
  REFERENCE_TIME stop = start + m_rtFrameDuration;
  pSample->SetTime(&start, &stop);
  pSample->SetSyncPoint(TRUE);
  ++m_nFrameIndex;
  return S_OK;
}

HRESULT YuvOutputPin::GetMediaType(CMediaType* pMediaType) {
  if (!pMediaType) return E_POINTER;
  CAutoLock lock(m_pFilter->pStateLock());
  RawFrameSourceFilter* f = m_pSource;
  auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(pMediaType->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  if (!vih) return E_OUTOFMEMORY;

  pMediaType->SetType(&MEDIATYPE_Video);
  pMediaType->SetFormatType(&FORMAT_VideoInfo);
  if (f->m_nYuvFormat == 0) {
    pMediaType->SetSubtype(&MEDIASUBTYPE_I420);
    vih->bmiHeader.biCompression = MAKEFOURCC('I', '4', '2', '0');
    vih->bmiHeader.biBitCount = 12;
  } else if (f->m_nYuvFormat == 1) {
    pMediaType->SetSubtype(&MEDIASUBTYPE_AYUV);
    vih->bmiHeader.biCompression = MAKEFOURCC('A', 'Y', 'U', 'V');
    vih->bmiHeader.biBitCount = 32;
  }
  pMediaType->SetSampleSize(static_cast<ULONG>(f->m_nFrameSize));
  pMediaType->SetTemporalCompression(FALSE);

  // The bit rate counts the bytes per pixel a second time, as the format has always reported
  // it; it saturates instead of wrapping for large pictures.
  double bitRate = std::trunc(f->m_nFps * static_cast<double>(f->m_nFrameSize) * f->m_dBytesPerPixel) * 8.0;
  vih->dwBitRate = bitRate >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<DWORD>(bitRate);
  vih->AvgTimePerFrame = m_rtFrameDuration;
  vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih->bmiHeader.biWidth = f->m_nWidth;
  vih->bmiHeader.biHeight = f->m_nHeight;
  vih->bmiHeader.biPlanes = 1;
  vih->bmiHeader.biSizeImage = static_cast<DWORD>(f->m_nFrameSize);
  return S_OK;
}

HRESULT YuvOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
  if (!pAlloc || !pRequest) return E_POINTER;
  CAutoLock lock(m_pFilter->pStateLock());
  const CMediaType& mt = m_mt;
  if (mt.formattype != FORMAT_VideoInfo || !mt.pbFormat || mt.cbFormat < sizeof(VIDEOINFOHEADER)) return E_FAIL;
  const DWORD sizeImage = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader.biSizeImage;
  if (sizeImage == 0 || sizeImage > static_cast<DWORD>(INT_MAX)) return E_FAIL;

  if (pRequest->cBuffers == 0) pRequest->cBuffers = 1;
  pRequest->cbBuffer = static_cast<LONG>(sizeImage);
  ALLOCATOR_PROPERTIES actual{};
  HRESULT hr = pAlloc->SetProperties(pRequest, &actual);
  if (FAILED(hr)) return hr;
  return actual.cbBuffer < pRequest->cbBuffer ? E_FAIL : S_OK;
}

// =============================================================================================
// RawFrameSourceFilter

CUnknown* RawFrameSourceFilter::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  try {
    auto* filter = new RawFrameSourceFilter(pUnk, phr);
    return filter;
  } catch (const std::bad_alloc&) {
    if (phr) *phr = E_OUTOFMEMORY;
    return nullptr;
  }
}

RawFrameSourceFilter::RawFrameSourceFilter(LPUNKNOWN pUnk, HRESULT* phr)
    : CSource(L"Ravik Plenor YUV Source", pUnk, CLSID_RawFrameSource, phr),
      CSettingsInterface(GetOwner()),
      CStatusInterface(GetOwner()) {
  InitParameters();
  m_pPin = new (std::nothrow) YuvOutputPin(phr, this, L"Out");
  if (!m_pPin) {
    if (phr) *phr = E_OUTOFMEMORY;
    return;
  }
  Recompute();
}

RawFrameSourceFilter::~RawFrameSourceFilter() {
  // The pin's destructor ends its worker thread and takes it out of the pin array.
  delete m_pPin;
}

STDMETHODIMP RawFrameSourceFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_ISettingsInterface) return GetInterface(static_cast<ISettingsInterface*>(this), ppv);
  if (riid == IID_IStatusInterface) return GetInterface(static_cast<IStatusInterface*>(this), ppv);
  if (riid == IID_IFileSourceFilter) return GetInterface(static_cast<IFileSourceFilter*>(this), ppv);
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  return CSource::NonDelegatingQueryInterface(riid, ppv);
}

void RawFrameSourceFilter::InitParameters() {
  AddParameter("yuv_format", &m_nYuvFormat, 0u);
  AddParameter("sourcedimensions", &m_sSourceDimensions, std::string("352x288"));
  AddParameter("fps", &m_nFps, 30u);
}

LONGLONG RawFrameSourceFilter::FrameBytes(int width, int height, double bytesPerPixel) const {
  if (width < 1 || height < 1) return -1;
  double bytes = std::trunc(static_cast<double>(width) * static_cast<double>(height) * bytesPerPixel);
  // A frame is one sample: its size must fit a sample buffer's (32-bit signed) length.
  if (bytes > static_cast<double>(INT_MAX)) return -1;
  return static_cast<LONGLONG>(bytes);
}

std::string RawFrameSourceFilter::RefusedSizeText(const std::string& name, const rawframe::YuvNameInfo& info) const {
  const std::string size = info.dimensionsText.empty()
                               ? std::to_string(info.width) + "x" + std::to_string(info.height)
                               : info.dimensionsText;
  std::string why;
  if (info.width < 1 || info.height < 1) {
    why = "a width and height of at least 1 are needed";
  } else {
    char bytes[64];
    std::snprintf(bytes, sizeof bytes, "%.0f",
                  std::trunc(static_cast<double>(info.width) * info.height * m_dBytesPerPixel));
    why = std::string("a frame of that size is ") + bytes + " bytes, more than the 2147483647 a sample can hold";
  }
  return "The size " + size + " in the file name " + name + " was refused: " + why;
}

bool RawFrameSourceFilter::SetSize(int width, int height) {
  if (FrameBytes(width, height, m_dBytesPerPixel) < 0) return false;
  m_nWidth = width;
  m_nHeight = height;
  Recompute();
  return true;
}

void RawFrameSourceFilter::Recompute() {
  m_nFrameSize = static_cast<int>(FrameBytes(m_nWidth, m_nHeight, m_dBytesPerPixel));
  m_nFrameCount = m_nFrameSize > 0 ? m_nFileSize / m_nFrameSize : 0;
  if (m_pPin && m_nFps > 0) m_pPin->m_rtFrameDuration = 10000000 / static_cast<REFERENCE_TIME>(m_nFps);
}

STDMETHODIMP RawFrameSourceFilter::Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* /*pmt*/) {
  if (!pszFileName) return E_POINTER;
  try {
    const std::string name = WideToUtf8(pszFileName);
    ComPtr<IStream> file;
    ULARGE_INTEGER end{};
    HRESULT hr = CreateStreamOnFile(name.c_str(), "r", &file);
    if (SUCCEEDED(hr)) hr = file->Seek(LARGE_INTEGER{}, STREAM_SEEK_END, &end);
    if (SUCCEEDED(hr) && end.QuadPart > static_cast<ULONGLONG>(LLONG_MAX)) hr = E_FAIL;
    std::string refused;
    {
      CAutoLock state(&m_cStateLock);
      CAutoLock stream(m_pPin->StreamLock());
      // The file loaded before is closed whether or not the new one opens.
      m_file = nullptr;
      m_nFileSize = 0;
      m_sFileName = name;
      m_bHasFileName = true;
      m_pPin->m_nFrameIndex = 0;
      if (SUCCEEDED(hr)) {
        m_file = std::move(file);
        m_nFileSize = static_cast<LONGLONG>(end.QuadPart);

        const rawframe::YuvNameInfo info = rawframe::ParseYuvFileName(name);
        m_nYuvFormat = info.is444 ? 1 : 0;
        m_dBytesPerPixel = info.is444 ? kBytesPerPixel444 : kBytesPerPixel420;
        if (info.hasSize) {
          if (SetSize(info.width, info.height)) {
            if (!info.dimensionsText.empty()) m_sSourceDimensions = info.dimensionsText;
          } else {
            refused = RefusedSizeText(name, info);
          }
        }
        // A size kept from before may be too large at four bytes per pixel.
        if (FrameBytes(m_nWidth, m_nHeight, m_dBytesPerPixel) < 0) {
          m_nWidth = kDefaultWidth;
          m_nHeight = kDefaultHeight;
          m_sSourceDimensions = "352x288";
        }
        if (!refused.empty())
          refused += "; playing it as " + std::to_string(m_nWidth) + "x" + std::to_string(m_nHeight) +
                     ", set \"sourcedimensions\" to the real size";
      }
      Recompute();
    }
    // The file plays with the size kept; the text says which size in its name was refused and why.
    if (!refused.empty()) SetLastErrorText(refused.c_str(), true);
    if (FAILED(hr)) {
      SetLastErrorText(("Failed to open file: " + name).c_str(), true);
      return E_FAIL;
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP RawFrameSourceFilter::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* /*pmt*/) {
  CAutoLock state(&m_cStateLock);
  return GetKeptFileName(m_sFileName, m_bHasFileName, ppszFileName);
}

STDMETHODIMP RawFrameSourceFilter::GetPages(CAUUID* pPages) { return GetSinglePropertyPage(pPages, CLSID_YuvProperties); }

STDMETHODIMP RawFrameSourceFilter::SetParameter(const char* name, const char* value) {
  if (!name || !value) return E_POINTER;
  try {
    CAutoLock state(&m_cStateLock);
    CAutoLock stream(m_pPin->StreamLock());
    if (std::strcmp(name, "sourcedimensions") == 0) {
      int width = 0, height = 0;
      if (!rawframe::ParseDimensions(value, &width, &height)) return E_FAIL;
      if (FrameBytes(width, height, m_dBytesPerPixel) < 0) return E_FAIL;
      HRESULT hr = CSettingsInterface::SetParameter(name, value);
      if (SUCCEEDED(hr)) SetSize(width, height);
      return hr;
    }

    HRESULT hr = CSettingsInterface::SetParameter(name, value);
    if (FAILED(hr)) return hr;
    if (std::strcmp(name, "fps") == 0 && 10000000 / static_cast<REFERENCE_TIME>(std::max(m_nFps, 1u)) == 0) {
      // A duration of 0 (more than 10,000,000 frames a second) is as meaningless as 0 fps.
      RevertParameter(name);
      return E_FAIL;
    }
    if (std::strcmp(name, "fps") == 0 && m_nFps == 0) {
      // No frame duration exists for 0 frames a second.
      RevertParameter(name);
      return E_FAIL;
    }
    if (std::strcmp(name, "yuv_format") == 0) {
      // The format decides the bytes per pixel, so that the frame size always matches the
      // offered subtype.
      const double bytesPerPixel = BytesPerPixelOf(m_nYuvFormat, m_dBytesPerPixel);
      if (FrameBytes(m_nWidth, m_nHeight, bytesPerPixel) < 0) {
        RevertParameter(name);
        return E_FAIL;
      }
      m_dBytesPerPixel = bytesPerPixel;
    }
    Recompute();
    return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP RawFrameSourceFilter::Stop() {
  CAutoLock state(&m_cStateLock);
  // The worker thread is gone once the base has stopped, so no frame is delivered after the
  // rewind and the next run starts at frame 0.
  HRESULT hr = CSource::Stop();
  CAutoLock stream(m_pPin->StreamLock());
  m_pPin->m_nFrameIndex = 0;
  return hr;
}

HRESULT RawFrameSourceFilter::SeekToFrame(LONGLONG n) {
  CAutoLock state(&m_cStateLock);
  CAutoLock stream(m_pPin->StreamLock());
  if (n < 0 || n > m_nFrameCount) return E_INVALIDARG;
  m_pPin->m_nFrameIndex = n;
  return S_OK;
}

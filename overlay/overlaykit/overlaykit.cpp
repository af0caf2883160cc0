#include "overlay/overlaykit/overlaykit.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <new>

#include "framework/pages.h"
#include "overlay/common/overlaydraw.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/uuids.h"

namespace {

constexpr unsigned kBoxWidth = 350;
constexpr unsigned kBoxHeight = 50;
constexpr int64_t kLongestInterval = 50'000'000;  // 5 s

// The current local time formatted into text; empty when the format gives nothing.
void FormatLocalTime(const char* format, std::string* text) {
  char buffer[256];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  size_t n = 0;
  if (localtime_r(&now, &local)) n = std::strftime(buffer, sizeof buffer, format, &local);
  text->assign(buffer, n);
}

LONGLONG Counter() {
  LARGE_INTEGER value{};
  QueryPerformanceCounter(&value);
  return value.QuadPart;
}

// The filter upstream of this one: the owner of the pin connected to its first connected input
// pin. E_FAIL without a connected input pin, E_UNEXPECTED when the pin names no filter.
HRESULT UpstreamOf(IBaseFilter* filter, ComPtr<IBaseFilter>& upstream) {
  ComPtr<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.ReleaseAndGetAddressOf())) || !pins) return E_FAIL;
  ComPtr<IPin> pin;
  while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
    PIN_DIRECTION direction = PINDIR_OUTPUT;
    ComPtr<IPin> peer;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_INPUT &&
        pin->ConnectedTo(peer.ReleaseAndGetAddressOf()) == S_OK && peer) {
      PIN_INFO info{};
      if (FAILED(peer->QueryPinInfo(&info)) || !info.pFilter) return E_UNEXPECTED;
      upstream = ComPtr<IBaseFilter>::Attach(info.pFilter);
      return S_OK;
    }
    pin = nullptr;
  }
  return E_FAIL;
}

}  // namespace

const char* const kOverlayKitModeNames[9] = {
    "FPS Timestamp (TS)", "FPS Timestamp (ST)", "Time", "DateTime", "FPS TS + DateTime",
    "FPS ST + DateTime",  "Measure bitrate",    "Detect upstream source", "None"};

CUnknown* OverlayKitFilter::CreateInstance(LPUNKNOWN /*pUnk*/, HRESULT* phr) {
  auto* filter = new (std::nothrow) OverlayKitFilter;
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

// Not aggregatable: the controlling IUnknown is always the filter's own.
OverlayKitFilter::OverlayKitFilter()
    : CTransInPlaceFilter(L"Utility Filter", nullptr, CLSID_OverlayKitFilter, nullptr, false),
      CLockedSettings(GetOwner(), &m_csState),
      CStatusInterface(GetOwner()),
      CLockedPersistSettings(GetOwner(), CLSID_OverlayKitFilter, PersistKind::Unsigned,
                             {{L"\"x\"", &m_nX, VT_UINT, VT_UINT, true},
                              {L"\"y\"", &m_nY, VT_UINT, VT_UINT, true},
                              {L"\"mode\"", &m_nMode, VT_INT, VT_UINT, false}},
                             &m_csState),
      m_Estimator(RateEstimator::Config{.capacity = 200, .longestInterval = kLongestInterval,
                                        .resetOnRejected = true, .keepBytes = true}) {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  m_llFrequency = frequency.QuadPart;
  m_Estimator.SetCounterFrequency(m_llFrequency);
  m_sInfo.reserve(64);
  m_sText.reserve(128);
  m_pRenderer = plenor::text::TextRenderer::Create();
  InitParameters();
}

OverlayKitFilter::~OverlayKitFilter() = default;

STDMETHODIMP OverlayKitFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (GetPersistInterface(riid, ppv) == S_OK) return S_OK;
  if (riid == IID_ISettingsInterface) return GetInterface(static_cast<ISettingsInterface*>(this), ppv);
  if (riid == IID_IStatusInterface) return GetInterface(static_cast<IStatusInterface*>(this), ppv);
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  if (riid == IID_IFilterInfoSourceInterface)
    return GetInterface(static_cast<IFilterInfoSourceInterface*>(this), ppv);
  return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP OverlayKitFilter::GetPages(CAUUID* pPages) { return GetSinglePropertyPage(pPages, CLSID_UtilityProperties); }

STDMETHODIMP OverlayKitFilter::GetInfoText(char* buffer, int* length) {
  if (!length) return E_POINTER;
  CAutoLock lock(&m_csInfo);
  if (*length < 0 || m_sInfo.size() > static_cast<size_t>(*length)) return E_FAIL;
  if (!m_sInfo.empty()) {
    if (!buffer) return E_POINTER;
    std::memcpy(buffer, m_sInfo.data(), m_sInfo.size());
  }
  *length = static_cast<int>(m_sInfo.size());
  return S_OK;
}

void OverlayKitFilter::InitParameters() {
  CAutoLock lock(&m_csState);
  AddParameter("x", &m_nX, 0);
  AddParameter("y", &m_nY, 0);
  AddParameter("estimated_framerate", &m_dEstimatedFramerate, -1);
  AddParameter("estimated_bitrate", &m_dEstimatedBitrate, -1);
  AddParameter("mode", &m_nMode, 1);
  AddParameter("writeonframe", &m_bWriteOnFrame, true);
  AddParameter("precision", &m_nPrecision, 1);
  AddParameter("history_size", &m_nHistorySize, 200);
}

STDMETHODIMP OverlayKitFilter::SetParameter(const char* name, const char* value) {
  CAutoLock lock(&m_csState);
  if (FAILED(CSettingsInterface::SetParameter(name, value))) return E_FAIL;
  m_Estimator.Restart();
  return S_OK;
}

STDMETHODIMP OverlayKitFilter::Stop() {
  {
    CAutoLock lock(&m_csState);
    m_Estimator.Reset();
    m_dEstimatedFramerate = 0;
  }
  const HRESULT hr = CTransInPlaceFilter::Stop();
  {
    CAutoLock lock(&m_csState);
    m_Estimator.Reset();
    m_dEstimatedFramerate = 0;
  }
  return hr;
}

HRESULT OverlayKitFilter::CheckInputType(const CMediaType* mtIn) {
  if (!mtIn) return E_POINTER;
  if (*mtIn->Type() != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
  if (*mtIn->FormatType() != FORMAT_VideoInfo && *mtIn->FormatType() != FORMAT_VideoInfo2)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT OverlayKitFilter::FindUpstreamSource() {
  ComPtr<IBaseFilter> current;
  HRESULT hr = UpstreamOf(this, current);
  if (FAILED(hr)) return hr;
  // A graph has no cycles; the bound only keeps a broken one from spinning for ever.
  for (int depth = 0; depth < 10000; ++depth) {
    ComPtr<IFilterInfoSourceInterface> source;
    if (SUCCEEDED(current->QueryInterface(IID_IFilterInfoSourceInterface, source.AsOut())) && source) {
      m_pUpstream = source;
      return S_OK;
    }
    ComPtr<IBaseFilter> next;
    if (UpstreamOf(current.Get(), next) != S_OK) return E_FAIL;
    current = next;
  }
  return E_FAIL;
}

HRESULT OverlayKitFilter::Transform(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  unsigned mode, x, y, precision;
  bool write;
  {
    CAutoLock lock(&m_csState);
    mode = m_nMode;
    x = m_nX;
    y = m_nY;
    precision = m_nPrecision;
    write = m_bWriteOnFrame;
  }
  if (mode >= 8) return S_OK;

  switch (mode) {
    case 2:
      FormatLocalTime("%X", &m_sText);
      break;
    case 3:
      FormatLocalTime("%d/%m/%Y %X", &m_sText);
      break;
    case 7: {
      if (FAILED(m_hrDetection)) return m_hrDetection;
      if (!m_pUpstream) {
        m_hrDetection = FindUpstreamSource();
        if (FAILED(m_hrDetection)) return m_hrDetection;
      }
      int length = sizeof m_fetch;
      const HRESULT hr = m_pUpstream->GetInfoText(m_fetch, &length);
      if (FAILED(hr)) return hr;
      m_sText.assign(m_fetch, static_cast<size_t>(std::clamp(length, 0, static_cast<int>(sizeof m_fetch))));
      break;
    }
    default: {  // 0, 1, 4, 5, 6: measured
      REFERENCE_TIME start = 0, stop = 0;
      const HRESULT hr = pSample->GetTime(&start, &stop);
      if (FAILED(hr)) return hr;
      const bool counter = mode == 1 || mode == 5;
      const int64_t reading = counter ? Counter() : start;
      const LONG bytes = pSample->GetActualDataLength();
      double rate = 0.0, bitrate = -1;
      {
        CAutoLock lock(&m_csState);
        m_Estimator.SetCapacity(m_nHistorySize);
        if (m_Estimator.Measure(reading, bytes > 0 ? static_cast<uint32_t>(bytes) : 0,
                                counter ? RateEstimator::Clock::Counter : RateEstimator::Clock::SampleTime) ==
            RateEstimator::Measured::Started)
          return S_OK;
        if (!m_Estimator.FrameRate(&rate)) rate = 0.0;
        bitrate = m_Estimator.BitRate();
        m_dEstimatedFramerate = rate;
        m_dEstimatedBitrate = bitrate;
      }
      if (mode == 4 || mode == 5) {
        FormatLocalTime("%d/%m/%Y %X", &m_sText);
        FormatFigure(rate, precision, " fps", &m_sFigure);
        m_sText += ' ';
        m_sText += m_sFigure;
      } else {
        FormatFigure(mode == 6 ? bitrate : rate, precision, mode == 6 ? " kbps" : " fps", &m_sText);
        CAutoLock lock(&m_csInfo);
        m_sInfo = m_sText;
      }
      break;
    }
  }
  if (!write) return S_OK;
  const std::wstring_view wide = WidenText(m_sText, m_wText);
  return DrawOverlayText(m_pInput, pSample, m_pRenderer.get(), wide, {x, y, kBoxWidth, kBoxHeight}, true);
}

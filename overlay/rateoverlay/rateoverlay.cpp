#include "overlay/rateoverlay/rateoverlay.h"

#include <new>

#include "framework/pages.h"
#include "overlay/common/overlaydraw.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/uuids.h"

namespace {
constexpr unsigned kBoxWidth = 200;
constexpr unsigned kBoxHeight = 50;
constexpr size_t kWindow = 50;
}  // namespace

CUnknown* RateOverlayFilter::CreateInstance(LPUNKNOWN /*pUnk*/, HRESULT* phr) {
  auto* filter = new (std::nothrow) RateOverlayFilter;
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

RateOverlayFilter::RateOverlayFilter()
    : CTransInPlaceFilter(L"Framerate Display Filter", nullptr, CLSID_RateOverlayFilter, nullptr, false),
      CLockedSettings(GetOwner(), &m_csState),
      m_Estimator(RateEstimator::Config{
          .capacity = kWindow, .longestInterval = 0, .resetOnRejected = false, .keepBytes = false}) {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  m_Estimator.SetCounterFrequency(frequency.QuadPart);
  m_sText.reserve(64);
  m_pRenderer = plenor::text::TextRenderer::Create();
  InitParameters();
}

RateOverlayFilter::~RateOverlayFilter() = default;

STDMETHODIMP RateOverlayFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_ISettingsInterface) return GetInterface(static_cast<ISettingsInterface*>(this), ppv);
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP RateOverlayFilter::GetPages(CAUUID* pPages) {
  return GetSinglePropertyPage(pPages, CLSID_FramerateDisplayProperties);
}

void RateOverlayFilter::InitParameters() {
  CAutoLock lock(&m_csState);
  AddParameter("X", &m_nX, 0);
  AddParameter("Y", &m_nY, 0);
  AddParameter("estimatedframerate", &m_dEstimatedFramerate, 0);
  AddParameter("mode", &m_nMode, 1);
}

void RateOverlayFilter::ResetRunState() {
  CAutoLock lock(&m_csState);
  m_Estimator.Reset();
  m_dEstimatedFramerate = 0;
}

STDMETHODIMP RateOverlayFilter::Stop() {
  ResetRunState();
  const HRESULT hr = CTransInPlaceFilter::Stop();
  ResetRunState();
  return hr;
}

HRESULT RateOverlayFilter::CheckInputType(const CMediaType* mtIn) {
  if (!mtIn) return E_POINTER;
  if (*mtIn->Type() != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
  if (*mtIn->Subtype() != MEDIASUBTYPE_RGB24 && *mtIn->Subtype() != MEDIASUBTYPE_RGB32) return VFW_E_TYPE_NOT_ACCEPTED;
  if (*mtIn->FormatType() != FORMAT_VideoInfo || !mtIn->Format() || mtIn->FormatLength() < sizeof(VIDEOINFOHEADER))
    return VFW_E_TYPE_NOT_ACCEPTED;
  if (reinterpret_cast<const VIDEOINFOHEADER*>(mtIn->Format())->bmiHeader.biHeight < 0) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT RateOverlayFilter::Transform(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  REFERENCE_TIME start = 0, stop = 0;
  const bool timed = SUCCEEDED(pSample->GetTime(&start, &stop));
  unsigned x, y;
  double rate = 0;
  {
    CAutoLock lock(&m_csState);
    const unsigned mode = m_nMode;
    x = m_nX;
    y = m_nY;
    int64_t reading = 0;
    bool measure = false;
    if (mode == 0 && timed) {
      reading = start;
      measure = true;
    } else if (mode == 1) {
      LARGE_INTEGER counter{};
      QueryPerformanceCounter(&counter);
      reading = counter.QuadPart;
      measure = true;
    }
    const RateEstimator::Clock clock = mode == 1 ? RateEstimator::Clock::Counter : RateEstimator::Clock::SampleTime;
    if (!m_Estimator.Started()) {
      if (measure) m_Estimator.Measure(reading, 0, clock);
      return S_OK;
    }
    if (measure) m_Estimator.Measure(reading, 0, clock);
    if (m_Estimator.Count() == 0) return S_OK;
    if (!m_Estimator.FrameRate(&rate)) return S_OK;
    m_dEstimatedFramerate = rate;
  }
  FormatFigure(rate, 2, " fps", &m_sText);
  const std::wstring_view wide = WidenText(m_sText, m_wText);
  return DrawOverlayText(m_pInput, pSample, m_pRenderer.get(), wide, {x, y, kBoxWidth, kBoxHeight}, false);
}

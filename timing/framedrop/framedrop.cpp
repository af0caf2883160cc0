#include "timing/framedrop/framedrop.h"

#include <cmath>
#include <limits>
#include <new>

#include "platform/strmbase/amvideo.h"
#include "platform/strmbase/uuids.h"
#include "framework/pages.h"

namespace {

constexpr double kUnitsPerSecond = 10000000.0;

// 64-bit reference time / share, truncated toward zero; the value itself when the quotient does
// not fit (a share too small to be meaningful).
REFERENCE_TIME ScaleFrameDuration(REFERENCE_TIME avgTimePerFrame, double share) {
  const double scaled = static_cast<double>(avgTimePerFrame) / share;
  if (!std::isfinite(scaled) || scaled >= 9.2e18 || scaled <= -9.2e18) return avgTimePerFrame;
  return static_cast<REFERENCE_TIME>(scaled);
}

}  // namespace

void ChooseSkipPair(double sourceFps, double targetFps, unsigned int* x, unsigned int* y) {
  *x = 0;
  *y = 0;
  if (sourceFps - targetFps < 0.0001) return;
  double best = std::fabs(sourceFps - targetFps);
  for (unsigned int cx = 1; cx <= 5; ++cx) {
    for (unsigned int cy = 2; cy <= 6; ++cy) {
      if (cy <= cx) continue;
      const double d = std::fabs((static_cast<double>(cy - cx) / cy) * sourceFps - targetFps);
      if (d < best) {
        best = d;
        *x = cx;
        *y = cy;
      }
    }
  }
}

std::vector<int> BuildSkipPattern(unsigned int x, unsigned int y) {
  std::vector<int> pattern;
  if (x == 0 || x >= y) return pattern;
  pattern.assign(y, 0);
  const double step = static_cast<double>(y) / x;
  for (unsigned int k = 1; k <= x; ++k) {
    // std::round rounds halves away from zero. Positions count from 1 and never pass y.
    const double position = std::round(k * step);
    if (position >= 1 && position <= y) pattern[static_cast<size_t>(position) - 1] = 1;
  }
  return pattern;
}

// =============================================================================================
// FrameSkippingOutputPin

FrameSkippingOutputPin::FrameSkippingOutputPin(const wchar_t* pObjectName, FrameDropFilter* pFilter, HRESULT* phr,
                                               LPCWSTR pName)
    : CTransInPlaceOutputPin(pObjectName, pFilter, phr, pName), m_pFrameDrop(pFilter) {}

HRESULT FrameSkippingOutputPin::SetMediaType(const CMediaType* pmt) {
  if (!pmt) return E_POINTER;
  const double share = m_pFrameDrop->PassingShare();
  if (share > 0) {
    // The connection code passes its own modifiable copy of the type here and then hands that
    // same object to the downstream pin, which therefore receives the lowered rate.
    auto* type = const_cast<CMediaType*>(pmt);
    if (*type->FormatType() == FORMAT_VideoInfo && type->Format() && type->FormatLength() >= sizeof(VIDEOINFOHEADER)) {
      auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(type->Format());
      vih->AvgTimePerFrame = ScaleFrameDuration(vih->AvgTimePerFrame, share);
    } else if (*type->FormatType() == FORMAT_VideoInfo2 && type->Format() &&
               type->FormatLength() >= sizeof(VIDEOINFOHEADER2)) {
      auto* vih2 = reinterpret_cast<VIDEOINFOHEADER2*>(type->Format());
      vih2->AvgTimePerFrame = ScaleFrameDuration(vih2->AvgTimePerFrame, share);
    }
  }
  return CTransInPlaceOutputPin::SetMediaType(pmt);
}

// =============================================================================================
// FrameDropFilter

CUnknown* FrameDropFilter::CreateInstance(LPUNKNOWN /*pUnk*/, HRESULT* phr) {
  auto* filter = new (std::nothrow) FrameDropFilter;
  if (!filter && phr) *phr = E_OUTOFMEMORY;
  return filter;
}

// Not aggregatable: the controlling IUnknown is always the filter's own.
FrameDropFilter::FrameDropFilter()
    : CTransInPlaceFilter(L"Frame Skipping Filter", nullptr, CLSID_FrameDropFilter, nullptr, false),
      CLockedSettings(GetOwner(), &m_csState) {
  InitParameters();
}

FrameDropFilter::~FrameDropFilter() = default;

STDMETHODIMP FrameDropFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_ISettingsInterface) return GetInterface(static_cast<ISettingsInterface*>(this), ppv);
  if (riid == IID_ISpecifyPropertyPages) return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  return CTransInPlaceFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP FrameDropFilter::GetPages(CAUUID* pPages) { return GetSinglePropertyPage(pPages, CLSID_FrameSkippingProperties); }

void FrameDropFilter::InitParameters() {
  CAutoLock lock(&m_csState);
  AddParameter("skip_frame", &m_nSkipFrame, 0u);
  AddParameter("total_frames", &m_nTotalFrames, 0u);
  AddParameter("source_framerate", &m_dSourceFramerate, 0.0);
  AddParameter("target_framerate", &m_dTargetFramerate, 0.0);
  AddParameter("mode", &m_nMode, 0u);
}

STDMETHODIMP FrameDropFilter::SetParameter(const char* name, const char* value) {
  CAutoLock lock(&m_csState);
  HRESULT hr = CSettingsInterface::SetParameter(name, value);
  if (FAILED(hr)) return hr;
  UpdatePassingShare();
  return S_OK;
}

// The share of frames that the filter will pass, which is what the output pin announces:
//  - pattern mode: the pattern the next Run builds from the two rates passes (y - x) of every y
//    frames; with a target above the source rate no pattern is built and every frame passes.
//    ("skip_frame" and "total_frames" typed by hand do not count: Run replaces them.)
//  - time-stamp mode: about target_framerate frames per second of source_framerate pass.
//  - other modes: every frame passes.
void FrameDropFilter::UpdatePassingShare() {
  const double s = m_dSourceFramerate;
  const double t = m_dTargetFramerate;
  double share = 1.0;
  if (m_nMode == 0) {
    if (!(t > s)) {
      unsigned int x = 0, y = 0;
      ChooseSkipPair(s, t, &x, &y);
      if (x > 0 && x < y) share = static_cast<double>(y - x) / y;
    }
  } else if (m_nMode == 1) {
    if (t > 0 && s > 0 && t < s) share = t / s;
  }
  m_dRatio = share;
}

double FrameDropFilter::PassingShare() {
  CAutoLock lock(&m_csState);
  return m_dRatio;
}

CBasePin* FrameDropFilter::GetPin(int n) {
  return GetPinMaking(n, [this](HRESULT* phr) { return MakeInPlaceInputPin(phr); },
                      [this](HRESULT* phr) {
                        return new (std::nothrow)
                            FrameSkippingOutputPin(L"Frame skipping output pin", this, phr, L"Output");
                      });
}

// Pattern mode: the pair the rates give is written into "skip_frame" and "total_frames" and its
// pattern replaces the old one. Under m_csState.
HRESULT FrameDropFilter::BuildPattern() {
  if (m_nMode != 0) return S_OK;
  const double s = m_dSourceFramerate;
  const double t = m_dTargetFramerate;
  try {
    m_Pattern.clear();
    if (!(t > s)) {
      unsigned int x = 0, y = 0;
      ChooseSkipPair(s, t, &x, &y);
      m_nSkipFrame = x;
      m_nTotalFrames = y;
      m_Pattern = BuildSkipPattern(x, y);
    }
  } catch (const std::bad_alloc&) {
    m_Pattern.clear();
    return E_OUTOFMEMORY;
  }
  // Run without a Stop keeps the position; one outside the new pattern starts it again.
  if (m_nPatternPos >= m_Pattern.size()) m_nPatternPos = 0;
  return S_OK;
}

// Sources start delivering when the graph pauses, before it runs: the pattern is built as the
// filter leaves Stopped too, so that those first frames already follow it. Run builds it again
// from the current rates, keeping the position.
STDMETHODIMP FrameDropFilter::Pause() {
  {
    CAutoLock filterLock(&m_csFilter);
    if (m_State == State_Stopped) {
      CAutoLock lock(&m_csState);
      HRESULT hr = BuildPattern();
      if (FAILED(hr)) return hr;
    }
  }
  return CTransInPlaceFilter::Pause();
}

STDMETHODIMP FrameDropFilter::Run(REFERENCE_TIME tStart) {
  {
    CAutoLock lock(&m_csState);
    HRESULT hr = BuildPattern();
    if (FAILED(hr)) return hr;
  }
  return CTransInPlaceFilter::Run(tStart);
}

void FrameDropFilter::ResetRunState() {
  CAutoLock lock(&m_csState);
  m_nPatternPos = 0;
  m_Pattern.clear();
  m_bStarted = false;
}

// The reset is done again once the base Stop has waited for the Receive in progress: a frame
// that was still on its way would otherwise start the next run's deadline (or pattern position)
// from this run's times.
STDMETHODIMP FrameDropFilter::Stop() {
  ResetRunState();
  HRESULT hr = CTransInPlaceFilter::Stop();
  ResetRunState();
  return hr;
}

HRESULT FrameDropFilter::CheckInputType(const CMediaType* mtIn) {
  if (!mtIn || *mtIn->Type() != MEDIATYPE_Video || *mtIn->FormatType() != FORMAT_VideoInfo)
    return VFW_E_TYPE_NOT_ACCEPTED;
  const GUID& sub = *mtIn->Subtype();
  if (sub != MEDIASUBTYPE_RGB24 && sub != MEDIASUBTYPE_RGB32 && sub != MEDIASUBTYPE_I420) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT FrameDropFilter::Transform(IMediaSample* pSample) {
  if (!pSample) return E_POINTER;
  CAutoLock lock(&m_csState);
  if (m_nMode == 1) {
    const double target = m_dTargetFramerate;
    if (target == 0) return S_OK;
    const double interval = 1.0 / target;
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT hr = pSample->GetTime(&start, &stop);
    if (FAILED(hr)) return hr;
    const double now = static_cast<double>(start) / kUnitsPerSecond;
    if (!m_bStarted) {
      m_dNextDeadline = now + interval;
      m_bStarted = true;
      return S_OK;
    }
    if (now > m_dNextDeadline) {
      // Whole intervals to the first deadline at or after this frame, 1 when that gives 0. Kept
      // in double: a gap of more intervals than a 32-bit count holds must not overflow.
      double n = std::trunc(std::ceil((now - m_dNextDeadline) / interval));
      if (n == 0 || std::isnan(n)) n = 1;
      m_dNextDeadline += n * interval;
      return S_OK;
    }
    return S_FALSE;
  }
  if (m_nMode == 0) {
    if (m_Pattern.empty()) return S_OK;
    if (m_nPatternPos >= m_Pattern.size()) m_nPatternPos = 0;
    const int entry = m_Pattern[m_nPatternPos];
    if (++m_nPatternPos >= m_Pattern.size()) m_nPatternPos = 0;
    return entry == 1 ? S_FALSE : S_OK;
  }
  return S_OK;
}

// RateOverlayFilter: an in-place filter for bottom-up RGB24/RGB32 video that measures the frame
// rate over the last 50 frame intervals, by sample times ("mode" 0) or by the performance
// counter ("mode" 1, the default), and always draws it with two decimals, followed by " fps",
// in green into the passing picture (a 200 x 50 box at "X", "Y"). The figure is published as
// "estimatedframerate". Any other mode freezes the measurement: the last figure keeps being
// drawn. No frame is dropped; parameter changes do not restart the measurement.
#pragma once

#include <memory>
#include <string>

#include "framework/propbase.h"
#include "framework/settings.h"
#include "overlay/common/rateestimator.h"
#include "platform/strmbase/transip.h"
#include "platform/text/textdraw.h"

// {AE80F300-FE37-4246-90F8-8FE64B7CA04B}
PLENOR_GUID(CLSID_RateOverlayFilter, 0xae80f300, 0xfe37, 0x4246, 0x90, 0xf8, 0x8f, 0xe6, 0x4b, 0x7c, 0xa0, 0x4b);
// {11510A1F-F99F-42D0-AD0A-2E911E0449F4}
PLENOR_GUID(CLSID_FramerateDisplayProperties, 0x11510a1f, 0xf99f, 0x42d0, 0xad, 0x0a, 0x2e, 0x91, 0x1e, 0x04, 0x49, 0xf4);

constexpr int IDD_FRAMERATEDISPLAY = 101;
constexpr int IDS_FRAMERATEDISPLAY_TITLE = 102;
constexpr int IDC_FRAMERATE_MODE = 1001;
constexpr int IDC_FRAMERATE_X = 1002;
constexpr int IDC_FRAMERATE_X_SPIN = 1003;
constexpr int IDC_FRAMERATE_Y = 1004;
constexpr int IDC_FRAMERATE_Y_SPIN = 1005;

extern const ui::ModuleResources g_FramerateDisplayResources;

class RateOverlayFilter : public CTransInPlaceFilter, public CLockedSettings, public ISpecifyPropertyPages {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  RateOverlayFilter();
  ~RateOverlayFilter() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  // CSettingsInterface; its calls run under the state lock (the locked base).
  void InitParameters() override;

  // Application thread: empties the window, "estimatedframerate" 0, then the base Stop, then
  // the reset once more (a frame in flight).
  STDMETHODIMP Stop() override;

  // Video, RGB24 or RGB32, FORMAT_VideoInfo, a height of 0 or more (bottom-up rows).
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  // Streaming thread. S_OK or the drawing step's failure.
  HRESULT Transform(IMediaSample* pSample) override;

 private:
  void ResetRunState();

  // Held by Transform while it measures, by Stop and the settings calls; never while drawing or
  // delivering. Order: receive lock, then this.
  CCritSec m_csState;

  unsigned int m_nX = 0;
  unsigned int m_nY = 0;
  double m_dEstimatedFramerate = 0;
  unsigned int m_nMode = 1;

  RateEstimator m_Estimator;
  std::string m_sText;   // streaming thread
  wchar_t m_wText[64];   // streaming thread
  std::unique_ptr<plenor::text::TextRenderer> m_pRenderer;
};

class FramerateDisplayProperties : public FilterPropertiesBase {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  explicit FramerateDisplayProperties(LPUNKNOWN pUnk);

  HRESULT ReadSettings() override;
  HRESULT OnApplyChanges() override;
};

// OverlayKitFilter: an in-place video filter for watching a stream while it runs. By "mode" it
// measures the frame rate (by sample times or by the performance counter), measures the bit
// rate, shows the local time or date and time, or fetches the latest measurement text of the
// nearest OverlayKitFilter upstream; with "writeonframe" set it draws the text in green into the
// passing picture (RGB24/RGB32, a 350 x 50 box at "x", "y"), and it publishes the figures as
// "estimated_framerate" and "estimated_bitrate". Any video subtype passes (compressed video
// too, for measuring a bit rate with drawing off); no frame is dropped. "x", "y" and "mode" are
// saved with the graph (a 12-byte record, or the properties "x", "y", "mode" with their quotes).
//
//   mode 0 "FPS Timestamp (TS)"   1 "FPS Timestamp (ST)"   2 "Time"   3 "DateTime"
//        4 "FPS TS + DateTime"    5 "FPS ST + DateTime"    6 "Measure bitrate"
//        7 "Detect upstream source"                        8 "None" (and any other value)
#pragma once

#include <memory>
#include <string>

#include "framework/infosource.h"
#include "framework/persist.h"
#include "framework/propbase.h"
#include "framework/settings.h"
#include "framework/status.h"
#include "overlay/common/rateestimator.h"
#include "platform/strmbase/transip.h"
#include "platform/text/textdraw.h"

// {7F32F806-55D9-4361-A1EF-E6353787511D}
PLENOR_GUID(CLSID_OverlayKitFilter, 0x7f32f806, 0x55d9, 0x4361, 0xa1, 0xef, 0xe6, 0x35, 0x37, 0x87, 0x51, 0x1d);
// {15CA9C33-5B2A-469B-A0E5-B0FFBF744B9C}
PLENOR_GUID(CLSID_UtilityProperties, 0x15ca9c33, 0x5b2a, 0x469b, 0xa0, 0xe5, 0xb0, 0xff, 0xbf, 0x74, 0x4b, 0x9c);

// Dialog resource, title string and control ids of the page.
constexpr int IDD_UTILITY = 101;
constexpr int IDS_UTILITY_TITLE = 102;
constexpr int IDC_UTILITY_MODE = 1001;
constexpr int IDC_UTILITY_X = 1002;
constexpr int IDC_UTILITY_X_SPIN = 1003;
constexpr int IDC_UTILITY_Y = 1004;
constexpr int IDC_UTILITY_Y_SPIN = 1005;

// The page entries of the modes, in "mode" order.
extern const char* const kOverlayKitModeNames[9];
extern const ui::ModuleResources g_UtilityResources;

class OverlayKitFilter : public CTransInPlaceFilter,
                         public CLockedSettings,
                         public CStatusInterface,
                         public ISpecifyPropertyPages,
                         public IFilterInfoSourceInterface,
                         public CLockedPersistSettings {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  OverlayKitFilter();
  ~OverlayKitFilter() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  STDMETHODIMP GetPages(CAUUID* pPages) override;

  // IFilterInfoSourceInterface: the last text of mode 0, 1 or 6. Any thread (a downstream
  // filter's streaming thread): serialised with the streaming thread's rewrite of the text.
  STDMETHODIMP GetInfoText(char* buffer, int* length) override;

  // CSettingsInterface; its calls and the persistence of "x", "y", "mode" run under the state
  // lock (the locked bases). A successful SetParameter restarts the measurement at the next
  // frame; a failed one gives E_FAIL.
  void InitParameters() override;
  STDMETHODIMP SetParameter(const char* name, const char* value) override;

  // Application thread: empties the window, "estimated_framerate" 0 ("estimated_bitrate" keeps
  // its value), then the base Stop, then the window emptied once more (a frame in flight).
  STDMETHODIMP Stop() override;

  // Video with FORMAT_VideoInfo or FORMAT_VideoInfo2, any subtype.
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  // Streaming thread. S_OK or a failure; never S_FALSE.
  HRESULT Transform(IMediaSample* pSample) override;

 private:
  // Streaming thread: the nearest filter upstream offering IFilterInfoSourceInterface.
  HRESULT FindUpstreamSource();

  // Held by Transform while it measures and builds its text, by Stop, the settings and the
  // persistence calls; never while a sample is delivered or drawn on. Order: receive lock, then
  // this, then m_csInfo.
  CCritSec m_csState;
  // Guards m_sInfo: the streaming thread writes it, GetInfoText reads it from another thread.
  CCritSec m_csInfo;

  unsigned int m_nX = 0;
  unsigned int m_nY = 0;
  double m_dEstimatedFramerate = -1;
  double m_dEstimatedBitrate = -1;
  unsigned int m_nMode = 1;
  bool m_bWriteOnFrame = true;
  unsigned int m_nPrecision = 1;
  unsigned int m_nHistorySize = 200;

  RateEstimator m_Estimator;
  LONGLONG m_llFrequency = 0;
  std::string m_sInfo;   // served by GetInfoText
  std::string m_sText;   // the text being built (streaming thread)
  std::string m_sFigure; // a formatted figure (streaming thread)
  wchar_t m_wText[512];  // the wide text drawn (streaming thread)
  char m_fetch[256];     // the upstream text (streaming thread)

  ComPtr<IFilterInfoSourceInterface> m_pUpstream;
  HRESULT m_hrDetection = S_OK;
  std::unique_ptr<plenor::text::TextRenderer> m_pRenderer;
};

class UtilityProperties : public FilterPropertiesBase {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  explicit UtilityProperties(LPUNKNOWN pUnk);

  HRESULT ReadSettings() override;
  // Writes "mode", "x", "y"; the results are not looked at. S_OK.
  HRESULT OnApplyChanges() override;
};

// FrameDropFilter: lowers the frame rate of a video stream by not passing some frames on. Frames
// are delivered untouched with their own time stamps, or dropped.
//
// "mode" 0 (pattern mode): at each start of running a fixed pattern "drop x of every y" is chosen
// from "source_framerate" and "target_framerate" and applied cyclically; x and y are written into
// "skip_frame" and "total_frames". "mode" 1 (time-stamp mode): a frame passes when its start time
// lies beyond the next deadline of a grid spaced one target frame interval apart. Any other mode
// passes every frame.
//
// The output pin (FrameSkippingOutputPin) announces the lowered rate: the AvgTimePerFrame of the
// type it agrees with downstream is divided by the share of frames that pass.
#pragma once

#include <vector>

#include "framework/propbase.h"
#include "framework/settings.h"
#include "platform/strmbase/transip.h"

// {06EC3624-EFDB-4182-91E7-E23C38881617}
PLENOR_GUID(CLSID_FrameDropFilter, 0x06ec3624, 0xefdb, 0x4182, 0x91, 0xe7, 0xe2, 0x3c, 0x38, 0x88, 0x16, 0x17);
// {8BA2E6CC-599E-4B40-91CB-AB0E61B2E5C7}
PLENOR_GUID(CLSID_FrameSkippingProperties, 0x8ba2e6cc, 0x599e, 0x4b40, 0x91, 0xcb, 0xab, 0x0e, 0x61, 0xb2, 0xe5, 0xc7);

// Dialog resource, title string and control ids of the page.
constexpr int IDD_FRAMESKIPPING = 101;
constexpr int IDS_FRAMESKIPPING_TITLE = 102;
constexpr int IDC_FRAMESKIP_MODE = 1001;
constexpr int IDC_FRAMESKIP_SKIP = 1002;
constexpr int IDC_FRAMESKIP_SKIP_SPIN = 1003;
constexpr int IDC_FRAMESKIP_TOTAL = 1004;
constexpr int IDC_FRAMESKIP_TOTAL_SPIN = 1005;
constexpr int IDC_FRAMESKIP_TARGET = 1006;
constexpr int IDC_FRAMESKIP_TARGET_SPIN = 1007;

extern const ui::ModuleResources g_FrameSkippingResources;

// The pair (x, y), "drop x of every y", that best turns sourceFps into targetFps: (0, 0) when the
// rates are within 0.0001 of each other, otherwise the first pair of x = 1..5, y = 2..6, y > x
// whose passing rate ((y - x) / y) * sourceFps comes strictly closest to targetFps, or (0, 0) when
// none is closer than passing every frame. The caller has checked targetFps <= sourceFps.
void ChooseSkipPair(double sourceFps, double targetFps, unsigned int* x, unsigned int* y);
// The pattern of (x, y): y entries, 1 (drop) at positions round(k * y / x) for k = 1..x (counting
// from 1), 0 (pass) elsewhere. Empty when x is 0 or x >= y.
std::vector<int> BuildSkipPattern(unsigned int x, unsigned int y);

class FrameDropFilter;

class FrameSkippingOutputPin : public CTransInPlaceOutputPin {
 public:
  FrameSkippingOutputPin(const wchar_t* pObjectName, FrameDropFilter* pFilter, HRESULT* phr, LPCWSTR pName);

  // Graph thread, while connecting. With a passing share above 0 and a FORMAT_VideoInfo or
  // FORMAT_VideoInfo2 block of full length, AvgTimePerFrame is divided by the share in the very
  // type object given (the framework hands that object on to the downstream pin), then the base.
  HRESULT SetMediaType(const CMediaType* pmt) override;

 private:
  FrameDropFilter* m_pFrameDrop;
};

class FrameDropFilter : public CTransInPlaceFilter, public CLockedSettings, public ISpecifyPropertyPages {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  FrameDropFilter();
  ~FrameDropFilter() override;

  DECLARE_IUNKNOWN
  // ISettingsInterface, ISpecifyPropertyPages, then the base filter's interfaces.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // ISpecifyPropertyPages: FrameSkippingProperties.
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  // CSettingsInterface. Every access to the parameters runs under the state lock (see m_csState;
  // the locked base takes it for the interface calls).
  void InitParameters() override;
  // The base operation; after a successful write the passing share is recomputed.
  STDMETHODIMP SetParameter(const char* name, const char* value) override;

  // Both pins on the first call; the output pin is a FrameSkippingOutputPin.
  CBasePin* GetPin(int n) override;
  // Application thread. Pattern mode: chooses and builds the pattern when leaving Stopped, then
  // the base Pause.
  STDMETHODIMP Pause() override;
  // Application thread. Pattern mode: chooses and builds the pattern, then the base Run.
  STDMETHODIMP Run(REFERENCE_TIME tStart) override;
  // Application thread. Pattern and position back to the start, time-stamp mode unstarted, then
  // the base Stop (which waits for a Receive in progress), then the reset once more.
  STDMETHODIMP Stop() override;

  // Video RGB24, RGB32 or I420 with FORMAT_VideoInfo; VFW_E_TYPE_NOT_ACCEPTED otherwise.
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  // Streaming thread: S_OK passes the frame, S_FALSE drops it; a frame without a start time in
  // time-stamp mode fails with the error of reading its times.
  HRESULT Transform(IMediaSample* pSample) override;

  // The share of frames the filter passes with its current parameters (1: all of them).
  double PassingShare();

 private:
  // Recomputes m_dRatio from the parameters. Under m_csState.
  void UpdatePassingShare();
  // Pattern and position back to the start, time-stamp mode unstarted.
  void ResetRunState();
  // Pattern mode: chooses the pair, writes it into the parameters and builds its pattern.
  // Under m_csState.
  HRESULT BuildPattern();

  // The state lock. Transform (streaming thread, under the receive lock) decides each frame under
  // it; Run, Stop and every parameter read or write (application threads) make their changes
  // under it. So Transform never sees a pattern, position, deadline or parameter half written,
  // and the settings maps are never read while written. It is held only for those short steps
  // and nothing is called out of the filter while it is held, so it cannot block behind a
  // downstream Receive the way the receive lock would (a renderer waiting for its clock, or a
  // paused graph): a page's Apply never waits for the stream. Order: receive lock, then this.
  CCritSec m_csState;

  // Parameters.
  unsigned int m_nSkipFrame = 0;
  unsigned int m_nTotalFrames = 0;
  double m_dSourceFramerate = 0;
  double m_dTargetFramerate = 0;
  unsigned int m_nMode = 0;

  // Per-run state.
  std::vector<int> m_Pattern;     // 1 drop, 0 pass, one entry per frame of the cycle
  unsigned int m_nPatternPos = 0;
  double m_dRatio = 1.0;          // share of frames passed: announced by the output pin
  bool m_bStarted = false;        // time-stamp mode has seen its first frame since Stop
  double m_dNextDeadline = 0;     // seconds
};

class FrameSkippingProperties : public FilterPropertiesBase {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  explicit FrameSkippingProperties(LPUNKNOWN pUnk);

  HRESULT ReadSettings() override;
  // Writes "mode" (its result is not looked at), then the three fields in order: the first failed
  // field write is what Apply reports.
  HRESULT OnApplyChanges() override;
};

// TimeShiftFilter: moves the start and stop times of passing video samples by a fixed signed
// offset ("skewTimestamp", in 100-ns units), so that one stream can be delayed or advanced
// against others. The data is never touched and no sample is dropped. A sample is shifted only
// when its start lies after the unshifted start of the last shifted sample (so a run's first
// sample at time 0, and repeated or earlier times, keep their own times). Stop sets the offset
// back to 0. The offset is saved with the graph as the property "TIME SKEW" (quotes included).
#pragma once

#include "framework/persist.h"
#include "framework/propbase.h"
#include "framework/settings.h"
#include "platform/strmbase/transip.h"

// {793C7079-3497-475C-8B7A-E918B64A918B}
PLENOR_GUID(CLSID_TimeShiftFilter, 0x793c7079, 0x3497, 0x475c, 0x8b, 0x7a, 0xe9, 0x18, 0xb6, 0x4a, 0x91, 0x8b);
// {635EE7C1-DFBB-4B0C-A4C5-D999FF7019E9}
PLENOR_GUID(CLSID_SkewingProperties, 0x635ee7c1, 0xdfbb, 0x4b0c, 0xa4, 0xc5, 0xd9, 0x99, 0xff, 0x70, 0x19, 0xe9);

// Dialog resource, title string and control ids of the page.
constexpr int IDD_SKEWING = 101;
constexpr int IDS_SKEWING_TITLE = 102;
constexpr int IDC_SKEW = 1001;
constexpr int IDC_SKEW_SPIN = 1002;
constexpr int IDC_SKEW_UNIT = 1003;

extern const ui::ModuleResources g_SkewingResources;

class TimeShiftFilter : public CTransInPlaceFilter,
                        public CLockedSettings,
                        public ISpecifyPropertyPages,
                        public CLockedPersistSettings {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  TimeShiftFilter();
  ~TimeShiftFilter() override;

  DECLARE_IUNKNOWN
  // Persistence (property bags, stream), ISettingsInterface, ISpecifyPropertyPages, then the base
  // filter's interfaces. No status interface.
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // ISpecifyPropertyPages: SkewingProperties.
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  // CSettingsInterface. Its calls and the persistence calls (which read or write the offset
  // directly) run under the state lock (see m_csState), through the locked bases.
  void InitParameters() override;

  // Application thread: offset and last start back to 0 (the settings stay clean), then the base
  // Stop (which waits for a Receive in progress), then the reset once more.
  STDMETHODIMP Stop() override;

  // E_INVALIDARG for null; video with FORMAT_VideoInfo or FORMAT_VideoInfo2, any subtype;
  // VFW_E_TYPE_NOT_ACCEPTED otherwise.
  HRESULT CheckInputType(const CMediaType* mtIn) override;
  // Streaming thread: shifts the sample's times when its start lies after the last shifted
  // sample's. Always S_OK.
  HRESULT Transform(IMediaSample* pSample) override;

 private:
  // The state lock. Transform (streaming thread, under the receive lock) reads the offset and
  // reads and writes the last start under it; Stop, the settings calls and the persistence
  // calls (application threads) read and write the offset under it. It is held only for those
  // steps, never while a sample is delivered, so a settings write never waits for a downstream
  // Receive (a renderer waiting for its clock, or a paused graph). Order: receive lock, then this.
  // The property-bag load and save call the host's bag while holding it; the bag must not wait
  // for this filter's streaming thread.
  CCritSec m_csState;

  // Offset and last start back to 0.
  void ResetRunState();

  int m_nSkew = 0;                  // "skewTimestamp", 100-ns units
  REFERENCE_TIME m_tLastStart = 0;  // unshifted start of the last shifted sample
};

class SkewingProperties : public FilterPropertiesBase {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  explicit SkewingProperties(LPUNKNOWN pUnk);

  HRESULT ReadSettings() override;
  // Writes the field; the write's result is not looked at. S_OK.
  HRESULT OnApplyChanges() override;
};

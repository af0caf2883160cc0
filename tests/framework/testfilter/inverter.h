// A small RGB24 filter built the way the suite's deliverables are: CCustomBaseFilter with an
// input-type table and ApplyTransform, parameters registered in InitParameters, settings
// persistence from a table, a property page on FilterPropertiesBase with its dialog template and
// title string declared in code, and a factory-template table (module.cpp) for the test module.
//
// Each output byte is min(255, input byte x "gain"), inverted (255 - value) when "invert" is set.
#pragma once

#include "framework/custombase.h"
#include "framework/persist.h"
#include "framework/propbase.h"

// {40CD7C03-9898-4E54-9DCC-18DFB0D6B23B}
PLENOR_GUID(CLSID_TestInverter, 0x40cd7c03, 0x9898, 0x4e54, 0x9d, 0xcc, 0x18, 0xdf, 0xb0, 0xd6, 0xb2, 0x3b);
// {73A646A1-390A-429F-B92A-FBCBE65F7366}
PLENOR_GUID(CLSID_TestInverterProperties, 0x73a646a1, 0x390a, 0x429f, 0xb9, 0x2a, 0xfb, 0xcb, 0xe6, 0x5f, 0x73, 0x66);

// Dialog resource, title string and control ids of the page.
constexpr int IDD_INVERTER = 101;
constexpr int IDS_INVERTER_TITLE = 102;
constexpr int IDC_GAIN = 1001;
constexpr int IDC_GAIN_SPIN = 1002;
constexpr int IDC_INVERT = 1003;

extern const ui::ModuleResources g_InverterResources;

class CTestInverter : public CCustomBaseFilter, public ISpecifyPropertyPages, public CPersistSettings {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  CTestInverter();

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // ISpecifyPropertyPages
  STDMETHODIMP GetPages(CAUUID* pPages) override;

  // CSettingsInterface
  void InitParameters() override;

  // CCustomBaseFilter
  void InitialiseInputTypes() override;
  HRESULT ApplyTransform(BYTE* pIn, LONG lInBufferSize, LONG lInDataLength, BYTE* pOut, LONG lOutBufferSize,
                         LONG& lOutDataLength) override;
  HRESULT CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) override;
  HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) override;
  HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;

  // Recorded sizes, for tests.
  int InWidth() const { return m_nInWidth; }
  int InHeight() const { return m_nInHeight; }
  int InPixels() const { return m_nInPixels; }
  const VIDEOINFOHEADER& InFormat() const { return m_vihIn; }
  using CCustomBaseFilter::AddInputType;

  int m_nGain = 1;
  bool m_bInvert = true;
};

class CTestInverterProperties : public FilterPropertiesBase {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  explicit CTestInverterProperties(LPUNKNOWN pUnk);

  HRESULT ReadSettings() override;
  HRESULT OnApplyChanges() override;
};

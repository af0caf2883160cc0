// YuvProperties: the raw YUV source's property page ("Ravik YUV Source Filter Properties").
// A drop-down list of picture sizes bound to "sourcedimensions" (its first item, "Select", is no
// size and is refused when applied), two radio buttons bound to "yuv_format" and an FPS edit with
// a spin control (1 ... 60) bound to "fps". User-interface thread.
#pragma once

#include "framework/propbase.h"

// Dialog resource, title string and control ids of the page.
constexpr int IDD_YUVPROPERTIES = 102;
constexpr int IDS_YUVPROPERTIES_TITLE = 101;
constexpr int IDC_YUV_SOURCEDIMENSIONS = 1001;
constexpr int IDC_YUV_FORMAT420 = 1002;
constexpr int IDC_YUV_FORMAT444 = 1003;
constexpr int IDC_YUV_FPS = 1004;
constexpr int IDC_YUV_FPS_SPIN = 1005;

class YuvProperties : public FilterPropertiesBase {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  explicit YuvProperties(LPUNKNOWN pUnk);

  // Fills the size list ("Select" selected), sets the spin range and the FPS text "30", then
  // shows "yuv_format", "sourcedimensions" and "fps"; the first two stop the reading with E_FAIL
  // when they cannot be read, the last one's result is returned.
  HRESULT ReadSettings() override;
  // Writes "yuv_format" from the first checked button (result not looked at), then
  // "sourcedimensions" from the list (E_FAIL when refused, as "Select" is), then "fps", whose
  // result is returned.
  HRESULT OnApplyChanges() override;
};

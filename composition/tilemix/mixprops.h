// VideoMixingProperties: the property page of TileMixFilter ("Ravik Video Mixing Filter
// Properties"): two radio buttons, "Horizontal" (orientation 0) and "Vertical" (orientation 1).
// User-interface thread.
#pragma once

#include "framework/propbase.h"

constexpr int IDD_VIDEOMIXING = 101;
constexpr int IDS_VIDEOMIXING_TITLE = 102;
constexpr int IDC_HORIZONTAL = 1002;
constexpr int IDC_VERTICAL = 1003;

extern const ui::ModuleResources g_VideoMixingResources;

class VideoMixingProperties : public FilterPropertiesBase {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  explicit VideoMixingProperties(LPUNKNOWN pUnk);

  // Selects the button of "orientation"; E_FAIL when it cannot be read.
  HRESULT ReadSettings() override;
  // Writes the index of the first selected button (nothing when none is); S_OK.
  HRESULT OnApplyChanges() override;
};

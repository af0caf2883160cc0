// PicInPicProperties: the property page of InsetVideoFilter ("Ravik Pic in Pic Properties").
// Seven edit fields with up-down controls (range 0 ... 65535): target width and height, sub-picture
// width and height, offsets x and y, border width. User-interface thread.
#pragma once

#include "framework/propbase.h"

constexpr int IDD_PICINPIC = 9;
constexpr int IDS_PICINPIC_TITLE = 102;
constexpr int IDC_TARGET_WIDTH = 1001;
constexpr int IDC_TARGET_WIDTH_SPIN = 1002;
constexpr int IDC_TARGET_HEIGHT = 1003;
constexpr int IDC_TARGET_HEIGHT_SPIN = 1004;
constexpr int IDC_SUBPIC_WIDTH = 1005;
constexpr int IDC_SUBPIC_WIDTH_SPIN = 1006;
constexpr int IDC_SUBPIC_HEIGHT = 1007;
constexpr int IDC_SUBPIC_HEIGHT_SPIN = 1008;
constexpr int IDC_OFFSET_X = 1009;
constexpr int IDC_OFFSET_X_SPIN = 1010;
constexpr int IDC_OFFSET_Y = 1011;
constexpr int IDC_OFFSET_Y_SPIN = 1012;
constexpr int IDC_BORDER_WIDTH = 1013;
constexpr int IDC_BORDER_WIDTH_SPIN = 1014;

extern const ui::ModuleResources g_PicInPicResources;

class PicInPicProperties : public FilterPropertiesBase {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  explicit PicInPicProperties(LPUNKNOWN pUnk);

  // Spin ranges, then the values in the order target height, target width, sub-picture width
  // and height, offsets, border width; E_FAIL at the first that cannot be read.
  HRESULT ReadSettings() override;
  // Writes the seven fields in the order target width, target height, sub-picture width and
  // height, offsets, border width; stops at and returns the first failure.
  HRESULT OnApplyChanges() override;
};

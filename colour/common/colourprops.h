// The property page of both conversion filters: a chrominance offset (edit 1002 with up-down
// 1004, range 0 ... 32767) bound to "chrominanceoffset" and an "Invert image" check box (1001)
// bound to "invert". RGB2YUVProperties and YUV2RGBProperties differ only in their title; each
// module declares its own dialog (resource 102, built from kColourPageControls) and title
// string (resource 101).
//
// Reading shows the offset, then ticks the box when the text of "invert" does not start with
// '0'; a read that fails returns E_FAIL and leaves the remaining controls as they are. Applying
// writes "chrominanceoffset" from the edit, then "invert" as "true" or "false"; the results are
// not looked at and the apply returns S_OK. User-interface thread.
#pragma once

#include "framework/propbase.h"
#include "platform/ui/dialogres.h"

constexpr int IDD_COLOUR_PAGE = 102;
constexpr int IDS_COLOUR_PAGE_TITLE = 101;
constexpr int IDC_COLOUR_INVERT = 1001;
constexpr int IDC_COLOUR_OFFSET = 1002;
constexpr int IDC_COLOUR_OFFSET_SPIN = 1004;
constexpr int kColourOffsetMax = 32767;

// Dialog size in dialog units.
constexpr short kColourPageWidth = 186;
constexpr short kColourPageHeight = 93;

inline constexpr ui::DialogControl kColourPageControls[] = {
    ui::LText("Chrominance offset:", IDC_STATIC, 7, 10, 68, 8),
    ui::EditText(IDC_COLOUR_OFFSET, 78, 8, 50, 14, ES_NUMBER | ES_AUTOHSCROLL),
    ui::UpDown(IDC_COLOUR_OFFSET_SPIN, UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS),
    ui::AutoCheckBox("Invert image", IDC_COLOUR_INVERT, 7, 30, 80, 10),
};

class ColourPropertiesBase : public FilterPropertiesBase {
 public:
  HRESULT ReadSettings() override;
  HRESULT OnApplyChanges() override;

 protected:
  // pResources: the module's dialog IDD_COLOUR_PAGE and title string IDS_COLOUR_PAGE_TITLE.
  ColourPropertiesBase(LPUNKNOWN pUnk, const ui::ModuleResources* pResources);
};

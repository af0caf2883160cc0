// FramerateDisplayProperties: the clock and the text offsets of RateOverlayFilter.
#include <new>

#include "overlay/rateoverlay/rateoverlay.h"

namespace {

constexpr DWORD kSpinStyle = UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS;

constexpr ui::DialogControl kFramerateControls[] = {
    ui::LText("Mode:", IDC_STATIC, 7, 10, 50, 8),
    ui::ComboBox(IDC_FRAMERATE_MODE, 60, 8, 110, 40),
    ui::LText("Offset X:", IDC_STATIC, 7, 30, 50, 8),
    ui::EditText(IDC_FRAMERATE_X, 60, 28, 50, 14, ES_AUTOHSCROLL | ES_NUMBER),
    ui::UpDown(IDC_FRAMERATE_X_SPIN, kSpinStyle),
    ui::LText("Offset Y:", IDC_STATIC, 7, 50, 50, 8),
    ui::EditText(IDC_FRAMERATE_Y, 60, 48, 50, 14, ES_AUTOHSCROLL | ES_NUMBER),
    ui::UpDown(IDC_FRAMERATE_Y_SPIN, kSpinStyle),
};
constexpr ui::DialogTemplate kFramerateDialogs[] = {
    {IDD_FRAMERATEDISPLAY, DS_PROPPAGE_STYLE, 180, 72, "MS Shell Dlg", 8, "", kFramerateControls},
};
constexpr ui::StringResource kFramerateStrings[] = {
    {IDS_FRAMERATEDISPLAY_TITLE, "Vintar Framerate Estimator Filter Properties"},
};

constexpr const char* kModeNames[] = {"FPS Timestamp (TS)", "FPS Timestamp (ST)"};

constexpr FilterPropertiesBase::ParameterField kFields[] = {
    {IDC_FRAMERATE_X, IDC_FRAMERATE_X_SPIN, "X"},
    {IDC_FRAMERATE_Y, IDC_FRAMERATE_Y_SPIN, "Y"},
};

}  // namespace

const ui::ModuleResources g_FramerateDisplayResources{kFramerateDialogs, kFramerateStrings};

CUnknown* FramerateDisplayProperties::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* page = new (std::nothrow) FramerateDisplayProperties(pUnk);
  if (!page && phr) *phr = E_OUTOFMEMORY;
  return page;
}

FramerateDisplayProperties::FramerateDisplayProperties(LPUNKNOWN pUnk)
    : FilterPropertiesBase(pUnk, IDD_FRAMERATEDISPLAY, IDS_FRAMERATEDISPLAY_TITLE, &g_FramerateDisplayResources) {}

HRESULT FramerateDisplayProperties::ReadSettings() {
  return ShowModeAndFields(IDC_FRAMERATE_MODE, kModeNames, 2, kFields);
}

HRESULT FramerateDisplayProperties::OnApplyChanges() {
  return ApplyModeAndFields(IDC_FRAMERATE_MODE, kFields, false);
}

// UtilityProperties: the mode and the text offsets of OverlayKitFilter.
#include <new>

#include "overlay/overlaykit/overlaykit.h"

namespace {

constexpr DWORD kSpinStyle = UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS;

constexpr ui::DialogControl kUtilityControls[] = {
    ui::LText("Mode:", IDC_STATIC, 7, 10, 50, 8),
    ui::ComboBox(IDC_UTILITY_MODE, 60, 8, 110, 120),
    ui::LText("Offset X:", IDC_STATIC, 7, 30, 50, 8),
    ui::EditText(IDC_UTILITY_X, 60, 28, 50, 14, ES_AUTOHSCROLL | ES_NUMBER),
    ui::UpDown(IDC_UTILITY_X_SPIN, kSpinStyle),
    ui::LText("Offset Y:", IDC_STATIC, 7, 50, 50, 8),
    ui::EditText(IDC_UTILITY_Y, 60, 48, 50, 14, ES_AUTOHSCROLL | ES_NUMBER),
    ui::UpDown(IDC_UTILITY_Y_SPIN, kSpinStyle),
};
constexpr ui::DialogTemplate kUtilityDialogs[] = {
    {IDD_UTILITY, DS_PROPPAGE_STYLE, 180, 72, "MS Shell Dlg", 8, "", kUtilityControls},
};
constexpr ui::StringResource kUtilityStrings[] = {
    {IDS_UTILITY_TITLE, "Ravik Utility Filter Properties"},
};

constexpr FilterPropertiesBase::ParameterField kFields[] = {
    {IDC_UTILITY_X, IDC_UTILITY_X_SPIN, "x"},
    {IDC_UTILITY_Y, IDC_UTILITY_Y_SPIN, "y"},
};

}  // namespace

const ui::ModuleResources g_UtilityResources{kUtilityDialogs, kUtilityStrings};

CUnknown* UtilityProperties::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* page = new (std::nothrow) UtilityProperties(pUnk);
  if (!page && phr) *phr = E_OUTOFMEMORY;
  return page;
}

UtilityProperties::UtilityProperties(LPUNKNOWN pUnk)
    : FilterPropertiesBase(pUnk, IDD_UTILITY, IDS_UTILITY_TITLE, &g_UtilityResources) {}

HRESULT UtilityProperties::ReadSettings() {
  return ShowModeAndFields(IDC_UTILITY_MODE, kOverlayKitModeNames, 9, kFields);
}

HRESULT UtilityProperties::OnApplyChanges() {
  return ApplyModeAndFields(IDC_UTILITY_MODE, kFields, false);
}

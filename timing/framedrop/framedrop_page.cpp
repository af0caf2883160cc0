// FrameSkippingProperties: the mode, the pattern and the target rate of FrameDropFilter.
#include <new>

#include "timing/framedrop/framedrop.h"

namespace {

constexpr DWORD kSpinStyle = UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS;

constexpr ui::DialogControl kFrameSkippingControls[] = {
    ui::LText("Mode:", IDC_STATIC, 7, 10, 70, 8),
    ui::ComboBox(IDC_FRAMESKIP_MODE, 80, 8, 100, 100),
    ui::LText("Skip Frames:", IDC_STATIC, 7, 30, 70, 8),
    ui::EditText(IDC_FRAMESKIP_SKIP, 80, 28, 50, 14, ES_AUTOHSCROLL | ES_NUMBER),
    ui::UpDown(IDC_FRAMESKIP_SKIP_SPIN, kSpinStyle),
    ui::LText("Every Frames:", IDC_STATIC, 7, 50, 70, 8),
    ui::EditText(IDC_FRAMESKIP_TOTAL, 80, 48, 50, 14, ES_AUTOHSCROLL | ES_NUMBER),
    ui::UpDown(IDC_FRAMESKIP_TOTAL_SPIN, kSpinStyle),
    ui::LText("Target Frame Rate:", IDC_STATIC, 7, 70, 70, 8),
    // A real number ("29.97"): digits-only would refuse the decimal point.
    ui::EditText(IDC_FRAMESKIP_TARGET, 80, 68, 50, 14, ES_AUTOHSCROLL),
    ui::UpDown(IDC_FRAMESKIP_TARGET_SPIN, kSpinStyle),
};
constexpr ui::DialogTemplate kFrameSkippingDialogs[] = {
    {IDD_FRAMESKIPPING, DS_PROPPAGE_STYLE, 200, 92, "MS Shell Dlg", 8, "", kFrameSkippingControls},
};
constexpr ui::StringResource kFrameSkippingStrings[] = {
    {IDS_FRAMESKIPPING_TITLE, "Ravik FrameSkip Properties"},
};

constexpr const char* kModeNames[] = {"Skip x every y", "Target Fps based"};

// The text fields and their parameters, in the order they are shown and written.
constexpr FilterPropertiesBase::ParameterField kFields[] = {
    {IDC_FRAMESKIP_SKIP, IDC_FRAMESKIP_SKIP_SPIN, "skip_frame"},
    {IDC_FRAMESKIP_TOTAL, IDC_FRAMESKIP_TOTAL_SPIN, "total_frames"},
    {IDC_FRAMESKIP_TARGET, IDC_FRAMESKIP_TARGET_SPIN, "target_framerate"},
};

}  // namespace

const ui::ModuleResources g_FrameSkippingResources{kFrameSkippingDialogs, kFrameSkippingStrings};

CUnknown* FrameSkippingProperties::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* page = new (std::nothrow) FrameSkippingProperties(pUnk);
  if (!page && phr) *phr = E_OUTOFMEMORY;
  return page;
}

FrameSkippingProperties::FrameSkippingProperties(LPUNKNOWN pUnk)
    : FilterPropertiesBase(pUnk, IDD_FRAMESKIPPING, IDS_FRAMESKIPPING_TITLE, &g_FrameSkippingResources) {}

HRESULT FrameSkippingProperties::ReadSettings() {
  return ShowModeAndFields(IDC_FRAMESKIP_MODE, kModeNames, 9, kFields);
}

HRESULT FrameSkippingProperties::OnApplyChanges() {
  return ApplyModeAndFields(IDC_FRAMESKIP_MODE, kFields, true);
}

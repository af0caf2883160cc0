// FrameSkippingProperties: the mode, the pattern and the target rate of FrameDropFilter.
#include <cstdlib>
#include <new>
#include <string>

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
struct Field {
  int edit;
  int spin;
  const char* parameter;
};
constexpr Field kFields[] = {
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
  SendDlgItemMessage(m_hwnd, IDC_FRAMESKIP_MODE, CB_RESETCONTENT, 0, 0);
  SendDlgItemMessage(m_hwnd, IDC_FRAMESKIP_MODE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kModeNames[0]));
  SendDlgItemMessage(m_hwnd, IDC_FRAMESKIP_MODE, CB_SETCURSEL, 0, 0);
  SendDlgItemMessage(m_hwnd, IDC_FRAMESKIP_MODE, CB_INSERTSTRING, 1, reinterpret_cast<LPARAM>(kModeNames[1]));
  SendDlgItemMessage(m_hwnd, IDC_FRAMESKIP_MODE, CB_SETMINVISIBLE, 9, 0);
  for (const Field& f : kFields) SendDlgItemMessage(m_hwnd, f.spin, UDM_SETRANGE32, 0, 32767);

  char value[256];
  int length = 0;
  if (FAILED(m_pSettings->GetParameter("mode", sizeof value, value, &length))) return E_FAIL;
  const unsigned long mode = std::strtoul(value, nullptr, 10);
  if (mode < sizeof kModeNames / sizeof kModeNames[0])
    SendDlgItemMessage(m_hwnd, IDC_FRAMESKIP_MODE, CB_SETCURSEL, static_cast<WPARAM>(mode), 0);

  for (const Field& f : kFields) {
    if (FAILED(m_pSettings->GetParameter(f.parameter, sizeof value, value, &length))) return E_FAIL;
    SetDlgItemText(m_hwnd, f.edit, value);
  }
  return S_OK;
}

HRESULT FrameSkippingProperties::OnApplyChanges() {
  const LRESULT selected = SendDlgItemMessage(m_hwnd, IDC_FRAMESKIP_MODE, CB_GETCURSEL, 0, 0);
  // The mode's write result is not looked at; the text fields decide what Apply reports.
  m_pSettings->SetParameter("mode", std::to_string(selected).c_str());

  HRESULT hr = S_OK;
  char value[256];
  for (const Field& f : kFields) {
    GetDlgItemText(m_hwnd, f.edit, value, sizeof value);
    hr = m_pSettings->SetParameter(f.parameter, value);
    if (FAILED(hr)) return hr;
  }
  return hr;
}

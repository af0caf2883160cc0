// FramerateDisplayProperties: the clock and the text offsets of RateOverlayFilter.
#include <cstdlib>
#include <new>
#include <string>

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

struct Field {
  int edit;
  int spin;
  const char* parameter;
};
constexpr Field kFields[] = {
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
  SendDlgItemMessage(m_hwnd, IDC_FRAMERATE_MODE, CB_RESETCONTENT, 0, 0);
  SendDlgItemMessage(m_hwnd, IDC_FRAMERATE_MODE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kModeNames[0]));
  SendDlgItemMessage(m_hwnd, IDC_FRAMERATE_MODE, CB_SETCURSEL, 0, 0);
  SendDlgItemMessage(m_hwnd, IDC_FRAMERATE_MODE, CB_INSERTSTRING, 1, reinterpret_cast<LPARAM>(kModeNames[1]));
  SendDlgItemMessage(m_hwnd, IDC_FRAMERATE_MODE, CB_SETMINVISIBLE, 2, 0);
  for (const Field& f : kFields) SendDlgItemMessage(m_hwnd, f.spin, UDM_SETRANGE32, 0, 32767);

  char value[256];
  int length = 0;
  if (FAILED(m_pSettings->GetParameter("mode", sizeof value, value, &length))) return E_FAIL;
  const unsigned long mode = std::strtoul(value, nullptr, 10);
  if (mode < 2) SendDlgItemMessage(m_hwnd, IDC_FRAMERATE_MODE, CB_SETCURSEL, static_cast<WPARAM>(mode), 0);
  for (const Field& f : kFields) {
    if (FAILED(m_pSettings->GetParameter(f.parameter, sizeof value, value, &length))) return E_FAIL;
    SetDlgItemText(m_hwnd, f.edit, value);
  }
  return S_OK;
}

HRESULT FramerateDisplayProperties::OnApplyChanges() {
  const LRESULT selected = SendDlgItemMessage(m_hwnd, IDC_FRAMERATE_MODE, CB_GETCURSEL, 0, 0);
  m_pSettings->SetParameter("mode", std::to_string(selected).c_str());
  char value[256];
  for (const Field& f : kFields) {
    GetDlgItemText(m_hwnd, f.edit, value, sizeof value);
    m_pSettings->SetParameter(f.parameter, value);
  }
  return S_OK;
}

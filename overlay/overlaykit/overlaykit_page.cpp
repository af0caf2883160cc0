// UtilityProperties: the mode and the text offsets of OverlayKitFilter.
#include <cstdlib>
#include <new>
#include <string>

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

struct Field {
  int edit;
  int spin;
  const char* parameter;
};
constexpr Field kFields[] = {
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
  SendDlgItemMessage(m_hwnd, IDC_UTILITY_MODE, CB_RESETCONTENT, 0, 0);
  for (const char* name : kOverlayKitModeNames)
    SendDlgItemMessage(m_hwnd, IDC_UTILITY_MODE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  SendDlgItemMessage(m_hwnd, IDC_UTILITY_MODE, CB_SETCURSEL, 0, 0);
  SendDlgItemMessage(m_hwnd, IDC_UTILITY_MODE, CB_SETMINVISIBLE, 9, 0);
  for (const Field& f : kFields) SendDlgItemMessage(m_hwnd, f.spin, UDM_SETRANGE32, 0, 32767);

  char value[256];
  int length = 0;
  if (FAILED(m_pSettings->GetParameter("mode", sizeof value, value, &length))) return E_FAIL;
  const unsigned long mode = std::strtoul(value, nullptr, 10);
  if (mode <= 8) SendDlgItemMessage(m_hwnd, IDC_UTILITY_MODE, CB_SETCURSEL, static_cast<WPARAM>(mode), 0);
  for (const Field& f : kFields) {
    if (FAILED(m_pSettings->GetParameter(f.parameter, sizeof value, value, &length))) return E_FAIL;
    SetDlgItemText(m_hwnd, f.edit, value);
  }
  return S_OK;
}

HRESULT UtilityProperties::OnApplyChanges() {
  const LRESULT selected = SendDlgItemMessage(m_hwnd, IDC_UTILITY_MODE, CB_GETCURSEL, 0, 0);
  m_pSettings->SetParameter("mode", std::to_string(selected).c_str());
  char value[256];
  for (const Field& f : kFields) {
    GetDlgItemText(m_hwnd, f.edit, value, sizeof value);
    m_pSettings->SetParameter(f.parameter, value);
  }
  return S_OK;
}

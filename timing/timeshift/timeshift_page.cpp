// SkewingProperties: the time offset of TimeShiftFilter.
#include <new>

#include "timing/timeshift/timeshift.h"

namespace {

constexpr ui::DialogControl kSkewingControls[] = {
    ui::LText("Skew Timestamp:", IDC_STATIC, 7, 10, 60, 8),
    // Signed: digits-only would refuse the minus sign.
    ui::EditText(IDC_SKEW, 70, 8, 50, 14, ES_AUTOHSCROLL),
    ui::UpDown(IDC_SKEW_SPIN, UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS),
    // The value is in reference-time units (100 ns each), added to the times unscaled.
    ui::LText("x 100 ns", IDC_SKEW_UNIT, 125, 10, 50, 8),
};
constexpr ui::DialogTemplate kSkewingDialogs[] = {
    {IDD_SKEWING, DS_PROPPAGE_STYLE, 185, 32, "MS Shell Dlg", 8, "", kSkewingControls},
};
constexpr ui::StringResource kSkewingStrings[] = {
    {IDS_SKEWING_TITLE, "Ravik Skewing Filter Properties"},
};

}  // namespace

const ui::ModuleResources g_SkewingResources{kSkewingDialogs, kSkewingStrings};

CUnknown* SkewingProperties::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* page = new (std::nothrow) SkewingProperties(pUnk);
  if (!page && phr) *phr = E_OUTOFMEMORY;
  return page;
}

SkewingProperties::SkewingProperties(LPUNKNOWN pUnk)
    : FilterPropertiesBase(pUnk, IDD_SKEWING, IDS_SKEWING_TITLE, &g_SkewingResources) {}

HRESULT SkewingProperties::ReadSettings() {
  SendDlgItemMessage(m_hwnd, IDC_SKEW_SPIN, UDM_SETRANGE32, static_cast<WPARAM>(-32767), 32767);
  char value[256];
  int length = 0;
  if (FAILED(m_pSettings->GetParameter("skewTimestamp", sizeof value, value, &length))) return E_FAIL;
  SetDlgItemText(m_hwnd, IDC_SKEW, value);
  return S_OK;
}

HRESULT SkewingProperties::OnApplyChanges() {
  char value[256];
  GetDlgItemText(m_hwnd, IDC_SKEW, value, sizeof value);
  m_pSettings->SetParameter("skewTimestamp", value);
  return S_OK;
}

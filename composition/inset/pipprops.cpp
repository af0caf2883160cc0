#include "composition/inset/pipprops.h"

#include <new>

namespace {

struct Field {
  const char* parameter;
  int edit;
  int spin;
};
// In the order OnApplyChanges writes them.
constexpr Field kFields[] = {
    {"target_width", IDC_TARGET_WIDTH, IDC_TARGET_WIDTH_SPIN},
    {"target_height", IDC_TARGET_HEIGHT, IDC_TARGET_HEIGHT_SPIN},
    {"sub_pic_width", IDC_SUBPIC_WIDTH, IDC_SUBPIC_WIDTH_SPIN},
    {"sub_pic_height", IDC_SUBPIC_HEIGHT, IDC_SUBPIC_HEIGHT_SPIN},
    {"offset_x", IDC_OFFSET_X, IDC_OFFSET_X_SPIN},
    {"offset_y", IDC_OFFSET_Y, IDC_OFFSET_Y_SPIN},
    {"border_width", IDC_BORDER_WIDTH, IDC_BORDER_WIDTH_SPIN},
};
// ReadSettings shows the target height before the target width.
constexpr int kReadOrder[] = {1, 0, 2, 3, 4, 5, 6};

constexpr DWORD kSpinStyle = UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS;

constexpr ui::DialogControl kPicInPicControls[] = {
    ui::LText("Target Width:", IDC_STATIC, 7, 10, 70, 8),
    ui::EditText(IDC_TARGET_WIDTH, 80, 8, 50, 14, ES_AUTOHSCROLL),
    ui::UpDown(IDC_TARGET_WIDTH_SPIN, kSpinStyle),
    ui::LText("Target Height:", IDC_STATIC, 7, 28, 70, 8),
    ui::EditText(IDC_TARGET_HEIGHT, 80, 26, 50, 14, ES_AUTOHSCROLL),
    ui::UpDown(IDC_TARGET_HEIGHT_SPIN, kSpinStyle),
    ui::LText("Use 0 for populating input video size.", IDC_STATIC, 140, 10, 90, 24),
    ui::LText("Subpicture Width:", IDC_STATIC, 7, 46, 70, 8),
    ui::EditText(IDC_SUBPIC_WIDTH, 80, 44, 50, 14, ES_AUTOHSCROLL),
    ui::UpDown(IDC_SUBPIC_WIDTH_SPIN, kSpinStyle),
    ui::LText("Subpicture Height:", IDC_STATIC, 7, 64, 70, 8),
    ui::EditText(IDC_SUBPIC_HEIGHT, 80, 62, 50, 14, ES_AUTOHSCROLL),
    ui::UpDown(IDC_SUBPIC_HEIGHT_SPIN, kSpinStyle),
    ui::LText("Offset X:", IDC_STATIC, 7, 82, 70, 8),
    ui::EditText(IDC_OFFSET_X, 80, 80, 50, 14, ES_AUTOHSCROLL),
    ui::UpDown(IDC_OFFSET_X_SPIN, kSpinStyle),
    ui::LText("Offset Y:", IDC_STATIC, 7, 100, 70, 8),
    ui::EditText(IDC_OFFSET_Y, 80, 98, 50, 14, ES_AUTOHSCROLL),
    ui::UpDown(IDC_OFFSET_Y_SPIN, kSpinStyle),
    ui::LText("Border width:", IDC_STATIC, 7, 118, 70, 8),
    ui::EditText(IDC_BORDER_WIDTH, 80, 116, 50, 14, ES_AUTOHSCROLL),
    ui::UpDown(IDC_BORDER_WIDTH_SPIN, kSpinStyle),
};
constexpr ui::DialogTemplate kPicInPicDialogs[] = {
    {IDD_PICINPIC, DS_PROPPAGE_STYLE, 240, 140, "MS Shell Dlg", 8, "", kPicInPicControls},
};
constexpr ui::StringResource kPicInPicStrings[] = {
    {IDS_PICINPIC_TITLE, "Ravik Pic in Pic Properties"},
};

}  // namespace

const ui::ModuleResources g_PicInPicResources{kPicInPicDialogs, kPicInPicStrings};

CUnknown* PicInPicProperties::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* page = new (std::nothrow) PicInPicProperties(pUnk);
  if (!page && phr) *phr = E_OUTOFMEMORY;
  return page;
}

PicInPicProperties::PicInPicProperties(LPUNKNOWN pUnk)
    : FilterPropertiesBase(pUnk, IDD_PICINPIC, IDS_PICINPIC_TITLE, &g_PicInPicResources) {}

HRESULT PicInPicProperties::ReadSettings() {
  INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&icc);
  for (const Field& f : kFields) SendDlgItemMessage(m_hwnd, f.spin, UDM_SETRANGE, 0, MAKELPARAM(0xFFFF, 0));
  if (!m_pSettings) return E_FAIL;
  for (int i : kReadOrder) {
    char value[256];
    int length = 0;
    if (FAILED(m_pSettings->GetParameter(kFields[i].parameter, sizeof value, value, &length))) return E_FAIL;
    SetDlgItemText(m_hwnd, kFields[i].edit, value);
  }
  return S_OK;
}

HRESULT PicInPicProperties::OnApplyChanges() {
  if (!m_pSettings) return E_FAIL;
  for (const Field& f : kFields) {
    char value[257];
    GetDlgItemText(m_hwnd, f.edit, value, sizeof value);
    const HRESULT hr = m_pSettings->SetParameter(f.parameter, value);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

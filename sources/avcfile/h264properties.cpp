#include "sources/avcfile/h264properties.h"

#include <new>

namespace {

constexpr ui::DialogControl kControls[] = {
    ui::LText("Source Dimensions:", IDC_STATIC, 7, 10, 70, 8),
    ui::ComboBox(IDC_H264_SOURCEDIMENSIONS, 80, 8, 70, 80, CBS_DROPDOWNLIST | WS_VSCROLL | WS_DISABLED),
    ui::LText("FPS:", IDC_STATIC, 7, 30, 70, 8),
    ui::EditText(IDC_H264_FPS, 80, 28, 40, 14, ES_AUTOHSCROLL | ES_NUMBER),
    ui::UpDown(IDC_H264_FPS_SPIN, UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS),
    ui::AutoCheckBox("Use Quelt H264 Decoder", IDC_H264_USEQUELT, 7, 50, 120, 10),
};
constexpr ui::DialogTemplate kDialogs[] = {
    {IDD_H264PROPERTIES, DS_PROPPAGE_STYLE, 170, 70, "MS Shell Dlg", 8, "", kControls},
};
constexpr ui::StringResource kStrings[] = {
    {IDS_H264PROPERTIES_TITLE, "Ravik H264 Source Filter Properties"},
};
constexpr ui::ModuleResources kResources{kDialogs, kStrings};

}  // namespace

CUnknown* H264Properties::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* page = new (std::nothrow) H264Properties(pUnk);
  if (!page && phr) *phr = E_OUTOFMEMORY;
  return page;
}

H264Properties::H264Properties(LPUNKNOWN pUnk)
    : FilterPropertiesBase(pUnk, IDD_H264PROPERTIES, IDS_H264PROPERTIES_TITLE, &kResources) {}

HRESULT H264Properties::ReadSettings() {
  if (!m_pSettings) return E_UNEXPECTED;
  char value[256];
  int length = 0;
  if (SUCCEEDED(m_pSettings->GetParameter("usequelth264", sizeof value, value, &length)))
    CheckDlgButton(m_hwnd, IDC_H264_USEQUELT, value[0] == '0' ? BST_UNCHECKED : BST_CHECKED);

  if (SUCCEEDED(m_pSettings->GetParameter("fps", sizeof value, value, &length)))
    SetDlgItemText(m_hwnd, IDC_H264_FPS, value);

  HRESULT hr = m_pSettings->GetParameter("sourcedimensions", sizeof value, value, &length);
  if (FAILED(hr)) return hr;
  SendDlgItemMessage(m_hwnd, IDC_H264_SOURCEDIMENSIONS, CB_RESETCONTENT, 0, 0);
  SendDlgItemMessage(m_hwnd, IDC_H264_SOURCEDIMENSIONS, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(value));
  SendDlgItemMessage(m_hwnd, IDC_H264_SOURCEDIMENSIONS, CB_SETCURSEL, 0, 0);
  return S_OK;
}

HRESULT H264Properties::OnApplyChanges() {
  if (!m_pSettings) return E_UNEXPECTED;
  const bool checked = IsDlgButtonChecked(m_hwnd, IDC_H264_USEQUELT) == BST_CHECKED;
  return m_pSettings->SetParameter("usequelth264", checked ? "true" : "false");
}

#include "sources/rawframe/yuvproperties.h"

#include <cstdlib>
#include <new>

namespace {

constexpr const char* kSizes[] = {"Select", "176x144", "320x240", "352x288", "704x576"};

constexpr ui::DialogControl kControls[] = {
    ui::LText("Source Dimensions:", IDC_STATIC, 7, 10, 70, 8),
    ui::ComboBox(IDC_YUV_SOURCEDIMENSIONS, 80, 8, 70, 80),
    ui::LText("YUV Input Format:", IDC_STATIC, 7, 30, 70, 8),
    ui::AutoRadioButton("4:2:0 Planar", IDC_YUV_FORMAT420, 80, 30, 80, 10, WS_GROUP | WS_TABSTOP),
    ui::AutoRadioButton("4:4:4 Interleaved", IDC_YUV_FORMAT444, 80, 42, 80, 10),
    ui::LText("FPS:", IDC_STATIC, 7, 62, 70, 8),
    ui::EditText(IDC_YUV_FPS, 80, 60, 40, 14, ES_AUTOHSCROLL | ES_NUMBER),
    ui::UpDown(IDC_YUV_FPS_SPIN, UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS),
};
constexpr ui::DialogTemplate kDialogs[] = {
    {IDD_YUVPROPERTIES, DS_PROPPAGE_STYLE, 170, 84, "MS Shell Dlg", 8, "", kControls},
};
constexpr ui::StringResource kStrings[] = {
    {IDS_YUVPROPERTIES_TITLE, "Ravik YUV Source Filter Properties"},
};
constexpr ui::ModuleResources kResources{kDialogs, kStrings};

}  // namespace

CUnknown* YuvProperties::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* page = new (std::nothrow) YuvProperties(pUnk);
  if (!page && phr) *phr = E_OUTOFMEMORY;
  return page;
}

YuvProperties::YuvProperties(LPUNKNOWN pUnk)
    : FilterPropertiesBase(pUnk, IDD_YUVPROPERTIES, IDS_YUVPROPERTIES_TITLE, &kResources) {}

HRESULT YuvProperties::ReadSettings() {
  if (!m_pSettings) return E_UNEXPECTED;
  SendDlgItemMessage(m_hwnd, IDC_YUV_SOURCEDIMENSIONS, CB_RESETCONTENT, 0, 0);
  for (const char* size : kSizes)
    SendDlgItemMessage(m_hwnd, IDC_YUV_SOURCEDIMENSIONS, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(size));
  SendDlgItemMessage(m_hwnd, IDC_YUV_SOURCEDIMENSIONS, CB_SETMINVISIBLE, 5, 0);
  SendDlgItemMessage(m_hwnd, IDC_YUV_SOURCEDIMENSIONS, CB_SETCURSEL, 0, 0);
  SendDlgItemMessage(m_hwnd, IDC_YUV_FPS_SPIN, UDM_SETRANGE, 0, MAKELPARAM(60, 1));
  SetDlgItemText(m_hwnd, IDC_YUV_FPS, "30");

  char value[256];
  int length = 0;
  if (FAILED(m_pSettings->GetParameter("yuv_format", sizeof value, value, &length))) return E_FAIL;
  const unsigned long format = std::strtoul(value, nullptr, 10);
  if (format <= 1)
    CheckRadioButton(m_hwnd, IDC_YUV_FORMAT420, IDC_YUV_FORMAT444, IDC_YUV_FORMAT420 + static_cast<int>(format));

  if (FAILED(m_pSettings->GetParameter("sourcedimensions", sizeof value, value, &length))) return E_FAIL;
  const LRESULT item = SendDlgItemMessage(m_hwnd, IDC_YUV_SOURCEDIMENSIONS, CB_FINDSTRINGEXACT,
                                          static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(value));
  if (item != CB_ERR) SendDlgItemMessage(m_hwnd, IDC_YUV_SOURCEDIMENSIONS, CB_SETCURSEL, static_cast<WPARAM>(item), 0);

  HRESULT hr = m_pSettings->GetParameter("fps", sizeof value, value, &length);
  if (SUCCEEDED(hr)) SetDlgItemText(m_hwnd, IDC_YUV_FPS, value);
  return hr;
}

HRESULT YuvProperties::OnApplyChanges() {
  if (!m_pSettings) return E_UNEXPECTED;
  if (IsDlgButtonChecked(m_hwnd, IDC_YUV_FORMAT420) == BST_CHECKED)
    m_pSettings->SetParameter("yuv_format", "0");
  else if (IsDlgButtonChecked(m_hwnd, IDC_YUV_FORMAT444) == BST_CHECKED)
    m_pSettings->SetParameter("yuv_format", "1");

  char value[256] = "";
  const LRESULT item = SendDlgItemMessage(m_hwnd, IDC_YUV_SOURCEDIMENSIONS, CB_GETCURSEL, 0, 0);
  if (item != CB_ERR) {
    const LRESULT length =
        SendDlgItemMessage(m_hwnd, IDC_YUV_SOURCEDIMENSIONS, CB_GETLBTEXTLEN, static_cast<WPARAM>(item), 0);
    if (length >= 0 && length < static_cast<LRESULT>(sizeof value))
      SendDlgItemMessage(m_hwnd, IDC_YUV_SOURCEDIMENSIONS, CB_GETLBTEXT, static_cast<WPARAM>(item),
                         reinterpret_cast<LPARAM>(value));
  }
  if (FAILED(m_pSettings->SetParameter("sourcedimensions", value))) return E_FAIL;

  GetDlgItemText(m_hwnd, IDC_YUV_FPS, value, sizeof value);
  return m_pSettings->SetParameter("fps", value);
}

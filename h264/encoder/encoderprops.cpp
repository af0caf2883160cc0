#include "h264/encoder/encoderprops.h"

#include <new>
#include <string>

namespace {

constexpr DWORD kSpinStyle = UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS;
constexpr DWORD kNumber = ES_AUTOHSCROLL | ES_NUMBER;

constexpr ui::DialogControl kEncoderControls[] = {
    ui::LText("Mode of operation:", IDC_STATIC, 7, 10, 90, 8),
    ui::ComboBox(IDC_H264_MODE, 100, 8, 50, 60),
    ui::LText("Frame bit limit:", IDC_STATIC, 7, 28, 90, 8),
    ui::EditText(IDC_H264_FRAMEBITLIMIT, 100, 26, 50, 14, kNumber),
    ui::UpDown(IDC_H264_FRAMEBITLIMIT_SPIN, kSpinStyle),
    ui::LText("Quality:", IDC_STATIC, 7, 46, 90, 8),
    ui::EditText(IDC_H264_QUALITY, 100, 44, 50, 14, kNumber),
    ui::UpDown(IDC_H264_QUALITY_SPIN, kSpinStyle),
    ui::LText("I-frame period:", IDC_STATIC, 7, 64, 90, 8),
    ui::EditText(IDC_H264_IFRAMEPERIOD, 100, 62, 50, 14, kNumber),
    ui::UpDown(IDC_H264_IFRAMEPERIOD_SPIN, kSpinStyle),
    ui::LText("I-picture multiplier:", IDC_STATIC, 7, 82, 90, 8),
    ui::EditText(IDC_H264_IPICMULT, 100, 80, 50, 14, kNumber),
    ui::UpDown(IDC_H264_IPICMULT_SPIN, kSpinStyle),
    ui::LText("max bits per frame:", IDC_STATIC, 7, 100, 90, 8),
    ui::EditText(IDC_H264_MAXBITS, 100, 98, 50, 14, kNumber),
    ui::UpDown(IDC_H264_MAXBITS_SPIN, kSpinStyle),
    ui::LText("num rate control frames:", IDC_STATIC, 7, 118, 90, 8),
    ui::EditText(IDC_H264_RCFRAMES, 100, 116, 50, 14, kNumber),
    ui::UpDown(IDC_H264_RCFRAMES_SPIN, kSpinStyle),
    ui::LText("max distortion:", IDC_STATIC, 7, 136, 90, 8),
    ui::EditText(IDC_H264_MAXDIST, 100, 134, 50, 14, kNumber),
    ui::UpDown(IDC_H264_MAXDIST_SPIN, kSpinStyle),
    ui::LText("ipicture dmax:", IDC_STATIC, 7, 154, 90, 8),
    ui::EditText(IDC_H264_DMAXMULT, 100, 152, 20, 14, kNumber),
    ui::UpDown(IDC_H264_DMAXMULT_SPIN, kSpinStyle),
    ui::LText(".", IDC_STATIC, 124, 154, 6, 8),
    ui::EditText(IDC_H264_DMAXFRAC, 130, 152, 20, 14, kNumber),
    ui::UpDown(IDC_H264_DMAXFRAC_SPIN, kSpinStyle),
    ui::LText("minimum intra qp:", IDC_STATIC, 7, 172, 90, 8),
    ui::EditText(IDC_H264_MININTRAQP, 100, 170, 50, 14, kNumber),
    ui::UpDown(IDC_H264_MININTRAQP_SPIN, kSpinStyle),
    ui::LText("minimum inter qp:", IDC_STATIC, 7, 190, 90, 8),
    ui::EditText(IDC_H264_MININTERQP, 100, 188, 50, 14, kNumber),
    ui::UpDown(IDC_H264_MININTERQP_SPIN, kSpinStyle),
    ui::LText("rate overshoot percent:", IDC_STATIC, 7, 208, 90, 8),
    ui::EditText(IDC_H264_OVERSHOOT, 100, 206, 50, 14, kNumber),
    ui::UpDown(IDC_H264_OVERSHOOT_SPIN, kSpinStyle),
    ui::AutoCheckBox("Notify on I-frame", IDC_H264_NOTIFY, 7, 226, 100, 10),
    ui::LText("Output Media Type:", IDC_STATIC, 7, 242, 90, 8),
    ui::AutoRadioButton("MEDIASUBTYPE_PLENOR_H264", IDC_H264_TYPE_PLENOR, 7, 254, 140, 10, WS_GROUP | WS_TABSTOP),
    ui::AutoRadioButton("MEDIASUBTYPE_H264", IDC_H264_TYPE_H264, 7, 266, 140, 10),
    ui::AutoRadioButton("MEDIASUBTYPE_AVC1", IDC_H264_TYPE_AVC1, 7, 278, 140, 10),
};
constexpr ui::DialogTemplate kEncoderDialogs[] = {
    {IDD_H264_ENCODER, DS_PROPPAGE_STYLE, 170, 296, "MS Shell Dlg", 8, "", kEncoderControls},
};
constexpr ui::StringResource kEncoderStrings[] = {
    {IDS_H264_ENCODER_TITLE, "Ravik H264 Encoder Properties"},
};
const ui::ModuleResources g_EncoderResources{kEncoderDialogs, kEncoderStrings};

constexpr const char* kModes[] = {"0", "1", "2"};
constexpr int kRadios[] = {IDC_H264_TYPE_PLENOR, IDC_H264_TYPE_H264, IDC_H264_TYPE_AVC1};

// An edit with its spin, the parameter it shows and the spin's 16-bit range (none: the spin
// keeps its default range).
struct Field {
  int edit;
  int spin;
  const char* parameter;
  bool hasRange;
  WORD lower, upper;
};
constexpr Field kFramebitlimit{IDC_H264_FRAMEBITLIMIT, IDC_H264_FRAMEBITLIMIT_SPIN, "framebitlimit", true, 0, 0xFFFF};
constexpr Field kQuality{IDC_H264_QUALITY, IDC_H264_QUALITY_SPIN, "quality", true, 0, 51};
constexpr Field kIFramePeriod{IDC_H264_IFRAMEPERIOD, IDC_H264_IFRAMEPERIOD_SPIN, "iframeperiod", true, 0, 0xFFFF};
constexpr Field kIPicMultiplier{IDC_H264_IPICMULT, IDC_H264_IPICMULT_SPIN, "ipicturemultiplier", false, 0, 0};
// The rate-control fields, shown after the multiplier and written after "usems264".
constexpr Field kRateFields[] = {
    {IDC_H264_MAXBITS, IDC_H264_MAXBITS_SPIN, "max bits per frame", true, 0, 0xFFFF},
    {IDC_H264_RCFRAMES, IDC_H264_RCFRAMES_SPIN, "num rate control frames", true, 0, 9999},
    {IDC_H264_MAXDIST, IDC_H264_MAXDIST_SPIN, "max distortion", true, 0, 0xFFFF},
    {IDC_H264_DMAXMULT, IDC_H264_DMAXMULT_SPIN, "ipicture dmax multiplier", true, 0, 9},
    {IDC_H264_DMAXFRAC, IDC_H264_DMAXFRAC_SPIN, "ipicture dmax fraction", true, 0, 9},
    {IDC_H264_MININTRAQP, IDC_H264_MININTRAQP_SPIN, "minimum intra qp", true, 0, 51},
    {IDC_H264_MININTERQP, IDC_H264_MININTERQP_SPIN, "minimum inter qp", true, 0, 51},
    {IDC_H264_OVERSHOOT, IDC_H264_OVERSHOOT_SPIN, "rate overshoot percent", true, 0, 1000},
};

}  // namespace

CUnknown* H264EncoderProperties::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* page = new (std::nothrow) H264EncoderProperties(pUnk);
  if (!page && phr) *phr = E_OUTOFMEMORY;
  return page;
}

H264EncoderProperties::H264EncoderProperties(LPUNKNOWN pUnk)
    : FilterPropertiesBase(pUnk, IDD_H264_ENCODER, IDS_H264_ENCODER_TITLE, &g_EncoderResources) {}

void H264EncoderProperties::PrepareControls() {
  SendDlgItemMessage(m_hwnd, IDC_H264_MODE, CB_RESETCONTENT, 0, 0);
  for (const char* mode : kModes)
    SendDlgItemMessage(m_hwnd, IDC_H264_MODE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(mode));
  SendDlgItemMessage(m_hwnd, IDC_H264_MODE, CB_SETCURSEL, 0, 0);
  SendDlgItemMessage(m_hwnd, IDC_H264_MODE, CB_SETMINVISIBLE, 3, 0);
  for (const Field* f : {&kFramebitlimit, &kQuality, &kIFramePeriod})
    SendDlgItemMessage(m_hwnd, f->spin, UDM_SETRANGE, 0, MAKELPARAM(f->upper, f->lower));
  for (const Field& f : kRateFields) SendDlgItemMessage(m_hwnd, f.spin, UDM_SETRANGE, 0, MAKELPARAM(f.upper, f.lower));
}

HRESULT H264EncoderProperties::ReadSettings() {
  PrepareControls();
  char value[256];
  int length = 0;
  // The item whose text is exactly the value; any other value leaves "0" selected.
  if (SUCCEEDED(m_pSettings->GetParameter("mode of operation", sizeof value, value, &length))) {
    const LRESULT item = SendDlgItemMessage(m_hwnd, IDC_H264_MODE, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                            reinterpret_cast<LPARAM>(value));
    if (item != CB_ERR) SendDlgItemMessage(m_hwnd, IDC_H264_MODE, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
  }

  for (const Field* f : {&kFramebitlimit, &kQuality, &kIFramePeriod, &kIPicMultiplier}) {
    if (FAILED(m_pSettings->GetParameter(f->parameter, sizeof value, value, &length))) return E_FAIL;
    SetDlgItemText(m_hwnd, f->edit, value);
  }
  if (SUCCEEDED(m_pSettings->GetParameter("notifyoniframe", sizeof value, value, &length)))
    CheckDlgButton(m_hwnd, IDC_H264_NOTIFY, value[0] != '0' ? BST_CHECKED : BST_UNCHECKED);
  for (const Field& f : kRateFields) {
    if (FAILED(m_pSettings->GetParameter(f.parameter, sizeof value, value, &length))) return E_FAIL;
    SetDlgItemText(m_hwnd, f.edit, value);
  }
  if (FAILED(m_pSettings->GetParameter("h264_output_type", sizeof value, value, &length))) return E_FAIL;
  const std::string type = value;
  for (int i = 0; i < 3; ++i)
    CheckDlgButton(m_hwnd, kRadios[i], type == std::to_string(i) ? BST_CHECKED : BST_UNCHECKED);
  return S_OK;
}

HRESULT H264EncoderProperties::OnApplyChanges() {
  char value[256] = {};
  const LRESULT selected = SendDlgItemMessage(m_hwnd, IDC_H264_MODE, CB_GETCURSEL, 0, 0);
  if (selected >= 0) SendDlgItemMessage(m_hwnd, IDC_H264_MODE, CB_GETLBTEXT, static_cast<WPARAM>(selected),
                                        reinterpret_cast<LPARAM>(value));
  HRESULT hr = m_pSettings->SetParameter("mode of operation", value);
  if (FAILED(hr)) return hr;
  for (const Field* f : {&kFramebitlimit, &kQuality, &kIFramePeriod}) {
    GetDlgItemText(m_hwnd, f->edit, value, sizeof value);
    hr = m_pSettings->SetParameter(f->parameter, value);
    if (FAILED(hr)) return hr;
  }
  hr = m_pSettings->SetParameter("notifyoniframe",
                                 IsDlgButtonChecked(m_hwnd, IDC_H264_NOTIFY) == BST_CHECKED ? "true" : "false");
  if (FAILED(hr)) return hr;
  m_pSettings->SetParameter("usems264", "false");
  for (const Field& f : kRateFields) {
    GetDlgItemText(m_hwnd, f.edit, value, sizeof value);
    hr = m_pSettings->SetParameter(f.parameter, value);
    if (FAILED(hr)) return hr;
  }
  for (int i = 0; i < 3; ++i)
    if (IsDlgButtonChecked(m_hwnd, kRadios[i]) == BST_CHECKED)
      return m_pSettings->SetParameter("h264_output_type", std::to_string(i).c_str());
  return S_OK;
}

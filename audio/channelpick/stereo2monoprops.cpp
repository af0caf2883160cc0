#include "audio/channelpick/stereo2monoprops.h"

#include <new>

#include "platform/com/decimal.h"

namespace {

constexpr int kChannelMax = 32767;

constexpr ui::DialogControl kStereo2MonoControls[] = {
    ui::LText("Channel:", IDC_STATIC, 7, 10, 40, 8),
    ui::EditText(IDC_CHANNEL, 50, 8, 50, 14, ES_AUTOHSCROLL),
    ui::UpDown(IDC_CHANNEL_SPIN, UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS),
};
constexpr ui::DialogTemplate kStereo2MonoDialogs[] = {
    {IDD_STEREO2MONO, DS_PROPPAGE_STYLE, 170, 102, "MS Shell Dlg", 8, "", kStereo2MonoControls},
};
constexpr ui::StringResource kStereo2MonoStrings[] = {
    {IDS_STEREO2MONO_TITLE, "Ravik STEREO2MONO Properties"},
};

}  // namespace

const ui::ModuleResources g_Stereo2MonoResources{kStereo2MonoDialogs, kStereo2MonoStrings};

CUnknown* Stereo2MonoProperties::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* page = new (std::nothrow) Stereo2MonoProperties(pUnk);
  if (!page && phr) *phr = E_OUTOFMEMORY;
  return page;
}

Stereo2MonoProperties::Stereo2MonoProperties(LPUNKNOWN pUnk)
    : FilterPropertiesBase(pUnk, IDD_STEREO2MONO, IDS_STEREO2MONO_TITLE, &g_Stereo2MonoResources) {}

HRESULT Stereo2MonoProperties::ReadSettings() {
  SendDlgItemMessage(m_hwnd, IDC_CHANNEL_SPIN, UDM_SETRANGE32, 0, kChannelMax);
  char value[256];
  int length = 0;
  if (!m_pSettings || FAILED(m_pSettings->GetParameter("channel", sizeof value, value, &length))) return E_FAIL;
  SetDlgItemText(m_hwnd, IDC_CHANNEL, value);
  m_nChannel = plenor::ClampedDecimal<int>(value);
  return S_OK;
}

HRESULT Stereo2MonoProperties::OnApplyChanges() {
  char value[257];
  GetDlgItemText(m_hwnd, IDC_CHANNEL, value, sizeof value);
  m_nChannel = plenor::ClampedDecimal<int>(value);
  if (m_pSettings) m_pSettings->SetParameter("channel", value);
  return S_OK;
}

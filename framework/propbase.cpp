#include "framework/propbase.h"

#include <cstdlib>
#include <string>

FilterPropertiesBase::FilterPropertiesBase(LPUNKNOWN pUnk, int DialogId, int TitleId,
                                           const ui::ModuleResources* pResources)
    : CBasePropertyPage(nullptr, pUnk, DialogId, TitleId, pResources) {}

FilterPropertiesBase::~FilterPropertiesBase() = default;

HRESULT FilterPropertiesBase::OnConnect(IUnknown* pUnknown) {
  if (!pUnknown) return E_POINTER;
  ComPtr<ISettingsInterface> settings;
  HRESULT hr = pUnknown->QueryInterface(IID_ISettingsInterface, settings.AsOut());
  m_pSettings = std::move(settings);
  return hr;
}

HRESULT FilterPropertiesBase::OnDisconnect() {
  m_pSettings = nullptr;
  return S_OK;
}

HRESULT FilterPropertiesBase::OnActivate() {
  INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
  if (!InitCommonControlsEx(&icc)) return E_FAIL;
  return ReadSettings();
}

INT_PTR FilterPropertiesBase::OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  m_bDirty = TRUE;
  if (m_pPageSite) m_pPageSite->OnStatusChange(PROPPAGESTATUS_DIRTY);
  return CBasePropertyPage::OnReceiveMessage(hwnd, uMsg, wParam, lParam);
}

HRESULT FilterPropertiesBase::ShowModeAndFields(int combo, std::span<const char* const> modes, int visible,
                                                std::span<const ParameterField> fields) {
  SendDlgItemMessage(m_hwnd, combo, CB_RESETCONTENT, 0, 0);
  for (const char* name : modes) SendDlgItemMessage(m_hwnd, combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  SendDlgItemMessage(m_hwnd, combo, CB_SETCURSEL, 0, 0);
  SendDlgItemMessage(m_hwnd, combo, CB_SETMINVISIBLE, static_cast<WPARAM>(visible), 0);
  for (const ParameterField& f : fields) SendDlgItemMessage(m_hwnd, f.spin, UDM_SETRANGE32, 0, 32767);

  char value[256];
  int length = 0;
  if (FAILED(m_pSettings->GetParameter("mode", sizeof value, value, &length))) return E_FAIL;
  const unsigned long mode = std::strtoul(value, nullptr, 10);
  if (mode < modes.size()) SendDlgItemMessage(m_hwnd, combo, CB_SETCURSEL, static_cast<WPARAM>(mode), 0);
  for (const ParameterField& f : fields) {
    if (FAILED(m_pSettings->GetParameter(f.parameter, sizeof value, value, &length))) return E_FAIL;
    SetDlgItemText(m_hwnd, f.edit, value);
  }
  return S_OK;
}

HRESULT FilterPropertiesBase::ApplyModeAndFields(int combo, std::span<const ParameterField> fields,
                                                 bool stopOnFailure) {
  const LRESULT selected = SendDlgItemMessage(m_hwnd, combo, CB_GETCURSEL, 0, 0);
  m_pSettings->SetParameter("mode", std::to_string(selected).c_str());
  char value[256];
  for (const ParameterField& f : fields) {
    GetDlgItemText(m_hwnd, f.edit, value, sizeof value);
    const HRESULT hr = m_pSettings->SetParameter(f.parameter, value);
    if (stopOnFailure && FAILED(hr)) return hr;
  }
  return S_OK;
}

#include "framework/propbase.h"

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

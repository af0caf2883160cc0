#include "composition/tilemix/mixprops.h"

#include <cstdlib>
#include <new>
#include <string>

namespace {

constexpr ui::DialogControl kVideoMixingControls[] = {
    ui::AutoRadioButton("Horizontal", IDC_HORIZONTAL, 7, 10, 80, 10, WS_GROUP | WS_TABSTOP),
    ui::AutoRadioButton("Vertical", IDC_VERTICAL, 7, 24, 80, 10),
};
constexpr ui::DialogTemplate kVideoMixingDialogs[] = {
    {IDD_VIDEOMIXING, DS_PROPPAGE_STYLE, 120, 50, "MS Shell Dlg", 8, "", kVideoMixingControls},
};
constexpr ui::StringResource kVideoMixingStrings[] = {
    {IDS_VIDEOMIXING_TITLE, "Ravik Video Mixing Filter Properties"},
};

}  // namespace

const ui::ModuleResources g_VideoMixingResources{kVideoMixingDialogs, kVideoMixingStrings};

CUnknown* VideoMixingProperties::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* page = new (std::nothrow) VideoMixingProperties(pUnk);
  if (!page && phr) *phr = E_OUTOFMEMORY;
  return page;
}

VideoMixingProperties::VideoMixingProperties(LPUNKNOWN pUnk)
    : FilterPropertiesBase(pUnk, IDD_VIDEOMIXING, IDS_VIDEOMIXING_TITLE, &g_VideoMixingResources) {}

HRESULT VideoMixingProperties::ReadSettings() {
  char value[256];
  int length = 0;
  if (!m_pSettings || FAILED(m_pSettings->GetParameter("orientation", sizeof value, value, &length))) return E_FAIL;
  // A value without a button selects none.
  CheckRadioButton(m_hwnd, IDC_HORIZONTAL, IDC_VERTICAL, IDC_HORIZONTAL + std::atoi(value));
  return S_OK;
}

HRESULT VideoMixingProperties::OnApplyChanges() {
  for (int id : {IDC_HORIZONTAL, IDC_VERTICAL}) {
    if (IsDlgButtonChecked(m_hwnd, id) == BST_CHECKED) {
      if (m_pSettings) m_pSettings->SetParameter("orientation", std::to_string(id - IDC_HORIZONTAL).c_str());
      break;
    }
  }
  return S_OK;
}

#include "colour/common/colourprops.h"

namespace {
constexpr char kOffset[] = "chrominanceoffset";
constexpr char kInvert[] = "invert";
}  // namespace

ColourPropertiesBase::ColourPropertiesBase(LPUNKNOWN pUnk, const ui::ModuleResources* pResources)
    : FilterPropertiesBase(pUnk, IDD_COLOUR_PAGE, IDS_COLOUR_PAGE_TITLE, pResources) {}

HRESULT ColourPropertiesBase::ReadSettings() {
  SendDlgItemMessage(m_hwnd, IDC_COLOUR_OFFSET_SPIN, UDM_SETRANGE32, 0, kColourOffsetMax);
  if (!m_pSettings) return E_FAIL;
  char value[256];
  int length = 0;
  if (FAILED(m_pSettings->GetParameter(kOffset, sizeof value, value, &length))) return E_FAIL;
  SetDlgItemText(m_hwnd, IDC_COLOUR_OFFSET, value);
  if (FAILED(m_pSettings->GetParameter(kInvert, sizeof value, value, &length))) return E_FAIL;
  CheckDlgButton(m_hwnd, IDC_COLOUR_INVERT, value[0] != '0' ? BST_CHECKED : BST_UNCHECKED);
  return S_OK;
}

HRESULT ColourPropertiesBase::OnApplyChanges() {
  if (!m_pSettings) return S_OK;
  char value[257];  // up to 256 characters of the edit
  GetDlgItemText(m_hwnd, IDC_COLOUR_OFFSET, value, sizeof value);
  m_pSettings->SetParameter(kOffset, value);
  m_pSettings->SetParameter(kInvert, IsDlgButtonChecked(m_hwnd, IDC_COLOUR_INVERT) == BST_CHECKED ? "true" : "false");
  return S_OK;
}

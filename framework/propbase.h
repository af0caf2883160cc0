// FilterPropertiesBase: the common base of the suite's property pages. It connects the page to
// the filter's ISettingsInterface, prepares the common controls on activation and asks the
// concrete page to fill its controls (ReadSettings); applying writes the controls back by
// parameter name (OnApplyChanges). Values travel as text, so a page knows nothing of the filter
// class.
//
//   class CInverterProperties : public FilterPropertiesBase {
//    public:
//     CInverterProperties(LPUNKNOWN pUnk) : FilterPropertiesBase(pUnk, 101, 102, &kResources) {}
//     HRESULT ReadSettings() override {
//       SendDlgItemMessage(m_hwnd, 1002, UDM_SETRANGE32, 0, 255);
//       char value[256];
//       int length = 0;
//       if (FAILED(m_pSettings->GetParameter("gain", sizeof value, value, &length))) return E_FAIL;
//       SetDlgItemText(m_hwnd, 1001, value);
//       return S_OK;
//     }
//     HRESULT OnApplyChanges() override {
//       char value[256];
//       GetDlgItemText(m_hwnd, 1001, value, sizeof value);
//       return m_pSettings->SetParameter("gain", value);
//     }
//   };
//
// Every message the dialog receives marks the page dirty (so opening a page makes it dirty, and
// every apply after it rewrites all the page's parameters). User-interface thread.
#pragma once

#include <span>

#include "framework/settings.h"
#include "platform/strmbase/cprop.h"

class FilterPropertiesBase : public CBasePropertyPage {
 public:
  // A text field of the page, its up-down control and the parameter it shows.
  struct ParameterField {
    int edit;
    int spin;
    const char* parameter;
  };

  FilterPropertiesBase(LPUNKNOWN pUnk, int DialogId, int TitleId, const ui::ModuleResources* pResources);
  ~FilterPropertiesBase() override;

  // E_POINTER for null; otherwise the object's ISettingsInterface (the query's result).
  HRESULT OnConnect(IUnknown* pUnknown) override;
  // Releases the settings interface. S_OK.
  HRESULT OnDisconnect() override;
  // Initialises the common controls (E_FAIL when that fails), then ReadSettings.
  HRESULT OnActivate() override;
  // Marks the page dirty and tells the site (PROPPAGESTATUS_DIRTY), then the default handling.
  INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) override;

  // Reads the controls and writes each bound parameter with SetParameter.
  HRESULT OnApplyChanges() override = 0;
  // Sets the up-down ranges and shows each bound parameter (GetParameter, 256-byte buffers); a
  // failed read returns E_FAIL at once, leaving the remaining controls untouched.
  virtual HRESULT ReadSettings() = 0;

 protected:
  // The pages made of a "mode" list and numeric fields. Fills the combo box with the modes (the
  // first selected; `visible` entries shown when it opens), sets each field's up-down range to
  // 0 ... 32767, then selects the filter's "mode" when it names an entry and shows each field's
  // parameter. E_FAIL at the first failed read.
  HRESULT ShowModeAndFields(int combo, std::span<const char* const> modes, int visible,
                            std::span<const ParameterField> fields);
  // Writes "mode" from the combo box's selection (its result is not looked at), then each field's
  // text to its parameter in order. stopOnFailure: the first failed field write is returned at
  // once; otherwise the fields' results are not looked at either. S_OK otherwise.
  HRESULT ApplyModeAndFields(int combo, std::span<const ParameterField> fields, bool stopOnFailure);

  ComPtr<ISettingsInterface> m_pSettings;
};

// CBasePropertyPage: IPropertyPage over a dialog of the dialog system (platform/ui).
//
// A page names its dialog template and its title string by resource id and passes its module's
// resource table (ui::ModuleResources, see platform/ui/dialogres.h), the stand-in for the
// module's resource file:
//
//   constexpr ui::DialogControl kControls[] = {...};
//   constexpr ui::DialogTemplate kDialogs[] = {{101, DS_PROPPAGE_STYLE, 170, 102, "MS Shell Dlg", 8, "", kControls}};
//   constexpr ui::StringResource kStrings[] = {{102, "My Filter Properties"}};
//   constexpr ui::ModuleResources kResources{kDialogs, kStrings};
//
//   CMyPage::CMyPage(LPUNKNOWN pUnk) : CBasePropertyPage(L"My page", pUnk, 101, 102, &kResources) {}
//
// The frame calls SetPageSite, SetObjects, GetPageInfo, Activate (the dialog is created as a
// child of the frame's window and every message it receives goes to OnReceiveMessage), Apply,
// Deactivate, SetObjects(0) and SetPageSite(null). Pages run on the host's user-interface thread.
#pragma once

#include "platform/com/unknown.h"
#include "platform/strmbase/combase.h"
#include "platform/strmbase/strmif.h"
#include "platform/ui/dialogres.h"

class CBasePropertyPage : public CUnknown, public IPropertyPage {
 public:
  // DialogId / TitleId: the dialog template and the title string of pResources.
  CBasePropertyPage(const wchar_t* pName, LPUNKNOWN pUnk, int DialogId, int TitleId,
                    const ui::ModuleResources* pResources);
  ~CBasePropertyPage() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IPropertyPage.
  // Keeps one reference to the site; a second site without clearing the first is E_UNEXPECTED.
  STDMETHODIMP SetPageSite(IPropertyPageSite* pPageSite) override;
  // E_POINTER for a null rectangle; E_UNEXPECTED before an object is set or while active;
  // E_OUTOFMEMORY when the dialog cannot be created. Otherwise the dialog is created as a child of
  // hWndParent, OnActivate runs (its result is not looked at), and the dialog is moved into
  // *pRect and shown.
  STDMETHODIMP Activate(HWND hWndParent, LPCRECT pRect, BOOL bModal) override;
  // Clears the dialog's WS_EX_CONTROLPARENT style, calls OnDeactivate and destroys the dialog;
  // returns OnDeactivate's result. E_UNEXPECTED when not active.
  STDMETHODIMP Deactivate() override;
  // Title: the title string (at most 256 characters) in task memory, freed by the caller. Size:
  // the dialog's, measured by creating it once hidden (no messages reach the page); 340 x 150
  // pixels when that fails.
  STDMETHODIMP GetPageInfo(PROPPAGEINFO* pPageInfo) override;
  // One object: OnConnect (the object counts as set only when it succeeds); none: OnDisconnect;
  // more: E_UNEXPECTED.
  STDMETHODIMP SetObjects(ULONG cObjects, IUnknown** ppUnk) override;
  STDMETHODIMP Show(UINT nCmdShow) override;
  STDMETHODIMP Move(LPCRECT pRect) override;
  // S_OK when dirty, S_FALSE otherwise.
  STDMETHODIMP IsPageDirty() override;
  // E_UNEXPECTED without an object or a page site; S_OK when not dirty or when the dialog is not
  // open (there are no controls to read, so nothing is written); otherwise OnApplyChanges, and
  // the page becomes clean when it succeeds.
  STDMETHODIMP Apply() override;
  STDMETHODIMP Help(LPCOLESTR pszHelpDir) override;
  STDMETHODIMP TranslateAccelerator(MSG* pMsg) override;

  // ---- Hooks ----
  virtual HRESULT OnConnect(IUnknown* /*pUnknown*/) { return S_OK; }
  virtual HRESULT OnDisconnect() { return S_OK; }
  virtual HRESULT OnActivate() { return S_OK; }
  virtual HRESULT OnDeactivate() { return S_OK; }
  virtual HRESULT OnApplyChanges() { return S_OK; }
  // Every message the dialog receives. The default keeps WS_EX_CONTROLPARENT on the dialog when
  // someone else tries to clear it and passes everything else to DefWindowProc.
  virtual INT_PTR OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

 protected:
  const ui::ModuleResources* Resources() const { return m_pResources; }

  HWND m_hwnd = nullptr;                     // the dialog while active
  ComPtr<IPropertyPageSite> m_pPageSite;     // the frame's site
  BOOL m_bObjectSet = FALSE;                 // an object was set by SetObjects
  BOOL m_bDirty = FALSE;
  const int m_DialogId;
  const int m_TitleId;

 private:
  static INT_PTR DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

  const ui::ModuleResources* const m_pResources;
  bool m_bClearingControlParent = false;
};

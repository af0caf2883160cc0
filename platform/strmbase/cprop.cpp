#include "platform/strmbase/cprop.h"

#include <cstring>

#include "platform/com/runtime.h"
#include "platform/strmbase/uuids.h"

namespace {
// Title strings are cut to this many characters.
constexpr int kMaxTitle = 256;
// Page size reported when the dialog cannot be measured.
constexpr LONG kDefaultWidth = 340;
constexpr LONG kDefaultHeight = 150;
}  // namespace

CBasePropertyPage::CBasePropertyPage(const wchar_t* pName, LPUNKNOWN pUnk, int DialogId, int TitleId,
                                     const ui::ModuleResources* pResources)
    : CUnknown(pName, pUnk), m_DialogId(DialogId), m_TitleId(TitleId), m_pResources(pResources) {}

CBasePropertyPage::~CBasePropertyPage() {
  // A frame that released the page while active must not leave a dialog calling back into it.
  if (m_hwnd) {
    SetWindowLongPtr(m_hwnd, DWLP_USER, 0);
    DestroyWindow(m_hwnd);
  }
}

STDMETHODIMP CBasePropertyPage::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IPropertyPage) return GetInterface(static_cast<IPropertyPage*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

INT_PTR CBasePropertyPage::DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  CBasePropertyPage* page;
  if (uMsg == WM_INITDIALOG) {
    SetWindowLongPtr(hwnd, DWLP_USER, lParam);
    page = reinterpret_cast<CBasePropertyPage*>(lParam);
    if (!page) return FALSE;
    page->m_hwnd = hwnd;
  } else {
    page = reinterpret_cast<CBasePropertyPage*>(GetWindowLongPtr(hwnd, DWLP_USER));
    if (!page) return FALSE;
  }
  INT_PTR result = page->OnReceiveMessage(hwnd, uMsg, wParam, lParam);
  if (uMsg == WM_NCDESTROY) {
    // Destroyed by us or with its parent: the page is no longer active.
    SetWindowLongPtr(hwnd, DWLP_USER, 0);
    if (page->m_hwnd == hwnd) page->m_hwnd = nullptr;
  }
  return result;
}

INT_PTR CBasePropertyPage::OnReceiveMessage(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == WM_STYLECHANGING && static_cast<int>(static_cast<INT_PTR>(wParam)) == GWL_EXSTYLE &&
      !m_bClearingControlParent && lParam) {
    auto* ss = reinterpret_cast<STYLESTRUCT*>(lParam);
    if (ss->styleOld & WS_EX_CONTROLPARENT) ss->styleNew |= WS_EX_CONTROLPARENT;
    return 0;
  }
  return DefWindowProc(hwnd, uMsg, wParam, lParam);
}

STDMETHODIMP CBasePropertyPage::SetPageSite(IPropertyPageSite* pPageSite) {
  if (pPageSite) {
    if (m_pPageSite) return E_UNEXPECTED;
    m_pPageSite = ComPtr<IPropertyPageSite>(pPageSite);
  } else {
    if (!m_pPageSite) return E_UNEXPECTED;
    m_pPageSite = nullptr;
  }
  return S_OK;
}

STDMETHODIMP CBasePropertyPage::Activate(HWND hWndParent, LPCRECT pRect, BOOL /*bModal*/) {
  if (!pRect) return E_POINTER;
  if (!m_bObjectSet || m_hwnd) return E_UNEXPECTED;
  HWND hwnd = CreateDialogParam(m_pResources, m_DialogId, hWndParent, DialogProc, reinterpret_cast<LPARAM>(this));
  if (!hwnd) {
    m_hwnd = nullptr;
    return E_OUTOFMEMORY;
  }
  m_hwnd = hwnd;
  OnActivate();  // a failed read leaves the remaining controls empty; the page is shown anyway
  Move(pRect);
  return Show(SW_SHOWNORMAL);
}

STDMETHODIMP CBasePropertyPage::Deactivate() {
  if (!m_hwnd) return E_UNEXPECTED;
  m_bClearingControlParent = true;
  SetWindowLongPtr(m_hwnd, GWL_EXSTYLE, GetWindowLongPtr(m_hwnd, GWL_EXSTYLE) & ~static_cast<LONG_PTR>(WS_EX_CONTROLPARENT));
  m_bClearingControlParent = false;
  HRESULT hr = OnDeactivate();
  if (m_hwnd) DestroyWindow(m_hwnd);
  m_hwnd = nullptr;
  return hr;
}

STDMETHODIMP CBasePropertyPage::GetPageInfo(PROPPAGEINFO* pPageInfo) {
  if (!pPageInfo) return E_POINTER;
  wchar_t title[kMaxTitle + 1];
  int length = LoadStringW(m_pResources, static_cast<UINT>(m_TitleId), title, kMaxTitle + 1);
  auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((static_cast<size_t>(length) + 1) * sizeof(wchar_t)));
  if (!copy) return E_OUTOFMEMORY;
  std::memcpy(copy, title, (static_cast<size_t>(length) + 1) * sizeof(wchar_t));

  SIZE size{kDefaultWidth, kDefaultHeight};
  // Measured on a hidden copy that is not connected to the page: no message reaches it.
  if (HWND probe = CreateDialogParam(m_pResources, m_DialogId, nullptr, nullptr, 0)) {
    RECT rc;
    if (GetWindowRect(probe, &rc)) size = {rc.right - rc.left, rc.bottom - rc.top};
    DestroyWindow(probe);
  }

  pPageInfo->cb = sizeof(PROPPAGEINFO);
  pPageInfo->pszTitle = copy;
  pPageInfo->size = size;
  pPageInfo->pszDocString = nullptr;
  pPageInfo->pszHelpFile = nullptr;
  pPageInfo->dwHelpContext = 0;
  return S_OK;
}

STDMETHODIMP CBasePropertyPage::SetObjects(ULONG cObjects, IUnknown** ppUnk) {
  if (cObjects == 1) {
    if (!ppUnk || !*ppUnk) return E_POINTER;
    HRESULT hr = OnConnect(*ppUnk);
    m_bObjectSet = SUCCEEDED(hr) ? TRUE : FALSE;
    return hr;
  }
  if (cObjects == 0) {
    m_bObjectSet = FALSE;
    return OnDisconnect();
  }
  return E_UNEXPECTED;
}

STDMETHODIMP CBasePropertyPage::Show(UINT nCmdShow) {
  if (!m_hwnd) return E_UNEXPECTED;
  if (nCmdShow != SW_SHOW && nCmdShow != SW_SHOWNORMAL && nCmdShow != SW_HIDE) return E_INVALIDARG;
  ShowWindow(m_hwnd, static_cast<int>(nCmdShow));
  return S_OK;
}

STDMETHODIMP CBasePropertyPage::Move(LPCRECT pRect) {
  if (!pRect) return E_POINTER;
  if (!m_hwnd) return E_UNEXPECTED;
  MoveWindow(m_hwnd, pRect->left, pRect->top, pRect->right - pRect->left, pRect->bottom - pRect->top, TRUE);
  return S_OK;
}

STDMETHODIMP CBasePropertyPage::IsPageDirty() { return m_bDirty ? S_OK : S_FALSE; }

STDMETHODIMP CBasePropertyPage::Apply() {
  if (!m_bObjectSet || !m_pPageSite) return E_UNEXPECTED;
  if (!m_bDirty) return S_OK;
  // Without the dialog the page has no controls to read: applying would write empty values.
  if (!m_hwnd) return S_OK;
  HRESULT hr = OnApplyChanges();
  if (SUCCEEDED(hr)) m_bDirty = FALSE;
  return hr;
}

STDMETHODIMP CBasePropertyPage::Help(LPCOLESTR /*pszHelpDir*/) { return E_NOTIMPL; }

STDMETHODIMP CBasePropertyPage::TranslateAccelerator(MSG* /*pMsg*/) { return E_NOTIMPL; }

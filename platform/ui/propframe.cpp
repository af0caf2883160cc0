#include "platform/ui/propframe.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <sstream>

#include "platform/com/runtime.h"
#include "platform/strmbase/uuids.h"

// The frame's IPropertyPageSite: remembers the status the pages report.
class PropertyFrame::Site final : public IPropertyPageSite {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPropertyPageSite) {
      *ppv = static_cast<IPropertyPageSite*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++m_cRef); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG left = --m_cRef;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  STDMETHODIMP OnStatusChange(DWORD dwFlags) override {
    m_status |= dwFlags;
    return S_OK;
  }
  STDMETHODIMP GetLocaleID(LCID* pLocaleID) override {
    if (!pLocaleID) return E_POINTER;
    *pLocaleID = 0x0409;
    return S_OK;
  }
  STDMETHODIMP GetPageContainer(IUnknown** ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP TranslateAccelerator(MSG* /*pMsg*/) override { return S_FALSE; }

  DWORD Status() const { return m_status; }

 private:
  ~Site() = default;
  std::atomic<LONG> m_cRef{0};
  DWORD m_status = 0;
};

namespace {

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

HRESULT PropertyFrame::Open(IUnknown* object, std::unique_ptr<PropertyFrame>* frame) {
  if (!frame) return E_POINTER;
  frame->reset();
  if (!object) return E_POINTER;
  ComPtr<ISpecifyPropertyPages> specify;
  HRESULT hr = object->QueryInterface(IID_ISpecifyPropertyPages, specify.AsOut());
  if (FAILED(hr)) return hr;
  CAUUID ids{0, nullptr};
  hr = specify->GetPages(&ids);
  if (FAILED(hr)) return hr;
  std::vector<ComPtr<IPropertyPage>> pages;
  try {
    for (ULONG i = 0; i < ids.cElems && SUCCEEDED(hr); ++i) {
      ComPtr<IPropertyPage> page;
      hr = CoCreateInstance(ids.pElems[i], nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage, page.AsOut());
      if (SUCCEEDED(hr)) pages.push_back(std::move(page));
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  CoTaskMemFree(ids.pElems);
  if (FAILED(hr)) return hr;
  return OpenPages(object, std::move(pages), frame);
}

HRESULT PropertyFrame::OpenPages(IUnknown* object, std::vector<ComPtr<IPropertyPage>> pages,
                                 std::unique_ptr<PropertyFrame>* frame) {
  if (!frame) return E_POINTER;
  frame->reset();
  if (!object) return E_POINTER;
  try {
    std::unique_ptr<PropertyFrame> f(new PropertyFrame);
    f->m_object = ComPtr<IUnknown>(object);
    f->m_site = ComPtr<Site>(new Site);
    SIZE largest{0, 0};
    for (ComPtr<IPropertyPage>& p : pages) {
      if (!p) return E_POINTER;
      Page page;
      page.page = std::move(p);
      HRESULT hr = page.page->SetPageSite(f->m_site.Get());
      if (FAILED(hr)) return hr;
      f->m_pages.push_back(std::move(page));  // from here on Close() disconnects it
      Page& added = f->m_pages.back();
      IUnknown* objects[] = {object};
      hr = added.page->SetObjects(1, objects);
      if (FAILED(hr)) return hr;
      PROPPAGEINFO info{};
      hr = added.page->GetPageInfo(&info);
      if (FAILED(hr)) return hr;
      added.title = info.pszTitle ? WideToUtf8(info.pszTitle) : std::string();
      added.size = info.size;
      CoTaskMemFree(info.pszTitle);
      CoTaskMemFree(info.pszDocString);
      CoTaskMemFree(info.pszHelpFile);
      largest.cx = std::max(largest.cx, info.size.cx);
      largest.cy = std::max(largest.cy, info.size.cy);
    }
    f->m_frame = CreateContainerWindow(nullptr, "Properties", RECT{0, 0, largest.cx, largest.cy}, WS_POPUP | WS_VISIBLE,
                                       WS_EX_CONTROLPARENT);
    if (!f->m_frame) return E_OUTOFMEMORY;
    if (!f->m_pages.empty()) {
      HRESULT hr = f->Activate(0);
      if (FAILED(hr)) return hr;
    }
    *frame = std::move(f);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

PropertyFrame::~PropertyFrame() { Close(); }

HRESULT PropertyFrame::Activate(size_t index) {
  RECT rc{0, 0, 0, 0};
  GetClientRect(m_frame, &rc);
  HRESULT hr = m_pages[index].page->Activate(m_frame, &rc, FALSE);
  if (FAILED(hr)) return hr;
  m_active = index;
  m_isActive = true;
  return S_OK;
}

std::string PropertyFrame::PageTitle(size_t index) const {
  return index < m_pages.size() ? m_pages[index].title : std::string();
}

SIZE PropertyFrame::PageSize(size_t index) const { return index < m_pages.size() ? m_pages[index].size : SIZE{0, 0}; }

HWND PropertyFrame::ActiveDialog() const {
  if (!m_isActive || !m_frame) return nullptr;
  std::vector<HWND> children = GetChildWindows(m_frame);
  for (auto it = children.rbegin(); it != children.rend(); ++it) {
    if (GetWindowClass(*it) == "#32770") return *it;
  }
  return nullptr;
}

HRESULT PropertyFrame::SelectPage(size_t index) {
  if (index >= m_pages.size()) return E_INVALIDARG;
  if (m_isActive) {
    if (index == m_active) return S_OK;
    IPropertyPage* current = m_pages[m_active].page.Get();
    if (current->IsPageDirty() == S_OK) {
      HRESULT hr = current->Apply();
      if (FAILED(hr)) return hr;
    }
    current->Deactivate();
    m_isActive = false;
  }
  return Activate(index);
}

HWND PropertyFrame::Control(int id) const {
  HWND dialog = ActiveDialog();
  return dialog ? GetDlgItem(dialog, id) : nullptr;
}

std::string PropertyFrame::Describe() const {
  std::ostringstream out;
  if (!m_isActive) {
    out << "No active page\n";
    return out.str();
  }
  const Page& page = m_pages[m_active];
  out << "Page " << (m_active + 1) << " of " << m_pages.size() << ": " << Quote(page.title) << " (" << page.size.cx
      << " x " << page.size.cy << " pixels)\n";
  HWND dialog = ActiveDialog();
  std::string label;  // the latest static text: the label of the controls that follow it
  for (HWND c : GetChildWindows(dialog)) {
    const std::string cls = GetWindowClass(c);
    const int id = GetDlgCtrlID(c);
    const std::string text = GetWindowTextString(c);
    const auto style = static_cast<DWORD>(GetWindowLongPtr(c, GWL_STYLE));
    std::string idText = id == IDC_STATIC ? "-" : std::to_string(id);
    out << "  ";
    if (cls == WC_STATIC) {
      out << "static " << idText << " " << Quote(text);
      label = text;
    } else if (cls == WC_EDIT) {
      out << "edit " << idText;
      if (!label.empty()) out << " " << Quote(label);
      out << " = " << Quote(text);
      if (style & ES_NUMBER) out << " (digits)";
    } else if (cls == WC_BUTTON) {
      const DWORD type = style & BS_TYPEMASK;
      const bool checked = SendMessage(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
      if (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX) {
        out << "check " << idText << " " << Quote(text) << (checked ? " [x]" : " [ ]");
      } else if (type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON) {
        out << "radio " << idText << " " << Quote(text) << (checked ? " (o)" : " ( )");
      } else if (type == BS_GROUPBOX) {
        out << "group " << idText << " " << Quote(text);
        label = text;
      } else {
        out << "button " << idText << " " << Quote(text);
      }
    } else if (cls == WC_COMBOBOX) {
      out << "list " << idText;
      if (!label.empty()) out << " " << Quote(label);
      const auto selected = SendMessage(c, CB_GETCURSEL, 0, 0);
      out << " = " << (selected >= 0 ? Quote(text) : std::string("(none)")) << " items:";
      const auto count = SendMessage(c, CB_GETCOUNT, 0, 0);
      for (LRESULT i = 0; i < count; ++i) {
        std::string item(static_cast<size_t>(std::max<LRESULT>(SendMessage(c, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0), 0)) + 1,
                         '\0');
        SendMessage(c, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item.data()));
        item.resize(item.size() - 1);
        out << (i ? ", " : " ") << "[" << i << "] " << Quote(item) << (i == selected ? " *" : "");
      }
    } else if (cls == UPDOWN_CLASS) {
      int lower = 0, upper = 0;
      SendMessage(c, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lower), reinterpret_cast<LPARAM>(&upper));
      const auto buddy = reinterpret_cast<HWND>(SendMessage(c, UDM_GETBUDDY, 0, 0));
      out << "up-down " << idText;
      if (buddy) out << " buddy " << GetDlgCtrlID(buddy);
      out << " range " << lower << ".." << upper << " position " << SendMessage(c, UDM_GETPOS32, 0, 0);
    } else {
      out << cls << " " << idText << " " << Quote(text);
    }
    if (!IsWindowEnabled(c)) out << " (disabled)";
    out << "\n";
  }
  return out.str();
}

HRESULT PropertyFrame::TypeText(int id, const std::string& text) {
  HWND c = Control(id);
  return c && ui::UserTypeText(c, text) ? S_OK : E_INVALIDARG;
}

HRESULT PropertyFrame::Click(int id) {
  HWND c = Control(id);
  return c && ui::UserClick(c) ? S_OK : E_INVALIDARG;
}

HRESULT PropertyFrame::SetCheck(int id, bool checked) {
  HWND c = Control(id);
  if (!c || GetWindowClass(c) != WC_BUTTON || !IsWindowEnabled(c)) return E_INVALIDARG;
  const DWORD type = static_cast<DWORD>(GetWindowLongPtr(c, GWL_STYLE)) & BS_TYPEMASK;
  const bool current = SendMessage(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
  if (type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON) {
    if (!checked) return E_INVALIDARG;  // a radio button is cleared by clicking another one
    return ui::UserClick(c) ? S_OK : E_INVALIDARG;
  }
  if (type != BS_AUTOCHECKBOX && type != BS_CHECKBOX) return E_INVALIDARG;
  if (current == checked) return S_OK;
  return ui::UserClick(c) ? S_OK : E_INVALIDARG;
}

HRESULT PropertyFrame::SelectItem(int id, int index) {
  HWND c = Control(id);
  return c && ui::UserSelectItem(c, index) ? S_OK : E_INVALIDARG;
}

HRESULT PropertyFrame::SelectItem(int id, const std::string& text) {
  HWND c = Control(id);
  if (!c || GetWindowClass(c) != WC_COMBOBOX) return E_INVALIDARG;
  const auto index = SendMessage(c, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
  if (index < 0) return E_INVALIDARG;
  return ui::UserSelectItem(c, static_cast<int>(index)) ? S_OK : E_INVALIDARG;
}

HRESULT PropertyFrame::PressArrow(int id, int steps) {
  HWND c = Control(id);
  return c && ui::UserPressArrow(c, steps) ? S_OK : E_INVALIDARG;
}

HRESULT PropertyFrame::Apply() {
  HRESULT first = S_OK;
  for (Page& p : m_pages) {
    HRESULT hr = p.page->Apply();
    if (FAILED(hr) && SUCCEEDED(first)) first = hr;
  }
  return first;
}

HRESULT PropertyFrame::IsDirty() const {
  for (const Page& p : m_pages) {
    if (p.page->IsPageDirty() == S_OK) return S_OK;
  }
  return S_FALSE;
}

DWORD PropertyFrame::SiteStatus() const { return m_site ? m_site->Status() : 0; }

void PropertyFrame::Close() {
  if (m_isActive) {
    m_pages[m_active].page->Deactivate();
    m_isActive = false;
  }
  for (Page& p : m_pages) {
    p.page->SetObjects(0, nullptr);
    p.page->SetPageSite(nullptr);
  }
  m_pages.clear();
  m_object = nullptr;
  m_site = nullptr;
  if (m_frame) {
    DestroyWindow(m_frame);
    m_frame = nullptr;
  }
}

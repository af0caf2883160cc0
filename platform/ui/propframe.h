// The property frame: hosts an object's property pages the way a host's settings dialog does, and
// lets a program (the CLI, tests) look at the active page as text and drive it as a user would.
// It knows nothing of particular filters: it talks to pages through IPropertyPage only and finds
// controls by id in the active page's dialog.
//
//   std::unique_ptr<PropertyFrame> frame;
//   if (SUCCEEDED(PropertyFrame::Open(filter, &frame))) {  // GetPages, create, SetPageSite, ...
//     std::puts(frame->Describe().c_str());
//     frame->TypeText(1001, "1");
//     frame->Apply();
//     frame->Close();                                        // Deactivate, release everything
//   }
//
// User-interface thread only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/com/unknown.h"
#include "platform/strmbase/strmif.h"
#include "platform/ui/winuser.h"

class PLENOR_EXPORT PropertyFrame {
 public:
  // Asks the object for ISpecifyPropertyPages::GetPages, creates each page with CoCreateInstance,
  // then opens them as OpenPages does. Fails with the first failing step's result, leaving
  // nothing behind.
  static HRESULT Open(IUnknown* object, std::unique_ptr<PropertyFrame>* frame);
  // For each page in order: SetPageSite (the frame's site), SetObjects (the object),
  // GetPageInfo (title and size); then creates the frame window, as large as the largest page,
  // and activates the first page in it.
  static HRESULT OpenPages(IUnknown* object, std::vector<ComPtr<IPropertyPage>> pages,
                           std::unique_ptr<PropertyFrame>* frame);

  PropertyFrame(const PropertyFrame&) = delete;
  PropertyFrame& operator=(const PropertyFrame&) = delete;
  ~PropertyFrame();

  size_t PageCount() const { return m_pages.size(); }
  size_t ActivePage() const { return m_active; }
  std::string PageTitle(size_t index) const;
  SIZE PageSize(size_t index) const;
  // The frame window and the active page's dialog (null when no page is active).
  HWND FrameWindow() const { return m_frame; }
  HWND ActiveDialog() const;

  // Switches to another page: applies the active page when it is dirty (its dialog is about to
  // be destroyed, and with it the user's changes), deactivates it and activates the other one.
  HRESULT SelectPage(size_t index);

  // The active page as text: its title and size, then one line per control in template order
  // with its kind, id, label, value, list items (the selected one marked), up-down buddy, range
  // and position, check states and whether it is disabled.
  std::string Describe() const;

  // The user's actions on the active page's controls, by control id. E_INVALIDARG when there is
  // no such control, it is disabled, or the action does not apply to it (text that an ES_NUMBER
  // edit refuses, an item index out of range, an unknown item text, unchecking a radio button).
  HRESULT TypeText(int id, const std::string& text);
  HRESULT SetCheck(int id, bool checked);
  HRESULT Click(int id);
  HRESULT SelectItem(int id, int index);
  HRESULT SelectItem(int id, const std::string& text);
  // steps > 0: the up arrow, steps < 0: the down arrow.
  HRESULT PressArrow(int id, int steps);

  // IPropertyPage::Apply on every page; the first failure is returned.
  HRESULT Apply();
  // S_OK when any page is dirty, S_FALSE otherwise.
  HRESULT IsDirty() const;
  // PROPPAGESTATUS flags the pages reported to the site since the frame was opened.
  DWORD SiteStatus() const;

  // Deactivates the active page, disconnects every page (SetObjects(0), SetPageSite(null)),
  // releases the pages and the object and destroys the frame window. Also done by the destructor.
  void Close();

 private:
  struct Page {
    ComPtr<IPropertyPage> page;
    std::string title;
    SIZE size{};
  };
  class Site;

  PropertyFrame() = default;
  HRESULT Activate(size_t index);
  HWND Control(int id) const;

  ComPtr<IUnknown> m_object;
  ComPtr<Site> m_site;
  std::vector<Page> m_pages;
  size_t m_active = 0;
  bool m_isActive = false;
  HWND m_frame = nullptr;
};

// Property pages: the CBasePropertyPage rules, FilterPropertiesBase's connection to the settings
// interface and its dirty marking, and the property frame driving a page end to end (through the
// test module registered in the test's registry, and with page objects made directly).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/com/runtime.h"
#include "platform/ui/propframe.h"
#include "tests/framework/testfilter/inverter.h"

namespace {

struct Site : IPropertyPageSite {
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP OnStatusChange(DWORD flags) override {
    status |= flags;
    ++changes;
    return S_OK;
  }
  STDMETHODIMP GetLocaleID(LCID*) override { return E_NOTIMPL; }
  STDMETHODIMP GetPageContainer(IUnknown**) override { return E_NOTIMPL; }
  STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }
  ULONG refs = 1;
  DWORD status = 0;
  int changes = 0;
};

// An object with only the "invert" parameter: the page's "gain" is not registered.
class InvertOnly : public CUnknown, public CSettingsInterface {
 public:
  InvertOnly() : CUnknown(L"InvertOnly", nullptr), CSettingsInterface(GetOwner()) { InitParameters(); }
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_ISettingsInterface) return GetInterface(static_cast<ISettingsInterface*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  void InitParameters() override { AddParameter("invert", &m_bInvert, false); }
  bool m_bInvert = false;
};

// A page whose dialog template does not exist.
class MissingDialogPage : public FilterPropertiesBase {
 public:
  MissingDialogPage() : FilterPropertiesBase(nullptr, 999, IDS_INVERTER_TITLE, &g_InverterResources) {}
  HRESULT ReadSettings() override { return S_OK; }
  HRESULT OnApplyChanges() override { return S_OK; }
};

ComPtr<IPropertyPage> NewPage() {
  return ComPtr<IPropertyPage>(static_cast<IPropertyPage*>(new CTestInverterProperties(nullptr)));
}

std::string Param(IUnknown* object, const char* name) {
  ComPtr<ISettingsInterface> s;
  EXPECT_EQ(object->QueryInterface(IID_ISettingsInterface, s.AsOut()), S_OK);
  char buf[256] = "";
  int len = 0;
  if (FAILED(s->GetParameter(name, sizeof buf, buf, &len))) return "<failed>";
  return buf;
}

void SetParam(IUnknown* object, const char* name, const char* value) {
  ComPtr<ISettingsInterface> s;
  ASSERT_EQ(object->QueryInterface(IID_ISettingsInterface, s.AsOut()), S_OK);
  ASSERT_EQ(s->SetParameter(name, value), S_OK);
}

class PageTest : public testing::Test {
 protected:
  void SetUp() override {
    baseline = GetWindowCount();
    parent = CreateContainerWindow(nullptr, "frame", RECT{0, 0, 400, 300}, WS_POPUP, 0);
    filter = ComPtr<IUnknown>(AsUnknown(new CTestInverter));
  }
  void TearDown() override {
    page = nullptr;
    DestroyWindow(parent);
    EXPECT_EQ(GetWindowCount(), baseline);
  }
  HWND Dialog() {
    auto children = GetChildWindows(parent);
    return children.empty() ? nullptr : children.back();
  }
  HRESULT Connect() {
    EXPECT_EQ(page->SetPageSite(&site), S_OK);
    IUnknown* objects[] = {filter.Get()};
    return page->SetObjects(1, objects);
  }

  size_t baseline = 0;
  HWND parent = nullptr;
  ComPtr<IUnknown> filter;
  ComPtr<IPropertyPage> page = NewPage();
  Site site;
  RECT rc{10, 20, 265, 186};
};

TEST_F(PageTest, ObjectWithoutSettingsInterfaceIsRefused) {
  ComPtr<IUnknown> plain(AsUnknown(new CUnknown(L"plain", nullptr)));
  IUnknown* objects[] = {plain.Get()};
  EXPECT_EQ(page->SetObjects(1, objects), E_NOINTERFACE);
  EXPECT_EQ(page->Activate(parent, &rc, FALSE), E_UNEXPECTED);
  IUnknown* two[] = {filter.Get(), filter.Get()};
  EXPECT_EQ(page->SetObjects(2, two), E_UNEXPECTED);
  EXPECT_EQ(page->SetObjects(1, nullptr), E_POINTER);
}

TEST_F(PageTest, ActivationRulesAndPageInfo) {
  EXPECT_EQ(page->Activate(parent, &rc, FALSE), E_UNEXPECTED);  // no object yet
  ASSERT_EQ(Connect(), S_OK);

  PROPPAGEINFO info{};
  ASSERT_EQ(page->GetPageInfo(&info), S_OK);
  EXPECT_EQ(std::wstring(info.pszTitle), L"Plenor Test Inverter Properties");
  EXPECT_EQ(info.size.cx, 255);
  EXPECT_EQ(info.size.cy, 166);
  CoTaskMemFree(info.pszTitle);
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);  // measuring the dialog sends the page nothing
  EXPECT_EQ(GetWindowCount(), baseline + 1);

  ASSERT_EQ(page->Activate(parent, &rc, FALSE), S_OK);
  EXPECT_EQ(page->Activate(parent, &rc, FALSE), E_UNEXPECTED);
  HWND dlg = Dialog();
  ASSERT_NE(dlg, nullptr);
  EXPECT_TRUE(IsWindowVisible(dlg));
  RECT where;
  GetWindowRect(dlg, &where);
  EXPECT_EQ(where.left, 10);
  EXPECT_EQ(where.bottom, 186);
  char text[16];
  GetDlgItemText(dlg, IDC_GAIN, text, sizeof text);
  EXPECT_STREQ(text, "1");
  EXPECT_EQ(IsDlgButtonChecked(dlg, IDC_INVERT), BST_CHECKED);

  // The frame cannot take WS_EX_CONTROLPARENT away from an active page; Deactivate does.
  SetWindowLongPtr(dlg, GWL_EXSTYLE, 0);
  EXPECT_TRUE(GetWindowLongPtr(dlg, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
  EXPECT_EQ(page->Deactivate(), S_OK);
  EXPECT_FALSE(IsWindow(dlg));
  EXPECT_EQ(page->Deactivate(), E_UNEXPECTED);
  EXPECT_EQ(page->Show(SW_SHOW), E_UNEXPECTED);
}

TEST_F(PageTest, MissingDialogGivesDefaultSizeAndActivationFails) {
  page = ComPtr<IPropertyPage>(static_cast<IPropertyPage*>(new MissingDialogPage));
  ASSERT_EQ(Connect(), S_OK);
  PROPPAGEINFO info{};
  ASSERT_EQ(page->GetPageInfo(&info), S_OK);
  EXPECT_EQ(info.size.cx, 340);
  EXPECT_EQ(info.size.cy, 150);
  CoTaskMemFree(info.pszTitle);
  EXPECT_EQ(page->Activate(parent, &rc, FALSE), E_OUTOFMEMORY);
}

TEST_F(PageTest, OpeningMarksDirtySoApplyRewritesEveryParameter) {
  ASSERT_EQ(Connect(), S_OK);
  ASSERT_EQ(page->Activate(parent, &rc, FALSE), S_OK);
  EXPECT_EQ(page->IsPageDirty(), S_OK);
  EXPECT_TRUE(site.status & PROPPAGESTATUS_DIRTY);

  // Values changed behind the page's back are overwritten with what the page shows.
  SetParam(filter.Get(), "gain", "9");
  SetParam(filter.Get(), "invert", "false");
  EXPECT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(Param(filter.Get(), "gain"), "1");
  EXPECT_EQ(Param(filter.Get(), "invert"), "1");
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);

  // A clean page writes nothing.
  SetParam(filter.Get(), "gain", "9");
  EXPECT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(Param(filter.Get(), "gain"), "9");

  // Any message makes it dirty again.
  SetDlgItemText(Dialog(), IDC_GAIN, "12");
  EXPECT_EQ(page->IsPageDirty(), S_OK);
  EXPECT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(Param(filter.Get(), "gain"), "12");

  // Without a site (or an object) there is no apply.
  SetDlgItemText(Dialog(), IDC_GAIN, "13");
  EXPECT_EQ(page->SetPageSite(nullptr), S_OK);
  EXPECT_EQ(page->Apply(), E_UNEXPECTED);
  EXPECT_EQ(page->Deactivate(), S_OK);
  EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
  EXPECT_EQ(site.refs, 1u);  // the page let go of the site
}

TEST_F(PageTest, UnregisteredParameterLeavesTheFieldEmptyAndApplyChangesNothing) {
  filter = ComPtr<IUnknown>(AsUnknown(new InvertOnly));
  ASSERT_EQ(Connect(), S_OK);
  ASSERT_EQ(page->Activate(parent, &rc, FALSE), S_OK);  // the failed read does not stop activation
  char text[16] = "x";
  GetDlgItemText(Dialog(), IDC_GAIN, text, sizeof text);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(IsDlgButtonChecked(Dialog(), IDC_INVERT), BST_UNCHECKED);  // reading stopped before it
  ui::UserClick(GetDlgItem(Dialog(), IDC_INVERT));
  EXPECT_EQ(page->Apply(), E_FAIL);  // "gain" is refused first, so "invert" is not written
  EXPECT_EQ(Param(filter.Get(), "invert"), "0");
  EXPECT_EQ(page->IsPageDirty(), S_OK);
  page->Deactivate();
  page->SetObjects(0, nullptr);
  page->SetPageSite(nullptr);
}

TEST_F(PageTest, ApplyAfterDeactivationWritesNoEmptyValues) {
  ASSERT_EQ(Connect(), S_OK);
  ASSERT_EQ(page->Activate(parent, &rc, FALSE), S_OK);
  SetParam(filter.Get(), "gain", "4");
  ASSERT_EQ(page->Deactivate(), S_OK);
  EXPECT_EQ(page->IsPageDirty(), S_OK);
  EXPECT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(Param(filter.Get(), "gain"), "4");
  page->SetObjects(0, nullptr);
  page->SetPageSite(nullptr);
}

TEST(PropertyFrame, SwitchingPagesAppliesTheDirtyOneAndCloseReleasesEverything) {
  const size_t baseline = GetWindowCount();
  ComPtr<IUnknown> filter(AsUnknown(new CTestInverter));
  std::vector<ComPtr<IPropertyPage>> pages{NewPage(), NewPage()};
  ComPtr<IPropertyPage> watch = pages[0];
  std::unique_ptr<PropertyFrame> frame;
  ASSERT_EQ(PropertyFrame::OpenPages(filter.Get(), pages, &frame), S_OK);
  pages.clear();
  EXPECT_EQ(frame->PageCount(), 2u);
  EXPECT_TRUE(frame->SiteStatus() & PROPPAGESTATUS_DIRTY);
  ASSERT_EQ(frame->TypeText(IDC_GAIN, "7"), S_OK);
  ASSERT_EQ(frame->SelectPage(1), S_OK);
  EXPECT_EQ(Param(filter.Get(), "gain"), "7");
  EXPECT_NE(frame->Describe().find("Page 2 of 2"), std::string::npos);
  EXPECT_NE(frame->Describe().find("edit 1001 \"Gain:\" = \"7\""), std::string::npos);
  frame->Close();
  EXPECT_EQ(GetWindowCount(), baseline);
  // Only our reference is left on the page: the frame released its own.
  EXPECT_EQ(watch->AddRef(), 2u);
  watch->Release();
  EXPECT_EQ(watch->IsPageDirty(), S_OK);
}

// The whole road a host takes: the filter and its page come from the registered test module.
class RegisteredModuleTest : public testing::Test {
 protected:
  void SetUp() override {
    module = LoadLibrary(PLENOR_FRAMEWORK_TEST_MODULE, &error);
    ASSERT_NE(module, nullptr) << error;
    auto reg = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, "DllRegisterServer"));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), S_OK);
  }
  void TearDown() override {
    if (module) FreeLibrary(module);
  }
  std::string error;
  HMODULE module = nullptr;
};

TEST_F(RegisteredModuleTest, FrameDrivesThePageEndToEnd) {
  const size_t baseline = GetWindowCount();
  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(CoCreateInstance(CLSID_TestInverter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.AsOut()), S_OK);
  std::unique_ptr<PropertyFrame> frame;
  ASSERT_EQ(PropertyFrame::Open(filter.Get(), &frame), S_OK);
  ASSERT_EQ(frame->PageCount(), 1u);
  EXPECT_EQ(frame->PageTitle(0), "Plenor Test Inverter Properties");

  const std::string shown = frame->Describe();
  EXPECT_NE(shown.find("Page 1 of 1: \"Plenor Test Inverter Properties\" (255 x 166 pixels)"), std::string::npos)
      << shown;
  EXPECT_NE(shown.find("edit 1001 \"Gain:\" = \"1\" (digits)"), std::string::npos) << shown;
  EXPECT_NE(shown.find("up-down 1002 buddy 1001 range 0..255 position 1"), std::string::npos) << shown;
  EXPECT_NE(shown.find("check 1003 \"Invert image\" [x]"), std::string::npos) << shown;

  EXPECT_EQ(frame->TypeText(IDC_GAIN, "abc"), E_INVALIDARG);
  EXPECT_EQ(frame->TypeText(IDC_GAIN, "300"), S_OK);  // clamped to 255
  EXPECT_EQ(frame->PressArrow(IDC_GAIN_SPIN, -5), S_OK);
  EXPECT_EQ(frame->SetCheck(IDC_INVERT, false), S_OK);
  EXPECT_EQ(frame->SelectItem(IDC_INVERT, 0), E_INVALIDARG);
  EXPECT_EQ(frame->TypeText(4242, "1"), E_INVALIDARG);
  EXPECT_EQ(Param(filter.Get(), "gain"), "1");  // nothing reaches the filter before Apply
  EXPECT_EQ(frame->Apply(), S_OK);
  EXPECT_EQ(Param(filter.Get(), "gain"), "250");
  EXPECT_EQ(Param(filter.Get(), "invert"), "0");
  EXPECT_EQ(frame->IsDirty(), S_FALSE);

  frame.reset();  // closes: deactivates, disconnects and releases the page
  EXPECT_EQ(GetWindowCount(), baseline);
  filter = nullptr;
  auto canUnload = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, "DllCanUnloadNow"));
  EXPECT_EQ(canUnload(), S_OK);
}

TEST(PropertyFrameOpen, ObjectWithoutPagesIsRefused) {
  ComPtr<IUnknown> plain(AsUnknown(new InvertOnly));
  std::unique_ptr<PropertyFrame> frame;
  EXPECT_EQ(PropertyFrame::Open(plain.Get(), &frame), E_NOINTERFACE);
  EXPECT_FALSE(frame);
}

// A page of the "mode list and numeric fields" shape, on an object whose "a" takes only 1 to 3.
constexpr int IDD_MODEFIELDS = 201;
constexpr int IDS_MODEFIELDS_TITLE = 202;
constexpr int IDC_MF_MODE = 1101;
constexpr int IDC_MF_A = 1102;
constexpr int IDC_MF_A_SPIN = 1103;
constexpr int IDC_MF_B = 1104;
constexpr int IDC_MF_B_SPIN = 1105;
constexpr DWORD kMfSpin = UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS;
constexpr ui::DialogControl kMfControls[] = {
    ui::ComboBox(IDC_MF_MODE, 60, 8, 110, 60),
    ui::EditText(IDC_MF_A, 60, 28, 50, 14, ES_AUTOHSCROLL | ES_NUMBER),
    ui::UpDown(IDC_MF_A_SPIN, kMfSpin),
    ui::EditText(IDC_MF_B, 60, 48, 50, 14, ES_AUTOHSCROLL | ES_NUMBER),
    ui::UpDown(IDC_MF_B_SPIN, kMfSpin),
};
constexpr ui::DialogTemplate kMfDialogs[] = {
    {IDD_MODEFIELDS, DS_PROPPAGE_STYLE, 180, 72, "MS Shell Dlg", 8, "", kMfControls},
};
constexpr ui::StringResource kMfStrings[] = {{IDS_MODEFIELDS_TITLE, "Mode Fields"}};
const ui::ModuleResources kMfResources{kMfDialogs, kMfStrings};
constexpr const char* kMfModes[] = {"zero", "one", "two"};
constexpr FilterPropertiesBase::ParameterField kMfFields[] = {
    {IDC_MF_A, IDC_MF_A_SPIN, "a"},
    {IDC_MF_B, IDC_MF_B_SPIN, "b"},
};

class ModeFieldsPage : public FilterPropertiesBase {
 public:
  explicit ModeFieldsPage(bool stopOnFailure)
      : FilterPropertiesBase(nullptr, IDD_MODEFIELDS, IDS_MODEFIELDS_TITLE, &kMfResources), m_stop(stopOnFailure) {}
  HRESULT ReadSettings() override { return ShowModeAndFields(IDC_MF_MODE, kMfModes, 5, kMfFields); }
  HRESULT OnApplyChanges() override { return ApplyModeAndFields(IDC_MF_MODE, kMfFields, m_stop); }

 private:
  const bool m_stop;
};

class ModeFieldsObject : public CUnknown, public CSettingsInterface {
 public:
  explicit ModeFieldsObject(unsigned int mode)
      : CUnknown(L"ModeFieldsObject", nullptr), CSettingsInterface(GetOwner()), m_nInitialMode(mode) {
    InitParameters();
  }
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_ISettingsInterface) return GetInterface(static_cast<ISettingsInterface*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  void InitParameters() override {
    AddParameter("mode", &m_nMode, m_nInitialMode);
    AddParameter("a", &m_nA, 1u, false, {1u, 2u, 3u});
    AddParameter("b", &m_nB, 4u);
  }
  unsigned int m_nInitialMode, m_nMode = 0, m_nA = 0, m_nB = 0;
};

std::unique_ptr<PropertyFrame> OpenModeFields(IUnknown* object, bool stopOnFailure) {
  std::unique_ptr<PropertyFrame> frame;
  std::vector<ComPtr<IPropertyPage>> pages{
      ComPtr<IPropertyPage>(static_cast<IPropertyPage*>(new ModeFieldsPage(stopOnFailure)))};
  EXPECT_EQ(PropertyFrame::OpenPages(object, pages, &frame), S_OK);
  return frame;
}

TEST(ModeAndFieldsPage, ShowsTheModeWhenItNamesAnEntryAndEveryField) {
  struct Case {
    unsigned int mode;
    LRESULT selected;
  } cases[] = {{2, 2}, {0, 0}, {3, 0}, {4000000000u, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ComPtr<IUnknown> object(AsUnknown(new ModeFieldsObject(c.mode)));
    std::unique_ptr<PropertyFrame> frame = OpenModeFields(object.Get(), true);
    ASSERT_TRUE(frame);
    HWND dialog = frame->ActiveDialog();
    EXPECT_EQ(SendDlgItemMessage(dialog, IDC_MF_MODE, CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(SendDlgItemMessage(dialog, IDC_MF_MODE, CB_GETCURSEL, 0, 0), c.selected);
    EXPECT_EQ(SendDlgItemMessage(dialog, IDC_MF_MODE, CB_GETMINVISIBLE, 0, 0), 5);
    char text[16] = "";
    GetDlgItemText(dialog, IDC_MF_A, text, sizeof text);
    EXPECT_STREQ(text, "1");
    GetDlgItemText(dialog, IDC_MF_B, text, sizeof text);
    EXPECT_STREQ(text, "4");
    for (int spin : {IDC_MF_A_SPIN, IDC_MF_B_SPIN}) {
      int lower = -1, upper = -1;
      SendDlgItemMessage(dialog, spin, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lower),
                         reinterpret_cast<LPARAM>(&upper));
      EXPECT_EQ(lower, 0);
      EXPECT_EQ(upper, 32767);
    }
    frame->Close();
  }
}

TEST(ModeAndFieldsPage, ApplyWritesTheModeThenTheFieldsAndStopsAtAFailureOnlyWhenAsked) {
  struct Case {
    bool stop;
    const char* a;
    HRESULT applied;
    const char* expectA;
    const char* expectB;  // "b" is typed as 9 each time
  } cases[] = {
      {true, "3", S_OK, "3", "9"},
      {true, "7", E_FAIL, "1", "4"},   // "a" refused: "b" is not written
      {false, "7", S_OK, "1", "9"},    // "a" refused, not looked at: "b" written
      {false, "2", S_OK, "2", "9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.stop ? "stop " : "go on ") + c.a);
    ComPtr<IUnknown> object(AsUnknown(new ModeFieldsObject(0)));
    std::unique_ptr<PropertyFrame> frame = OpenModeFields(object.Get(), c.stop);
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->SelectItem(IDC_MF_MODE, 1), S_OK);
    ASSERT_EQ(frame->TypeText(IDC_MF_A, c.a), S_OK);
    ASSERT_EQ(frame->TypeText(IDC_MF_B, "9"), S_OK);
    EXPECT_EQ(frame->Apply(), c.applied);
    EXPECT_EQ(Param(object.Get(), "mode"), "1");  // written before the fields, whatever they do
    EXPECT_EQ(Param(object.Get(), "a"), c.expectA);
    EXPECT_EQ(Param(object.Get(), "b"), c.expectB);
    frame->Close();
  }
}

}  // namespace

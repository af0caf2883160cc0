// The dialog system: dialogs from templates, control messages, up-down ranges and buddies, radio
// groups, message routing to the dialog procedure, and window lifetime.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/dialogres.h"

namespace {

constexpr ui::DialogControl kControls[] = {
    ui::LText("Value:", IDC_STATIC, 7, 10, 40, 8),
    ui::EditText(1001, 50, 8, 40, 14, ES_AUTOHSCROLL | ES_NUMBER),
    ui::UpDown(1002, UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS),
    ui::LText("Skew:", IDC_STATIC, 7, 30, 40, 8),
    ui::EditText(1003, 50, 28, 40, 14),
    ui::UpDown(1004, UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_WRAP),
    ui::AutoCheckBox("Invert", 1005, 7, 50, 60, 10),
    ui::AutoRadioButton("A", 1006, 7, 62, 30, 10, WS_GROUP),
    ui::AutoRadioButton("B", 1007, 40, 62, 30, 10),
    ui::AutoRadioButton("C", 1008, 7, 74, 30, 10, WS_GROUP),
    ui::AutoRadioButton("D", 1009, 40, 74, 30, 10),
    ui::ComboBox(1010, 7, 86, 80, 60),
    ui::Control("", 1099, "NoSuchClass", 0, 0, 0, 10, 10),
};
constexpr ui::DialogTemplate kDialogs[] = {
    {101, DS_PROPPAGE_STYLE, 170, 102, "MS Shell Dlg", 8, "", kControls},
    {102, DS_PROPPAGE_STYLE | WS_VISIBLE, 40, 16, "MS Shell Dlg", 8, "Visible", {}},
};
constexpr ui::StringResource kStrings[] = {{7, "Hello dialog"}};
constexpr ui::ModuleResources kResources{kDialogs, kStrings};

struct Message {
  UINT msg;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<Message> g_messages;
bool g_keepControlParent = false;

INT_PTR RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  g_messages.push_back({msg, wParam, lParam});
  if (msg == WM_STYLECHANGING && g_keepControlParent) {
    reinterpret_cast<STYLESTRUCT*>(lParam)->styleNew |= WS_EX_CONTROLPARENT;
    return TRUE;
  }
  return static_cast<INT_PTR>(DefWindowProc(hwnd, msg, wParam, lParam));
}

std::vector<Message> Commands(WORD code) {
  std::vector<Message> out;
  for (const Message& m : g_messages)
    if (m.msg == WM_COMMAND && HIWORD(m.wParam) == code) out.push_back(m);
  return out;
}

class DialogTest : public testing::Test {
 protected:
  void SetUp() override {
    g_messages.clear();
    g_keepControlParent = false;
    baseline = GetWindowCount();
    dlg = CreateDialogParam(&kResources, 101, nullptr, RecordingProc, 0x1234);
    ASSERT_NE(dlg, nullptr);
  }
  void TearDown() override {
    if (IsWindow(dlg)) DestroyWindow(dlg);
    EXPECT_EQ(GetWindowCount(), baseline);
  }
  std::string Text(int id) {
    char buf[64];
    GetDlgItemText(dlg, id, buf, sizeof buf);
    return buf;
  }
  HWND Item(int id) { return GetDlgItem(dlg, id); }

  size_t baseline = 0;
  HWND dlg = nullptr;
};

TEST_F(DialogTest, CreationBuildsControlsInTemplateOrderAndSendsInitDialog) {
  ASSERT_FALSE(g_messages.empty());
  EXPECT_EQ(g_messages[0].msg, WM_INITDIALOG);
  EXPECT_EQ(g_messages[0].lParam, 0x1234);
  EXPECT_EQ(reinterpret_cast<HWND>(g_messages[0].wParam), Item(1001));  // first tab stop

  std::vector<HWND> children = GetChildWindows(dlg);
  ASSERT_EQ(children.size(), 12u);  // the control of an unknown class is left out
  EXPECT_EQ(GetWindowClass(children[0]), "Static");
  EXPECT_EQ(GetWindowTextString(children[0]), "Value:");
  EXPECT_EQ(GetWindowClass(Item(1002)), "msctls_updown32");
  EXPECT_EQ(GetWindowClass(dlg), "#32770");
  EXPECT_FALSE(IsWindowVisible(dlg));  // property pages are shown by their frame
  EXPECT_TRUE(GetWindowLongPtr(dlg, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);

  // 170 x 102 dialog units of "MS Shell Dlg" 8 are 255 x 166 pixels.
  RECT rc;
  ASSERT_TRUE(GetWindowRect(dlg, &rc));
  EXPECT_EQ(rc.right - rc.left, 255);
  EXPECT_EQ(rc.bottom - rc.top, 166);

  // Auto-buddy takes the previous control; right alignment narrows the buddy.
  EXPECT_EQ(reinterpret_cast<HWND>(SendDlgItemMessage(dlg, 1002, UDM_GETBUDDY, 0, 0)), Item(1001));
  RECT edit, spin;
  GetWindowRect(Item(1001), &edit);
  GetWindowRect(Item(1002), &spin);
  EXPECT_EQ(spin.left, edit.right);
  EXPECT_EQ(edit.left, 75);
  EXPECT_LT(edit.right, 135);
}

TEST_F(DialogTest, TemplateWithVisibleStyleIsShownAndUnknownTemplateFails) {
  HWND visible = CreateDialogParam(&kResources, 102, dlg, nullptr, 0);
  ASSERT_NE(visible, nullptr);
  EXPECT_TRUE(IsWindowVisible(visible));
  EXPECT_EQ(GetParent(visible), dlg);
  EXPECT_EQ(CreateDialogParam(&kResources, 999, nullptr, RecordingProc, 0), nullptr);
  EXPECT_EQ(CreateDialogParam(nullptr, 101, nullptr, RecordingProc, 0), nullptr);
  // Destroying the parent takes the child with it (checked by the window count in TearDown).
}

TEST_F(DialogTest, EditChangesNotifyButProgrammaticChecksAndSelectionsDoNot) {
  g_messages.clear();
  SetDlgItemText(dlg, 1003, "-12");
  ASSERT_EQ(Commands(EN_CHANGE).size(), 1u);
  EXPECT_EQ(LOWORD(Commands(EN_CHANGE)[0].wParam), 1003);
  CheckDlgButton(dlg, 1005, BST_CHECKED);
  SendDlgItemMessage(dlg, 1010, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("x"));
  SendDlgItemMessage(dlg, 1010, CB_SETCURSEL, 0, 0);
  EXPECT_TRUE(Commands(BN_CLICKED).empty());
  EXPECT_TRUE(Commands(CBN_SELCHANGE).empty());
  EXPECT_EQ(IsDlgButtonChecked(dlg, 1005), BST_CHECKED);

  EXPECT_TRUE(ui::UserClick(Item(1005)));
  EXPECT_EQ(IsDlgButtonChecked(dlg, 1005), BST_UNCHECKED);
  EXPECT_EQ(Commands(BN_CLICKED).size(), 1u);
  EXPECT_TRUE(ui::UserSelectItem(Item(1010), 0));
  EXPECT_EQ(Commands(CBN_SELCHANGE).size(), 1u);
  EXPECT_FALSE(ui::UserSelectItem(Item(1010), 1));
}

TEST_F(DialogTest, IntegersAndStringsReadBackAsWindowsDoes) {
  SetDlgItemInt(dlg, 1003, static_cast<UINT>(-7), TRUE);
  EXPECT_EQ(Text(1003), "-7");
  BOOL ok = FALSE;
  EXPECT_EQ(static_cast<int>(GetDlgItemInt(dlg, 1003, &ok, TRUE)), -7);
  EXPECT_TRUE(ok);
  GetDlgItemInt(dlg, 1003, &ok, FALSE);
  EXPECT_FALSE(ok);
  SetDlgItemText(dlg, 1003, "  42px");
  EXPECT_EQ(GetDlgItemInt(dlg, 1003, &ok, FALSE), 42u);
  EXPECT_TRUE(ok);
  SetDlgItemText(dlg, 1003, "99999999999");
  EXPECT_EQ(GetDlgItemInt(dlg, 1003, &ok, FALSE), 0u);
  EXPECT_FALSE(ok);

  char small[4];
  SetDlgItemText(dlg, 1003, "abcdef");
  EXPECT_EQ(GetDlgItemText(dlg, 1003, small, sizeof small), 3u);
  EXPECT_STREQ(small, "abc");
  EXPECT_EQ(LoadString(&kResources, 7, small, sizeof small), 3);
  EXPECT_STREQ(small, "Hel");
  wchar_t wide[32];
  EXPECT_EQ(LoadStringW(&kResources, 7, wide, 32), 12);
  EXPECT_EQ(std::wstring(wide), L"Hello dialog");
  EXPECT_EQ(LoadString(&kResources, 8, small, sizeof small), 0);
  EXPECT_STREQ(small, "");
}

TEST_F(DialogTest, DropDownListMessages) {
  auto send = [&](UINT msg, WPARAM w, const char* s) {
    return SendDlgItemMessage(dlg, 1010, msg, w, reinterpret_cast<LPARAM>(s));
  };
  EXPECT_EQ(send(CB_ADDSTRING, 0, "Skip x every y"), 0);
  EXPECT_EQ(send(CB_SETCURSEL, 0, nullptr), 0);
  EXPECT_EQ(send(CB_INSERTSTRING, 0, "first"), 0);  // the selection moves with its item
  EXPECT_EQ(send(CB_GETCURSEL, 0, nullptr), 1);
  EXPECT_EQ(send(CB_INSERTSTRING, static_cast<WPARAM>(-1), "last"), 2);
  EXPECT_EQ(send(CB_INSERTSTRING, 9, "beyond"), CB_ERR);
  EXPECT_EQ(send(CB_GETCOUNT, 0, nullptr), 3);
  EXPECT_EQ(Text(1010), "Skip x every y");  // a drop-down list's text is its selected item
  EXPECT_EQ(send(CB_GETLBTEXTLEN, 2, nullptr), 4);
  char item[16];
  EXPECT_EQ(SendDlgItemMessage(dlg, 1010, CB_GETLBTEXT, 2, reinterpret_cast<LPARAM>(item)), 4);
  EXPECT_STREQ(item, "last");
  EXPECT_EQ(send(CB_GETLBTEXT, 3, nullptr), CB_ERR);
  EXPECT_EQ(send(CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), "LAST"), 2);
  EXPECT_EQ(send(CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), "las"), CB_ERR);
  EXPECT_TRUE(send(CB_SETMINVISIBLE, 9, nullptr));
  EXPECT_EQ(send(CB_GETMINVISIBLE, 0, nullptr), 9);
  EXPECT_EQ(send(CB_SETCURSEL, 5, nullptr), CB_ERR);
  EXPECT_EQ(send(CB_GETCURSEL, 0, nullptr), CB_ERR);
  EXPECT_EQ(Text(1010), "");
  EXPECT_TRUE(SetDlgItemText(dlg, 1010, "first"));  // selects the item with that text
  EXPECT_EQ(send(CB_GETCURSEL, 0, nullptr), 0);
  EXPECT_FALSE(SetDlgItemText(dlg, 1010, "missing"));
  EXPECT_EQ(send(CB_RESETCONTENT, 0, nullptr), CB_OKAY);
  EXPECT_EQ(send(CB_GETCOUNT, 0, nullptr), 0);
  EXPECT_EQ(send(CB_GETCURSEL, 0, nullptr), CB_ERR);
}

TEST_F(DialogTest, UpDownRangesClampTheBuddyAndTheArrows) {
  // 16-bit ranges are signed...
  SendDlgItemMessage(dlg, 1004, UDM_SETRANGE, 0, MAKELPARAM(32767, static_cast<WORD>(-32767)));
  int lo = 0, hi = 0;
  SendDlgItemMessage(dlg, 1004, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lo), reinterpret_cast<LPARAM>(&hi));
  EXPECT_EQ(lo, -32767);
  EXPECT_EQ(hi, 32767);
  // ...except 0 .. 0xFFFF, which is meant as 0 .. 65535 rather than the inverted 0 .. -1.
  SendDlgItemMessage(dlg, 1002, UDM_SETRANGE, 0, MAKELPARAM(0xFFFF, 0));
  SendDlgItemMessage(dlg, 1002, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lo), reinterpret_cast<LPARAM>(&hi));
  EXPECT_EQ(hi, 65535);
  EXPECT_EQ(SendDlgItemMessage(dlg, 1002, UDM_GETRANGE, 0, 0), MAKELONG(0xFFFF, 0));

  SendDlgItemMessage(dlg, 1002, UDM_SETRANGE32, 0, 10);
  EXPECT_TRUE(ui::UserTypeText(Item(1001), "500"));
  EXPECT_EQ(Text(1001), "10");  // clamped into the range
  EXPECT_FALSE(ui::UserTypeText(Item(1001), "-3"));  // digits only
  EXPECT_FALSE(ui::UserTypeText(Item(1001), "4a"));
  EXPECT_EQ(Text(1001), "10");

  g_messages.clear();
  EXPECT_TRUE(ui::UserPressArrow(Item(1002), 1));
  EXPECT_EQ(Text(1001), "10");  // stays at the top without UDS_WRAP
  EXPECT_TRUE(ui::UserPressArrow(Item(1002), -3));
  EXPECT_EQ(Text(1001), "7");
  EXPECT_EQ(SendDlgItemMessage(dlg, 1002, UDM_GETPOS32, 0, 0), 7);
  int scrolls = 0;
  for (const Message& m : g_messages) scrolls += m.msg == WM_VSCROLL;
  EXPECT_EQ(scrolls, 4);
  EXPECT_EQ(Commands(EN_CHANGE).size(), 4u);  // the buddy's text changes notify too

  // The arrow starts from the buddy's number, typed or set by the program.
  SetDlgItemText(dlg, 1001, "3");
  ui::UserPressArrow(Item(1002), 1);
  EXPECT_EQ(Text(1001), "4");

  // Wrapping, with an inverted range where the up arrow counts down.
  SendDlgItemMessage(dlg, 1004, UDM_SETRANGE32, 5, 1);
  EXPECT_EQ(SendDlgItemMessage(dlg, 1004, UDM_SETPOS32, 0, 1), 0);  // the old position
  EXPECT_EQ(Text(1003), "1");
  ui::UserPressArrow(Item(1004), 1);
  EXPECT_EQ(Text(1003), "5");  // below the lower end it wraps to the other
  ui::UserPressArrow(Item(1004), 1);
  EXPECT_EQ(Text(1003), "4");

  EnableWindow(Item(1002), FALSE);
  EXPECT_FALSE(ui::UserPressArrow(Item(1002), 1));
}

TEST_F(DialogTest, AutoRadioButtonsClearTheirOwnGroupOnly) {
  ui::UserClick(Item(1006));
  ui::UserClick(Item(1008));
  EXPECT_EQ(IsDlgButtonChecked(dlg, 1006), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dlg, 1008), BST_CHECKED);
  ui::UserClick(Item(1007));
  EXPECT_EQ(IsDlgButtonChecked(dlg, 1006), BST_UNCHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dlg, 1007), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dlg, 1008), BST_CHECKED);

  CheckRadioButton(dlg, 1006, 1009, 1009);
  for (int id : {1006, 1007, 1008}) EXPECT_EQ(IsDlgButtonChecked(dlg, id), BST_UNCHECKED) << id;
  EXPECT_EQ(IsDlgButtonChecked(dlg, 1009), BST_CHECKED);
  EXPECT_EQ(IsDlgButtonChecked(dlg, 1005), BST_UNCHECKED);  // outside the id range
}

TEST_F(DialogTest, StyleChangesPassThroughTheDialogProcedure) {
  g_keepControlParent = true;
  SetWindowLongPtr(dlg, GWL_EXSTYLE, 0);
  EXPECT_TRUE(GetWindowLongPtr(dlg, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
  g_keepControlParent = false;
  EXPECT_EQ(SetWindowLongPtr(dlg, GWL_EXSTYLE, 0), static_cast<LONG_PTR>(WS_EX_CONTROLPARENT));
  EXPECT_EQ(GetWindowLongPtr(dlg, GWL_EXSTYLE), 0);

  EXPECT_EQ(SetWindowLongPtr(dlg, DWLP_USER, 77), 0);
  EXPECT_EQ(GetWindowLongPtr(dlg, DWLP_USER), 77);
  EXPECT_EQ(GetWindowLongPtr(Item(1001), DWLP_USER), 0);  // controls have no dialog data
}

TEST_F(DialogTest, DestroyedWindowsAreGoneForGood) {
  HWND edit = Item(1001);
  g_messages.clear();
  EXPECT_TRUE(DestroyWindow(dlg));
  ASSERT_GE(g_messages.size(), 2u);
  EXPECT_EQ(g_messages.front().msg, WM_DESTROY);
  EXPECT_EQ(g_messages.back().msg, WM_NCDESTROY);
  EXPECT_FALSE(IsWindow(dlg));
  EXPECT_FALSE(IsWindow(edit));
  EXPECT_FALSE(DestroyWindow(dlg));
  EXPECT_FALSE(SetDlgItemText(dlg, 1001, "x"));
  char buf[8] = "junk";
  EXPECT_EQ(GetDlgItemText(dlg, 1001, buf, sizeof buf), 0u);
  EXPECT_STREQ(buf, "");
}

TEST(CommonControls, InitialisationChecksTheStructureSize) {
  INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
  EXPECT_TRUE(InitCommonControlsEx(&icc));
  icc.dwSize = 4;
  EXPECT_FALSE(InitCommonControlsEx(&icc));
  EXPECT_FALSE(InitCommonControlsEx(nullptr));
}

}  // namespace

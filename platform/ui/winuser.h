// The dialog system property pages run on: windows behind HWND handles, dialogs created from
// templates declared in code (dialogres.h), the standard controls (static text, edit, check box,
// radio button, drop-down list, up-down), string resources, and the Win32-style calls pages use.
//
// Windows belong to one window manager in this library, shared by the host and every plugin, so
// a page created inside a plugin works on the same windows as the host's property frame. Handles
// are numbers, never pointers: a stale handle is refused, it cannot reach freed memory.
//
// Message routing: SendMessage calls the window's procedure at once (no queue). A dialog's
// messages go through its dialog procedure first; when it returns 0 the default handling runs.
// The dialog receives WM_INITDIALOG at creation, WM_SHOWWINDOW, WM_MOVE/WM_SIZE, WM_STYLECHANGING/
// WM_STYLECHANGED, WM_SETTEXT, WM_DESTROY, and WM_COMMAND notifications from its controls:
// EN_CHANGE whenever an edit's text changes (by a program or the user), BN_CLICKED and
// CBN_SELCHANGE when the user clicks a button or picks a list item, WM_VSCROLL when the user
// presses an up-down arrow. Programmatic BM_SETCHECK and CB_SETCURSEL do not notify.
//
// Text is narrow (UTF-8); the ...W functions convert. Threads: windows are used from the host's
// user-interface thread only; the handle table itself is safe to use from any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/com/wintypes.h"

namespace ui {
struct ModuleResources;
}

// ---- Messages ----
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ENABLE = 0x000A;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_STYLECHANGING = 0x007C;
constexpr UINT WM_STYLECHANGED = 0x007D;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_HSCROLL = 0x0114;
constexpr UINT WM_VSCROLL = 0x0115;
constexpr UINT WM_USER = 0x0400;

// Button messages and states.
constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BM_CLICK = 0x00F5;
constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;
constexpr UINT BST_INDETERMINATE = 2;

// Edit messages.
constexpr UINT EM_LIMITTEXT = 0x00C5;
constexpr UINT EM_SETLIMITTEXT = EM_LIMITTEXT;

// Drop-down list messages.
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_DELETESTRING = 0x0144;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;
constexpr UINT CB_INSERTSTRING = 0x014A;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_FINDSTRING = 0x014C;
constexpr UINT CB_SELECTSTRING = 0x014D;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr UINT CB_FINDSTRINGEXACT = 0x0158;
constexpr UINT CB_SETMINVISIBLE = 0x1701;
constexpr UINT CB_GETMINVISIBLE = 0x1702;
constexpr LRESULT CB_OKAY = 0;
constexpr LRESULT CB_ERR = -1;

// Up-down messages. UDM_SETRANGE: lParam = MAKELPARAM(upper, lower), 16-bit; UDM_SETRANGE32:
// wParam = lower, lParam = upper; UDM_GETRANGE32: wParam = int* lower, lParam = int* upper;
// UDM_SETPOS32: lParam = position, returns the old one; UDM_GETPOS32: lParam = BOOL* error.
constexpr UINT UDM_SETRANGE = WM_USER + 101;
constexpr UINT UDM_GETRANGE = WM_USER + 102;
constexpr UINT UDM_SETPOS = WM_USER + 103;
constexpr UINT UDM_GETPOS = WM_USER + 104;
constexpr UINT UDM_SETBUDDY = WM_USER + 105;
constexpr UINT UDM_GETBUDDY = WM_USER + 106;
constexpr UINT UDM_SETRANGE32 = WM_USER + 111;
constexpr UINT UDM_GETRANGE32 = WM_USER + 112;
constexpr UINT UDM_SETPOS32 = WM_USER + 113;
constexpr UINT UDM_GETPOS32 = WM_USER + 114;

// Notification codes (high word of WM_COMMAND's wParam) and scroll codes.
constexpr WORD BN_CLICKED = 0;
constexpr WORD CBN_SELCHANGE = 1;
constexpr WORD EN_CHANGE = 0x0300;
constexpr WORD SB_THUMBPOSITION = 4;
constexpr WORD SB_ENDSCROLL = 8;

// ---- Styles ----
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_EX_CONTROLPARENT = 0x00010000;

constexpr DWORD DS_3DLOOK = 0x0004;
constexpr DWORD DS_FIXEDSYS = 0x0008;
constexpr DWORD DS_SETFONT = 0x0040;
constexpr DWORD DS_MODALFRAME = 0x0080;
constexpr DWORD DS_CONTROL = 0x0400;
// The standard style of a property page's dialog: a hidden child dialog with its own font.
constexpr DWORD DS_PROPPAGE_STYLE = DS_SETFONT | DS_FIXEDSYS | DS_CONTROL | WS_CHILD;

constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_CENTER = 0x0001;
constexpr DWORD SS_RIGHT = 0x0002;

constexpr DWORD ES_LEFT = 0x0000;
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD ES_READONLY = 0x0800;
constexpr DWORD ES_NUMBER = 0x2000;  // the user can type digits only

constexpr DWORD BS_PUSHBUTTON = 0x0;
constexpr DWORD BS_DEFPUSHBUTTON = 0x1;
constexpr DWORD BS_CHECKBOX = 0x2;
constexpr DWORD BS_AUTOCHECKBOX = 0x3;
constexpr DWORD BS_RADIOBUTTON = 0x4;
constexpr DWORD BS_GROUPBOX = 0x7;
constexpr DWORD BS_AUTORADIOBUTTON = 0x9;
constexpr DWORD BS_TYPEMASK = 0xF;

constexpr DWORD CBS_SIMPLE = 0x1;
constexpr DWORD CBS_DROPDOWN = 0x2;
constexpr DWORD CBS_DROPDOWNLIST = 0x3;
constexpr DWORD CBS_SORT = 0x100;

constexpr DWORD UDS_WRAP = 0x01;
constexpr DWORD UDS_SETBUDDYINT = 0x02;  // position changes are written into the buddy as text
constexpr DWORD UDS_ALIGNRIGHT = 0x04;   // sits on the buddy's right edge, narrowing it
constexpr DWORD UDS_ALIGNLEFT = 0x08;
constexpr DWORD UDS_AUTOBUDDY = 0x10;    // the buddy is the previous control of the template
constexpr DWORD UDS_ARROWKEYS = 0x20;
constexpr DWORD UDS_HORZ = 0x40;
constexpr DWORD UDS_NOTHOUSANDS = 0x80;

// Window classes of the controls (template class names, compared without regard to case).
#define WC_STATIC "Static"
#define WC_EDIT "Edit"
#define WC_BUTTON "Button"
#define WC_COMBOBOX "ComboBox"
#define UPDOWN_CLASS "msctls_updown32"

// ---- Window data ----
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWLP_ID = -12;
constexpr int GWLP_USERDATA = -21;
// Dialog window extra data.
constexpr int DWLP_MSGRESULT = 0;
constexpr int DWLP_DLGPROC = 8;
constexpr int DWLP_USER = 16;

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

constexpr int IDC_STATIC = -1;

struct STYLESTRUCT {
  DWORD styleOld;
  DWORD styleNew;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

struct INITCOMMONCONTROLSEX {
  DWORD dwSize;
  DWORD dwICC;
};
constexpr DWORD ICC_LISTVIEW_CLASSES = 0x0001;
constexpr DWORD ICC_TREEVIEW_CLASSES = 0x0002;
constexpr DWORD ICC_BAR_CLASSES = 0x0004;
constexpr DWORD ICC_TAB_CLASSES = 0x0008;
constexpr DWORD ICC_UPDOWN_CLASS = 0x0010;
constexpr DWORD ICC_WIN95_CLASSES = 0x00FF;
constexpr DWORD ICC_STANDARD_CLASSES = 0x4000;

constexpr WORD LOWORD(DWORD_PTR v) { return static_cast<WORD>(v & 0xFFFF); }
constexpr WORD HIWORD(DWORD_PTR v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
constexpr LPARAM MAKELPARAM(WORD lo, WORD hi) {
  return static_cast<LPARAM>(static_cast<DWORD>(lo) | (static_cast<DWORD>(hi) << 16));
}
constexpr WPARAM MAKEWPARAM(WORD lo, WORD hi) {
  return static_cast<WPARAM>(static_cast<DWORD>(lo) | (static_cast<DWORD>(hi) << 16));
}
constexpr LONG MAKELONG(WORD lo, WORD hi) {
  return static_cast<LONG>(static_cast<DWORD>(lo) | (static_cast<DWORD>(hi) << 16));
}

using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

// ---- Windows and dialogs ----

// Creates a dialog from template templateId of module (dialogres.h): the dialog window, then its
// controls in template order (up-downs with UDS_AUTOBUDDY take the previous control as buddy),
// then sends WM_INITDIALOG (wParam: first control, lParam: initParam) through dialogProc (which
// may be null). Shown when the template has WS_VISIBLE. Null when the template is unknown (last
// error ERROR_RESOURCE_NAME_NOT_FOUND), parent is a stale handle, or the procedure destroyed the
// dialog during WM_INITDIALOG.
PLENOR_EXPORT HWND CreateDialogParam(const ui::ModuleResources* module, int templateId, HWND parent,
                                     DLGPROC dialogProc, LPARAM initParam);
// A plain top-level (parent null) or child container window, e.g. a property frame's page area.
PLENOR_EXPORT HWND CreateContainerWindow(HWND parent, const char* text, const RECT& rect, DWORD style, DWORD exStyle);
// Sends WM_DESTROY to the window and then to its children (depth first), removes them all and
// finally WM_NCDESTROY. FALSE for an unknown handle.
PLENOR_EXPORT BOOL DestroyWindow(HWND hwnd);
PLENOR_EXPORT BOOL IsWindow(HWND hwnd);
PLENOR_EXPORT BOOL IsWindowVisible(HWND hwnd);
PLENOR_EXPORT BOOL IsWindowEnabled(HWND hwnd);
PLENOR_EXPORT BOOL EnableWindow(HWND hwnd, BOOL enable);
// Returns whether the window was visible before.
PLENOR_EXPORT BOOL ShowWindow(HWND hwnd, int nCmdShow);
// Position relative to the parent, in pixels.
PLENOR_EXPORT BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);
// Window rectangle in frame (screen) coordinates; client rectangle from (0, 0).
PLENOR_EXPORT BOOL GetWindowRect(HWND hwnd, RECT* rect);
PLENOR_EXPORT BOOL GetClientRect(HWND hwnd, RECT* rect);
PLENOR_EXPORT HWND GetParent(HWND hwnd);
// Children in creation (template) order.
PLENOR_EXPORT std::vector<HWND> GetChildWindows(HWND hwnd);
// Class name ("#32770" for dialogs, the control class names above otherwise).
PLENOR_EXPORT std::string GetWindowClass(HWND hwnd);
// Number of live windows, for leak checks.
PLENOR_EXPORT size_t GetWindowCount();

PLENOR_EXPORT LONG_PTR GetWindowLongPtr(HWND hwnd, int index);
// GWL_STYLE / GWL_EXSTYLE changes send WM_STYLECHANGING (wParam: index, lParam: STYLESTRUCT* whose
// styleNew the window may change) before and WM_STYLECHANGED after. Returns the old value.
PLENOR_EXPORT LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value);
#define GetWindowLong GetWindowLongPtr
#define SetWindowLong SetWindowLongPtr

PLENOR_EXPORT LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Default handling: text (WM_SETTEXT, WM_GETTEXT, WM_GETTEXTLENGTH); 0 for everything else.
PLENOR_EXPORT LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

PLENOR_EXPORT BOOL SetWindowText(HWND hwnd, const char* text);
PLENOR_EXPORT int GetWindowText(HWND hwnd, char* buffer, int maxCount);
PLENOR_EXPORT int GetWindowTextLength(HWND hwnd);
PLENOR_EXPORT std::string GetWindowTextString(HWND hwnd);

PLENOR_EXPORT HWND GetDlgItem(HWND dialog, int id);
PLENOR_EXPORT int GetDlgCtrlID(HWND hwnd);
PLENOR_EXPORT LRESULT SendDlgItemMessage(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam);
PLENOR_EXPORT BOOL SetDlgItemText(HWND dialog, int id, const char* text);
PLENOR_EXPORT BOOL SetDlgItemTextW(HWND dialog, int id, const wchar_t* text);
// Copies at most maxCount - 1 characters and a terminator; returns the number copied.
PLENOR_EXPORT UINT GetDlgItemText(HWND dialog, int id, char* buffer, int maxCount);
PLENOR_EXPORT UINT GetDlgItemTextW(HWND dialog, int id, wchar_t* buffer, int maxCount);
PLENOR_EXPORT BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned);
// Leading blanks, an optional '-' when isSigned, decimal digits up to the first other character.
// *translated (may be null) is FALSE and the result 0 when there are no digits or the value does
// not fit.
PLENOR_EXPORT UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned);
PLENOR_EXPORT BOOL CheckDlgButton(HWND dialog, int id, UINT check);
PLENOR_EXPORT UINT IsDlgButtonChecked(HWND dialog, int id);
// Checks idCheck and unchecks every other radio button whose id lies in [idFirst, idLast].
PLENOR_EXPORT BOOL CheckRadioButton(HWND dialog, int idFirst, int idLast, int idCheck);

// Dialog units of a window's font to pixels ("MS Shell Dlg" 8: 6 x 13 pixels per 4 x 8 units).
PLENOR_EXPORT BOOL MapDialogRect(HWND dialog, RECT* rect);

// Copies string resource id of module into buffer (at most maxCount - 1 characters and a
// terminator); returns the number of characters copied, 0 when the string is not found.
PLENOR_EXPORT int LoadString(const ui::ModuleResources* module, UINT id, char* buffer, int maxCount);
PLENOR_EXPORT int LoadStringW(const ui::ModuleResources* module, UINT id, wchar_t* buffer, int maxCount);

// Registers the common control classes (all are built in). FALSE for a null or wrongly sized
// structure.
PLENOR_EXPORT BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc);

// ---- The user's actions, as a property frame drives them ----
// Each behaves as the user's input would: the control must be enabled, the change notifies the
// parent dialog. FALSE (nothing changed) when the action does not apply to the control.
namespace ui {
// Types text into an edit control. ES_NUMBER edits take digits only. When an up-down with
// UDS_SETBUDDYINT has the edit as buddy, a number outside its range is clamped into it.
PLENOR_EXPORT BOOL UserTypeText(HWND edit, const std::string& text);
// Clicks a button: an automatic check box toggles, an automatic radio button is checked and the
// other radio buttons of its group are unchecked; BN_CLICKED is sent either way.
PLENOR_EXPORT BOOL UserClick(HWND button);
// Picks item index of a drop-down list (CBN_SELCHANGE).
PLENOR_EXPORT BOOL UserSelectItem(HWND combo, int index);
// Presses an up-down arrow steps times (negative: the down arrow). The position starts from the
// buddy's number, moves toward the upper bound for the up arrow, stays inside the range (wraps
// with UDS_WRAP), is written into the buddy with UDS_SETBUDDYINT, and the parent gets WM_VSCROLL
// (SB_THUMBPOSITION, position) for each step.
PLENOR_EXPORT BOOL UserPressArrow(HWND updown, int steps);

// The up-down whose buddy is hwnd, or null.
PLENOR_EXPORT HWND FindUpDownForBuddy(HWND hwnd);
}  // namespace ui

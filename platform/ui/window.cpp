// The window manager: window objects behind numeric handles, the control procedures, dialog
// creation from templates and the user's actions.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <strings.h>
#include <unordered_map>

#include "platform/com/hresult.h"
#include "platform/com/runtime.h"
#include "platform/ui/dialogres.h"

namespace {

constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_INVALID_INDEX = 1413;
constexpr int kUpDownWidthPixels = 17;

enum class Kind { Dialog, Container, Static, Edit, Button, Combo, UpDown };

struct Window {
  HWND hwnd = nullptr;
  HWND parent = nullptr;
  Kind kind = Kind::Container;
  int id = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  std::string text;
  RECT rc{};  // relative to the parent, pixels
  std::vector<HWND> children;
  bool destroying = false;
  LONG_PTR userData = 0;

  // Dialogs.
  DLGPROC dlgProc = nullptr;
  LONG_PTR dwlUser = 0;
  LONG_PTR msgResult = 0;
  int baseX = 6, baseY = 13;  // pixels per 4 horizontal / 8 vertical dialog units

  // Buttons.
  UINT check = BST_UNCHECKED;
  // Drop-down lists.
  std::vector<std::string> items;
  int curSel = -1;
  int minVisible = 30;
  // Up-downs (the default range runs from 100 down to 0).
  int lower = 100;
  int upper = 0;
  int pos = 0;
  HWND buddy = nullptr;
  // Edits.
  int limit = 0;
};

class WindowManager {
 public:
  std::shared_ptr<Window> Get(HWND hwnd) {
    std::lock_guard lock(m_lock);
    auto it = m_windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return it == m_windows.end() ? nullptr : it->second;
  }
  HWND Add(const std::shared_ptr<Window>& w) {
    std::lock_guard lock(m_lock);
    m_next += 4;
    w->hwnd = reinterpret_cast<HWND>(m_next);
    m_windows[m_next] = w;
    return w->hwnd;
  }
  void Remove(HWND hwnd) {
    std::lock_guard lock(m_lock);
    m_windows.erase(reinterpret_cast<uintptr_t>(hwnd));
  }
  size_t Count() {
    std::lock_guard lock(m_lock);
    return m_windows.size();
  }

 private:
  std::mutex m_lock;
  std::unordered_map<uintptr_t, std::shared_ptr<Window>> m_windows;
  uintptr_t m_next = 0x10000;
};

WindowManager& Manager() {
  static WindowManager manager;
  return manager;
}

std::shared_ptr<Window> Lookup(HWND hwnd) {
  auto w = hwnd ? Manager().Get(hwnd) : nullptr;
  if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return w;
}

bool IsEnabled(const Window& w) { return (w.style & WS_DISABLED) == 0; }

// Copies text into a caller buffer of maxCount characters (terminator included); returns the
// number of characters copied.
template <class Char>
int CopyOut(const std::basic_string<Char>& text, Char* buffer, LONG_PTR maxCount) {
  if (!buffer || maxCount <= 0) return 0;
  size_t n = std::min(text.size(), static_cast<size_t>(maxCount - 1));
  std::memcpy(buffer, text.data(), n * sizeof(Char));
  buffer[n] = 0;
  return static_cast<int>(n);
}

// An integer written as an optional '-' and decimal digits, nothing else.
bool ParseWholeInt(const std::string& text, long long* value) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  if (i == text.size()) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
    if (v > 0xFFFFFFFFll) v = 0xFFFFFFFFll + 1;  // saturate: far outside any range
  }
  *value = negative ? -v : v;
  return true;
}

// GetDlgItemInt's reading: leading blanks, an optional '-', digits up to the first other character.
bool ParseLeadingInt(const std::string& text, bool allowSign, long long* value) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (allowSign && i < text.size() && text[i] == '-') {
    negative = true;
    ++i;
  }
  size_t start = i;
  long long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > 0xFFFFFFFFll) return false;
  }
  if (i == start) return false;
  *value = negative ? -v : v;
  return true;
}

int MulDivRound(int v, int mul, int div) {
  long long p = static_cast<long long>(v) * mul;
  return static_cast<int>(p >= 0 ? (p + div / 2) / div : -((-p + div / 2) / div));
}

void NotifyParent(const Window& w, WORD code) {
  if (w.parent)
    SendMessage(w.parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(w.id), code), reinterpret_cast<LPARAM>(w.hwnd));
}

int RangeMin(const Window& u) { return std::min(u.lower, u.upper); }
int RangeMax(const Window& u) { return std::max(u.lower, u.upper); }
int Clamp(const Window& u, long long v) {
  return static_cast<int>(std::clamp<long long>(v, RangeMin(u), RangeMax(u)));
}

// The up-down's position as the user sees it: the buddy's number when it holds one.
int CurrentUpDownPos(const Window& u, bool* fromBuddy) {
  if (fromBuddy) *fromBuddy = false;
  if (u.buddy && (u.style & UDS_SETBUDDYINT)) {
    long long v;
    if (auto b = Manager().Get(u.buddy); b && ParseWholeInt(b->text, &v)) {
      if (fromBuddy) *fromBuddy = true;
      return Clamp(u, v);
    }
  }
  return u.pos;
}

void SetUpDownPos(Window& u, int pos) {
  u.pos = pos;
  if (u.buddy && (u.style & UDS_SETBUDDYINT)) SetWindowText(u.buddy, std::to_string(pos).c_str());
}

LRESULT EditProc(Window& w, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_SETTEXT: {
      std::string text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      if (w.limit > 0 && text.size() > static_cast<size_t>(w.limit)) text.resize(static_cast<size_t>(w.limit));
      w.text = std::move(text);
      NotifyParent(w, EN_CHANGE);
      return TRUE;
    }
    case EM_LIMITTEXT:
      w.limit = static_cast<int>(wParam);
      return 0;
    default:
      return DefWindowProc(w.hwnd, msg, wParam, lParam);
  }
}

LRESULT ButtonProc(Window& w, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case BM_SETCHECK:
      w.check = static_cast<UINT>(wParam);
      return 0;
    case BM_GETCHECK:
      return w.check;
    case BM_CLICK:
      ui::UserClick(w.hwnd);
      return 0;
    default:
      return DefWindowProc(w.hwnd, msg, wParam, lParam);
  }
}

int FindItem(const Window& w, LONG_PTR startAfter, const char* text, bool exact) {
  if (!text) return static_cast<int>(CB_ERR);
  const int n = static_cast<int>(w.items.size());
  if (n == 0) return static_cast<int>(CB_ERR);
  int start = (startAfter < 0 || startAfter >= n) ? 0 : static_cast<int>(startAfter) + 1;
  size_t len = std::strlen(text);
  for (int k = 0; k < n; ++k) {
    int i = (start + k) % n;
    const std::string& item = w.items[static_cast<size_t>(i)];
    bool match = exact ? strcasecmp(item.c_str(), text) == 0
                       : item.size() >= len && strncasecmp(item.c_str(), text, len) == 0;
    if (match) return i;
  }
  return static_cast<int>(CB_ERR);
}

LRESULT ComboProc(Window& w, UINT msg, WPARAM wParam, LPARAM lParam) {
  const auto count = static_cast<LONG_PTR>(w.items.size());
  const bool isList = (w.style & 0x3) == CBS_DROPDOWNLIST;
  switch (msg) {
    case CB_ADDSTRING:
      if (!lParam) return CB_ERR;
      w.items.emplace_back(reinterpret_cast<const char*>(lParam));
      return count;
    case CB_INSERTSTRING: {
      auto index = static_cast<LONG_PTR>(static_cast<INT_PTR>(wParam));
      if (!lParam || index > count) return CB_ERR;
      if (index < 0) index = count;
      w.items.insert(w.items.begin() + index, reinterpret_cast<const char*>(lParam));
      if (w.curSel >= index) ++w.curSel;
      return index;
    }
    case CB_DELETESTRING: {
      auto index = static_cast<LONG_PTR>(wParam);
      if (index < 0 || index >= count) return CB_ERR;
      w.items.erase(w.items.begin() + index);
      if (w.curSel == index) w.curSel = -1;
      else if (w.curSel > index) --w.curSel;
      return count - 1;
    }
    case CB_RESETCONTENT:
      w.items.clear();
      w.curSel = -1;
      if (!isList) w.text.clear();
      return CB_OKAY;
    case CB_GETCOUNT:
      return count;
    case CB_SETCURSEL: {
      auto index = static_cast<LONG_PTR>(static_cast<INT_PTR>(wParam));
      if (index < 0 || index >= count) {
        w.curSel = -1;
        return CB_ERR;
      }
      w.curSel = static_cast<int>(index);
      if (!isList) w.text = w.items[static_cast<size_t>(index)];
      return index;
    }
    case CB_GETCURSEL:
      return w.curSel;
    case CB_GETLBTEXT: {
      auto index = static_cast<LONG_PTR>(wParam);
      if (index < 0 || index >= count || !lParam) return CB_ERR;
      const std::string& item = w.items[static_cast<size_t>(index)];
      std::memcpy(reinterpret_cast<char*>(lParam), item.c_str(), item.size() + 1);
      return static_cast<LRESULT>(item.size());
    }
    case CB_GETLBTEXTLEN: {
      auto index = static_cast<LONG_PTR>(wParam);
      if (index < 0 || index >= count) return CB_ERR;
      return static_cast<LRESULT>(w.items[static_cast<size_t>(index)].size());
    }
    case CB_FINDSTRING:
      return FindItem(w, static_cast<INT_PTR>(wParam), reinterpret_cast<const char*>(lParam), false);
    case CB_FINDSTRINGEXACT:
      return FindItem(w, static_cast<INT_PTR>(wParam), reinterpret_cast<const char*>(lParam), true);
    case CB_SELECTSTRING: {
      int i = FindItem(w, static_cast<INT_PTR>(wParam), reinterpret_cast<const char*>(lParam), false);
      if (i != CB_ERR) ComboProc(w, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
      return i;
    }
    case CB_SETMINVISIBLE:
      if (static_cast<INT_PTR>(wParam) <= 0) return FALSE;
      w.minVisible = static_cast<int>(wParam);
      return TRUE;
    case CB_GETMINVISIBLE:
      return w.minVisible;
    case WM_SETTEXT:
      if (isList) {
        // A drop-down list has no text of its own: the text selects the matching item.
        int i = FindItem(w, -1, reinterpret_cast<const char*>(lParam), true);
        if (i == CB_ERR) return CB_ERR;
        w.curSel = i;
        return TRUE;
      }
      w.text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      return TRUE;
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: {
      std::string text = isList ? (w.curSel >= 0 ? w.items[static_cast<size_t>(w.curSel)] : "") : w.text;
      if (msg == WM_GETTEXTLENGTH) return static_cast<LRESULT>(text.size());
      return CopyOut(text, reinterpret_cast<char*>(lParam), static_cast<LONG_PTR>(wParam));
    }
    default:
      return DefWindowProc(w.hwnd, msg, wParam, lParam);
  }
}

LRESULT UpDownProc(Window& w, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case UDM_SETRANGE: {
      // The words are signed 16-bit values; a pair that reads as an inverted range when signed
      // but as an ordered one when unsigned (0 .. 0xFFFF) is taken unsigned, as meant.
      auto upperWord = LOWORD(static_cast<DWORD_PTR>(lParam));
      auto lowerWord = HIWORD(static_cast<DWORD_PTR>(lParam));
      int lo = static_cast<SHORT>(lowerWord), hi = static_cast<SHORT>(upperWord);
      if (lo > hi && lowerWord <= upperWord) {
        lo = lowerWord;
        hi = upperWord;
      }
      w.lower = lo;
      w.upper = hi;
      return 0;
    }
    case UDM_GETRANGE:
      return MAKELONG(static_cast<WORD>(w.upper), static_cast<WORD>(w.lower));
    case UDM_SETRANGE32:
      w.lower = static_cast<int>(static_cast<INT_PTR>(wParam));
      w.upper = static_cast<int>(lParam);
      return 0;
    case UDM_GETRANGE32:
      if (wParam) *reinterpret_cast<int*>(wParam) = w.lower;
      if (lParam) *reinterpret_cast<int*>(lParam) = w.upper;
      return 0;
    case UDM_SETPOS:
    case UDM_SETPOS32: {
      int old = CurrentUpDownPos(w, nullptr);
      long long v = msg == UDM_SETPOS ? static_cast<SHORT>(LOWORD(static_cast<DWORD_PTR>(lParam)))
                                      : static_cast<long long>(static_cast<int>(lParam));
      SetUpDownPos(w, Clamp(w, v));
      return old;
    }
    case UDM_GETPOS:
    case UDM_GETPOS32: {
      bool fromBuddy = false;
      int pos = CurrentUpDownPos(w, &fromBuddy);
      const bool error = w.buddy && (w.style & UDS_SETBUDDYINT) && !fromBuddy;
      if (msg == UDM_GETPOS32) {
        if (lParam) *reinterpret_cast<BOOL*>(lParam) = error ? TRUE : FALSE;
        return pos;
      }
      return MAKELONG(static_cast<WORD>(pos), error ? 1 : 0);
    }
    case UDM_SETBUDDY: {
      HWND old = w.buddy;
      w.buddy = reinterpret_cast<HWND>(wParam);
      return reinterpret_cast<LRESULT>(old);
    }
    case UDM_GETBUDDY:
      return reinterpret_cast<LRESULT>(w.buddy);
    default:
      return DefWindowProc(w.hwnd, msg, wParam, lParam);
  }
}

LRESULT Dispatch(const std::shared_ptr<Window>& w, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (w->kind) {
    case Kind::Dialog: {
      if (w->dlgProc) {
        INT_PTR r = w->dlgProc(w->hwnd, msg, wParam, lParam);
        if (r) return r;
      }
      return DefWindowProc(w->hwnd, msg, wParam, lParam);
    }
    case Kind::Edit:
      return EditProc(*w, msg, wParam, lParam);
    case Kind::Button:
      return ButtonProc(*w, msg, wParam, lParam);
    case Kind::Combo:
      return ComboProc(*w, msg, wParam, lParam);
    case Kind::UpDown:
      return UpDownProc(*w, msg, wParam, lParam);
    case Kind::Static:
    case Kind::Container:
      break;
  }
  return DefWindowProc(w->hwnd, msg, wParam, lParam);
}

bool KindFromClass(const char* className, Kind* kind) {
  if (!className) return false;
  struct {
    const char* name;
    Kind kind;
  } const classes[] = {{WC_STATIC, Kind::Static},
                       {WC_EDIT, Kind::Edit},
                       {WC_BUTTON, Kind::Button},
                       {WC_COMBOBOX, Kind::Combo},
                       {UPDOWN_CLASS, Kind::UpDown}};
  for (const auto& c : classes) {
    if (strcasecmp(c.name, className) == 0) {
      *kind = c.kind;
      return true;
    }
  }
  return false;
}

std::shared_ptr<Window> NewWindow(Kind kind, HWND parent, DWORD style, DWORD exStyle, const RECT& rc) {
  auto w = std::make_shared<Window>();
  w->kind = kind;
  w->parent = parent;
  w->style = style;
  w->exStyle = exStyle;
  w->rc = rc;
  Manager().Add(w);
  if (parent) {
    if (auto p = Manager().Get(parent)) p->children.push_back(w->hwnd);
  }
  return w;
}

void DestroyTree(const std::shared_ptr<Window>& w) {
  if (w->destroying) return;
  w->destroying = true;
  Dispatch(w, WM_DESTROY, 0, 0);
  std::vector<HWND> children = w->children;
  for (HWND c : children) {
    if (auto child = Manager().Get(c)) DestroyTree(child);
  }
  Dispatch(w, WM_NCDESTROY, 0, 0);
  Manager().Remove(w->hwnd);
  if (auto p = Manager().Get(w->parent)) {
    auto& siblings = p->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), w->hwnd), siblings.end());
  }
}

}  // namespace

// ---- Windows and dialogs ----

HWND CreateDialogParam(const ui::ModuleResources* module, int templateId, HWND parent, DLGPROC dialogProc,
                       LPARAM initParam) {
  const ui::DialogTemplate* t = module ? module->FindDialog(templateId) : nullptr;
  if (!t) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  if (parent && !Lookup(parent)) return nullptr;
  try {
    const int points = t->pointSize > 0 ? t->pointSize : 8;
    const int baseX = MulDivRound(6, points, 8), baseY = MulDivRound(13, points, 8);
    RECT rc{0, 0, MulDivRound(t->cx, baseX, 4), MulDivRound(t->cy, baseY, 8)};
    auto dlg = NewWindow(Kind::Dialog, parent, t->style & ~WS_VISIBLE, 0, rc);
    dlg->baseX = baseX;
    dlg->baseY = baseY;
    dlg->text = t->caption ? t->caption : "";
    dlg->dlgProc = dialogProc;
    if (t->style & DS_CONTROL) dlg->exStyle |= WS_EX_CONTROLPARENT;

    HWND previous = nullptr, firstTab = nullptr;
    for (const ui::DialogControl& c : t->controls) {
      Kind kind;
      if (!KindFromClass(c.className, &kind)) continue;  // unknown classes are left out
      RECT crc{MulDivRound(c.x, baseX, 4), MulDivRound(c.y, baseY, 8), MulDivRound(c.x + c.cx, baseX, 4),
               MulDivRound(c.y + c.cy, baseY, 8)};
      auto ctl = NewWindow(kind, dlg->hwnd, c.style | WS_CHILD | WS_VISIBLE, 0, crc);
      ctl->id = c.id;
      ctl->text = c.text ? c.text : "";
      if (kind == Kind::UpDown && (c.style & UDS_AUTOBUDDY) && previous) {
        ctl->buddy = previous;
        if (auto b = Manager().Get(previous); b && (c.style & (UDS_ALIGNRIGHT | UDS_ALIGNLEFT))) {
          const int width = c.cx > 0 ? MulDivRound(c.cx, baseX, 4) : kUpDownWidthPixels;
          if (c.style & UDS_ALIGNRIGHT) {
            b->rc.right -= width;
            ctl->rc = {b->rc.right, b->rc.top, b->rc.right + width, b->rc.bottom};
          } else {
            b->rc.left += width;
            ctl->rc = {b->rc.left - width, b->rc.top, b->rc.left, b->rc.bottom};
          }
        }
      }
      if (!firstTab && (c.style & WS_TABSTOP)) firstTab = ctl->hwnd;
      previous = ctl->hwnd;
    }

    HWND hwnd = dlg->hwnd;
    Dispatch(dlg, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTab), initParam);
    if (!IsWindow(hwnd)) return nullptr;
    if (t->style & WS_VISIBLE) ShowWindow(hwnd, SW_SHOW);
    return hwnd;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

HWND CreateContainerWindow(HWND parent, const char* text, const RECT& rect, DWORD style, DWORD exStyle) {
  if (parent && !Lookup(parent)) return nullptr;
  try {
    auto w = NewWindow(Kind::Container, parent, style, exStyle, rect);
    w->text = text ? text : "";
    return w->hwnd;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

BOOL DestroyWindow(HWND hwnd) {
  auto w = Lookup(hwnd);
  if (!w || w->destroying) return FALSE;
  DestroyTree(w);
  return TRUE;
}

BOOL IsWindow(HWND hwnd) {
  auto w = hwnd ? Manager().Get(hwnd) : nullptr;
  return w && !w->destroying ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd) {
  auto w = Lookup(hwnd);
  return w && (w->style & WS_VISIBLE) ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hwnd) {
  auto w = Lookup(hwnd);
  return w && IsEnabled(*w) ? TRUE : FALSE;
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
  auto w = Lookup(hwnd);
  if (!w) return FALSE;
  const BOOL wasDisabled = IsEnabled(*w) ? FALSE : TRUE;
  if (enable)
    w->style &= ~WS_DISABLED;
  else
    w->style |= WS_DISABLED;
  if (wasDisabled != (enable ? FALSE : TRUE)) Dispatch(w, WM_ENABLE, enable ? TRUE : FALSE, 0);
  return wasDisabled;
}

BOOL ShowWindow(HWND hwnd, int nCmdShow) {
  auto w = Lookup(hwnd);
  if (!w) return FALSE;
  const BOOL wasVisible = (w->style & WS_VISIBLE) ? TRUE : FALSE;
  const bool show = nCmdShow != SW_HIDE;
  if (show)
    w->style |= WS_VISIBLE;
  else
    w->style &= ~WS_VISIBLE;
  if (show != (wasVisible == TRUE)) Dispatch(w, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
  return wasVisible;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL /*repaint*/) {
  auto w = Lookup(hwnd);
  if (!w) return FALSE;
  w->rc = {x, y, x + width, y + height};
  Dispatch(w, WM_MOVE, 0, MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
  Dispatch(w, WM_SIZE, 0, MAKELPARAM(static_cast<WORD>(width), static_cast<WORD>(height)));
  return TRUE;
}

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
  auto w = Lookup(hwnd);
  if (!w || !rect) return FALSE;
  RECT r = w->rc;
  for (auto p = Manager().Get(w->parent); p; p = Manager().Get(p->parent)) {
    r.left += p->rc.left;
    r.right += p->rc.left;
    r.top += p->rc.top;
    r.bottom += p->rc.top;
  }
  *rect = r;
  return TRUE;
}

BOOL GetClientRect(HWND hwnd, RECT* rect) {
  auto w = Lookup(hwnd);
  if (!w || !rect) return FALSE;
  *rect = {0, 0, w->rc.right - w->rc.left, w->rc.bottom - w->rc.top};
  return TRUE;
}

HWND GetParent(HWND hwnd) {
  auto w = Lookup(hwnd);
  return w ? w->parent : nullptr;
}

std::vector<HWND> GetChildWindows(HWND hwnd) {
  auto w = Lookup(hwnd);
  return w ? w->children : std::vector<HWND>{};
}

std::string GetWindowClass(HWND hwnd) {
  auto w = Lookup(hwnd);
  if (!w) return {};
  switch (w->kind) {
    case Kind::Dialog:
      return "#32770";
    case Kind::Container:
      return "PlenorContainer";
    case Kind::Static:
      return WC_STATIC;
    case Kind::Edit:
      return WC_EDIT;
    case Kind::Button:
      return WC_BUTTON;
    case Kind::Combo:
      return WC_COMBOBOX;
    case Kind::UpDown:
      return UPDOWN_CLASS;
  }
  return {};
}

size_t GetWindowCount() { return Manager().Count(); }

LONG_PTR GetWindowLongPtr(HWND hwnd, int index) {
  auto w = Lookup(hwnd);
  if (!w) return 0;
  switch (index) {
    case GWL_STYLE:
      return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE:
      return static_cast<LONG_PTR>(w->exStyle);
    case GWLP_ID:
      return w->id;
    case GWLP_USERDATA:
      return w->userData;
    default:
      break;
  }
  if (w->kind == Kind::Dialog) {
    if (index == DWLP_USER) return w->dwlUser;
    if (index == DWLP_MSGRESULT) return w->msgResult;
    if (index == DWLP_DLGPROC) return reinterpret_cast<LONG_PTR>(w->dlgProc);
  }
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value) {
  auto w = Lookup(hwnd);
  if (!w) return 0;
  if (index == GWL_STYLE || index == GWL_EXSTYLE) {
    DWORD& field = index == GWL_STYLE ? w->style : w->exStyle;
    STYLESTRUCT ss{field, static_cast<DWORD>(value)};
    Dispatch(w, WM_STYLECHANGING, static_cast<WPARAM>(static_cast<INT_PTR>(index)), reinterpret_cast<LPARAM>(&ss));
    const DWORD old = field;
    field = ss.styleNew;
    ss.styleOld = old;
    Dispatch(w, WM_STYLECHANGED, static_cast<WPARAM>(static_cast<INT_PTR>(index)), reinterpret_cast<LPARAM>(&ss));
    return static_cast<LONG_PTR>(old);
  }
  LONG_PTR* slot = nullptr;
  if (index == GWLP_USERDATA) slot = &w->userData;
  if (w->kind == Kind::Dialog) {
    if (index == DWLP_USER) slot = &w->dwlUser;
    if (index == DWLP_MSGRESULT) slot = &w->msgResult;
    if (index == DWLP_DLGPROC) {
      auto old = reinterpret_cast<LONG_PTR>(w->dlgProc);
      w->dlgProc = reinterpret_cast<DLGPROC>(value);
      return old;
    }
  }
  if (index == GWLP_ID) {
    LONG_PTR old = w->id;
    w->id = static_cast<int>(value);
    return old;
  }
  if (!slot) {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  return std::exchange(*slot, value);
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto w = Lookup(hwnd);
  return w ? Dispatch(w, msg, wParam, lParam) : 0;
}

LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto w = Lookup(hwnd);
  if (!w) return 0;
  switch (msg) {
    case WM_SETTEXT:
      w->text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      return TRUE;
    case WM_GETTEXT:
      return CopyOut(w->text, reinterpret_cast<char*>(lParam), static_cast<LONG_PTR>(wParam));
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(w->text.size());
    default:
      return 0;
  }
}

BOOL SetWindowText(HWND hwnd, const char* text) {
  return SendMessage(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")) > 0 ? TRUE : FALSE;
}

int GetWindowText(HWND hwnd, char* buffer, int maxCount) {
  if (buffer && maxCount > 0) buffer[0] = '\0';
  return static_cast<int>(SendMessage(hwnd, WM_GETTEXT, static_cast<WPARAM>(std::max(maxCount, 0)),
                                      reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLength(HWND hwnd) { return static_cast<int>(SendMessage(hwnd, WM_GETTEXTLENGTH, 0, 0)); }

std::string GetWindowTextString(HWND hwnd) {
  int n = GetWindowTextLength(hwnd);
  if (n <= 0) return {};
  std::string s(static_cast<size_t>(n) + 1, '\0');
  int got = GetWindowText(hwnd, s.data(), n + 1);
  s.resize(static_cast<size_t>(std::max(got, 0)));
  return s;
}

HWND GetDlgItem(HWND dialog, int id) {
  auto w = Lookup(dialog);
  if (!w) return nullptr;
  for (HWND c : w->children) {
    auto child = Manager().Get(c);
    if (child && child->id == id) return c;
  }
  return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
  auto w = Lookup(hwnd);
  return w ? w->id : 0;
}

LRESULT SendDlgItemMessage(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SendMessage(item, msg, wParam, lParam) : 0;
}

BOOL SetDlgItemText(HWND dialog, int id, const char* text) {
  HWND item = GetDlgItem(dialog, id);
  return item ? SetWindowText(item, text) : FALSE;
}

BOOL SetDlgItemTextW(HWND dialog, int id, const wchar_t* text) {
  return SetDlgItemText(dialog, id, WideToUtf8(text ? text : L"").c_str());
}

UINT GetDlgItemText(HWND dialog, int id, char* buffer, int maxCount) {
  if (buffer && maxCount > 0) buffer[0] = '\0';
  HWND item = GetDlgItem(dialog, id);
  return item ? static_cast<UINT>(GetWindowText(item, buffer, maxCount)) : 0;
}

UINT GetDlgItemTextW(HWND dialog, int id, wchar_t* buffer, int maxCount) {
  if (buffer && maxCount > 0) buffer[0] = L'\0';
  HWND item = GetDlgItem(dialog, id);
  if (!item) return 0;
  return static_cast<UINT>(CopyOut(Utf8ToWide(GetWindowTextString(item)), buffer, maxCount));
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
  std::string text = isSigned ? std::to_string(static_cast<int>(value)) : std::to_string(value);
  return SetDlgItemText(dialog, id, text.c_str());
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
  if (translated) *translated = FALSE;
  HWND item = GetDlgItem(dialog, id);
  if (!item) return 0;
  long long v;
  if (!ParseLeadingInt(GetWindowTextString(item), isSigned != FALSE, &v)) return 0;
  if (isSigned ? (v < INT32_MIN || v > INT32_MAX) : (v > UINT32_MAX)) return 0;
  if (translated) *translated = TRUE;
  return static_cast<UINT>(v);
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  HWND item = GetDlgItem(dialog, id);
  if (!item) return FALSE;
  SendMessage(item, BM_SETCHECK, check, 0);
  return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) { return static_cast<UINT>(SendDlgItemMessage(dialog, id, BM_GETCHECK, 0, 0)); }

BOOL CheckRadioButton(HWND dialog, int idFirst, int idLast, int idCheck) {
  auto w = Lookup(dialog);
  if (!w) return FALSE;
  for (HWND c : std::vector<HWND>(w->children)) {
    auto child = Manager().Get(c);
    if (!child || child->kind != Kind::Button || child->id < idFirst || child->id > idLast) continue;
    SendMessage(c, BM_SETCHECK, child->id == idCheck ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  return TRUE;
}

BOOL MapDialogRect(HWND dialog, RECT* rect) {
  auto w = Lookup(dialog);
  if (!w || w->kind != Kind::Dialog || !rect) return FALSE;
  rect->left = MulDivRound(rect->left, w->baseX, 4);
  rect->right = MulDivRound(rect->right, w->baseX, 4);
  rect->top = MulDivRound(rect->top, w->baseY, 8);
  rect->bottom = MulDivRound(rect->bottom, w->baseY, 8);
  return TRUE;
}

int LoadString(const ui::ModuleResources* module, UINT id, char* buffer, int maxCount) {
  const ui::StringResource* s = module ? module->FindString(id) : nullptr;
  if (buffer && maxCount > 0) buffer[0] = '\0';
  if (!s || !s->text) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  return CopyOut(std::string(s->text), buffer, maxCount);
}

int LoadStringW(const ui::ModuleResources* module, UINT id, wchar_t* buffer, int maxCount) {
  const ui::StringResource* s = module ? module->FindString(id) : nullptr;
  if (buffer && maxCount > 0) buffer[0] = L'\0';
  if (!s || !s->text) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  return CopyOut(Utf8ToWide(s->text), buffer, maxCount);
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc) {
  return icc && icc->dwSize == sizeof(INITCOMMONCONTROLSEX) ? TRUE : FALSE;
}

// ---- The user's actions ----

namespace ui {

HWND FindUpDownForBuddy(HWND hwnd) {
  auto w = Manager().Get(hwnd);
  if (!w) return nullptr;
  auto parent = Manager().Get(w->parent);
  if (!parent) return nullptr;
  for (HWND c : parent->children) {
    auto child = Manager().Get(c);
    if (child && child->kind == Kind::UpDown && child->buddy == hwnd) return c;
  }
  return nullptr;
}

BOOL UserTypeText(HWND edit, const std::string& text) {
  auto w = Lookup(edit);
  if (!w || w->kind != Kind::Edit || !IsEnabled(*w) || (w->style & ES_READONLY)) return FALSE;
  if (w->style & ES_NUMBER) {
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) return FALSE;
  }
  std::string value = text;
  if (HWND ud = FindUpDownForBuddy(edit)) {
    auto u = Manager().Get(ud);
    long long v;
    if (u && (u->style & UDS_SETBUDDYINT) && ParseWholeInt(text, &v)) {
      u->pos = Clamp(*u, v);
      value = std::to_string(u->pos);
    }
  }
  SetWindowText(edit, value.c_str());
  return TRUE;
}

BOOL UserClick(HWND button) {
  auto w = Lookup(button);
  if (!w || w->kind != Kind::Button || !IsEnabled(*w)) return FALSE;
  const DWORD type = w->style & BS_TYPEMASK;
  if (type == BS_GROUPBOX) return FALSE;
  if (type == BS_AUTOCHECKBOX) {
    w->check = w->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  } else if (type == BS_AUTORADIOBUTTON) {
    // The group runs from the nearest control at or before this one with WS_GROUP up to the next
    // control with WS_GROUP.
    if (auto parent = Manager().Get(w->parent)) {
      const auto& siblings = parent->children;
      auto self = std::find(siblings.begin(), siblings.end(), button);
      auto first = self;
      while (first != siblings.begin()) {
        auto s = Manager().Get(*first);
        if (s && (s->style & WS_GROUP)) break;
        --first;
      }
      for (auto it = first; it != siblings.end(); ++it) {
        auto s = Manager().Get(*it);
        if (!s) continue;
        if (it != first && (s->style & WS_GROUP)) break;
        if (s->kind == Kind::Button && (s->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON && *it != button)
          s->check = BST_UNCHECKED;
      }
    }
    w->check = BST_CHECKED;
  }
  NotifyParent(*w, BN_CLICKED);
  return TRUE;
}

BOOL UserSelectItem(HWND combo, int index) {
  auto w = Lookup(combo);
  if (!w || w->kind != Kind::Combo || !IsEnabled(*w)) return FALSE;
  if (index < 0 || static_cast<size_t>(index) >= w->items.size()) return FALSE;
  SendMessage(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  NotifyParent(*w, CBN_SELCHANGE);
  return TRUE;
}

BOOL UserPressArrow(HWND updown, int steps) {
  auto w = Lookup(updown);
  if (!w || w->kind != Kind::UpDown || !IsEnabled(*w) || steps == 0) return FALSE;
  const int direction = steps > 0 ? 1 : -1;
  // The up arrow moves toward the upper bound, whichever way the range runs.
  const int delta = w->upper >= w->lower ? direction : -direction;
  for (int i = 0; i < std::abs(steps); ++i) {
    long long next = static_cast<long long>(CurrentUpDownPos(*w, nullptr)) + delta;
    if (next > RangeMax(*w)) next = (w->style & UDS_WRAP) ? RangeMin(*w) : RangeMax(*w);
    if (next < RangeMin(*w)) next = (w->style & UDS_WRAP) ? RangeMax(*w) : RangeMin(*w);
    SetUpDownPos(*w, static_cast<int>(next));
    if (w->parent) {
      SendMessage(w->parent, (w->style & UDS_HORZ) ? WM_HSCROLL : WM_VSCROLL,
                  MAKEWPARAM(SB_THUMBPOSITION, static_cast<WORD>(w->pos)), reinterpret_cast<LPARAM>(updown));
    }
  }
  return TRUE;
}

}  // namespace ui

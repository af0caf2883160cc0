// Dialog templates and string tables declared in code: the stand-in for a module's resource file.
//
// A module declares its resources once, as constant tables, and passes the ModuleResources to the
// dialog system wherever a resource is needed (CreateDialogParam, LoadString; property pages take
// it in their constructor). Positions and sizes are dialog units of the dialog's font.
//
//   constexpr ui::DialogControl kChannelControls[] = {
//       ui::LText("Channel:", IDC_STATIC, 7, 10, 40, 8),
//       ui::EditText(1001, 50, 8, 40, 14, ES_AUTOHSCROLL | ES_NUMBER),
//       ui::UpDown(1002, UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS),
//       ui::AutoCheckBox("Invert image", 1003, 7, 30, 80, 10),
//   };
//   constexpr ui::DialogTemplate kDialogs[] = {
//       {101, DS_PROPPAGE_STYLE, 170, 102, "MS Shell Dlg", 8, "", kChannelControls},
//   };
//   constexpr ui::StringResource kStrings[] = {{102, "My Filter Properties"}};
//   constexpr ui::ModuleResources kResources{kDialogs, kStrings};
#pragma once

#include <span>

#include "platform/ui/winuser.h"

namespace ui {

struct DialogControl {
  const char* text;       // label or initial text ("" for none)
  int id;                 // control id, IDC_STATIC for none
  const char* className;  // WC_STATIC, WC_EDIT, WC_BUTTON, WC_COMBOBOX, UPDOWN_CLASS
  DWORD style;            // class styles; WS_CHILD and WS_VISIBLE are added
  short x, y, cx, cy;     // dialog units
};

struct DialogTemplate {
  int id;                 // the dialog resource id
  DWORD style;            // e.g. DS_PROPPAGE_STYLE
  short cx, cy;           // size in dialog units
  const char* font;       // "MS Shell Dlg"
  int pointSize;          // 8
  const char* caption;
  std::span<const DialogControl> controls;
};

struct StringResource {
  UINT id;
  const char* text;
};

struct ModuleResources {
  std::span<const DialogTemplate> dialogs;
  std::span<const StringResource> strings;

  const DialogTemplate* FindDialog(int id) const {
    for (const DialogTemplate& d : dialogs)
      if (d.id == id) return &d;
    return nullptr;
  }
  const StringResource* FindString(UINT id) const {
    for (const StringResource& s : strings)
      if (s.id == id) return &s;
    return nullptr;
  }
};

// Resource-script style builders.
constexpr DialogControl Control(const char* text, int id, const char* className, DWORD style, short x, short y,
                                short cx, short cy) {
  return {text, id, className, style, x, y, cx, cy};
}
constexpr DialogControl LText(const char* text, int id, short x, short y, short cx, short cy, DWORD style = 0) {
  return {text, id, WC_STATIC, SS_LEFT | style, x, y, cx, cy};
}
constexpr DialogControl RText(const char* text, int id, short x, short y, short cx, short cy, DWORD style = 0) {
  return {text, id, WC_STATIC, SS_RIGHT | style, x, y, cx, cy};
}
constexpr DialogControl EditText(int id, short x, short y, short cx, short cy, DWORD style = ES_AUTOHSCROLL) {
  return {"", id, WC_EDIT, style | WS_TABSTOP | WS_BORDER, x, y, cx, cy};
}
constexpr DialogControl AutoCheckBox(const char* text, int id, short x, short y, short cx, short cy, DWORD style = 0) {
  return {text, id, WC_BUTTON, BS_AUTOCHECKBOX | WS_TABSTOP | style, x, y, cx, cy};
}
// Starts a new group of radio buttons when style has WS_GROUP.
constexpr DialogControl AutoRadioButton(const char* text, int id, short x, short y, short cx, short cy,
                                        DWORD style = 0) {
  return {text, id, WC_BUTTON, BS_AUTORADIOBUTTON | style, x, y, cx, cy};
}
constexpr DialogControl GroupBox(const char* text, int id, short x, short y, short cx, short cy) {
  return {text, id, WC_BUTTON, BS_GROUPBOX, x, y, cx, cy};
}
constexpr DialogControl PushButton(const char* text, int id, short x, short y, short cx, short cy, DWORD style = 0) {
  return {text, id, WC_BUTTON, BS_PUSHBUTTON | WS_TABSTOP | style, x, y, cx, cy};
}
// cy is the height of the dropped-down list, as in resource scripts.
constexpr DialogControl ComboBox(int id, short x, short y, short cx, short cy,
                                 DWORD style = CBS_DROPDOWNLIST | WS_VSCROLL) {
  return {"", id, WC_COMBOBOX, style | WS_TABSTOP, x, y, cx, cy};
}
// With UDS_ALIGNRIGHT the control is placed on its buddy's right edge at creation, so position
// and size may be left 0 (the width defaults to 10 units).
constexpr DialogControl UpDown(int id, DWORD style, short x = 0, short y = 0, short cx = 0, short cy = 0) {
  return {"", id, UPDOWN_CLASS, style, x, y, cx, cy};
}

}  // namespace ui

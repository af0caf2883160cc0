#include "utilities/pages.h"

#include <cstdio>
#include <new>
#include <string>

namespace plenor::utilities {

namespace {

constexpr const char* kFormats[] = {"RGB24", "RGB32", "ARGB32", "AYUV", "I420", "PCM"};
constexpr const char* kPatterns[] = {"bars", "solid", "noise"};
constexpr const char* kChannels[] = {"1", "2"};
constexpr const char* kBits[] = {"8", "16"};

constexpr int kMaxInt = 0x7FFFFFFF;

constexpr PageField Text(int i, const char* label, const char* param) {
  return {label, param, FieldKind::Text, FieldControlId(i), 0, 0, 0, {}};
}
constexpr PageField Number(int i, const char* label, const char* param, int minimum, int maximum) {
  return {label, param, FieldKind::Number, FieldControlId(i), FieldSpinId(i), minimum, maximum, {}};
}
constexpr PageField Check(int i, const char* label, const char* param) {
  return {label, param, FieldKind::Check, FieldControlId(i), 0, 0, 0, {}};
}
constexpr PageField Choice(int i, const char* label, const char* param, std::span<const char* const> choices) {
  return {label, param, FieldKind::Choice, FieldControlId(i), 0, 0, 0, choices};
}

constexpr PageField kTestPatternFields[] = {
    Choice(0, "Format:", "format", kFormats),
    Number(1, "Width:", "width", 2, 16384),
    Number(2, "Height:", "height", 2, 16384),
    Text(3, "Frame rate:", "framerate"),
    Number(4, "Frames (0 = endless):", "frames", 0, kMaxInt),
    Choice(5, "Pattern:", "pattern", kPatterns),
    Text(6, "Colour (RRGGBB):", "colour"),
    Number(7, "Noise seed:", "seed", 0, kMaxInt),
    Number(8, "Sample rate:", "samplerate", 1000, 192000),
    Choice(9, "Channels:", "channels", kChannels),
    Choice(10, "Bits per sample:", "bits", kBits),
    Text(11, "Left tone (Hz):", "tone_left"),
    Text(12, "Right tone (Hz):", "tone_right"),
    Number(13, "Samples per buffer:", "samples_per_buffer", 1, 1048576),
};
constexpr PageField kFileNameFields[] = {Text(0, "File name:", "filename")};
constexpr PageField kWriterFields[] = {Text(0, "File name:", "filename"),
                                       Check(1, "Write in step with the clock", "sync")};
constexpr PageField kNullRendererFields[] = {Check(0, "Render in step with the clock", "sync")};
constexpr PageField kSampleGrabberFields[] = {Number(0, "Samples kept (0 = all):", "max_samples", 0, kMaxInt)};
constexpr PageField kQueueFields[] = {Number(0, "Samples queued at most:", "max_samples", 1, kMaxInt),
                                      Number(1, "Bytes queued at most (0 = no bound):", "max_bytes", 0, kMaxInt)};
constexpr PageField kImageWriterFields[] = {
    Text(0, "File name pattern:", "filename"),
    Number(1, "Every Nth frame:", "every", 1, kMaxInt),
    Text(2, "Frame numbers:", "frames"),
    Check(3, "Write in step with the clock", "sync"),
};

// One row per field: the label on the left, the control on the right.
template <size_t N>
struct DialogControls {
  ui::DialogControl controls[N * 3]{};
  int count = 0;
};

template <size_t N>
constexpr DialogControls<N> MakeControls(const PageField (&fields)[N]) {
  DialogControls<N> d;
  for (size_t i = 0; i < N; ++i) {
    const PageField& f = fields[i];
    const short y = static_cast<short>(8 + 18 * i);
    if (f.kind == FieldKind::Check) {
      d.controls[d.count++] = ui::AutoCheckBox(f.label, f.id, 7, y, 200, 10);
      continue;
    }
    d.controls[d.count++] = ui::LText(f.label, IDC_STATIC, 7, static_cast<short>(y + 2), 85, 8);
    switch (f.kind) {
      case FieldKind::Text:
        d.controls[d.count++] = ui::EditText(f.id, 95, y, 120, 14);
        break;
      case FieldKind::Number:
        d.controls[d.count++] = ui::EditText(f.id, 95, y, 70, 14, ES_AUTOHSCROLL | ES_NUMBER);
        d.controls[d.count++] =
            ui::UpDown(f.spinId, UDS_SETBUDDYINT | UDS_AUTOBUDDY | UDS_ALIGNRIGHT | UDS_ARROWKEYS);
        break;
      default:
        d.controls[d.count++] = ui::ComboBox(f.id, 95, y, 80, 100);
        break;
    }
  }
  return d;
}

constexpr auto kTestPatternControls = MakeControls(kTestPatternFields);
constexpr auto kFileNameControls = MakeControls(kFileNameFields);
constexpr auto kWriterControls = MakeControls(kWriterFields);
constexpr auto kNullRendererControls = MakeControls(kNullRendererFields);
constexpr auto kSampleGrabberControls = MakeControls(kSampleGrabberFields);
constexpr auto kImageWriterControls = MakeControls(kImageWriterFields);
constexpr auto kQueueControls = MakeControls(kQueueFields);

template <size_t N>
constexpr std::span<const ui::DialogControl> Controls(const DialogControls<N>& d) {
  return {d.controls, static_cast<size_t>(d.count)};
}
constexpr short Height(size_t rows) { return static_cast<short>(16 + 18 * rows); }

constexpr ui::DialogTemplate kDialogs[] = {
    {IDD_TESTPATTERN, DS_PROPPAGE_STYLE, 230, Height(14), "MS Shell Dlg", 8, "", Controls(kTestPatternControls)},
    {IDD_WAVSOURCE, DS_PROPPAGE_STYLE, 230, Height(1), "MS Shell Dlg", 8, "", Controls(kFileNameControls)},
    {IDD_NULLRENDERER, DS_PROPPAGE_STYLE, 230, Height(1), "MS Shell Dlg", 8, "", Controls(kNullRendererControls)},
    {IDD_SAMPLEGRABBER, DS_PROPPAGE_STYLE, 230, Height(1), "MS Shell Dlg", 8, "", Controls(kSampleGrabberControls)},
    {IDD_FILEWRITER, DS_PROPPAGE_STYLE, 230, Height(2), "MS Shell Dlg", 8, "", Controls(kWriterControls)},
    {IDD_IMAGEWRITER, DS_PROPPAGE_STYLE, 230, Height(4), "MS Shell Dlg", 8, "", Controls(kImageWriterControls)},
    {IDD_WAVWRITER, DS_PROPPAGE_STYLE, 230, Height(2), "MS Shell Dlg", 8, "", Controls(kWriterControls)},
    {IDD_QUEUE, DS_PROPPAGE_STYLE, 230, Height(1), "MS Shell Dlg", 8, "", Controls(kQueueControls)},
};
constexpr ui::StringResource kStrings[] = {
    {IDS_TESTPATTERN, "Plenor Test Pattern Source Properties"},
    {IDS_WAVSOURCE, "Plenor WAV Source Properties"},
    {IDS_NULLRENDERER, "Plenor Null Renderer Properties"},
    {IDS_SAMPLEGRABBER, "Plenor Sample Grabber Properties"},
    {IDS_FILEWRITER, "Plenor File Writer Properties"},
    {IDS_IMAGEWRITER, "Plenor Image Writer Properties"},
    {IDS_WAVWRITER, "Plenor WAV Writer Properties"},
    {IDS_QUEUE, "Plenor Queue Properties"},
};

}  // namespace

const PageDesc kTestPatternPage{IDD_TESTPATTERN, IDS_TESTPATTERN, kTestPatternFields};
const PageDesc kWavSourcePage{IDD_WAVSOURCE, IDS_WAVSOURCE, kFileNameFields};
const PageDesc kNullRendererPage{IDD_NULLRENDERER, IDS_NULLRENDERER, kNullRendererFields};
const PageDesc kSampleGrabberPage{IDD_SAMPLEGRABBER, IDS_SAMPLEGRABBER, kSampleGrabberFields};
const PageDesc kFileWriterPage{IDD_FILEWRITER, IDS_FILEWRITER, kWriterFields};
const PageDesc kImageWriterPage{IDD_IMAGEWRITER, IDS_IMAGEWRITER, kImageWriterFields};
const PageDesc kWavWriterPage{IDD_WAVWRITER, IDS_WAVWRITER, kWriterFields};
const PageDesc kQueuePage{IDD_QUEUE, IDS_QUEUE, kQueueFields};

const ui::ModuleResources g_UtilityResources{kDialogs, kStrings};

CUtilityProperties::CUtilityProperties(LPUNKNOWN pUnk, const PageDesc& desc)
    : FilterPropertiesBase(pUnk, desc.dialogId, desc.titleId, &g_UtilityResources), m_desc(desc) {}

// User-interface thread.
HRESULT CUtilityProperties::ReadSettings() {
  if (!m_pSettings) return E_UNEXPECTED;
  for (const PageField& f : m_desc.fields) {
    char value[256];
    int length = 0;
    if (f.kind == FieldKind::Number) SendDlgItemMessage(m_hwnd, f.spinId, UDM_SETRANGE32, f.minimum, f.maximum);
    if (f.kind == FieldKind::Choice) {
      SendDlgItemMessage(m_hwnd, f.id, CB_RESETCONTENT, 0, 0);
      for (const char* choice : f.choices)
        SendDlgItemMessage(m_hwnd, f.id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice));
    }
    if (FAILED(m_pSettings->GetParameter(f.param, sizeof value, value, &length))) return E_FAIL;
    switch (f.kind) {
      case FieldKind::Check:
        CheckDlgButton(m_hwnd, f.id, std::string(value) == "1" ? BST_CHECKED : BST_UNCHECKED);
        break;
      case FieldKind::Choice:
        SendDlgItemMessage(m_hwnd, f.id, CB_SETCURSEL,
                           static_cast<WPARAM>(SendDlgItemMessage(m_hwnd, f.id, CB_FINDSTRINGEXACT,
                                                                  static_cast<WPARAM>(-1),
                                                                  reinterpret_cast<LPARAM>(value))),
                           0);
        break;
      default:
        SetDlgItemText(m_hwnd, f.id, value);
        break;
    }
  }
  return S_OK;
}

// User-interface thread.
HRESULT CUtilityProperties::OnApplyChanges() {
  if (!m_pSettings) return E_UNEXPECTED;
  HRESULT result = S_OK;
  for (const PageField& f : m_desc.fields) {
    char value[256] = {};
    switch (f.kind) {
      case FieldKind::Check:
        std::snprintf(value, sizeof value, "%s", IsDlgButtonChecked(m_hwnd, f.id) == BST_CHECKED ? "1" : "0");
        break;
      case FieldKind::Choice: {
        LRESULT sel = SendDlgItemMessage(m_hwnd, f.id, CB_GETCURSEL, 0, 0);
        if (sel == CB_ERR) continue;  // nothing chosen: leave the parameter as it is
        LRESULT len = SendDlgItemMessage(m_hwnd, f.id, CB_GETLBTEXTLEN, static_cast<WPARAM>(sel), 0);
        if (len < 0 || len >= static_cast<LRESULT>(sizeof value)) continue;
        SendDlgItemMessage(m_hwnd, f.id, CB_GETLBTEXT, static_cast<WPARAM>(sel), reinterpret_cast<LPARAM>(value));
        break;
      }
      default:
        GetDlgItemText(m_hwnd, f.id, value, sizeof value);
        break;
    }
    HRESULT hr = m_pSettings->SetParameter(f.param, value);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

}  // namespace plenor::utilities

// The property pages of the utility filters. One table-driven page class serves them all: each
// page lists its fields (parameter name, kind of control, control ids, spin range or choices),
// shows them from GetParameter when activated and writes them back with SetParameter, in table
// order, when applied. Apply writes every field and returns the first failing write's result
// (S_OK when all succeed).
#pragma once

#include <span>

#include "framework/propbase.h"

namespace plenor::utilities {

enum class FieldKind {
  Text,    // edit control
  Number,  // edit control (digits only) with an up-down control
  Check,   // check box (flag parameters)
  Choice,  // drop-down list of the allowed texts
};

struct PageField {
  const char* label;
  const char* param;
  FieldKind kind;
  int id;      // the edit, check box or drop-down list
  int spinId;  // the up-down control of a Number field (0 otherwise)
  int minimum;
  int maximum;
  std::span<const char* const> choices;
};

struct PageDesc {
  int dialogId;
  int titleId;
  std::span<const PageField> fields;
};

// Resource ids (dialog templates 201.., title strings 301..).
constexpr int IDD_TESTPATTERN = 201, IDS_TESTPATTERN = 301;
constexpr int IDD_WAVSOURCE = 202, IDS_WAVSOURCE = 302;
constexpr int IDD_NULLRENDERER = 203, IDS_NULLRENDERER = 303;
constexpr int IDD_SAMPLEGRABBER = 204, IDS_SAMPLEGRABBER = 304;
constexpr int IDD_FILEWRITER = 205, IDS_FILEWRITER = 305;
constexpr int IDD_IMAGEWRITER = 206, IDS_IMAGEWRITER = 306;
constexpr int IDD_WAVWRITER = 207, IDS_WAVWRITER = 307;
constexpr int IDD_QUEUE = 208, IDS_QUEUE = 308;

// Control ids: field i of a page has the id 1001 + 2 i and, for a Number field, the up-down
// control 1002 + 2 i.
constexpr int FieldControlId(int index) { return 1001 + 2 * index; }
constexpr int FieldSpinId(int index) { return 1002 + 2 * index; }

extern const PageDesc kTestPatternPage;
extern const PageDesc kWavSourcePage;
extern const PageDesc kNullRendererPage;
extern const PageDesc kSampleGrabberPage;
extern const PageDesc kFileWriterPage;
extern const PageDesc kImageWriterPage;
extern const PageDesc kWavWriterPage;
extern const PageDesc kQueuePage;

extern const ui::ModuleResources g_UtilityResources;

class CUtilityProperties : public FilterPropertiesBase {
 public:
  CUtilityProperties(LPUNKNOWN pUnk, const PageDesc& desc);

  HRESULT ReadSettings() override;
  HRESULT OnApplyChanges() override;

  template <const PageDesc& Desc>
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    auto* page = new (std::nothrow) CUtilityProperties(pUnk, Desc);
    if (!page && phr) *phr = E_OUTOFMEMORY;
    return page;
  }

 private:
  const PageDesc& m_desc;
};

}  // namespace plenor::utilities

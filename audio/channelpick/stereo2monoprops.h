// Stereo2MonoProperties: the property page of ChannelPickFilter ("Ravik STEREO2MONO Properties").
// One edit control (1001) with an up-down (1002, range 0 ... 32767) bound to "channel".
// User-interface thread.
#pragma once

#include "framework/propbase.h"

// Dialog and title resources, control ids.
constexpr int IDD_STEREO2MONO = 101;
constexpr int IDS_STEREO2MONO_TITLE = 102;
constexpr int IDC_CHANNEL = 1001;
constexpr int IDC_CHANNEL_SPIN = 1002;

// The module's dialog templates and strings.
extern const ui::ModuleResources g_Stereo2MonoResources;

class Stereo2MonoProperties : public FilterPropertiesBase {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  explicit Stereo2MonoProperties(LPUNKNOWN pUnk);

  // Sets the up-down range and shows "channel"; E_FAIL (edit left empty) when it cannot be read.
  HRESULT ReadSettings() override;
  // Writes the edit's text to "channel". The write's result is not looked at: S_OK.
  HRESULT OnApplyChanges() override;

 private:
  int m_nChannel = 0;  // the value last shown or applied
};

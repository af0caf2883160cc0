// H264Properties: the H.264 file source's property page ("Ravik H264 Source Filter Properties").
// A disabled drop-down list showing "sourcedimensions", an FPS edit with a spin control showing
// "fps" (shown only: the page never writes it), and the check box "Use Quelt H264 Decoder" bound
// to "usequelth264". User-interface thread.
#pragma once

#include "framework/propbase.h"

// Dialog resource, title string and control ids of the page.
constexpr int IDD_H264PROPERTIES = 102;
constexpr int IDS_H264PROPERTIES_TITLE = 101;
constexpr int IDC_H264_SOURCEDIMENSIONS = 1001;
constexpr int IDC_H264_FPS = 1002;
constexpr int IDC_H264_FPS_SPIN = 1003;
constexpr int IDC_H264_USEQUELT = 1004;

class H264Properties : public FilterPropertiesBase {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  explicit H264Properties(LPUNKNOWN pUnk);

  // Shows "usequelth264" (checked unless the value begins with '0'; a failed read leaves the
  // box), "fps" (when it can be read) and "sourcedimensions" (a failed read ends with E_FAIL).
  HRESULT ReadSettings() override;
  // Sets only "usequelth264" to "true" or "false" and returns that call's result.
  HRESULT OnApplyChanges() override;
};

// YUV2RGBProperties: the property page of I420ToRgbFilter ("Ravik YUV 2 RGB Filter Properties");
// controls and behaviour in colour/common/colourprops.h. User-interface thread.
#pragma once

#include "colour/common/colourprops.h"

// The module's dialog template and title string.
extern const ui::ModuleResources g_YUV2RGBResources;

class YUV2RGBProperties : public ColourPropertiesBase {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  explicit YUV2RGBProperties(LPUNKNOWN pUnk);
};

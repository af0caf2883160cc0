// RGB2YUVProperties: the property page of RgbToI420Filter ("Ravik RGB to YUV converter Filter
// Properties"); controls and behaviour in colour/common/colourprops.h. User-interface thread.
#pragma once

#include "colour/common/colourprops.h"

// The module's dialog template and title string.
extern const ui::ModuleResources g_RGB2YUVResources;

class RGB2YUVProperties : public ColourPropertiesBase {
 public:
  static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);
  explicit RGB2YUVProperties(LPUNKNOWN pUnk);
};

#include "colour/yuv2rgb/yuv2rgbprops.h"

#include <new>

namespace {

constexpr ui::DialogTemplate kYUV2RGBDialogs[] = {
    {IDD_COLOUR_PAGE, DS_PROPPAGE_STYLE, kColourPageWidth, kColourPageHeight, "MS Shell Dlg", 8, "",
     kColourPageControls},
};
constexpr ui::StringResource kYUV2RGBStrings[] = {
    {IDS_COLOUR_PAGE_TITLE, "Ravik YUV 2 RGB Filter Properties"},
};

}  // namespace

const ui::ModuleResources g_YUV2RGBResources{kYUV2RGBDialogs, kYUV2RGBStrings};

CUnknown* YUV2RGBProperties::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* page = new (std::nothrow) YUV2RGBProperties(pUnk);
  if (!page && phr) *phr = E_OUTOFMEMORY;
  return page;
}

YUV2RGBProperties::YUV2RGBProperties(LPUNKNOWN pUnk) : ColourPropertiesBase(pUnk, &g_YUV2RGBResources) {}

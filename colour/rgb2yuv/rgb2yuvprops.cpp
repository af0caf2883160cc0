#include "colour/rgb2yuv/rgb2yuvprops.h"

#include <new>

namespace {

constexpr ui::DialogTemplate kRGB2YUVDialogs[] = {
    {IDD_COLOUR_PAGE, DS_PROPPAGE_STYLE, kColourPageWidth, kColourPageHeight, "MS Shell Dlg", 8, "",
     kColourPageControls},
};
constexpr ui::StringResource kRGB2YUVStrings[] = {
    {IDS_COLOUR_PAGE_TITLE, "Ravik RGB to YUV converter Filter Properties"},
};

}  // namespace

const ui::ModuleResources g_RGB2YUVResources{kRGB2YUVDialogs, kRGB2YUVStrings};

CUnknown* RGB2YUVProperties::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
  auto* page = new (std::nothrow) RGB2YUVProperties(pUnk);
  if (!page && phr) *phr = E_OUTOFMEMORY;
  return page;
}

RGB2YUVProperties::RGB2YUVProperties(LPUNKNOWN pUnk) : ColourPropertiesBase(pUnk, &g_RGB2YUVResources) {}

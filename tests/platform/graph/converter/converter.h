// A test-only plugin module, PlenorGraphTestConverter.so, with one registered converter filter
// ("Plenor Test Converter", merit MERIT_NORMAL): input pin "In" takes Video/RGB32, output pin
// "Out" gives Video/RGB24 of the same size. The graph manager finds it through the mapper when
// it has to connect an RGB32 output to an RGB24-only input.
#pragma once

#include "platform/com/guid.h"

PLENOR_GUID(CLSID_GraphTestConverter, 0x2b8f47d1, 0x6a0e, 0x4c3b, 0xa7, 0x52, 0x91, 0x0d, 0x3e, 0x6c, 0x58, 0x24);
inline constexpr const wchar_t* kGraphTestConverterName = L"Plenor Test Converter";

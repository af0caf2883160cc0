// The suite's own identifiers: the two suite interfaces and the two custom media subtypes. They
// are the same in every deliverable (graphs saved by one deliverable are read by another), so the
// values below must never change. Class ids of the deliverables live beside their filters.
#pragma once

#include "platform/com/guid.h"

// {6E506821-BDE4-4F29-9327-A0B347FECEFE}
PLENOR_GUID(IID_ISettingsInterface, 0x6e506821, 0xbde4, 0x4f29, 0x93, 0x27, 0xa0, 0xb3, 0x47, 0xfe, 0xce, 0xfe);
// {943250A9-2351-424F-B191-BCCF06F27E87}
PLENOR_GUID(IID_IStatusInterface, 0x943250a9, 0x2351, 0x424f, 0xb1, 0x91, 0xbc, 0xcf, 0x06, 0xf2, 0x7e, 0x87);

// Planar YUV 4:2:0 (Y plane, then U, then V), the layout of the suite's converters and sources.
// {B358AC3A-5F99-4CA4-A3DB-CC1840D54E12}
PLENOR_GUID(MEDIASUBTYPE_PLENOR_YUV420P, 0xb358ac3a, 0x5f99, 0x4ca4, 0xa3, 0xdb, 0xcc, 0x18, 0x40, 0xd5, 0x4e, 0x12);
// H.264 pictures as the suite's encoder writes them, with the suite's parameter-set trailer.
// {99F056B1-1286-4C45-AEA7-E5B4681BE10E}
PLENOR_GUID(MEDIASUBTYPE_PLENOR_H264, 0x99f056b1, 0x1286, 0x4c45, 0xae, 0xa7, 0xe5, 0xb4, 0x68, 0x1b, 0xe1, 0x0e);

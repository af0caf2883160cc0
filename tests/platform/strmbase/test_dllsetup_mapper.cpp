// The per-filter registration helpers driven directly: the same setup data registered through the
// older IFilterMapper (pin by pin) and through IFilterMapper2 (one REGFILTER2) gives the same entry.
#include <gtest/gtest.h>

#include "platform/com/runtime.h"
#include "platform/graph/mapper.h"
#include "platform/strmbase/dllsetup.h"

// This test binary links the registration code, which needs a template table: an empty one.
CFactoryTemplate g_Templates[1] = {};
int g_cTemplates = 0;

namespace {

PLENOR_GUID(CLSID_SetupTestFilter, 0x9F61FA59, 0xACAC, 0x4B45, 0xBD, 0x12, 0x03, 0x47, 0x57, 0x36, 0x9E, 0x0C);
PLENOR_GUID(CLSID_SetupTestPeer, 0xFA5075F0, 0x21F3, 0x4BBD, 0x86, 0x18, 0x9F, 0x17, 0x08, 0x3B, 0x62, 0x73);

const AMOVIESETUP_MEDIATYPE kInTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}, {&MEDIATYPE_Audio, nullptr}};
const AMOVIESETUP_MEDIATYPE kOutTypes[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
const AMOVIESETUP_PIN kPins[] = {
    {L"", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 2, kInTypes},
    {L"", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kOutTypes},
    {L"Extra", TRUE, TRUE, TRUE, TRUE, &CLSID_SetupTestPeer, L"Peer", 0, nullptr},
};
const AMOVIESETUP_FILTER kSetup = {&CLSID_SetupTestFilter, L"Setup Test \u00e9 Filter", MERIT_UNLIKELY, 3, kPins};

void ExpectSameEntry(const RegisteredFilter& a, const RegisteredFilter& b) {
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.merit, b.merit);
  EXPECT_EQ(a.category, b.category);
  ASSERT_EQ(a.pins.size(), b.pins.size());
  for (size_t i = 0; i < a.pins.size(); ++i) {
    SCOPED_TRACE(i);
    const RegisteredPin& p = a.pins[i];
    const RegisteredPin& q = b.pins[i];
    EXPECT_EQ(p.name, q.name);
    EXPECT_EQ(p.rendered, q.rendered);
    EXPECT_EQ(p.output, q.output);
    EXPECT_EQ(p.zero, q.zero);
    EXPECT_EQ(p.many, q.many);
    EXPECT_EQ(p.connectsToFilter, q.connectsToFilter);
    EXPECT_EQ(p.connectsToPin, q.connectsToPin);
    ASSERT_EQ(p.mediaTypes.size(), q.mediaTypes.size());
    for (size_t t = 0; t < p.mediaTypes.size(); ++t) {
      EXPECT_EQ(p.mediaTypes[t].majorType, q.mediaTypes[t].majorType);
      EXPECT_EQ(p.mediaTypes[t].subType, q.mediaTypes[t].subType);
    }
  }
}

TEST(FilterSetup, BothMapperInterfacesWriteTheSameEntry) {
  ComPtr<IFilterMapper2> mapper2;
  ComPtr<IFilterMapper> mapper;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper2.AsOut()),
            S_OK);
  ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper, mapper.AsOut()),
            S_OK);

  ASSERT_EQ(AMovieSetupRegisterFilter2(&kSetup, mapper2.Get(), TRUE), S_OK);
  RegisteredFilter viaNew;
  ASSERT_EQ(MapperGetFilter(CLSID_SetupTestFilter, &viaNew), S_OK);
  // Registering through the other interface replaces the entry rather than adding pins to it.
  ASSERT_EQ(AMovieSetupRegisterFilter(&kSetup, mapper.Get(), TRUE), S_OK);
  RegisteredFilter viaOld;
  ASSERT_EQ(MapperGetFilter(CLSID_SetupTestFilter, &viaOld), S_OK);
  ExpectSameEntry(viaNew, viaOld);

  EXPECT_EQ(viaNew.name, L"Setup Test \u00e9 Filter");
  ASSERT_EQ(viaNew.pins.size(), 3u);
  EXPECT_EQ(viaNew.pins[0].mediaTypes.size(), 2u);
  EXPECT_EQ(viaNew.pins[0].mediaTypes[1].subType, GUID_NULL);  // a null subtype pointer registers a wildcard
  EXPECT_EQ(viaNew.pins[1].mediaTypes.size(), 1u);
  EXPECT_EQ(viaNew.pins[2].connectsToFilter, CLSID_SetupTestPeer);
  EXPECT_EQ(viaNew.pins[2].connectsToPin, L"Peer");

  // Unregistering twice through either interface: the missing entry is not an error.
  EXPECT_EQ(AMovieSetupRegisterFilter(&kSetup, mapper.Get(), FALSE), S_OK);
  EXPECT_EQ(MapperGetFilter(CLSID_SetupTestFilter, &viaOld), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(AMovieSetupRegisterFilter(&kSetup, mapper.Get(), FALSE), S_OK);
  EXPECT_EQ(AMovieSetupRegisterFilter2(&kSetup, mapper2.Get(), FALSE), S_OK);
}

}  // namespace

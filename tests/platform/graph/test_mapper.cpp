// The filter mapper: entries written through both interfaces, matching by pin direction, media
// type and merit, the order of matches, and the enumerator.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/com/runtime.h"
#include "platform/graph/mapper.h"

namespace {

PLENOR_GUID(CLSID_MapSource, 0x33F2CF51, 0x71C0, 0x4B87, 0xB1, 0x03, 0x2E, 0xD9, 0xBB, 0xFB, 0xA6, 0x01);
PLENOR_GUID(CLSID_MapConverter, 0x33F2CF51, 0x71C0, 0x4B87, 0xB1, 0x03, 0x2E, 0xD9, 0xBB, 0xFB, 0xA6, 0x02);
PLENOR_GUID(CLSID_MapRenderer, 0x33F2CF51, 0x71C0, 0x4B87, 0xB1, 0x03, 0x2E, 0xD9, 0xBB, 0xFB, 0xA6, 0x03);
PLENOR_GUID(CLSID_MapNoPins, 0x33F2CF51, 0x71C0, 0x4B87, 0xB1, 0x03, 0x2E, 0xD9, 0xBB, 0xFB, 0xA6, 0x04);
PLENOR_GUID(CLSID_MapOld, 0x33F2CF51, 0x71C0, 0x4B87, 0xB1, 0x03, 0x2E, 0xD9, 0xBB, 0xFB, 0xA6, 0x05);
PLENOR_GUID(CLSID_SomeCategory, 0xF0D10779, 0x5839, 0x4AB1, 0xAC, 0xCB, 0x77, 0x64, 0x4F, 0x50, 0xB7, 0x84);

const REGPINTYPES kI420[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_I420}};
const REGPINTYPES kRgb[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}, {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32}};
const REGPINTYPES kAnyVideo[] = {{&MEDIATYPE_Video, &GUID_NULL}};

const REGFILTERPINS kSourcePins[] = {{L"Output", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kI420}};
const REGFILTERPINS kConverterPins[] = {{L"In", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 2, kRgb},
                                        {L"Out", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kI420}};
const REGFILTERPINS kRendererPins[] = {{L"Input", TRUE, FALSE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, kAnyVideo}};

class MapperTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2, mapper.AsOut()),
              S_OK);
    Register(CLSID_MapSource, L"Source", MERIT_NORMAL, kSourcePins, 1);
    Register(CLSID_MapConverter, L"Converter", MERIT_PREFERRED, kConverterPins, 2);
    Register(CLSID_MapRenderer, L"Renderer", MERIT_UNLIKELY, kRendererPins, 1);
    Register(CLSID_MapNoPins, L"No pins", MERIT_DO_NOT_USE, nullptr, 0);
  }
  void TearDown() override {
    for (const CLSID& c : {CLSID_MapSource, CLSID_MapConverter, CLSID_MapRenderer, CLSID_MapNoPins, CLSID_MapOld})
      mapper->UnregisterFilter(nullptr, nullptr, c);
  }

  void Register(REFCLSID clsid, const wchar_t* name, DWORD merit, const REGFILTERPINS* pins, ULONG count) {
    REGFILTER2 rf2{1, merit, count, pins};
    ASSERT_EQ(mapper->RegisterFilter(clsid, name, nullptr, nullptr, nullptr, &rf2), S_OK);
  }

  // Names of the matches, in enumeration order.
  static std::vector<std::wstring> Drain(IEnumRegFilters* e) {
    std::vector<std::wstring> names;
    REGFILTER* rf = nullptr;
    ULONG got = 0;
    while (e->Next(1, &rf, &got) == S_OK) {
      EXPECT_EQ(got, 1u);
      names.emplace_back(rf->Name);
      CoTaskMemFree(rf);  // one block: the record and its name
    }
    return names;
  }

  std::vector<std::wstring> Match(DWORD merit, BOOL inputNeeded, std::vector<GUID> in, BOOL render,
                                  BOOL outputNeeded, std::vector<GUID> out, BOOL exact = FALSE) {
    ComPtr<IEnumRegFilters> e;
    HRESULT hr = mapper->EnumMatchingFilters(e.ReleaseAndGetAddressOf(), 0, exact, merit, inputNeeded,
                                             static_cast<DWORD>(in.size() / 2), in.data(), nullptr, nullptr, render,
                                             outputNeeded, static_cast<DWORD>(out.size() / 2), out.data(), nullptr,
                                             nullptr);
    EXPECT_EQ(hr, S_OK);
    return e ? Drain(e.Get()) : std::vector<std::wstring>{};
  }

  // Only the filters this test registered (the registry may hold others).
  static std::vector<std::wstring> Ours(std::vector<std::wstring> names) {
    std::erase_if(names, [](const std::wstring& n) {
      return n != L"Source" && n != L"Converter" && n != L"Renderer" && n != L"No pins" && n != L"Old";
    });
    return names;
  }

  ComPtr<IFilterMapper2> mapper;
};

using Names = std::vector<std::wstring>;

TEST_F(MapperTest, MatchesByMeritAndOrdersHighestFirst) {
  EXPECT_EQ(Ours(Match(0, FALSE, {}, FALSE, FALSE, {})), (Names{L"Converter", L"Source", L"Renderer", L"No pins"}));
  EXPECT_EQ(Ours(Match(MERIT_NORMAL, FALSE, {}, FALSE, FALSE, {})), (Names{L"Converter", L"Source"}));
  EXPECT_EQ(Ours(Match(MERIT_NORMAL + 1, FALSE, {}, FALSE, FALSE, {})), (Names{L"Converter"}));
}

TEST_F(MapperTest, MatchesPinsByDirectionAndType) {
  // Input RGB24: the converter, and the renderer whose registered subtype is a wildcard.
  EXPECT_EQ(Ours(Match(0, TRUE, {MEDIATYPE_Video, MEDIASUBTYPE_RGB24}, FALSE, FALSE, {})),
            (Names{L"Converter", L"Renderer"}));
  // ... but not the renderer when the match must be exact.
  EXPECT_EQ(Ours(Match(0, TRUE, {MEDIATYPE_Video, MEDIASUBTYPE_RGB24}, FALSE, FALSE, {}, TRUE)),
            (Names{L"Converter"}));
  // A wildcard in the request matches any registered subtype.
  EXPECT_EQ(Ours(Match(0, TRUE, {MEDIATYPE_Video, GUID_NULL}, FALSE, FALSE, {})), (Names{L"Converter", L"Renderer"}));
  // Any one of several requested types is enough.
  EXPECT_EQ(Ours(Match(0, TRUE, {MEDIATYPE_Audio, MEDIASUBTYPE_PCM, MEDIATYPE_Video, MEDIASUBTYPE_RGB32}, FALSE, FALSE,
                       {}, TRUE)),
            (Names{L"Converter"}));
  // I420 is only ever an output here.
  EXPECT_EQ(Ours(Match(0, TRUE, {MEDIATYPE_Video, MEDIASUBTYPE_I420}, FALSE, FALSE, {}, TRUE)), Names{});
  EXPECT_EQ(Ours(Match(0, FALSE, {}, FALSE, TRUE, {MEDIATYPE_Video, MEDIASUBTYPE_I420})),
            (Names{L"Converter", L"Source"}));
  // Both sides: an intermediate filter from RGB32 to I420.
  EXPECT_EQ(Ours(Match(0, TRUE, {MEDIATYPE_Video, MEDIASUBTYPE_RGB32}, FALSE, TRUE, {MEDIATYPE_Video, MEDIASUBTYPE_I420})),
            (Names{L"Converter"}));
  // Pins needed without a type; a rendered input.
  EXPECT_EQ(Ours(Match(0, FALSE, {}, FALSE, TRUE, {})), (Names{L"Converter", L"Source"}));
  EXPECT_EQ(Ours(Match(0, TRUE, {}, TRUE, FALSE, {})), (Names{L"Renderer"}));
  EXPECT_EQ(Ours(Match(0, TRUE, {}, FALSE, FALSE, {})), (Names{L"Converter", L"Renderer"}));
}

TEST_F(MapperTest, QueryFunctionAgreesWithTheEnumerator) {
  FilterMatchCriteria c;
  c.inputTypes = {{MEDIATYPE_Video, MEDIASUBTYPE_RGB24}};
  c.outputTypes = {{MEDIATYPE_Video, MEDIASUBTYPE_I420}};
  std::vector<RegisteredFilter> found;
  ASSERT_EQ(MapperFindFilters(c, &found), S_OK);
  Names names;
  for (const RegisteredFilter& f : found) names.push_back(f.name);
  EXPECT_EQ(Ours(names), (Names{L"Converter"}));

  RegisteredFilter conv;
  ASSERT_EQ(MapperGetFilter(CLSID_MapConverter, &conv), S_OK);
  EXPECT_EQ(conv.merit, MERIT_PREFERRED);
  EXPECT_EQ(conv.category, CLSID_LegacyAmFilterCategory);
  ASSERT_EQ(conv.pins.size(), 2u);
  EXPECT_EQ(conv.pins[0].name, L"In");
  ASSERT_EQ(conv.pins[0].mediaTypes.size(), 2u);
  EXPECT_EQ(conv.pins[0].mediaTypes[1].subType, MEDIASUBTYPE_RGB32);
  EXPECT_TRUE(MapperFilterMatches(conv, c));
  c.minMerit = MERIT_PREFERRED + 1;
  EXPECT_FALSE(MapperFilterMatches(conv, c));
}

TEST_F(MapperTest, ReRegisteringReplacesTheEntry) {
  const REGPINTYPES audio[] = {{&MEDIATYPE_Audio, &MEDIASUBTYPE_PCM}};
  const REGFILTERPINS pins[] = {{L"Only", FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, nullptr, 1, audio}};
  REGFILTER2 rf2{1, MERIT_UNLIKELY, 1, pins};
  ASSERT_EQ(mapper->RegisterFilter(CLSID_MapConverter, L"Converter 2", nullptr, &CLSID_SomeCategory, nullptr, &rf2),
            S_OK);
  RegisteredFilter f;
  ASSERT_EQ(MapperGetFilter(CLSID_MapConverter, &f), S_OK);
  EXPECT_EQ(f.name, L"Converter 2");
  EXPECT_EQ(f.merit, MERIT_UNLIKELY);
  EXPECT_EQ(f.category, CLSID_SomeCategory);
  ASSERT_EQ(f.pins.size(), 1u);  // the old two pins are gone
  EXPECT_EQ(f.pins[0].name, L"Only");
  EXPECT_EQ(Ours(Match(0, TRUE, {MEDIATYPE_Video, MEDIASUBTYPE_RGB24}, FALSE, FALSE, {}, TRUE)), Names{});
}

TEST_F(MapperTest, UnregisteringAnUnknownFilterReportsFileNotFound) {
  ASSERT_EQ(mapper->UnregisterFilter(nullptr, nullptr, CLSID_MapSource), S_OK);
  EXPECT_EQ(mapper->UnregisterFilter(nullptr, nullptr, CLSID_MapSource), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  RegisteredFilter f;
  EXPECT_EQ(MapperGetFilter(CLSID_MapSource, &f), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(MapperTest, EnumeratorNextSkipResetClone) {
  ComPtr<IEnumRegFilters> e;
  ASSERT_EQ(mapper->EnumMatchingFilters(e.ReleaseAndGetAddressOf(), 0, FALSE, MERIT_UNLIKELY, FALSE, 0, nullptr,
                                        nullptr, nullptr, FALSE, FALSE, 0, nullptr, nullptr, nullptr),
            S_OK);
  // Our three filters at or above MERIT_UNLIKELY, possibly among others; count them all first.
  const size_t total = Drain(e.Get()).size();
  ASSERT_GE(total, 3u);
  ASSERT_EQ(e->Reset(), S_OK);

  std::vector<REGFILTER*> batch(total + 2, nullptr);
  ULONG got = 0;
  EXPECT_EQ(e->Next(static_cast<ULONG>(batch.size()), batch.data(), &got), S_FALSE);  // fewer than asked
  EXPECT_EQ(got, total);
  for (ULONG i = 0; i < got; ++i) CoTaskMemFree(batch[i]);
  EXPECT_EQ(e->Next(2, batch.data(), nullptr), E_INVALIDARG);  // a count needs somewhere to go

  ASSERT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(1), S_OK);
  ComPtr<IEnumRegFilters> clone;
  ASSERT_EQ(e->Clone(clone.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(Drain(clone.Get()).size(), total - 1);  // the clone starts where the original was
  EXPECT_EQ(Drain(e.Get()).size(), total - 1);      // and does not move it
  EXPECT_EQ(e->Skip(1), S_FALSE);
}

TEST_F(MapperTest, OlderInterfaceRegistersPinByPin) {
  ComPtr<IFilterMapper> old = mapper.As<IFilterMapper>();
  ASSERT_TRUE(old);
  ASSERT_EQ(old->RegisterFilter(CLSID_MapOld, L"Old", MERIT_NORMAL), S_OK);
  // Two pins of the same (empty) name, each followed by its type.
  ASSERT_EQ(old->RegisterPin(CLSID_MapOld, L"", FALSE, FALSE, FALSE, FALSE, CLSID_NULL, nullptr), S_OK);
  ASSERT_EQ(old->RegisterPinType(CLSID_MapOld, L"", MEDIATYPE_Audio, MEDIASUBTYPE_PCM), S_OK);
  ASSERT_EQ(old->RegisterPin(CLSID_MapOld, L"", FALSE, TRUE, FALSE, FALSE, CLSID_NULL, nullptr), S_OK);
  ASSERT_EQ(old->RegisterPinType(CLSID_MapOld, L"", MEDIATYPE_Video, MEDIASUBTYPE_RGB24), S_OK);
  EXPECT_EQ(old->RegisterPinType(CLSID_MapOld, L"Missing", MEDIATYPE_Video, MEDIASUBTYPE_RGB24), VFW_E_NOT_FOUND);
  EXPECT_EQ(old->RegisterPin(CLSID_SomeCategory, L"x", FALSE, FALSE, FALSE, FALSE, CLSID_NULL, nullptr),
            VFW_E_NOT_FOUND);

  RegisteredFilter f;
  ASSERT_EQ(MapperGetFilter(CLSID_MapOld, &f), S_OK);
  ASSERT_EQ(f.pins.size(), 2u);
  ASSERT_EQ(f.pins[0].mediaTypes.size(), 1u);
  EXPECT_EQ(f.pins[0].mediaTypes[0].majorType, MEDIATYPE_Audio);
  ASSERT_EQ(f.pins[1].mediaTypes.size(), 1u);
  EXPECT_EQ(f.pins[1].mediaTypes[0].subType, MEDIASUBTYPE_RGB24);

  // The old matching call: an input of Audio/PCM, an output of Video/any.
  ComPtr<IEnumRegFilters> e;
  ASSERT_EQ(old->EnumMatchingFilters(e.ReleaseAndGetAddressOf(), 0, TRUE, MEDIATYPE_Audio, MEDIASUBTYPE_PCM, FALSE,
                                     TRUE, MEDIATYPE_Video, GUID_NULL),
            S_OK);
  EXPECT_EQ(Ours(Drain(e.Get())), Names{L"Old"});

  EXPECT_EQ(old->UnregisterPin(CLSID_MapOld, L""), S_OK);  // both unnamed pins
  ASSERT_EQ(MapperGetFilter(CLSID_MapOld, &f), S_OK);
  EXPECT_TRUE(f.pins.empty());
  EXPECT_EQ(old->UnregisterPin(CLSID_MapOld, L""), VFW_E_NOT_FOUND);
  EXPECT_EQ(old->UnregisterFilter(CLSID_MapOld), S_OK);
  EXPECT_EQ(old->UnregisterFilter(CLSID_MapOld), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST(MapperObject, BuiltInClassesShareOneObjectIdentity) {
  ComPtr<IFilterMapper> old;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper, old.AsOut()), S_OK);
  ComPtr<IFilterMapper2> mapper2 = old.As<IFilterMapper2>();
  ASSERT_TRUE(mapper2);
  ComPtr<IUnknown> a = old.As<IUnknown>();
  ComPtr<IUnknown> b = mapper2.As<IUnknown>();
  EXPECT_EQ(a.Get(), b.Get());

  struct Outer : IUnknown {
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
  } outer;
  void* p = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(CoCreateInstance(CLSID_FilterMapper2, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &p),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
}

}  // namespace

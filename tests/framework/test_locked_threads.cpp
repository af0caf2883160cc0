// The locked settings and persistence bases: every interface call waits for the filter's lock
// (held by another thread, as a streaming thread would hold it) and, once it has it, does what
// the unlocked base does.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "framework/persist.h"
#include "framework/settings.h"
#include "platform/com/runtime.h"
#include "platform/strmbase/combase.h"

namespace {

PLENOR_GUID(CLSID_LockedProbe, 0x5b0c41e2, 0x2f3d, 0x4c8e, 0x9a, 0x61, 0x0e, 0x7b, 0x52, 0x13, 0xc4, 0x88);

class LockedProbe : public CUnknown, public CLockedSettings, public CLockedPersistSettings {
 public:
  LockedProbe()
      : CUnknown(L"LockedProbe", nullptr),
        CLockedSettings(GetOwner(), &m_csState),
        CLockedPersistSettings(GetOwner(), CLSID_LockedProbe, PersistKind::Signed,
                               {{L"\"LEVEL\"", &m_nLevel, VT_INT, VT_INT, true}}, &m_csState) {
    InitParameters();
  }
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (GetPersistInterface(riid, ppv) == S_OK) return S_OK;
    if (riid == IID_ISettingsInterface) return GetInterface(static_cast<ISettingsInterface*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }
  void InitParameters() override { AddParameter("level", &m_nLevel, 0); }

  CCritSec m_csState;
  int m_nLevel = 0;
};

std::string Parameter(LockedProbe& p, const char* name) {
  char value[64] = {};
  int length = 0;
  EXPECT_EQ(p.GetParameter(name, sizeof value, value, &length), S_OK) << name;
  return std::string(value, static_cast<size_t>(length));
}

struct LockedCall {
  const char* name;
  std::function<void(LockedProbe&)> call;
};

const LockedCall kLockedCalls[] = {
    {"GetParameter", [](LockedProbe& p) { Parameter(p, "level"); }},
    {"SetParameter", [](LockedProbe& p) { p.SetParameter("level", "4"); }},
    {"GetParameterSettings",
     [](LockedProbe& p) {
       char text[256];
       p.GetParameterSettings(text, sizeof text);
     }},
    {"RevertParameter", [](LockedProbe& p) { p.RevertParameter("level"); }},
    {"IsDirty", [](LockedProbe& p) { p.IsDirty(); }},
    {"Load(IStream)", [](LockedProbe& p) { p.Load(static_cast<IStream*>(nullptr)); }},
    {"Save(IStream)", [](LockedProbe& p) { p.Save(static_cast<IStream*>(nullptr), FALSE); }},
    {"InitNew", [](LockedProbe& p) { p.InitNew(); }},
    {"Load(IPropertyBag)", [](LockedProbe& p) { p.Load(static_cast<IPropertyBag*>(nullptr), nullptr); }},
    {"Save(IPropertyBag)", [](LockedProbe& p) { p.Save(static_cast<IPropertyBag*>(nullptr), FALSE, FALSE); }},
    {"Read",
     [](LockedProbe& p) {
       VARIANT v;
       VariantInit(&v);
       p.Read(L"\"LEVEL\"", &v, nullptr);
     }},
    {"Write",
     [](LockedProbe& p) {
       VARIANT v;
       VariantInit(&v);
       v.vt = VT_INT;
       v.intVal = 9;
       p.Write(L"\"LEVEL\"", &v);
     }},
};

TEST(LockedBases, EveryCallWaitsForTheFilterLock) {
  for (const LockedCall& c : kLockedCalls) {
    SCOPED_TRACE(c.name);
    LockedProbe probe;
    std::atomic<bool> done{false};
    probe.m_csState.Lock();
    std::thread caller([&] {
      c.call(probe);
      done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(done.load()) << "returned while another thread held the lock";
    probe.m_csState.Unlock();
    caller.join();
    EXPECT_TRUE(done.load());
  }
}

TEST(LockedBases, CallsDoWhatTheUnlockedBasesDo) {
  LockedProbe probe;
  // Held by this thread: the lock is recursive, so a filter's own override may call through.
  CAutoLock held(&probe.m_csState);
  EXPECT_EQ(probe.SetParameter("level", "5"), S_OK);
  EXPECT_EQ(probe.m_nLevel, 5);
  EXPECT_EQ(probe.SetParameter("unknown", "5"), E_FAIL);
  EXPECT_EQ(probe.SetParameter("level", "7"), S_OK);
  EXPECT_TRUE(probe.RevertParameter("level"));
  EXPECT_EQ(Parameter(probe, "level"), "5");
  char text[256];
  EXPECT_EQ(probe.GetParameterSettings(text, sizeof text), S_OK);
  EXPECT_NE(std::string(text).find("level"), std::string::npos);

  VARIANT v;
  VariantInit(&v);
  v.vt = VT_INT;
  v.intVal = -3;
  EXPECT_EQ(probe.Write(L"\"level\"", &v), S_OK);
  EXPECT_EQ(probe.m_nLevel, -3);
  VARIANT out;
  VariantInit(&out);
  EXPECT_EQ(probe.Read(L"\"LEVEL\"", &out, nullptr), S_OK);
  EXPECT_EQ(out.vt, VT_INT);
  EXPECT_EQ(out.intVal, -3);

  ComPtr<IStream> stream;
  ASSERT_EQ(CreateStreamOnMemory(nullptr, 0, &stream), S_OK);
  EXPECT_EQ(probe.Save(stream.Get(), TRUE), S_OK);
  EXPECT_EQ(probe.IsDirty(), S_FALSE);
  std::string bytes;
  ASSERT_EQ(GetStreamBytes(stream.Get(), &bytes), S_OK);
  EXPECT_EQ(bytes, std::string("\xfd\xff\xff\xff", 4));
  EXPECT_EQ(probe.InitNew(), S_OK);
  EXPECT_EQ(probe.m_nLevel, 0);
}

}  // namespace

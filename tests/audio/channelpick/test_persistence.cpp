// ChannelPickFilter keeps "channel" in saved graphs as "CHANNEL": a 4-byte stream record and a
// VT_INT property, and offers the same property through its own IPropertyBag.
#include <gtest/gtest.h>

#include <string>

#include "platform/com/objidl.h"
#include "platform/com/oleauto.h"
#include "support_audio.h"

using namespace audiotest;
using namespace plenor::test;

namespace {

std::string StreamBytes(IStream* stream) {
  std::string bytes;
  EXPECT_EQ(GetStreamBytes(stream, &bytes), S_OK);
  return bytes;
}

ComPtr<IStream> StreamOf(const std::string& bytes) {
  ComPtr<IStream> stream;
  EXPECT_EQ(CreateStreamOnMemory(bytes.data(), static_cast<ULONG>(bytes.size()), &stream), S_OK);
  return stream;
}

TEST(ChannelPickPersistence, StreamRecordRoundTrip) {
  auto saved = MakeObject<ChannelPickFilter>();
  ComPtr<IPersistStream> out;
  ASSERT_EQ(saved->QueryInterface(IID_IPersistStream, out.AsOut()), S_OK);
  ULARGE_INTEGER size{};
  ASSERT_EQ(out->GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, 4u);
  EXPECT_EQ(out->IsDirty(), S_OK);  // dirty from construction

  ASSERT_EQ(SetChannel(saved.Get(), "-3"), S_OK);
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateStreamOnMemory(nullptr, 0, &stream), S_OK);
  ASSERT_EQ(out->Save(stream.Get(), TRUE), S_OK);
  EXPECT_EQ(StreamBytes(stream.Get()), std::string("\xFD\xFF\xFF\xFF", 4));
  EXPECT_EQ(out->IsDirty(), S_FALSE);

  auto loaded = MakeObject<ChannelPickFilter>();
  ComPtr<IPersistStream> in;
  ASSERT_EQ(loaded->QueryInterface(IID_IPersistStream, in.AsOut()), S_OK);
  ASSERT_EQ(in->Save(StreamOf("").Get(), TRUE), S_OK);  // make it clean first
  ASSERT_EQ(in->Load(StreamOf(std::string("\x01\x00\x00\x00", 4)).Get()), S_OK);
  EXPECT_EQ(GetChannel(loaded.Get()), "1");
  EXPECT_EQ(in->IsDirty(), S_OK);  // the load changed the value
}

TEST(ChannelPickPersistence, PropertyBagRoundTrip) {
  auto saved = MakeObject<ChannelPickFilter>();
  ASSERT_EQ(SetChannel(saved.Get(), "1"), S_OK);
  ComPtr<IPersistPropertyBag> out;
  ASSERT_EQ(saved->QueryInterface(IID_IPersistPropertyBag, out.AsOut()), S_OK);
  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(CreateMemoryPropertyBag(&bag), S_OK);
  ASSERT_EQ(out->Save(bag.Get(), TRUE, TRUE), S_OK);

  // Stored as a VT_INT under the quoted name (any case).
  VARIANT v;
  VariantInit(&v);
  ASSERT_EQ(bag->Read(L"\"channel\"", &v, nullptr), S_OK);
  EXPECT_EQ(v.vt, VT_INT);
  EXPECT_EQ(v.intVal, 1);
  VariantClear(&v);

  auto loaded = MakeObject<ChannelPickFilter>();
  ComPtr<IPersistPropertyBag> in;
  ASSERT_EQ(loaded->QueryInterface(IID_IPersistPropertyBag, in.AsOut()), S_OK);
  ASSERT_EQ(in->Load(bag.Get(), nullptr), S_OK);
  EXPECT_EQ(GetChannel(loaded.Get()), "1");
  ASSERT_EQ(in->InitNew(), S_OK);
  EXPECT_EQ(GetChannel(loaded.Get()), "0");

  // The filter's own bag takes the quoted name in any case, and only that name.
  ComPtr<IPropertyBag> own;
  ASSERT_EQ(loaded->QueryInterface(IID_IPropertyBag, own.AsOut()), S_OK);
  v.vt = VT_I4;
  v.lVal = 1;
  ASSERT_EQ(own->Write(L"\"Channel\"", &v), S_OK);
  EXPECT_EQ(GetChannel(loaded.Get()), "1");
  EXPECT_EQ(own->Read(L"CHANNEL", &v, nullptr), E_INVALIDARG);
}

TEST(ChannelPickPersistence, LoadedOutOfRangeChannelStreamsTheFirstChannel) {
  // Persistence bypasses the settings object, so any 32-bit value can arrive; the filter streams
  // it as channel 0.
  HarnessChain chain(PcmType(2, 8000, 8));
  ASSERT_EQ(chain.outputConnect, S_OK);
  ComPtr<IPersistStream> persist;
  ASSERT_EQ(chain.filter->QueryInterface(IID_IPersistStream, persist.AsOut()), S_OK);
  ASSERT_EQ(persist->Load(StreamOf(std::string("\x00\x00\x00\x40", 4)).Get()), S_OK);
  EXPECT_EQ(GetChannel(chain.Filter()), "1073741824");

  ASSERT_EQ(chain.graph->Run(), S_OK);
  ASSERT_EQ(chain.push->PushBytes({1, 2, 3, 4, 5, 6}, 0, 1000), S_OK);
  chain.graph->Stop();
  std::vector<ReceivedSample> got = chain.sink->Samples();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].data, (std::vector<BYTE>{1, 3, 5}));
}

}  // namespace

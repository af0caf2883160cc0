// CMediaType ownership and comparison; the pooled memory allocator and its samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <utility>
#include <vector>
#include <thread>

#include "platform/com/runtime.h"
#include "platform/strmbase/amfilter.h"
#include "tests/support/harness.h"

using namespace plenor::test;

namespace {

// ---- CMediaType ----

TEST(MediaType, CopyIsDeepAndEqual) {
  CMediaType a = MakeVideoType(MEDIASUBTYPE_RGB24, 16, -8, 24);
  CMediaType b(a);
  ASSERT_NE(nullptr, b.Format());
  EXPECT_NE(a.Format(), b.Format());
  EXPECT_TRUE(a == b);
  // Changing the copy's format block leaves the original alone and breaks equality.
  reinterpret_cast<VIDEOINFOHEADER*>(b.Format())->bmiHeader.biWidth = 32;
  EXPECT_EQ(16, reinterpret_cast<VIDEOINFOHEADER*>(a.Format())->bmiHeader.biWidth);
  EXPECT_FALSE(a == b);

  CMediaType c;
  c = a;
  c = c;  // self-assignment keeps the block
  EXPECT_TRUE(c == a);
  CMediaType moved(std::move(c));
  EXPECT_TRUE(moved == a);
  EXPECT_EQ(nullptr, c.Format());
}

TEST(MediaType, EqualityIgnoresSampleSizeButNotGuids) {
  CMediaType a = MakeVideoType(MEDIASUBTYPE_RGB24, 4, 4, 24);
  CMediaType b(a);
  b.SetSampleSize(7);
  EXPECT_TRUE(a == b);
  b.SetSubtype(&MEDIASUBTYPE_RGB32);
  EXPECT_TRUE(a != b);
  CMediaType c(a);
  c.SetFormatType(&FORMAT_VideoInfo2);
  EXPECT_TRUE(a != c);
  CMediaType d(a);
  d.ReallocFormatBuffer(a.FormatLength() + 4);
  EXPECT_TRUE(a != d);
}

TEST(MediaType, SampleSizeSetsOrClearsFixedSize) {
  CMediaType mt;
  EXPECT_TRUE(mt.IsFixedSize());
  EXPECT_FALSE(mt.IsValid());
  mt.SetSampleSize(0);
  EXPECT_FALSE(mt.IsFixedSize());
  EXPECT_EQ(0u, mt.GetSampleSize());
  mt.SetSampleSize(1234);
  EXPECT_TRUE(mt.IsFixedSize());
  EXPECT_EQ(1234u, mt.GetSampleSize());
  mt.SetTemporalCompression(TRUE);
  EXPECT_TRUE(mt.IsTemporalCompressed());
  mt.SetType(&MEDIATYPE_Audio);
  EXPECT_TRUE(mt.IsValid());
}

TEST(MediaType, FormatBufferHelpers) {
  CMediaType mt;
  BYTE* p = mt.AllocFormatBuffer(8);
  ASSERT_NE(nullptr, p);
  for (int i = 0; i < 8; i++) EXPECT_EQ(0, p[i]);
  std::memcpy(p, "abcdefgh", 8);
  BYTE* q = mt.ReallocFormatBuffer(12);
  ASSERT_NE(nullptr, q);
  EXPECT_EQ(12u, mt.FormatLength());
  EXPECT_EQ(0, std::memcmp(q, "abcdefgh", 8));
  EXPECT_EQ(0, q[10]);
  q = mt.ReallocFormatBuffer(3);
  EXPECT_EQ(0, std::memcmp(q, "abc", 3));
  // SetFormat from our own block must not read freed memory.
  EXPECT_TRUE(mt.SetFormat(mt.Format(), 2));
  EXPECT_EQ(0, std::memcmp(mt.Format(), "ab", 2));
  mt.ResetFormatBuffer();
  EXPECT_EQ(nullptr, mt.Format());
  EXPECT_EQ(0u, mt.FormatLength());
}

TEST(MediaType, PartialMatching) {
  CMediaType full = MakeVideoType(MEDIASUBTYPE_RGB24, 4, 4, 24);
  CMediaType partial;
  partial.InitMediaType();
  EXPECT_TRUE(partial.IsPartiallySpecified());
  EXPECT_FALSE(full.IsPartiallySpecified());
  EXPECT_TRUE(full.MatchesPartial(&partial));
  partial.SetType(&MEDIATYPE_Video);
  EXPECT_TRUE(full.MatchesPartial(&partial));
  partial.SetSubtype(&MEDIASUBTYPE_RGB32);
  EXPECT_FALSE(full.MatchesPartial(&partial));
  partial.SetSubtype(&GUID_NULL);
  partial.SetFormatType(&FORMAT_VideoInfo);
  // A format type in the partial type asks for the same format block.
  EXPECT_FALSE(full.MatchesPartial(&partial));
  partial.SetFormat(full.Format(), full.FormatLength());
  EXPECT_TRUE(full.MatchesPartial(&partial));
}

TEST(MediaType, CreateCopyAndDeleteRecords) {
  CMediaType src = MakeVideoType(MEDIASUBTYPE_I420, 4, 4, 12, MAKEFOURCC('I', '4', '2', '0'));
  AM_MEDIA_TYPE* p = CreateMediaType(&src);
  ASSERT_NE(nullptr, p);
  EXPECT_NE(src.pbFormat, p->pbFormat);
  EXPECT_TRUE(CMediaType(*p) == src);
  AM_MEDIA_TYPE copy{};
  ASSERT_EQ(S_OK, CopyMediaType(&copy, p));
  DeleteMediaType(p);
  EXPECT_TRUE(CMediaType(copy) == src);
  FreeMediaType(copy);
  EXPECT_EQ(nullptr, copy.pbFormat);
  DeleteMediaType(nullptr);

  WAVEFORMATEX wfx{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
  AM_MEDIA_TYPE audio{};
  ASSERT_EQ(S_OK, CreateAudioMediaType(&wfx, &audio, TRUE));
  EXPECT_TRUE(audio.majortype == MEDIATYPE_Audio);
  EXPECT_TRUE(audio.subtype == MEDIASUBTYPE_PCM);
  EXPECT_TRUE(audio.formattype == FORMAT_WaveFormatEx);
  EXPECT_EQ(4u, audio.lSampleSize);
  ASSERT_EQ(sizeof(WAVEFORMATEX), audio.cbFormat);
  EXPECT_EQ(0, std::memcmp(&wfx, audio.pbFormat, sizeof(wfx)));
  FreeMediaType(audio);
}

// ---- Allocator ----

ComPtr<CMemAllocator> NewAllocator() {
  return ComPtr<CMemAllocator>(new CMemAllocator(L"test allocator", nullptr, nullptr));
}

HRESULT Configure(CMemAllocator* a, LONG count, LONG size, LONG align = 1, LONG prefix = 0,
                  ALLOCATOR_PROPERTIES* actual = nullptr) {
  ALLOCATOR_PROPERTIES req{count, size, align, prefix};
  ALLOCATOR_PROPERTIES got{};
  HRESULT hr = a->SetProperties(&req, &got);
  if (actual) *actual = got;
  return hr;
}

TEST(Allocator, PropertiesAreValidatedAndRounded) {
  auto a = NewAllocator();
  EXPECT_EQ(VFW_E_BADALIGN, Configure(a.Get(), 1, 100, 0));
  EXPECT_EQ(VFW_E_BADALIGN, Configure(a.Get(), 1, 100, 3));
  ALLOCATOR_PROPERTIES actual{};
  ASSERT_EQ(S_OK, Configure(a.Get(), 3, 100, 16, 8, &actual));
  EXPECT_EQ(3, actual.cBuffers);
  EXPECT_EQ(104, actual.cbBuffer);  // 100 + 8 rounded up to 112, less the prefix
  EXPECT_EQ(16, actual.cbAlign);
  EXPECT_EQ(8, actual.cbPrefix);

  ASSERT_EQ(S_OK, a->Commit());
  EXPECT_EQ(VFW_E_ALREADY_COMMITTED, Configure(a.Get(), 1, 10));
  for (int i = 0; i < 3; i++) {
    IMediaSample* s = nullptr;
    ASSERT_EQ(S_OK, a->GetBuffer(&s, nullptr, nullptr, 0));
    BYTE* p = nullptr;
    s->GetPointer(&p);
    EXPECT_EQ(0u, (reinterpret_cast<uintptr_t>(p) - 8) % 16);
    EXPECT_EQ(104, s->GetSize());
    s->Release();
  }
  a->Decommit();
}

TEST(Allocator, GetBufferNeedsCommit) {
  auto a = NewAllocator();
  IMediaSample* s = nullptr;
  EXPECT_EQ(VFW_E_SIZENOTSET, a->Commit());
  ASSERT_EQ(S_OK, Configure(a.Get(), 1, 10));
  EXPECT_EQ(VFW_E_NOT_COMMITTED, a->GetBuffer(&s, nullptr, nullptr, 0));
  EXPECT_EQ(nullptr, s);
}

TEST(Allocator, GetBufferBlocksUntilASampleReturns) {
  auto a = NewAllocator();
  ASSERT_EQ(S_OK, Configure(a.Get(), 1, 10));
  ASSERT_EQ(S_OK, a->Commit());
  IMediaSample* first = nullptr;
  ASSERT_EQ(S_OK, a->GetBuffer(&first, nullptr, nullptr, 0));
  IMediaSample* again = nullptr;
  EXPECT_EQ(VFW_E_TIMEOUT, a->GetBuffer(&again, nullptr, nullptr, AM_GBF_NOWAIT));

  std::atomic<bool> got{false};
  IMediaSample* second = nullptr;
  std::thread waiter([&] {
    a->GetBuffer(&second, nullptr, nullptr, 0);
    got = true;
  });
  Sleep(50);
  EXPECT_FALSE(got.load());
  first->Release();
  waiter.join();
  EXPECT_TRUE(got.load());
  EXPECT_EQ(first, second);
  second->Release();
  a->Decommit();
}

TEST(Allocator, DecommitWakesWaitersAndFreesOnceAllAreBack) {
  auto a = NewAllocator();
  ASSERT_EQ(S_OK, Configure(a.Get(), 1, 10));
  ASSERT_EQ(S_OK, a->Commit());
  IMediaSample* held = nullptr;
  ASSERT_EQ(S_OK, a->GetBuffer(&held, nullptr, nullptr, 0));
  HRESULT waiterResult = S_OK;
  std::thread waiter([&] {
    IMediaSample* s = nullptr;
    waiterResult = a->GetBuffer(&s, nullptr, nullptr, 0);
    if (s) s->Release();
  });
  Sleep(30);
  ASSERT_EQ(S_OK, a->Decommit());
  waiter.join();
  EXPECT_EQ(VFW_E_NOT_COMMITTED, waiterResult);
  // The held sample is still usable until it comes back.
  EXPECT_EQ(1, a->OutstandingCount());
  BYTE* p = nullptr;
  held->GetPointer(&p);
  p[0] = 1;
  held->Release();
  EXPECT_EQ(0, a->OutstandingCount());
  // Committing again works.
  ASSERT_EQ(S_OK, a->Commit());
  ASSERT_EQ(S_OK, a->GetBuffer(&held, nullptr, nullptr, 0));
  held->Release();
  a->Decommit();
}

// Every buffer of a pool out at once: aligned after its prefix as asked, of the size asked, apart
// from the others and writable to its end, for small pools and for picture-sized ones (which are
// laid out on large pages).
TEST(Allocator, BuffersOutTogetherAreAlignedAndDoNotOverlap) {
  const struct {
    LONG count, size, align, prefix;
  } cases[] = {{4, 100, 16, 8}, {3, 1920 * 1080 * 3, 16, 8}, {2, (4 << 20) + 1, 64, 0}, {1, 5 << 20, 4096, 32}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.count << " x " << c.size << " align " << c.align << " prefix " << c.prefix);
    auto a = NewAllocator();
    ASSERT_EQ(S_OK, Configure(a.Get(), c.count, c.size, c.align, c.prefix));
    ASSERT_EQ(S_OK, a->Commit());
    std::vector<IMediaSample*> out;
    std::vector<std::pair<uintptr_t, uintptr_t>> spans;
    for (LONG i = 0; i < c.count; i++) {
      IMediaSample* s = nullptr;
      ASSERT_EQ(S_OK, a->GetBuffer(&s, nullptr, nullptr, AM_GBF_NOWAIT));
      out.push_back(s);
      BYTE* p = nullptr;
      s->GetPointer(&p);
      ASSERT_GE(s->GetSize(), c.size);
      EXPECT_EQ(0u, (reinterpret_cast<uintptr_t>(p) - c.prefix) % c.align);
      std::memset(p - c.prefix, 0x5A, static_cast<size_t>(s->GetSize() + c.prefix));
      spans.emplace_back(reinterpret_cast<uintptr_t>(p) - c.prefix, reinterpret_cast<uintptr_t>(p) + s->GetSize());
    }
    std::sort(spans.begin(), spans.end());
    for (size_t i = 1; i < spans.size(); i++) EXPECT_LE(spans[i - 1].second, spans[i].first);
    for (IMediaSample* s : out) s->Release();
    a->Decommit();
  }
}

// A graph stopped and run again finds its buffers where they were (no fresh memory to fault in),
// also when the last sample came back after the Decommit; new properties allocate anew.
TEST(Allocator, MemoryIsKeptFromOneCommitToTheNextUntilThePropertiesChange) {
  for (bool heldOverDecommit : {false, true}) {
    SCOPED_TRACE(heldOverDecommit ? "a sample out at Decommit" : "all samples back");
    auto a = NewAllocator();
    ASSERT_EQ(S_OK, Configure(a.Get(), 2, 5 << 20));
    ASSERT_EQ(S_OK, a->Commit());
    IMediaSample* s = nullptr;
    ASSERT_EQ(S_OK, a->GetBuffer(&s, nullptr, nullptr, 0));
    BYTE* first = nullptr;
    s->GetPointer(&first);
    first[0] = 0x42;
    if (!heldOverDecommit) s->Release();
    ASSERT_EQ(S_OK, a->Decommit());
    if (heldOverDecommit) s->Release();
    ASSERT_EQ(S_OK, a->Commit());
    ASSERT_EQ(S_OK, a->GetBuffer(&s, nullptr, nullptr, 0));
    BYTE* again = nullptr;
    s->GetPointer(&again);
    EXPECT_EQ(first, again);
    EXPECT_EQ(0x42, again[0]);
    s->Release();
    EXPECT_EQ(1, a->AllocationCount());
    ASSERT_EQ(S_OK, a->Decommit());
    ASSERT_EQ(S_OK, Configure(a.Get(), 3, 64));
    ASSERT_EQ(S_OK, a->Commit());
    EXPECT_EQ(2, a->AllocationCount());
    IMediaSample* out[3] = {};
    for (IMediaSample*& o : out) {  // three buffers of the new size exist
      ASSERT_EQ(S_OK, a->GetBuffer(&o, nullptr, nullptr, AM_GBF_NOWAIT));
      EXPECT_EQ(64, o->GetSize());
    }
    for (IMediaSample* o : out) o->Release();
    a->Decommit();
  }
}

TEST(Allocator, NothingIsAllocatedPerSample) {
  auto a = NewAllocator();
  ASSERT_EQ(S_OK, Configure(a.Get(), 3, 64));
  ASSERT_EQ(S_OK, a->Commit());
  std::set<IMediaSample*> seen;
  for (int i = 0; i < 200; i++) {
    IMediaSample* s = nullptr;
    ASSERT_EQ(S_OK, a->GetBuffer(&s, nullptr, nullptr, 0));
    seen.insert(s);
    s->Release();
  }
  EXPECT_LE(seen.size(), 3u);
  EXPECT_EQ(1, a->AllocationCount());
  a->Decommit();
}

TEST(Allocator, SampleOutlivesTheLastAllocatorReference) {
  IMediaSample* s = nullptr;
  {
    auto a = NewAllocator();
    ASSERT_EQ(S_OK, Configure(a.Get(), 1, 32));
    ASSERT_EQ(S_OK, a->Commit());
    ASSERT_EQ(S_OK, a->GetBuffer(&s, nullptr, nullptr, 0));
    a->Decommit();
  }
  BYTE* p = nullptr;
  s->GetPointer(&p);
  std::memset(p, 0xAB, 32);
  EXPECT_EQ(0u, s->Release());
}

TEST(Allocator, SamplePropertiesAndReuse) {
  auto a = NewAllocator();
  ASSERT_EQ(S_OK, Configure(a.Get(), 1, 32));
  ASSERT_EQ(S_OK, a->Commit());
  IMediaSample* s = nullptr;
  REFERENCE_TIME t0 = 5;
  ASSERT_EQ(S_OK, a->GetBuffer(&s, &t0, nullptr, 0));
  REFERENCE_TIME start = 0, stop = 0;
  EXPECT_EQ(VFW_S_NO_STOP_TIME, s->GetTime(&start, &stop));
  EXPECT_EQ(5, start);
  EXPECT_EQ(6, stop);
  EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, s->SetActualDataLength(33));
  EXPECT_EQ(S_OK, s->SetActualDataLength(32));
  CMediaType mt = MakeVideoType(MEDIASUBTYPE_RGB24, 2, 2, 24);
  EXPECT_EQ(S_OK, s->SetMediaType(&mt));
  s->SetSyncPoint(TRUE);
  s->SetDiscontinuity(TRUE);

  ComPtr<IMediaSample2> s2;
  ASSERT_EQ(S_OK, s->QueryInterface(IID_IMediaSample2, s2.AsOut()));
  AM_SAMPLE2_PROPERTIES props{};
  ASSERT_EQ(S_OK, s2->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)));
  EXPECT_EQ(AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_DATADISCONTINUITY | AM_SAMPLE_TYPECHANGED | AM_SAMPLE_TIMEVALID,
            props.dwSampleFlags);
  EXPECT_EQ(32, props.lActual);
  ASSERT_NE(nullptr, props.pMediaType);
  EXPECT_TRUE(CMediaType(*props.pMediaType) == mt);
  props.dwStreamId = AM_STREAM_CONTROL;
  props.lActual = 40;  // more than the buffer holds
  EXPECT_EQ(VFW_E_BUFFER_OVERFLOW, s2->SetProperties(sizeof(props), reinterpret_cast<const BYTE*>(&props)));
  props.lActual = 4;
  ASSERT_EQ(S_OK, s2->SetProperties(sizeof(props), reinterpret_cast<const BYTE*>(&props)));
  EXPECT_EQ(4, s->GetActualDataLength());
  s2 = nullptr;
  s->Release();

  // The next user of the buffer sees none of it.
  ASSERT_EQ(S_OK, a->GetBuffer(&s, nullptr, nullptr, 0));
  ASSERT_EQ(S_OK, s->QueryInterface(IID_IMediaSample2, s2.AsOut()));
  ASSERT_EQ(S_OK, s2->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)));
  EXPECT_EQ(0u, props.dwSampleFlags);
  EXPECT_EQ(AM_STREAM_MEDIA, props.dwStreamId);
  AM_MEDIA_TYPE* attached = nullptr;
  EXPECT_EQ(S_FALSE, s->GetMediaType(&attached));
  EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, s->GetTime(&start, &stop));
  s2 = nullptr;
  s->Release();
  a->Decommit();
}

}  // namespace

// Media types offered to the input pins of every filter of the suite and of the utilities module
// (those with an input), as an upstream filter or a hostile graph file would offer them: a random
// AM_MEDIA_TYPE is connected to a filter input (CheckMediaType, SetMediaType), the output's types
// are enumerated and one of them (or none: the pin's own choice) is connected to a sink that
// accepts anything (allocator negotiation, DecideBufferSize), then the graph runs and one sample
// of random length and content goes through Receive. Every object is released at the end of each
// input and the object count of the filters' code must be back at zero.
//
// Input layout (every read past the end gives zero bytes):
//   filter    1 byte   index into kFilters
//   flags     1 byte   bit 0: a second type follows for another input; bits 1-3: which input
//                      gets the first type; bit 4: connect the output with the pin's own
//                      choice instead of an enumerated type; bit 5: the sample carries times;
//                      bit 6: push buffers sized from the type's lSampleSize; bit 7: the sample
//                      fills its buffer
//   type      major type, subtype, format type: 1 byte each choosing a known GUID, or the index
//             one past them and 16 bytes; type flags (1, see ReadType); lSampleSize (2 or 4);
//             block shape (1: as the format type, or one of the four structures, or raw); fix
//             bits (1, see ReadFormat); trailer length (1; raw: 2); the block's bytes; the cut
//             length (1) when cut. Twice when bit 0 of flags is set.
//   output    1 byte   which enumerated output type to connect
//   buffer    4 bytes  push buffer size (bounded), unless bit 6
//   length    2 bytes  sample length (bounded by the negotiated buffer); with flags bit 7 none:
//                      the sample fills the buffer
//   times     8 bytes  start (4) and duration (4), when bit 5 is set
//   content   the rest (the sample's first bytes; the remainder 0x5A)
// One sample is pushed on every connected input, then end of stream.
//
// Picture and audio sizes are not bounded here: a filter must refuse what it cannot take. Only
// the allocators the harness commits are bounded (kMaxAllocation), so that one input cannot
// make the run wait on gigabytes of buffers (the streaming step is then skipped), and inputs
// describing legal but large pictures are skipped (CostlyPicture).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "audio/channelpick/channelpick.h"
#include "colour/rgb2yuv/rgbtoi420.h"
#include "colour/yuv2rgb/i420torgb.h"
#include "composition/inset/insetvideo.h"
#include "composition/tilemix/tilemix.h"
#include "h264/decoder/avcdecode.h"
#include "h264/encoder/avcencode.h"
#include "platform/strmbase/dllentry.h"
#include "tests/support/harness.h"
#include "timing/framedrop/framedrop.h"
#include "timing/timeshift/timeshift.h"
#include "utilities/queue.h"
#include "utilities/renderers.h"
#include "utilities/utilities.h"
#include "utilities/writers.h"
#ifdef PLENOR_FUZZ_OVERLAYS
#include "overlay/overlaykit/overlaykit.h"
#include "overlay/rateoverlay/rateoverlay.h"
#endif

using plenor::test::FakeGraph;
using plenor::test::PushSource;
using plenor::test::TestSink;

namespace {

// The two H.264 filters' creation functions live with their modules' tables; these give them the
// library's codec the same way.
CUnknown* NewAvcEncodeFilter(LPUNKNOWN, HRESULT*) { return new AvcEncodeFilter(h264::CorvexProvider()); }
CUnknown* NewAvcDecodeFilter(LPUNKNOWN, HRESULT*) { return new AvcDecodeFilter(h264::CorvexProvider()); }

}  // namespace

// The class table of this program: the filters it offers types to, created through the class
// factory as a module's DllGetClassObject hands them out.
CFactoryTemplate g_Templates[] = {
    {L"RgbToI420Filter", &CLSID_RgbToI420Filter, RgbToI420Filter::CreateInstance, nullptr, nullptr},
    {L"I420ToRgbFilter", &CLSID_I420ToRgbFilter, I420ToRgbFilter::CreateInstance, nullptr, nullptr},
    {L"FrameDropFilter", &CLSID_FrameDropFilter, FrameDropFilter::CreateInstance, nullptr, nullptr},
    {L"TimeShiftFilter", &CLSID_TimeShiftFilter, TimeShiftFilter::CreateInstance, nullptr, nullptr},
    {L"ChannelPickFilter", &CLSID_ChannelPickFilter, ChannelPickFilter::CreateInstance, nullptr, nullptr},
    {L"InsetVideoFilter", &CLSID_InsetVideoFilter, InsetVideoFilter::CreateInstance, nullptr, nullptr},
    {L"TileMixFilter", &CLSID_TileMixFilter, TileMixFilter::CreateInstance, nullptr, nullptr},
    {L"AvcEncodeFilter", &CLSID_AvcEncodeFilter, NewAvcEncodeFilter, nullptr, nullptr},
    {L"AvcDecodeFilter", &CLSID_AvcDecodeFilter, NewAvcDecodeFilter, nullptr, nullptr},
    {L"Queue", &CLSID_Queue, plenor::utilities::CQueueFilter::CreateInstance, nullptr, nullptr},
    {L"NullRenderer", &CLSID_NullRenderer, plenor::utilities::CNullRenderer::CreateInstance, nullptr, nullptr},
    {L"SampleGrabber", &CLSID_SampleGrabber, plenor::utilities::CSampleGrabber::CreateInstance, nullptr, nullptr},
    {L"FileWriter", &CLSID_FileWriter, plenor::utilities::CFileWriter::CreateInstance, nullptr, nullptr},
    {L"WavWriter", &CLSID_WavWriter, plenor::utilities::CWavWriter::CreateInstance, nullptr, nullptr},
    {L"ImageWriter", &CLSID_ImageWriter, plenor::utilities::CImageWriter::CreateInstance, nullptr, nullptr},
#ifdef PLENOR_FUZZ_OVERLAYS
    {L"OverlayKitFilter", &CLSID_OverlayKitFilter, OverlayKitFilter::CreateInstance, nullptr, nullptr},
    {L"RateOverlayFilter", &CLSID_RateOverlayFilter, RateOverlayFilter::CreateInstance, nullptr, nullptr},
#endif
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

namespace {

// Buffers committed by the harness's allocators (count x size) are at most this large.
constexpr long long kMaxAllocation = 8ll << 20;
// Push buffers chosen by the input are at most this large (before the filter's own needs).
constexpr uint32_t kMaxPushBuffer = 1u << 20;
// Plausible pictures (fix bit 0x01) are at most this large: small enough to keep each input
// to milliseconds, large enough for every odd and even size and the scalers' ratios.
constexpr uint32_t kPlausibleWidth = 352;
constexpr uint32_t kPlausibleHeight = 288;
// Output types enumerated per connection.
constexpr int kMaxOutputTypes = 8;

class Input {
 public:
  Input(const uint8_t* data, size_t size) : m_p(data), m_left(size) {}
  uint8_t Byte() {
    if (m_left == 0) return 0;
    --m_left;
    return *m_p++;
  }
  uint16_t U16() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
  // Copies n bytes (zeros once the input is used up).
  void Bytes(BYTE* out, size_t n) {
    if (n == 0) return;
    const size_t k = std::min(n, m_left);
    if (k) std::memcpy(out, m_p, k);
    std::memset(out + k, 0, n - k);
    m_p += k;
    m_left -= k;
  }
  const uint8_t* Rest() const { return m_p; }
  size_t Left() const { return m_left; }

 private:
  const uint8_t* m_p;
  size_t m_left;
};

const GUID* const kMajorTypes[] = {&MEDIATYPE_Video, &MEDIATYPE_Audio, &MEDIATYPE_Stream, &MEDIATYPE_Text, &GUID_NULL};
const GUID* const kSubtypes[] = {
    &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_ARGB32, &MEDIASUBTYPE_RGB565,   &MEDIASUBTYPE_RGB555,
    &MEDIASUBTYPE_I420,  &MEDIASUBTYPE_IYUV,  &MEDIASUBTYPE_YV12,   &MEDIASUBTYPE_NV12,     &MEDIASUBTYPE_YUY2,
    &MEDIASUBTYPE_AYUV,  &MEDIASUBTYPE_H264,  &MEDIASUBTYPE_AVC1,   &MEDIASUBTYPE_PLENOR_H264,
    &MEDIASUBTYPE_PLENOR_YUV420P, &MEDIASUBTYPE_PCM, &MEDIASUBTYPE_None, &GUID_NULL};
const GUID* const kFormatTypes[] = {&FORMAT_VideoInfo,   &FORMAT_VideoInfo2, &FORMAT_MPEG2Video,
                                    &FORMAT_WaveFormatEx, &FORMAT_None,       &GUID_NULL};

// One of the known GUIDs, or (the index one past them) 16 bytes of the input.
template <size_t N>
GUID ReadGuid(Input& in, const GUID* const (&known)[N]) {
  const size_t i = in.Byte() % (N + 1);
  if (i < N) return *known[i];
  GUID g;
  in.Bytes(reinterpret_cast<BYTE*>(&g), sizeof(g));
  return g;
}

enum class Shape { Raw, VideoInfo, VideoInfo2, Mpeg2Video, WaveFormat };

Shape ShapeOf(const GUID& formattype) {
  if (formattype == FORMAT_VideoInfo) return Shape::VideoInfo;
  if (formattype == FORMAT_VideoInfo2) return Shape::VideoInfo2;
  if (formattype == FORMAT_MPEG2Video) return Shape::Mpeg2Video;
  if (formattype == FORMAT_WaveFormatEx) return Shape::WaveFormat;
  return Shape::Raw;
}

size_t StructSize(Shape s) {
  switch (s) {
    case Shape::VideoInfo: return sizeof(VIDEOINFOHEADER);
    case Shape::VideoInfo2: return sizeof(VIDEOINFOHEADER2);
    case Shape::Mpeg2Video: return offsetof(MPEG2VIDEOINFO, dwSequenceHeader);
    case Shape::WaveFormat: return sizeof(WAVEFORMATEX);
    case Shape::Raw: break;
  }
  return 0;
}

// The bit count and compression a subtype's pictures usually have.
void PictureFormatOf(const GUID& subtype, WORD* bitCount, DWORD* compression) {
  struct Known {
    const GUID* subtype;
    WORD bits;
    DWORD compression;
  };
  static const Known kKnown[] = {
      {&MEDIASUBTYPE_RGB24, 24, BI_RGB},          {&MEDIASUBTYPE_RGB32, 32, BI_RGB},
      {&MEDIASUBTYPE_ARGB32, 32, BI_RGB},         {&MEDIASUBTYPE_RGB565, 16, BI_BITFIELDS},
      {&MEDIASUBTYPE_RGB555, 16, BI_RGB},         {&MEDIASUBTYPE_YUY2, 16, MEDIASUBTYPE_YUY2.Data1},
      {&MEDIASUBTYPE_AYUV, 32, MEDIASUBTYPE_AYUV.Data1}};
  for (const Known& k : kKnown) {
    if (*k.subtype == subtype) {
      *bitCount = k.bits;
      *compression = k.compression;
      return;
    }
  }
  // 4:2:0 planes, and the coded forms (their FOURCC as compression).
  *bitCount = 12;
  *compression = subtype.Data1;
}

// Makes a picture header plausible: small sizes (either row order), planes 1, bit count and
// compression of the subtype, a consistent image size.
void FixPicture(BITMAPINFOHEADER* bmi, const GUID& subtype, uint8_t fix) {
  if (fix & 0x01) {
    bmi->biSize = sizeof(BITMAPINFOHEADER);
    bmi->biPlanes = 1;
    const LONG w = 1 + static_cast<LONG>(static_cast<uint32_t>(bmi->biWidth) % kPlausibleWidth);
    const long long height = bmi->biHeight;
    const LONG h = 1 + static_cast<LONG>((height < 0 ? -height : height) % kPlausibleHeight);
    bmi->biWidth = (fix & 0x80) ? (w + 1) & ~1 : w;
    bmi->biHeight = (bmi->biHeight < 0 ? -1 : 1) * ((fix & 0x80) ? (h + 1) & ~1 : h);
  }
  if (fix & 0x02) PictureFormatOf(subtype, &bmi->biBitCount, &bmi->biCompression);
  if (fix & 0x04) {
    // Unsigned: the fields may hold anything, the product wraps as a careless writer's would.
    const unsigned long long w = static_cast<uint32_t>(bmi->biWidth), bits = bmi->biBitCount;
    const unsigned long long h = bmi->biHeight < 0 ? 0ull - static_cast<unsigned long long>(bmi->biHeight)
                                                   : static_cast<unsigned long long>(bmi->biHeight);
    const unsigned long long size = bmi->biCompression == BI_RGB || bmi->biCompression == BI_BITFIELDS
                                        ? (w * bits + 31) / 32 * 4 * h
                                        : w * h * bits / 8;
    bmi->biSizeImage = static_cast<DWORD>(size);
  }
}

void FixVideo(RECT* source, RECT* target, REFERENCE_TIME* avgTime, BITMAPINFOHEADER* bmi, const GUID& subtype,
              uint8_t fix) {
  FixPicture(bmi, subtype, fix);
  if (fix & 0x08) {
    const long long height = bmi->biHeight;
    *source = {0, 0, bmi->biWidth, static_cast<LONG>(std::min<long long>(height < 0 ? -height : height, LONG_MAX))};
    *target = *source;
  }
  if (fix & 0x10) *avgTime = 1 + *avgTime % 10000000;
}

// A format block: the structure of its shape (fields from the input, made plausible by the fix
// byte), then a trailer of input bytes. Fix bits: 0x01 plausible sizes, 0x02 the subtype's bit
// count and compression (WAVEFORMATEX: cbSize = trailer), 0x04 consistent image size, 0x08
// rectangles, 0x10 frame duration, 0x20 lSampleSize from the block, 0x40 cbSequenceHeader =
// trailer, 0x80 even picture sizes. cut: the declared length is cut to a random smaller one.
void ReadFormat(Input& in, CMediaType* mt, bool cut) {
  const uint8_t shapeByte = in.Byte() % 6;
  const uint8_t fix = in.Byte();
  const Shape shape = shapeByte == 0 ? ShapeOf(mt->formattype) : static_cast<Shape>(shapeByte - 1);
  const size_t trailer = shape == Shape::Raw ? in.U16() % 4096 : in.Byte();
  std::vector<BYTE> block(StructSize(shape) + trailer);
  in.Bytes(block.data(), block.size());
  switch (shape) {
    case Shape::VideoInfo: {
      auto* v = reinterpret_cast<VIDEOINFOHEADER*>(block.data());
      FixVideo(&v->rcSource, &v->rcTarget, &v->AvgTimePerFrame, &v->bmiHeader, mt->subtype, fix);
      if (fix & 0x20) mt->SetSampleSize(v->bmiHeader.biSizeImage);
      break;
    }
    case Shape::VideoInfo2:
    case Shape::Mpeg2Video: {
      auto* v = reinterpret_cast<VIDEOINFOHEADER2*>(block.data());
      FixVideo(&v->rcSource, &v->rcTarget, &v->AvgTimePerFrame, &v->bmiHeader, mt->subtype, fix);
      if (fix & 0x20) mt->SetSampleSize(v->bmiHeader.biSizeImage);
      if (shape == Shape::Mpeg2Video && (fix & 0x40)) {
        const DWORD sequence = static_cast<DWORD>(trailer);
        std::memcpy(block.data() + offsetof(MPEG2VIDEOINFO, cbSequenceHeader), &sequence, sizeof(sequence));
      }
      break;
    }
    case Shape::WaveFormat: {
      auto* w = reinterpret_cast<WAVEFORMATEX*>(block.data());
      if (fix & 0x01) {
        static const WORD kBits[] = {8, 16, 24, 32};
        w->wFormatTag = WAVE_FORMAT_PCM;
        w->nChannels = static_cast<WORD>(1 + w->nChannels % 8);
        w->wBitsPerSample = kBits[w->wBitsPerSample % 4];
        w->nSamplesPerSec = 1 + w->nSamplesPerSec % 192000;
        w->nBlockAlign = static_cast<WORD>(w->nChannels * w->wBitsPerSample / 8);
        w->nAvgBytesPerSec = w->nSamplesPerSec * w->nBlockAlign;
      }
      if (fix & 0x02) w->cbSize = static_cast<WORD>(trailer);
      if (fix & 0x20) mt->SetSampleSize(w->nBlockAlign);
      break;
    }
    case Shape::Raw:
      break;
  }
  const size_t length = cut && !block.empty() ? in.Byte() % block.size() : block.size();
  if (length) mt->SetFormat(block.data(), static_cast<ULONG>(length));
}

CMediaType ReadType(Input& in) {
  CMediaType mt;
  mt.majortype = ReadGuid(in, kMajorTypes);
  mt.subtype = ReadGuid(in, kSubtypes);
  mt.formattype = ReadGuid(in, kFormatTypes);
  // flags: bit 0 bFixedSizeSamples, bit 1 bTemporalCompression, bit 2 a 32-bit lSampleSize
  // (else 16 bits), bit 3 the format block's declared length cut short.
  const uint8_t flags = in.Byte();
  mt.bFixedSizeSamples = flags & 1;
  mt.bTemporalCompression = (flags >> 1) & 1;
  mt.lSampleSize = (flags & 4) ? in.U32() : in.U16();
  ReadFormat(in, &mt, flags & 8);
  return mt;
}

// Pictures of more than kMaxCheapPixels pixels but at most 2^31 are legal sizes that a filter
// may take and spend its time on (frame stores and buffers of up to 2 GiB): inputs describing
// one are skipped, to keep each input to milliseconds and the process below its memory limit.
// Larger ones, which every filter must refuse, are offered.
constexpr unsigned long long kMaxCheapPixels = 1ull << 20;

bool CostlyPicture(const CMediaType& mt) {
  size_t offset = 0;
  if (mt.formattype == FORMAT_VideoInfo)
    offset = offsetof(VIDEOINFOHEADER, bmiHeader);
  else if (mt.formattype == FORMAT_VideoInfo2 || mt.formattype == FORMAT_MPEG2Video)
    offset = offsetof(VIDEOINFOHEADER2, bmiHeader);
  else
    return false;
  if (!mt.pbFormat || mt.cbFormat < offset + sizeof(BITMAPINFOHEADER)) return false;
  BITMAPINFOHEADER bmi;
  std::memcpy(&bmi, mt.pbFormat + offset, sizeof(bmi));
  const auto magnitude = [](LONG v) { return v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v); };
  const unsigned long long pixels = magnitude(bmi.biWidth) * magnitude(bmi.biHeight);
  return pixels > kMaxCheapPixels && pixels <= (1ull << 31);
}

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter, PIN_DIRECTION wanted) {
  std::vector<ComPtr<IPin>> pins;
  for (int i = 0;; ++i) {
    ComPtr<IPin> pin = plenor::test::PinOf(filter, i);
    if (!pin) break;
    PIN_DIRECTION dir;
    if (SUCCEEDED(pin->QueryDirection(&dir)) && dir == wanted) pins.push_back(pin);
  }
  return pins;
}

// The first kMaxOutputTypes types the pin offers.
std::vector<CMediaType> OfferedTypes(IPin* pin) {
  std::vector<CMediaType> types;
  ComPtr<IEnumMediaTypes> e;
  if (FAILED(pin->EnumMediaTypes(&e)) || !e) return types;
  for (int i = 0; i < kMaxOutputTypes; ++i) {
    AM_MEDIA_TYPE* mt = nullptr;
    ULONG fetched = 0;
    if (e->Next(1, &mt, &fetched) != S_OK || fetched != 1 || !mt) break;
    types.emplace_back(*mt);
    DeleteMediaType(mt);
  }
  return types;
}

bool AllocatorFits(IMemAllocator* allocator, long* bufferSize) {
  ALLOCATOR_PROPERTIES props{};
  if (!allocator || FAILED(allocator->GetProperties(&props))) return false;
  if (bufferSize) *bufferSize = props.cbBuffer;
  return props.cBuffers >= 0 && props.cbBuffer >= 0 &&
         static_cast<long long>(props.cBuffers) * (props.cbBuffer + props.cbAlign + props.cbPrefix) <= kMaxAllocation;
}

// Where ImageWriter writes its pictures: a folder of this process, removed at exit. (The other
// writers write to /dev/null; a name pattern there would make files beside the device.)
const std::wstring& ImagePattern() {
  static const std::wstring pattern = [] {
    static const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("plenor-fuzz-media-type-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(dir, ec);
    });
    return (dir / "frame_%d.png").wstring();
  }();
  return pattern;
}

// The filter of the input, ready to connect: created through its class factory, writers given a
// file that takes any bytes.
ComPtr<IBaseFilter> CreateFilter(const CFactoryTemplate& t) {
  ComPtr<IClassFactory> factory;
  if (FAILED(DllGetClassObject(*t.m_ClsID, IID_IClassFactory, factory.AsOut()))) return {};
  ComPtr<IBaseFilter> filter;
  if (FAILED(factory->CreateInstance(nullptr, IID_IBaseFilter, filter.AsOut()))) return {};
  ComPtr<IFileSinkFilter> sink;
  if (SUCCEEDED(filter->QueryInterface(IID_IFileSinkFilter, sink.AsOut())))
    sink->SetFileName(*t.m_ClsID == CLSID_ImageWriter ? ImagePattern().c_str() : L"/dev/null", nullptr);
  return filter;
}

// PLENOR_FUZZ_TRACE set: one line per input on standard error naming the filter and the step
// reached, to check that a corpus reaches the streaming step of every filter.
bool Tracing() {
  static const bool tracing = std::getenv("PLENOR_FUZZ_TRACE") != nullptr;
  return tracing;
}

struct Connected {
  ComPtr<PushSource> push;
  long bufferSize = 0;
};

void OfferOne(Input& in) {
  const CFactoryTemplate& t = g_Templates[in.Byte() % g_cTemplates];
  const uint8_t flags = in.Byte();
  std::vector<CMediaType> types{ReadType(in)};
  if (flags & 1) types.push_back(ReadType(in));
  const uint8_t outputChoice = in.Byte();
  const uint32_t pushBuffer = (flags & 0x40) ? types[0].lSampleSize % (kMaxPushBuffer + 1) : in.U32() % (kMaxPushBuffer + 1);

  for (const CMediaType& type : types)
    if (CostlyPicture(type)) return;
  ComPtr<IBaseFilter> filter = CreateFilter(t);
  if (!filter) return;
  ComPtr<FakeGraph> graph = FakeGraph::Create();
  graph->AddFilter(filter.Get(), L"filter");
  std::vector<ComPtr<IPin>> inputs = PinsOf(filter.Get(), PINDIR_INPUT);
  std::vector<Connected> connected;
  for (size_t n = 0; n < types.size() && n < inputs.size(); ++n) {
    const size_t pin = (((flags >> 1) & 7) + n) % inputs.size();
    ComPtr<PushSource> push = PushSource::Create(
        {.offeredTypes = {types[n]}, .bufferCount = 1, .bufferSize = static_cast<LONG>(pushBuffer)});
    graph->AddFilter(push.Get(), n == 0 ? L"push 0" : L"push 1");
    if (FAILED(graph->Connect(push->OutputPin(), inputs[pin].Get(), &types[n]))) break;
    connected.push_back({push, 0});
  }
  bool streamable = !connected.empty();
  for (Connected& c : connected) streamable = streamable && AllocatorFits(c.push->Allocator(), &c.bufferSize);

  ComPtr<TestSink> sink;
  std::vector<ComPtr<IPin>> outputs = PinsOf(filter.Get(), PINDIR_OUTPUT);
  if (streamable && !outputs.empty()) {
    const std::vector<CMediaType> offered = OfferedTypes(outputs[0].Get());
    sink = TestSink::Create({});
    graph->AddFilter(sink.Get(), L"sink");
    const CMediaType* chosen = (flags & 0x10) || offered.empty() ? nullptr : &offered[outputChoice % offered.size()];
    streamable = SUCCEEDED(graph->Connect(outputs[0].Get(), sink->InputPin(), chosen)) &&
                 AllocatorFits(sink->Allocator(), nullptr);
  }

  if (Tracing())
    std::fprintf(stderr, "%ls: %zu of %zu types connected, output %s\n", t.m_Name, connected.size(), types.size(),
                 outputs.empty() ? "none" : sink && sink->Allocator() ? "connected" : "not connected");
  const uint32_t length = (flags & 0x80) ? UINT32_MAX : in.U16();
  const uint32_t start = (flags & 0x20) ? in.U32() : 0, duration = (flags & 0x20) ? in.U32() : 0;
  if (streamable && SUCCEEDED(graph->Run())) {
    for (Connected& c : connected) {
      plenor::test::PushSample sample;
      const uint32_t size = length == UINT32_MAX ? static_cast<uint32_t>(c.bufferSize)
                                                 : length % (static_cast<uint32_t>(c.bufferSize) + 1);
      const size_t fromInput = std::min<size_t>(size, in.Left());
      sample.data.assign(in.Rest(), in.Rest() + fromInput);
      sample.data.resize(size, 0x5A);
      if (flags & 0x20) {
        sample.start = start;
        sample.stop = static_cast<REFERENCE_TIME>(start) + duration;
      }
      const HRESULT hr = c.push->Push(sample);
      if (Tracing())
        std::fprintf(stderr, "  %zu bytes pushed: 0x%08x\n", sample.data.size(), static_cast<unsigned>(hr));
    }
    // End of stream on every input; a filter that delivers on its own thread (Queue) has handed
    // on everything once the sink sees it.
    for (Connected& c : connected) c.push->EndOfStream();
    const bool ended = sink && sink->WaitForEndOfStream(1, *t.m_ClsID == CLSID_Queue ? 100 : 0);
    if (Tracing()) std::fprintf(stderr, "  %zu received, end of stream %s\n", sink ? sink->SampleCount() : 0, ended ? "seen" : "not seen");
  }
  graph->TearDown();
}

}  // namespace

// fontconfig (under the overlays' text drawing) keeps its configuration and caches for the life of
// the process; the leak checker is told, as tests/lsan.supp tells it for the test programs.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  OfferOne(in);
  // Every filter, pin, allocator, sample and enumerator made for this input is gone again.
  if (DllCanUnloadNow() != S_OK) {
    std::fprintf(stderr, "%ld objects still alive after the input\n", static_cast<long>(CBaseObject::ObjectsActive()));
    __builtin_trap();
  }
  return 0;
}

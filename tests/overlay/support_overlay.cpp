#include "support_overlay.h"

#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>

#include <cstdlib>
#include <mutex>

#include "platform/com/runtime.h"
#include "platform/strmbase/dllentry.h"
#include "platform/strmbase/uuids.h"

namespace overlaytest {

void RegisterOverlayModules() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterPluginModules({"OverlayKitFilter.so", "RateOverlayFilter.so", "PlenorUtilities.so"});
  });
}

ComPtr<IBaseFilter> CreateFilter(const CLSID& clsid) {
  RegisterOverlayModules();
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.AsOut()), S_OK);
  return filter;
}

CMediaType RgbType(int bits, LONG width, LONG height) {
  return MakeVideoType(bits == 32 ? MEDIASUBTYPE_RGB32 : MEDIASUBTYPE_RGB24, width, height, static_cast<WORD>(bits),
                       BI_RGB, 400000);
}

size_t PictureSize(int bits, LONG width, LONG height) {
  return ((static_cast<size_t>(width) * bits / 8 + 3) & ~size_t{3}) * static_cast<size_t>(height < 0 ? -height : height);
}

PushChain::PushChain(std::vector<ComPtr<IBaseFilter>> list, const CMediaType& type, LONG bufferSize,
                     ComPtr<IBaseFilter> last)
    : push(PushSource::Create({.offeredTypes = {type}, .bufferCount = 2, .bufferSize = bufferSize})),
      filters(std::move(list)),
      sink(TestSink::Create({})),
      renderer(last ? last : ComPtr<IBaseFilter>(sink.Get())) {
  host.Add(push.Get(), L"Push");
  int n = 0;
  for (auto& f : filters) {
    if (!f) return;
    host.Add(f.Get(), (L"Filter " + std::to_wstring(n++)).c_str());
  }
  host.Add(renderer.Get(), L"Sink");
  IPin* out = push->OutputPin();
  ComPtr<IPin> hold;
  for (auto& f : filters) {
    connected = host.graph->ConnectDirect(out, PinOf(f.Get(), 0).Get(), &type);
    if (FAILED(connected)) return;
    hold = PinOf(f.Get(), 1);
    out = hold.Get();
  }
  connected = host.graph->ConnectDirect(out, PinOf(renderer.Get(), 0).Get(), nullptr);
}

PushChain::~PushChain() {
  if (host.control) host.control->Stop();
  host.control = nullptr;
  host.events = nullptr;
  host.graph = nullptr;
}

HRESULT PushChain::Push(const std::vector<BYTE>& data, std::optional<REFERENCE_TIME> start,
                        std::optional<REFERENCE_TIME> stop) {
  PushSample s;
  s.data = data;
  s.start = start;
  s.stop = stop ? stop : (start ? std::optional<REFERENCE_TIME>(*start + 1) : std::nullopt);
  return push->Push(s);
}

std::vector<BYTE> PushChain::Last() {
  std::vector<ReceivedSample> got = sink->Samples();
  return got.empty() ? std::vector<BYTE>{} : got.back().data;
}

RgbImage ReadPng(const std::string& path) {
  RgbImage out;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return out;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return out;
  }
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.rgb = std::move(pixels);
  return out;
}

std::string TempFolder() {
  char dir[] = "/tmp/plenor_overlay_XXXXXX";
  return mkdtemp(dir) ? std::string(dir) : std::string("/tmp");
}

}  // namespace overlaytest

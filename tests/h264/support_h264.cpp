#include "tests/h264/support_h264.h"

#include <cstring>

#include "framework/settings.h"
#include "framework/status.h"
#include "platform/strmbase/amvideo.h"
#include "platform/strmbase/uuids.h"

namespace h264test {

Bytes NalUnit(int type, size_t bodyBytes, BYTE fill) {
  Bytes unit = {0, 0, 0, 1, static_cast<BYTE>(0x60 | type)};
  unit.insert(unit.end(), bodyBytes, fill);
  return unit;
}

FakeCodec::FakeCodec() {
  for (const char* name : {"quality", "mode of operation", "incolour", "outcolour", "width", "height", "flip",
                           "picture coding type", "last pic coding type", "generate param set on open"})
    params[name] = "0";
  params["last pic coding type"] = "1";
}

int FakeCodec::Count(const std::string& entry) const {
  int n = 0;
  for (const std::string& e : log) n += e == entry;
  return n;
}

int FakeCodec::GetParameter(const char* name, int* length, char* value) {
  std::string text;
  if (std::strcmp(name, "parameters") == 0) {
    text = std::to_string(params.size());
  } else {
    auto it = params.find(name);
    if (it == params.end()) {
      error = std::string("unknown parameter \"") + name + "\"";
      return 0;
    }
    text = it->second;
  }
  std::snprintf(value, CORVEX_MAX_VALUE, "%s", text.c_str());
  *length = static_cast<int>(text.size());
  return 1;
}

int FakeCodec::GetParameterName(int index, const char** name, int* length) {
  if (index < 0 || index >= static_cast<int>(params.size())) return 0;
  auto it = params.begin();
  std::advance(it, index);
  *name = it->first.c_str();
  *length = static_cast<int>(it->first.size());
  return 1;
}

int FakeCodec::SetParameter(const char* name, const char* value) {
  log.push_back(std::string("set ") + name + "=" + value);
  if (refusedNames.count(name)) {
    error = std::string("refused \"") + name + "\"";
    return 0;
  }
  params[name] = value;
  return 1;
}

int FakeCodec::Open() {
  log.push_back("Open");
  ready = openSucceeds;
  return openSucceeds ? 1 : 0;
}

int FakeCodec::Close() {
  log.push_back("Close");
  ready = false;
  return 1;
}

int FakeCodec::Code(const unsigned char* in, unsigned char* out, int bitLimit) {
  log.push_back("Code " + std::to_string(bitLimit) + (in ? "" : " null"));
  compressed = 0;
  const std::string type = params["picture coding type"];
  const Bytes* bytes = type == "2" ? &sps : type == "3" ? &pps : &picture;
  if (type == "0") {
    if (!in || codeFails) return 0;
    lastPicture.assign(in, in + pictureBytes);
  }
  if (bytes->size() * 8 > static_cast<size_t>(bitLimit)) {
    error = "over the limit";
    return 0;
  }
  std::memcpy(out, bytes->data(), bytes->size());
  compressed = static_cast<int>(bytes->size());
  return 1;
}

int FakeCodec::Decode(const unsigned char* data, int bitLength, unsigned char* out) {
  const size_t n = static_cast<size_t>(bitLength) / 8;
  log.push_back("Decode " + std::to_string(n));
  decoded.emplace_back(data, data + n);
  if (n < 5) {
    error = "no NAL unit";
    return 0;
  }
  const int type = data[4] & 0x1F;
  if (type == 7 || type == 8) return decodeParamSetResult;
  if (decodeResult == CORVEX_PICTURE) {
    size_t bytes = decodedPictureBytes;
    if (bytes == 0) bytes = static_cast<size_t>(std::stol(params["width"]) * std::stol(params["height"]) * 3);
    for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<BYTE>(7 * i % 251);
  }
  return decodeResult;
}

namespace {
FakeCodec* g_next = nullptr;
ICodecv2* CreateFake() {
  FakeCodec* codec = g_next;
  g_next = nullptr;
  return codec;
}
void ReleaseFake(ICodecv2* codec) { ++static_cast<FakeCodec*>(codec)->released; }
constexpr h264::CodecProvider kFake{CreateFake, ReleaseFake};
}  // namespace

const h264::CodecProvider& FakeProvider() { return kFake; }
void Next(FakeCodec* codec) { g_next = codec; }

namespace {
VIDEOINFOHEADER Vih(LONG width, LONG height, WORD bits, DWORD compression, DWORD size, REFERENCE_TIME frame) {
  VIDEOINFOHEADER vih{};
  vih.rcSource = {0, 0, width, height};
  vih.rcTarget = vih.rcSource;
  vih.AvgTimePerFrame = frame;
  vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih.bmiHeader.biWidth = width;
  vih.bmiHeader.biHeight = height;
  vih.bmiHeader.biPlanes = 1;
  vih.bmiHeader.biBitCount = bits;
  vih.bmiHeader.biCompression = compression;
  vih.bmiHeader.biSizeImage = size;
  return vih;
}
}  // namespace

CMediaType RgbType(LONG width, LONG height, REFERENCE_TIME avgTimePerFrame) {
  const long long stride = (3LL * width + 3) / 4 * 4;
  const DWORD size = static_cast<DWORD>(stride * (height < 0 ? -height : height));
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&MEDIASUBTYPE_RGB24);
  mt.SetFormatType(&FORMAT_VideoInfo);
  const VIDEOINFOHEADER vih = Vih(width, height, 24, BI_RGB, size, avgTimePerFrame);
  mt.SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof vih);
  mt.SetSampleSize(size);
  return mt;
}

CMediaType YuvType(LONG width, LONG height) {
  const DWORD size = static_cast<DWORD>(width * height * 3 / 2);
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&MEDIASUBTYPE_PLENOR_YUV420P);
  mt.SetFormatType(&FORMAT_VideoInfo);
  const VIDEOINFOHEADER vih = Vih(width, height, 12, 0x30323449, size, 400000);
  mt.SetFormat(reinterpret_cast<const BYTE*>(&vih), sizeof vih);
  mt.SetSampleSize(size);
  return mt;
}

CMediaType TrailerType(const GUID& major, const GUID& subtype, LONG width, LONG height, const Bytes& appended) {
  CMediaType mt(&major);
  mt.SetSubtype(&subtype);
  mt.SetFormatType(&FORMAT_VideoInfo);
  const VIDEOINFOHEADER vih = Vih(width, height, 24, 0x31637661, static_cast<DWORD>(width * height * 3), 400000);
  Bytes block(reinterpret_cast<const BYTE*>(&vih), reinterpret_cast<const BYTE*>(&vih) + sizeof vih);
  block.insert(block.end(), appended.begin(), appended.end());
  mt.SetFormat(block.data(), static_cast<ULONG>(block.size()));
  mt.SetVariableSize();
  return mt;
}

CMediaType Avc1Type(LONG width, LONG height, const Bytes& sequenceHeader, DWORD profile, DWORD level, DWORD flags,
                    const GUID& subtype) {
  Bytes block(sizeof(MPEG2VIDEOINFO) + sequenceHeader.size(), 0);
  auto* info = reinterpret_cast<MPEG2VIDEOINFO*>(block.data());
  info->hdr.rcSource = {0, 0, width, height};
  info->hdr.rcTarget = info->hdr.rcSource;
  info->hdr.AvgTimePerFrame = 400000;
  info->hdr.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info->hdr.bmiHeader.biWidth = width;
  info->hdr.bmiHeader.biHeight = height;
  info->hdr.bmiHeader.biPlanes = 1;
  info->hdr.bmiHeader.biBitCount = 24;
  info->hdr.bmiHeader.biCompression = 0x31637661;
  info->cbSequenceHeader = static_cast<DWORD>(sequenceHeader.size());
  info->dwProfile = profile;
  info->dwLevel = level;
  info->dwFlags = flags;
  if (!sequenceHeader.empty())
    std::memcpy(block.data() + offsetof(MPEG2VIDEOINFO, dwSequenceHeader), sequenceHeader.data(),
                sequenceHeader.size());
  CMediaType mt(&MEDIATYPE_Video);
  mt.SetSubtype(&subtype);
  mt.SetFormatType(&FORMAT_MPEG2Video);
  mt.SetFormat(block.data(), static_cast<ULONG>(block.size()));
  mt.SetVariableSize();
  return mt;
}

std::string Param(ISettingsInterface* settings, const char* name) {
  char value[256] = {};
  int length = 0;
  if (FAILED(settings->GetParameter(name, sizeof value, value, &length))) return "<failed>";
  return std::string(value, static_cast<size_t>(length));
}

std::string LastErrorOf(IUnknown* filter) {
  ComPtr<IStatusInterface> status;
  if (FAILED(filter->QueryInterface(IID_IStatusInterface, reinterpret_cast<void**>(&status))))
    return "<no status>";
  char text[1024] = {};
  status->GetLastErrorText(text, sizeof text);
  return text;
}

std::string StatusOf(IUnknown* filter) {
  ComPtr<IStatusInterface> status;
  if (FAILED(filter->QueryInterface(IID_IStatusInterface, reinterpret_cast<void**>(&status))))
    return "<no status>";
  char text[1024] = {};
  status->GetStatusText(text, sizeof text);
  return text;
}

}  // namespace h264test

#include "h264/common/codec.h"

#include <cstdio>
#include <cstdlib>

namespace h264 {

ICodecv2* CreateCodec(const CodecProvider& provider, IStatusInterface* status) {
  ICodecv2* codec = provider.create ? provider.create() : nullptr;
  if (!codec) status->SetLastErrorText("Unable to create H264 Encoder from Factory.", true);
  return codec;
}

void ReleaseCodec(const CodecProvider& provider, ICodecv2* codec) {
  if (!codec) return;
  codec->Close();
  if (provider.release) provider.release(codec);
}

HRESULT OpenCodec(ICodecv2* codec, IStatusInterface* status) {
  if (codec->Open() != 0) return S_OK;
  const std::string text = CodecError(codec);
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
  status->SetLastErrorText(text.c_str(), true);
  return E_FAIL;
}

bool CodecTakesPicture(long long width, long long height, std::string* reason) {
  const long long h = std::llabs(height);
  const char* fault = nullptr;
  if (width < kMinPictureSide || h < kMinPictureSide)
    fault = "is smaller than the codec's 16x16";
  else if (width > kMaxPictureSide || h > kMaxPictureSide)
    fault = "is larger than the codec's 4096x4096";
  else if (width % 2 != 0 || h % 2 != 0)
    fault = "has an odd side; the codec takes even widths and heights only";
  if (!fault) return true;
  if (reason) *reason = "the picture size " + std::to_string(width) + "x" + std::to_string(h) + " " + fault;
  return false;
}

std::string CodecError(ICodecv2* codec) {
  if (!codec) return "";
  const char* text = codec->GetErrorText();
  return text ? text : "";
}

bool SetCodecParameter(ICodecv2* codec, const char* name, long long value) {
  return codec && codec->SetParameter(name, std::to_string(value).c_str()) != 0;
}

bool GetCodecParameter(ICodecv2* codec, const char* name, std::string* value) {
  if (!codec) return false;
  char text[CORVEX_MAX_VALUE] = {};
  int length = 0;
  if (codec->GetParameter(name, &length, text) == 0) return false;
  text[CORVEX_MAX_VALUE - 1] = 0;
  value->assign(text);
  return true;
}

}  // namespace h264

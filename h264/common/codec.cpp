#include "h264/common/codec.h"

#include <cstdlib>

namespace h264 {

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

// What the two H.264 filters share around the codec library: where their codec instance comes
// from (the library's CorvexFactory, or a stand-in that tests give), the picture sizes the
// codec takes, and small text helpers over ICodecv2.
#pragma once

#include <string>

#include "corvex/codecv2.h"
#include "framework/status.h"

namespace h264 {

// Makes and frees one codec instance. The filters take one in their constructor and give it back
// in their destructor, after Close.
struct CodecProvider {
  ICodecv2* (*create)();
  void (*release)(ICodecv2*);
};
// The library's factory, made on the stack around each call (corvexprovider.cpp, library
// h264corvex).
const CodecProvider& CorvexProvider();

// A codec instance from the provider; without one, "Unable to create H264 Encoder from Factory."
// becomes the filter's last-error text (the host is notified) and null is returned.
ICodecv2* CreateCodec(const CodecProvider& provider, IStatusInterface* status);
// Close, then the instance goes back to its provider (null is ignored).
void ReleaseCodec(const CodecProvider& provider, ICodecv2* codec);
// Open; on failure the codec's text goes to standard output (followed by a newline) and becomes
// the last-error text. S_OK or E_FAIL.
HRESULT OpenCodec(ICodecv2* codec, IStatusInterface* status);

// Picture sizes the codec opens with: both sides even, 16 to 4096 pixels.
constexpr long long kMinPictureSide = 16;
constexpr long long kMaxPictureSide = 4096;
// True when a width x height picture (height as in a bitmap header: its sign gives the row
// order) can be coded; otherwise false with the reason in *reason. 64-bit arithmetic.
bool CodecTakesPicture(long long width, long long height, std::string* reason);

// The codec's last error text ("" without a codec).
std::string CodecError(ICodecv2* codec);
// SetParameter with a decimal value.
bool SetCodecParameter(ICodecv2* codec, const char* name, long long value);
// A parameter's value text; false when the codec refuses the name.
bool GetCodecParameter(ICodecv2* codec, const char* name, std::string* value);

}  // namespace h264

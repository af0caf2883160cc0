// The baseline round trip the H.264 benchmarks measure against: RGB24 -> the suite's
// RGB24-to-I420 converter (offset 128) -> OpenH264's encoder -> OpenH264's decoder -> the suite's
// I420-to-RGB24 converter (offset 128), called directly, without codec library or graph.
// Constant quantiser kQuantiser, medium complexity, one thread, one slice, an intra picture every
// kIntraPeriod, scene-change detection on: what libcorvex configures for "mode of operation" 0 at
// its default "quality" with "switchframeperiod" 12 and "autoipicture" 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace benchh264 {

constexpr int kQuantiser = 26;
constexpr int kIntraPeriod = 12;
constexpr int kClipFrames = 12;

// kClipFrames RGB24 pictures of w x h (moving ramps and a chequer), 3 bytes per pixel, no padding.
std::vector<std::vector<uint8_t>> MakeClip(int w, int h);

class RawRoundTrip {
 public:
  RawRoundTrip(int w, int h);
  ~RawRoundTrip();
  RawRoundTrip(const RawRoundTrip&) = delete;
  RawRoundTrip& operator=(const RawRoundTrip&) = delete;

  // Null when the codec is ready, else why not.
  const char* Error() const { return m_error; }
  // One bottom-up RGB24 picture there and back; returns the bytes of the coded picture.
  size_t Step(const uint8_t* rgb);
  const uint8_t* Decoded() const { return m_rgb.data(); }
  // Pictures decoded and converted so far.
  int64_t Pictures() const { return m_pictures; }

 private:
  struct Codec;
  int m_w, m_h;
  const char* m_error = nullptr;
  std::unique_ptr<Codec> m_codec;
  std::vector<uint8_t> m_yuv, m_stream, m_rgb;
  int64_t m_frame = 0;
  int64_t m_pictures = 0;
};

}  // namespace benchh264

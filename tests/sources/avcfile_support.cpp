#include "tests/sources/avcfile_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/com/runtime.h"
#include "tests/corvex/support_corvex.h"
#include "tests/support/modules.h"

namespace avctest {

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(out.good()) << path;
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::vector<Bytes> EncodeStream(int width, int height, int frames, int intraPeriod) {
  corvextest::CodecPtr codec = corvextest::MakeCodec();
  if (!codec) return {};
  const corvextest::ParamSets sets = corvextest::OpenEncoder(codec.get(), width, height, 0, false);
  std::vector<Bytes> units = {sets.sps, sets.pps};
  for (int n = 0; n < frames; ++n) {
    if (intraPeriod > 0 && n > 0 && n % intraPeriod == 0) codec->Restart();
    const std::vector<uint8_t> picture = corvextest::RgbFrame(width, height, n);
    const std::vector<uint8_t> coded = corvextest::CodeOne(codec.get(), picture.data(), width, height);
    for (Bytes& u : SplitUnits(coded)) units.push_back(std::move(u));
  }
  return units;
}

bool X264Stream(const std::string& path, int width, int height, int frames, int keyint) {
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=" +
                              std::to_string(width) + "x" + std::to_string(height) + ":rate=25 -frames:v " +
                              std::to_string(frames) + " -pix_fmt yuv420p -c:v libx264 -profile:v baseline -preset veryfast " +
                              "-x264-params keyint=" + std::to_string(keyint) + " -f h264 '" + path + "'";
  return corvextest::RunCommand(command);
}

std::vector<Bytes> SplitUnits(const Bytes& stream) {
  std::vector<Bytes> units;
  ComPtr<IStream> s;
  if (FAILED(CreateStreamOnMemory(stream.data(), static_cast<ULONG>(stream.size()), &s))) return units;
  NalUnitReader reader;
  reader.Open(s);
  while (reader.ReadNextUnit()) units.emplace_back(reader.Unit(), reader.Unit() + reader.UnitLength());
  return units;
}

void RegisterModules() {
  static std::once_flag once;
  std::call_once(once, [] {
    rawtest::RegisterModules();
    plenor::test::RegisterModuleFile(PLENOR_AVCFILE_MODULE);
#ifdef PLENOR_AVCDECODE_MODULE
    plenor::test::RegisterModuleFile(PLENOR_AVCDECODE_MODULE);
#endif
  });
}

ComPtr<IBaseFilter> CreateAvcFileSource() {
  RegisterModules();
  ComPtr<IBaseFilter> filter;
  EXPECT_EQ(CoCreateInstance(CLSID_AvcFileSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.AsOut()),
            S_OK)
      << CoGetLastLoadError();
  return filter;
}

std::string LastError(IUnknown* filter) {
  ComPtr<IStatusInterface> status;
  if (FAILED(filter->QueryInterface(IID_IStatusInterface, status.AsOut()))) return "<error>";
  char text[1024] = "";
  if (FAILED(status->GetLastErrorText(text, sizeof text))) return "<error>";
  return text;
}

ComPtr<IMediaSeeking> Seeking(IUnknown* filter) {
  ComPtr<IMediaSeeking> seeking;
  EXPECT_EQ(filter->QueryInterface(IID_IMediaSeeking, seeking.AsOut()), S_OK);
  return seeking;
}

}  // namespace avctest

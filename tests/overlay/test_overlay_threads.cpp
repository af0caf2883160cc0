// OverlayKitFilter's info text read by another thread (as a downstream instance does on its own
// streaming thread) while frames are measured and parameters rewritten: every text read must be
// a whole one, and under ThreadSanitizer no access may race.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

#include "framework/infosource.h"
#include "overlay/overlaykit/overlaykit.h"
#include "support_overlay.h"

using namespace overlaytest;

TEST(OverlayKitThreads, InfoTextReadWhileFramesAreMeasured) {
  ComPtr<IBaseFilter> kit = CreateFilter(CLSID_OverlayKitFilter);
  ASSERT_TRUE(kit);
  ASSERT_EQ(SetParam(kit.Get(), "mode", "0"), S_OK);
  ASSERT_EQ(SetParam(kit.Get(), "writeonframe", "false"), S_OK);
  PushChain chain({kit}, RgbType(24, 64, 48), 16384);
  ASSERT_EQ(chain.connected, S_OK);
  ComPtr<IFilterInfoSourceInterface> info = kit.As<IFilterInfoSourceInterface>();
  ASSERT_TRUE(info);
  ASSERT_EQ(chain.host.control->Run(), S_OK);

  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    const std::regex whole(R"(\d+\.\d+ fps)");
    char buffer[256];
    while (!done.load()) {
      int length = sizeof buffer;
      if (info->GetInfoText(buffer, &length) != S_OK) {
        ++bad;
        continue;
      }
      if (length > 0 && !std::regex_match(std::string(buffer, static_cast<size_t>(length)), whole)) ++bad;
      SetParam(kit.Get(), "precision", length % 2 ? "1" : "4");
    }
  });
  const std::vector<BYTE> frame(PictureSize(24, 64, 48), 0x20);
  HRESULT pushed = S_OK;
  for (int i = 0; i < 2000 && pushed == S_OK; ++i) pushed = chain.Push(frame, i * 400000LL);
  done = true;
  reader.join();
  EXPECT_EQ(pushed, S_OK);
  EXPECT_EQ(bad.load(), 0);
}

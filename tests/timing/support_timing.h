// Shared pieces of the frame timing tests: the two modules registered from the plugin folder and
// created through the runtime, parameter access by name, and filter chains in the graph manager.
#pragma once

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "framework/settings.h"
#include "platform/strmbase/mtype.h"
#include "platform/ui/winuser.h"
#include "tests/support/harness.h"
#include "tests/support/modules.h"
#include "utilities/utilities.h"

namespace timingtest {

using namespace plenor::test;

// Registers FrameDropFilter.so and TimeShiftFilter.so (from $PLENOR_PLUGIN_DIR) in this test
// process's registry; once per process.
void RegisterTimingModules();
// A filter of a registered module, created with CoCreateInstance.
ComPtr<IBaseFilter> CreateFilter(const CLSID& clsid);

// A 64 x 48 video type with a VIDEOINFOHEADER (RGB24 unless told otherwise).
CMediaType VideoType(REFERENCE_TIME avgTimePerFrame = 333333, const GUID& subtype = MEDIASUBTYPE_RGB24);
// AvgTimePerFrame of a VIDEOINFOHEADER or VIDEOINFOHEADER2 type (-1 for other types).
REFERENCE_TIME AvgTimePerFrame(const AM_MEDIA_TYPE& mt);

using Host = GraphHost;

// The utilities' test pattern source (64 x 48 RGB24 at the given frame rate, frames frames) ->
// filter under test -> the utilities' sample grabber, all from their registered modules, in the
// graph manager; the filter's parameters are set before the pins are connected.
struct PatternChain {
  PatternChain(const CLSID& clsid, const char* framerate, int frames,
               std::initializer_list<std::pair<const char*, const char*>> parameters = {});
  ~PatternChain();
  // Runs the graph to its end; the samples the grabber recorded.
  std::vector<GRABBED_SAMPLE_INFO> RunToEnd();
  // AvgTimePerFrame of the grabber's connection type.
  REFERENCE_TIME GrabbedFrameDuration();

  Host host;
  ComPtr<IBaseFilter> source;
  ComPtr<IBaseFilter> filter;
  ComPtr<IBaseFilter> grabber;
};

// push source -> filter under test -> recording sink, in the graph manager. The test pushes
// samples on its own thread while the graph runs.
struct PushChain {
  PushChain(const CLSID& clsid, const CMediaType& type = VideoType());
  ~PushChain();
  // A small sample with the given times (none when absent); the downstream Receive result.
  HRESULT Push(std::optional<REFERENCE_TIME> start, std::optional<REFERENCE_TIME> stop);
  // Samples whose start is frame * duration and stop one duration later.
  HRESULT PushFrame(int frame, REFERENCE_TIME duration = 333333);
  // The start times the sink received, in order.
  std::vector<REFERENCE_TIME> Starts();
  // The frame numbers (start / duration) the sink received.
  std::vector<int> Frames(REFERENCE_TIME duration = 333333);

  Host host;
  ComPtr<PushSource> push;
  ComPtr<IBaseFilter> filter;
  ComPtr<TestSink> sink;
  HRESULT inputConnect = E_FAIL;
  HRESULT outputConnect = E_FAIL;
};

// What registration records for a module with no registered pins: the filter's name and merit
// 0x200000 in the mapper, the page's class key named, and the page not in the mapper.
void ExpectRegisteredWithoutPins(const CLSID& filter, const CLSID& page, const wchar_t* name, const char* pageName);

// Page helpers: an up-down control's range, a control's text, whether text contains part.
std::pair<int, int> Range(HWND dialog, int spin);
std::string Text(HWND dialog, int id);
bool Contains(const std::string& text, const std::string& part);

inline constexpr REFERENCE_TIME kDuration = 333333;
inline constexpr int kRuns = 25;
inline constexpr size_t kChecked = 24;  // frames checked per run

// The test pattern source (frames every 333,333 units from 0, endless) -> filter -> sample grabber.
struct FlowingGraph : PatternChain {
  explicit FlowingGraph(const CLSID& clsid);
  // One run (the grabber forgets the last one as the graph starts): the start times of the first
  // count samples, read before Stop is called.
  std::vector<REFERENCE_TIME> RunOnce(size_t count);

  ComPtr<IPlenorSampleGrabber> samples;
};

// Runs body on another thread until the guard is destroyed.
class Background {
 public:
  template <class F>
  explicit Background(F body)
      : m_thread([this, body] {
          while (!m_stop.load()) body();
        }) {}
  ~Background() {
    m_stop = true;
    m_thread.join();
  }

 private:
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace timingtest

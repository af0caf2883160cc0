// Figures of two set-ups measured in turn (a, b, a, b, ...). On a shared machine the other
// processes change from one second to the next, so two benchmarks run one after the other do not
// meet the same ones; rounds in turn do. Kept: the best run of each (the one the other processes
// disturbed least) in frames per second and in processor time per frame, and the rounds'
// frame-rate ratios b / a.
#pragma once

#include <algorithm>
#include <vector>

namespace benchsupport {

struct InTurnFigures {
  double bestFps[2] = {0, 0};
  double bestCpuMs[2] = {0, 0};  // processor milliseconds per frame, all threads
  std::vector<double> ratios;

  // One round: frames, wall seconds and processor seconds of a, then of b.
  void Add(long long framesA, double wallA, double cpuA, long long framesB, double wallB, double cpuB) {
    const double fps[2] = {framesA / wallA, framesB / wallB};
    const double cpuMs[2] = {1000 * cpuA / framesA, 1000 * cpuB / framesB};
    for (int i = 0; i < 2; ++i) {
      bestFps[i] = std::max(bestFps[i], fps[i]);
      bestCpuMs[i] = bestCpuMs[i] > 0 ? std::min(bestCpuMs[i], cpuMs[i]) : cpuMs[i];
    }
    ratios.push_back(fps[1] / fps[0]);
  }
  // b's best frame rate over a's.
  double BestRatio() const { return bestFps[0] > 0 ? bestFps[1] / bestFps[0] : 0; }
  double MedianRatio() const {
    if (ratios.empty()) return 0;
    std::vector<double> sorted = ratios;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
  }
  // a's best processor time per frame over b's: above 1 when b takes less.
  double CpuRatio() const { return bestCpuMs[1] > 0 ? bestCpuMs[0] / bestCpuMs[1] : 0; }
};

}  // namespace benchsupport

#include "platform/graph/topology.h"

#include <queue>

namespace plenor::graph {

std::vector<size_t> UpstreamFirstOrder(size_t count, const std::vector<std::pair<size_t, size_t>>& edges) {
  std::vector<size_t> inDegree(count, 0);
  std::vector<std::vector<size_t>> next(count);
  for (const auto& [from, to] : edges) {
    if (from >= count || to >= count || from == to) continue;
    next[from].push_back(to);
    ++inDegree[to];
  }
  // Smallest index first among the nodes that are ready.
  std::priority_queue<size_t, std::vector<size_t>, std::greater<size_t>> ready;
  for (size_t i = 0; i < count; ++i)
    if (inDegree[i] == 0) ready.push(i);
  std::vector<size_t> order;
  std::vector<bool> placed(count, false);
  while (!ready.empty()) {
    size_t n = ready.top();
    ready.pop();
    order.push_back(n);
    placed[n] = true;
    for (size_t m : next[n])
      if (--inDegree[m] == 0) ready.push(m);
  }
  for (size_t i = 0; i < count; ++i)
    if (!placed[i]) order.push_back(i);
  return order;
}

}  // namespace plenor::graph

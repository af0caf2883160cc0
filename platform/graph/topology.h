// Ordering of the filters of a graph from its connections.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace plenor::graph {

// Nodes 0..count-1 ordered so that every node comes after all nodes with an edge into it
// (upstream first). Ties keep the nodes' own order. Nodes on a cycle, which a well-formed graph
// never has, follow the others in their own order.
std::vector<size_t> UpstreamFirstOrder(size_t count, const std::vector<std::pair<size_t, size_t>>& edges);

}  // namespace plenor::graph

// The commands of plenor, each in its own cmd_*.cpp; main.cpp declares their command lines and
// calls them with what was read.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/run.h"

namespace cli {

int RunRegister(const std::vector<std::string>& modules);
int RunUnregister(const std::vector<std::string>& modules);
int RunList();
int RunInspect(const std::string& filter);
int RunRun(const RunOptions& options, const std::vector<std::string>& pipeline);

// plenor page FILTER [PARAM=VALUE ...] [--set ID=VALUE ...] [--apply]
struct PageRequest {
  std::string filter;
  std::vector<std::pair<std::string, std::string>> params;  // set before the page opens
  std::vector<std::pair<int, std::string>> sets;            // control id, value
  bool apply = false;
};
int RunPage(const PageRequest& request);

int RunGraphSave(const std::string& file, const RunOptions& options, const std::vector<std::string>& pipeline);
int RunGraphRun(const std::string& file, const RunOptions& options);
int RunGraphShow(const std::string& file);

}  // namespace cli

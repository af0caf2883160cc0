// The subcommands of plenor. Each lives in its own cmd_*.cpp and is listed in main.cpp's table.
#pragma once

#include <string>
#include <vector>

namespace cli {

int RunRegister(const std::vector<std::string>& args);
int RunUnregister(const std::vector<std::string>& args);
int RunList(const std::vector<std::string>& args);
int RunInspect(const std::vector<std::string>& args);
int RunRun(const std::vector<std::string>& args);
int RunPage(const std::vector<std::string>& args);
int RunGraphCommand(const std::vector<std::string>& args);

}  // namespace cli

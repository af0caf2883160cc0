// plenor: the command-line host. `plenor [--registry FILE] COMMAND ARGS...`; the commands are
// listed in kCommands, each implemented in its own cmd_*.cpp.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "host/cli_util.h"
#include "host/commands.h"

namespace {

const cli::Command kCommands[] = {
    {"register", "[MODULE.so ...]",
     "register modules (default: every *.so of the plugin folder)",
     cli::RunRegister},
    {"unregister", "MODULE.so ...", "unregister modules", cli::RunUnregister},
    {"list", "", "list the registered filters: name, short name, class id, merit, module", cli::RunList},
    {"inspect", "FILTER", "show a filter: pins, interfaces, status, parameters, property pages", cli::RunInspect},
    {"run", "[OPTIONS] PIPELINE", "build and run a pipeline until it ends, Ctrl-C or a limit", cli::RunRun},
    {"page", "FILTER [P=V ...] [--set ID=V ...] [--apply]", "show and drive a filter's property page",
     cli::RunPage},
    {"graph", "save FILE PIPELINE | run FILE | show FILE", "save, run or show a graph file", cli::RunGraphCommand},
};

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: plenor [--registry FILE] COMMAND [ARGS...]\n"
               "\n"
               "options:\n"
               "  --registry FILE  registry database to use (default: $PLENOR_REGISTRY, else\n"
               "                   $XDG_DATA_HOME/plenor/registry.db)\n"
               "  -h, --help       show this help\n"
               "\n"
               "commands:\n");
  for (const cli::Command& c : kCommands) {
    std::string head = std::string(c.name) + (*c.synopsis ? " " : "") + c.synopsis;
    if (head.size() > 28)
      std::fprintf(out, "  %s\n  %-28s %s\n", head.c_str(), "", c.summary);
    else
      std::fprintf(out, "  %-28s %s\n", head.c_str(), c.summary);
  }
  std::fprintf(out,
               "\n"
               "FILTER: a short name (RawFrameSource, TestPatternSource, FileWriter, ...; see plenor list),\n"
               "  a \"display name\", a {class id}, or a module path (PATH.so[:NAME]) used without registering it\n"
               "PIPELINE: FILTER [name=ID] [PARAM=VALUE ...] ! FILTER ... ; ID. links to or from a named element\n"
               "  plenor run TestPatternSource frames=30 ! FileWriter location=out.rgb\n"
               "  plenor run WavSource location=in.wav ! ChannelPickFilter channel=1 ! WavWriter location=mono.wav\n"
               "run options: --frames N, --seconds S, --quiet, --dot FILE, --verbose-negotiation\n"
               "\n"
               "plugin folder: $PLENOR_PLUGIN_DIR if set, else %s\n"
               "exit status: 0 success, 1 a command failed, 2 wrong command line\n",
               PLENOR_BUILD_PLUGIN_DIR);
}

int Run(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  size_t i = 0;
  // Global options come before the command.
  for (; i < args.size() && !args[i].empty() && args[i][0] == '-'; ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      PrintUsage(stdout);
      return cli::kExitOk;
    }
    if (a == "--registry") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return cli::UsageError("--registry needs a file name");
      CoSetRegistryPath(args[++i]);
    } else if (a.rfind("--registry=", 0) == 0 && a.size() > std::strlen("--registry=")) {
      CoSetRegistryPath(a.substr(std::strlen("--registry=")));
    } else {
      return cli::UsageError("unknown option '" + a + "'");
    }
  }
  if (i >= args.size()) {
    PrintUsage(stderr);
    return cli::kExitUsage;
  }
  const std::string& name = args[i];
  for (const cli::Command& c : kCommands) {
    if (name == c.name) return c.run(std::vector<std::string>(args.begin() + static_cast<long>(i) + 1, args.end()));
  }
  return cli::UsageError("unknown command '" + name + "'");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    return cli::Fail(std::string("out of resources: ") + e.what());
  }
}

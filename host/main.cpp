// plenor: the command-line host. `plenor [--registry FILE] COMMAND ARGS...`; the commands are
// listed in kCommands, each implemented in its own cmd_*.cpp.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "host/cli_util.h"
#include "host/commands.h"
#include "framework/status.h"

namespace {

const cli::Command kCommands[] = {
    {"register", "[MODULE.so ...]",
     "register modules (default: every *.so of the plugin folder)",
     cli::RunRegister,
     "Loads each module, calls its DllRegisterServer and frees it. Without arguments every *.so of\n"
     "the plugin folder is registered. Each module's registration is one transaction: other\n"
     "commands see it whole or not at all.\n"
     "examples:\n"
     "  plenor register\n"
     "  plenor --registry my.db register build/release/plugins/ChannelPickFilter.so\n"},
    {"unregister", "MODULE.so ...", "unregister modules", cli::RunUnregister,
     "Loads each module and calls its DllUnregisterServer.\n"
     "example:\n"
     "  plenor unregister build/release/plugins/ChannelPickFilter.so\n"},
    {"list", "", "list the registered filters: name, short name, class id, merit, module", cli::RunList,
     "One line per registered filter, tab-separated: display name, short name (what a pipeline\n"
     "uses), class id, merit, module file.\n"
     "example:\n"
     "  plenor list\n"},
    {"inspect", "FILTER", "show a filter: pins, interfaces, status, parameters, property pages", cli::RunInspect,
     "Creates the filter and shows its pins and their types, interfaces, version and status texts,\n"
     "every parameter with its type and value, and its property pages.\n"
     "examples:\n"
     "  plenor inspect TestPatternSource\n"
     "  plenor inspect \"Ravik Plenor Stereo2Mono Filter\"\n"},
    {"run", "[OPTIONS] PIPELINE", "build and run a pipeline until it ends, Ctrl-C or a limit", cli::RunRun,
     "Builds the pipeline's graph, runs it until the end of the stream, Ctrl-C (or SIGTERM, SIGHUP)\n"
     "or a limit, stops it and prints a summary: how it finished, the position reached, samples per\n"
     "filter (per input for filters with several inputs, and what their outputs delivered). A\n"
     "filter's new last-error text is printed as it happens, one line naming the filter.\n"
     "options:\n"
     "  --frames N             stop after N video frames (every source must be able to seek)\n"
     "  --seconds S            stop at S seconds of stream time (likewise)\n"
     "  --quiet, -q            no progress line and no summary\n"
     "  --verbose, -v          also print the filters' status texts as they change\n"
     "  --verbose-negotiation  print every connection's type, or every type and verdict on failure\n"
     "  --dot FILE             write the graph as Graphviz DOT\n"
     "examples:\n"
     "  plenor run TestPatternSource frames=30 ! FileWriter location=out.rgb\n"
     "  plenor run --seconds 2 WavSource location=in.wav ! ChannelPickFilter channel=1 ! WavWriter location=mono.wav\n"
     "  plenor run TestPatternSource name=t  t. ! NullRenderer\n"},
    {"page", "FILTER [P=V ...] [--set ID=V ...] [--apply]", "show and drive a filter's property page",
     cli::RunPage,
     "Opens the filter's property pages as text: every control with its id and value. P=V sets a\n"
     "parameter first; --set ID=V types into a control; --apply applies the page.\n"
     "examples:\n"
     "  plenor page ChannelPickFilter\n"
     "  plenor page ChannelPickFilter --set 1001=1 --apply\n"},
    {"graph", "save FILE PIPELINE | run FILE | show FILE", "save, run or show a graph file", cli::RunGraphCommand,
     "save writes the pipeline's graph (filters, parameters, persisted state, connections) as JSON;\n"
     "run builds and runs a saved graph (the options of plenor run apply); show prints it.\n"
     "examples:\n"
     "  plenor graph save g.json TestPatternSource frames=10 ! FileWriter location=out.rgb\n"
     "  plenor graph run --quiet g.json\n"
     "  plenor graph show g.json\n"},
};

const cli::Command* FindCommand(const std::string& name) {
  for (const cli::Command& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

void PrintCommandHelp(const cli::Command& c) {
  std::printf("usage: plenor [--registry FILE] %s%s%s\n\n%s\n%s", c.name, *c.synopsis ? " " : "", c.synopsis,
              c.summary, c.details);
}

void PrintVersion() {
  std::printf("plenor %d.%d.%d\n", VersionInfo::kMajor, VersionInfo::kMinor, VersionInfo::kBuild);
}

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "usage: plenor [--registry FILE] COMMAND [ARGS...]\n"
               "\n"
               "options:\n"
               "  --registry FILE  registry database to use (default: $PLENOR_REGISTRY, else\n"
               "                   $XDG_DATA_HOME/plenor/registry.db)\n"
               "  -h, --help       show this help (plenor help COMMAND: a command's options and examples)\n"
               "  --version        show the version\n"
               "\n"
               "commands:\n"
               "  help [COMMAND]               this help, or a command's options and examples\n");
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
    if (a == "--version" || a == "-V") {
      PrintVersion();
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
  std::vector<std::string> rest(args.begin() + static_cast<long>(i) + 1, args.end());
  if (name == "help") {
    if (rest.empty()) {
      PrintUsage(stdout);
      return cli::kExitOk;
    }
    const cli::Command* c = FindCommand(rest[0]);
    if (!c || rest.size() > 1) return cli::UsageError("help: no command '" + rest[0] + "'");
    PrintCommandHelp(*c);
    return cli::kExitOk;
  }
  if (name == "version") {
    PrintVersion();
    return cli::kExitOk;
  }
  const cli::Command* c = FindCommand(name);
  if (!c) return cli::UsageError("unknown command '" + name + "'");
  // COMMAND --help (before any "--", which passes what follows on unread).
  for (const std::string& a : rest) {
    if (a == "--") break;
    if (a == "--help" || a == "-h") {
      PrintCommandHelp(*c);
      return cli::kExitOk;
    }
  }
  return c->run(rest);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    return cli::Fail(std::string("out of resources: ") + e.what());
  }
}

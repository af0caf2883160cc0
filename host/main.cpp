// plenor: the command-line host. `plenor [--registry FILE] COMMAND ARGS...`. The command line is
// read by CLI11: the commands, their options and values are declared below, each command's work
// is in its own cmd_*.cpp. The help texts are made from the same declarations.
//
// run and graph save take a pipeline after their options. The pipeline is a language of its own
// (host/pipeline.h: words are joined and lexed again with its own quotes and escapes), so CLI11
// reads only the options in front of it and passes every word from the first one that is not an
// option through unread.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "framework/status.h"
#include "host/cli_util.h"
#include "host/commands.h"

namespace {

// What the help shows of a command beyond CLI11's own fields (the summary is the command's
// description, the examples its footer).
struct Doc {
  std::string synopsis;  // the arguments after the command's name
  std::string about;     // a paragraph on what it does
};

std::map<const CLI::App*, Doc>& Docs() {
  static std::map<const CLI::App*, Doc> docs;
  return docs;
}

std::string VersionText() {
  return "plenor " + std::to_string(VersionInfo::kMajor) + "." + std::to_string(VersionInfo::kMinor) + "." +
         std::to_string(VersionInfo::kBuild);
}

// "graph save" for the graph command's save, "" for the root.
std::string CommandPath(const CLI::App* app) {
  std::string path;
  for (; app && app->get_parent(); app = app->get_parent())
    path = app->get_name() + (path.empty() ? "" : " " + path);
  return path;
}

// Commands shown in the help (the hidden ones have no group).
std::vector<const CLI::App*> VisibleCommands(const CLI::App* app) {
  return app->get_subcommands([](const CLI::App* s) { return !s->get_group().empty(); });
}

// "--frames N", "--quiet, -q": long names first, as users type them.
std::string OptionLabel(const CLI::Option* opt) {
  std::string label;
  for (const std::string& n : opt->get_lnames()) label += (label.empty() ? "--" : ", --") + n;
  for (const std::string& n : opt->get_snames()) label += (label.empty() ? "-" : ", -") + n;
  if (opt->get_type_size() != 0 && !opt->get_type_name().empty()) label += " " + opt->get_type_name();
  return label;
}

// Lines of "  LABEL  TEXT" with the texts aligned; a text's own line breaks continue under it, and
// a label too long for the column has its text on the next line.
std::string Columns(const std::vector<std::pair<std::string, std::string>>& rows) {
  constexpr size_t kMaxWidth = 28;
  size_t width = 0;
  for (const auto& [label, text] : rows)
    if (label.size() <= kMaxWidth) width = std::max(width, label.size());
  const std::string indent(width + 4, ' ');
  std::string out;
  for (const auto& [label, text] : rows) {
    std::string line = "  " + label;
    line += label.size() <= width ? std::string(width - label.size() + 2, ' ') : "\n" + indent;
    for (char c : text) line += c == '\n' ? "\n" + indent : std::string(1, c);
    out += line + "\n";
  }
  return out;
}

// The command's options in the order declared, help last.
std::string OptionsHelp(const CLI::App* app) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const CLI::Option* opt : app->get_options([](const CLI::Option* o) { return o->nonpositional(); }))
    if (opt != app->get_help_ptr()) rows.emplace_back(OptionLabel(opt), opt->get_description());
  if (const CLI::Option* help = app->get_help_ptr()) rows.emplace_back(OptionLabel(help), help->get_description());
  return "options:\n" + Columns(rows);
}

std::string CommandsHelp(const CLI::App* app, bool nested) {
  std::vector<std::pair<std::string, std::string>> rows;
  for (const CLI::App* sub : VisibleCommands(app)) {
    const std::string head = CommandPath(sub).substr(CommandPath(app).empty() ? 0 : CommandPath(app).size() + 1);
    const std::string& synopsis = Docs()[sub].synopsis;
    if (nested && !VisibleCommands(sub).empty()) {
      for (const CLI::App* leaf : VisibleCommands(sub))
        rows.emplace_back(head + " " + leaf->get_name() + " " + Docs()[leaf].synopsis, leaf->get_description());
    } else {
      rows.emplace_back(head + (synopsis.empty() ? "" : " " + synopsis), sub->get_description());
    }
  }
  return "commands:\n" + Columns(rows);
}

std::string RootHelp(const CLI::App* root) {
  std::string runOptions;
  if (const CLI::App* run = root->get_subcommand_ptr("run").get())
    for (const CLI::Option* opt : run->get_options([](const CLI::Option* o) { return o->nonpositional(); }))
      if (opt != run->get_help_ptr()) runOptions += (runOptions.empty() ? "--" : ", --") + opt->get_lnames().front();
  return "usage: plenor [--registry FILE] COMMAND [ARGS...]\n\n" + OptionsHelp(root) + "\n" +
         CommandsHelp(root, true) +
         "\n"
         "FILTER: a short name (RawFrameSource, TestPatternSource, FileWriter, ...; see plenor list),\n"
         "  a \"display name\", a {class id}, or a module path (PATH.so[:NAME]) used without registering it\n"
         "PIPELINE: FILTER [name=ID] [PARAM=VALUE ...] ! FILTER ... ; ID. links to or from a named element\n"
         "  plenor run TestPatternSource frames=30 ! FileWriter location=out.rgb\n"
         "  plenor run WavSource location=in.wav ! ChannelPickFilter channel=1 ! WavWriter location=mono.wav\n"
         "run options: " + runOptions + "\n"
         "\n"
         "plugin folder: $PLENOR_PLUGIN_DIR if set, else " PLENOR_BUILD_PLUGIN_DIR "\n"
         "exit status: 0 success, 1 a command failed, 2 wrong command line\n";
}

std::string CommandHelp(const CLI::App* app) {
  const Doc& doc = Docs()[app];
  std::string text = "usage: plenor [--registry FILE] " + CommandPath(app) + (doc.synopsis.empty() ? "" : " ") +
                     doc.synopsis + "\n\n" + app->get_description() + "\n\n";
  if (!doc.about.empty()) text += doc.about + "\n";
  text += OptionsHelp(app);
  if (!VisibleCommands(app).empty()) text += "\n" + CommandsHelp(app, false);
  return text + "\n" + app->get_footer();
}

std::string Help(const CLI::App* app) { return app->get_parent() ? CommandHelp(app) : RootHelp(app); }

// The innermost command the parser entered.
const CLI::App* Innermost(const CLI::App* app) {
  for (;;) {
    std::vector<const CLI::App*> parsed = app->get_subcommands([](const CLI::App* s) { return s->parsed(); });
    if (parsed.empty()) return app;
    app = parsed.front();
  }
}

int Usage(const CLI::App* context, const std::string& message) { return cli::UsageError(CommandPath(context), message); }

// Turns what CLI11 threw into the help, the version or one usage line naming the command.
int ParseFailure(const CLI::App& root, const CLI::ParseError& e) {
  const CLI::App* inner = Innermost(&root);
  if (dynamic_cast<const CLI::CallForHelp*>(&e) || dynamic_cast<const CLI::CallForAllHelp*>(&e)) {
    std::printf("%s", Help(inner).c_str());
    return cli::kExitOk;
  }
  if (dynamic_cast<const CLI::CallForVersion*>(&e)) {
    std::printf("%s\n", VersionText().c_str());
    return cli::kExitOk;
  }
  if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
    // The words nobody took are kept by the command they were given to: name the first.
    for (const CLI::App* app = inner; app; app = app->get_parent()) {
      std::vector<std::string> extra = app->remaining();
      std::erase(extra, "--");
      if (extra.empty()) continue;
      const std::string& w = extra.front();
      if (w.size() > 1 && w[0] == '-') return Usage(app, "unknown option '" + w + "'");
      std::vector<const CLI::App*> commands = VisibleCommands(app);
      if (commands.empty() || app->get_subcommands([](const CLI::App* s) { return s->parsed(); }).size() > 0)
        return Usage(app, "unexpected argument '" + w + "'");
      std::string names;
      for (const CLI::App* c : commands) names += (names.empty() ? "" : ", ") + c->get_name();
      return Usage(app, "unknown command '" + w + "' (" + names + ")");
    }
  }
  std::string message = e.what();
  if (message.size() > 1 && std::isupper(static_cast<unsigned char>(message[0])) &&
      std::islower(static_cast<unsigned char>(message[1])))
    message[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
  return Usage(inner, message);
}

// The words passed through after the options of run and graph save: from the first word that is
// not an option (or after "--"). A leading word that looks like an option is one the command does
// not have; --help among the words (before any "--") asks for the command's help, as in front of
// them. Returns -1 with the words, else the exit code after printing the error or the help.
int PassedThrough(const CLI::App* cmd, std::vector<std::string>* words) {
  *words = cmd->remaining();
  if (!words->empty() && words->front() == "--") {
    words->erase(words->begin());
    return -1;
  }
  if (!words->empty() && words->front().size() > 1 && words->front()[0] == '-')
    return Usage(cmd, "unknown option '" + words->front() + "'");
  for (const std::string& w : *words) {
    if (w == "--") break;
    if (w == "--help" || w == "-h") {
      std::printf("%s", Help(cmd).c_str());
      return cli::kExitOk;
    }
  }
  return -1;
}

// A pass-through command's hidden positional that takes no word, so that CLI11 passes the words
// on (prefix_command) and still accepts "--" in front of them.
void PassWordsThrough(CLI::App* cmd, std::vector<std::string>* never) {
  cmd->prefix_command();
  cmd->validate_positionals();
  cmd->add_option("PIPELINE", *never)
      ->check(CLI::Validator([](std::string&) { return std::string("passed through"); }, ""))
      ->group("");
}

CLI::Validator NonEmpty(const char* what) {
  return CLI::Validator(
      [what](std::string& s) { return s.empty() ? std::string("needs ") + what + ", not an empty text" : std::string(); },
      "");
}

// --frames N: a positive whole number; numbers beyond the 64-bit range saturate (they mean "no
// limit the stream can reach").
CLI::Validator PositiveCount() {
  return CLI::Validator(
      [](std::string& s) {
        char* end = nullptr;
        long long n = std::strtoll(s.c_str(), &end, 10);
        if (s.empty() || *end || n <= 0) return "needs a positive whole number, not '" + s + "'";
        s = std::to_string(n);
        return std::string();
      },
      "");
}

CLI::Validator PositiveSeconds() {
  return CLI::Validator(
      [](std::string& s) {
        char* end = nullptr;
        double d = std::strtod(s.c_str(), &end);
        if (s.empty() || *end || !(d > 0) || d > 1e9)
          return "needs a positive number of seconds (at most 1e9), not '" + s + "'";
        return std::string();
      },
      "");
}

CLI::Validator Pair(const char* what, bool numberedKey) {
  return CLI::Validator(
      [what, numberedKey](std::string& s) {
        size_t eq = s.find('=');
        bool ok = eq != std::string::npos && eq > 0;
        if (ok && numberedKey) {
          // The key is kept in a variable: the end pointer points into it.
          const std::string key = s.substr(0, eq);
          char* end = nullptr;
          std::strtol(key.c_str(), &end, 10);
          ok = !*end;
        }
        return ok ? std::string() : "'" + s + "' is not " + what;
      },
      "");
}

CLI::App* AddCommand(CLI::App* parent, const char* name, const char* synopsis, const char* summary,
                     const char* about, const char* examples) {
  CLI::App* cmd = parent->add_subcommand(name, summary);
  cmd->set_help_flag("--help,-h", "show this help");
  cmd->group("commands");
  cmd->footer(examples);
  Docs()[cmd] = Doc{synopsis, about};
  return cmd;
}

void AddRunOptions(CLI::App* cmd, cli::RunOptions* o, bool running) {
  if (running) {
    cmd->add_option("--frames", o->frames, "stop after N video frames (every source must be able to seek)")
        ->type_name("N")
        ->transform(PositiveCount());
    cmd->add_option("--seconds", o->seconds, "stop at S seconds of stream time (likewise)")
        ->type_name("S")
        ->transform(PositiveSeconds());
  }
  cmd->add_flag("--quiet,-q", o->quiet, running ? "no progress line and no summary" : "no line saying what was saved");
  if (running) cmd->add_flag("--verbose,-v", o->verbose, "also print the filters' status texts as they change");
  cmd->add_flag("--verbose-negotiation", o->verboseNegotiation,
                "print every connection's type, or every type and verdict on failure");
  if (running)
    cmd->add_option("--dot", o->dotFile, "write the graph as Graphviz DOT")->type_name("FILE")->check(NonEmpty("a file name"));
}

// Everything the commands read from the command line.
struct Arguments {
  std::vector<std::string> modules, topics, never, params, sets;
  std::string filter, file;
  cli::RunOptions run;
  bool apply = false;
};

int Run(int argc, char** argv) {
  CLI::App root("the Plenor command-line host", "plenor");
  root.formatter_fn([](const CLI::App* app, std::string, CLI::AppFormatMode) { return Help(app); });
  root.set_help_flag("--help,-h", "show this help (plenor help COMMAND: a command's options and examples)");
  root.require_subcommand(0, 1);
  root.add_option_function<std::string>(
          "--registry", [](const std::string& path) { CoSetRegistryPath(path); },
          "registry database to use (default: $PLENOR_REGISTRY, else\n$XDG_DATA_HOME/plenor/registry.db)")
      ->type_name("FILE")
      ->check(NonEmpty("a file name"));
  root.set_version_flag("--version,-V", VersionText(), "show the version");

  Arguments a;
  int rc = cli::kExitOk;
  CLI::App* help = AddCommand(&root, "help", "[COMMAND]", "this help, or a command's options and examples", "",
                              "examples:\n  plenor help run\n  plenor help graph save\n");
  help->add_option("COMMAND", a.topics, "the command to explain");
  help->callback([&] {
    const CLI::App* topic = &root;
    for (const std::string& t : a.topics) {
      const CLI::App* next = nullptr;
      for (const CLI::App* sub : VisibleCommands(topic))
        if (sub->get_name() == t) next = sub;
      if (!next) {
        rc = Usage(help, "no command '" + t + "'");
        return;
      }
      topic = next;
    }
    std::printf("%s", Help(topic).c_str());
  });
  CLI::App* version = root.add_subcommand("version", "show the version");
  version->group("");
  version->callback([] { std::printf("%s\n", VersionText().c_str()); });

  CLI::App* reg = AddCommand(
      &root, "register", "[MODULE.so ...]", "register modules (default: every *.so of the plugin folder)",
      "Loads each module, calls its DllRegisterServer and frees it. Without arguments every *.so of\n"
      "the plugin folder is registered. Each module's registration is one transaction: other\n"
      "commands see it whole or not at all.\n",
      "examples:\n"
      "  plenor register\n"
      "  plenor --registry my.db register build/release/plugins/ChannelPickFilter.so\n");
  reg->add_option("MODULE.so", a.modules, "module files");
  reg->callback([&] { rc = cli::RunRegister(a.modules); });

  CLI::App* unreg = AddCommand(&root, "unregister", "MODULE.so ...", "unregister modules",
                               "Loads each module and calls its DllUnregisterServer.\n",
                               "example:\n  plenor unregister build/release/plugins/ChannelPickFilter.so\n");
  unreg->add_option("MODULE.so", a.modules, "module files");
  unreg->callback([&] { rc = cli::RunUnregister(a.modules); });

  CLI::App* list = AddCommand(&root, "list", "", "list the registered filters: name, short name, class id, merit, module",
                              "One line per registered filter, tab-separated: display name, short name (what a pipeline\n"
                              "uses), class id, merit, module file and the module's architecture.\n",
                              "example:\n  plenor list\n");
  list->callback([&] { rc = cli::RunList(); });

  CLI::App* inspect = AddCommand(
      &root, "inspect", "FILTER", "show a filter: pins, interfaces, status, parameters, property pages",
      "Creates the filter and shows its pins and their types, interfaces, version and status texts,\n"
      "every parameter with its type and value, and its property pages.\n",
      "examples:\n"
      "  plenor inspect TestPatternSource\n"
      "  plenor inspect \"Ravik Plenor Stereo2Mono Filter\"\n");
  inspect->add_option("FILTER", a.filter, "the filter");
  inspect->callback([&] { rc = cli::RunInspect(a.filter); });

  CLI::App* run = AddCommand(
      &root, "run", "[OPTIONS] PIPELINE", "build and run a pipeline until it ends, Ctrl-C or a limit",
      "Builds the pipeline's graph, runs it until the end of the stream, Ctrl-C (or SIGTERM, SIGHUP)\n"
      "or a limit, stops it and prints a summary: how it finished, the position reached, samples per\n"
      "filter (per input for filters with several inputs, and what their outputs delivered). A\n"
      "filter's new last-error text is printed as it happens, one line naming the filter (one set\n"
      "while the graph was built, when the run starts). The options come before the pipeline.\n",
      "examples:\n"
      "  plenor run TestPatternSource frames=30 ! FileWriter location=out.rgb\n"
      "  plenor run --seconds 2 WavSource location=in.wav ! ChannelPickFilter channel=1 ! WavWriter location=mono.wav\n"
      "  plenor run TestPatternSource name=t  t. ! NullRenderer\n");
  AddRunOptions(run, &a.run, true);
  PassWordsThrough(run, &a.never);
  run->callback([&] {
    std::vector<std::string> words;
    rc = PassedThrough(run, &words);
    if (rc < 0) rc = cli::RunRun(a.run, words);
  });

  CLI::App* page = AddCommand(
      &root, "page", "FILTER [PARAM=VALUE ...] [--set ID=VALUE ...] [--apply]", "show and drive a filter's property page",
      "Opens the filter's property pages as text: every control with its id and value. PARAM=VALUE\n"
      "sets a parameter first; --set ID=VALUE types into a control; --apply applies the page.\n",
      "examples:\n"
      "  plenor page ChannelPickFilter\n"
      "  plenor page ChannelPickFilter --set 1001=1 --apply\n");
  page->add_option("FILTER", a.filter, "the filter");
  page->add_option("parameter", a.params, "parameters set before the page opens")->check(Pair("PARAM=VALUE", false));
  page->add_option("--set", a.sets, "change a control as a user would (an edit's text, a check's 1/0, a list\n"
                                    "item's text or number, an up-down's steps); may be repeated")
      ->type_name("ID=VALUE")
      ->allow_extra_args(false)
      ->check(Pair("CONTROL_ID=VALUE, e.g. --set 1001=2", true));
  page->add_flag("--apply", a.apply, "apply the page after the changes");
  page->callback([&] {
    cli::PageRequest request;
    request.filter = a.filter;
    for (const std::string& p : a.params) request.params.emplace_back(p.substr(0, p.find('=')), p.substr(p.find('=') + 1));
    for (const std::string& s : a.sets) {
      // Ids beyond int name no control: clamped, they are refused as such.
      long id = std::clamp<long>(std::strtol(s.substr(0, s.find('=')).c_str(), nullptr, 10), INT_MIN, INT_MAX);
      request.sets.emplace_back(static_cast<int>(id), s.substr(s.find('=') + 1));
    }
    request.apply = a.apply;
    rc = cli::RunPage(request);
  });

  CLI::App* graph = AddCommand(&root, "graph", "save FILE PIPELINE | run FILE | show FILE",
                               "save, run or show a graph file", "",
                               "examples:\n"
                               "  plenor graph save g.json TestPatternSource frames=10 ! FileWriter location=out.rgb\n"
                               "  plenor graph run --quiet g.json\n"
                               "  plenor graph show g.json\n");
  graph->require_subcommand(0, 1);
  graph->callback([&] {
    if (graph->get_subcommands().empty()) rc = Usage(graph, "give save, run or show");
  });
  CLI::App* save = AddCommand(
      graph, "save", "[OPTIONS] FILE PIPELINE", "save a pipeline's graph without running it",
      "Builds and connects the pipeline and writes its graph (filters, parameters, persisted state,\n"
      "connections) as JSON. The file is written next to the old one and renamed over it: a failure\n"
      "leaves the old file as it was.\n",
      "example:\n  plenor graph save g.json TestPatternSource frames=10 ! FileWriter location=out.rgb\n");
  AddRunOptions(save, &a.run, false);
  save->add_option("FILE", a.file, "the graph file to write");
  PassWordsThrough(save, &a.never);
  save->callback([&] {
    std::vector<std::string> words;
    rc = PassedThrough(save, &words);
    if (rc < 0) rc = cli::RunGraphSave(a.file, a.run, words);
  });
  CLI::App* graphRun = AddCommand(graph, "run", "[OPTIONS] FILE", "build and run a saved graph",
                                  "Builds the saved graph and runs it as plenor run does.\n",
                                  "example:\n  plenor graph run --quiet g.json\n");
  AddRunOptions(graphRun, &a.run, true);
  graphRun->add_option("FILE", a.file, "the graph file");
  graphRun->callback([&] { rc = cli::RunGraphRun(a.file, a.run); });
  CLI::App* show = AddCommand(graph, "show", "FILE", "print a saved graph",
                              "Prints the filters with their parameters and persisted records, and the connections.\n",
                              "example:\n  plenor graph show g.json\n");
  show->add_option("FILE", a.file, "the graph file");
  show->callback([&] { rc = cli::RunGraphShow(a.file); });

  if (argc < 2) {
    std::fprintf(stderr, "%s", Help(&root).c_str());
    return cli::kExitUsage;
  }
  try {
    root.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return ParseFailure(root, e);
  }
  if (root.get_subcommands().empty()) {
    std::fprintf(stderr, "%s", Help(&root).c_str());
    return cli::kExitUsage;
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    return cli::Fail(std::string("out of resources: ") + e.what());
  }
}

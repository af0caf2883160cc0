// The plenor command line, run as a separate process: register, list and unregister against a
// registry file of the test's own, every error's exit code and one-line message, and several
// processes registering at the same time.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com/registry.h"
#include "platform/com/runtime.h"
#include "platform/graph/mapper.h"
#include "tests/host/cli_process.h"
#include "tests/platform/strmbase/testmodule/testmodule.h"

namespace fs = std::filesystem;

namespace {

using plenor_cli_test::CliTest;
using plenor_cli_test::Lines;
using plenor_cli_test::Process;
using plenor_cli_test::Result;

std::string Canonical(const std::string& p) { return fs::canonical(p).string(); }

// "NAME\tSHORT NAME\tCLSID\tMERIT\tPATH\tARCHITECTURE" lines of plenor list.
std::vector<std::vector<std::string>> ListRows(const std::string& out) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : Lines(out)) {
    std::vector<std::string> cols;
    std::istringstream in(line);
    for (std::string col; std::getline(in, col, '\t');) cols.push_back(col);
    rows.push_back(cols);
  }
  return rows;
}

TEST_F(CliTest, RegisterListUnregister) {
  Result r = Run({"register", TestModulePath(1), TestModulePath(2)});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"registered " + Canonical(TestModulePath(1)),
                                                    "registered " + Canonical(TestModulePath(2))}));

  r = Run({"list"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto rows = ListRows(r.out);
  ASSERT_EQ(rows.size(), 2u) << r.out;
  // Highest merit first: module 2's filter.
  EXPECT_EQ(rows[0], (std::vector<std::string>{WideToUtf8(TestFilterName(2)), fs::path(TestModulePath(2)).stem().string(),
                                               GuidToString(TestFilterClsid(2)),
                                               "0x00600001", Canonical(TestModulePath(2)), CoHostArchitecture()}));
  EXPECT_EQ(rows[1], (std::vector<std::string>{WideToUtf8(TestFilterName(1)), fs::path(TestModulePath(1)).stem().string(),
                                               GuidToString(TestFilterClsid(1)),
                                               "0x00600000", Canonical(TestModulePath(1)), CoHostArchitecture()}));

  r = Run({"unregister", TestModulePath(2)});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out), std::vector<std::string>{"unregistered " + Canonical(TestModulePath(2))});
  r = Run({"list"});
  ASSERT_EQ(r.exitCode, 0);
  rows = ListRows(r.out);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], WideToUtf8(TestFilterName(1)));

  r = Run({"unregister", TestModulePath(1)});
  ASSERT_EQ(r.exitCode, 0);
  r = Run({"list"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("no filters registered"), std::string::npos) << r.err;
}

TEST_F(CliTest, RegisterWithoutArgumentsTakesThePluginFolder) {
  // Every module of the folder registers (other test folders put their test modules there too,
  // each with one filter).
  size_t modules = 0;
  for (const auto& e : fs::directory_iterator(PLENOR_TEST_PLUGIN_DIR))
    if (e.path().extension() == ".so") ++modules;
  ASSERT_GE(modules, static_cast<size_t>(kTestModuleCount));
  Result r = Run({"register"}, {{"PLENOR_PLUGIN_DIR", PLENOR_TEST_PLUGIN_DIR}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Lines(r.out).size(), modules);
  r = Run({"list"});
  EXPECT_EQ(ListRows(r.out).size(), modules);

  fs::create_directories(dir / "empty");
  r = Run({"register"}, {{"PLENOR_PLUGIN_DIR", (dir / "empty").string()}});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(OneErrorLine(r).find("nothing to register"), std::string::npos);

  const std::string missing = (dir / "missing").string();
  r = Run({"register"}, {{"PLENOR_PLUGIN_DIR", missing}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(OneErrorLine(r).find(missing), std::string::npos);
}

TEST_F(CliTest, ErrorsNameTheFileTheCauseAndTheCode) {
  const std::string missing = (dir / "Missing.so").string();
  Result r = Run({"register", missing});
  EXPECT_EQ(r.exitCode, 1);
  std::string line = OneErrorLine(r);
  EXPECT_NE(line.find(missing), std::string::npos) << line;
  EXPECT_NE(line.find("0x80070002 (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))"), std::string::npos) << line;

  const std::string text = (dir / "Text.so").string();
  std::ofstream(text) << "not a module\n";
  r = Run({"unregister", text});
  EXPECT_EQ(r.exitCode, 1);
  line = OneErrorLine(r);
  EXPECT_NE(line.find(text), std::string::npos) << line;
  EXPECT_NE(line.find("not a loadable module"), std::string::npos) << line;

  // A shared library that is not a filter module.
  r = Run({"register", PLENOR_RUNTIME_PATH});
  EXPECT_EQ(r.exitCode, 1);
  line = OneErrorLine(r);
  EXPECT_NE(line.find("does not export DllRegisterServer"), std::string::npos) << line;
  EXPECT_NE(line.find("0x8007007F"), std::string::npos) << line;

  // One bad module does not stop the others.
  r = Run({"register", missing, TestModulePath(1)});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(Lines(r.err).size(), 1u);
  EXPECT_EQ(Lines(r.out), std::vector<std::string>{"registered " + Canonical(TestModulePath(1))});
}

TEST_F(CliTest, FailedRegistrationReportsTheResult) {
  // A registry file that is not a database.
  std::ofstream(registry) << std::string(4096, 'x');
  Result r = Run({"register", TestModulePath(1)});
  EXPECT_EQ(r.exitCode, 1);
  const std::string line = OneErrorLine(r);
  EXPECT_NE(line.find(Canonical(TestModulePath(1))), std::string::npos) << line;
  EXPECT_NE(line.find("DllRegisterServer failed with 0x8"), std::string::npos) << line;
  EXPECT_NE(line.find(registry), std::string::npos) << line;

  r = Run({"list"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(OneErrorLine(r).find("0x8"), std::string::npos);
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"frobnicate"}, {"--registry"}, {"--bogus", "list"}, {"--registry", registry, "unregister"},
           {"--registry", registry, "list", "extra"}, {"--registry", registry, "register", "--force"}}) {
    Result r = RunBare(args);
    EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(args);
    EXPECT_FALSE(r.err.empty());
    EXPECT_EQ(r.out, "");
  }
  Result r = RunBare({"--help"});
  EXPECT_EQ(r.exitCode, 0);
  for (const char* word : {"register", "unregister", "list", "--registry"})
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
}

// Mistakes on the command line: exit status 2, nothing on standard output, one line that names the
// command, the word at fault and where its help is.
TEST_F(CliTest, CommandLineMistakesNameTheCommandTheWordAndTheHelp) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> mentions;
  };
  const std::vector<Case> cases = {
      {{"frobnicate"}, {"unknown command 'frobnicate'", "(see plenor --help)"}},
      {{"--bogus", "list"}, {"unknown option '--bogus'", "(see plenor --help)"}},
      {{"--registry", ""}, {"--registry", "file name"}},
      {{"list", "extra"}, {"list: unexpected argument 'extra'", "(see plenor help list)"}},
      // Options of the host go before the command.
      {{"list", "--registry", "x"}, {"list: unknown option '--registry'"}},
      {{"register", "--force", TestModulePath(1)}, {"register: unknown option '--force'"}},
      {{"inspect", "a", "b"}, {"inspect: unexpected argument 'b'"}},
      {{"run", "--frames", "zero", "X"}, {"run: --frames", "'zero'", "(see plenor help run)"}},
      {{"run", "--frames", "-3", "X"}, {"run: --frames", "'-3'"}},
      {{"run", "--frames"}, {"run: --frames"}},
      {{"run", "--seconds", "1e10", "X"}, {"run: --seconds", "'1e10'"}},
      {{"run", "--dot", "", "X"}, {"run: --dot", "file name"}},
      {{"run", "--bogus", "X"}, {"run: unknown option '--bogus'"}},
      {{"run", "-q"}, {"run: give a pipeline", "(see plenor help run)"}},
      {{"graph"}, {"graph: give save, run or show"}},
      {{"graph", "bogus"}, {"graph: unknown command 'bogus' (save, run, show)"}},
      // A saved graph holds no limit: graph save refuses the limits instead of ignoring them.
      {{"graph", "save", "--frames", "3", "g.json", "X"}, {"graph save: unknown option '--frames'"}},
      {{"graph", "run", "a.json", "b.json"}, {"graph run: unexpected argument 'b.json'"}},
      {{"page", "X", "nope"}, {"page: ", "'nope' is not PARAM=VALUE"}},
      {{"page", "X", "--set", "abc"}, {"page: --set", "'abc' is not CONTROL_ID=VALUE"}},
      {{"page", "X", "--set", "x1=2"}, {"page: --set", "'x1=2'"}},
      {{"help", "graph", "bogus"}, {"help: no command 'bogus'"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Result r = Run(c.args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    const std::string line = OneErrorLine(r);
    for (const std::string& m : c.mentions) EXPECT_NE(line.find(m), std::string::npos) << m << "\n" << line;
  }
  EXPECT_FALSE(fs::exists(registry)) << "a wrong command line must not touch the registry";
}

// Every command's help, however it is asked for, shows its own usage line, options and examples.
TEST_F(CliTest, HelpOfEveryCommandHoweverAskedFor) {
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> mentions;
    std::vector<std::string> absent;
  };
  const std::vector<Case> cases = {
      {{"-h"}, {"usage: plenor [--registry FILE] COMMAND", "graph save [OPTIONS] FILE PIPELINE", "--registry FILE"}, {}},
      {{"help", "graph", "save"},
       {"usage: plenor [--registry FILE] graph save [OPTIONS] FILE PIPELINE", "--verbose-negotiation", "example"},
       {"--frames", "--seconds"}},
      {{"graph", "save", "--help"}, {"usage: plenor [--registry FILE] graph save"}, {}},
      {{"graph", "run", "-h"}, {"usage: plenor [--registry FILE] graph run [OPTIONS] FILE", "--frames N"}, {}},
      {{"graph", "--help"}, {"save [OPTIONS] FILE PIPELINE", "show FILE"}, {}},
      // --help among the pipeline's words still asks for the help, as it did before the options moved.
      {{"run", "TestPatternSource", "!", "NullRenderer", "--help"}, {"usage: plenor [--registry FILE] run"}, {}},
      {{"page", "-h"}, {"--set ID=VALUE", "--apply", "--set 1001=1"}, {}},
      {{"register", "--help"}, {"[MODULE.so ...]", "plenor register"}, {}},
      {{"help", "help"}, {"usage: plenor [--registry FILE] help [COMMAND]"}, {}},
      {{"-V"}, {"plenor 1."}, {}},
      {{"version"}, {"plenor 1."}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Result r = Run(c.args);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    for (const std::string& m : c.mentions) EXPECT_NE(r.out.find(m), std::string::npos) << m << "\n" << r.out;
    for (const std::string& m : c.absent) EXPECT_EQ(r.out.find(m), std::string::npos) << m << "\n" << r.out;
  }
  // Without a command the overview goes to standard error, as a mistake.
  Result r = RunBare({});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("usage: plenor"), std::string::npos);
}

TEST_F(CliTest, ConcurrentRegistrationsAllComplete) {
  std::vector<std::unique_ptr<Process>> procs;
  for (int n = 1; n <= kTestModuleCount; ++n)
    procs.push_back(std::make_unique<Process>(dir, 100 + n, std::vector<std::string>{"--registry", registry, "register",
                                                                                      TestModulePath(n)},
                                              std::map<std::string, std::string>{}));
  for (auto& p : procs) {
    Result r = p->Wait();
    EXPECT_EQ(r.exitCode, 0) << r.err;
  }

  // Every module's keys and mapper entry are all there.
  struct UseRegistry {
    explicit UseRegistry(const std::string& path) : previous(CoGetRegistryPath()) { CoSetRegistryPath(path); }
    ~UseRegistry() { CoSetRegistryPath(previous); }
    std::string previous;
  } use(registry);
  for (int n = 1; n <= kTestModuleCount; ++n) {
    SCOPED_TRACE(n);
    RegisteredFilter f;
    ASSERT_EQ(MapperGetFilter(TestFilterClsid(n), &f), S_OK);
    EXPECT_EQ(f.name, TestFilterName(n));
    EXPECT_EQ(f.merit, TestFilterMerit(n));
    EXPECT_EQ(f.pins.size(), n == 1 ? 1u : n == 4 ? 0u : 2u);
    for (const CLSID& clsid : {TestFilterClsid(n), TestPageClsid(n)}) {
      HKEY key = nullptr;
      ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, ("CLSID\\" + GuidToString(clsid) + "\\InprocServer32").c_str(), 0,
                             KEY_READ, &key),
                ERROR_SUCCESS);
      DWORD type = 0, cb = 0;
      EXPECT_EQ(RegQueryValueEx(key, "ThreadingModel", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
      RegCloseKey(key);
    }
  }
}

// A module built for the other architecture: each command that loads it prints the class loader's
// refusal as its one line (after the command and pipeline element it concerns), with no loader
// hint around it. The registered case is a copy of a test module whose file is replaced by the
// head of an ELF file of the other machine after registration.
TEST_F(CliTest, ModuleOfTheOtherArchitectureIsRefusedInTheLoadersOneLine) {
  const bool host64 = CoHostArchitecture() == "x86-64";
  const std::string other = host64 ? "i386" : "x86-64";
  std::vector<unsigned char> head(20, 0);
  head[0] = 0x7f; head[1] = 'E'; head[2] = 'L'; head[3] = 'F';
  head[4] = host64 ? 1 : 2;  // ELFCLASS32 / ELFCLASS64
  head[5] = 1;               // little-endian
  head[6] = 1;
  head[16] = 3;              // ET_DYN
  head[18] = host64 ? 3 : 62;  // EM_386 / EM_X86_64
  const fs::path module = dir / "Other.so";
  fs::copy_file(TestModulePath(1), module);
  ASSERT_EQ(Run({"register", module.string()}).exitCode, 0);
  std::ofstream(module, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
  const std::string refusal = Canonical(module.string()) + ": is an " + other + " module and this host is " +
                              CoHostArchitecture() + "; use the " + other + " build of the host for it";
  const struct {
    std::vector<std::string> args;
    std::string context;  // what the line names before the refusal
  } cases[] = {
      {{"register", module.string()}, "register: "},
      {{"run", module.string()}, "run: element 1 '" + module.string() + "': "},
      {{"run", "Other"}, "run: element 1 'Other': "},
      {{"inspect", "Other"}, "inspect: "},
      {{"graph", "save", (dir / "g.grf").string(), "Other"}, "graph save: element 1 'Other': "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Result r = Run(c.args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(OneErrorLine(r), "plenor: " + c.context + refusal);
  }
}

}  // namespace

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/host/cli_process.h"

extern char** environ;

namespace fs = std::filesystem;

namespace plenor_cli_test {

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

Process::Process(const fs::path& dir, int id, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env)
    : m_out(dir / ("out" + std::to_string(id))), m_err(dir / ("err" + std::to_string(id))) {
  std::vector<std::string> argStore{PLENOR_CLI_PATH};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    if (!env.count(entry.substr(0, entry.find('=')))) envStore.push_back(entry);
  }
  for (const auto& [k, v] : env) envStore.push_back(k + "=" + v);
  std::vector<char*> argv, envp;
  for (std::string& s : argStore) argv.push_back(s.data());
  for (std::string& s : envStore) envp.push_back(s.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (posix_spawn(&m_pid, PLENOR_CLI_PATH, &actions, nullptr, argv.data(), envp.data()) != 0) m_pid = -1;
  posix_spawn_file_actions_destroy(&actions);
}

Result Process::Wait() {
  Result r;
  int status = 0;
  if (m_pid > 0 && waitpid(m_pid, &status, 0) == m_pid && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  r.out = ReadFile(m_out);
  r.err = ReadFile(m_err);
  return r;
}

void CliTest::SetUp() {
  dir = fs::temp_directory_path() /
        ("plenor-cli-" + std::to_string(::getpid()) + "-" + testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::remove_all(dir);
  fs::create_directories(dir);
  registry = (dir / "registry.db").string();
}

void CliTest::TearDown() {
  std::error_code ec;
  fs::remove_all(dir, ec);
}

Result CliTest::Run(std::vector<std::string> args, const std::map<std::string, std::string>& env) {
  args.insert(args.begin(), {"--registry", registry});
  return Process(dir, next++, args, env).Wait();
}

void Process::Signal(int signal) {
  if (m_pid > 0) ::kill(m_pid, signal);
}

Result CliTest::RunBare(const std::vector<std::string>& args) { return Process(dir, next++, args, {}).Wait(); }

std::string CliTest::OneErrorLine(const Result& r) {
  std::vector<std::string> lines = Lines(r.err);
  EXPECT_EQ(lines.size(), 1u) << r.err;
  return lines.empty() ? std::string() : lines[0];
}

}  // namespace plenor_cli_test

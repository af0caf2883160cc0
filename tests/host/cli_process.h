// Running the plenor binary as a user would, for the command-line tests: a process with its
// output in files, and a fixture with a folder and a registry file of the test's own.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace plenor_cli_test {

struct Result {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::filesystem::path& p);
std::vector<std::string> Lines(const std::string& text);

// A plenor process started at construction; env entries replace the inherited ones.
class Process {
 public:
  Process(const std::filesystem::path& dir, int id, const std::vector<std::string>& args,
          const std::map<std::string, std::string>& env);
  Result Wait();
  // Sends a signal to the process (before Wait).
  void Signal(int signal);

 private:
  std::filesystem::path m_out, m_err;
  pid_t m_pid = -1;
};

class CliTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // plenor --registry <the test's registry> args...
  Result Run(std::vector<std::string> args, const std::map<std::string, std::string>& env = {});
  Result RunBare(const std::vector<std::string>& args);

  // The one error line of a failed run, after checking that there is exactly one.
  static std::string OneErrorLine(const Result& r);

  std::filesystem::path dir;
  std::string registry;
  int next = 0;
};

}  // namespace plenor_cli_test

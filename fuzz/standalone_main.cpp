// Runs a fuzz target without libFuzzer: every file named on the command line, and every regular
// file inside each directory named there, is passed once to LLVMFuzzerTestOneInput. Used to
// replay corpora and crash inputs when the compiler has no fuzzing support.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A copy of exactly the input's size, so that a read past its end is caught by sanitizers.
  std::vector<uint8_t> exact(bytes);
  LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE-OR-DIRECTORY...\n", argv[0]);
    return 2;
  }
  size_t runs = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      for (const auto& entry : std::filesystem::recursive_directory_iterator(arg, ec)) {
        if (!entry.is_regular_file()) continue;
        ok = RunFile(entry.path()) && ok;
        ++runs;
      }
    } else {
      ok = RunFile(arg) && ok;
      ++runs;
    }
  }
  std::printf("%zu inputs run\n", runs);
  return ok && runs > 0 ? 0 : 1;
}

// Lowers the largest file this process may write while it lives, so that writes fail as on a full
// disk (SIGXFSZ ignored meanwhile: the write fails with EFBIG instead of ending the process).
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace plenor::test {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    m_handler = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &m_old);
    rlimit lower = m_old;
    lower.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lower);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_old);
    std::signal(SIGXFSZ, m_handler);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit m_old{};
  void (*m_handler)(int);
};

}  // namespace plenor::test

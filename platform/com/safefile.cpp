#include "platform/com/safefile.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plenor {

namespace {

// Follows symbolic links (also dangling ones) to the name the bytes belong to. Relative link
// texts are taken from the link's own folder. Gives up after 40 links, like the system does.
bool ResolveLinks(const std::string& path, std::string* resolved, int* error) {
  std::string p = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st{};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *resolved = p;
      return true;
    }
    std::vector<char> buf(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    ssize_t n = ::readlink(p.c_str(), buf.data(), buf.size());
    if (n < 0) {
      *error = errno;
      return false;
    }
    std::string link(buf.data(), static_cast<size_t>(n));
    if (!link.empty() && link[0] != '/') {
      const size_t slash = p.rfind('/');
      if (slash != std::string::npos) link = p.substr(0, slash + 1) + link;
    }
    p = link;
  }
  *error = ELOOP;
  return false;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

int OpenRetrying(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

HRESULT HresultFromErrno(int error) {
  switch (error) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return STG_E_MEDIUMFULL;
    case EACCES:
    case EPERM:
    case EROFS:
      return E_ACCESSDENIED;
    case ENOENT:
      return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EISDIR:
      return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
    case ENOMEM:
      return E_OUTOFMEMORY;
    default:
      return STG_E_WRITEFAULT;
  }
}

SafeFileWriter::~SafeFileWriter() { Abandon(); }

HRESULT SafeFileWriter::Failure(const char* what, int error, std::string* message) {
  if (message) {
    *message = std::string("cannot ") + what + " '" + m_target + "': " + std::strerror(error);
    if (error == ENOSPC || error == EDQUOT || error == EFBIG) *message += " (the disk or the file size limit is full)";
    if (error == ENOENT && std::strcmp(what, "create") == 0)
      *message += " (the folder '" + FolderOf(m_resolved) + "' does not exist)";
  }
  return HresultFromErrno(error);
}

HRESULT SafeFileWriter::Open(const std::string& path, std::string* error) { return Open(path, Options{}, error); }

HRESULT SafeFileWriter::Open(const std::string& path, const Options& options, std::string* error) {
  Abandon();
  m_target = path;
  m_resolved.clear();
  m_temp.clear();
  m_written = 0;
  m_bDirect = false;
  m_bSeekable = true;
  m_bCopyBack = false;
  m_bDurable = options.durable;
  if (path.empty()) {
    if (error) *error = "no output file name is set; give the file to write (location=FILE, or the \"filename\" parameter)";
    return E_INVALIDARG;
  }
  int e = 0;
  if (!ResolveLinks(path, &m_resolved, &e)) return Failure("follow the links of", e, error);

  struct stat st{};
  const bool exists = ::stat(m_resolved.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    if (error) *error = "'" + path + "' is a folder, not a file; give the name of a file in it";
    return HRESULT_FROM_WIN32(ERROR_DIRECTORY);
  }
  if (exists && !S_ISREG(st.st_mode)) {
    // A device, FIFO or socket: written directly, never replaced.
    m_fd = OpenRetrying(m_resolved.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY, 0);
    if (m_fd < 0) return Failure("open", errno, error);
    m_bDirect = true;
    m_bSeekable = ::lseek(m_fd, 0, SEEK_CUR) >= 0;
    return S_OK;
  }
  m_temp = m_resolved + ".part";
  m_fd = OpenRetrying(m_temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                      exists ? 0600 : 0666);
  if (m_fd < 0) {
    const int err = errno;
    m_temp.clear();
    return Failure("create", err, error);
  }
  if (exists) {
    // The finished file takes the old one's owner (where this process may set it) and mode.
    if (::fchown(m_fd, st.st_uid, st.st_gid) != 0) {
      // Not the owner's process: the file keeps this process's owner.
    }
    ::fchmod(m_fd, st.st_mode & 07777);
    m_bCopyBack = st.st_nlink > 1;
  }
  return S_OK;
}

HRESULT SafeFileWriter::Write(const void* data, size_t n, std::string* error) { return WriteAll(data, n, -1, error); }

HRESULT SafeFileWriter::WriteAt(uint64_t offset, const void* data, size_t n, std::string* error) {
  if (!m_bSeekable) return Failure("seek in", ESPIPE, error);
  return WriteAll(data, n, static_cast<int64_t>(offset), error);
}

HRESULT SafeFileWriter::WriteAll(const void* data, size_t n, int64_t offset, std::string* error) {
  if (m_fd < 0) {
    if (error) *error = "'" + m_target + "' is not open for writing";
    return E_UNEXPECTED;
  }
  const auto* p = static_cast<const char*>(data);
  while (n > 0) {
    const size_t piece = n < kMaxWriteChunk ? n : kMaxWriteChunk;
    ssize_t done = offset < 0 ? ::write(m_fd, p, piece) : ::pwrite(m_fd, p, piece, static_cast<off_t>(offset));
    if (done < 0) {
      if (errno == EINTR) continue;
      return Failure("write", errno, error);
    }
    if (done == 0) return Failure("write", ENOSPC, error);
    p += done;
    n -= static_cast<size_t>(done);
    if (offset < 0)
      m_written += static_cast<uint64_t>(done);
    else
      offset += done;
  }
  return S_OK;
}

HRESULT SafeFileWriter::CopyBack(std::string* error) {
  // The finished bytes are complete in the temporary file; only now is the linked file rewritten.
  int from = OpenRetrying(m_temp.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (from < 0) return Failure("read back the finished file for", errno, error);
  int to = OpenRetrying(m_resolved.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC, 0);
  if (to < 0) {
    const int e = errno;
    ::close(from);
    return Failure("open", e, error);
  }
  std::vector<char> buf(kMaxWriteChunk);
  HRESULT hr = S_OK;
  for (;;) {
    ssize_t got = ::read(from, buf.data(), buf.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      hr = Failure("read back the finished file for", errno, error);
      break;
    }
    if (got == 0) break;
    for (ssize_t off = 0; off < got;) {
      ssize_t put = ::write(to, buf.data() + off, static_cast<size_t>(got - off));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        hr = Failure("write", put < 0 ? errno : ENOSPC, error);
        break;
      }
      off += put;
    }
    if (FAILED(hr)) break;
  }
  if (SUCCEEDED(hr) && m_bDurable && ::fsync(to) != 0) hr = Failure("write", errno, error);
  if (::close(to) != 0 && SUCCEEDED(hr)) hr = Failure("write", errno, error);
  ::close(from);
  ::unlink(m_temp.c_str());
  m_temp.clear();
  return hr;
}

HRESULT SafeFileWriter::Commit(std::string* error) {
  if (m_fd < 0) {
    if (error) *error = "'" + m_target + "' is not open for writing";
    return E_UNEXPECTED;
  }
  const int fd = m_fd;
  m_fd = -1;
  if (m_bDirect) {
    if (::close(fd) != 0) return Failure("write", errno, error);
    return S_OK;
  }
  // Late write errors (network file systems, a full disk found at flush time) surface here.
  if (m_bDurable && ::fsync(fd) != 0) {
    const int e = errno;
    ::close(fd);
    ::unlink(m_temp.c_str());
    m_temp.clear();
    return Failure("write", e, error);
  }
  if (::close(fd) != 0) {
    const int e = errno;
    ::unlink(m_temp.c_str());
    m_temp.clear();
    return Failure("write", e, error);
  }
  if (m_bCopyBack) return CopyBack(error);
  if (::rename(m_temp.c_str(), m_resolved.c_str()) != 0) {
    const int e = errno;
    ::unlink(m_temp.c_str());
    m_temp.clear();
    return Failure("rename the finished file to", e, error);
  }
  m_temp.clear();
  return S_OK;
}

void SafeFileWriter::Abandon() {
  if (m_fd < 0) return;
  ::close(m_fd);
  m_fd = -1;
  if (!m_bDirect && !m_temp.empty()) ::unlink(m_temp.c_str());
  m_temp.clear();
}

HRESULT WriteFileSafely(const std::string& path, std::string_view bytes, std::string* error) {
  SafeFileWriter file;
  HRESULT hr = file.Open(path, SafeFileWriter::Options{.durable = true}, error);
  if (SUCCEEDED(hr)) hr = file.Write(bytes.data(), bytes.size(), error);
  if (SUCCEEDED(hr)) hr = file.Commit(error);
  return hr;
}

}  // namespace plenor

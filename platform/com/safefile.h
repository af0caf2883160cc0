// Writing a file without ever destroying what is at its path.
//
// SafeFileWriter decides how to write by what the path names when it is opened:
//  - nothing yet, or a regular file (also through symbolic links, which are followed to their
//    target): the bytes go to "<target>.part" in the target's own folder, and Commit flushes and
//    renames it over the target in one step. Until then the old file stays exactly as it was,
//    and any failure deletes the temporary file and leaves the old one. An existing file keeps
//    its permission bits (and, where the process may, its owner); a symbolic link stays a link
//    and the file it points to is replaced. A file with more than one hard link is completed the
//    same way and then copied back into place, so that every name keeps sharing one file;
//  - a device, FIFO, socket or other special file: opened and written directly, never replaced
//    or deleted (writing to /dev/null or into a pipe works as users expect);
//  - a folder: refused.
// Writes larger than kMaxWriteChunk go to the system in pieces of at most that size (very large
// single writes are slower on common file systems and hold the page cache longer).
//
// Error messages name the path as given and say what failed (creating, writing, a full disk,
// renaming), never just that something could not be done.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/com/hresult.h"
#include "platform/com/wintypes.h"

// Win32 code of a folder given where a file is needed ("the directory name is invalid").
constexpr DWORD ERROR_DIRECTORY = 267;

namespace plenor {

// The HRESULT that best describes a failed file operation's errno value (ENOSPC is
// STG_E_MEDIUMFULL, EACCES E_ACCESSDENIED, ENOENT the Win32 file-not-found code, ...).
PLENOR_EXPORT HRESULT HresultFromErrno(int error);

class PLENOR_EXPORT SafeFileWriter {
 public:
  static constexpr size_t kMaxWriteChunk = size_t{1} << 20;

  struct Options {
    // Commit forces the data to the disk (fsync) before the rename. Costly for large files;
    // meant for small files whose loss would hurt (saved graphs).
    bool durable = false;
  };

  SafeFileWriter() = default;
  SafeFileWriter(const SafeFileWriter&) = delete;
  SafeFileWriter& operator=(const SafeFileWriter&) = delete;
  // Abandons an output that was not committed.
  ~SafeFileWriter();

  // Opens path for writing as described above. An empty path, a folder, or a path whose folder
  // does not exist fail here with *error saying which.
  HRESULT Open(const std::string& path, std::string* error);
  HRESULT Open(const std::string& path, const Options& options, std::string* error);
  // Appends all n bytes (short writes are continued; pieces of at most kMaxWriteChunk).
  HRESULT Write(const void* data, size_t n, std::string* error);
  // Overwrites n bytes at offset; the append position is unchanged. Fails on targets that cannot
  // seek (pipes).
  HRESULT WriteAt(uint64_t offset, const void* data, size_t n, std::string* error);
  // Finishes the output: flush (and fsync when durable), close, rename into place. On failure
  // the temporary file is deleted and the old file is left as it was.
  HRESULT Commit(std::string* error);
  // Closes; deletes the temporary file (a special file written directly is only closed).
  void Abandon();

  bool IsOpen() const { return m_fd >= 0; }
  // True when the bytes go straight into a special file (no temporary file, no rename).
  bool IsDirect() const { return m_bDirect; }
  // False for pipes and sockets, where WriteAt cannot work.
  bool CanSeek() const { return m_bSeekable; }
  uint64_t BytesWritten() const { return m_written; }
  // The path as given to Open.
  const std::string& Target() const { return m_target; }

 private:
  HRESULT Failure(const char* what, int error, std::string* message);
  HRESULT WriteAll(const void* data, size_t n, int64_t offset, std::string* error);
  HRESULT CopyBack(std::string* error);

  int m_fd = -1;
  uint64_t m_written = 0;
  bool m_bDirect = false;
  bool m_bSeekable = true;
  bool m_bCopyBack = false;  // hard-linked target: copy the finished bytes into it
  bool m_bDurable = false;
  std::string m_target;      // as given
  std::string m_resolved;    // the file the bytes end up in (symbolic links followed)
  std::string m_temp;
};

// Replaces the file at path with bytes by SafeFileWriter with durable set: the old file stays
// as it was on any failure. *error says what failed.
PLENOR_EXPORT HRESULT WriteFileSafely(const std::string& path, std::string_view bytes, std::string* error);

}  // namespace plenor

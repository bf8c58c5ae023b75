#include "io/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "io/atomic_file.h"
#include "base/error.h"

namespace tovimar {

namespace {

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<uint64_t>(st.st_dev);
  id.inode = static_cast<uint64_t>(st.st_ino);
  id.size = static_cast<uint64_t>(st.st_size);
  id.modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  id.changedNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return id;
}

}  // namespace

void WriteWholeFile(const std::string& path, const void* data, std::size_t size) {
  AtomicFile file;
  file.Create(path);
  file.Write(data, size);
  file.Commit();
}

FileKind InspectFile(const std::string& path, FileIdentity* identity) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return FileKind::Missing;
  if (!S_ISREG(st.st_mode)) return FileKind::Other;
  if (identity != nullptr) *identity = IdentityOf(st);
  return FileKind::Regular;
}

ReadOnlyFile::~ReadOnlyFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::string ReadOnlyFile::Open(const std::string& path) {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  switch (InspectFile(path)) {
    case FileKind::Missing: {
      // Only a name with nothing behind it is missing; a link loop or a
      // folder that cannot be searched is named as what it is.
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0 && errno != ENOENT && errno != ENOTDIR)
        return std::string("cannot be opened: ") + std::strerror(errno);
      return kFileMissing;
    }
    case FileKind::Other:
      return "not a regular file";
    case FileKind::Regular:
      break;
  }
  // O_NONBLOCK: should the path have become a FIFO since, opening it does
  // not wait for a writer; fstat below refuses it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::string("cannot be opened: ") + std::strerror(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return "not a regular file";
  }
  fd_ = fd;
  identity_ = IdentityOf(st);
  return {};
}

bool ReadOnlyFile::ReadAt(uint64_t offset, void* out, std::size_t n) const {
  if (fd_ < 0) return false;
  auto* p = static_cast<char*>(out);
  while (n > 0) {
    const ssize_t got = ::pread(fd_, p, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<std::size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

Error NotReadable(const std::string& path, const std::string& what, const std::string& why) {
  return Error("'" + path + "' is not a readable " + what + " (" + why + ")");
}

void OpenForReading(ReadOnlyFile& file, const std::string& path, const std::string& what) {
  const std::string opened = file.Open(path);
  if (opened == kFileMissing) throw Error("'" + path + "' does not exist");
  if (!opened.empty()) throw NotReadable(path, what, opened);
}

}  // namespace tovimar

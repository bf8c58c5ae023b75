#include "io/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "base/error.h"
#include "io/text.h"

namespace tovimar {

namespace {

constexpr std::string_view kTempMark = ".tmp";
constexpr std::size_t kSuffixLength = 6;
constexpr std::string_view kSuffixChars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// Six characters that differ between calls and processes.
std::string RandomSuffix() {
  static std::atomic<uint64_t> counter{0};
  uint64_t v = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  v ^= static_cast<uint64_t>(::getpid()) << 32;
  v += 0x9E3779B97F4A7C15ULL * (counter.fetch_add(1) + 1);
  v ^= v >> 31;
  v *= 0xBF58476D1CE4E5B9ULL;
  v ^= v >> 29;
  std::string s;
  for (std::size_t i = 0; i < kSuffixLength; ++i) {
    s += kSuffixChars[v % kSuffixChars.size()];
    v /= kSuffixChars.size();
  }
  return s;
}

}  // namespace

std::string FileErrorReason(int errorNumber) {
  switch (errorNumber) {
    case ENOSPC: return "no space left on the device";
    case EDQUOT: return "disk quota exceeded";
    case EACCES:
    case EPERM: return "permission denied";
    case EISDIR: return "is a folder";
    case ENOTDIR: return "a part of the path is not a folder";
    case ENOENT: return "the folder does not exist";
    case EROFS: return "read-only file system";
    case EFBIG: return "file too large";
    case ENAMETOOLONG: return "name too long";
    case EIO: return "input/output error";
    case 0: return "write error";
    default: return std::strerror(errorNumber);
  }
}

void ThrowCannotCreate(const std::string& path, int errorNumber) {
  ThrowCannotCreate(path, FileErrorReason(errorNumber));
}

void ThrowCannotCreate(const std::string& path, const std::string& reason) {
  throw Error("Cannot create file " + EscapeForMessage(path) + ": " + reason);
}

bool IsTemporaryOutputName(const std::string& name, std::string* finalName) {
  const std::size_t tail = kTempMark.size() + kSuffixLength;
  if (name.size() < 2 + tail || name[0] != '.') return false;
  if (name.compare(name.size() - tail, kTempMark.size(), kTempMark) != 0) return false;
  for (std::size_t i = name.size() - kSuffixLength; i < name.size(); ++i)
    if (kSuffixChars.find(name[i]) == std::string_view::npos) return false;
  if (finalName != nullptr) *finalName = name.substr(1, name.size() - 1 - tail);
  return true;
}

AtomicFile::~AtomicFile() { Discard(); }

namespace {

bool FolderExists(const std::string& folder) {
  struct stat st {};
  return ::stat(folder.empty() ? "." : folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void AtomicFile::Create(const std::string& path) {
  Discard();
  path_ = path;
  lastError_ = 0;
  // A folder at the final name would only refuse the rename, after all the
  // writing: say so at once. A FIFO or device there is left alone (renaming
  // over /dev/full would replace the device); a link is replaced.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) ThrowCannotCreate(path, EISDIR);
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) ThrowCannotCreate(path, std::string("is not a regular file"));
  }
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  if (base.empty()) ThrowCannotCreate(path, EISDIR);
  if (base.size() > 200) base.resize(200);  // the temporary name stays within NAME_MAX
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = folder + "." + base + std::string(kTempMark) + RandomSuffix();
    // 0666 and the umask, as any newly created output file gets.
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) {
      fd_ = fd;
      temporary_ = candidate;
      appendAt_ = 0;
      return;
    }
    if (errno == ENOENT && FolderExists(folder)) {
      // The folder is there but takes no new names (/proc, /sys).
      ThrowCannotCreate(path, std::string("the folder does not accept new files"));
    }
    if (errno != EEXIST) ThrowCannotCreate(path, errno);
  }
  ThrowCannotCreate(path, EEXIST);
}

bool AtomicFile::WriteAt(uint64_t offset, const void* data, std::size_t n) {
  if (fd_ < 0) {
    lastError_ = EBADF;
    return false;
  }
  const auto* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t done = ::pwrite(fd_, p, n, static_cast<off_t>(offset));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      lastError_ = done < 0 ? errno : ENOSPC;
      return false;
    }
    p += done;
    n -= static_cast<std::size_t>(done);
    offset += static_cast<uint64_t>(done);
  }
  return true;
}

void AtomicFile::Write(const void* data, std::size_t n) {
  if (!WriteAt(appendAt_, data, n)) {
    const int err = lastError_;
    Discard();
    ThrowCannotCreate(path_, err);
  }
  appendAt_ += n;
}

bool AtomicFile::Truncate(uint64_t size) {
  if (fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) == 0) return true;
  lastError_ = fd_ >= 0 ? errno : EBADF;
  return false;
}

void AtomicFile::Commit() {
  if (fd_ < 0) ThrowCannotCreate(path_, lastError_ != 0 ? lastError_ : EBADF);
  const int fd = fd_;
  fd_ = -1;
  // close reports delayed write errors of some file systems (NFS, quotas).
  int err = ::close(fd) == 0 ? 0 : errno;
  if (err == 0 && ::rename(temporary_.c_str(), path_.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
    lastError_ = err;
    ThrowCannotCreate(path_, err);
  }
  temporary_.clear();
}

void AtomicFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
}

}  // namespace tovimar

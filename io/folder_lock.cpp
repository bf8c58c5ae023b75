#include "io/folder_lock.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "io/text.h"

namespace tovimar {

namespace {

std::mutex g_mutex;
// The locks this process holds, by the real path of the lock file.
std::map<std::string, std::weak_ptr<FolderLock>>& Held() {
  static std::map<std::string, std::weak_ptr<FolderLock>> held;
  return held;
}

std::string HolderText() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  return "pid " + std::to_string(::getpid()) + "\nhost " + host + "\nprogram " + program_invocation_short_name +
         "\n";
}

// "PROGRAM (pid N on HOST)" from a lock file's text.
std::string DescribeHolder(const std::string& text) {
  std::string pid, host, program;
  for (const std::string& line : SplitLines(text)) {
    const std::size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    const std::string key = line.substr(0, space), value = EchoField(line.substr(space + 1));
    if (key == "pid") pid = value;
    if (key == "host") host = value;
    if (key == "program") program = value;
  }
  if (pid.empty()) return "another run";
  return (program.empty() ? std::string("another run") : program) + " (pid " + pid +
         (host.empty() ? "" : " on " + host) + ")";
}

}  // namespace

std::shared_ptr<FolderLock> FolderLock::Acquire(const std::string& folder, std::string* refusal) {
  std::string shown = folder.empty() ? std::string(".") : folder;
  if (shown.size() > 1 && shown.back() == '/') shown.pop_back();
  return Acquire(folder, kFolderLockName, "the sequence folder '" + EscapeForMessage(shown) + "'", refusal);
}

std::shared_ptr<FolderLock> FolderLock::Acquire(const std::string& folder, const std::string& lockName,
                                                const std::string& what, std::string* refusal) {
  refusal->clear();
  std::string shown = folder.empty() ? std::string(".") : folder;
  if (shown.size() > 1 && shown.back() == '/') shown.pop_back();
  // Any failure to lock refuses the run: writing unlocked would let two runs
  // interleave their frames.
  auto cannotLock = [&](const std::string& why) -> std::shared_ptr<FolderLock> {
    *refusal = "cannot lock " + what + ": " + why;
    return nullptr;
  };
  char real[PATH_MAX];
  if (::realpath(shown.c_str(), real) == nullptr) return cannotLock(std::strerror(errno));
  const std::string path = std::string(real) + "/" + lockName;
  const std::string& key = path;
  const std::lock_guard<std::mutex> guard(g_mutex);
  if (auto held = Held()[key].lock()) return held;
  for (int attempt = 0; attempt < 10; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd < 0) {
      // A link at the lock's name (never followed), a folder, a read-only folder, ...
      const int err = errno;
      if (err == ELOOP) return cannotLock(std::string(lockName) + " is a symbolic link");
      return cannotLock(std::string(lockName) + ": " + std::strerror(err));
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
      ::close(fd);
      return cannotLock(std::string(lockName) + " is not a regular file");
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      std::string text(512, '\0');
      const ssize_t got = err == EWOULDBLOCK ? ::pread(fd, text.data(), text.size(), 0) : -1;
      ::close(fd);
      // Another error than a held lock: a file system without locks, ...
      if (err != EWOULDBLOCK) return cannotLock(std::string("flock: ") + std::strerror(err));
      text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
      *refusal = what + " is in use by " + DescribeHolder(text);
      return nullptr;
    }
    // The holder before us may have removed the file between our open and
    // our flock: then the lock is on a file no one else will find.
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0 || opened.st_dev != named.st_dev ||
        opened.st_ino != named.st_ino) {
      ::close(fd);
      continue;
    }
    const std::string text = HolderText();
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, text.data(), text.size(), 0) < 0) {
      // The lock holds without the text; a refused run then names "another run".
    }
    std::shared_ptr<FolderLock> lock(new FolderLock(fd, path, key));
    Held()[key] = lock;
    return lock;
  }
  return cannotLock(std::string(lockName) + " was replaced again and again while being locked");
}

FolderLock::~FolderLock() {
  const std::lock_guard<std::mutex> guard(g_mutex);
  // Removed while still locked, so a run that opens it meanwhile sees the
  // file gone and makes a new one.
  ::unlink(path_.c_str());
  ::close(fd_);
  auto& held = Held();
  auto it = held.find(key_);
  if (it != held.end() && it->second.expired()) held.erase(it);
}

}  // namespace tovimar

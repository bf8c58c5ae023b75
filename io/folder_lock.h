#pragma once
// The exclusive lock of a sequence folder for the length of a run: two runs
// writing the same folder would interleave their frames silently. The lock
// is flock(LOCK_EX | LOCK_NB) on FOLDER/.tovimar.lock, which holds the
// holder's pid, host and program for the message of a refused run; the file
// is removed when the lock is released (one left by a killed process holds
// no lock and is simply taken over). Within one process the lock is shared:
// taking it again while held gives the same lock (a left run and a right run
// of one command, the viewer's runs of one desktop session).
#include <memory>
#include <string>

namespace tovimar {

inline constexpr const char* kFolderLockName = ".tovimar.lock";

class FolderLock {
 public:
  // Takes the lock of folder (an existing folder; a trailing '/' is fine).
  // Returns null with *refusal set when the lock is not taken: "the sequence
  // folder 'F' is in use by PROGRAM (pid N on HOST)" when another process
  // holds it, "cannot lock the sequence folder 'F': REASON" for any other
  // failure (a missing or read-only folder, a folder or link at the lock's
  // name, a file system without flock).
  static std::shared_ptr<FolderLock> Acquire(const std::string& folder, std::string* refusal);
  // The same for a part of a folder that runs of several sequence folders
  // could write (a scene folder of the scene-flow tree in the output root):
  // the lock file is folder/lockName, and `what` names the part in the
  // messages ("the scene-flow folder 0005 in 'out'").
  static std::shared_ptr<FolderLock> Acquire(const std::string& folder, const std::string& lockName,
                                             const std::string& what, std::string* refusal);

  ~FolderLock();  // removes the lock file and releases the lock
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  FolderLock(int fd, std::string path, std::string key) : fd_(fd), path_(std::move(path)), key_(std::move(key)) {}
  int fd_;
  std::string path_;
  std::string key_;
};

}  // namespace tovimar

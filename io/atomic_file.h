#pragma once
// Output files that appear complete or not at all: the bytes go to a hidden
// temporary file in the destination's folder (".NAME.tmpXXXXXX"), which is
// renamed over the final name once everything is written. A process killed
// mid-write, a full disk or a failed write leaves the earlier file under the
// final name untouched; a symbolic link at the final name is replaced, never
// followed; a FIFO or device there is refused, never opened. No fsync: the point is that a final name never holds a partial
// file after the process ends; surviving a power cut would cost a disk
// flush per file for data that can be made again.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tovimar {

// Why a file operation failed, in words for "Cannot create file X: <why>"
// ("no space left on the device", "permission denied", "is a folder", ...).
std::string FileErrorReason(int errorNumber);

// Throws Error("Cannot create file " + path + ": " + FileErrorReason(errorNumber)),
// with control characters in path escaped.
[[noreturn]] void ThrowCannotCreate(const std::string& path, int errorNumber);
[[noreturn]] void ThrowCannotCreate(const std::string& path, const std::string& reason);

// True when name is the temporary name AtomicFile gives some file
// (".NAME.tmpXXXXXX"); stores NAME in *finalName when given.
bool IsTemporaryOutputName(const std::string& name, std::string* finalName = nullptr);

class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();  // removes the temporary file unless committed
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file for path. Throws ThrowCannotCreate's Error
  // (the folder is missing or not writable, path is a folder, ...).
  void Create(const std::string& path);
  // Appends n bytes; throws ThrowCannotCreate's Error on failure.
  void Write(const void* data, std::size_t n);
  // Writes n bytes at offset without moving the append position; false on
  // failure, with the reason kept in LastError().
  bool WriteAt(uint64_t offset, const void* data, std::size_t n);
  // Cuts the file to size bytes; false on failure.
  bool Truncate(uint64_t size);
  // Closes the file and renames it over the final name. Throws
  // ThrowCannotCreate's Error; the temporary file is then removed.
  void Commit();
  // Closes and removes the temporary file; the final name is left alone.
  void Discard();

  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }
  const std::string& TemporaryPath() const { return temporary_; }
  // errno of the last failed operation (0 if none).
  int LastError() const { return lastError_; }

 private:
  int fd_ = -1;
  uint64_t appendAt_ = 0;
  int lastError_ = 0;
  std::string path_;
  std::string temporary_;
};

}  // namespace tovimar

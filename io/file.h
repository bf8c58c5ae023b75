#pragma once
// Whole-file writes, and reads of regular files only, at any offset.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tovimar {

// Writes `size` bytes to path through an AtomicFile: path holds either its
// earlier contents or all of the new bytes. Throws Error("Cannot create
// file " + path + ": " + reason) on any failure.
void WriteWholeFile(const std::string& path, const void* data, std::size_t size);

// What identifies a file's contents between two looks at it: the same file
// (device, inode) with the same size and modification and change times.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNs = 0;
  int64_t changedNs = 0;
  bool operator==(const FileIdentity&) const = default;
};

// ReadOnlyFile::Open's answer for a path where nothing is.
inline constexpr const char* kFileMissing = "does not exist";

// The outcome of looking at a path before opening it.
enum class FileKind { Missing, Regular, Other };

// Looks at path without opening it (a FIFO or device is never opened);
// fills identity for a regular file.
FileKind InspectFile(const std::string& path, FileIdentity* identity = nullptr);

// True when a regular file is at path (a folder, FIFO or device is not one).
inline bool IsRegularFile(const std::string& path) { return InspectFile(path) == FileKind::Regular; }

// A regular file opened for reading. Open never blocks: a FIFO or device is
// refused by its type before it is opened, and checked again once open.
class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // "" on success, else why not ("does not exist", "not a regular file", ...).
  std::string Open(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  uint64_t Size() const { return identity_.size; }
  const FileIdentity& Identity() const { return identity_; }
  // Reads exactly n bytes at offset; false when the file holds fewer.
  bool ReadAt(uint64_t offset, void* out, std::size_t n) const;

 private:
  int fd_ = -1;
  FileIdentity identity_;
};

class Error;

// The one error of the strict readers for a file they refuse:
// "'path' is not a readable WHAT (why)".
Error NotReadable(const std::string& path, const std::string& what, const std::string& why);

// Opens path for a strict reader of `what` ("PFM", "PNG", "bitmap", ...).
// Throws Error("'path' does not exist") when nothing is there, else
// NotReadable with the reason it could not be opened.
void OpenForReading(ReadOnlyFile& file, const std::string& path, const std::string& what);

}  // namespace tovimar

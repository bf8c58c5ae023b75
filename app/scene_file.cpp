#include "app/scene_file.h"

#include <filesystem>
#include <system_error>

#include "base/error.h"
#include "io/file.h"

namespace tovimar {

SaveResult SaveSceneFile(const std::string& path, std::string_view bytes) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path target(path);
  if (!path.empty() && !fs::exists(target, ec)) {
    fs::path folder = target.parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec)) return SaveResult::FolderMissing;
  }
  // Whole or not at all: a failed save leaves the earlier scene file as it was.
  try {
    WriteWholeFile(path, bytes.data(), bytes.size());
  } catch (const Error&) {
    return SaveResult::WriteFailed;
  }
  return SaveResult::Saved;
}

}  // namespace tovimar

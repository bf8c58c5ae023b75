#include "app/scene_file.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace tovimar {

SaveResult SaveSceneFile(const std::string& path, std::string_view bytes) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path target(path);
  if (!path.empty() && !fs::exists(target, ec)) {
    fs::path folder = target.parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec)) return SaveResult::FolderMissing;
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return SaveResult::WriteFailed;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0) ok = false;
  return ok ? SaveResult::Saved : SaveResult::WriteFailed;
}

}  // namespace tovimar

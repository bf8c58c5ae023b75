#include "app/scene_file.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace tovimar {

std::vector<std::string> SplitFileLines(std::string_view bytes) {
  std::vector<std::string> lines;
  std::string current;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\r') {
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      lines.push_back(std::move(current));
      current.clear();
    } else if (c == '\n') {
      lines.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  lines.push_back(std::move(current));
  return lines;
}

bool IsValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    const auto b0 = static_cast<uint8_t>(bytes[i]);
    if (b0 < 0x80) {
      ++i;
      continue;
    }
    int length;
    uint32_t cp;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2;
      cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3;
      cp = b0 & 0x0Fu;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4;
      cp = b0 & 0x07u;
    } else {
      return false;
    }
    if (n - i < static_cast<std::size_t>(length)) return false;
    for (int k = 1; k < length; ++k) {
      const auto b = static_cast<uint8_t>(bytes[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3Fu);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000)) return false;  // overlong
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;                                  // surrogate
    if (cp > 0x10FFFF) return false;
    i += static_cast<std::size_t>(length);
  }
  return true;
}

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

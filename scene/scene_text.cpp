#include "scene/scene_text.h"

#include <cerrno>
#include <cstring>

#include "io/file.h"
#include "io/text.h"
#include "scene/notifier.h"

namespace tovimar {

std::string JoinLines(const std::vector<std::string>& lines) {
  std::size_t total = 0;
  for (const auto& line : lines) total += line.size() + 2;
  std::string text;
  text.reserve(total);
  for (std::size_t k = 0; k < lines.size(); ++k) {
    if (k > 0) text += "\r\n";
    text += lines[k];
  }
  return text;
}

std::string ReadFileBytes(const std::string& path) {
  // ReadOnlyFile never opens a FIFO or device (/dev/zero, a pipe that no one
  // writes to), and only the size found when opening is read, so a file
  // that grows meanwhile cannot grow the text.
  ReadOnlyFile file;
  const std::string opened = file.Open(path);
  if (!opened.empty()) throw Error("Cannot open file " + EscapeForMessage(path) + ": " + opened);
  if (file.Size() > kMaxSceneFileBytes) {
    throw Error("Cannot open file " + EscapeForMessage(path) + ": it holds " + std::to_string(file.Size()) +
                " bytes, more than a scene may (" + std::to_string(kMaxSceneFileBytes) + ")");
  }
  std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
  if (!bytes.empty() && !file.ReadAt(0, bytes.data(), bytes.size())) {
    throw Error("Cannot read file " + EscapeForMessage(path) + ": " + std::strerror(errno != 0 ? errno : EIO));
  }
  return bytes;
}

}  // namespace tovimar

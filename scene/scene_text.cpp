#include "scene/scene_text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

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
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  errno = 0;
  std::unique_ptr<std::FILE, Closer> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    throw Error("Cannot open file " + path + ": " + std::strerror(errno));
  }
  std::string bytes;
  char buffer[1 << 16];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file.get());
    bytes.append(buffer, got);
    if (got < sizeof buffer) break;
  }
  if (std::ferror(file.get())) {
    const int err = errno;
    throw Error("Cannot read file " + path + ": " + (err != 0 ? std::strerror(err) : "read error"));
  }
  return bytes;
}

}  // namespace tovimar

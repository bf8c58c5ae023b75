#include "io/bundled.h"

#include <filesystem>
#include <system_error>

#ifndef TOVIMAR_SOURCE_DIR
#define TOVIMAR_SOURCE_DIR ""
#endif

namespace tovimar {

namespace fs = std::filesystem;

namespace {

bool Holds(const fs::path& folder, const std::string& probe) {
  std::error_code ec;
  return fs::is_regular_file(folder / probe, ec);
}

}  // namespace

std::string FindBundledFolder(const std::string& relative, const std::string& probe) {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path dir = exe.parent_path();
    for (const fs::path& candidate : {dir / ".." / "share" / "tovimar" / relative, dir / ".." / relative, dir / relative}) {
      if (Holds(candidate, probe)) return candidate.lexically_normal().string();
    }
  }
  const fs::path source(TOVIMAR_SOURCE_DIR);
  if (!source.empty() && Holds(source / relative, probe)) return (source / relative).string();
  return {};
}

}  // namespace tovimar

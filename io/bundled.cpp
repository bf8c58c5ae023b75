#include "io/bundled.h"

#include <dlfcn.h>

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
  // Code loaded by another program (the Python module): <prefix>/share/tovimar
  // above the library's own folder, whatever the library's depth below the prefix.
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&FindBundledFolder), &info) != 0 && info.dli_fname != nullptr) {
    const fs::path library = fs::weakly_canonical(fs::path(info.dli_fname), ec);
    if (!ec && library != exe) {
      for (fs::path dir = library.parent_path(); !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
        if (Holds(dir / "share" / "tovimar" / relative, probe)) return (dir / "share" / "tovimar" / relative).string();
      }
    }
  }
  const fs::path source(TOVIMAR_SOURCE_DIR);
  if (!source.empty() && Holds(source / relative, probe)) return (source / relative).string();
  return {};
}

}  // namespace tovimar

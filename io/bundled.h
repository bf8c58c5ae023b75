#pragma once
// Files that ship with the program (the textures, the example scene): where
// they are looked for.
#include <string>

namespace tovimar {

// The folder `relative` (e.g. "assets") that holds the file `probe`, or ""
// when none does. Looked for, in order, next to the executable
// (<exe dir>/../share/tovimar/<relative>, <exe dir>/../<relative>,
// <exe dir>/<relative>), in <prefix>/share/tovimar/<relative> above the
// folder of the library holding this code when another program loaded it
// (the Python module), and in the source tree the program was built from.
std::string FindBundledFolder(const std::string& relative, const std::string& probe);

}  // namespace tovimar

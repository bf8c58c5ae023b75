#pragma once
// Scene text as the editor holds it: lines, joined with CR LF when saved.
#include <string>
#include <string_view>
#include <vector>

#include "io/text.h"  // SplitLines

namespace tovimar {

// Lines joined with CR LF, no line break after the last one.
std::string JoinLines(const std::vector<std::string>& lines);

// Reads a whole file; throws tovimar::Error naming the path when it cannot.
std::string ReadFileBytes(const std::string& path);

}  // namespace tovimar

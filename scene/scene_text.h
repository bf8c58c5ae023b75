#pragma once
// Scene text as the editor holds it: lines, joined with CR LF when saved.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/text.h"  // SplitLines

namespace tovimar {

// Lines joined with CR LF, no line break after the last one.
std::string JoinLines(const std::vector<std::string>& lines);

// Largest scene file read (far beyond any hand-written or generated scene).
inline constexpr std::uint64_t kMaxSceneFileBytes = std::uint64_t{64} << 20;

// Reads a whole regular file of at most kMaxSceneFileBytes; throws
// tovimar::Error naming the path and the cause ("not a regular file" for a
// FIFO or device, which is never opened) when it cannot.
std::string ReadFileBytes(const std::string& path);

}  // namespace tovimar

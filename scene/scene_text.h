#pragma once
// Scene text as the editor holds it: lines, joined with CR LF when saved.
#include <string>
#include <string_view>
#include <vector>

namespace tovimar {

// Splits text into lines; CR LF, a lone CR and a lone LF each end a line.
// A final line break does not start an extra line ("a\r\n" is one line, "" none).
std::vector<std::string> SplitLines(std::string_view text);

// Lines joined with CR LF, no line break after the last one.
std::string JoinLines(const std::vector<std::string>& lines);

// Reads a whole file; throws tovimar::Error naming the path when it cannot.
std::string ReadFileBytes(const std::string& path);

}  // namespace tovimar

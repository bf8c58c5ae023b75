#pragma once
// Reading the disparity text files a run writes: "W\r\nH\r\n", then W*H
// values, one per line, top row first.
#include <cstddef>
#include <string>
#include <vector>

#include "io/size_check.h"

namespace tovimar {

struct DisparityText {
  int width = 0, height = 0;
  std::vector<float> values;  // top row first
};

// Strict: sides 1..65535, exactly W*H values separated by line ends, nothing
// after them. Returns "" or why the text is refused.
std::string ParseDisparityText(const char* data, std::size_t size, DisparityText& map);

// Reads a regular file. Throws Error("'path' does not exist") or
// Error("'path' is not a readable disparity file (reason)"), or what check
// throws for the size in the first two lines. The size is checked, against
// check and against the file's length, before the file is read whole.
DisparityText ReadDisparityText(const std::string& path, const HeaderSizeCheck& check = {});

}  // namespace tovimar

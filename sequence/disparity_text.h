#pragma once
// The disparity text file with its values formatted on two threads: the same
// bytes as WriteDisparityFile (output_files.h), which it uses for nothing but
// the per-value formatting (AppendDisparityValue) and the write.
#include <string>

namespace tovimar {

// As WriteDisparityFile(path, disparity, width, height, &text); `second` is
// working memory for the values formatted by the helper thread.
void WriteDisparityFileTwoThreads(const std::string& path, const double* disparity, int width, int height,
                                  std::string& text, std::string& second);

}  // namespace tovimar

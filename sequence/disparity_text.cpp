#include "sequence/disparity_text.h"

#include <charconv>
#include <cstddef>

#include "sequence/output_files.h"
#include "sequence/two_threads.h"

namespace tovimar {
namespace {

void AppendInt(std::string& out, int v) {
  char buf[16];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

}  // namespace

void WriteDisparityFileTwoThreads(const std::string& path, const double* disparity, int width, int height,
                                  std::string& text, std::string& second) {
  const std::size_t count =
      static_cast<std::size_t>(width < 0 ? 0 : width) * static_cast<std::size_t>(height < 0 ? 0 : height);
  text.clear();
  AppendInt(text, width);
  text += "\r\n";
  AppendInt(text, height);
  text += "\r\n";
  second.clear();
  // Values [0, half) go straight after the header, [half, count) to `second`,
  // which is appended.
  const std::size_t half = count / 2;
  ForEachChunk(2, [&](int part) {
    std::string& out = part == 0 ? text : second;
    const std::size_t first = part == 0 ? 0 : half;
    const std::size_t last = part == 0 ? half : count;
    out.reserve(out.size() + (last - first) * 22);
    for (std::size_t i = first; i < last; ++i) {
      AppendDisparityValue(out, disparity[i]);
      out += "\r\n";
    }
  });
  text += second;
  text += "\r\n";
  WriteWholeFile(path, text.data(), text.size());
}

}  // namespace tovimar

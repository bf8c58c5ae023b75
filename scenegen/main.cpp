// tovimar-scenegen: random scenes for training and testing stereo algorithms.
#include <cstdio>
#include <string>
#include <vector>

#include "base/number_text.h"
#include "scenegen/generator.h"

int main(int argc, char** argv) {
  using namespace tovimar::scenegen;
  GeneratorOptions options;
  try {
    options = ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const OptionError& e) {
    std::fprintf(stderr, "tovimar-scenegen: %s\nTry 'tovimar-scenegen --help'.\n", e.what());
    return 2;
  }
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  try {
    const std::vector<std::string> written = WriteScenes(options);
    if (!options.quiet) {
      std::fprintf(stderr, "tovimar-scenegen: wrote %s to %s\n", tovimar::CountOf(written.size(), "scene").c_str(),
                   options.outDir.c_str());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tovimar-scenegen: %s\n", e.what());
    return 1;
  }
  return 0;
}

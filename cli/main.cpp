// tovimar-render: the command-line side of Tovimar.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/options.h"
#include "cli/render_run.h"
#include "scene/scene_dump.h"
#include "scene/notifier.h"
#include "scene/scene_text.h"

namespace {

using tovimar::cli::kExitFailure;
using tovimar::cli::kExitOk;
using tovimar::cli::kExitUsage;

void PrintError(const std::string& message) {
  std::fprintf(stderr, "tovimar-render: %s\n", message.c_str());
}

bool WriteStdout(const std::string& text) {
  const std::size_t written = std::fwrite(text.data(), 1, text.size(), stdout);
  return written == text.size() && std::fflush(stdout) == 0 && !std::ferror(stdout);
}

int RunDump(const tovimar::cli::CliOptions& options) {
  const char separator = tovimar::cli::UserDecimalSeparator();
  // The fields were checked with the options.
  const tovimar::Prefs prefs = tovimar::EditorPrefs(options.focalText, options.baselineText, separator);
  std::string bytes;
  try {
    bytes = tovimar::ReadFileBytes(options.scenePath);
  } catch (const tovimar::Error& e) {
    PrintError(e.message());
    return kExitFailure;
  }
  const std::string json =
      tovimar::SceneDumpJson(options.scenePath, tovimar::SplitLines(bytes), prefs, separator);
  if (!WriteStdout(json)) {
    PrintError("cannot write to standard output");
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  tovimar::cli::CliOptions options;
  try {
    options = tovimar::cli::ParseCommandLine(args);
  } catch (const tovimar::cli::UsageError& e) {
    PrintError(e.what());
    std::fputs("Try 'tovimar-render --help'.\n", stderr);
    return kExitUsage;
  }
  if (options.help) {
    return WriteStdout(tovimar::cli::UsageText()) ? kExitOk : kExitFailure;
  }
  if (options.version) {
    return WriteStdout("tovimar-render " TOVIMAR_VERSION "\n") ? kExitOk : kExitFailure;
  }
  try {
    options.Check();
  } catch (const tovimar::cli::UsageError& e) {
    PrintError(e.what());
    return kExitUsage;
  }
  if (options.dump) return RunDump(options);
  tovimar::cli::InstallStopSignalHandlers();
  if (options.BatchMode()) return tovimar::cli::RunBatch(options, stderr);
  return tovimar::cli::RunRender(options, stderr);
}

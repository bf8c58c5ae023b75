#pragma once
// The rendering mode of tovimar-render: one sequence run per camera with the
// same core as the desktop program, so both write the same files byte for byte.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "cli/options.h"

namespace tovimar::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;      // unreadable scene, no context, write failure
inline constexpr int kExitUsage = 2;        // bad option values

// Renders options.scenePath as the options say. Progress, conversion errors
// of the scene (with line numbers) and the summary go to `err`; returns the
// exit code. The output root is created (with its parents) when missing and
// checked to be a writable folder before the first frame; in preview mode
// nothing is created or written.
int RunRender(const CliOptions& options, std::FILE* err);

// L.avi / P.avi of each run (camera right?, frame count) into directory,
// from the camera images as a run with `outputs` stores them, with
// wav.wav from the current folder when present (checked before any AVI is
// made). A line per AVI goes to err unless quiet. Returns "" or why an AVI
// could not be made (then no further AVI is made).
std::string ExportRunAvis(const std::string& directory, const OutputChoice& outputs,
                          const std::vector<std::pair<bool, int>>& runs, bool quiet, std::FILE* err);

// Installs SIGINT / SIGTERM handlers (sigaction, no SA_RESTART) that ask
// the current run to stop: between frames, after the preparation, or before
// the next segmentation pass (an unfinished frame writes none of its files). A
// second signal ends the process at once. The exit code is 128 + signal.
void InstallStopSignalHandlers();
// A stop was asked for; the exit code it gives.
bool StopSignalled();
int InterruptedExitCode();

}  // namespace tovimar::cli

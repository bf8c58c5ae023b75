#pragma once
// Batch runs of tovimar-render: many scenes in one process, each into its own
// sequence folder, with one rendering context for all. Every scene starts
// from the state a new process would have (random state, view, frame counter,
// light, projection), so its files are the same byte for byte as a
// single-scene run's, whichever shard renders it and whatever ran before.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/options.h"

namespace tovimar::cli {

// A complete sequence folder: dir/meta.json exists and its top-level object
// has "complete": true. Anything else (no file, unreadable, not an object,
// false, a "complete" only inside a nested value) is incomplete.
bool SequenceComplete(const std::string& dir);

// Which scenes a process renders: scene k (0-based, in list order) when
// k mod count == index.
struct Shard {
  int index = 0;
  int count = 1;
};

// The shard of a --shard text: "I/N" with 0 <= I < N; "slurm" takes the
// array task (SLURM_ARRAY_TASK_ID minus SLURM_ARRAY_TASK_MIN when set) and
// SLURM_ARRAY_TASK_COUNT; an empty text does the same when both are set, and
// is the whole list (0/1) when not. getenv reads the environment. Throws
// UsageError naming the text or variable that is wrong.
Shard ResolveShard(const std::string& text, const std::function<const char*(const char*)>& getenv);

// The scenes of a batch in list order: the positional arguments (a folder
// gives its *.txt files in name order), then the lines of the list file
// (blank lines and lines starting with '#' skipped). Throws tovimar::Error
// for a list file that cannot be read or a folder without scenes.
std::vector<std::string> CollectScenes(const CliOptions& options);

// The sequence folder of scene k of the list: DIR/(seq + k)/ or, with
// --name-by-scene, DIR/<file name without extension>/ (ending in '/').
std::string BatchSequenceDirectory(const CliOptions& options, const std::string& scene, std::size_t k);

// Renders the batch that options describe. Per scene a line on `err`; a
// scene that cannot be read or prepared, or whose run fails, is reported and
// skipped. At the end a summary on `err` (with --quiet only when a scene
// failed) and in DIR/batch.json (shards:
// DIR/batch.shard-I-of-N.json), written under a temporary name and renamed.
// Complete sequences are skipped and incomplete ones go on from their first
// missing frame (RenderFrameSource::SetResume), unless options.force. Returns 0, 1 when a
// scene failed (or nothing could start), 2 for bad options, 130 when stopped
// by SIGINT / SIGTERM (after the frame in progress).
int RunBatch(const CliOptions& options, std::FILE* err);

}  // namespace tovimar::cli

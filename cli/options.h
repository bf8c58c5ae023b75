#pragma once
// Command-line options of tovimar-render. The options are one table
// (OptionTable): each row is an OptionDefinition that names the option, says
// whether it takes a value and stores that value into CliOptions, throwing
// UsageError when it is bad.
// A new option is a new field here and a new row in options.cpp.
#include <array>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "render/settings.h"
#include "layout/output_choice.h"
#include "run/run_session.h"

namespace tovimar::cli {


struct CliOptions {
  bool help = false;
  bool version = false;
  bool dump = false;                  // --dump: print the parsed scene as JSON and exit
  std::string scenePath;              // the first positional argument
  std::vector<std::string> scenePaths;  // every positional argument: scene files or folders

  // Batch runs (cli/batch.h): several scenes, each into its own sequence folder.
  std::string listFile;                 // --list: one scene path per line
  bool nameByScene = false;             // sequence folder named after the scene file's stem
  bool force = false;                   // redo sequences that are already complete
  std::string shardText;                // --shard I/N (or "slurm"); empty: none given
  std::string focalText = kDefaultFocalLengthText;  // the editor's focal-length field
  std::string baselineText = kDefaultBaselineText;  // the editor's baseline field

  // Rendering a sequence (the control panel's settings).
  std::string outputFolder = "./out";  // "Folder"
  int sequenceNumber = 0;              // "Sequence no:"
  CameraChoice camera = CameraChoice::Both;  // both: a left run, then a right run
  int width = 512;
  int height = 384;
  bool preview = false;                 // "Preview only"
  bool palette = false;                 // "Color pallete in segmentation"
  bool antiAlias = false;               // "AntiAliasing Filter"
  std::array<int, 3> background = kDefaultBackground;
  std::string textureFolder;            // empty: the renderer's choice
  std::vector<std::string> modelFolders;  // --models, in order: where MESH files not beside the scene are
  bool quiet = false;
  bool avi = false;                     // build L.avi / P.avi after the runs
  std::string outputsText = "classic";  // --outputs
  std::string layoutText = "classic";   // --layout
  OutputChoice outputs;                 // both, parsed
  bool outputsGiven = false;            // --outputs was given (its products must fit the layout)
  bool splitGiven = false;              // --split was given
  std::vector<std::string> arguments;   // the command line as given, for the manifest
  bool clean = false;                   // remove the camera's files of earlier runs first
  std::optional<RandomState> randomState;  // --random-state: the first run's frames start from it

  // More than one scene, a folder, a list, a shard or named sequence folders:
  // the run goes through RunBatch. One scene file and none of these keeps the
  // single-scene run.
  bool BatchMode() const;

  // Checks the values that depend on each other or need reading (the focal
  // length and baseline fields); throws UsageError naming what is wrong.
  void Check() const;
  // The run as numbers, for the run session; the options were checked.
  RunOptions ToRunOptions() const;
};


// A bad command line; the message names the option and what is wrong.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionDefinition {
  const char* longName;   // without the leading "--"
  char shortName;         // 0 when the option has no short form
  const char* valueName;  // nullptr for a switch, else the value's name in the help text
  const char* help;
  std::function<void(CliOptions&, const std::string& value)> apply;
};

const std::vector<OptionDefinition>& OptionTable();

// Parses the arguments after the program name. Accepts "--name value",
// "--name=value", "-x value" and "-xvalue"; "--" ends the options.
CliOptions ParseCommandLine(const std::vector<std::string>& args);

// The sequence folder of a run numbered `sequenceNumber`: DIR/N/, or, in the
// sceneflow layout with another split than TRAIN/A, that split's folder
// (DIR/TEST@A@N/, SplitSequenceDirectory).
std::string SequenceDirectory(const CliOptions& o, int sequenceNumber);
// The same for a folder DIR/NAME/ of a batch with --name-by-scene.
std::string SequenceDirectory(const CliOptions& o, const std::string& directory);

// The help text: synopsis and one line per option.
std::string UsageText();

// Decimal separator of the user's locale (LC_ALL / LC_NUMERIC / LANG), read
// without changing the process's locale; '.' when it is neither '.' nor ','.
char UserDecimalSeparator();

}  // namespace tovimar::cli

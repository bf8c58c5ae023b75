#include "cli/options.h"

#include <charconv>
#include <clocale>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>
#include <langinfo.h>
#include <locale.h>

#include "scene/scene_dump.h"
#include "io/text.h"
#include "scene/notifier.h"

namespace tovimar::cli {

namespace {

// A whole decimal number in [low, high], nothing else (no sign, no spaces).
int ParseInt(const std::string& text, int low, int high, const char* what) {
  int value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (text.empty() || ec != std::errc() || ptr != last || value < low || value > high) {
    throw UsageError("'" + EchoField(text) + "' is not " + what);
  }
  return value;
}

// A whole decimal number from 0 to 2^32 - 1, nothing else.
std::optional<uint32_t> ParseUint32(const std::string& text) {
  uint32_t value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (text.empty() || ec != std::errc() || ptr != last) return std::nullopt;
  return value;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

void ParseResolution(CliOptions& o, const std::string& v) {
  std::string lower = v;
  for (char& c : lower) {
    if (c == 'X') c = 'x';
  }
  const auto parts = Split(lower, 'x');
  const std::string what = "a size WxH with sides 1.." + std::to_string(kMaxFrameSide);
  if (parts.size() != 2) throw UsageError("'" + EchoField(v) + "' is not " + what);
  try {
    o.width = ParseInt(parts[0], 1, kMaxFrameSide, what.c_str());
    o.height = ParseInt(parts[1], 1, kMaxFrameSide, what.c_str());
  } catch (const UsageError&) {
    throw UsageError("'" + EchoField(v) + "' is not " + what);
  }
}

void ParseRandomState(CliOptions& o, const std::string& v) {
  const auto parts = Split(v, ',');
  const auto low = parts.size() == 2 ? ParseUint32(parts[0]) : std::nullopt;
  const auto high = parts.size() == 2 ? ParseUint32(parts[1]) : std::nullopt;
  if (!low || !high) {
    throw UsageError("'" + EchoField(v) + "' is not two whole numbers LOW,HIGH from 0 to 4294967295");
  }
  o.randomState = RandomState{*low, *high};
}

void ParseBackground(CliOptions& o, const std::string& v) {
  const auto parts = Split(v, ',');
  const char* what = "three numbers R,G,B from 0 to 255";
  if (parts.size() != 3) throw UsageError("'" + EchoField(v) + "' is not " + what);
  try {
    for (std::size_t i = 0; i < 3; ++i) o.background[i] = ParseInt(parts[i], 0, 255, what);
  } catch (const UsageError&) {
    throw UsageError("'" + EchoField(v) + "' is not " + what);
  }
}

std::vector<OptionDefinition> MakeTable() {
  std::vector<OptionDefinition> table;
  table.push_back({"help", 'h', nullptr, "show this help and exit",
                   [](CliOptions& o, const std::string&) { o.help = true; }});
  table.push_back({"version", 0, nullptr, "show the version and exit",
                   [](CliOptions& o, const std::string&) { o.version = true; }});
  table.push_back({"out", 'o', "DIR", "output root (the control panel's \"Folder\"); default ./out",
                   [](CliOptions& o, const std::string& v) { o.outputFolder = v; }});
  table.push_back({"seq", 's', "N", "sequence number; the frames go to DIR/N/; default 0",
                   [](CliOptions& o, const std::string& v) {
                     o.sequenceNumber = ParseInt(v, 0, 2147483647, "a sequence number (0 or more)");
                   }});
  table.push_back({"camera", 'c', "CAM",
                   "left, right or both (a left run, then a right run, same directory); default both",
                   [](CliOptions& o, const std::string& v) {
                     if (v == "left") o.camera = CameraChoice::Left;
                     else if (v == "right") o.camera = CameraChoice::Right;
                     else if (v == "both") o.camera = CameraChoice::Both;
                     else throw UsageError("'" + EchoField(v) + "' is not left, right or both");
                   }});
  table.push_back({"resolution", 'r', "WxH", "frame size in pixels; default 512x384", ParseResolution});
  table.push_back({"preview", 0, nullptr, "draw the frames, write nothing",
                   [](CliOptions& o, const std::string&) { o.preview = true; }});
  table.push_back({"palette", 0, nullptr, "palette colours in segmentation maps (default: grey = id)",
                   [](CliOptions& o, const std::string&) { o.palette = true; }});
  table.push_back({"antialias", 0, nullptr, "the antialiasing filter",
                   [](CliOptions& o, const std::string&) { o.antiAlias = true; }});
  table.push_back({"background", 0, "R,G,B", "background colour, 0..255 each; default 0,255,255",
                   ParseBackground});
  table.push_back({"textures", 0, "DIR",
                   "folder of tex0.bmp..tex10.bmp; default the current folder, else the bundled ones",
                   [](CliOptions& o, const std::string& v) {
                     if (v.empty()) throw UsageError("the folder name is empty");
                     o.textureFolder = v;
                   }});
  table.push_back({"models", 0, "DIR",
                   "a folder where MESH files not beside the scene are looked for; repeatable, looked in "
                   "in order",
                   [](CliOptions& o, const std::string& v) {
                     if (v.empty()) throw UsageError("the folder name is empty");
                     o.modelFolders.push_back(v);
                   }});
  table.push_back({"avi", 0, nullptr, "after the runs, build L.avi / P.avi in the output directory",
                   [](CliOptions& o, const std::string&) { o.avi = true; }});
  table.push_back({"outputs", 0, "LIST",
                   "files per frame, comma separated: classic, pfm, depth, kitti, png, masks, flow, ids16; "
                   "default classic",
                   [](CliOptions& o, const std::string& v) {
                     o.outputsText = v;
                     o.outputsGiven = true;
                     const DatasetLayout layout = o.outputs.layout;
                     const std::string split = o.outputs.split;
                     try {
                       o.outputs = ParseOutputList(v);
                     } catch (const Error& e) {
                       throw UsageError(e.message());
                     }
                     o.outputs.layout = layout;
                     o.outputs.split = split;
                   }});
  table.push_back({"layout", 0, "NAME",
                   "classic, middlebury, kitti or sceneflow (the benchmarks' folder layouts, both cameras); "
                   "default classic",
                   [](CliOptions& o, const std::string& v) {
                     o.layoutText = v;
                     try {
                       o.outputs.layout = ParseLayout(v);
                     } catch (const Error& e) {
                       throw UsageError(e.message());
                     }
                   }});
  table.push_back({"split", 0, "A/B",
                   "the sceneflow layout's split folders; default TRAIN/A",
                   [](CliOptions& o, const std::string& v) {
                     try {
                       o.outputs.split = ParseSplit(v);
                     } catch (const Error& e) {
                       throw UsageError(e.message());
                     }
                     o.splitGiven = true;
                   }});
  table.push_back({"clean", 0, nullptr,
                   "first remove the files of earlier runs of the same camera from the sequence folder",
                   [](CliOptions& o, const std::string&) { o.clean = true; }});
  table.push_back({"random-state", 0, "LOW,HIGH",
                   "start the first run's frames from this random state (a meta.json's randomStateAtStart) "
                   "to make that run again; one scene only",
                   ParseRandomState});
  table.push_back({"quiet", 'q', nullptr, "no progress output",
                   [](CliOptions& o, const std::string&) { o.quiet = true; }});
  table.push_back({"dump", 0, nullptr, "print the parsed scene as JSON and exit",
                   [](CliOptions& o, const std::string&) { o.dump = true; }});
  table.push_back({"list", 0, "FILE", "batch: render the scenes named in FILE, one path per line",
                   [](CliOptions& o, const std::string& v) {
                     if (v.empty()) throw UsageError("the file name is empty");
                     o.listFile = v;
                   }});
  table.push_back({"shard", 0, "I/N",
                   "batch: render only scenes k with k mod N = I (\"slurm\": from the array task); "
                   "default from SLURM_ARRAY_TASK_ID/COUNT when set",
                   [](CliOptions& o, const std::string& v) {
                     if (v.empty()) throw UsageError("the shard is empty");
                     o.shardText = v;
                   }});
  table.push_back({"name-by-scene", 0, nullptr, "batch: sequence folders named after the scene files, not numbered",
                   [](CliOptions& o, const std::string&) { o.nameByScene = true; }});
  table.push_back({"force", 0, nullptr, "batch: render complete sequences again",
                   [](CliOptions& o, const std::string&) { o.force = true; }});
  table.push_back({"focal", 0, "TEXT", "the editor's focal-length field; default 389,0",
                   [](CliOptions& o, const std::string& v) { o.focalText = v; }});
  table.push_back({"baseline", 0, "TEXT", "the editor's baseline field; default 0,12",
                   [](CliOptions& o, const std::string& v) { o.baselineText = v; }});
  return table;
}

const OptionDefinition* FindLong(const std::string& name) {
  for (const auto& option : OptionTable()) {
    if (name == option.longName) return &option;
  }
  return nullptr;
}

const OptionDefinition* FindShort(char name) {
  for (const auto& option : OptionTable()) {
    if (option.shortName != 0 && option.shortName == name) return &option;
  }
  return nullptr;
}

}  // namespace

const std::vector<OptionDefinition>& OptionTable() {
  static const std::vector<OptionDefinition> table = MakeTable();
  return table;
}

bool CliOptions::BatchMode() const {
  if (scenePaths.size() > 1 || !listFile.empty() || !shardText.empty() || nameByScene || force) return true;
  std::error_code ec;
  return !scenePath.empty() && std::filesystem::is_directory(scenePath, ec);
}

void CliOptions::Check() const {
  try {
    // Either decimal mark is accepted, so the separator does not matter here.
    (void)EditorPrefs(focalText, baselineText, '.');
  } catch (const Error& e) {
    throw UsageError(e.message());
  }
  try {
    ToRunOptions().Check();
  } catch (const Error& e) {
    throw UsageError(e.message());
  }
  // RunOptions::Check refuses the products beside a layout's own files; the
  // classic files are refused here only when they were asked for by name.
  if (outputsGiven) {
    if (const std::string product = ProductOutsideLayout(outputs); !product.empty())
      throw UsageError("--outputs " + product + ": the " + LayoutName(outputs.layout) + " layout has no place for it");
  }
  // Also a split that names the default folders.
  if (splitGiven && outputs.layout != DatasetLayout::SceneFlow)
    throw UsageError("--split is for --layout sceneflow");
  if (avi && outputs.layout == DatasetLayout::Classic && !outputs.classic && !outputs.png)
    throw UsageError("--avi is made of the camera images: --outputs needs classic or png");
  if (randomState && BatchMode()) throw UsageError("--random-state makes one recorded run again: give one scene file");
}

RunOptions CliOptions::ToRunOptions() const {
  RunOptions run;
  run.width = width;
  run.height = height;
  run.background = background;
  run.antiAlias = antiAlias;
  run.palette = palette;
  run.preview = preview;
  run.outputs = outputs;
  // Either decimal mark is accepted, so the separator does not matter here.
  const Prefs start = EditorPrefs(focalText, baselineText, '.');
  run.focalLength = start.focalLength;
  run.baseline = start.baseline;
  run.textureFolder = textureFolder;
  run.modelFolders = modelFolders;
  run.cameras = camera;
  run.randomAtStart = randomState;
  return run;
}

CliOptions ParseCommandLine(const std::vector<std::string>& args) {
  CliOptions options;
  options.arguments = args;
  std::vector<std::string> positional;
  bool optionsEnded = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }

    const OptionDefinition* found = nullptr;
    std::string shownName;
    std::string value;
    bool valueAttached = false;
    if (arg[1] == '-') {
      const std::size_t eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      shownName = "--" + name;
      found = FindLong(name);
      if (found && eq != std::string::npos) {
        value = arg.substr(eq + 1);
        valueAttached = true;
      }
    } else {
      shownName = arg.substr(0, 2);
      found = FindShort(arg[1]);
      if (found && arg.size() > 2) {
        value = arg.substr(2);
        valueAttached = true;
      }
    }
    if (!found) throw UsageError("unknown option " + EchoField(shownName));

    if (found->valueName == nullptr) {
      if (valueAttached) throw UsageError(shownName + " takes no value");
    } else if (!valueAttached) {
      if (i + 1 >= args.size()) throw UsageError(shownName + " needs a value (" + found->valueName + ")");
      value = args[++i];
    }
    try {
      found->apply(options, value);
    } catch (const UsageError& e) {
      throw UsageError(shownName + ": " + e.what());
    }
  }

  if (options.help || options.version) return options;
  if (positional.empty() && options.listFile.empty()) throw UsageError("no scene file given");
  if (options.dump && (positional.size() != 1 || !options.listFile.empty())) {
    throw UsageError(positional.size() > 1 ? "--dump checks one scene file, found also '" + EchoField(positional[1]) + "'"
                                           : "--dump checks one scene file, not a list");
  }
  if (!positional.empty()) options.scenePath = positional[0];
  options.scenePaths = positional;
  return options;
}

std::string UsageText() {
  std::string text =
      "Usage: tovimar-render [options] SCENE\n"
      "       tovimar-render [options] SCENE... | FOLDER | --list FILE   (a batch)\n\nOptions:\n";
  for (const auto& option : OptionTable()) {
    std::string left = "  ";
    left += option.shortName != 0 ? std::string("-") + option.shortName + ", " : std::string("    ");
    left += "--";
    left += option.longName;
    if (option.valueName) {
      left += ' ';
      left += option.valueName;
    }
    if (left.size() < 26) left.resize(26, ' ');
    else left += "  ";
    text += left;
    text += option.help;
    text += '\n';
  }
  text += "\nFiles of frame NNNN (0000, 0001, ...) in DIR/N/:\n";
  for (const bool right : {false, true}) {
    // The names as the runs make them, with the frame number shown as NNNN.
    const FrameFileNames n = MakeFrameFileNames("", right, 0);
    std::string line = right ? "  right camera:" : "  left camera: ";
    for (std::string name : {n.cameraImage, n.subPixelMap, n.pixelMap, n.disparityText, n.segmentation}) {
      name.replace(name.find(FrameNumber(0)), FrameNumber(0).size(), "NNNN");
      line += " " + name;
    }
    text += line + "\n";
  }
  text += "  (camera image, sub-pixel and whole-pixel disparity maps, disparity text, segmentation map)\n";
  return text;
}

char UserDecimalSeparator() {
  char separator = '.';
  locale_t user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (user != static_cast<locale_t>(0)) {
    const char* radix = nl_langinfo_l(RADIXCHAR, user);
    if (radix && (radix[0] == '.' || radix[0] == ',') && radix[1] == '\0') separator = radix[0];
    freelocale(user);
  }
  return separator;
}

std::string SequenceDirectory(const CliOptions& o, const std::string& directory) {
  return o.outputs.layout == DatasetLayout::SceneFlow ? SplitSequenceDirectory(directory, o.outputs.split) : directory;
}

std::string SequenceDirectory(const CliOptions& o, int sequenceNumber) {
  return SequenceDirectory(o, OutputDirectory(o.outputFolder, sequenceNumber));
}

}  // namespace tovimar::cli

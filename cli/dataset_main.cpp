// tovimar-dataset: random scenes (tovimar-scenegen's presets) rendered by the
// batch runs of tovimar-render into one benchmark-shaped root, split into
// training and test sets, with a dataset card and list files. Running the
// same command again resumes an interrupted run (the batch skips complete
// sequences and goes on with the others; the scene files, the links of the
// benchmark trees, the card and the lists are made again, the same bytes).
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/number_text.h"
#include "cli/batch.h"
#include "cli/options.h"
#include "eval/dataset_statistics.h"
#include "io/file.h"
#include "layout/file_names.h"
#include "render/settings.h"
#include "scene/scene_dump.h"
#include "scene/scene_text.h"
#include "scenegen/generator.h"

namespace {

namespace fs = std::filesystem;
using tovimar::cli::UsageError;

struct DatasetOptions {
  std::string preset = "flying";
  int count = 0;
  int frames = 0;
  std::string layout;
  double trainShare = 0.75;
  std::string out;
  std::string resolution = "512x384";
  std::string seed = "0";
  // Middlebury: the MiddEval3 sizes written, of "FHQ" (full, half, quarter).
  std::string middleburySizes = "F";
  std::vector<std::string> command;
};

const char* const kUsage =
    "usage: tovimar-dataset --preset flying|room|street --count N --frames F\n"
    "                       --layout sceneflow|kitti|middlebury --out DIR\n"
    "                       [--splits train=0.75,test=0.25] [--resolution WxH] [--seed N]\n"
    "                       [--middlebury-sizes F,H,Q]\n";

int ParseCount(const std::string& name, const std::string& value, int least) {
  std::size_t used = 0;
  int n = 0;
  try {
    n = std::stoi(value, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != value.size() || value.empty() || n < least)
    throw UsageError("--" + name + " '" + value + "' is not a whole number of at least " + std::to_string(least));
  return n;
}

// "train=0.75,test=0.25": the training share; the two must add up to 1.
double ParseSplits(const std::string& text) {
  double train = -1, test = -1;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, ',')) {
    const std::size_t eq = part.find('=');
    const std::string name = part.substr(0, eq);
    double value = -1;
    const std::string number = eq == std::string::npos ? std::string() : part.substr(eq + 1);
    const auto res = std::from_chars(number.data(), number.data() + number.size(), value);  // no locale
    if (number.empty() || res.ec != std::errc() || res.ptr != number.data() + number.size() ||
        !(value >= 0 && value <= 1))
      throw UsageError("--splits '" + text + "': each part is NAME=SHARE with a share from 0 to 1");
    if (name == "train" && train < 0) train = value;
    else if (name == "test" && test < 0) test = value;
    else throw UsageError("--splits '" + text + "': the splits are train and test, each once");
  }
  if (train < 0) train = test >= 0 ? 1 - test : -1;
  if (test < 0) test = 1 - train;
  if (train < 0 || std::fabs(train + test - 1) > 1e-9)
    throw UsageError("--splits '" + text + "': the shares of train and test must add up to 1");
  return train;
}

// "F,H,Q": the MiddEval3 sizes, full always among them, in that order.
std::string ParseMiddleburySizes(const std::string& text) {
  std::string sizes = "F";
  std::stringstream in(text);
  std::string part;
  bool full = false;
  while (std::getline(in, part, ',')) {
    if (part == "F" && !full) full = true;
    else if ((part == "H" || part == "Q") && sizes.find(part) == std::string::npos) sizes += part;
    else throw UsageError("--middlebury-sizes '" + text + "': the sizes are F, H and Q, each once");
  }
  if (!full) throw UsageError("--middlebury-sizes '" + text + "': F is needed (loaders list the scenes of trainingF)");
  if (sizes == "FQH") sizes = "FHQ";
  return sizes;
}

// A MiddEval3 size of WxH: F itself, H half and Q a quarter of each side,
// rounded to the nearest pixel (2880x1988: 1440x994, 720x497).
std::string MiddleburyResolution(const std::string& full, char size) {
  if (size == 'F') return full;
  const int divisor = size == 'H' ? 2 : 4;
  const std::size_t x = full.find('x');
  const int w = std::stoi(full.substr(0, x)), h = std::stoi(full.substr(x + 1));
  return std::to_string((w + divisor / 2) / divisor) + "x" + std::to_string((h + divisor / 2) / divisor);
}

DatasetOptions Parse(const std::vector<std::string>& args) {
  DatasetOptions o;
  o.command = args;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") throw UsageError("");
    if (i + 1 >= args.size()) throw UsageError("'" + a + "' needs a value or is not an option");
    const std::string& v = args[++i];
    if (a == "--preset") o.preset = v;
    else if (a == "--count") o.count = ParseCount("count", v, 1);
    else if (a == "--frames") o.frames = ParseCount("frames", v, 1);
    else if (a == "--layout") o.layout = v;
    else if (a == "--splits") o.trainShare = ParseSplits(v);
    else if (a == "--out") o.out = v;
    else if (a == "--resolution") o.resolution = v;
    else if (a == "--seed") o.seed = v;
    else if (a == "--middlebury-sizes") o.middleburySizes = ParseMiddleburySizes(v);
    else throw UsageError("unknown option '" + a + "'");
  }
  if (o.count == 0) throw UsageError("--count is needed");
  if (o.frames == 0) throw UsageError("--frames is needed");
  if (o.out.empty()) throw UsageError("--out is needed");
  if (o.layout != "sceneflow" && o.layout != "kitti" && o.layout != "middlebury")
    throw UsageError("--layout '" + o.layout + "': the dataset layouts are sceneflow, kitti and middlebury");
  if (o.middleburySizes != "F" && o.layout != "middlebury")
    throw UsageError("--middlebury-sizes needs --layout middlebury");
  if (o.middleburySizes.find('Q') != std::string::npos) {
    // The quarter size must keep a pixel: a side of at least 2.
    const std::size_t x = o.resolution.find('x');
    int side[2] = {0, 0};
    const char* begin = o.resolution.data();
    const char* end = begin + o.resolution.size();
    const bool read = x != std::string::npos && std::from_chars(begin, begin + x, side[0]).ptr == begin + x &&
                      std::from_chars(begin + x + 1, end, side[1]).ptr == end;
    if (read && (side[0] < 2 || side[1] < 2))
      throw UsageError("--resolution " + o.resolution + " has no quarter size (MiddEval3's Q) of a pixel or more");
  }
  if (o.layout == "kitti" && o.frames < 2)
    throw UsageError("--frames " + std::to_string(o.frames) + ": a KITTI pair needs two frames");
  return o;
}

void WriteText(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  tovimar::WriteWholeFile(path, text.data(), text.size());
}

// A copy of a scene file in folder whose focal length is 1/divisor of the
// scene's own (a FOCALLENGTH line appended: the last one holds), so that
// rendered at 1/divisor of the size it shows the same view, as MiddEval3's
// half and quarter sizes do. Returns the copy's path.
std::string SceneWithFocalDividedBy(const std::string& scene, const std::string& folder, int divisor) {
  std::string text = tovimar::ReadFileBytes(scene);
  const tovimar::Prefs start =
      tovimar::EditorPrefs(tovimar::kDefaultFocalLengthText, tovimar::kDefaultBaselineText, '.');
  const nlohmann::json dump =
      nlohmann::json::parse(tovimar::SceneDumpJson(scene, tovimar::SplitLines(text), start, '.'));
  const double focal = dump["prefs"]["focalLength"].get<double>();
  if (!text.empty() && text.back() != '\n') text += "\n";
  text += "FOCALLENGTH;" + tovimar::Shortest(focal / divisor) + ";\n";
  const std::string path = folder + "/" + fs::path(scene).filename().string();
  WriteText(path, text);
  return path;
}

// A hard link of `from` at `to` (a copy where the file system has none);
// a missing `from` is an error: the tree would look complete but not be.
void Link(const std::string& from, const std::string& to) {
  std::error_code ec;
  if (!fs::is_regular_file(from, ec)) throw tovimar::Error("the rendered file " + from + " is missing");
  fs::create_directories(fs::path(to).parent_path(), ec);
  fs::remove(to, ec);
  fs::create_hard_link(from, to, ec);
  if (ec && !fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec))
    throw tovimar::Error("cannot create " + to + ": " + ec.message());
}

std::string Padded(int value, int width) {
  std::string s = std::to_string(value);
  return s.size() >= static_cast<std::size_t>(width) ? s : std::string(width - s.size(), '0') + s;
}

std::string Shortest(double v) { return tovimar::Shortest(v); }

// MiddEval3 names its scenes in one word of letters and digits
// ("Adirondack", "PianoL"): sequence k's frame f is SeqKKKKFrameFFFF.
std::string MiddleburySceneName(std::size_t sequence, int frame) {
  return "Seq" + Padded(static_cast<int>(sequence), 4) + "Frame" + tovimar::FrameNumber(frame);
}

// Links a Middlebury-layout sequence's frame as a MiddEval3 scene folder:
// the images and calib.txt, with ground truth also the disparities and masks.
void LinkMiddleburyScene(const std::string& sequence, int frame, const std::string& to, bool groundTruth) {
  const std::string from = sequence + "trainingF/" + tovimar::FrameNumber(frame) + "/";
  std::vector<std::string> files{"im0.png", "im1.png", "calib.txt"};
  if (groundTruth)
    for (const char* gt : {"disp0GT.pfm", "disp1GT.pfm", "mask0nocc.png", "mask1nocc.png"}) files.push_back(gt);
  for (const std::string& file : files) Link(from + file, to + file);
}

struct Split {
  const char* name;      // "train" / "test"
  const char* folder;    // scene flow: "TRAIN/A"; KITTI: "training"; Middlebury: "trainingF"
  std::vector<std::string> scenes;
  std::vector<std::string> samples;  // the list file's lines
  std::vector<std::string> sequences;  // the rendered sequence folders
};

std::string Percent(uint64_t part, uint64_t whole) {
  return whole == 0 ? std::string("n/a") : tovimar::Fixed(100.0 * static_cast<double>(part) / static_cast<double>(whole), 2) + " %";
}

// The card's figures of the splits' ground truth, read back from the files,
// and its pictures: preview.png (frames of the first split with sequences)
// and statistics.png (the histograms).
std::string StatisticsSection(const Split (&splits)[2], bool flow, int frames, const std::string& out) {
  tovimar::eval::GroundTruthStatistics stats[2];
  for (int s = 0; s < 2; ++s)
    for (const std::string& dir : splits[s].sequences) stats[s].AddSequence(dir, flow);
  std::string text =
      "\n## Statistics\n\nRead back from the ground truth written (the left view, at the full size; the test "
      "split's from its sequences). Disparity in px over the pixels with ground truth; occluded: of those, the share hidden in "
      "the right view (layouts with masks); flow: the length of the flow to the next frame over the frames that "
      "have one; hidden: of the flow's pixels, the share hidden at the next frame (layouts with flow masks).\n\n"
      "| split | frames | disparity min | max | mean | no ground truth | occluded |";
  if (flow) text += " flow frames | mean flow | longest | no flow | hidden |";
  text += flow ? "\n|---|---|---|---|---|---|---|---|---|---|---|---|\n" : "\n|---|---|---|---|---|---|---|\n";
  for (int s = 0; s < 2; ++s) {
    const auto& st = stats[s];
    if (st.sequences == 0) continue;
    const bool any = st.withDisparity > 0;
    text += std::string("| ") + splits[s].name + " | " + std::to_string(st.frames) + " | " +
            (any ? tovimar::Fixed(st.minDisparity, 3) : "n/a") + " | " + (any ? tovimar::Fixed(st.maxDisparity, 3) : "n/a") +
            " | " + (any ? tovimar::Fixed(st.disparitySum / static_cast<double>(st.withDisparity), 3) : "n/a") + " | " +
            Percent(st.pixels - st.withDisparity, st.pixels) + " | " + Percent(st.occluded, st.maskedPixels) + " |";
    if (flow)
      text += " " + std::to_string(st.flowFrames) + " | " +
              (st.withFlow ? tovimar::Fixed(st.flowLengthSum / static_cast<double>(st.withFlow), 3) : "n/a") + " | " +
              tovimar::Fixed(st.maxFlowLength, 3) + " | " + Percent(st.flowPixels - st.withFlow, st.flowPixels) +
              " | " + Percent(st.flowHidden, st.maskedFlow) + " |";
    text += "\n";
  }
  // The histograms: bins of a power of two px wide, at most 16, the last
  // one holding everything past it.
  const auto histogram = [&](const char* title, double largest, std::vector<uint64_t> tovimar::eval::GroundTruthStatistics::*counts,
                             tovimar::eval::HistogramPlot& plot) {
    const int width = tovimar::eval::HistogramBinWidth(largest, 16);
    const int bins = std::min(16, static_cast<int>(std::floor(largest / width)) + 1);
    plot.binWidth = width;
    text += std::string("\n") + title + ", share of each split's pixels with ground truth (bins of " +
            std::to_string(width) + " px; the last bin holds everything past its start):\n\n| px |";
    std::string rule = "\n|---|";
    for (int s = 0; s < 2; ++s) {
      if (stats[s].sequences == 0) continue;
      text += std::string(" ") + splits[s].name + " |";
      rule += "---|";
      plot.series.push_back(tovimar::eval::MergeBins(stats[s].*counts, width, bins));
      plot.colours.push_back(s == 0 ? std::vector<uint8_t>{31, 119, 180} : std::vector<uint8_t>{255, 127, 14});
    }
    text += rule + "\n";
    std::vector<uint64_t> totals;
    for (const auto& series : plot.series) {
      uint64_t total = 0;
      for (uint64_t c : series) total += c;
      totals.push_back(total);
    }
    for (int b = 0; b < bins; ++b) {
      text += "| " + std::to_string(b * width) + (b + 1 < bins ? "–" + std::to_string((b + 1) * width) : "+") + " |";
      for (std::size_t k = 0; k < plot.series.size(); ++k)
        text += " " + Percent(plot.series[k][static_cast<std::size_t>(b)], totals[k]) + " |";
      text += "\n";
    }
  };
  std::vector<tovimar::eval::HistogramPlot> plots(flow ? 2 : 1);
  double largestDisparity = 0, longestFlow = 0;
  for (const auto& st : stats) {
    if (st.withDisparity) largestDisparity = std::max(largestDisparity, st.maxDisparity);
    longestFlow = std::max(longestFlow, st.maxFlowLength);
  }
  histogram("Disparity", largestDisparity, &tovimar::eval::GroundTruthStatistics::disparityHistogram, plots[0]);
  if (flow) histogram("Flow length", longestFlow, &tovimar::eval::GroundTruthStatistics::flowHistogram, plots[1]);
  tovimar::eval::WriteHistogramPlots(plots, out + "/statistics.png");

  // Up to four frames of the first split with sequences, from sequences
  // spread over it, each its middle frame (one with flow).
  const Split& shown = splits[0].sequences.empty() ? splits[1] : splits[0];
  const std::size_t count = shown.sequences.size(), rows = std::min<std::size_t>(4, count);
  std::vector<tovimar::eval::PreviewFrame> preview;
  for (std::size_t r = 0; r < rows; ++r) preview.push_back({shown.sequences[r * count / rows], (frames - 1) / 2});
  tovimar::eval::WritePreview(preview, flow, out + "/preview.png");
  text += std::string("\n`statistics.png`: the histograms above as bars (") + (flow ? "top: disparity, bottom: flow length; " : "") +
          "blue train, orange test; x in px, y the share in percent). `preview.png`: " + std::to_string(rows) + " frames of the " +
          shown.name + " split, one a row: the left image, the disparity in colour (the frame's smallest blue, its largest red, "
          "black without ground truth)" + (flow ? ", the flow to the next frame in Middlebury's colours (relative to the frame's longest vector)" : "") +
          ".\n";
  return text;
}

// FlyingThings3D's camera_data.txt of one rendered sequence (per frame
// "Frame N", then "L" and "R" with the camera-to-world matrix, 16 numbers row
// by row), and the split's list lines of its frames.
void AddSceneFlowSequence(const DatasetOptions& o, Split& split, const std::string& dir, const std::string& scene) {
  std::ifstream in(dir + tovimar::kManifestFileName);
  const nlohmann::json meta = nlohmann::json::parse(in, nullptr, false);
  if (meta.is_discarded() || !meta.value("complete", false)) return;
  std::string text;
  const auto& left = meta["runs"]["left"]["frames"];
  const auto& right = meta["runs"]["right"]["frames"];
  for (std::size_t f = 0; f < left.size() && f < right.size(); ++f) {
    text += "Frame " + std::to_string(left[f]["frame"].get<int>()) + "\n";
    for (const auto* camera : {&left[f], &right[f]}) {
      text += camera == &left[f] ? "L" : "R";
      for (const auto& v : (*camera)["pose"]) text += " " + Shortest(v.get<double>());
      text += "\n";
    }
    text += "\n";
    split.samples.push_back(std::string("frames_cleanpass/") + split.folder + "/" + scene + "/left/" +
                            Padded(static_cast<int>(f), tovimar::SceneFlowFrameDigits(o.frames)) + ".png");
  }
  WriteText(o.out + "/camera_data/" + split.folder + "/" + scene + "/camera_data.txt", text);
}

// KITTI 2015's pairs of one rendered sequence, numbered on through the split
// (`index`): every frame that is a KITTI index, linked under the split's
// folder, with a line of the split's map each.
void AddKittiSequence(const DatasetOptions& o, Split& split, bool groundTruth, const std::string& dir, int& index,
                      std::string& map) {
  const std::string base = o.out + "/" + split.folder + "/";
  for (int f = 0; f < o.frames; ++f) {
    if (!tovimar::IsKittiIndex(f, o.frames)) continue;
    const std::string from = tovimar::KittiFrameNumber(f);
    const std::string to = tovimar::KittiFrameNumber(index++);
    std::vector<std::string> folders{"image_2", "image_3"};
    if (groundTruth)
      for (const char* gt : {"disp_occ_0", "disp_noc_0", "disp_occ_1", "disp_noc_1", "flow_occ", "flow_noc"})
        folders.push_back(gt);
    for (const std::string& folder : folders) {
      Link(dir + folder + "/" + from + "_10.png", base + folder + "/" + to + "_10.png");
      if (folder.starts_with("image_")) Link(dir + folder + "/" + from + "_11.png", base + folder + "/" + to + "_11.png");
    }
    Link(dir + "calib_cam_to_cam/" + from + ".txt", base + "calib_cam_to_cam/" + to + ".txt");
    map += to + " " + fs::path(dir).parent_path().filename().string() + " " + from + "\n";
    split.samples.push_back(std::string(split.folder) + "/image_2/" + to + "_10.png");
  }
}

// The dataset card: how it was made, the splits, the layout's names, the
// conventions of "no ground truth", and the statistics of the files.
std::string DatasetCard(const DatasetOptions& o, const Split (&splits)[2], int failed) {
  const bool sceneflow = o.layout == "sceneflow", kitti = o.layout == "kitti";
  std::string command;
  for (const std::string& a : o.command) command += (command.empty() ? "" : " ") + a;
  std::string card = "# Tovimar synthetic stereo dataset\n\nMade by:\n\n    " + command + "\n\n";
  card += "Scenes: `tovimar-scenegen --preset " + o.preset + " --seed " + o.seed + "` (in `scenes/`), " +
          std::to_string(o.frames) + " frames each, " + o.resolution + " pixels, both cameras.\n\n";
  card += "| split | scenes | samples | list |\n|---|---|---|---|\n";
  for (const Split& split : splits)
    card += std::string("| ") + split.name + " | " + std::to_string(split.scenes.size()) + " | " +
            std::to_string(split.samples.size()) + " | `" + split.name + ".txt` |\n";
  card += "\nLayout: `" + o.layout + "`. ";
  if (sceneflow) {
    card +=
        "FlyingThings3D's tree: `frames_cleanpass/`, `frames_finalpass/`, `disparity/`, `optical_flow/`, "
        "`disparity_change/` and `camera_data/`, each with `TRAIN/A/NNNN/` and `TEST/A/NNNN/` (each split numbered "
        "from 0). `camera_data.txt`: per frame `Frame N`, then `L` and `R` with the camera-to-world matrix "
        "(16 numbers, row by row; camera axes x right, y down, z forward). The sequences' own files (`meta.json`, "
        "`calib.txt`, poses) are in `N/` for TRAIN and `TEST@A@N/` for TEST.\n";
  } else if (kitti) {
    card +=
        "KITTI 2015's names: `training/` with `image_2/`, `image_3/` (`NNNNNN_10.png` and `NNNNNN_11.png`, the "
        "next frame), `disp_occ_0/`, `disp_noc_0/`, `disp_occ_1/`, `disp_noc_1/`, `flow_occ/`, `flow_noc/`, "
        "`calib_cam_to_cam/`; `testing/` with the images and calibration only. Indices run through the split; "
        "only frames that have a next frame are pairs. `training_map.txt` and `testing_map.txt`: index, sequence, "
        "frame. The rendered sequences (with the test set's ground truth) are in `sequences/`.\n";
  } else {
    card +=
        "MiddEval3's names: `MiddEval3/trainingF/SeqNNNNFrameFFFF/` with `im0.png`, `im1.png`, `disp0GT.pfm`, "
        "`disp1GT.pfm`, `mask0nocc.png` (255 visible in the right view, 128 occluded, 0 no ground truth), "
        "`mask1nocc.png`, `calib.txt`; `MiddEval3/testF/` with the images and calib.txt only; "
        "`MiddEval3/official_train.txt` lists the training scenes. ";
    if (o.middleburySizes.size() > 1)
      card += std::string("The sizes ") + o.middleburySizes + " (full; half and quarter of each side, rounded) are in "
              "`trainingF/`, `trainingH/`, `trainingQ/` (and `testF/`...) with the same scene names; H and Q are the "
              "scenes rendered at that size, not downsampled, so each has the exact ground truth of its own pixels "
              "(disparities a half and a quarter of F's). ";
    card += "The rendered sequences (with the test set's ground truth) are in `sequences/`.\n";
  }
  card +=
      "\nConventions: disparity in pixels, positive (d = B·F/z); flow in pixels, u right, v down, to the next "
      "frame (into_future) or the previous one (into_past); the centre of the top-left pixel is (0, 0). "
      "No ground truth is marked, by file kind: disparity PFM +inf; 16-bit KITTI disparity PNG 0; KITTI flow PNG "
      "valid bit 0; scene-flow flow PFM 1e10 in u and v (finite: loaders take |flow| >= 1000 as invalid); "
      "disparity change PFM +inf; occlusion masks 0 (255 visible in the other view, 128 occluded).\n";
  if (failed == 0) {
    card += StatisticsSection(splits, o.layout != "middlebury", kitti ? o.frames - 1 : o.frames, o.out);
  } else {
    card += "\nStatistics: none, as " + std::to_string(failed) + " of the splits' batches failed (run the command again).\n";
  }
  return card;
}

// The files over the benchmark's tree: MiddEval3's official_train.txt,
// KITTI's index maps, splits.json (each split's sequence folders, for readers
// of the root such as tovimar.torch.RenderedFolder(root, split=...)) and the
// splits' list files.
void WriteIndexFiles(const DatasetOptions& o, const Split (&splits)[2], const std::string (&kittiMap)[2]) {
  const std::string& out = o.out;
  if (o.layout == "middlebury") {
    // The training scenes' names, which loaders such as RAFT-Stereo's filter trainingF by.
    std::string names;
    for (const std::string& sample : splits[0].samples) names += fs::path(sample).filename().string() + "\n";
    WriteText(out + "/MiddEval3/official_train.txt", names);
  }
  if (o.layout == "kitti") {
    for (int s = 0; s < 2; ++s)
      if (!splits[s].scenes.empty())
        WriteText(out + "/" + splits[s].folder + "_map.txt", "# index sequence frame\n" + kittiMap[s]);
  }
  nlohmann::ordered_json index = {{"layout", o.layout}};
  for (const Split& split : splits) {
    nlohmann::json folders = nlohmann::json::array();
    for (const std::string& dir : split.sequences)
      folders.push_back(fs::path(dir).parent_path().lexically_relative(out).generic_string());
    index[split.name] = folders;
  }
  WriteText(out + "/splits.json", index.dump(2) + "\n");
  for (const Split& split : splits) {
    std::string list;
    for (const std::string& sample : split.samples) list += sample + "\n";
    WriteText(out + "/" + split.name + ".txt", list);
  }
}

int Run(const DatasetOptions& o, std::FILE* err) {
  const std::string out = o.out;
  // The scenes, the same bytes on every run of the command.
  const std::string sceneDir = out + "/scenes";
  tovimar::scenegen::GeneratorOptions gen;
  try {
    gen = tovimar::scenegen::ParseArguments({"--preset", o.preset, "--seed", o.seed, "--count",
                                             std::to_string(o.count), "--frames", std::to_string(o.frames), "--out",
                                             sceneDir, "--quiet"});
  } catch (const tovimar::scenegen::OptionError& e) {
    throw UsageError(e.what());
  }
  fs::create_directories(out);
  tovimar::scenegen::WriteScenes(gen);
  const bool sceneflow = o.layout == "sceneflow", kitti = o.layout == "kitti";
  const int trainCount = static_cast<int>(std::lround(o.count * o.trainShare));
  Split splits[2] = {{"train", sceneflow ? "TRAIN/A" : kitti ? "training" : "MiddEval3/trainingF", {}, {}, {}},
                     {"test", sceneflow ? "TEST/A" : kitti ? "testing" : "MiddEval3/testF", {}, {}, {}}};
  for (int k = 0; k < o.count; ++k)
    splits[k < trainCount ? 0 : 1].scenes.push_back(sceneDir + "/" + tovimar::scenegen::SceneFileName(k));

  const std::string outputs = sceneflow ? "png,pfm,flow" : kitti ? "png,kitti,masks,flow" : "png,pfm,masks";
  int failed = 0;
  int kittiIndex[2] = {0, 0};
  std::string kittiMap[2];
  for (int s = 0; s < 2; ++s) {
    Split& split = splits[s];
    if (split.scenes.empty()) continue;
    // Scene flow: the tree in the root, each split's sequence files in its
    // own folders; the others: the sequences under sequences/<split>/.
    const std::string root = sceneflow ? out : out + "/sequences/" + split.name;
    std::vector<std::string> args{"-q", "--layout", o.layout, "--outputs", outputs,
                                  "-r", o.resolution, "-o", root, "--shard", "0/1"};
    if (sceneflow) {
      args.push_back("--split");
      args.push_back(split.folder);
    }
    const std::size_t optionCount = args.size();
    for (const std::string& scene : split.scenes) args.push_back(scene);
    tovimar::cli::CliOptions cli = tovimar::cli::ParseCommandLine(args);
    cli.Check();
    if (tovimar::cli::RunBatch(cli, err) != 0) ++failed;
    // The benchmark's tree over the rendered sequences.
    for (std::size_t k = 0; k < split.scenes.size(); ++k) {
      const std::string dir = tovimar::cli::BatchSequenceDirectory(cli, split.scenes[k], k);
      split.sequences.push_back(dir);
      if (sceneflow) {
        AddSceneFlowSequence(o, split, dir, Padded(static_cast<int>(k), 4));
      } else if (kitti) {
        AddKittiSequence(o, split, s == 0, dir, kittiIndex[s], kittiMap[s]);
      } else {
        // MiddEval3: a scene folder per frame.
        for (int f = 0; f < o.frames; ++f) {
          LinkMiddleburyScene(dir, f, out + "/" + split.folder + "/" + MiddleburySceneName(k, f) + "/", s == 0);
          split.samples.push_back(std::string(split.folder) + "/" + MiddleburySceneName(k, f));
        }
      }
    }
    // MiddEval3's half and quarter sizes: the same scenes rendered at that
    // size (each with the exact ground truth of its own pixels) under
    // sequences/<split>-H/ and -Q/, linked into trainingH/ and trainingQ/.
    for (const char size : o.middleburySizes.substr(1)) {
      args.resize(optionCount);
      args[6] = MiddleburyResolution(o.resolution, size);
      args[8] = root + "-" + size;
      for (const std::string& scene : split.scenes)
        args.push_back(SceneWithFocalDividedBy(scene, sceneDir + "-" + size, size == 'H' ? 2 : 4));
      tovimar::cli::CliOptions sized = tovimar::cli::ParseCommandLine(args);
      sized.Check();
      if (tovimar::cli::RunBatch(sized, err) != 0) ++failed;
      const std::string folder = std::string(split.folder).substr(0, std::string(split.folder).size() - 1) + size;
      for (std::size_t k = 0; k < split.scenes.size(); ++k) {
        const std::string dir = tovimar::cli::BatchSequenceDirectory(sized, split.scenes[k], k);
        for (int f = 0; f < o.frames; ++f)
          LinkMiddleburyScene(dir, f, out + "/" + folder + "/" + MiddleburySceneName(k, f) + "/", s == 0);
      }
    }
  }
  WriteIndexFiles(o, splits, kittiMap);
  WriteText(out + "/README.md", DatasetCard(o, splits, failed));
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  DatasetOptions o;
  try {
    o = Parse(args);
  } catch (const UsageError& e) {
    if (*e.what() == '\0') {
      std::fputs(kUsage, stdout);
      return 0;
    }
    std::fprintf(stderr, "tovimar-dataset: %s\n%s", e.what(), kUsage);
    return 2;
  }
  try {
    return Run(o, stderr);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "tovimar-dataset: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tovimar-dataset: %s\n", e.what());
    return 1;
  }
}

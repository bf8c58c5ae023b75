#include "eval/tool.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>

#include "eval/evaluate.h"
#include "eval/flow.h"
#include "eval/flow_pictures.h"
#include "eval/match.h"
#include "eval/report.h"
#include "base/error.h"
#include "io/file.h"
#include "layout/file_names.h"

namespace tovimar::eval {

std::string EvalUsage() {
  return R"(Usage: tovimar-eval [options] GT_DIR PRED_DIR

Compares predicted disparities of one camera (PRED_DIR) with a sequence's
ground truth (GT_DIR) and prints the figures per frame and for the sequence.

GT_DIR layouts (detected, or --layout):
  classic     a tovimar-render directory: lbindisp_NNNN.dat or ldisp_NNNN.pfm
              (PFM preferred), lmask_NNNN.png, seg_l_NNNN.bmp (right camera:
              bindisp_, disp_, mask_, seg_r_)
  middlebury  trainingF/NNNN/disp0GT.pfm, disp1GT.pfm, mask0nocc.png, mask1nocc.png
  kitti       disp_occ_0/NNNNNN_10.png, disp_noc_0/ (right camera: disp_occ_right/, disp_noc_right/)
  sceneflow   ../disparity/SPLIT/NNNN/left/FFFF.pfm (right/: right camera)
PRED_DIR: .pfm, 16-bit .png (value / --scale, 0 = none) or .dat files; a file
belongs to the frame given by the last run of digits in its name.

Ground truth: a pixel counts when its disparity is finite and > 0 and its mask
(when there is one) is not 0. In the classic layout every pixel has a
disparity (the background lies at the far plane), so without a mask every
pixel counts. Masks: 255 non-occluded, 128 occluded, 0 no ground truth.
Regions: all; nonoccluded and occluded (with masks); id:N per object id
(classic layout, grey segmentation maps; palette maps are skipped with a note).
Invalid predictions (NaN, inf, <= 0):
  fill     replaced by the nearest valid value to the left in the row, else
           to the right, else 0, and counted (Middlebury's rule)
  exclude  left out; density shows the share of ground-truth pixels with a
           valid prediction
Figures: EPE (mean absolute error, px), RMSE, bad-0.5/1/2/4 (% of errors
above the threshold), D1 (% of errors > 3 px and > 5% of the true value),
A50/A90/A95/A99 (error quantiles; exact per frame, to 1/512 px for the
sequence), density (%).

Options:
      --task stereo|flow|sceneflow
                                what is evaluated (default stereo; see below)
  -c, --camera left|right       the camera predicted (default left)
      --layout classic|middlebury|kitti|sceneflow   the GT_DIR layout (default: detected)
      --scale S                 16-bit PNG predictions hold round(S * d)
                                (256 KITTI, 16 OpenCV fixed point; default 256)
      --invalid fill|exclude    rule for invalid predictions (default fill)
      --json FILE               all figures as JSON
      --csv FILE                all figures as CSV
      --images DIR              error_NNNN.png per frame and plot.png (EPE and
                                bad-2 over the sequence); with --task flow or
                                sceneflow flow_NNNN.png, flow_gt_NNNN.png (the
                                Middlebury colour coding, flow_legend.png its
                                wheel), flow_error_NNNN.png and plot.png (EPE
                                and Fl-all)
      --match sgbm|bm           first compute a baseline with OpenCV's StereoSGBM
                                or StereoBM on each frame's image pair and write
                                it to PRED_DIR as pred_NNNN.pfm (numDisparities =
                                ndisp of calib.txt, else 64, rounded up to a
                                multiple of 16; block size 5; P1 = 8*3*25,
                                P2 = 32*3*25; the right camera is matched on the
                                mirrored pair); with --task flow, dis or
                                farneback: OpenCV's DISOpticalFlow (PRESET_MEDIUM)
                                or calcOpticalFlowFarneback (0.5, 3, 15, 3, 5,
                                1.2) on the camera's grey images of each frame
                                and the next, written as PRED_DIR/flow_NNNN.flo;
                                with --task sceneflow a disparity matcher, a
                                flow matcher or one of each (the other is sgbm
                                or dis): PRED_DIR/flow/flow_NNNN.flo, the
                                frame's disparity as disp_0/pred_NNNN.pfm and
                                the next frame's, read where the flow points
                                (nearest pixel), as disp_1/pred_NNNN.pfm
  -h, --help                    this text

--task flow: PRED_DIR holds the flow to the next frame as .flo, KITTI flow PNG
(16-bit RGB, (value - 2^15) / 64, blue = valid) or PFM (u, v[, ignored]).
Ground truth: lflow_NNNN.flo with lflowmask_NNNN.png (right camera flow_,
flowmask_); KITTI flow_occ/ and flow_noc/; sceneflow optical_flow/.../
into_future/. Figures: EPE (mean end-point error, px), Fl (% of pixels
whose end-point error is > 3 px and > 5% of the true flow's length) and
A50/A90/A95/A99 (end-point error quantiles, as for disparity) on all,
nonoccluded (visible at the next frame; Sintel's "matched") and occluded
("unmatched") pixels, and bg / fg (the id map ids16: fg = ids that a MOVE
line of the sequence's scene.txt moves).
--task sceneflow: PRED_DIR/flow/ as above, PRED_DIR/disp_0/ (disparity) and
PRED_DIR/disp_1/ (disparity at the next frame of the same pixels), as KITTI
2015's submissions. D1, D2, Fl: KITTI's outliers of each; SF: pixels with all
three ground truths that are an outlier in any. Ground truth of the next
frame's disparity: disparity + ldispchange_NNNN.pfm, KITTI disp_occ_1/,
sceneflow disparity_change/.../into_future/.

Exit codes: 0 every frame evaluated, 1 some frames could not be read or
matched, or have no valid ground-truth pixel (each is named, the others are
evaluated), or an output could not be written, 2 bad options.
)";
}

namespace {

struct ToolOptions {
  std::string groundTruth, predictions;
  Camera camera = Camera::Left;
  std::optional<Layout> layout;
  EvalOptions eval;
  std::string json, csv, images;
  std::optional<Matcher> match;
  std::optional<FlowMatcher> flowMatch;
  std::optional<FlowTask> task;  // nothing: stereo
  bool help = false;
};

// "" or what is wrong with the options.
std::string Parse(const std::vector<std::string>& args, ToolOptions& o) {
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&](std::string& v) -> bool {
      if (i + 1 >= args.size()) return false;
      v = args[++i];
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      o.help = true;
    } else if (a == "-c" || a == "--camera") {
      if (!value(v) || (v != "left" && v != "right")) return "--camera takes left or right";
      o.camera = v == "right" ? Camera::Right : Camera::Left;
    } else if (a == "--layout") {
      if (!value(v)) return "--layout takes classic, middlebury, kitti or sceneflow";
      if (v == "classic") o.layout = Layout::Classic;
      else if (v == "middlebury") o.layout = Layout::Middlebury;
      else if (v == "kitti") o.layout = Layout::Kitti;
      else if (v == "sceneflow") o.layout = Layout::SceneFlow;
      else return "--layout takes classic, middlebury, kitti or sceneflow";
    } else if (a == "--scale") {
      double s = 0;
      if (!value(v)) return "--scale takes a positive number";
      const auto r = std::from_chars(v.data(), v.data() + v.size(), s);
      if (r.ec != std::errc{} || r.ptr != v.data() + v.size() || !std::isfinite(s) || s <= 0)
        return "--scale takes a positive number, not '" + v + "'";
      o.eval.pngScale = s;
    } else if (a == "--invalid") {
      if (!value(v) || (v != "fill" && v != "exclude")) return "--invalid takes fill or exclude";
      o.eval.invalid = v == "fill" ? InvalidRule::Fill : InvalidRule::Exclude;
    } else if (a == "--json" || a == "--csv" || a == "--images") {
      if (!value(v) || v.empty()) return a + " takes a path";
      (a == "--json" ? o.json : a == "--csv" ? o.csv : o.images) = v;
    } else if (a == "--task") {
      if (!value(v) || (v != "stereo" && v != "flow" && v != "sceneflow")) return "--task takes stereo, flow or sceneflow";
      if (v == "stereo") o.task.reset();
      else o.task = v == "flow" ? FlowTask::Flow : FlowTask::SceneFlow;
    } else if (a == "--match") {
      if (!value(v) || (v != "sgbm" && v != "bm" && v != "dis" && v != "farneback"))
        return "--match takes sgbm or bm (stereo), dis or farneback (flow), or both kinds (scene flow)";
      if (v == "sgbm" || v == "bm") o.match = v == "sgbm" ? Matcher::Sgbm : Matcher::Bm;
      else o.flowMatch = v == "dis" ? FlowMatcher::Dis : FlowMatcher::Farneback;
    } else if (a.size() > 1 && a[0] == '-') {
      return "unknown option " + a;
    } else {
      positional.push_back(a);
    }
  }
  if (o.help) return {};
  if (positional.size() != 2) return "expected GT_DIR and PRED_DIR";
  o.groundTruth = positional[0];
  o.predictions = positional[1];
  if (o.task == FlowTask::Flow && o.match) return "--match sgbm|bm is for --task stereo or sceneflow";
  if (!o.task && o.flowMatch) return "--match dis|farneback is for --task flow or sceneflow";
  return {};
}

std::string InFolder(const std::string& folder, const std::string& name) {
  return (std::filesystem::path(folder) / name).string();
}

// The --images folder. A picture that cannot be written is kept as a
// failure to name at the end, and loses nothing else.
class Pictures {
 public:
  explicit Pictures(std::string folder) : folder_(std::move(folder)) {}
  // Runs write(folder) when there is a folder.
  void Write(const std::function<void(const std::string&)>& write) {
    if (folder_.empty()) return;
    try {
      write(folder_);
    } catch (const std::exception& e) {
      failures_.push_back(e.what());
    }
  }
  const std::vector<std::string>& Failures() const { return failures_; }

 private:
  std::string folder_;
  std::vector<std::string> failures_;
};

// Names each failure; true when there was none.
bool NameFailures(const std::vector<std::string>& failures, std::ostream& err) {
  for (const std::string& failure : failures) err << "tovimar-eval: " << failure << "\n";
  return failures.empty();
}

// The end of either task: the frames not evaluated and the pictures not
// written are named, the reports written; the exit code.
template <typename Result>
int Finish(const Result& result, bool matched, const Pictures& pictures, const ToolOptions& o,
           std::string (*toJson)(const Result&), std::string (*toCsv)(const Result&), std::ostream& err) {
  for (const auto& f : result.frames) {
    if (!f.error.empty()) err << "tovimar-eval: frame " << f.frame << ": " << f.error << "\n";
  }
  const bool picturesWritten = NameFailures(pictures.Failures(), err);
  if (!o.json.empty()) {
    const std::string text = toJson(result);
    WriteWholeFile(o.json, text.data(), text.size());
  }
  if (!o.csv.empty()) {
    const std::string text = toCsv(result);
    WriteWholeFile(o.csv, text.data(), text.size());
  }
  return matched && picturesWritten && result.AllRead() ? 0 : 1;
}

int RunFlowTask(const Dataset& dataset, const ToolOptions& o, std::ostream& out, std::ostream& err) {
  bool matched = true;
  if (*o.task == FlowTask::SceneFlow && (o.match || o.flowMatch)) {
    matched = NameFailures(MatchSceneFlowSequence(dataset, o.match.value_or(Matcher::Sgbm),
                                                  o.flowMatch.value_or(FlowMatcher::Dis), o.predictions),
                           err);
  } else if (o.flowMatch) {
    matched = NameFailures(MatchFlowSequence(dataset, *o.flowMatch, o.predictions), err);
  }
  Pictures pictures(o.images);
  const FlowEvalResult result =
      EvaluateFlow(dataset, o.predictions, *o.task, o.eval, [&](const FlowGroundTruth& gt, const FlowMap& flow) {
        pictures.Write([&](const std::string& folder) { WriteFlowPictures(gt, flow, folder); });
      });
  PrintFlowTable(result, out);
  pictures.Write([&](const std::string& folder) {
    std::vector<PlotPoint> points;
    for (const FlowFrameResult& f : result.frames) {
      for (const auto& [name, m] : f.regions) {
        if (name == "all") points.push_back({f.frame, m.epe, m.fl});
      }
    }
    WritePlot(points, "Fl-all (%)", InFolder(folder, "plot.png"));
    WriteFlowLegend(InFolder(folder, "flow_legend.png"));
  });
  return Finish(result, matched, pictures, o, &FlowToJson, &FlowToCsv, err);
}

int RunStereoTask(const Dataset& dataset, const ToolOptions& o, std::ostream& out, std::ostream& err) {
  const bool matched = !o.match || NameFailures(MatchSequence(dataset, *o.match, o.predictions), err);
  Pictures pictures(o.images);
  const EvalResult result = Evaluate(dataset, o.predictions, o.eval, [&](const FrameResult& f) {
    if (!f.error.empty()) return;
    pictures.Write([&](const std::string& folder) {
      WriteErrorPicture(f, InFolder(folder, "error_" + FrameNumber(f.frame) + ".png"));
    });
  });
  PrintTable(result, out);
  pictures.Write([&](const std::string& folder) { WritePlot(result, InFolder(folder, "plot.png")); });
  return Finish(result, matched, pictures, o, &ToJson, &ToCsv, err);
}

}  // namespace

int RunEvalTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ToolOptions o;
  const std::string bad = Parse(args, o);
  if (!bad.empty()) {
    err << "tovimar-eval: " << bad << "\nTry 'tovimar-eval --help'.\n";
    return 2;
  }
  if (o.help) {
    out << EvalUsage();
    return 0;
  }
  try {
    const Dataset dataset = Dataset::Open(o.groundTruth, o.camera, o.layout ? &*o.layout : nullptr);
    if (!o.images.empty()) {
      std::error_code ec;
      std::filesystem::create_directories(o.images, ec);
      if (ec) throw Error("Cannot create directory " + o.images + ": " + ec.message());
    }
    return o.task ? RunFlowTask(dataset, o, out, err) : RunStereoTask(dataset, o, out, err);
  } catch (const Error& e) {
    err << "tovimar-eval: " << e.message() << "\n";
    return 1;
  } catch (const std::bad_alloc&) {
    err << "tovimar-eval: out of memory\n";
    return 1;
  } catch (const std::exception& e) {
    // OpenCV's and the standard library's failures end the run with a message, never an abort.
    err << "tovimar-eval: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace tovimar::eval

#pragma once
// Ground truth and predictions on disk: the three directory layouts the
// evaluator reads, the frames they hold, and one frame's maps.
//
// classic: a Tovimar run directory. Left camera: lbindisp_NNNN.dat (or
//   ldisp_NNNN.pfm, preferred when present), lmask_NNNN.png, seg_l_NNNN.bmp,
//   images left_NNNN.bmp / right_NNNN.bmp; right camera: bindisp_NNNN.dat,
//   disp_NNNN.pfm, mask_NNNN.png, seg_r_NNNN.bmp.
// middlebury: trainingF/NNNN/disp0GT.pfm, disp1GT.pfm (inf = no ground
//   truth), mask0nocc.png, mask1nocc.png, im0.png, im1.png, calib.txt.
// kitti: disp_occ_0/NNNNNN_10.png (16-bit, round(256 d), 0 = none),
//   disp_noc_0/ (non-occluded only), disp_occ_right/ and disp_noc_right/ for
//   the right camera, image_2/ and image_3/.
// sceneflow: a sequence folder whose frames are in the scene-flow tree
//   beside it: disparity/SPLIT/NNNN/{left,right}/FFFF.pfm (inf = none) and
//   frames_finalpass/ for the images; no masks.
// The names are layout/file_names.h's.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "io/disparity_text.h"
#include "io/size_check.h"
#include "layout/file_names.h"

namespace tovimar::eval {

enum class Layout { Classic, Middlebury, Kitti, SceneFlow };
enum class Camera { Left, Right };

const char* LayoutName(Layout layout);

// A disparity map, top row first; NaN marks pixels without a value.
using DisparityMap = DisparityText;  // io/disparity_text.h

// Occlusion classes of ground-truth pixels.
inline constexpr uint8_t kNoGroundTruth = 0;
inline constexpr uint8_t kOccluded = 1;
inline constexpr uint8_t kNonOccluded = 2;
// Segmentation value of pixels without an object.
inline constexpr int16_t kUnlabelled = -1;

// One frame's ground truth. A pixel has ground truth when its disparity is
// finite and > 0 and its mask (when there is one) is not 0.
struct GroundTruthFrame {
  int frame = 0;
  DisparityMap disparity;          // NaN where there is no ground truth
  std::vector<uint8_t> occlusion;  // per pixel class; empty when there is no mask
  std::vector<int16_t> ids;        // object id per pixel (kUnlabelled); empty when none
  std::vector<std::string> notes;  // what could not be used, and why
};

class Dataset {
 public:
  // Reads the directory listing; layout detected when not given. Throws
  // Error naming the directory when it holds no frames of the camera.
  static Dataset Open(const std::string& dir, Camera camera, const Layout* forced = nullptr);

  Layout layout() const { return layout_; }
  Camera camera() const { return camera_; }
  const std::vector<int>& Frames() const { return frames_; }

  // Throws Error naming the file that is missing, unreadable or of another size.
  GroundTruthFrame Load(int frame) const;

  // The same directory's ground truth of the other camera, in the same
  // layout; nothing when it has none.
  std::optional<Dataset> OtherCamera() const;

  // The stereo pair of a frame (left, right image paths; in the classic
  // layout the BMPs, or the PNGs where no BMP was written) and the disparity
  // range for matching: ndisp from a calib.txt "ndisp=N" line, else 64.
  std::pair<std::string, std::string> ImagePair(int frame) const;
  int NumDisparities(int frame) const;

  // The sequence folder.
  const std::string& Directory() const { return dir_; }
  // A frame's file names of a camera in the dataset's layout; in the
  // scene-flow layout with the split and frame-number width of the frame's
  // disparity file as found.
  DatasetFileNames FileNames(bool right, int frame) const;

 private:
  std::string FrameName(int frame) const;
  std::string dir_;
  Layout layout_ = Layout::Classic;
  Camera camera_ = Camera::Left;
  std::vector<int> frames_;
  std::map<int, std::string> sceneFlowDisparity_;  // frame -> its disparity file (scene-flow layout)
};

// Whether a file that a frame may have is there: false when nothing has its
// name; throws Error naming it when something other than a regular file
// does (a folder, a FIFO, a device), rather than taking it as absent.
bool OptionalFilePresent(const std::string& path);

// A mask's classes: 255 kNonOccluded (visible in the other view, or at the
// next frame for a flow mask), 128 kOccluded, 0 kNoGroundTruth; any other
// value, or another kind of PNG, is an Error naming the file. check sees the
// header's size before the pixels are read.
std::vector<uint8_t> ReadMaskClasses(const std::string& path, const HeaderSizeCheck& check);

// The number of the last run of digits in a file name's stem, or -1; in
// KITTI's names ("000007_10.png") the number before "_10".
int FrameOfName(const std::string& name);

// Predictions of one directory: frame -> file (.pfm, .png or .dat). When two
// files give one frame, PFM wins over PNG over .dat and a note says so.
// extensions: the accepted ones, the preferred first. A folder that does not
// exist or cannot be listed is an Error naming it and the cause.
std::map<int, std::string> FindPredictions(const std::string& dir, std::vector<std::string>& notes,
                                           const std::vector<std::string>& extensions = {".pfm", ".png", ".dat"});

// Reads a prediction: PFM (channel 1), 16-bit grey PNG divided by scale (0 =
// none) or disparity text. Invalid values are kept as they are. Throws Error
// naming the file. With a width (> 0) and height, a file of another size is
// refused from its header, before its pixels are read.
DisparityMap ReadPrediction(const std::string& path, double pngScale, int width = 0, int height = 0);

}  // namespace tovimar::eval

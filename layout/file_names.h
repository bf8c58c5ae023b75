#pragma once
// Every file name of every layout, defined once, both ways: the names a run
// gives its files (the classic five per frame, the dataset products in the
// classic, Middlebury, KITTI and scene-flow layouts, scene flow, the sequence's own
// files), and from a name back to its frame and camera. The scene-flow
// layout's tree sits beside the sequence folders, in the output root. The writers, --clean,
// --force, resume, the note about earlier frames, the evaluator and the
// desktop's views all name files through here.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tovimar {

inline constexpr char kPathSeparator = '/';

enum class DatasetLayout { Classic, Middlebury, Kitti, SceneFlow };

// The scene-flow layout's split folder when no other is chosen.
inline constexpr const char* kDefaultSceneFlowSplit = "TRAIN/A";
// How the scene-flow layout spells a run's names: its split folder (two
// names, "TRAIN/A") and the width of its frame numbers, at least 4 and wide
// enough for the run's last frame (SceneFlowFrameDigits).
struct SceneFlowNaming {
  std::string split = kDefaultSceneFlowSplit;
  int frameDigits = 4;
};
// The frame number width of a run of frameCount frames: 4, or the width of
// its last frame's number.
int SceneFlowFrameDigits(int64_t frameCount);
// The sequence folder of a run in another split than TRAIN/A: a folder of its
// own beside the others, "S1@S2@NAME" ("out/3/", "TEST/A" -> "out/TEST@A@3/"),
// so that each split numbers its scenes from 0 and no split's run touches
// another's sequence files; TRAIN/A keeps "out/3/". A split's folder names
// hold no '@' (ParseSplit).
std::string SplitSequenceDirectory(const std::string& directory, const std::string& split);
// The split a sequence folder belongs to: "S1/S2" of an "S1@S2@NAME" folder,
// else TRAIN/A.
std::string SceneFlowSplitOf(const std::string& directory);
// The scene folder name of a sequence folder: its name (after a split's
// "S1@S2@"), zero-padded to four digits when it is a number ("/out/3/" ->
// "0003", "/out/TEST@A@3/" -> "0003").
std::string SceneFlowScene(const std::string& directory);

// The folder a sequence folder sits in, the output root, where the
// scene-flow tree is: "out/3/" -> "out", "3/" -> ".".
std::string SequenceRoot(const std::string& directory);
// Another folder beside the sequence folder whose name differs but gives the
// same scene folder in the scene-flow tree ("out/5/", "out/05/" and
// "out/0005/" all give 0005) and which holds a run's meta.json: its path
// ("out/0005"), or "" when there is none.
std::string SceneFlowSceneSharer(const std::string& directory);
// True when the scene-flow tree beside the sequence folder has a folder of
// its scene (under any product and split).
bool SceneFlowTreeHasScene(const std::string& directory);

// folder + '/' (unless folder is empty or already ends with '/') + decimal
// sequence number + '/'. "/tmp/out", 3 -> "/tmp/out/3/"; "", 3 -> "3/".
std::string OutputDirectory(const std::string& folder, int sequenceNumber);

// Four digits, zero-padded: 0 -> "0000", 123 -> "0123", 9999 -> "9999".
// Past 9999 the number widens instead of wrapping: 10000 -> "10000", so a
// run never overwrites the files of its own earlier frames.
std::string FrameNumber(int32_t frameCounter);
// KITTI's frame names: six digits, widening past 999999.
std::string KittiFrameNumber(int32_t frame);
// KITTI 2015 pairs an index's frame (_10) with the next one (_11) and gives
// it the flow between them, and its loaders take only indices that have
// both: a frame of a run of frameCount frames is an index when a next frame
// follows it. A run of one frame has no second time step at all; its frame
// is an index of its own, a stereo pair without _11 or flow.
inline bool IsKittiIndex(int64_t frame, int64_t frameCount) { return frame + 1 < frameCount || frameCount == 1; }

// The sequence's own files, in the sequence folder whatever the layout.
inline constexpr const char* kManifestFileName = "meta.json";
inline constexpr const char* kSceneCopyFileName = "scene.txt";
inline constexpr const char* kCalibrationFileName = "calib.txt";  // also each Middlebury frame folder's
// KITTI layout: the sequence folder's calib.txt is in KITTI's odometry form
// (P0: to P3:, Tr:), beside times.txt and poses.txt (the left camera's poses
// relative to its first, as KITTI's odometry has them); the Middlebury-form
// calibration is under its own name.
inline constexpr const char* kMiddleburyCalibrationFileName = "calib_middlebury.txt";
inline constexpr const char* kOdometryTimesFileName = "times.txt";
inline constexpr const char* kOdometryPosesFileName = "poses.txt";
// KITTI layout: the same files as KITTI's odometry names them, in a tree of
// their own in the sequence folder (pykitti.odometry("DIR/N/odometry", "00")):
// one image per frame, odometry/sequences/00/image_2/NNNNNN.png (image_3/ for
// the right camera, hard links to the KITTI 2015 images where there are
// some), so that image i is pose i.
inline constexpr const char* kOdometrySequenceCalibrationFileName = "odometry/sequences/00/calib.txt";
inline constexpr const char* kOdometrySequenceTimesFileName = "odometry/sequences/00/times.txt";
inline constexpr const char* kOdometrySequencePosesFileName = "odometry/poses/00.txt";
// What runs of earlier versions wrote for the KITTI layout (now one
// calib_cam_to_cam/NNNNNN.txt per frame); still removed with a sequence's files.
inline constexpr const char* kKittiCalibrationFileName = "calib_cam_to_cam.txt";
// Classic layout: float disparities kept for the other camera's masks until
// they are made.
inline constexpr const char* kScratchFolderName = ".scratch/";
// Read from the current folder by the AVI export when present.
inline constexpr const char* kSoundFileName = "wav.wav";
std::string PosesFileName(bool rightCamera);  // "poses_left.txt" / "poses_right.txt"
std::string AviFileName(bool rightCamera);    // "L.avi" / "P.avi"

// The five classic files of one frame of one camera, full paths, in writing order.
struct FrameFileNames {
  std::string cameraImage;    // "left_NNNN.bmp"     / "right_NNNN.bmp"
  std::string subPixelMap;    // "ldisp_NNNN.bmp"    / "disp_NNNN.bmp"
  std::string pixelMap;       // "ldisp_p_NNNN.bmp"  / "disp_p_NNNN.bmp"
  std::string disparityText;  // "lbindisp_NNNN.dat" / "bindisp_NNNN.dat"
  std::string segmentation;   // "seg_l_NNNN.bmp"    / "seg_r_NNNN.bmp"
};

// directory: an OutputDirectory result (ending in the separator).
FrameFileNames MakeFrameFileNames(const std::string& directory, bool rightCamera, int32_t frameCounter);

// Bare name of a camera image, "left_0007.bmp" / "right_0007.bmp" (the AVI
// export reads the images back by this name).
std::string CameraImageName(bool rightCamera, int32_t frameCounter);

// File names of one camera's dataset products of one frame in a layout.
// Names that a layout does not have are empty. directory: the sequence
// folder, ending in '/'. The scene-flow layout's names start with "../":
// its tree is in the output root.
struct DatasetFileNames {
  std::string frameFolder;     // Middlebury: the frame's own folder "trainingF/NNNN/"; else empty
  std::string frameCalibration;  // Middlebury: trainingF/NNNN/calib.txt (left camera); KITTI: calib_cam_to_cam/
  std::string disparityPfm;    // ldisp_NNNN.pfm / disp_NNNN.pfm; disp0GT.pfm / disp1GT.pfm; disparity/.../FFFF.pfm
  std::string depthPfm;        // ldepth_NNNN.pfm / depth_NNNN.pfm
  std::string disparity16;     // ldisp16_NNNN.png / disp16_NNNN.png; disp_occ_0/NNNNNN_10.png / disp_occ_right/
  std::string disparityNoc16;  // KITTI: disp_noc_0/NNNNNN_10.png / disp_noc_right/
  std::string imagePng;        // left_NNNN.png / right_NNNN.png; im0.png / im1.png; image_2/ / image_3/
                               // NNNNNN_10.png; frames_finalpass/.../{left,right}/FFFF.png
  std::string cleanImagePng;   // scene flow: frames_cleanpass/.../{left,right}/FFFF.png
  std::string mask;            // lmask_NNNN.png / mask_NNNN.png; mask0nocc.png / mask1nocc.png
  std::string scratchPfm;      // classic: .scratch/ldisp_NNNN.pfm / .scratch/disp_NNNN.pfm
  // Scene flow to the next frame, in the sequence folder in the classic,
  // Middlebury and KITTI layouts.
  std::string flowFlo;          // lflow_NNNN.flo / flow_NNNN.flo
  std::string flow16;           // lflow16_NNNN.png / flow16_NNNN.png; KITTI left: flow_occ/NNNNNN_10.png
  std::string disparityChange;  // ldispchange_NNNN.pfm / dispchange_NNNN.pfm; disparity_change/.../into_future/
  std::string flowMask;         // lflowmask_NNNN.png / flowmask_NNNN.png
  // KITTI's second time step of the left camera: the frame after as
  // image_2/NNNNNN_11.png (image_3/ for the right camera), disp_occ_1/ and
  // disp_noc_1/ (disparity at the next frame at this frame's pixels), flow_noc/.
  std::string nextImagePng;
  std::string nextDisparity16;
  std::string nextDisparityNoc16;
  std::string flowNoc16;
  // KITTI's odometry names: odometry/sequences/00/image_2/NNNNNN.png / image_3/.
  std::string odometryImagePng;
  // Scene flow layout: flow to the next and to the previous frame (3-channel
  // PFM), and the disparity change to the previous frame.
  std::string flowFuturePfm;  // optical_flow/.../into_future/left/OpticalFlowIntoFuture_FFFF_L.pfm
  std::string flowPastPfm;    // optical_flow/.../into_past/left/OpticalFlowIntoPast_FFFF_L.pfm
  std::string disparityChangePast;  // disparity_change/.../into_past/left/FFFF.pfm
  // The 16-bit id map: lids16_NNNN.png / ids16_NNNN.png in the sequence
  // folder; scene flow: object_ids/.../{left,right}/FFFF.png.
  std::string ids16;
};
DatasetFileNames MakeDatasetFileNames(const std::string& directory, DatasetLayout layout, bool rightCamera,
                                      int32_t frame, const SceneFlowNaming& sceneFlow = {});

// The frame number when name (a bare file name) is one of the five classic
// names of that camera spelt as MakeFrameFileNames spells them
// ("ldisp_p_0012.bmp" -> 12 for the left camera), else -1.
int64_t OutputFrameOfName(const std::string& name, bool rightCamera);

// The frame number when relativePath (inside a sequence folder, '/' between
// folders) is any per-frame file of that camera in any layout and output set
// ("ldisp_0012.pfm", "trainingF/0012/im0.png", "image_2/000012_10.png",
// ".scratch/ldisp_0012.pfm", "lflow_0012.flo"), else -1. Names of the
// scene-flow tree ("../disparity/TRAIN/A/0003/left/0012.pfm", any split)
// count only when scene names their scene folder.
int64_t FrameOfRunFile(std::string_view relativePath, bool rightCamera, std::string_view scene = {});

// True when relativePath (from a sequence folder) leads into the scene-flow
// tree beside it: "../" and one of that tree's top folders, then more.
bool InSceneFlowTree(std::string_view relativePath);

// Full paths of the files in a sequence folder (and its layout folders, and
// its scene folders of the scene-flow tree in the output root) that
// runs of the camera wrote for frames from `fromFrame` on, and the unfinished
// temporary files of any of its per-frame names. Nothing else is listed.
std::vector<std::string> CameraRunFiles(const std::string& directory, bool rightCamera, int64_t fromFrame);

// Every file that runs of either camera write in a sequence folder: both
// cameras' per-frame files, their unfinished temporary files, the AVI files
// and the sequence's own files (manifest, scene copy, calibration, poses),
// never the folder lock. What a fresh start of the sequence removes.
std::vector<std::string> SequenceRunFiles(const std::string& directory);

// A scene's own texture folder, beside it: "dir/scene_000042.txt" gives
// "dir/scene_000042.textures/" (the last extension replaced).
std::string SceneTextureFolder(const std::string& scenePath);
// "tex0.bmp" ... "tex10.bmp": texture n of a texture folder.
std::string TextureFileName(int n);

}  // namespace tovimar

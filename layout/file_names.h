#pragma once
// Every file name of every layout, defined once, both ways: the names a run
// gives its files (the classic five per frame, the dataset products in the
// classic, Middlebury and KITTI layouts, scene flow, the sequence's own
// files), and from a name back to its frame and camera. The writers, --clean,
// --force, resume, the note about earlier frames, the evaluator and the
// desktop's views all name files through here.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tovimar {

inline constexpr char kPathSeparator = '/';

enum class DatasetLayout { Classic, Middlebury, Kitti };

// folder + '/' (unless folder is empty or already ends with '/') + decimal
// sequence number + '/'. "/tmp/out", 3 -> "/tmp/out/3/"; "", 3 -> "3/".
std::string OutputDirectory(const std::string& folder, int sequenceNumber);

// Four digits, zero-padded: 0 -> "0000", 123 -> "0123", 9999 -> "9999".
// Past 9999 the number widens instead of wrapping: 10000 -> "10000", so a
// run never overwrites the files of its own earlier frames.
std::string FrameNumber(int32_t frameCounter);
// KITTI's frame names: six digits, widening past 999999.
std::string KittiFrameNumber(int32_t frame);

// The sequence's own files, in the sequence folder whatever the layout.
inline constexpr const char* kManifestFileName = "meta.json";
inline constexpr const char* kSceneCopyFileName = "scene.txt";
inline constexpr const char* kCalibrationFileName = "calib.txt";  // also each Middlebury frame folder's
inline constexpr const char* kKittiCalibrationFileName = "calib_cam_to_cam.txt";
// KITTI layout: float disparities kept for the other camera's masks.
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
// folder, ending in '/'.
struct DatasetFileNames {
  std::string frameFolder;     // Middlebury: the frame's own folder "NNNN/"; else empty
  std::string frameCalibration;  // Middlebury: NNNN/calib.txt
  std::string disparityPfm;    // ldisp_NNNN.pfm / disp_NNNN.pfm; NNNN/disp0.pfm / disp1.pfm
  std::string depthPfm;        // ldepth_NNNN.pfm / depth_NNNN.pfm
  std::string disparity16;     // ldisp16_NNNN.png / disp16_NNNN.png; disp_occ_0/NNNNNN.png / disp_occ_1/...
  std::string disparityNoc16;  // KITTI: disp_noc_0/NNNNNN.png / disp_noc_1/...
  std::string imagePng;        // left_NNNN.png / right_NNNN.png; im0.png / im1.png; image_2/ / image_3/
  std::string mask;            // lmask_NNNN.png / mask_NNNN.png; mask0nocc.png / mask1nocc.png
  std::string scratchPfm;      // KITTI: .scratch/ldisp_NNNN.pfm / .scratch/disp_NNNN.pfm
  // Scene flow to the next frame, in the sequence folder in every layout.
  std::string flowFlo;          // lflow_NNNN.flo / flow_NNNN.flo
  std::string flow16;           // lflow16_NNNN.png / flow16_NNNN.png
  std::string disparityChange;  // ldispchange_NNNN.pfm / dispchange_NNNN.pfm
  std::string flowMask;         // lflowmask_NNNN.png / flowmask_NNNN.png
};
DatasetFileNames MakeDatasetFileNames(const std::string& directory, DatasetLayout layout, bool rightCamera,
                                      int32_t frame);

// The frame number when name (a bare file name) is one of the five classic
// names of that camera spelt as MakeFrameFileNames spells them
// ("ldisp_p_0012.bmp" -> 12 for the left camera), else -1.
int64_t OutputFrameOfName(const std::string& name, bool rightCamera);

// The frame number when relativePath (inside a sequence folder, '/' between
// folders) is any per-frame file of that camera in any layout and output set
// ("ldisp_0012.pfm", "0012/im0.png", "image_2/000012.png",
// ".scratch/ldisp_0012.pfm", "lflow_0012.flo"), else -1. A Middlebury frame
// folder's calib.txt belongs to both cameras.
int64_t FrameOfRunFile(std::string_view relativePath, bool rightCamera);

// Full paths of the files in a sequence folder (and its layout folders) that
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

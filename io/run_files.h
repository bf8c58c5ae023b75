#pragma once
// Names of a run's files. Layout of a run: OutputDirectory(folder,
// sequenceNumber) holds, per frame and camera, the camera image, the
// sub-pixel and pixel disparity maps, the disparity text file and the
// segmentation map (FrameFileNames). The sequence writers and the AVI export
// both name files through here.
#include <cstdint>
#include <string>

namespace tovimar {

inline constexpr char kPathSeparator = '/';

// folder + '/' (unless folder is empty or already ends with '/') + decimal
// sequence number + '/'. "/tmp/out", 3 -> "/tmp/out/3/"; "", 3 -> "3/".
std::string OutputDirectory(const std::string& folder, int sequenceNumber);

// Four digits, zero-padded: 0 -> "0000", 123 -> "0123", 9999 -> "9999".
// Past 9999 the number widens instead of wrapping: 10000 -> "10000", so a
// run never overwrites the files of its own earlier frames.
std::string FrameNumber(int32_t frameCounter);

// The five files of one frame of one camera, full paths, in writing order.
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

// The frame number when name (a bare file name) is one of the five output
// names of that camera spelt as MakeFrameFileNames spells them
// ("ldisp_p_0012.bmp" -> 12 for the left camera), else -1.
int64_t OutputFrameOfName(const std::string& name, bool rightCamera);

}  // namespace tovimar

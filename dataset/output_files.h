#pragma once
// A run's files: where they go and how they are named (layout/file_names.h), the
// 24-bit BMP writer (io/bmp.h), the disparity text file writer and the writer
// of a frame's five classic files.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/bmp.h"        // BmpImage24, WriteBmp24
#include "io/file.h"       // WriteWholeFile
#include "layout/file_names.h"  // OutputDirectory, FrameNumber, MakeFrameFileNames, CameraImageName

namespace tovimar {

// One single-level directory creation; an existing directory, a missing
// parent or any other failure is ignored (the first file write reports it).
void CreateOutputDirectory(const std::string& directory);

// Removes the files that runs of a camera wrote in a sequence folder: every
// per-frame file of that camera in any output set and layout, of any frame
// number (CameraRunFiles), their unfinished temporary files and the camera's
// AVI. Layout folders left empty go too; nothing else is touched (only plain
// files and links of those names). Used by --clean and when a run is made
// again over a record of other settings. Returns how many files went;
// throws Error("cannot remove PATH: REASON").
std::size_t RemoveCameraRunFiles(const std::string& directory, bool rightCamera);

// Why a run into a sequence folder must not start: another sequence folder
// beside it whose name gives the same scene folder in the scene-flow tree
// (SceneFlowSceneSharer) has runs, and this run writes that tree
// (sceneFlowRun) or the tree already has that scene folder, whose files
// --clean and a new start would then take for this folder's. "" when it may.
std::string SceneFlowSceneClash(const std::string& directory, bool sceneFlowRun);
// The lock of a scene folder of the scene-flow tree, in the output root:
// ".tovimar.sceneflow-0005.lock".
std::string SceneFlowSceneLockName(const std::string& directory);

// Removes one file a run wrote (a plain file or a link at path; nothing
// there is fine). Throws Error("cannot remove PATH: REASON").
void RemoveSequenceFile(const std::string& path);

// Appends v as C's "%.18g" writes it, with '.' as decimal point, whatever
// the process locale.
void AppendDisparityValue(std::string& out, double v);

// The disparity text file: "W\r\nH\r\n", then W*H lines, one value each in
// array order (top row first, left to right), each ended by "\r\n", then one
// more "\r\n" (the file ends with an empty line). The text is formatted on
// both threads (parallel_chunks.h) into `buffer` (reused between calls when
// given), at most kDisparityChunkBytes at a time, so memory does not grow
// with the frame; the file appears under its name only when complete
// (AtomicFile). Returns +1.
// Throws Error("Cannot create file " + path + ": " + reason).
inline constexpr std::size_t kDisparityChunkBytes = std::size_t{1} << 20;

int WriteDisparityFile(const std::string& path, const double* disparity, int width, int height,
                       std::string* buffer = nullptr);

// The five classic files of a frame whose products are already computed:
// camera image, the two 8-bit maps, the disparity text, the segmentation map.
// `text` is the disparity text buffer.
// Throws Error("Cannot create file ...").
struct ClassicProducts {
  BmpImage24 cameraImage, subPixelMap, pixelMap, segmentation;
  std::vector<double> disparity;  // W*H, top row first
};
void WriteClassicFiles(const FrameFileNames& names, const ClassicProducts& products, std::string& text);

}  // namespace tovimar

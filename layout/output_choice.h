#pragma once
// Which products a run writes and in which layout: the names of the
// --outputs list and of the layouts, both ways, and which products each
// layout has a place for. The command line, the desktop, the manifest and
// the Python module all read and write them through here.
#include <cstdint>
#include <string>
#include <vector>

#include "layout/file_names.h"

namespace tovimar {

struct OutputChoice {
  bool classic = true;  // the five classic files
  bool pfm = false;     // float disparity
  bool depth = false;   // float depth along the viewing axis
  bool kitti = false;   // 16-bit disparity, round(256 d)
  bool png = false;     // camera image as PNG
  bool masks = false;   // occlusion masks (need both cameras)
  bool flow = false;    // optical flow and disparity change to the next frame
  bool ids16 = false;   // 16-bit id map (ids 0..65534, 65535 unlabelled)
  DatasetLayout layout = DatasetLayout::Classic;
  // The scene-flow layout's split folder ("TRAIN/A"); no other layout uses it.
  std::string split = kDefaultSceneFlowSplit;

  bool operator==(const OutputChoice&) const = default;
  // Anything the classic layout writes besides the five classic files.
  bool AnyExtra() const { return pfm || depth || kitti || png || masks || flow || ids16; }
};

// "classic,pfm,masks": comma-separated names. Throws Error naming an unknown
// or empty name and listing the known ones.
OutputChoice ParseOutputList(const std::string& list);
// "classic", "middlebury", "kitti" or "sceneflow"; throws Error otherwise.
DatasetLayout ParseLayout(const std::string& text);
// A scene-flow split folder: two plain folder names ("TRAIN/A", "TEST/B");
// throws Error naming what is wrong otherwise.
std::string ParseSplit(const std::string& text);
// The first product of `choice` that its layout has no place for ("" when it
// has a place for every one). The classic layout holds every product; the
// others write their own set whatever is asked for, and hold the flow.
std::string ProductOutsideLayout(const OutputChoice& choice);
const char* LayoutName(DatasetLayout layout);
// The camera image of each frame of a run of frameCount frames with `choice`
// in the sequence folder `directory`, as the run stores it: the classic BMP
// when it writes the classic files, else the layout's PNG; none when it
// stores no camera image.
std::vector<std::string> StoredCameraImages(const std::string& directory, const OutputChoice& choice, bool right,
                                            int32_t frameCount);
// The names in `choice`, comma separated, in a fixed order.
std::string OutputListText(const OutputChoice& choice);
// Every product name ParseOutputList knows, in that order.
std::vector<std::string> OutputNames();
// Every layout ParseLayout knows, classic first.
std::vector<DatasetLayout> AllLayouts();

}  // namespace tovimar

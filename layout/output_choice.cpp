#include "layout/output_choice.h"

#include "base/error.h"

namespace tovimar {
namespace {

struct NamedOutput {
  const char* name;
  bool OutputChoice::*flag;
};
constexpr NamedOutput kOutputs[] = {
    {"classic", &OutputChoice::classic}, {"pfm", &OutputChoice::pfm},   {"depth", &OutputChoice::depth},
    {"kitti", &OutputChoice::kitti},     {"png", &OutputChoice::png},   {"masks", &OutputChoice::masks},
    {"flow", &OutputChoice::flow},       {"ids16", &OutputChoice::ids16},
};

std::string KnownOutputs() {
  std::string known;
  for (const NamedOutput& o : kOutputs) known += (known.empty() ? "" : ", ") + std::string(o.name);
  return known;
}

}  // namespace

OutputChoice ParseOutputList(const std::string& list) {
  OutputChoice choice;
  choice.classic = false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    const std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    bool found = false;
    for (const NamedOutput& o : kOutputs) {
      if (name == o.name) {
        choice.*(o.flag) = true;
        found = true;
      }
    }
    if (!found) {
      throw Error((name.empty() ? std::string("an empty output name") : "unknown output '" + name + "'") +
                  " (known: " + KnownOutputs() + ")");
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return choice;
}

DatasetLayout ParseLayout(const std::string& text) {
  for (const DatasetLayout layout : AllLayouts())
    if (text == LayoutName(layout)) return layout;
  throw Error("unknown layout '" + text + "' (known: classic, middlebury, kitti, sceneflow)");
}

std::string ParseSplit(const std::string& text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos || text.find('/', slash + 1) != std::string::npos)
    throw Error("the split '" + text + "' is not two folder names such as TRAIN/A");
  for (const std::string& part : {text.substr(0, slash), text.substr(slash + 1)}) {
    if (part.empty() || part == "." || part == ".." || part.find('\0') != std::string::npos)
      throw Error("the split '" + text + "' is not two folder names such as TRAIN/A");
    // '@' separates the split from the scene in a split's sequence folder name.
    if (part.find('@') != std::string::npos)
      throw Error("the split '" + text + "' has an '@', which split folder names cannot have");
  }
  return text;
}

std::vector<std::string> StoredCameraImages(const std::string& directory, const OutputChoice& choice, bool right,
                                            int32_t frameCount) {
  std::vector<std::string> paths;
  const bool classicImages = choice.layout == DatasetLayout::Classic && choice.classic;
  if (choice.layout == DatasetLayout::Classic && !choice.classic && !choice.png) return paths;
  const SceneFlowNaming naming{choice.split, SceneFlowFrameDigits(frameCount)};
  for (int32_t frame = 0; frame < frameCount; ++frame) {
    // The KITTI layout's last frame has no KITTI 2015 index: its odometry image, which every frame has.
    const DatasetFileNames names = MakeDatasetFileNames(directory, choice.layout, right, frame, naming);
    paths.push_back(classicImages                             ? MakeFrameFileNames(directory, right, frame).cameraImage
                    : choice.layout == DatasetLayout::Kitti ? names.odometryImagePng
                                                              : names.imagePng);
  }
  return paths;
}

std::string ProductOutsideLayout(const OutputChoice& choice) {
  // What each layout has a place for, besides the files it always writes.
  bool OutputChoice::*const held[] = {&OutputChoice::png, &OutputChoice::pfm, &OutputChoice::kitti,
                                      &OutputChoice::masks, &OutputChoice::flow};
  auto holds = [&](bool OutputChoice::*flag) {
    switch (choice.layout) {
      case DatasetLayout::Classic: return true;
      case DatasetLayout::Middlebury: return flag == held[0] || flag == held[1] || flag == held[3] || flag == held[4];
      case DatasetLayout::Kitti: return flag == held[0] || flag == held[2] || flag == held[3] || flag == held[4];
      case DatasetLayout::SceneFlow: return flag == held[0] || flag == held[1] || flag == held[4];
    }
    return false;
  };
  for (const NamedOutput& o : kOutputs)
    if (choice.*(o.flag) && o.flag != &OutputChoice::ids16 && !holds(o.flag)) return o.name;  // every layout holds ids
  return {};
}

const char* LayoutName(DatasetLayout layout) {
  switch (layout) {
    case DatasetLayout::Middlebury:
      return "middlebury";
    case DatasetLayout::Kitti:
      return "kitti";
    case DatasetLayout::SceneFlow:
      return "sceneflow";
    case DatasetLayout::Classic:
      break;
  }
  return "classic";
}

std::string OutputListText(const OutputChoice& choice) {
  std::string text;
  for (const NamedOutput& o : kOutputs) {
    if (choice.*(o.flag)) text += (text.empty() ? "" : ",") + std::string(o.name);
  }
  return text;
}

std::vector<std::string> OutputNames() {
  std::vector<std::string> names;
  for (const NamedOutput& o : kOutputs) names.emplace_back(o.name);
  return names;
}

std::vector<DatasetLayout> AllLayouts() {
  return {DatasetLayout::Classic, DatasetLayout::Middlebury, DatasetLayout::Kitti, DatasetLayout::SceneFlow};
}

}  // namespace tovimar

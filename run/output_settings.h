#pragma once
// Where and how a run's frames are stored. The desktop control panel, the
// command-line tool and the tests implement it.
#include <string>
#include <utility>
#include <vector>

#include "layout/file_names.h"
#include "render/settings.h"
#include "layout/output_choice.h"

namespace tovimar {

class OutputSettings {
 public:
  virtual ~OutputSettings() = default;
  virtual std::string OutputFolder() const = 0;  // the output root
  virtual int SequenceNumber() const = 0;        // frames go to <root>/<number>/
  virtual bool PreviewOnly() const = 0;          // draw the frames, write nothing
  virtual bool Palette() const = 0;              // palette colours in segmentation maps
  // Which files a frame gets, in which layout (default: the classic five).
  virtual OutputChoice Outputs() const { return {}; }
  // How the run was asked for, recorded in the manifest (key, value).
  virtual std::vector<std::pair<std::string, std::string>> Invocation() const { return {}; }
  // The cameras the sequence is meant to have ("left", "right", "both"; ""
  // when not known): its manifest is complete when these runs are.
  virtual std::string PlannedCameras() const { return ""; }
  // Where a run's files go, ending in the separator: <root>/<number>/ unless
  // a host names the folder otherwise.
  virtual std::string SequenceDirectory() const { return OutputDirectory(OutputFolder(), SequenceNumber()); }
};

struct PlainOutputSettings : OutputSettings {
  std::string outputFolder;
  int sequenceNumber = 0;
  bool previewOnly = false;
  bool palette = false;
  OutputChoice outputs;
  std::vector<std::pair<std::string, std::string>> invocation;
  std::string plannedCameras;
  std::string sequenceDirectory;  // empty: <outputFolder>/<sequenceNumber>/

  std::string OutputFolder() const override { return outputFolder; }
  std::string SequenceDirectory() const override {
    return sequenceDirectory.empty() ? OutputSettings::SequenceDirectory() : sequenceDirectory;
  }
  int SequenceNumber() const override { return sequenceNumber; }
  bool PreviewOnly() const override { return previewOnly; }
  bool Palette() const override { return palette; }
  OutputChoice Outputs() const override { return outputs; }
  std::vector<std::pair<std::string, std::string>> Invocation() const override { return invocation; }
  std::string PlannedCameras() const override { return plannedCameras; }
};

// Both halves in one object, for the command-line tool and the tests.
struct PlainSettings : PlainRenderSettings, PlainOutputSettings {};

}  // namespace tovimar

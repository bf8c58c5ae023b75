#pragma once
// A headless viewer with plain settings and its frame source, prepared as the
// desktop program starts it, for the tests of whole runs.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "io/run_files.h"
#include "render/settings.h"
#include "render/viewer.h"
#include "scene/notifier.h"
#include "sequence/sequence_driver.h"
#include "sequence/viewer_frame_source.h"

namespace tovimar {

struct CollectingNotifier : Notifier {
  std::vector<std::string> messages;
  void Notify(const std::string& caption, const std::string& text) override {
    messages.push_back(caption + "|" + text);
  }
};

struct ViewerStage {
  PlainSettings settings;
  PlainEditor editor;
  CollectingNotifier notifier;
  std::unique_ptr<Viewer> viewer;
  std::unique_ptr<ViewerFrameSource> source;  // set when the viewer has a context
  std::string error;                          // the message of the last failed run
  bool ready = false;

  ViewerStage(std::vector<std::string> lines, int width, int height, const std::string& outputFolder) {
    editor.lines = std::move(lines);
    settings.outputFolder = outputFolder;
    viewer = std::make_unique<Viewer>(settings, editor, notifier, '.', width, height);
    ready = viewer->Initialise();
    if (!ready) return;
    viewer->ResetViewAndDraw();
    source = std::make_unique<ViewerFrameSource>(*viewer, settings);
  }

  // One whole run of the camera, switched as the panel's camera radio group
  // does; false when it ended with an error.
  bool Run(bool right) {
    if (right != settings.rightCamera) {
      settings.rightCamera = right;
      viewer->CameraSwitch(right);
    }
    SequenceHooks hooks;
    hooks.showError = [this](const std::string& m) { error = m; };
    SequenceDriver driver(*source, hooks);
    return driver.Run();
  }

  std::string Dir() const { return OutputDirectory(settings.outputFolder, settings.sequenceNumber); }
};

}  // namespace tovimar

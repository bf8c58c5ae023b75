#pragma once
// A headless renderer with plain settings and its frame source, prepared as the
// desktop program starts it, for the tests of whole runs.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "layout/file_names.h"
#include "render/settings.h"
#include "render/renderer.h"
#include "scene/notifier.h"
#include "tests/support/collecting_notifier.h"
#include "run/sequence_driver.h"
#include "run/render_frame_source.h"

namespace tovimar {

using testing::CollectingNotifier;

struct RenderStage {
  PlainSettings settings;
  PlainEditor editor;
  CollectingNotifier notifier;
  std::unique_ptr<Renderer> renderer;
  std::unique_ptr<RenderFrameSource> source;  // set when the renderer has a context
  std::string error;                          // the message of the last failed run
  bool ready = false;

  RenderStage(std::vector<std::string> lines, int width, int height, const std::string& outputFolder) {
    editor.lines = std::move(lines);
    settings.outputFolder = outputFolder;
    renderer = std::make_unique<Renderer>(settings, editor, notifier, '.', width, height);
    ready = renderer->Initialise();
    if (!ready) return;
    renderer->ResetViewAndDraw();
    source = std::make_unique<RenderFrameSource>(*renderer, settings);
  }

  // One whole run of the camera, switched as the panel's camera radio group
  // does; false when it ended with an error.
  bool Run(bool right) {
    if (right != settings.rightCamera) {
      settings.rightCamera = right;
      renderer->CameraSwitch(right);
    }
    SequenceObserver hooks;
    hooks.showError = [this](const std::string& m) { error = m; };
    SequenceDriver driver(*source, hooks);
    return driver.Run();
  }

  std::string Dir() const { return OutputDirectory(settings.outputFolder, settings.sequenceNumber); }
};

}  // namespace tovimar

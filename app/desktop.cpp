#include "app/desktop.h"

#include <QApplication>
#include <QScreen>

#include "app/app_support.h"
#include "app/window_placement.h"
#include "base/check.h"

void SetUpApplication() {
  QApplication::setApplicationName(QStringLiteral("Tovimar"));
  QApplication::setQuitOnLastWindowClosed(false);  // only the control panel ends the program
  tovimar::SetAssertionReporter([](const std::string& report) { tovimar::AppNotifier().Notify("", report); });
}

Desktop::~Desktop() { DestroyWindows(); }

void Desktop::CreateWindows() {
  panel_ = new ControlPanel(static_cast<PanelHost&>(*this));
  panel_->show();
  editor_ = new SceneEditor(static_cast<EditorHost&>(*this));
  editor_->addActions(panel_->EditorActions());  // Ctrl+S and the others in the editor too
  editor_->show();
  viewer_ = new ViewerWindow(static_cast<ViewerHost&>(*this));
  viewer_->show();
  panel_->RestoreSettings();  // reads and sets the viewer too
  ArrangeWindows(false);
}

void Desktop::ArrangeWindows(bool viewerOnly) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr || viewer_ == nullptr || editor_ == nullptr || panel_ == nullptr) return;
  const QRect outer = panel_->frameGeometry();
  const QRect inner = panel_->geometry();
  const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                       outer.bottom() - inner.bottom());
  const tovimar::WindowPlacement p = tovimar::PlaceWindows(screen->availableGeometry(), panel_->size(),
                                                           editor_->DesignedSize(), viewer_->RenderSize(), frame);
  if (!viewerOnly) {
    panel_->move(p.panelPos);
    editor_->setFixedSize(p.editorSize);
    editor_->move(p.editorPos);
  }
  viewer_->SetDisplayLimit(p.viewerLimit);
  viewer_->move(p.viewerPos);
}

void Desktop::ShowSceneEditor() {
  if (editor_ == nullptr) return;
  if (editor_->isHidden() || editor_->isMinimized()) {
    editor_->showNormal();
    editor_->raise();
  }
}

void Desktop::DestroyViewerAndEditor() {
  if (viewer_ != nullptr) {
    delete viewer_;
    viewer_ = nullptr;
  }
  if (editor_ != nullptr) {
    delete editor_;
    editor_ = nullptr;
  }
}

void Desktop::DestroyWindows() {
  DestroyViewerAndEditor();
  if (panel_ != nullptr) {
    delete panel_;
    panel_ = nullptr;
  }
}

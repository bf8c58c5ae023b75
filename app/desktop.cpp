#include "app/desktop.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <functional>

#include "app/app_support.h"
#include "app/window_placement.h"
#include "base/check.h"

void SetUpApplication() {
  QApplication::setApplicationName(QStringLiteral("Tovimar"));
  QApplication::setQuitOnLastWindowClosed(false);  // only the control panel ends the program
  tovimar::SetAssertionReporter([](const std::string& report) { tovimar::AppNotifier().Notify("", report); });
}

namespace {

// Calls `arrange` once, after the window's first expose: by then a window
// manager has put its frame around it, so frameGeometry() tells the frame's
// size (read before, it is the bare client area).
class FirstExpose : public QObject {
 public:
  FirstExpose(QWindow* window, std::function<void()> arrange) : QObject(window), arrange_(std::move(arrange)) {
    window->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
      watched->removeEventFilter(this);
      QTimer::singleShot(0, watched, arrange_);
      deleteLater();
    }
    return false;
  }

 private:
  std::function<void()> arrange_;
};

}  // namespace

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
  if (RestorePlaces()) return;
  ArrangeWindows(false);
  // Again once framed, with the frame's real size.
  if (panel_->windowHandle() != nullptr) new FirstExpose(panel_->windowHandle(), [this] { ArrangeWindows(false); });
}

void Desktop::ArrangeWindows(bool viewerOnly) {
  if (viewer_ == nullptr || editor_ == nullptr || panel_ == nullptr) return;
  // The screen the panel is on.
  const QScreen* screen = panel_->screen() != nullptr ? panel_->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect outer = panel_->frameGeometry();
  const QRect inner = panel_->geometry();
  const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                       outer.bottom() - inner.bottom());
  const tovimar::WindowPlacement p = tovimar::PlaceWindows(screen->availableGeometry(), panel_->size(),
                                                           editor_->DesignedSize(), viewer_->RenderSize(), frame);
  if (!viewerOnly) {
    panel_->move(p.panelPos);
    editor_->resize(p.editorSize);
    editor_->move(p.editorPos);
  }
  viewer_->SetDisplayLimit(p.viewerLimit);
  viewer_->move(p.viewerPos);
}

namespace {

const char* const kPlaceKeys[] = {"places/panel", "places/editor", "places/viewer"};

// A title bar a user can reach: the top edge of the frame on one screen's available area.
bool TitleBarOnAScreen(const QWidget* window) {
  const QRect frame = window->frameGeometry();
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect available = screen->availableGeometry();
    if (available.contains(frame.topLeft()) && available.contains(frame.topRight())) return true;
  }
  return false;
}

}  // namespace

void Desktop::SavePlaces() {
  if (viewer_ == nullptr || editor_ == nullptr || panel_ == nullptr) return;
  QSettings settings = tovimar::UserSettings();
  const QWidget* windows[] = {panel_, editor_, viewer_};
  for (int i = 0; i < 3; ++i) settings.setValue(QLatin1String(kPlaceKeys[i]), windows[i]->saveGeometry());
}

bool Desktop::RestorePlaces() {
  QSettings settings = tovimar::UserSettings();
  QWidget* windows[] = {panel_, editor_, viewer_};
  for (int i = 0; i < 3; ++i) {
    const QByteArray place = settings.value(QLatin1String(kPlaceKeys[i])).toByteArray();
    if (place.isEmpty() || !windows[i]->restoreGeometry(place) || !TitleBarOnAScreen(windows[i])) return false;
  }
  return true;
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

// Pictures of the three windows for the documentation: starts the program's
// windows off screen, prepares the example scene and saves each window as a
// PNG with its caption drawn above it, then the three as a 1280 x 800 screen
// places them (desktop-1280x800.png). Remembered panel settings are not read.
//
//   tovimar-screenshots DIR
#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdio>
#include <string>

#include "app/app_support.h"
#include "app/desktop.h"
#include "app/viewer_window.h"
#include "app/scene_editor.h"
#include "app/control_panel.h"
#include "app/window_placement.h"

namespace {

// Reports go to the terminal; nothing waits for a click.
class PrintingNotifier : public tovimar::Notifier {
 public:
  void Notify(const std::string& caption, const std::string& text) override {
    std::fprintf(stderr, "tovimar-screenshots: %s%s%s\n", caption.c_str(), caption.empty() ? "" : ": ",
                 text.c_str());
  }
};

// The window's client area with a plain title bar carrying its caption.
constexpr int kBar = 26;  // the title bar drawn above each window

QImage WithCaption(QWidget* window) {
  const QPixmap client = window->grab();
  QImage picture(client.width(), client.height() + kBar, QImage::Format_RGB32);
  picture.fill(QColor(60, 64, 72));
  QPainter painter(&picture);
  painter.setPen(Qt::white);
  QFont font = painter.font();
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(QRect(8, 0, client.width() - 16, kBar), Qt::AlignVCenter | Qt::AlignLeft, window->windowTitle());
  painter.drawPixmap(0, kBar, client);
  return picture;
}

bool Save(QWidget* window, const QString& path) {
  if (!WithCaption(window).save(path, "PNG")) {
    std::fprintf(stderr, "tovimar-screenshots: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tovimar"));
  if (argc != 2) {
    std::fprintf(stderr, "usage: tovimar-screenshots DIR\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  if (!QDir().mkpath(folder)) {
    std::fprintf(stderr, "tovimar-screenshots: cannot create %s\n", argv[1]);
    return 1;
  }
  PrintingNotifier notifier;
  tovimar::SetAppNotifier(&notifier);
  const QTemporaryDir settings;  // the defaults, whatever this machine's user chose
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());

  Desktop windows;
  windows.CreateWindows();
  QApplication::processEvents();
  tovimar::Guarded([&windows] { windows.SceneEditorWindow()->Button5Click(windows.SceneEditorWindow()->Button5); });  // "Prepare"
  QApplication::processEvents();

  bool ok = Save(windows.ControlPanelWindow(), folder + QStringLiteral("/control-panel.png"));
  ok = Save(windows.SceneEditorWindow(), folder + QStringLiteral("/scene-editor.png")) && ok;
  ok = Save(windows.Viewer(), folder + QStringLiteral("/stereo-viewer.png")) && ok;

  // The three as a 1280 x 800 screen places them.
  const QRect screen(0, 0, 1280, 800);
  const tovimar::WindowPlacement p = tovimar::PlaceWindows(screen, windows.ControlPanelWindow()->size(), SceneEditor::DesignedSize(),
                                                           windows.Viewer()->RenderSize(), QMargins(0, kBar, 0, 0));
  windows.SceneEditorWindow()->resize(p.editorSize);
  windows.Viewer()->SetDisplayLimit(p.viewerLimit);
  QApplication::processEvents();
  QImage desktop(screen.size(), QImage::Format_RGB32);
  desktop.fill(QColor(32, 36, 40));
  {
    QPainter painter(&desktop);
    painter.drawImage(p.panelPos, WithCaption(windows.ControlPanelWindow()));
    painter.drawImage(p.editorPos, WithCaption(windows.SceneEditorWindow()));
    painter.drawImage(p.viewerPos, WithCaption(windows.Viewer()));
  }
  const QString desktopPath = folder + QStringLiteral("/desktop-1280x800.png");
  if (desktop.save(desktopPath, "PNG")) {
    std::printf("%s\n", qPrintable(desktopPath));
  } else {
    std::fprintf(stderr, "tovimar-screenshots: cannot write %s\n", qPrintable(desktopPath));
    ok = false;
  }

  windows.DestroyWindows();
  tovimar::SetAppNotifier(nullptr);
  return ok ? 0 : 1;
}

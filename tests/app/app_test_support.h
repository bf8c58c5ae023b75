#pragma once
// Shared by the GUI tests: a notifier that collects the message boxes, the
// start of the three windows with a forced decimal separator, file helpers.
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QStringList>
#include <functional>
#include <string>

#include "app/app_support.h"
#include "app/desktop.h"
#include "app/scene_editor.h"
#include "scene/notifier.h"

class CollectingNotifier : public tovimar::Notifier {
 public:
  void Notify(const std::string& caption, const std::string& text) override {
    captions << QString::fromStdString(caption);
    messages << QString::fromStdString(text);
    if (onNotify) onNotify();
  }
  std::function<void()> onNotify;  // runs while the "box" is shown
  QStringList TakeMessages() {
    QStringList taken = messages;
    messages.clear();
    captions.clear();
    return taken;
  }
  QStringList captions;
  QStringList messages;
};

// The program's remembered settings live in a folder of the test process,
// empty at its start: nothing depends on the machine's own settings.
inline QString TestSettingsFolder() {
  static QTemporaryDir folder;
  return folder.path();
}

// The desktop of the test process, kept to its end (the windows it holds are
// destroyed by StopWindows, before the application object goes).
inline Desktop& TestDesktop() {
  static Desktop* const desktop = new Desktop();
  return *desktop;
}
// Its windows, null when not started.
inline ViewerWindow* Viewer() { return TestDesktop().Viewer(); }
inline SceneEditor* SceneEditorWindow() { return TestDesktop().SceneEditorWindow(); }
inline ControlPanel* ControlPanelWindow() { return TestDesktop().ControlPanelWindow(); }

// The windows as the program starts them, with the given decimal separator.
// Load's and Quit's questions about unsaved text are answered "Discard" and noted among
// the messages, so that a question nobody expected fails a test.
inline void StartWindows(CollectingNotifier& notifier, char separator) {
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, TestSettingsFolder());
  SetUpApplication();
  tovimar::SetAppNotifier(&notifier);
  tovimar::SetAppDecimalSeparator(separator);
  TestDesktop().CreateWindows();
  SceneEditorWindow()->AskReplaceUnsaved = [&notifier] {
    notifier.Notify("", "<asked before replacing unsaved text>");
    return QMessageBox::Discard;
  };
  SceneEditorWindow()->AskSaveUnsaved = [&notifier] {
    notifier.Notify("", "<asked before quitting with unsaved text>");
    return QMessageBox::Discard;
  };
  QApplication::processEvents();
}

inline void StopWindows() {
  TestDesktop().DestroyWindows();
  tovimar::SetAppNotifier(nullptr);
}

inline QByteArray ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
  return file.readAll();
}

inline bool WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// The files below root, relative to it, sorted.
inline QStringList FilesUnder(const QString& root) {
  QStringList files;
  QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) files << QDir(root).relativeFilePath(it.next());
  files.sort();
  return files;
}

#pragma once
// Shared by the GUI tests: a notifier that collects the message boxes, the
// start of the three windows with a forced decimal separator, file helpers.
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <functional>
#include <string>

#include "app/app_support.h"
#include "app/forms.h"
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

// The windows as the program starts them, with the given decimal separator.
inline void StartWindows(CollectingNotifier& notifier, char separator) {
  SetUpApplication();
  tovimar::SetAppNotifier(&notifier);
  tovimar::SetAppDecimalSeparator(separator);
  CreateForms();
  QApplication::processEvents();
}

inline void StopWindows() {
  DestroyForms();
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

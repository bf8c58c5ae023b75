#include "app/app_support.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>

#include "io/bundled.h"

namespace tovimar {

namespace {

Notifier* g_notifier = nullptr;
char g_separator = 0;

QString ApplicationTitle() {
  QString title = QCoreApplication::applicationName();
  return title.isEmpty() ? QStringLiteral("Tovimar") : title;
}

// The bundled folder `relative` that holds `probe` (io/bundled.h), or "".
QString FindBundled(const QString& relative, const QString& probe) {
  return QString::fromStdString(FindBundledFolder(relative.toStdString(), probe.toStdString()));
}

}  // namespace

void MessageBoxNotifier::Notify(const std::string& caption, const std::string& text) {
  QMessageBox box(QMessageBox::Warning, caption.empty() ? ApplicationTitle() : FromStd(caption),
                  FromStd(text), QMessageBox::Ok);
  box.exec();
}

Notifier& AppNotifier() {
  static MessageBoxNotifier messageBoxes;
  return g_notifier != nullptr ? *g_notifier : messageBoxes;
}

void SetAppNotifier(Notifier* notifier) { g_notifier = notifier; }

void ReportHandlerException(const std::exception_ptr& error) {
  std::string message;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown error";
  }
  AppNotifier().Notify("", message);
}

char AppDecimalSeparator() {
  if (g_separator == 0) {
    const QString point = QLocale().decimalPoint();
    g_separator = (point.size() == 1 && point.at(0).unicode() < 0x80) ? static_cast<char>(point.at(0).unicode())
                                                                      : '.';
  }
  return g_separator;
}

void SetAppDecimalSeparator(char separator) { g_separator = separator; }

QString ExampleScenePath() {
  const QString folder = FindBundled(QStringLiteral("examples"), QStringLiteral("sceneexample.txt"));
  if (folder.isEmpty()) return QDir::currentPath() + QStringLiteral("/examples/sceneexample.txt");
  return folder + QStringLiteral("/sceneexample.txt");
}

QString TextureDirectory() {
  if (QFileInfo::exists(QStringLiteral("tex0.bmp"))) return QDir::currentPath();
  const QString folder = FindBundled(QStringLiteral("assets"), QStringLiteral("tex0.bmp"));
  return folder.isEmpty() ? QDir::currentPath() : folder;
}

QString DefaultOutputFolder() { return QDir::tempPath() + QStringLiteral("/tovimar"); }

QSettings UserSettings() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tovimar"), QStringLiteral("tovimar"));
}

}  // namespace tovimar

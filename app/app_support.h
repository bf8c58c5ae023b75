#pragma once
// What the three windows share: the message boxes, the handler guard that
// reports an escaping exception and goes on, the user's decimal separator,
// and the places of the bundled files.
#include <QSettings>
#include <QString>
#include <exception>
#include <string>

#include "scene/notifier.h"

class QWidget;

namespace tovimar {

// Shows every report as a modal message box with an OK button; an empty
// caption is the application's title.
class MessageBoxNotifier : public Notifier {
 public:
  void Notify(const std::string& caption, const std::string& text) override;
};

// The notifier the windows report through, chosen at the moment of use.
// SetAppNotifier(nullptr) returns to the message boxes (tests install a
// collecting one so that nothing blocks).
Notifier& AppNotifier();
void SetAppNotifier(Notifier* notifier);

// Forwards to AppNotifier() at the moment of each report; the viewer core
// holds one of these, so a notifier installed later still receives its reports.
class AppNotifierForwarder : public Notifier {
 public:
  void Notify(const std::string& caption, const std::string& text) override {
    AppNotifier().Notify(caption, text);
  }
};

// The application's default error report for an exception that escapes an
// event handler: the exception's message in a message box; the program goes on.
void ReportHandlerException(const std::exception_ptr& error);

// Runs an event handler; an escaping exception skips the handler's remaining
// steps and is reported.
template <class F>
void Guarded(F&& handler) {
  try {
    handler();
  } catch (...) {
    ReportHandlerException(std::current_exception());
  }
}

// The user's decimal separator: QLocale().decimalPoint() when that is one
// ASCII character, else '.'. Taken from the system locale at first use;
// tests set it before the windows are created.
char AppDecimalSeparator();
void SetAppDecimalSeparator(char separator);

// The bundled example scene (the editor's default path): next to the
// program's folder ("../examples" or "examples"), else the source tree's.
QString ExampleScenePath();

// The folder of tex0.bmp .. tex10.bmp: the current directory when it holds
// tex0.bmp, else the bundled assets folder found like the examples.
QString TextureDirectory();

// What the program keeps between sessions: the user's "Tovimar/tovimar.ini".
QSettings UserSettings();

// The default output root: a "tovimar" folder in the system's temporary folder.
QString DefaultOutputFolder();

// Qt text <-> the 8-bit strings of the core (UTF-8).
inline std::string ToStd(const QString& s) { return s.toStdString(); }
inline QString FromStd(const std::string& s) { return QString::fromStdString(s); }

}  // namespace tovimar

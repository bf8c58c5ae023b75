// The desktop program: the control panel, the scene editor and the stereo
// viewer, created in this order; closing the control panel ends the program.
#include <QApplication>
#include <exception>

#include "app/app_support.h"
#include "app/forms.h"
#include "scene/matrix.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tovimar"));
  QApplication::setQuitOnLastWindowClosed(false);  // only the control panel ends the program
  tovimar::SetAssertionReporter([](const std::string& report) {
    tovimar::MessageBoxNotifier().Notify("", report);
  });
  try {
    CreateForms();
    QApplication::exec();
  } catch (...) {
    tovimar::ReportHandlerException(std::current_exception());
  }
  DestroyForms();
  return 0;
}

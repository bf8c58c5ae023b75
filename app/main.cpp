// The desktop program: the control panel, the scene editor and the stereo
// viewer, created in this order; closing the control panel ends the program.
#include <QApplication>
#include <exception>

#include "app/app_support.h"
#include "app/desktop.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  SetUpApplication();
  Desktop desktop;
  try {
    desktop.CreateWindows();
    QApplication::exec();
  } catch (...) {
    tovimar::ReportHandlerException(std::current_exception());
  }
  desktop.DestroyWindows();
  return 0;
}

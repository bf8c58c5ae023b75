#include "app/forms.h"

#include <QApplication>

#include "app/app_support.h"
#include "scene/matrix.h"

#include "app/unit1.h"
#include "app/unit2.h"
#include "app/unit3.h"

TForm1* Form1 = nullptr;
TForm2* Form2 = nullptr;
TForm3* Form3 = nullptr;

void SetUpApplication() {
  QApplication::setApplicationName(QStringLiteral("Tovimar"));
  QApplication::setQuitOnLastWindowClosed(false);  // only the control panel ends the program
  tovimar::SetAssertionReporter([](const std::string& report) { tovimar::AppNotifier().Notify("", report); });
}

void CreateForms() {
  Form3 = new TForm3();
  Form3->show();
  Form2 = new TForm2();
  Form2->show();
  Form1 = new TForm1();
  Form1->show();
}

void DestroyViewerAndEditor() {
  if (Form1 != nullptr) {
    delete Form1;
    Form1 = nullptr;
  }
  if (Form2 != nullptr) {
    delete Form2;
    Form2 = nullptr;
  }
}

void DestroyForms() {
  DestroyViewerAndEditor();
  if (Form3 != nullptr) {
    delete Form3;
    Form3 = nullptr;
  }
}

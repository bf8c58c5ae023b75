#include "app/forms.h"

#include <QApplication>
#include <QScreen>

#include "app/app_support.h"
#include "base/check.h"

#include "app/viewer_window.h"
#include "app/scene_editor.h"
#include "app/control_panel.h"
#include "app/window_placement.h"

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
  Form3->RestoreSettings();  // reads and sets the viewer too
  ArrangeWindows(false);
}

void ArrangeWindows(bool viewerOnly) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr || Form1 == nullptr || Form2 == nullptr || Form3 == nullptr) return;
  const QRect outer = Form3->frameGeometry();
  const QRect inner = Form3->geometry();
  const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                       outer.bottom() - inner.bottom());
  const tovimar::WindowPlacement p = tovimar::PlaceWindows(screen->availableGeometry(), Form3->size(),
                                                           Form2->DesignedSize(), Form1->RenderSize(), frame);
  if (!viewerOnly) {
    Form3->move(p.panelPos);
    Form2->setFixedSize(p.editorSize);
    Form2->move(p.editorPos);
  }
  Form1->SetDisplayLimit(p.viewerLimit);
  Form1->move(p.viewerPos);
}

void ShowSceneEditor() {
  if (Form2 == nullptr) return;
  if (Form2->isHidden() || Form2->isMinimized()) {
    Form2->showNormal();
    Form2->raise();
  }
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

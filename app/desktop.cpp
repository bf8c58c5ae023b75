#include "app/desktop.h"

#include <QApplication>
#include <QScreen>

#include "app/app_support.h"
#include "app/window_placement.h"
#include "base/check.h"

void SetUpApplication() {
  QApplication::setApplicationName(QStringLiteral("Tovimar"));
  QApplication::setQuitOnLastWindowClosed(false);  // only the control panel ends the program
  tovimar::SetAssertionReporter([](const std::string& report) { tovimar::AppNotifier().Notify("", report); });
}

Desktop::~Desktop() { DestroyForms(); }

void Desktop::CreateForms() {
  form3_ = new TForm3(static_cast<PanelHost&>(*this));
  form3_->show();
  form2_ = new TForm2(static_cast<EditorHost&>(*this));
  form2_->show();
  form1_ = new TForm1(static_cast<ViewerHost&>(*this));
  form1_->show();
  form3_->RestoreSettings();  // reads and sets the viewer too
  ArrangeWindows(false);
}

void Desktop::ArrangeWindows(bool viewerOnly) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr || form1_ == nullptr || form2_ == nullptr || form3_ == nullptr) return;
  const QRect outer = form3_->frameGeometry();
  const QRect inner = form3_->geometry();
  const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                       outer.bottom() - inner.bottom());
  const tovimar::WindowPlacement p = tovimar::PlaceWindows(screen->availableGeometry(), form3_->size(),
                                                           form2_->DesignedSize(), form1_->RenderSize(), frame);
  if (!viewerOnly) {
    form3_->move(p.panelPos);
    form2_->setFixedSize(p.editorSize);
    form2_->move(p.editorPos);
  }
  form1_->SetDisplayLimit(p.viewerLimit);
  form1_->move(p.viewerPos);
}

void Desktop::ShowSceneEditor() {
  if (form2_ == nullptr) return;
  if (form2_->isHidden() || form2_->isMinimized()) {
    form2_->showNormal();
    form2_->raise();
  }
}

void Desktop::DestroyViewerAndEditor() {
  if (form1_ != nullptr) {
    delete form1_;
    form1_ = nullptr;
  }
  if (form2_ != nullptr) {
    delete form2_;
    form2_ = nullptr;
  }
}

void Desktop::DestroyForms() {
  DestroyViewerAndEditor();
  if (form3_ != nullptr) {
    delete form3_;
    form3_ = nullptr;
  }
}

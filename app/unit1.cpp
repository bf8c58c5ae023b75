#include "app/unit1.h"

#include <QFileDialog>
#include <QPainter>
#include <QShowEvent>
#include <cstring>

#include "avi/avi_export.h"
#include "app/forms.h"
#include "app/unit2.h"
#include "app/unit3.h"
#include "render/viewer.h"
#include "sequence/output_files.h"
#include "sequence/sequence_driver.h"
#include "sequence/viewer_frame_source.h"

namespace {

template <class T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

}  // namespace

class TForm1::EditorForward : public tovimar::EditorLink {
 public:
  std::vector<std::string> SceneLines() const override {
    return Form2 != nullptr ? Form2->SceneLines() : std::vector<std::string>{};
  }
  std::string SceneName() const override { return Form2 != nullptr ? Form2->SceneName() : std::string(); }
  std::string FocalLengthText() const override {
    return Form2 != nullptr ? Form2->FocalLengthText() : tovimar::kDefaultFocalLengthText;
  }
  void SetFocalLengthText(const std::string& text) override {
    if (Form2 != nullptr) Form2->SetFocalLengthText(text);
  }
  std::string BaselineText() const override {
    return Form2 != nullptr ? Form2->BaselineText() : tovimar::kDefaultBaselineText;
  }
  void SetBaselineText(const std::string& text) override {
    if (Form2 != nullptr) Form2->SetBaselineText(text);
  }
  void ShowCounts(std::size_t objects, std::size_t frames) override {
    if (Form2 != nullptr) Form2->ShowCounts(objects, frames);
  }
  bool MatrixLogEnabled() const override { return Form2 != nullptr && Form2->MatrixLogEnabled(); }
  void AppendMotionLog(const std::string& tableLine, const std::string& plainLine) override {
    if (Form2 != nullptr) Form2->AppendMotionLog(tableLine, plainLine);
  }
  void AppendMatrixLog(const std::string& line) override {
    if (Form2 != nullptr) Form2->AppendMatrixLog(line);
  }
  void ClearMotionLogs() override {
    if (Form2 != nullptr) Form2->ClearMotionLogs();
  }
};

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinMaxButtonsHint),
      editor_(std::make_unique<EditorForward>()) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Stereo Viewer"));
  setFixedSize(512, 384);
  setAttribute(Qt::WA_OpaquePaintEvent);
  move(1021, 198);

  struct ButtonLayout {
    QPushButton** button;
    const char* name;
    const char* caption;
    int x, y, w;
  };
  const ButtonLayout buttons[] = {
      {&Button1, "Button1", "/\\", 40, 8, 30},   {&Button4, "Button4", "V", 40, 72, 30},
      {&Button2, "Button2", "<", 8, 40, 30},     {&Button3, "Button3", ">", 72, 40, 30},
      {&Button5, "Button5", "-", 112, 8, 30},    {&Button6, "Button6", "+", 112, 40, 30},
      {&Button9, "Button9", "9 - odrysuj", 8, 110, 110},
      {&Button11, "Button11", "11 - przyg. sekw.", 8, 142, 110},
      {&Button7, "Button7", "Start", 8, 174, 110},
      {&Button10, "Button10", "10-DoAvi", 8, 206, 110},
      {&Button13, "Button13", "Button13", 8, 238, 110},
  };
  for (const ButtonLayout& b : buttons) {
    *b.button = Named(new QPushButton(QString::fromLatin1(b.caption), this), b.name);
    (*b.button)->setGeometry(b.x, b.y, b.w, 26);
    (*b.button)->setVisible(false);
  }
  TrackBar1 = Named(new QSlider(Qt::Horizontal, this), "TrackBar1");
  TrackBar1->setRange(-50, 50);
  TrackBar1->setValue(0);
  TrackBar1->setTickInterval(1);
  TrackBar1->setTickPosition(QSlider::TicksBelow);
  TrackBar1->setGeometry(8, 274, 200, 30);
  TrackBar1->setVisible(false);
  CheckBox1 = Named(new QCheckBox(QStringLiteral("wybor lewa pr.k."), this), "CheckBox1");
  CheckBox1->setGeometry(8, 310, 200, 22);
  CheckBox1->setVisible(false);

  Timer1 = Named(new QTimer(this), "Timer1");
  Timer1->setInterval(20);
  Timer2 = Named(new QTimer(this), "Timer2");
  Timer2->setInterval(1000);

  SavePictureDialog1 = [this]() {
    return QFileDialog::getSaveFileName(this, QString(), QString(), QStringLiteral("Bitmaps (*.bmp)"));
  };

  auto on = [this](QPushButton* button, void (TForm1::*handler)(QObject*)) {
    connect(button, &QPushButton::clicked, this,
            [this, button, handler] { tovimar::Guarded([&] { (this->*handler)(button); }); });
  };
  on(Button1, &TForm1::Button1Click);
  on(Button2, &TForm1::Button2Click);
  on(Button3, &TForm1::Button3Click);
  on(Button4, &TForm1::Button4Click);
  on(Button5, &TForm1::Button5Click);
  on(Button6, &TForm1::Button6Click);
  on(Button7, &TForm1::Button7Click);
  on(Button9, &TForm1::Button9Click);
  on(Button10, &TForm1::Button10Click);
  on(Button11, &TForm1::Button11Click);
  on(Button13, &TForm1::Button13Click);
  connect(TrackBar1, &QSlider::valueChanged, this, [this] { tovimar::Guarded([&] { TrackBar1Change(TrackBar1); }); });
  connect(CheckBox1, &QCheckBox::toggled, this, [this] { tovimar::Guarded([&] { CheckBox1Click(CheckBox1); }); });
  connect(Timer1, &QTimer::timeout, this, [this] { tovimar::Guarded([&] { Timer1Timer(Timer1); }); });
  connect(Timer2, &QTimer::timeout, this, [this] { tovimar::Guarded([&] { Timer2Timer(Timer2); }); });

  // The core: scene state, the rendering context and the sequence driver.
  viewer_ = std::make_unique<tovimar::Viewer>(*this, *editor_, notifier_, tovimar::AppDecimalSeparator(),
                                              width(), height());
  viewer_->Rig().StartDirectory = tovimar::ToStd(tovimar::TextureDirectory());
  viewer_->onPresented = [this] { Presented(); };

  tovimar::SequenceHooks hooks;
  hooks.startTimer = [this](int intervalMs) {
    Timer1->setInterval(intervalMs);
    Timer1->start();
  };
  hooks.stopTimer = [this] { Timer1->stop(); };
  hooks.setProgressMax = [](int maximum) {
    // A maximum of 0 would turn the bar into a busy indicator.
    if (Form3 != nullptr) Form3->ProgressBar1->setRange(0, maximum > 0 ? maximum : 1);
  };
  hooks.setProgressPosition = [](int position) {
    if (Form3 != nullptr) Form3->ProgressBar1->setValue(position);
  };
  hooks.setButtonCaption = [](const std::string& caption) {
    if (Form3 != nullptr) Form3->Button3->setText(tovimar::FromStd(caption));
  };
  hooks.bringViewerToFront = [this] {
    show();
    raise();
    activateWindow();
  };
  hooks.hideDeveloperControls = [this] { HideDeveloperControls(); };
  hooks.showError = [](const std::string& message) { tovimar::AppNotifier().Notify("", message); };
  frameSource_ = std::make_unique<tovimar::ViewerFrameSource>(*viewer_, *this);
  driver_ = std::make_unique<tovimar::SequenceDriver>(*frameSource_, hooks);

  FormCreate();
}

TForm1::~TForm1() { FormDestroy(); }

void TForm1::FormCreate() { viewer_->Initialise(); }

void TForm1::FormDestroy() {
  if (!viewer_) return;
  Timer1->stop();
  Timer2->stop();
  viewer_->onPresented = nullptr;
  driver_.reset();
  frameSource_.reset();
  viewer_->Shutdown();
  viewer_.reset();
}

void TForm1::FormPaint() { viewer_->ResetViewAndDraw(); }

void TForm1::ChangeResolution(int width, int height) {
  setFixedSize(width, height);
  shown_ = QImage();
  shownStale_ = false;
  viewer_->ChangeResolution(width, height);
  FormPaint();
}

void TForm1::Button1Click(QObject*) { viewer_->ChangeView(0.0f, -2.0f, 0.0); }

void TForm1::Button4Click(QObject*) { viewer_->ChangeView(0.0f, 2.0f, 0.0); }

void TForm1::Button2Click(QObject*) { viewer_->ChangeView(2.0f, 0.0f, 0.0); }

void TForm1::Button3Click(QObject*) { viewer_->ChangeView(-2.0f, 0.0f, 0.0); }

void TForm1::Button5Click(QObject*) { viewer_->ChangeView(0.0f, 0.0f, 0.2); }

void TForm1::Button6Click(QObject*) { viewer_->ChangeView(0.0f, 0.0f, -0.2); }

void TForm1::Button9Click(QObject*) { viewer_->Redraw(); }

void TForm1::TrackBar1Change(QObject*) {
  viewer_->SetLightZ(TrackBar1->value());  // moves the light and redraws
}

void TForm1::CheckBox1Click(QObject*) { viewer_->CameraSwitch(CheckBox1->isChecked()); }

void TForm1::Button7Click(QObject*) { driver_->Start(); }

void TForm1::Button11Click(QObject*) {
  // A preparation must never overlap a frame: frames drawn from a half-parsed
  // scene would spoil the sequence silently.
  if (driver_->Abort()) {
    tovimar::AppNotifier().Notify("", "The run was stopped because the scene is being prepared again; the frames "
                                      "written so far stay.");
  }
  viewer_->PrepareScene();
}

void TForm1::Timer1Timer(QObject*) { driver_->Tick(); }

void TForm1::Button10Click(QObject*) {
  const bool right = CheckBox1->isChecked();
  const std::string directory = tovimar::OutputDirectory(OutputFolder(), SequenceNumber());
  const int frames = static_cast<int>(viewer_->Scene().egoFrames.size());
  tovimar::ExportAvi(directory, right, frames, "wav.wav");  // shows nothing, whatever happens
}

void TForm1::Button13Click(QObject*) {
  const QString name = SavePictureDialog1 ? SavePictureDialog1() : QString();
  if (name.isEmpty()) return;
  pictureFileName_ = name;
  HideDeveloperControls();
  Timer2->start();
}

void TForm1::Timer2Timer(QObject*) {
  // Disabled first: a picture that cannot be written is reported once.
  Timer2->stop();
  const QImage picture = grab(QRect(0, 0, width(), height())).toImage().convertToFormat(QImage::Format_RGB888);
  const int w = picture.width();
  const int h = picture.height();
  std::vector<uint8_t> bgr(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
  for (int y = 0; y < h; ++y) {
    const uchar* src = picture.constScanLine(y);
    uint8_t* dst = bgr.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w) * 3;
    for (int x = 0; x < w; ++x) {
      dst[3 * x] = src[3 * x + 2];
      dst[3 * x + 1] = src[3 * x + 1];
      dst[3 * x + 2] = src[3 * x];
    }
  }
  tovimar::WriteBmp24(tovimar::ToStd(pictureFileName_), bgr.data(), w, h);
}

void TForm1::HideDeveloperControls() {
  for (QWidget* control : std::initializer_list<QWidget*>{Button1, Button2, Button3, Button4, Button5, Button6,
                                                           Button9, TrackBar1, CheckBox1, Button10, Button11,
                                                           Button13}) {
    control->hide();
  }
}

std::array<int, 3> TForm1::BackgroundColour() const {
  if (Form3 == nullptr) return tovimar::kDefaultBackground;
  return {Form3->UpDown2->value(), Form3->UpDown3->value(), Form3->UpDown4->value()};
}

bool TForm1::AntiAlias() const { return Form3 != nullptr && Form3->CheckBox4->isChecked(); }
bool TForm1::RightCamera() const { return CheckBox1->isChecked(); }

std::string TForm1::OutputFolder() const {
  return Form3 != nullptr ? tovimar::ToStd(Form3->Edit2->text()) : tovimar::ToStd(tovimar::DefaultOutputFolder());
}

int TForm1::SequenceNumber() const { return Form3 != nullptr ? Form3->UpDown1->value() : 0; }
bool TForm1::PreviewOnly() const { return Form3 != nullptr && Form3->CheckBox2->isChecked(); }
bool TForm1::Palette() const { return Form3 != nullptr && Form3->CheckBox3->isChecked(); }

tovimar::OutputChoice TForm1::Outputs() const {
  return Form3 != nullptr ? Form3->DatasetOutputs() : tovimar::OutputChoice{};
}

std::vector<std::pair<std::string, std::string>> TForm1::Invocation() const {
  const std::array<int, 3> bg = BackgroundColour();
  const tovimar::OutputChoice outputs = Outputs();
  return {{"program", "tovimar (desktop)"},
          {"folder", OutputFolder()},
          {"sequenceNumber", std::to_string(SequenceNumber())},
          {"camera", RightCamera() ? "right" : "left"},
          {"resolution", std::to_string(viewer_->ClientWidth()) + "x" + std::to_string(viewer_->ClientHeight())},
          {"background", std::to_string(bg[0]) + "," + std::to_string(bg[1]) + "," + std::to_string(bg[2])},
          {"palette", Palette() ? "yes" : "no"},
          {"antialias", AntiAlias() ? "yes" : "no"},
          {"outputs", tovimar::OutputListText(outputs)},
          {"layout", tovimar::LayoutName(outputs.layout)}};
}

void TForm1::Presented() {
  shownStale_ = true;
  update();
}

void TForm1::RefreshShownImage() {
  shownStale_ = false;
  if (!viewer_ || !viewer_->HasContext()) return;
  const int w = viewer_->ClientWidth();
  const int h = viewer_->ClientHeight();
  if (w <= 0 || h <= 0) return;
  const std::size_t rowBytes = static_cast<std::size_t>(w) * 3;
  readBuffer_.resize(rowBytes * static_cast<std::size_t>(h));
  viewer_->ReadColour(readBuffer_.data());
  if (shown_.width() != w || shown_.height() != h || shown_.format() != QImage::Format_RGB888) {
    shown_ = QImage(w, h, QImage::Format_RGB888);
  }
  for (int y = 0; y < h; ++y) {  // the read-back starts with the bottom row
    std::memcpy(shown_.scanLine(h - 1 - y), readBuffer_.data() + static_cast<std::size_t>(y) * rowBytes, rowBytes);
  }
}

QImage TForm1::ShownImage() {
  if (shownStale_) RefreshShownImage();
  return shown_;
}

void TForm1::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (shownStale_) RefreshShownImage();
  if (shown_.isNull()) {
    painter.fillRect(rect(), palette().window());
    return;
  }
  painter.drawImage(0, 0, shown_);
  if (shown_.width() < width() || shown_.height() < height()) {
    painter.fillRect(QRect(shown_.width(), 0, width() - shown_.width(), height()), palette().window());
    painter.fillRect(QRect(0, shown_.height(), shown_.width(), height() - shown_.height()), palette().window());
  }
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  tovimar::Guarded([&] { FormPaint(); });
}

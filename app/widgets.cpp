#include "app/widgets.h"

#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace tovimar {

RadioGroup::RadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 4, 10, 4);
  layout->setSpacing(2);
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items.at(i), this);
    group_.addButton(button, i);
    layout->addWidget(button);
    buttons_.push_back(button);
  }
  layout->addStretch(1);
  connect(&group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) emit Click();
  });
}

void RadioGroup::SetItemIndex(int index) {
  if (index >= 0 && index < ItemCount()) {
    buttons_[static_cast<std::size_t>(index)]->setChecked(true);
    return;
  }
  // An exclusive group cannot uncheck its checked button directly.
  group_.setExclusive(false);
  for (QRadioButton* button : buttons_) button->setChecked(false);
  group_.setExclusive(true);
}

ImageBox::ImageBox(int width, int height, QWidget* parent)
    : QWidget(parent), Picture(width, height, QImage::Format_RGB32) {
  Picture.fill(Qt::white);
  setFixedSize(width, height);
}

void ImageBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, Picture);
}

void ImageBox::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  emit MouseDown(event->button(), p.x(), p.y());
}

}  // namespace tovimar

#pragma once
// Small controls that Qt does not have in the shape the windows use: a radio
// group with an item index, and an image control that keeps a picture and
// reports mouse presses in picture coordinates.
#include <QButtonGroup>
#include <QGroupBox>
#include <QImage>
#include <QRadioButton>
#include <QStringList>
#include <QWidget>
#include <vector>

namespace tovimar {

// A group box of radio buttons, one per item, stacked top to bottom.
// ItemIndex() is -1 while no item is selected. Click() is emitted whenever
// the selection moves to another item, by the user or by SetItemIndex.
class RadioGroup : public QGroupBox {
  Q_OBJECT
 public:
  RadioGroup(const QString& caption, const QStringList& items, QWidget* parent = nullptr);

  int ItemIndex() const { return group_.checkedId(); }
  void SetItemIndex(int index);  // -1 clears the selection
  QRadioButton* Item(int index) const { return buttons_.at(static_cast<std::size_t>(index)); }
  int ItemCount() const { return static_cast<int>(buttons_.size()); }

 signals:
  void Click();

 private:
  QButtonGroup group_;
  std::vector<QRadioButton*> buttons_;
};

// An image control: shows Picture at its top left corner and reports every
// mouse press (any button) with the position in the picture.
class ImageBox : public QWidget {
  Q_OBJECT
 public:
  ImageBox(int width, int height, QWidget* parent = nullptr);

  QImage Picture;  // Format_RGB32, the control's size

 signals:
  void MouseDown(Qt::MouseButton button, int x, int y);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace tovimar

#include "app/message_log.h"

#include <QPushButton>
#include <QTime>
#include <QVBoxLayout>

namespace tovimar {

MessageLog::MessageLog(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("MessageLog"));
  setWindowTitle(QStringLiteral("Tovimar messages"));
  Text = new QPlainTextEdit(this);
  Text->setObjectName(QStringLiteral("MessageText"));
  Text->setReadOnly(true);
  Text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Text->setToolTip(QStringLiteral("Every message of the status line since the program started, with its time"));
  auto* clear = new QPushButton(QStringLiteral("Clear"), this);
  clear->setObjectName(QStringLiteral("ClearMessages"));
  clear->setToolTip(QStringLiteral("Empty the list"));
  connect(clear, &QPushButton::clicked, Text, &QPlainTextEdit::clear);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Text);
  layout->addWidget(clear, 0, Qt::AlignRight);
  resize(640, 280);
}

void MessageLog::Add(const QString& text) {
  // A fixed 24-hour form, whatever the locale.
  const QString line = QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") + text;
  Text->appendPlainText(line);
}

QStringList MessageLog::Lines() const {
  const QString all = Text->toPlainText();
  return all.isEmpty() ? QStringList() : all.split(QLatin1Char('\n'));
}

void MessageLog::ShowInFront() {
  if (isMinimized() || isHidden()) showNormal();
  raise();
  activateWindow();
}

}  // namespace tovimar

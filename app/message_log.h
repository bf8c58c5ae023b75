#pragma once
// "Messages": every status message of the session, one timestamped line
// each, so that none is lost when the status line shows the next one (a
// refusal during a run, an error, where a run's files went).
#include <QPlainTextEdit>
#include <QStringList>
#include <QWidget>

namespace tovimar {

class MessageLog : public QWidget {
  Q_OBJECT
 public:
  explicit MessageLog(QWidget* parent = nullptr);

  // Appends "hh:mm:ss  text" (the time of day, 24 hours).
  void Add(const QString& text);
  // The lines so far, oldest first.
  QStringList Lines() const;
  // Shows the window in front.
  void ShowInFront();

  QPlainTextEdit* Text;
};

}  // namespace tovimar

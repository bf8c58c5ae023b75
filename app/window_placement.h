#pragma once
// Where the three windows go on a screen: the designed places where they
// fit, else side by side so that no window covers another or leaves the
// screen (down to 1280 x 720 logical pixels: 1366 x 768, or 1920 x 1080 at
// 150 %). Pure functions of the screen's available rectangle and the sizes,
// so that any screen can be checked without one.
#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace tovimar {

// The viewer's designed place (frame top left).
inline constexpr QPoint kDesignedViewerPos{1021, 198};
// The least room side by side gives the editor (its file, Load, Save and
// Prepare in view) and the viewer; on a screen without it every window is
// still kept on the screen, title bar included, but they may overlap.
inline constexpr int kLeastEditorWidth = 420;
inline constexpr QSize kLeastViewerSize{160, 120};

struct WindowPlacement {
  QPoint panelPos;   // frame top left, as QWidget::move takes it
  QPoint editorPos;
  QPoint viewerPos;
  QSize editorSize;   // client size; smaller than designed makes the editor scroll
  QSize viewerLimit;  // the largest client size the viewer may show its picture in
};

// available: QScreen::availableGeometry(); panel, editor, viewer: the
// designed client sizes (the viewer's is the chosen resolution); frame: what
// the window manager adds around a client area.
WindowPlacement PlaceWindows(const QRect& available, const QSize& panel, const QSize& editor, const QSize& viewer,
                             const QMargins& frame = QMargins());

// The size a picture is shown at inside limit: unchanged when it fits, else
// scaled down keeping its proportions (never below 1 x 1).
QSize FitInside(const QSize& picture, const QSize& limit);

}  // namespace tovimar

#include "app/window_placement.h"

#include <algorithm>

namespace tovimar {

namespace {

QSize Framed(const QSize& client, const QMargins& frame) {
  return {client.width() + frame.left() + frame.right(), client.height() + frame.top() + frame.bottom()};
}

QSize Client(const QSize& framed, const QMargins& frame) {
  return {std::max(1, framed.width() - frame.left() - frame.right()),
          std::max(1, framed.height() - frame.top() - frame.bottom())};
}

QPoint Centred(const QRect& available, const QSize& framed) {
  return available.topLeft() + QPoint((available.width() - framed.width()) / 2, (available.height() - framed.height()) / 2);
}

// Moves a framed rectangle at pos so that it lies inside available (its top
// left wins when it is larger).
QPoint KeptInside(const QRect& available, QPoint pos, const QSize& framed) {
  pos.setX(std::max(available.left(), std::min(pos.x(), available.right() + 1 - framed.width())));
  pos.setY(std::max(available.top(), std::min(pos.y(), available.bottom() + 1 - framed.height())));
  return pos;
}

}  // namespace

QSize FitInside(const QSize& picture, const QSize& limit) {
  if (picture.width() <= limit.width() && picture.height() <= limit.height()) return picture;
  const QSize scaled = picture.scaled(limit, Qt::KeepAspectRatio);
  return {std::max(1, scaled.width()), std::max(1, scaled.height())};
}

WindowPlacement PlaceWindows(const QRect& available, const QSize& panel, const QSize& editor, const QSize& viewer,
                             const QMargins& frame) {
  WindowPlacement p;
  const QSize panelF = Framed(panel, frame);
  const QSize editorF = Framed(editor, frame);
  const QSize viewerF = Framed(viewer, frame);

  // The designed places: panel and editor centred, the viewer at its place.
  p.panelPos = Centred(available, panelF);
  p.editorPos = Centred(available, editorF);
  p.editorSize = editor;
  p.viewerLimit = Client(available.size(), frame);
  const QSize shownF = Framed(FitInside(viewer, p.viewerLimit), frame);
  p.viewerPos = KeptInside(available, kDesignedViewerPos, shownF);
  const QRect panelR(p.panelPos, panelF), editorR(p.editorPos, editorF), viewerR(p.viewerPos, shownF);
  const bool designedFits = available.contains(panelR) && available.contains(editorR) &&
                            !panelR.intersects(editorR) && !panelR.intersects(viewerR) &&
                            !editorR.intersects(viewerR) && p.viewerPos == kDesignedViewerPos;
  if (designedFits) return p;

  const QPoint origin = available.topLeft();
  if (panelF.width() + editorF.width() + viewerF.width() <= available.width() &&
      std::max({panelF.height(), editorF.height(), viewerF.height()}) <= available.height()) {
    // One row: panel, editor, viewer.
    p.panelPos = origin;
    p.editorPos = origin + QPoint(panelF.width(), 0);
    p.viewerPos = origin + QPoint(panelF.width() + editorF.width(), 0);
    p.viewerLimit = viewer;
    return p;
  }
  const int editorRoom = available.width() - panelF.width();
  const int viewerRoom = available.height() - panelF.height();
  if (editorRoom >= Framed(QSize(kLeastEditorWidth, 1), frame).width() &&
      viewerRoom >= Framed(kLeastViewerSize, frame).height()) {
    // The panel with the viewer below it, the editor to their right (scrolling
    // where the screen is too small for it).
    p.panelPos = origin;
    p.viewerPos = origin + QPoint(0, panelF.height());
    p.viewerLimit = Client(QSize(panelF.width(), viewerRoom), frame);
    p.editorPos = origin + QPoint(panelF.width(), 0);
    p.editorSize = Client(QSize(std::min(editorF.width(), editorRoom), std::min(editorF.height(), available.height())),
                          frame);
    return p;
  }
  // A screen too small to keep them apart: each window on it, title bar
  // included, the editor no larger than the screen.
  p.editorSize = Client(QSize(std::min(editorF.width(), available.width()), std::min(editorF.height(), available.height())),
                        frame);
  p.panelPos = KeptInside(available, p.panelPos, panelF);
  p.editorPos = KeptInside(available, Centred(available, Framed(p.editorSize, frame)), Framed(p.editorSize, frame));
  return p;
}

}  // namespace tovimar

#pragma once
// Every window on any screen: its controls sit in a scroll area, and each time it is shown
// the window is made no larger than the screen's free area (less the window manager's
// frame) and placed at the main window's top-left corner. On a screen too small for the
// controls they scroll rather than run off the screen.

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

class QDialog;
class QScrollArea;
class QWidget;

namespace pemra {

// The inside geometry (without the frame) of a window that wants `wanted` (its controls'
// size) and whose frame's top-left corner should be at `corner`, on a screen whose free
// area is `available`, with a frame of `frame`. The size is cut to the free area less the
// frame; a dimension that is cut makes room in the other for its scroll bar
// (`scrollBarExtent`). A window that would run past the free area's right or bottom edge
// from `corner` is moved left or up just enough, never past its left or top edge.
QRect FittedGeometry(QSize wanted, QPoint corner, QRect available, QMargins frame,
                     int scrollBarExtent);

// Puts a scroll area (object name "scrollArea") into `dialog`, filling it, and returns the
// widget that holds the dialog's controls: the window's layout goes on it. From then on
// every showing of the dialog fits it to the screen and places it at its parent window's
// top-left corner (see FittedGeometry).
QWidget* ScrollingContent(QDialog* dialog);

// A size the window would rather open at than its controls' least size, where the screen
// allows (a listing that shows all its lines). For a dialog set up by ScrollingContent.
void SetRoomySize(QDialog* dialog, QSize roomy);

// Fits and places the dialog now, as its next showing will (for a dialog set up by
// ScrollingContent; nothing otherwise).
void FitToScreen(QDialog* dialog);

// The scroll area ScrollingContent put into the dialog, or null.
QScrollArea* ScrollAreaOf(const QDialog* dialog);

}  // namespace pemra

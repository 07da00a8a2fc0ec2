#pragma once
// What the operational-control and calibration windows share: waits on the session clock
// that keep the window painted, the test whether the interface can still be used, and the
// small controls both build the same way.

#include <QString>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "core/Clock.h"

class QBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace pemra {

// Waits as Delay(milliseconds) does (the same 10-microsecond units, on the session clock),
// cut into slices of at most `slice`; between slices the window system's pending events
// other than user input are processed, so the windows repaint while their input waits.
// Returns false, the wait cut short, when `goOn` says so after a slice.
bool RepaintingDelay(Clock& clock, float milliseconds,
                     Nanoseconds slice = std::chrono::milliseconds(50),
                     const std::function<bool()>& goOn = {});

QString ToQString(std::string_view text);

// Moves a dialog so that its frame's top-left corner is at that of its parent's window.
void MoveToParentCorner(QWidget* dialog);

// A label with a caption and an object name.
QLabel* NamedLabel(const QString& caption, const char* name, QWidget* parent);
// A sunken label that shows a register word in hex.
QLabel* HexLabel(const char* name, QWidget* parent);
// A push button that is never the dialog's default, so Enter in an entry box does not
// start a command.
QPushButton* CommandButton(const QString& caption, const char* name, QWidget* parent);
QLineEdit* EntryBox(const char* name, QWidget* parent);
// The bottom row both windows end with: "Flash Memory Register Update" on the left,
// "Close Window" on the right.
void AddFlashAndCloseRow(QBoxLayout* layout, QWidget* parent, QPushButton*& cmdFlash,
                         QPushButton*& cmdClose);

}  // namespace pemra

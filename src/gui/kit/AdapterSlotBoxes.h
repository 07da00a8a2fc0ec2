#pragma once
// The adapter rows that the USB selection and USB debug dialogs both show: read-only boxes
// named by row, and the link speed as text.

#include <QString>

#include <string>

class QLineEdit;
class QWidget;

namespace pemra {

// A read-only box of an adapter row, named `name`_`index`, about `width` characters wide.
QLineEdit* UsbSlotBox(const QString& name, int index, int width, QWidget* parent);
// The link speed text ("1.1" or "2") in the form "0.0" with the given separator.
std::string UsbSpeedText(const std::string& speed, char separator);

}  // namespace pemra

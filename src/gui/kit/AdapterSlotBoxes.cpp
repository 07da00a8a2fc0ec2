#include "gui/kit/AdapterSlotBoxes.h"

#include <QLineEdit>

#include <charconv>

#include "core/NumberText.h"

namespace pemra {

QLineEdit* UsbSlotBox(const QString& name, int index, int width, QWidget* parent) {
  auto* box = new QLineEdit(parent);
  box->setObjectName(QStringLiteral("%1_%2").arg(name).arg(index));
  box->setReadOnly(true);
  box->setFocusPolicy(Qt::ClickFocus);
  const int pixels = box->fontMetrics().horizontalAdvance(QLatin1Char('0')) * width + 12;
  // Revision and speed are a few characters: fixed narrow boxes; the descriptor may grow.
  if (width <= 4) {
    box->setFixedWidth(pixels);
  } else {
    box->setMinimumWidth(pixels);
  }
  return box;
}

// The link speed text ("1.1" or "2") in the form "0.0". Read without the C library's
// locale, which Qt sets from the environment: under a decimal-comma locale "1.1" would
// otherwise stop at the point.
std::string UsbSpeedText(const std::string& speed, char separator) {
  double value = 0.0;
  const char* end = speed.data() + speed.size();
  const auto [used, error] = std::from_chars(speed.data(), end, value);
  if (error == std::errc() && used == end) return FormatNumber(value, "0.0", separator);
  return speed;
}

}  // namespace pemra

#pragma once
// Numeric entry boxes are checked on every change of their text: a text that is not a
// number, or a value outside the box's limits, is replaced by the box's default or limit
// text, with no message.

#include <QChar>
#include <QString>

#include <optional>

namespace pemra {

// The value of a text that reads as a number: optional blanks, an optional sign, digits
// with at most one decimal separator (the locale's or a point), an optional exponent.
// Empty when the text is not a number.
std::optional<double> NumericValue(const QString& text, QChar decimalSeparator);

// The text a box must show instead of `text`, or empty when `text` stands.
// Loop delay: not a number "0"; above 1000 "1000"; below 0 "0".
std::optional<QString> LoopDelayCorrection(const QString& text, QChar decimalSeparator);
// Power-down time: not a number "0.0"; above 127.5 "127.5"; below 0 "0.0" (in that order).
std::optional<QString> PowerDownCorrection(const QString& text, QChar decimalSeparator);
// A data sheet's noise figure: empty stands (no figure); not a number ""; below 0 "0";
// above 1000000 "1000000".
std::optional<QString> DataSheetFigureCorrection(const QString& text, QChar decimalSeparator);

}  // namespace pemra

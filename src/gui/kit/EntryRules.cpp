#include "gui/kit/EntryRules.h"

#include <QLocale>

namespace pemra {

std::optional<double> NumericValue(const QString& text, QChar decimalSeparator) {
  const QString t = text.trimmed();
  QString canonical;
  canonical.reserve(t.size());
  int i = 0;
  const int n = static_cast<int>(t.size());
  if (i < n && (t[i] == u'+' || t[i] == u'-')) canonical.append(t[i++]);
  int digits = 0;
  bool point = false;
  for (; i < n; ++i) {
    const QChar c = t[i];
    if (c.isDigit() && c.unicode() < 0x80) {
      canonical.append(c);
      ++digits;
    } else if (!point && (c == decimalSeparator || c == u'.')) {
      canonical.append(u'.');
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return std::nullopt;
  bool negativeExponent = false;
  if (i < n && (t[i] == u'e' || t[i] == u'E')) {
    canonical.append(u'e');
    ++i;
    if (i < n && (t[i] == u'+' || t[i] == u'-')) {
      negativeExponent = t[i] == u'-';
      canonical.append(t[i++]);
    }
    int exponentDigits = 0;
    for (; i < n && t[i].isDigit() && t[i].unicode() < 0x80; ++i) {
      canonical.append(t[i]);
      ++exponentDigits;
    }
    if (exponentDigits == 0) return std::nullopt;
  }
  if (i != n) return std::nullopt;
  bool ok = false;
  const double value = QLocale::c().toDouble(canonical, &ok);
  // An exponent beyond the double range: a large one is a number too large for any box,
  // kept as signed infinity so the limits apply; a large negative one is a number too
  // small to tell from zero.
  if (!ok) {
    if (canonical.contains(u'e')) {
      if (negativeExponent) return canonical.startsWith(u'-') ? -0.0 : 0.0;
      return canonical.startsWith(u'-') ? -qInf() : qInf();
    }
    return std::nullopt;
  }
  return value;
}

std::optional<QString> LoopDelayCorrection(const QString& text, QChar decimalSeparator) {
  const std::optional<double> value = NumericValue(text, decimalSeparator);
  if (!value) return QStringLiteral("0");
  if (*value > 1000.0) return QStringLiteral("1000");
  if (*value < 0.0) return QStringLiteral("0");
  return std::nullopt;
}

std::optional<QString> PowerDownCorrection(const QString& text, QChar decimalSeparator) {
  const std::optional<double> value = NumericValue(text, decimalSeparator);
  if (!value) return QStringLiteral("0.0");
  if (*value > 127.5) return QStringLiteral("127.5");
  if (*value < 0.0) return QStringLiteral("0.0");
  return std::nullopt;
}

std::optional<QString> DataSheetFigureCorrection(const QString& text, QChar decimalSeparator) {
  if (text.trimmed().isEmpty()) return std::nullopt;
  const std::optional<double> value = NumericValue(text, decimalSeparator);
  if (!value) return QString();
  if (*value < 0.0) return QStringLiteral("0");
  if (*value > 1000000.0) return QStringLiteral("1000000");
  return std::nullopt;
}

}  // namespace pemra

#include "analysis/ImuYaml.h"

#include <charconv>
#include <cmath>
#include <numbers>

namespace pemra {

namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

std::string Number(double value, std::chars_format format, int precision) {
  if (std::isnan(value)) return ".nan";
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, format, precision);
  return std::string(text, result.ptr);
}

// Mean of one figure over the axes of a kind, in SI units; NaN, with the reason in `why`,
// when an axis did not determine it or no axis gives it.
double Mean(const std::vector<AxisFigures>& axes, ColumnKind kind,
            NoiseFigure NoiseFigures::*figure, double factor, std::string& why) {
  double sum = 0;
  int count = 0;
  for (const AxisFigures& axis : axes) {
    if (axis.kind != kind) continue;
    const NoiseFigure& f = axis.figures.*figure;
    if (!f.determined) {
      why += (why.empty() ? "" : "; ") + axis.title + ": " +
             (f.reason.empty() ? std::string("not determined") : f.reason);
      continue;
    }
    sum += f.value * factor;
    ++count;
  }
  if (count == 0 && why.empty())
    why = kind == ColumnKind::Gyro ? "no gyro column" : "no accelerometer column";
  return why.empty() ? sum / count : std::nan("");
}

}  // namespace

std::string FigureText(const NoiseFigure& figure, double factor) {
  if (!figure.determined) return "not determined";
  return Number(figure.value * factor, std::chars_format::general, 4);
}

std::string_view FigureMethodText() {
  return "noise identified by lag-1 autocorrelation (B1 ratio where few averages remain), 68% "
         "intervals from Greenhall's degrees of freedom, figures by IEEE Std 952 Annex C";
}

std::string ImuYamlText(std::string_view logName, const std::vector<AxisFigures>& axes,
                        double updateRate, std::vector<std::string>* missing, AllanType type) {
  std::string text = "# noise model from ";
  text += logName;
  text += " (";
  text += DeviationName(type);
  text += "; ";
  text += FigureMethodText();
  text += ")";
  for (const AxisFigures& axis : axes) {
    const FigureUnits units = UnitsFor(axis.kind, axis.kind == ColumnKind::Gyro ? "deg/s" : "g");
    text += "; " + axis.title + ": N " + FigureText(axis.figures.randomWalk, units.n.factor) +
            " " + units.n.name + ", B " +
            FigureText(axis.figures.biasInstability, units.b.factor) + " " + units.b.name +
            ", K " + FigureText(axis.figures.rateRandomWalk, units.k.factor) + " " +
            units.k.name;
  }
  text += "\n";
  struct Key {
    const char* name;
    ColumnKind kind;
    NoiseFigure NoiseFigures::*figure;
    double factor;  // data units to SI
  };
  const Key keys[] = {
      {"gyroscope_noise_density", ColumnKind::Gyro, &NoiseFigures::randomWalk, kRadiansPerDegree},
      {"gyroscope_random_walk", ColumnKind::Gyro, &NoiseFigures::rateRandomWalk, kRadiansPerDegree},
      {"accelerometer_noise_density", ColumnKind::Accel, &NoiseFigures::randomWalk, kStandardGravity},
      {"accelerometer_random_walk", ColumnKind::Accel, &NoiseFigures::rateRandomWalk, kStandardGravity},
  };
  for (const Key& key : keys) {
    std::string why;
    const double value = Mean(axes, key.kind, key.figure, key.factor, why);
    if (std::isnan(value) && missing) missing->push_back(std::string(key.name) + " (" + why + ")");
    text += key.name;
    text += ": " + Number(value, std::chars_format::scientific, 6) + "\n";
  }
  text += "rostopic: ";
  text += kImuTopic;
  text += "\n";
  text += "update_rate: " + Number(updateRate, std::chars_format::general, 7) + "\n";
  return text;
}

}  // namespace pemra

#pragma once
// The noise model that calibration and state-estimation tools read, as `imu.yaml`:
//   gyroscope_noise_density      rad/s/sqrt(Hz)   (N of the gyro axes)
//   gyroscope_random_walk        rad/s^2/sqrt(Hz) (K of the gyro axes)
//   accelerometer_noise_density  m/s^2/sqrt(Hz)   (N of the accelerometer axes)
//   accelerometer_random_walk    m/s^3/sqrt(Hz)   (K of the accelerometer axes)
//   update_rate                  Hz
//   rostopic                     the topic the readers of the file expect (/imu0/data)
// each the mean over the axes of its kind, after one comment line naming the log, the
// deviation and methods the figures came from, and every axis's figures. A key some axis of
// its kind did not determine (or that no axis gives) is named in `missing` with the reason,
// and written as .nan: such a text is not to be written as a file, which never carries a
// guess.

#include <string>
#include <string_view>
#include <vector>

#include "analysis/LogReader.h"
#include "analysis/NoiseFigures.h"

namespace pemra {

struct AxisFigures {
  std::string title;  // the column's title
  ColumnKind kind = ColumnKind::Other;
  NoiseFigures figures;  // in deg/s (gyro) or g (accelerometer)
};

std::string ImuYamlText(std::string_view logName, const std::vector<AxisFigures>& axes,
                        double updateRate, std::vector<std::string>* missing = nullptr,
                        AllanType type = AllanType::Overlapping);

inline constexpr std::string_view kImuTopic = "/imu0/data";

// How the figures were read: "noise identified by lag-1 autocorrelation (B1 ratio where
// few averages remain), 68% intervals from Greenhall's degrees of freedom, figures by IEEE
// Std 952 Annex C".
std::string_view FigureMethodText();

// A figure as text for people: up to four significant digits, C locale ("1.258", "0.0003412",
// "2.5e-07"); "not determined" when it was not.
std::string FigureText(const NoiseFigure& figure, double factor);

}  // namespace pemra

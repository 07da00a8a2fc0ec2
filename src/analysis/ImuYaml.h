#pragma once
// The noise model that calibration and state-estimation tools read, as `imu.yaml`:
//   gyroscope_noise_density      rad/s/sqrt(Hz)   (N of the gyro axes)
//   gyroscope_random_walk        rad/s^2/sqrt(Hz) (K of the gyro axes)
//   accelerometer_noise_density  m/s^2/sqrt(Hz)   (N of the accelerometer axes)
//   accelerometer_random_walk    m/s^3/sqrt(Hz)   (K of the accelerometer axes)
//   update_rate                  Hz
// each the mean over the axes whose figure was determined, after one comment line naming
// the log and every axis's figures. A figure no axis gave is written as .nan and named in
// `missing`, so the file never carries a guess.

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
                        double updateRate, std::vector<std::string>* missing = nullptr);

// A figure as text for people: up to four significant digits, C locale ("1.258", "0.0003412",
// "2.5e-07"); "not determined" when it was not.
std::string FigureText(const NoiseFigure& figure, double factor);

}  // namespace pemra

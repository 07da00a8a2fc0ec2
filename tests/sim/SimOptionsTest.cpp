// The simulator's options: data-sheet units into the sensor's, and the refusals.

#include <gtest/gtest.h>

#include "sim/SimOptions.h"

namespace pemra::sim {
namespace {

TEST(SimOptions, NoiseKeysTakeDataSheetUnits) {
  struct Case {
    const char* text;
    NoiseModel gyro, accel;  // deg/s and g based
  };
  const NoiseModel g = MotionProfile::DefaultGyroNoise(), a = MotionProfile::DefaultAccelNoise();
  const std::vector<Case> cases = {
      // 6 deg/sqrt(h) = 0.1 deg/sqrt(s); 36 deg/h = 0.01 deg/s; 2160 deg/h/sqrt(h) = 0.01 deg/s/sqrt(s).
      {"gyro-arw=6,gyro-bi=36,gyro-rrw=2160", {0.1, 0.01, 0.01}, a},
      // 0.588399 m/s/sqrt(h) = 1e-3 g sqrt(s); 0.5 mg; 21182.364 m/s/h/sqrt(h) = 0.01 g/sqrt(s).
      {"accel-vrw=0.588399,accel-bi=0.5,accel-rw=21182.364", g, {1e-3, 5e-4, 0.01}},
      {"gyro-bi=0,accel-rw=0", {g.randomWalk, 0, g.rateRandomWalk}, {a.randomWalk, a.biasInstability, 0}},
  };
  for (const Case& c : cases) {
    SimSettings s;
    ASSERT_FALSE(ParseSimNoise(c.text, s)) << c.text;
    EXPECT_NEAR(s.gyro.randomWalk, c.gyro.randomWalk, 1e-12) << c.text;
    EXPECT_NEAR(s.gyro.biasInstability, c.gyro.biasInstability, 1e-12) << c.text;
    EXPECT_NEAR(s.gyro.rateRandomWalk, c.gyro.rateRandomWalk, 1e-12) << c.text;
    EXPECT_NEAR(s.accel.randomWalk, c.accel.randomWalk, 1e-9) << c.text;
    EXPECT_NEAR(s.accel.biasInstability, c.accel.biasInstability, 1e-12) << c.text;
    EXPECT_NEAR(s.accel.rateRandomWalk, c.accel.rateRandomWalk, 1e-9) << c.text;
  }
  // The defaults: 0.6 deg/s and 5 mg rms per sample at 819.2 per second, 90 deg/h, 0.3 mg.
  EXPECT_NEAR(g.randomWalk, 0.6 / 28.621670111997307, 1e-12);
  EXPECT_NEAR(g.biasInstability, 0.025, 1e-12);
  EXPECT_NEAR(a.randomWalk, 0.005 / 28.621670111997307, 1e-12);
  EXPECT_NEAR(a.biasInstability, 3e-4, 1e-12);
}

TEST(SimOptions, RefusesWhatItCannotTake) {
  struct Case {
    std::optional<std::string> (*parse)(std::string_view, SimSettings&);
    const char* text;
    const char* error;
  };
  const std::vector<Case> cases = {
      {ParseSimNoise, "gyro-arw", "--sim-noise: 'gyro-arw' is not KEY=VALUE"},
      {ParseSimNoise, "gyro-arw=-1", "--sim-noise: gyro-arw needs a number of 0 or more, not '-1'"},
      {ParseSimNoise, "gyro-bi=1,", "--sim-noise: '' is not KEY=VALUE"},
      {ParseSimNoise, "gyro-bi=1,5", "--sim-noise: '5' is not KEY=VALUE"},
      {ParseSimNoise, "accel-bi=nan", "--sim-noise: accel-bi needs a number of 0 or more, not 'nan'"},
      {ParseSimMotion, "shaking", "--sim-motion: 'shaking' is neither still nor moving"},
      {ParseSimSeed, "-3", "--sim-seed: '-3' is not a whole number from 0 to 18446744073709551615"},
      {ParseSimClock, "real", "--sim-clock: 'real' is not virtual"},
  };
  for (const Case& c : cases) {
    SimSettings s;
    s.gyro.biasInstability = 7;
    const auto error = c.parse(c.text, s);
    ASSERT_TRUE(error) << c.text;
    EXPECT_EQ(*error, c.error);
    EXPECT_EQ(s.gyro.biasInstability, 7) << "nothing taken from a refused value";
  }
  SimSettings s;
  EXPECT_FALSE(ParseSimMotion("still", s));
  EXPECT_FALSE(ParseSimSeed("18446744073709551615", s));
  EXPECT_FALSE(ParseSimClock("virtual", s));
  SensorOptions options;
  ApplySimSettings(s, options);
  EXPECT_EQ(options.seed, 18446744073709551615ull);
  EXPECT_EQ(options.motion.rate[0].waves[0].amplitude, 0.0) << "still";
  EXPECT_EQ(options.motion.acceleration[2].constant, 1.0);
  EXPECT_TRUE(s.virtualClock);
}

}  // namespace
}  // namespace pemra::sim

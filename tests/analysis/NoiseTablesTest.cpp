// The noise tables as CSV: every number reads back as the double it was, the figures in the
// units their column names, "not determined" only in its own text column, and one line per
// point with its noise and degrees of freedom.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/NoiseTables.h"

namespace pemra {
namespace {

TEST(NoiseTables, NumbersAreWrittenToReadBackExactly) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {{0.1 + 0.2, "0.30000000000000004"}, {0.125, "0.125"},
                        {2.5e-7, "2.5e-07"},                 {1234567.891, "1234567.891"},
                        {0.060515123456789, "0.060515123456789"}, {-3, "-3"}};
  for (const Case& c : cases) EXPECT_EQ(RoundTripText(c.value), c.text);
  EXPECT_EQ(CsvField("X Gyro"), "X Gyro");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
}

NoiseFigure Determined(double value, double low, double high, double tauLow, double tauHigh,
                       double edf, int alpha) {
  NoiseFigure f;
  f.determined = true;
  f.value = value;
  f.low = low;
  f.high = high;
  f.tauLow = tauLow;
  f.tauHigh = tauHigh;
  f.edf = edf;
  f.alpha = alpha;
  return f;
}

TEST(NoiseTables, TheFigureTableHoldsRangesIntervalsAndReasonsApart) {
  NoiseFigures gyro;
  // 0.5 deg/s*sqrt(s) x 60 = 30 deg/sqrt(h); 0.25 deg/s x 3600 = 900 deg/h; 0.5 deg/s/sqrt(s)
  // x 216000 = 108000 deg/h/sqrt(h).
  gyro.randomWalk = Determined(0.5, 0.25, 0.75, 0.01, 1.28, 40.5, 0);
  gyro.biasInstability.reason = "no flat stretch";
  gyro.rateRandomWalk = Determined(0.5, 0.375, 0.625, 10.24, 40.96, 3.25, -2);
  gyro.minimum = Determined(0.25, 0.125, 0.5, 5.12, 5.12, 7, -1);
  NoiseFigures volts;
  volts.randomWalk = Determined(0.1 + 0.2, 0.25, 0.5, 0.5, 2, 12, 0);
  volts.minimum.determined = true;  // no interval: its numbers alone
  volts.minimum.value = 0.004;
  volts.minimum.tauLow = volts.minimum.tauHigh = 8;
  const std::vector<NoiseTableCurve> curves = {
      {"WALK_1.csv", "X Gyro", ColumnKind::Gyro, "deg/s", AllanType::Overlapping, nullptr, &gyro},
      {"b,c.csv", "Supply", ColumnKind::Other, "V", AllanType::Hadamard, nullptr, &volts},
  };
  const std::string expected =
      "Column,N,N unit,N low,N high,N tau from (s),N tau to (s),N edf,N noise,N not determined,"
      "B,B unit,B low,B high,B tau from (s),B tau to (s),B edf,B noise,B not determined,"
      "K,K unit,K low,K high,K tau from (s),K tau to (s),K edf,K noise,K not determined,"
      "Minimum,Minimum unit,Minimum low,Minimum high,Minimum tau from (s),Minimum tau to (s),"
      "Minimum edf,Minimum noise,Minimum not determined,Deviation,Log\r\n"
      "X Gyro,30,deg/sqrt(h),15,45,0.01,1.28,40.5,white,,"
      ",deg/h,,,,,,,no flat stretch,"
      "108000,deg/h/sqrt(h),81000,135000,10.24,40.96,3.25,random walk,,"
      "900,deg/h,450,1800,5.12,5.12,7,flicker,,overlapping Allan deviation,WALK_1.csv\r\n"
      "Supply,0.30000000000000004,V*sqrt(s),0.25,0.5,0.5,2,12,white,,"
      ",V,,,,,,,not determined,"
      ",V/sqrt(s),,,,,,,not determined,"
      "0.004,V,,,8,8,,,,overlapping Hadamard deviation,\"b,c.csv\"\r\n";
  EXPECT_EQ(FigureTableCsv(curves), expected);
}

TEST(NoiseTables, EveryPointIsOneLineWithItsNoiseAndDegreesOfFreedom) {
  std::vector<AllanPoint> points(2);
  points[0] = {0.01, 1, 0.05, 0.0475, 0.0525, 4095, 4094.5, {0, -0.03125, NoiseIdMethod::LagOneAutocorrelation}};
  points[1] = {2.56, 256, 0.003125, 0.002, 0.0055, 3585, 1.5, {-2, -2, NoiseIdMethod::B1Ratio}};
  std::vector<AllanPoint> one(1);
  one[0] = {0.5, 4, 1e-5, 5e-6, 2e-5, 9, 2.25, {-1, -1, NoiseIdMethod::Carried}};
  const std::vector<NoiseTableCurve> curves = {
      {"WALK_1.csv", "X Gyro", ColumnKind::Gyro, "deg/s", AllanType::Overlapping, &points, nullptr},
      {"WALK_2.csv", "X acc", ColumnKind::Accel, "g", AllanType::Modified, &one, nullptr},
  };
  EXPECT_EQ(DeviationPointsCsv(curves),
            "Log,Column,Deviation,tau (s),m,deviation,low,high,unit,terms,alpha,noise,edf,"
            "identified by\r\n"
            "WALK_1.csv,X Gyro,overlapping Allan deviation,0.01,1,0.05,0.0475,0.0525,deg/s,4095,0,"
            "white,4094.5,lag-1 autocorrelation\r\n"
            "WALK_1.csv,X Gyro,overlapping Allan deviation,2.56,256,0.003125,0.002,0.0055,deg/s,"
            "3585,-2,random walk,1.5,B1 ratio\r\n"
            "WALK_2.csv,X acc,modified Allan deviation,0.5,4,1e-05,5e-06,2e-05,g,9,-1,flicker,2.25,"
            "carried\r\n");
}

}  // namespace
}  // namespace pemra

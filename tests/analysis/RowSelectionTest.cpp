// `--from S --to S` as the programs take it: which rows a stretch of seconds selects, and the
// stretches refused with a reason.

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "analysis/RowSelection.h"

namespace pemra {
namespace {

TEST(RowSelection, SecondsFromTheStartSelectTheRowsTheViewerShows) {
  struct Case {
    double rate;
    std::optional<double> from, to;
    RowRange rows;  // when accepted
    std::string error;  // empty: accepted
  };
  // 100 rows at 10 per second: row r at r / 10 s, the last at 9.9 s.
  const std::vector<Case> cases = {
      {10, std::nullopt, std::nullopt, {0, 100}, ""},
      {10, 2, 5, {20, 31}, ""},            // 2.0 s .. 5.0 s, both ends included
      {10, 2.05, 4.99, {21, 29}, ""},      // rows 2.1 s .. 4.9 s
      {10, 9.5, std::nullopt, {95, 5}, ""},
      {10, std::nullopt, 0.35, {0, 4}, ""},
      {10, 0, 1000, {0, 100}, ""},
      {10, 9.91, 20, {}, "--from/--to: no row lies from 9.91 s to 20 s (the log runs from 0 s to 9.9 s)"},
      {10, 12, std::nullopt, {}, "--from/--to: no row lies from 12 s to 12 s (the log runs from 0 s to 9.9 s)"},
      {10, 5, 5, {}, "--from 5 s is not before --to 5 s"},
      {10, 5, 2, {}, "--from 5 s is not before --to 2 s"},
      {10, -1, 2, {}, "--from: '-1' is not a number of seconds from the start (0 or more)"},
      {10, 1, NAN, {}, "--to: 'nan' is not a number of seconds from the start (0 or more)"},
      {0, 1, 2, {}, "--from/--to: the log has no sample rate, so its rows have no times"},
  };
  for (const Case& c : cases) {
    RowRange rows{-7, -7};
    const auto error = SelectSeconds(100, c.rate, c.from, c.to, rows);
    SCOPED_TRACE(c.from.value_or(-99));
    SCOPED_TRACE(c.to.value_or(-99));
    if (c.error.empty()) {
      ASSERT_FALSE(error) << *error;
      EXPECT_EQ(rows, c.rows);
    } else {
      ASSERT_TRUE(error);
      EXPECT_EQ(*error, c.error);
    }
  }
}

TEST(RowSelection, SecondsTextIsAPlainNumber) {
  EXPECT_EQ(SecondsFromText("12.5"), 12.5);
  EXPECT_EQ(SecondsFromText("0"), 0.0);
  EXPECT_EQ(SecondsFromText("1e2"), 100.0);
  for (const char* bad : {"", "12,5", "5s", " 5", "x"}) EXPECT_FALSE(SecondsFromText(bad)) << bad;
}

}  // namespace
}  // namespace pemra

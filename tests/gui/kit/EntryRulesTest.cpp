#include "gui/kit/EntryRules.h"

#include <gtest/gtest.h>

namespace pemra {
namespace {

struct Entry {
  const char* text;
  const char* shown;  // nullptr: the text stands
};

void Check(std::optional<QString> (*rule)(const QString&, QChar), const Entry& e, QChar sep) {
  const std::optional<QString> fix = rule(QString::fromLatin1(e.text), sep);
  if (e.shown) {
    ASSERT_TRUE(fix.has_value()) << e.text;
    EXPECT_EQ(fix->toStdString(), e.shown) << e.text;
  } else {
    EXPECT_FALSE(fix.has_value()) << e.text << " became " << fix->toStdString();
  }
}

TEST(EntryRules, LoopDelay) {
  for (const Entry& e : {Entry{"abc", "0"}, Entry{"5000", "1000"}, Entry{"-1", "0"},
                         Entry{"", "0"}, Entry{"-", "0"}, Entry{"5", nullptr},
                         Entry{" 12.5 ", nullptr}, Entry{"1000", nullptr}, Entry{"0", nullptr},
                         Entry{"1e3", nullptr}, Entry{"1e4", "1000"}, Entry{"1e999", "1000"},
                         Entry{"1.2.3", "0"}, Entry{"5ms", "0"}, Entry{".5", nullptr},
                         Entry{"1e-999", nullptr}, Entry{"-1e-999", nullptr}}) {
    Check(LoopDelayCorrection, e, u'.');
  }
}

TEST(EntryRules, PowerDown) {
  for (const Entry& e : {Entry{"abc", "0.0"}, Entry{"200", "127.5"}, Entry{"-3", "0.0"},
                         Entry{"127.5", nullptr}, Entry{"127.51", "127.5"}, Entry{"2.7", nullptr},
                         Entry{"0", nullptr}, Entry{"", "0.0"}, Entry{"-1e999", "0.0"},
                         Entry{"1e-999", nullptr}}) {
    Check(PowerDownCorrection, e, u'.');
  }
}

TEST(EntryRules, DataSheetFigure) {
  // Empty is no figure; a word clears the box; the limits are 0 and 10^6.
  for (const Entry& e : {Entry{"", nullptr}, Entry{"  ", nullptr}, Entry{"abc", ""}, Entry{"-", ""},
                         Entry{"0.3", nullptr}, Entry{"-0.5", "0"}, Entry{"0", nullptr},
                         Entry{"1000000", nullptr}, Entry{"1000000.1", "1000000"},
                         Entry{"1e999", "1000000"}, Entry{"2.5e-3", nullptr}}) {
    Check(DataSheetFigureCorrection, e, u'.');
  }
  EXPECT_EQ(DataSheetFigureCorrection(QStringLiteral("0,3"), u','), std::nullopt);
  EXPECT_EQ(DataSheetFigureCorrection(QStringLiteral("0,3"), u'.'), QString());
}

TEST(EntryRules, LocaleSeparatorAndPointBothRead) {
  EXPECT_DOUBLE_EQ(NumericValue(QStringLiteral("2,7"), u',').value(), 2.7);
  EXPECT_DOUBLE_EQ(NumericValue(QStringLiteral("2.7"), u',').value(), 2.7);
  EXPECT_FALSE(NumericValue(QStringLiteral("2,7"), u'.').has_value());
  EXPECT_DOUBLE_EQ(NumericValue(QStringLiteral("+3"), u'.').value(), 3.0);
}

}  // namespace
}  // namespace pemra

#include "numeric.h"

#include <gtest/gtest.h>

#include <QString>
#include <clocale>
#include <cmath>

using namespace luvrin;

TEST(NumericValue, LeadingNumberWithBlanksSkippedAnywhere) {
  EXPECT_EQ(numericValue(u"128"), 128);
  EXPECT_EQ(numericValue(u"2 5"), 25);
  EXPECT_EQ(numericValue(u" 12"), 12);
  EXPECT_EQ(numericValue(u"\t1\n2"), 12);
  EXPECT_EQ(numericValue(u"12,"), 12);
  EXPECT_EQ(numericValue(u"7,0"), 7);
  EXPECT_EQ(numericValue(u"-01"), -1);
  EXPECT_EQ(numericValue(u"+5x"), 5);
  EXPECT_EQ(numericValue(u"- 5"), -5);
}

TEST(NumericValue, NoNumberGivesZero) {
  EXPECT_EQ(numericValue(u""), 0);
  EXPECT_EQ(numericValue(u"abc"), 0);
  EXPECT_EQ(numericValue(u"e5"), 0);
  EXPECT_EQ(numericValue(u"-"), 0);
  EXPECT_EQ(numericValue(u"."), 0);
  // A carriage return is not a blank: it ends the number.
  EXPECT_EQ(numericValue(u"\r12"), 0);
}

TEST(NumericValue, FractionsAndExponents) {
  EXPECT_DOUBLE_EQ(numericValue(u"12.5"), 12.5);
  EXPECT_DOUBLE_EQ(numericValue(u".5"), 0.5);
  EXPECT_DOUBLE_EQ(numericValue(u"1.2.3"), 1.2);
  EXPECT_DOUBLE_EQ(numericValue(u"1e3"), 1000);
  EXPECT_DOUBLE_EQ(numericValue(u"1E-2"), 0.01);
  EXPECT_DOUBLE_EQ(numericValue(u"2D2"), 200);
  EXPECT_DOUBLE_EQ(numericValue(u"1e"), 1);
  EXPECT_DOUBLE_EQ(numericValue(u"3e+x"), 3);
  EXPECT_TRUE(std::isinf(numericValue(u"9e9999")));
  EXPECT_EQ(numericValue(u"1e-9999"), 0);
}

TEST(NumericValue, LeadingZerosOfAnExponentCountForNothing) {
  EXPECT_DOUBLE_EQ(numericValue(u"1e0000000005"), 1e5);
  EXPECT_DOUBLE_EQ(numericValue(u"25E-00000000001"), 2.5);
  EXPECT_DOUBLE_EQ(numericValue(u"3d000000000"), 3);
  EXPECT_TRUE(std::isinf(numericValue(u"1e00000000099999999")));
}

TEST(NumericValue, DoesNotDependOnTheLocale) {
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  // A comma-decimal locale, where one is installed; the result must not change either way.
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  EXPECT_DOUBLE_EQ(numericValue(u"12.5"), 12.5);
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(WholeNumbers, HalvesRoundToEven) {
  EXPECT_EQ(roundHalfEven(0.5), 0);
  EXPECT_EQ(roundHalfEven(1.5), 2);
  EXPECT_EQ(roundHalfEven(2.5), 2);
  EXPECT_EQ(roundHalfEven(-2.5), -2);
  EXPECT_EQ(roundHalfEven(12.5), 12);
  EXPECT_EQ(roundHalfEven(2.6), 3);
  EXPECT_FALSE(roundHalfEven(INFINITY).has_value());
  EXPECT_FALSE(roundHalfEven(NAN).has_value());
}

TEST(WholeNumbers, NarrowConversionsFailOutsideTheirRange) {
  EXPECT_EQ(toInt16(32767.4), 32767);
  EXPECT_FALSE(toInt16(32767.5).has_value());  // rounds to 32768
  EXPECT_FALSE(toInt16(-32769).has_value());
  EXPECT_EQ(toInt32(2147483647.0), 2147483647);
  EXPECT_FALSE(toInt32(2147483648.0).has_value());
}

TEST(WholeNumbers, StrictSettingsConversion) {
  EXPECT_EQ(strictWholeNumber(u"1"), 1);
  EXPECT_EQ(strictWholeNumber(u" 20 "), 20);
  EXPECT_EQ(strictWholeNumber(u"-3"), -3);
  EXPECT_FALSE(strictWholeNumber(u"").has_value());
  EXPECT_FALSE(strictWholeNumber(u"abc").has_value());
  EXPECT_FALSE(strictWholeNumber(u"12ms").has_value());
  EXPECT_FALSE(strictWholeNumber(u"-").has_value());
  EXPECT_FALSE(strictWholeNumber(u"99999999999999999999").has_value());
}

TEST(WholeNumbers, StrictConversionTakesEveryFormOfOneNumber) {
  // The whole text is one number, in any form Windows reads; halves round to even.
  EXPECT_EQ(strictWholeNumber(u"50.0"), 50);
  EXPECT_EQ(strictWholeNumber(u" 50"), 50);
  EXPECT_EQ(strictWholeNumber(u"5e1"), 50);
  EXPECT_EQ(strictWholeNumber(u"5E+1"), 50);
  EXPECT_EQ(strictWholeNumber(u"500e-1"), 50);
  EXPECT_EQ(strictWholeNumber(u"50."), 50);
  EXPECT_EQ(strictWholeNumber(u".5"), 0);
  EXPECT_EQ(strictWholeNumber(u"2.5"), 2);
  EXPECT_EQ(strictWholeNumber(u"3.5"), 4);
  EXPECT_EQ(strictWholeNumber(u"-2.5"), -2);
  EXPECT_EQ(strictWholeNumber(u"1e-400"), 0);
  for (const char16_t* bad :
       {u"50abc", u"5 0", u".", u"1e", u"1e+", u"e5", u"- 5", u"1e400", u"5,0", u"0x10"})
    EXPECT_FALSE(strictWholeNumber(bad).has_value()) << QString::fromUtf16(bad).toStdString();
}

TEST(WholeNumbers, ChannelCountIsCappedAndRejectsNegatives) {
  EXPECT_EQ(channelCount(128), 128);
  EXPECT_EQ(channelCount(12.5), 12);
  EXPECT_EQ(channelCount(0), 0);
  EXPECT_FALSE(channelCount(-1).has_value());
  EXPECT_EQ(channelCount(99999999), 65535);
  EXPECT_EQ(channelCount(INFINITY), 65535);
  // Beyond what a 64-bit whole number holds, the cap is the same.
  EXPECT_EQ(channelCount(9.2e18), 65535);
  EXPECT_EQ(channelCount(1e19), 65535);
  EXPECT_EQ(channelCount(1e308), 65535);
  EXPECT_EQ(channelCount(-0.5), 0);
  EXPECT_FALSE(channelCount(-1e19).has_value());
  EXPECT_FALSE(channelCount(-INFINITY).has_value());
  EXPECT_FALSE(channelCount(NAN).has_value());
}

TEST(WholeNumbers, GroupCountIsWhatAForLoopToNMinusOneRuns) {
  EXPECT_EQ(groupCount(13.5), 13);
  EXPECT_EQ(groupCount(13.999), 13);
  EXPECT_EQ(groupCount(14), 14);
  EXPECT_EQ(groupCount(1), 1);
  EXPECT_EQ(groupCount(0.5), 0);
  EXPECT_EQ(groupCount(0), 0);
  EXPECT_EQ(groupCount(-3), 0);
  EXPECT_EQ(groupCount(NAN), 0);
  EXPECT_EQ(groupCount(1e19), 65535);
  EXPECT_EQ(groupCount(INFINITY), 65535);
  EXPECT_EQ(groupCount(600.5, 513), 513);
  EXPECT_EQ(groupCount(512.5, 513), 512);
}

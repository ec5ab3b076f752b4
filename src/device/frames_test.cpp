#include "device/frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iomanip>
#include <limits>
#include <ostream>
#include <string>

namespace zelmo {
namespace {

std::string Spaces(std::size_t n) {
  return std::string(n, ' ');
}

// The frame around a body: what the register expects, with the check value given by hand.
std::string Framed(const std::string& body, const std::string& check) {
  return "\x02" + body + "\x03" + check;
}

TEST(CheckValueTest, KnownTexts) {
  EXPECT_EQ(ComputeCheckValue("abc"), "0129");
  EXPECT_EQ(ComputeCheckValue("\x03"), "0003");
  EXPECT_EQ(ComputeCheckValue(""), "0000");
  // The shifts run 0 to 8 and start again, so bytes nine apart cancel out.
  EXPECT_EQ(ComputeCheckValue("A" + std::string(8, '\0') + "A"), "0000");
  EXPECT_EQ(ComputeCheckValue("AA" + std::string(7, '\0') + "A"), "0082");
}

TEST(CheckValueTest, HighBytesStayInFourDigits) {
  // 255 shifted by 8 is the largest term: FF00.
  const std::string text = std::string(8, '\0') + "\xFF";
  EXPECT_EQ(ComputeCheckValue(text), "FF00");
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(ComputeCheckValue(std::string(30, static_cast<char>(b))).size(), 4u) << b;
  }
}

TEST(OpeningFrameTest, ConstantAndItsCheckValue) {
  const std::string frame = BuildOpeningFrame();
  const std::string body = "Sq1" + Spaces(17) + "0" + Spaces(17) + "0";
  EXPECT_EQ(frame, Framed(body, "006D"));
  EXPECT_EQ(frame.size(), 45u);
  EXPECT_EQ(ComputeCheckValue(frame.substr(1, 40)), "006D");
}

struct FieldCase {
  double value;
  int decimals;
  const char* field;
};

void PrintTo(const FieldCase& c, std::ostream* os) {
  *os << std::setprecision(17) << c.value << " with " << c.decimals << " decimals";
}

class NumberFieldTest : public testing::TestWithParam<FieldCase> {};

TEST_P(NumberFieldTest, Renders) {
  const FieldCase& c = GetParam();
  EXPECT_EQ(FormatNumberField(c.value, c.decimals), c.field);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NumberFieldTest,
    testing::Values(FieldCase{12.5, 2, "      1250"}, FieldCase{0.05, 2, "       005"},
                    FieldCase{2, 3, "      2000"}, FieldCase{12.05, 2, "      1205"},
                    FieldCase{1.05, 3, "      1050"}, FieldCase{0, 2, "       000"},
                    FieldCase{-0.0, 2, "       000"},
                    // a fraction that rounds up to a whole unit carries
                    FieldCase{1.9996, 3, "      2000"}, FieldCase{0.999, 2, "       100"},
                    // exact halves go to the even count; 0.135 is a hair above its half
                    FieldCase{2.0625, 3, "      2062"}, FieldCase{0.125, 2, "       012"},
                    FieldCase{0.375, 2, "       038"}, FieldCase{0.135, 2, "       014"},
                    FieldCase{99999999.99, 2, "9999999999"},
                    FieldCase{9999999.999, 3, "9999999999"}, FieldCase{7, 0, "         7"}));

TEST(NumberFieldTest, RefusesWhatHasNoField) {
  const double values2[] = {100000000.0,
                            99999999.999,  // carries into a ninth digit
                            -0.01,
                            -1e-300,
                            std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            1e300,
                            4294967296.0};
  for (double v : values2) EXPECT_THROW(FormatNumberField(v, 2), FieldRangeError) << v;
  EXPECT_THROW(FormatNumberField(10000000.0, 3), FieldRangeError);
  EXPECT_NO_THROW(FormatNumberField(9999999.0, 3));
  EXPECT_THROW(FormatNumberField(2147483648.0, 0), FieldRangeError);
  EXPECT_EQ(FormatNumberField(2147483647.0, 0), "2147483647");
}

TEST(ItemFrameTest, WorkedExamples) {
  const std::string sugar = BuildItemFrame(1, "Sugar 1kg", "A", 12.50, 2);
  EXPECT_EQ(sugar, Framed("Dq1Sugar 1kg" + Spaces(9) + "A" + "      1250" + "      2000" +
                              "      2500" + Spaces(11),
                          "0F50"));
  EXPECT_EQ(sugar.size(), 69u);

  // Cyrillic goes out as its 1251 bytes, and the check value covers those bytes.
  const std::string milk = BuildItemFrame(1, "Млеко", "B", 45.50, 2);
  EXPECT_EQ(milk, Framed("Dq1\xCC\xEB\xE5\xEA\xEE" + Spaces(13) + "B" + "      4550" +
                             "      2000" + "      9100" + Spaces(11),
                         "7F45"));
}

TEST(ItemFrameTest, NameFieldIsEighteenCharacters) {
  const auto nameField = [](const std::string& name) {
    return BuildItemFrame(1, name, "A", 1, 1).substr(4, 18);
  };
  EXPECT_EQ(nameField("ABCDEFGHIJKLMNOPQR"), "ABCDEFGHIJKLMNOPQR");
  EXPECT_EQ(nameField(std::string(40, 'x')), std::string(18, 'x'));
  EXPECT_EQ(nameField(""), Spaces(18));
  // Characters, not bytes: 20 Cyrillic letters are 40 UTF-8 bytes.
  EXPECT_EQ(nameField("ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ"), std::string(18, '\xC6'));
  // No code in 1251, and malformed UTF-8: one "?" each, the field stays 18 bytes.
  EXPECT_EQ(nameField("a\xE2\x82\xBF"
                      "b"),
            "a?b" + Spaces(15));
  EXPECT_EQ(nameField("a" + std::string(30, '\x80')), "a" + std::string(17, '?'));
}

TEST(ItemFrameTest, EveryFrameHasTheDocumentedLayout) {
  const std::string frame = BuildItemFrame(1, "日本語のなまえ", "б", 3.333, 0.5);
  ASSERT_EQ(frame.size(), 69u);
  EXPECT_EQ(frame[0], '\x02');
  EXPECT_EQ(frame[64], '\x03');
  EXPECT_EQ(frame.substr(4, 18), "???????" + Spaces(11));
  EXPECT_EQ(frame[22], '\xE1');  // б in 1251
  EXPECT_EQ(frame.substr(23, 30), "       333      0500       167");
  EXPECT_EQ(frame.substr(65), ComputeCheckValue(frame.substr(1, 64)));
}

TEST(ItemFrameTest, RefusedWhenAnyFieldDoesNotFit) {
  // Price and quantity fit, their amount does not.
  EXPECT_THROW(BuildItemFrame(1, "x", "A", 1000000, 1000), FieldRangeError);
  EXPECT_THROW(BuildItemFrame(1, "x", "A", 100000000, 1), FieldRangeError);
  EXPECT_THROW(BuildItemFrame(1, "x", "A", 1, 10000000), FieldRangeError);
  EXPECT_THROW(BuildItemFrame(1, "x", "A", -1, 1), FieldRangeError);
  EXPECT_THROW(BuildItemFrame(1, "x", "A", 1, -2), FieldRangeError);
  EXPECT_THROW(BuildItemFrame(1, "x", "A", std::nan(""), 1), FieldRangeError);
  EXPECT_NO_THROW(BuildItemFrame(1, "x", "A", 99999999.99, 1));
}

TEST(ItemFrameTest, TaxCodeIsOneByte) {
  EXPECT_THROW(BuildItemFrame(1, "x", "", 1, 1), std::invalid_argument);
  EXPECT_THROW(BuildItemFrame(1, "x", "AB", 1, 1), std::invalid_argument);
}

TEST(TotalFrameTest, WorkedExamples) {
  const std::string zeros = "         0         0         0         0";
  EXPECT_EQ(BuildTotalFrame(25.00), Framed("Dq4      2500      2500" + zeros, "207D"));
  EXPECT_EQ(BuildTotalFrame(91.00).substr(65), "2078");
  EXPECT_EQ(BuildTotalFrame(0).size(), 69u);
  EXPECT_THROW(BuildTotalFrame(100000000), FieldRangeError);
  EXPECT_THROW(BuildTotalFrame(-5), FieldRangeError);
}

}  // namespace
}  // namespace zelmo

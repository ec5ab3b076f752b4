#include "register_frames.h"

#include <gtest/gtest.h>

#include "device/frames.h"

namespace zelmo::sim {
namespace {

// A frame around `body`, closed with the register's own check value.
std::string Wrap(const std::string& body) {
  return kSTX + body + kETX + CheckValue(body + kETX);
}

const std::string kOpeningBody = "Sq1" + std::string(17, ' ') + "0" + std::string(17, ' ') + "0";
const std::string kZeros = "         0         0         0         0";

// The manual's own examples of check values, over the bytes they cover (body and ETX).
TEST(RegisterFrames, CheckValuesOfTheManualsExamples) {
  struct Case {
    std::string covered;
    const char* check;
  } cases[] = {
      {"abc", "0129"},
      {kOpeningBody + "\x03", "006D"},
      {"\x03", "0003"},
      {"", "0000"},
      {"\x01\x02", "0005"},                  // 01h and 02h shifted by 1: 01h xor 04h
      {std::string("\x02\x01", 2), "0000"},  // 02h xor 01h shifted by 1: they cancel out
      {"Dq1Sugar 1kg" + std::string(9, ' ') + "A      1250      2000      2500" +
           std::string(11, ' ') + "\x03",
       "0F50"},
      {"Dq4      2500      2500" + kZeros + "\x03", "207D"},
      {"Dq1\xCC\xEB\xE5\xEA\xEE" + std::string(13, ' ') + "B      4550      2000      9100" +
           std::string(11, ' ') + "\x03",
       "7F45"},
      {"Dq4      9100      9100" + kZeros + "\x03", "2078"},
      // The ninth byte is shifted by 8; the tenth by 0 again, as the first, and they cancel.
      {std::string(8, '\0') + "\xFF", "FF00"},
      {"\xFF" + std::string(8, '\0') + "\xFF", "0000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.covered));
    EXPECT_EQ(CheckValue(c.covered), c.check);
  }
}

// The item of the manual's second example, "Млеко", as the register reads it.
void ExpectMilk(const FrameReading& milk) {
  ASSERT_TRUE(milk.command) << milk.problem;
  const auto& item = std::get<ItemCommand>(*milk.command);
  EXPECT_EQ(item.kind, "1");
  EXPECT_EQ(item.nameAnsi, "\xCC\xEB\xE5\xEA\xEE" + std::string(13, ' '));
  EXPECT_EQ(item.taxGroup, 'B');
  EXPECT_EQ(item.unitPrice, 4550);
  EXPECT_EQ(item.quantity, 2000);
  EXPECT_EQ(item.amount, 9100);
}

// The manual's worked examples as they come over the line, byte for byte.
TEST(RegisterFrames, ReadsTheManualsWorkedExamples) {
  const FrameReading opening = ReadFrame("\x02" + kOpeningBody + "\x03" + "006D");
  ASSERT_TRUE(opening.command) << opening.problem;
  EXPECT_TRUE(std::holds_alternative<OpeningCommand>(*opening.command));

  const FrameReading milk = ReadFrame(
      "\x02"
      "Dq1\xCC\xEB\xE5\xEA\xEE" +
      std::string(13, ' ') + "B      4550      2000      9100" + std::string(11, ' ') +
      "\x03"
      "7F45");
  ExpectMilk(milk);

  for (const auto& [frame, total] : {std::pair{"Dq4      2500      2500" + kZeros +
                                                   "\x03"
                                                   "207D",
                                               2500},
                                     std::pair{"Dq4      9100      9100" + kZeros +
                                                   "\x03"
                                                   "2078",
                                               9100}}) {
    const FrameReading reading = ReadFrame(kSTX + frame);
    ASSERT_TRUE(reading.command) << reading.problem;
    EXPECT_EQ(std::get<TotalCommand>(*reading.command).total, total);
  }
}

TEST(RegisterFrames, ReadsTheBridgesOwnFramesBack) {
  EXPECT_TRUE(std::holds_alternative<OpeningCommand>(*ReadFrame(BuildOpeningFrame()).command));

  const FrameReading milk = ReadFrame(BuildItemFrame(1, "Млеко", "B", 45.50, 2));
  ExpectMilk(milk);

  const FrameReading total = ReadFrame(BuildTotalFrame(91.00));
  ASSERT_TRUE(total.command) << total.problem;
  EXPECT_EQ(std::get<TotalCommand>(*total.command).total, 9100);
}

TEST(RegisterFrames, ReadsTheWireBytesOfAnItem) {
  const std::string sugar = std::string("\x02") +
                            "Dq1Sugar 1kg         A      1250      2000      2500" +
                            std::string(11, ' ') + "\x03" + "0F50";
  const FrameReading reading = ReadFrame(sugar);
  ASSERT_TRUE(reading.command) << reading.problem;
  const auto& item = std::get<ItemCommand>(*reading.command);
  EXPECT_EQ(item.nameAnsi, "Sugar 1kg         ");
  EXPECT_EQ(item.amount, 2500);
}

TEST(RegisterFrames, RefusesFramesWhoseLayoutOrCheckValueIsWrong) {
  const std::string item = BuildItemFrame(1, "Sugar 1kg", "A", 12.50, 2);
  const std::string itemBody = item.substr(1, item.size() - 6);
  const std::string zeros = "         0         0         0         0";
  struct Case {
    const char* what;
    std::string frame;
  };
  const Case cases[] = {
      {"check value off by one", item.substr(0, item.size() - 1) + "1"},
      {"check value in lower case", Wrap(kOpeningBody).replace(41, 4, "006d")},
      {"no ETX", kSTX + itemBody + "0F50X"},
      {"no STX", "X" + item.substr(1)},
      {"too short to be a frame",
       "\x02\x03"
       "00"},
      {"unknown command", Wrap("Xy1" + std::string(37, ' '))},
      {"opening with letters in a field",
       Wrap("Sq1" + std::string(17, ' ') + "A" + std::string(17, ' ') + "0")},
      {"opening one byte short",
       Wrap("Sq1" + std::string(16, ' ') + "0" + std::string(17, ' ') + "0")},
      {"item with a blank tax group", Wrap(std::string(itemBody).replace(21, 1, " "))},
      {"item with a decimal point", Wrap(std::string(itemBody).replace(22, 10, "     12.50"))},
      {"item with an empty integer part",
       Wrap(std::string(itemBody).replace(22, 10, "        50"))},
      {"item without its closing spaces", Wrap(itemBody.substr(0, itemBody.size() - 1) + "X")},
      {"item whose receipt kind is not a number", Wrap(std::string(itemBody).replace(2, 1, "X"))},
      {"item one byte short", Wrap(itemBody.substr(0, itemBody.size() - 1))},
      {"total whose amounts differ", Wrap("Dq4      2500      2600" + zeros)},
      {"total with a number field of zero for a constant",
       Wrap("Dq4      2500      2500       000" + zeros.substr(10))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const FrameReading reading = ReadFrame(c.frame);
    EXPECT_FALSE(reading.command);
    EXPECT_FALSE(reading.problem.empty());
  }
}

TEST(RegisterFrames, NumberFields) {
  struct Case {
    const char* field;
    int decimals;
    std::optional<int64_t> units;
  };
  const Case cases[] = {
      {"      1250", 2, 1250},         {"       005", 2, 5},
      {"      2000", 3, 2000},         {"       000", 2, 0},
      {"9999999999", 2, 9999999999},   {"      1050", 3, 1050},
      {"          ", 2, std::nullopt}, {"        05", 2, std::nullopt},
      {"     12.50", 2, std::nullopt}, {"1250      ", 2, std::nullopt},
      {"  12 3  50", 2, std::nullopt}, {"      125", 2, std::nullopt},
      {"       0-5", 2, std::nullopt}, {"      12 0", 2, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    EXPECT_EQ(ReadNumberField(c.field, c.decimals), c.units);
  }
}

}  // namespace
}  // namespace zelmo::sim

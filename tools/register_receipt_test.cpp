#include "register_receipt.h"

#include <gtest/gtest.h>

namespace zelmo::sim {
namespace {

TEST(RegisterReceipt, UnitsReadAsDecimalNumbers) {
  EXPECT_EQ(FormatUnits(9100, 2), "91.00");
  EXPECT_EQ(FormatUnits(5, 2), "0.05");
  EXPECT_EQ(FormatUnits(0, 3), "0.000");
  EXPECT_EQ(FormatUnits(2000, 3), "2.000");
  EXPECT_EQ(FormatUnits(1050, 3), "1.050");
  EXPECT_EQ(FormatUnits(9999999999, 2), "99999999.99");
}

PrintedReceipt TwoItems() {
  PrintedReceipt receipt;
  receipt.items = {{"Млеко", "Б", 4550, 2000, 9100}, {"Sugar 1kg", "A", 1250, 500, 625}};
  return receipt;
}

TEST(RegisterReceipt, ACompleteReceiptWhoseTotalMatches) {
  PrintedReceipt receipt = TwoItems();
  receipt.total = 9725;
  receipt.closed = true;
  EXPECT_EQ(RenderReceipt(receipt),
            "ФИСКАЛНА СМЕТКА\n"
            "----------------------------------------\n"
            "Млеко\n"
            "  2.000 x 45.50 = 91.00   даночна група Б\n"
            "Sugar 1kg\n"
            "  0.500 x 12.50 = 6.25   даночна група A\n"
            "----------------------------------------\n"
            "ВКУПНО 97.25\n"
            "Вкупниот износ се совпаѓа со ставките.\n");
}

TEST(RegisterReceipt, ATotalThatDiffersFromTheItemsIsCalledOut) {
  PrintedReceipt receipt = TwoItems();
  receipt.total = 9726;
  receipt.closed = true;
  const std::string text = RenderReceipt(receipt);
  EXPECT_NE(text.find("ВКУПНО 97.26\nВкупниот износ НЕ се совпаѓа со ставките.\n"),
            std::string::npos)
      << text;
}

TEST(RegisterReceipt, AReceiptCutShortSaysSo) {
  PrintedReceipt receipt = TwoItems();
  const std::string noTotal = RenderReceipt(receipt);
  EXPECT_EQ(noTotal.find("ВКУПНО"), std::string::npos);
  EXPECT_EQ(noTotal.find("совпаѓа"), std::string::npos);
  EXPECT_NE(noTotal.find("Сметката не е завршена.\n"), std::string::npos);

  receipt.total = 9725;  // the total came, its closing EOT did not
  EXPECT_NE(RenderReceipt(receipt).find("со ставките.\nСметката не е завршена.\n"),
            std::string::npos);
}

}  // namespace
}  // namespace zelmo::sim

#include "register_receipt.h"

#include <numeric>

namespace zelmo::sim {
namespace {

constexpr const char* kRule = "----------------------------------------";

std::string ItemLines(const PrintedItem& item) {
  return item.name + "\n  " + FormatUnits(item.quantity, 3) + " x " +
         FormatUnits(item.unitPrice, 2) + " = " + FormatUnits(item.amount, 2) +
         "   даночна група " + item.taxGroup + "\n";
}

int64_t SumOfItems(const PrintedReceipt& receipt) {
  return std::accumulate(receipt.items.begin(), receipt.items.end(), int64_t{0},
                         [](int64_t sum, const PrintedItem& item) { return sum + item.amount; });
}

}  // namespace

std::string FormatUnits(int64_t units, int decimals) {
  std::string digits = std::to_string(units);
  if (digits.size() <= static_cast<size_t>(decimals)) {
    digits.insert(0, decimals + 1 - digits.size(), '0');
  }
  digits.insert(digits.size() - decimals, ".");
  return digits;
}

std::string RenderReceipt(const PrintedReceipt& receipt) {
  std::string text = "ФИСКАЛНА СМЕТКА\n";
  text += kRule;
  text += "\n";
  for (const PrintedItem& item : receipt.items) text += ItemLines(item);
  text += kRule;
  text += "\n";
  if (receipt.total) {
    text += "ВКУПНО " + FormatUnits(*receipt.total, 2) + "\n";
    text += *receipt.total == SumOfItems(receipt) ? "Вкупниот износ се совпаѓа со ставките.\n"
                                                  : "Вкупниот износ НЕ се совпаѓа со ставките.\n";
  }
  if (!receipt.closed) text += "Сметката не е завршена.\n";
  return text;
}

}  // namespace zelmo::sim

// The receipt the virtual register would print, built from the commands it has acknowledged,
// and its rendering as UTF-8 text with the register's Cyrillic labels.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelmo::sim {

struct PrintedItem {
  std::string name;       // UTF-8, without the field's trailing spaces
  std::string taxGroup;   // UTF-8, one character
  int64_t unitPrice = 0;  // hundredths
  int64_t quantity = 0;   // thousandths
  int64_t amount = 0;     // hundredths
};

struct PrintedReceipt {
  std::vector<PrintedItem> items;
  std::optional<int64_t> total;  // hundredths, once the total command is taken
  bool closed = false;           // the exchange with the total ended with EOT
};

// Units of the last of `decimals` fraction digits as a decimal number: 9100, 2 -> "91.00".
std::string FormatUnits(int64_t units, int decimals);

std::string RenderReceipt(const PrintedReceipt& receipt);

}  // namespace zelmo::sim

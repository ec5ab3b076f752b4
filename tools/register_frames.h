// How the virtual register reads a framed command: its layout, its number fields and its check
// value, checked over exactly the bytes that came over the line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zelmo::sim {

struct OpeningCommand {};

struct ItemCommand {
  std::string kind;       // the receipt kind's digits
  std::string nameAnsi;   // the 18-byte name field as sent (code page 1251)
  char taxGroup = 0;      // one byte, code page 1251
  int64_t unitPrice = 0;  // hundredths
  int64_t quantity = 0;   // thousandths
  int64_t amount = 0;     // hundredths
};

struct TotalCommand {
  int64_t total = 0;  // hundredths
};

using Command = std::variant<OpeningCommand, ItemCommand, TotalCommand>;

// A frame the register takes (`command` set) or refuses (`problem` says why).
struct FrameReading {
  std::optional<Command> command;
  std::string problem;
};

// `frame` is STX, body, ETX and the four characters that came after the ETX.
FrameReading ReadFrame(std::string_view frame);

// A 10-character number field with `decimals` fraction digits, in units of the last digit;
// nothing when the field is not spaces, then at least one digit, then exactly `decimals` digits.
std::optional<int64_t> ReadNumberField(std::string_view field, int decimals);

}  // namespace zelmo::sim

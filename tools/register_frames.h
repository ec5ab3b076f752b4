// How the virtual register reads a framed command: its layout, its number fields and its check
// value, checked over exactly the bytes that came over the line. All of it is the register's own,
// read from the protocol as the register's manual gives it, and shares no code with the bridge:
// a fault in the bridge's frames cannot hide behind the same fault here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zelmo::sim {

inline constexpr char kSTX = '\x02';
inline constexpr char kETX = '\x03';

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

// The check value of the bytes it covers (body and ETX): each byte shifted left by its position
// counted from 0, modulo 9, all of them combined by exclusive-or, as four upper-case hex digits.
std::string CheckValue(std::string_view covered);

// A 10-character number field with `decimals` fraction digits, in units of the last digit;
// nothing when the field is not spaces, then at least one digit, then exactly `decimals` digits.
std::optional<int64_t> ReadNumberField(std::string_view field, int decimals);

}  // namespace zelmo::sim

// The port's Settings text, "9600,N,8,1", in its four fields. What each field may hold beyond
// this form depends on the driver, so each port checks the rest itself.
#pragma once

#include <optional>
#include <string>

namespace zelmo {

struct SettingsFields {
  unsigned long baud = 0;
  std::string parity, dataBits, stopBits;
};

// Nothing unless the text has exactly four comma-separated fields and the first is a baud rate
// of one to seven digits.
std::optional<SettingsFields> SplitSettings(const std::string& text);

}  // namespace zelmo

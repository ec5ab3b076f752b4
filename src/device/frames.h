// The register's framed commands: STX, body, ETX and a four-hex-digit check value over the body
// and the ETX. Frames are returned as the bytes that go on the line (code page 1251).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zelmo {

inline constexpr char kSTX = '\x02';
inline constexpr char kETX = '\x03';

// A value that has no place in a number field: negative, not finite, or too wide.
class FieldRangeError : public std::range_error {
 public:
  using std::range_error::range_error;
};

// The 10-character fixed-point field without a decimal point; `decimals` is 2 or 3.
std::string FormatNumberField(double value, int32_t decimals);

// Check value of the bytes `wire` (the body followed by ETX): four upper-case hex digits.
std::string ComputeCheckValue(std::string_view wire);

std::string BuildOpeningFrame();

// `name` and `taxCode` are UTF-8; a character with no code in 1251 goes out as "?".
std::string BuildItemFrame(int16_t receiptKind, const std::string& name,
                           const std::string& taxCode, double unitPrice, double quantity);

std::string BuildTotalFrame(double total);

}  // namespace zelmo

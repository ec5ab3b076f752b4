#include "device/frames.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "text/cp1251.h"

namespace zelmo {
namespace {

constexpr int kFieldWidth = 10;
constexpr std::size_t kNameWidth = 18;
constexpr const char* kZeroField = "         0";

double PowerOfTen(int32_t exponent) {
  double p = 1;
  for (int32_t i = 0; i < exponent; ++i) p *= 10;
  return p;
}

// Nearest whole number, an exact half to the even one, whatever the FPU's rounding mode is.
double RoundHalfEven(double x) {
  const double below = std::floor(x);
  const double diff = x - below;
  if (diff > 0.5) return below + 1;
  if (diff < 0.5) return below;
  return std::fmod(below, 2) == 0 ? below : below + 1;
}

std::string PadLeft(std::string text, std::size_t width, char fill) {
  if (text.size() < width) text.insert(0, width - text.size(), fill);
  return text;
}

// Wraps a body as the register takes it: STX, body, ETX, check value of body and ETX.
std::string Frame(std::string body) {
  body += kETX;
  const std::string check = ComputeCheckValue(body);
  return kSTX + body + check;
}

// The name field: the first 18 characters in 1251, blanks after it. Converting first keeps the
// field at 18 bytes even for malformed UTF-8, where every bad byte becomes one "?".
std::string NameField(const std::string& name) {
  std::string ansi = Utf8ToAnsi(name);
  ansi.resize(kNameWidth, ' ');
  return ansi;
}

}  // namespace

std::string FormatNumberField(double value, int32_t decimals) {
  if (decimals < 0 || decimals >= kFieldWidth) {
    throw std::invalid_argument("number field decimals out of range");
  }
  if (!std::isfinite(value)) throw FieldRangeError("number field value is not finite");
  if (value < 0) throw FieldRangeError("number field value is negative");

  const double whole = std::floor(value);
  if (whole > std::numeric_limits<int32_t>::max()) {
    throw FieldRangeError("number field value beyond 32 bits");
  }
  int64_t integer = static_cast<int64_t>(whole);
  const double scale = PowerOfTen(decimals);
  auto units = static_cast<int64_t>(RoundHalfEven((value - whole) * scale));
  if (units == static_cast<int64_t>(scale)) {
    ++integer;
    units = 0;
  }

  std::string integerText = std::to_string(integer);
  const auto integerWidth = static_cast<std::size_t>(kFieldWidth - decimals);
  if (integerText.size() > integerWidth || integer > std::numeric_limits<int32_t>::max()) {
    throw FieldRangeError("number too wide for its field");
  }
  std::string fraction = decimals == 0 ? "" : PadLeft(std::to_string(units), decimals, '0');
  return PadLeft(std::move(integerText), integerWidth, ' ') + fraction;
}

std::string ComputeCheckValue(std::string_view wire) {
  uint32_t sum = 0;
  for (std::size_t i = 0; i < wire.size(); ++i) {
    sum ^= static_cast<uint32_t>(static_cast<unsigned char>(wire[i])) << (i % 9);
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (; sum != 0; sum >>= 4) text.insert(text.begin(), kHex[sum & 0xF]);
  return PadLeft(std::move(text), 4, '0');
}

std::string BuildOpeningFrame() {
  static const std::string kFrame = std::string(1, kSTX) + "Sq1" + std::string(17, ' ') + "0" +
                                    std::string(17, ' ') + "0" + kETX + "006D";
  return kFrame;
}

std::string BuildItemFrame(int16_t receiptKind, const std::string& name, const std::string& taxCode,
                           double unitPrice, double quantity) {
  const std::string tax = Utf8ToAnsi(taxCode);
  if (tax.size() != 1) throw std::invalid_argument("tax code must be one character");

  std::string body = "Dq" + std::to_string(receiptKind);
  body += NameField(name);
  body += tax;
  body += FormatNumberField(unitPrice, 2);
  body += FormatNumberField(quantity, 3);
  body += FormatNumberField(unitPrice * quantity, 2);
  body += std::string(11, ' ');
  return Frame(std::move(body));
}

std::string BuildTotalFrame(double total) {
  const std::string field = FormatNumberField(total, 2);
  std::string body = "Dq4" + field + field;
  for (int i = 0; i < 4; ++i) body += kZeroField;
  return Frame(std::move(body));
}

}  // namespace zelmo

#include "register_frames.h"

#include <cstdint>

namespace zelmo::sim {
namespace {

constexpr size_t kFieldWidth = 10;
constexpr size_t kNameWidth = 18;
constexpr size_t kCheckWidth = 4;
constexpr std::string_view kZeroField = "         0";

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool AllDigits(std::string_view s) {
  for (char c : s) {
    if (!IsDigit(c)) return false;
  }
  return !s.empty();
}

bool IsUpperHex(std::string_view s) {
  for (char c : s) {
    if (!IsDigit(c) && !(c >= 'A' && c <= 'F')) return false;
  }
  return true;
}

FrameReading Refuse(std::string problem) {
  return {std::nullopt, std::move(problem)};
}

// An 18-character field of the opening command: a number, right-aligned.
bool IsOpeningField(std::string_view field) {
  const size_t first = field.find_first_not_of(' ');
  return first != std::string_view::npos && AllDigits(field.substr(first));
}

FrameReading ReadOpening(std::string_view body) {
  if (body.size() != 3 + 2 * kNameWidth) return Refuse("opening command of wrong length");
  if (!IsOpeningField(body.substr(3, kNameWidth)) ||
      !IsOpeningField(body.substr(3 + kNameWidth, kNameWidth))) {
    return Refuse("opening command with a malformed field");
  }
  return {OpeningCommand{}, ""};
}

// "Dq4", the total twice, then four fields of "         0".
bool LooksLikeTotal(std::string_view body) {
  if (body.size() != 3 + 6 * kFieldWidth || body.substr(0, 3) != "Dq4") return false;
  for (size_t i = 0; i < 4; ++i) {
    if (body.substr(3 + (2 + i) * kFieldWidth, kFieldWidth) != kZeroField) return false;
  }
  return true;
}

FrameReading ReadTotal(std::string_view body) {
  const auto total = ReadNumberField(body.substr(3, kFieldWidth), 2);
  const auto again = ReadNumberField(body.substr(3 + kFieldWidth, kFieldWidth), 2);
  if (!total || !again) return Refuse("total command with a malformed amount");
  if (*total != *again) return Refuse("total command whose two amounts differ");
  return {TotalCommand{*total}, ""};
}

// "Dq", the kind's digits, name, tax group, price, quantity, amount and 11 spaces.
FrameReading ReadItem(std::string_view body) {
  constexpr size_t kFixed = 2 + kNameWidth + 1 + 3 * kFieldWidth + 11;
  if (body.size() <= kFixed) return Refuse("item command too short");
  ItemCommand item;
  const size_t kindWidth = body.size() - kFixed;
  item.kind = std::string(body.substr(2, kindWidth));
  if (!AllDigits(item.kind)) return Refuse("item command without a receipt kind");
  std::string_view rest = body.substr(2 + kindWidth);
  item.nameAnsi = std::string(rest.substr(0, kNameWidth));
  item.taxGroup = rest[kNameWidth];
  if (static_cast<unsigned char>(item.taxGroup) <= ' ')
    return Refuse("item command without a tax group");
  rest.remove_prefix(kNameWidth + 1);
  const auto price = ReadNumberField(rest.substr(0, kFieldWidth), 2);
  const auto quantity = ReadNumberField(rest.substr(kFieldWidth, kFieldWidth), 3);
  const auto amount = ReadNumberField(rest.substr(2 * kFieldWidth, kFieldWidth), 2);
  if (!price || !quantity || !amount) return Refuse("item command with a malformed number");
  if (rest.substr(3 * kFieldWidth) != std::string(11, ' ')) {
    return Refuse("item command without its closing spaces");
  }
  item.unitPrice = *price;
  item.quantity = *quantity;
  item.amount = *amount;
  return {std::move(item), ""};
}

}  // namespace

std::string CheckValue(std::string_view covered) {
  uint32_t sum = 0;
  unsigned shift = 0;
  for (const char c : covered) {
    uint32_t value = static_cast<unsigned char>(c);
    for (unsigned i = 0; i < shift; ++i) value *= 2;  // the manual's shift: one doubling a bit
    sum ^= value;
    shift = shift == 8 ? 0 : shift + 1;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string digits(kCheckWidth, '0');
  for (size_t i = kCheckWidth; i-- > 0; sum >>= 4) digits[i] = kHex[sum & 0xF];
  return digits;
}

std::optional<int64_t> ReadNumberField(std::string_view field, int decimals) {
  if (field.size() != kFieldWidth || decimals < 1 || decimals >= static_cast<int>(kFieldWidth)) {
    return std::nullopt;
  }
  const std::string_view integer = field.substr(0, kFieldWidth - decimals);
  const std::string_view fraction = field.substr(kFieldWidth - decimals);
  const size_t first = integer.find_first_not_of(' ');
  if (first == std::string_view::npos || !AllDigits(integer.substr(first)) ||
      !AllDigits(fraction)) {
    return std::nullopt;
  }
  int64_t units = 0;
  for (char c : field.substr(first)) units = units * 10 + (c - '0');
  return units;
}

FrameReading ReadFrame(std::string_view frame) {
  if (frame.size() < 2 + kCheckWidth || frame.front() != kSTX) return Refuse("not a frame");
  const size_t etx = frame.size() - kCheckWidth - 1;
  if (frame[etx] != kETX) return Refuse("no ETX before the check value");
  const std::string_view covered = frame.substr(1, etx);  // body and ETX
  const std::string_view check = frame.substr(etx + 1);
  if (!IsUpperHex(check)) return Refuse("check value is not four upper-case hex digits");
  const std::string expected = CheckValue(covered);
  if (check != expected) {
    return Refuse("check value " + std::string(check) + ", expected " + expected);
  }
  const std::string_view body = covered.substr(0, covered.size() - 1);
  if (body.substr(0, 3) == "Sq1") return ReadOpening(body);
  if (LooksLikeTotal(body)) return ReadTotal(body);
  if (body.substr(0, 2) == "Dq") return ReadItem(body);
  return Refuse("unknown command");
}

}  // namespace zelmo::sim

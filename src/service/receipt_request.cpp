#include "service/receipt_request.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

#include "device/frames.h"
#include "text/cp1251.h"

namespace zelmo::service {
namespace {

using Json = nlohmann::json;

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// The loader keeps the first 40 characters of a name and drops the rest without a word; the
// register prints fewer still.
constexpr std::size_t kNameLength = 40;
// A job's steps are counted in 16 bits: seven of them are not items.
constexpr std::size_t kMostItems = 32760;
constexpr int32_t kPriceDecimals = 2;
constexpr int32_t kQuantityDecimals = 3;

// A refusal on its way out of the checks.
struct Refused {
  RequestError error;
};

[[noreturn]] void RefuseBody(std::string code, std::string message) {
  throw Refused{{400, -1, "", std::move(code), std::move(message)}};
}

[[noreturn]] void RefuseReceipt(int item, std::string field, std::string code,
                                std::string message) {
  throw Refused{{422, item, std::move(field), std::move(code), std::move(message)}};
}

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
  return text;
}

// The characters of well-formed UTF-8, one at a time.
char32_t NextCodePoint(std::string_view utf8, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(utf8[pos++]);
  if (lead < 0x80) return lead;
  const int tail = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
  char32_t cp = lead & (0x3F >> tail);
  for (int i = 0; i < tail; ++i) cp = (cp << 6) | (static_cast<unsigned char>(utf8[pos++]) & 0x3F);
  return cp;
}

// Rounds to 1/scale, halves away from zero, exactly as the receipt loader does, so that the value
// checked here is the value the run will send.
double RoundTo(double value, double scale) {
  const double scaled = value * scale;
  if (!std::isfinite(scaled)) return value;
  return std::round(scaled) / scale;
}

// Whether the register's number field takes the value; the field's own check decides.
bool FitsField(double value, int32_t decimals) {
  try {
    FormatNumberField(value, decimals);
    return true;
  } catch (const FieldRangeError&) {
    return false;
  }
}

const Json& Member(const Json& item, int index, const char* field) {
  const auto found = item.find(field);
  if (found == item.end() || found->is_null()) {
    RefuseReceipt(index, field, "missing-field", std::string("The item has no ") + field + ".");
  }
  return *found;
}

std::string ItemName(const Json& item, int index, std::string_view delimiter) {
  const Json& value = Member(item, index, "name");
  if (!value.is_string()) RefuseReceipt(index, "name", "wrong-type", "The name must be a string.");
  const std::string& name = value.get_ref<const std::string&>();
  if (name.empty()) RefuseReceipt(index, "name", "empty-name", "The name is empty.");
  if (!IsValidUtf8(name)) RefuseReceipt(index, "name", "bad-text", "The name is not UTF-8.");
  for (std::size_t pos = 0; pos < name.size();) {
    const char32_t cp = NextCodePoint(name, pos);
    // A byte below 20h would cut the register's frame, as it fails the receipt file's line.
    if (cp < 0x20) {
      RefuseReceipt(index, "name", "control-character",
                    "The name holds the control character " + Hex(cp, 2) + "h.");
    }
    if (CodePointToAnsi(cp) < 0) {
      RefuseReceipt(index, "name", "not-in-code-page",
                    "The name holds U+" + Hex(cp, 4) + ", which the register cannot print.");
    }
  }
  if (name.find(delimiter) != std::string::npos) {
    RefuseReceipt(index, "name", "delimiter-in-name",
                  "The name holds the register's delimiter \"" + std::string(delimiter) + "\".");
  }
  return Utf8Prefix(name, kNameLength);
}

// Quantity and unit price: positive, since no operator is there to accept the loader's default of
// 1, rounded as the loader rounds, and within the register's number field.
double ItemAmount(const Json& item, int index, const char* field, int32_t decimals) {
  const Json& value = Member(item, index, field);
  if (!value.is_number()) {
    RefuseReceipt(index, field, "wrong-type", std::string("The ") + field + " must be a number.");
  }
  const double given = value.get<double>();
  if (!std::isfinite(given) || !(given > 0)) {
    RefuseReceipt(index, field, "not-positive",
                  std::string("The ") + field + " must be greater than 0.");
  }
  const double rounded = RoundTo(given, decimals == kPriceDecimals ? 100 : 1000);
  if (rounded == 0) {
    RefuseReceipt(index, field, "rounds-to-zero",
                  std::string("The ") + field + " is 0 once rounded to " +
                      std::to_string(decimals) + " decimals.");
  }
  if (!FitsField(rounded, decimals)) {
    RefuseReceipt(index, field, "out-of-range",
                  std::string("The ") + field + " is too large for the register.");
  }
  return rounded;
}

std::string ItemTaxGroup(const Json& item, int index) {
  const Json& value = Member(item, index, "taxGroup");
  if (value.is_string()) {
    const std::string& group = value.get_ref<const std::string&>();
    if (group == "A" || group == "B" || group == "Б") return group;
  }
  RefuseReceipt(index, "taxGroup", "bad-tax-group", "The tax group must be \"A\", \"B\" or \"Б\".");
}

// A number as the receipt file holds it: the shortest decimal that reads back as this very value.
std::string NumberText(double value) {
  char text[64];
  const auto [end, error] =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  if (error != std::errc()) throw std::logic_error("receipt number cannot be written");
  return std::string(text, end);
}

std::array<std::string, 4> LineFields(const RequestItem& item) {
  return {item.name, NumberText(item.quantity), item.taxGroup, NumberText(item.unitPrice)};
}

// The loader cuts a line at each occurrence of the delimiter, from the left. Some delimiters
// meet a field even when no field holds them whole (";;" after a name that ends in ";", "." in
// a price): the item's line must cut exactly where its fields meet.
void RequireWholeFields(const RequestItem& item, int index, std::string_view delimiter) {
  static constexpr std::array<const char*, 4> kFields = {"name", "quantity", "taxGroup",
                                                         "unitPrice"};
  const std::array<std::string, 4> fields = LineFields(item);
  std::string line;
  std::array<std::size_t, 3> cuts{};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    line += fields[i];
    if (i == cuts.size()) break;
    cuts[i] = line.size();
    line += delimiter;
  }
  std::size_t from = 0;
  for (std::size_t k = 0;; ++k) {
    const std::size_t at = line.find(delimiter, from);
    if (at == std::string::npos) return;
    if (k < cuts.size() && at == cuts[k]) {
      from = at + delimiter.size();
      continue;
    }
    const char* field = kFields[std::min(k, cuts.size())];
    RefuseReceipt(index, field, "delimiter-in-field",
                  std::string("The ") + field + " meets the register's delimiter \"" +
                      std::string(delimiter) + "\" in the receipt line.");
  }
}

RequestItem ParseItem(const Json& item, int index, std::string_view delimiter) {
  if (!item.is_object()) RefuseReceipt(index, "", "wrong-type", "The item must be an object.");
  RequestItem parsed;
  parsed.name = ItemName(item, index, delimiter);
  parsed.quantity = ItemAmount(item, index, "quantity", kQuantityDecimals);
  parsed.taxGroup = ItemTaxGroup(item, index);
  parsed.unitPrice = ItemAmount(item, index, "unitPrice", kPriceDecimals);
  if (!FitsField(parsed.unitPrice * parsed.quantity, kPriceDecimals)) {
    RefuseReceipt(index, "quantity", "out-of-range",
                  "The item's amount (quantity times unit price) is too large for the register.");
  }
  RequireWholeFields(parsed, index, delimiter);
  return parsed;
}

// A delimiter that no receipt file can carry: the register's settings, not the request, are at
// fault.
void RequireUsableDelimiter(std::string_view delimiter) {
  bool usable = !delimiter.empty() && IsValidUtf8(delimiter);
  for (const char c : delimiter) usable = usable && static_cast<unsigned char>(c) >= 0x20;
  if (!usable) {
    throw Refused{{500, -1, "", "register-settings",
                   "The register's Delimiter cannot separate the fields of a receipt file."}};
  }
}

std::string Canonical(const std::vector<RequestItem>& items) {
  Json list = Json::array();
  for (const RequestItem& item : items) {
    list.push_back({{"name", item.name},
                    {"quantity", item.quantity},
                    {"taxGroup", item.taxGroup},
                    {"unitPrice", item.unitPrice}});
  }
  return Json{{"items", std::move(list)}}.dump();
}

ReceiptRequest Parse(std::string_view body, std::string_view delimiter) {
  RequireUsableDelimiter(delimiter);
  const Json parsed = Json::parse(body.begin(), body.end(), nullptr, false);
  if (parsed.is_discarded()) RefuseBody("invalid-json", "The body is not JSON.");
  if (!parsed.is_object()) RefuseBody("invalid-body", "The body must be a JSON object.");
  const auto list = parsed.find("items");
  if (list == parsed.end() || !list->is_array()) {
    RefuseBody("invalid-body", "The body must hold an \"items\" array.");
  }
  if (list->empty()) RefuseReceipt(-1, "items", "empty-receipt", "The receipt has no items.");
  if (list->size() > kMostItems) {
    RefuseReceipt(-1, "items", "too-many-items",
                  "A receipt holds at most " + std::to_string(kMostItems) + " items.");
  }

  ReceiptRequest receipt;
  receipt.items.reserve(list->size());
  for (const Json& item : *list) {
    receipt.items.push_back(ParseItem(item, static_cast<int>(receipt.items.size()), delimiter));
    const RequestItem& added = receipt.items.back();
    // Added up as the loader adds the file's lines.
    receipt.total += RoundTo(added.quantity, 1000) * added.unitPrice;
  }
  if (!FitsField(receipt.total, kPriceDecimals)) {
    RefuseReceipt(-1, "items", "total-out-of-range",
                  "The receipt's total is too large for the register.");
  }
  receipt.canonical = Canonical(receipt.items);
  return receipt;
}

}  // namespace

std::variant<ReceiptRequest, RequestError> ParseReceiptRequest(std::string_view body,
                                                               std::string_view delimiter) {
  try {
    return Parse(body, delimiter);
  } catch (const Refused& refused) {
    return refused.error;
  }
}

std::string ReceiptFileBytes(const ReceiptRequest& receipt, std::string_view delimiter) {
  std::string bytes(kBom);
  for (const RequestItem& item : receipt.items) {
    const std::array<std::string, 4> fields = LineFields(item);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i > 0) bytes += delimiter;
      bytes += fields[i];
    }
    bytes += "\r\n";
  }
  return bytes;
}

}  // namespace zelmo::service

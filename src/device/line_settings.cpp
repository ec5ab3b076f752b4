#include "device/line_settings.h"

#include <sstream>
#include <vector>

namespace zelmo {
namespace {

std::vector<std::string> SplitFields(const std::string& text) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(text);
  while (std::getline(in, field, ',')) fields.push_back(field);
  if (!text.empty() && text.back() == ',') fields.emplace_back();
  return fields;
}

bool AllDigits(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

std::optional<SettingsFields> SplitSettings(const std::string& text) {
  const auto fields = SplitFields(text);
  if (fields.size() != 4 || !AllDigits(fields[0]) || fields[0].size() > 7) return std::nullopt;
  return SettingsFields{std::stoul(fields[0]), fields[1], fields[2], fields[3]};
}

}  // namespace zelmo

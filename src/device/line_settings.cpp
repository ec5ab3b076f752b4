#include "device/line_settings.h"

#include <algorithm>
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

std::optional<Parity> ParityOf(const std::string& letter) {
  static const std::pair<char, Parity> kParities[] = {
      {'N', Parity::kNone}, {'E', Parity::kEven},  {'O', Parity::kOdd},
      {'M', Parity::kMark}, {'S', Parity::kSpace},
  };
  if (letter.size() != 1) return std::nullopt;
  for (const auto& [name, parity] : kParities) {
    if (letter[0] == name || letter[0] == name - 'A' + 'a') return parity;
  }
  return std::nullopt;
}

std::optional<StopBits> StopBitsOf(const std::string& text) {
  if (text == "1") return StopBits::kOne;
  if (text == "1.5") return StopBits::kOneAndHalf;
  if (text == "2") return StopBits::kTwo;
  return std::nullopt;
}

}  // namespace

std::optional<LineSettings> ParseLineSettings(const std::string& text) {
  const auto fields = SplitFields(text);
  if (fields.size() != 4 || !AllDigits(fields[0]) || fields[0].size() > 7) return std::nullopt;
  LineSettings line;
  line.baud = std::stoul(fields[0]);
  const auto parity = ParityOf(fields[1]);
  const auto stopBits = StopBitsOf(fields[3]);
  const std::string& bits = fields[2];
  if (line.baud == 0 || !parity || !stopBits || bits.size() != 1 || bits[0] < '4' ||
      bits[0] > '8') {
    return std::nullopt;
  }
  line.parity = *parity;
  line.dataBits = bits[0] - '0';
  line.stopBits = *stopBits;
  return line;
}

std::optional<LineSettings> ParseConfiguredSettings(const std::string& text) {
  static constexpr unsigned long kSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  const auto line = ParseLineSettings(text);
  if (!line || std::find(std::begin(kSpeeds), std::end(kSpeeds), line->baud) == std::end(kSpeeds) ||
      line->dataBits < 7 || line->stopBits == StopBits::kOneAndHalf) {
    return std::nullopt;
  }
  return line;
}

void PortProperties::SetCommPort(int16_t port, const std::string& device) {
  port_ = port;
  device_ = device.empty() ? DefaultDevicePath(port) : device;
}

void PortProperties::SetSettings(const std::string& settings) {
  const auto line = ParseLineSettings(settings);
  if (!line || !Runs(*line)) {
    throw SerialError(Device(), "invalid line settings \"" + settings + "\"", invalidError_);
  }
  settings_ = *line;
}

void PortProperties::SetPortOpen(bool open) {
  if (open) {
    Open();
  } else {
    Close();
  }
}

std::string PortProperties::Device() const {
  return device_.empty() ? DefaultDevicePath(port_) : device_;
}

}  // namespace zelmo

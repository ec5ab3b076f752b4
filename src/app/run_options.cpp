#include "app/run_options.h"

#include "device/line_settings.h"
#include "device/serial_port.h"

namespace zelmo {
namespace {

std::string Problem(const char* key, const std::string& value, const char* allowed) {
  return std::string(key) + "=\"" + value + "\" не е дозволена вредност: " + allowed;
}

constexpr const char* kSettingsAllowed =
    "брзина,парност,податочни битови,стоп-битови; брзина 1200, 2400, 4800, 9600, 19200, 38400, "
    "57600 или 115200; парност n, e, o, m или s; 7 или 8 податочни бита; 1 или 2 стоп-бита (на "
    "пр. Settings=9600,n,8,1).";
constexpr const char* kTimeoutAllowed = "цел број секунди од 1 до 3600.";
constexpr const char* kJournalAllowed = "0 (без дневник на печатењето) или 1.";
constexpr const char* kHandshakingAllowed = "0 (без контрола на протокот) или 2 (RTS/CTS).";

}  // namespace

std::optional<std::string> ReadRunOptions(const KeyReader& read, JobState& state) {
  if (const std::string v = read("Settings"); !v.empty()) {
    if (!ParseConfiguredSettings(v)) return Problem("Settings", v, kSettingsAllowed);
    state.sLineSettings = v;
  }
  if (const std::string v = read("Handshaking"); !v.empty()) {
    if (v != "0" && v != "2") return Problem("Handshaking", v, kHandshakingAllowed);
    state.iHandshaking = v == "0" ? 0 : kHandshakeRtsCts;
  }
  if (const std::string v = read("Timeout"); !v.empty()) {
    const bool digits = v.size() <= 4 && v.find_first_not_of("0123456789") == std::string::npos;
    const int seconds = digits ? std::stoi(v) : 0;
    if (seconds < 1 || seconds > 3600) return Problem("Timeout", v, kTimeoutAllowed);
    state.iTimeout = seconds;
  }
  state.sLog = read("Log");
  if (const std::string v = read("Journal"); !v.empty()) {
    if (v != "0" && v != "1") return Problem("Journal", v, kJournalAllowed);
    state.bJournal = v == "1";
  }
  return std::nullopt;
}

}  // namespace zelmo

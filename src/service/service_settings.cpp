#include "service/service_settings.h"

#include <algorithm>
#include <cctype>

#include "app/job_state.h"
#include "app/run_options.h"
#include "ini/ini_file.h"
#include "ini/settings_file_check.h"
#include "sys/paths.h"

namespace zelmo::service {
namespace {

constexpr const char* kIniFileName = "Zelmocfg.ini";

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

std::vector<std::string> SplitCommas(std::string_view value) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = value.find(',', start);
    parts.push_back(Trim(value.substr(start, comma - start)));
    if (comma == std::string_view::npos) return parts;
    start = comma + 1;
  }
}

[[noreturn]] void Refuse(const std::string& key, std::string_view value, const std::string& why) {
  throw SettingsError(key + "=\"" + std::string(value) + "\": " + why);
}

bool AllDigits(std::string_view text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsHostText(std::string_view host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':';
  });
}

ListenAddress ParseOneListen(const std::string& part, std::string_view whole) {
  const std::string why = "each address is host:port or [IPv6]:port, port 1 to 65535";
  std::string host, port;
  if (!part.empty() && part.front() == '[') {
    const auto close = part.find("]:");
    if (close == std::string::npos) Refuse("Listen", whole, why);
    host = part.substr(1, close - 1);
    port = part.substr(close + 2);
    if (host.find(':') == std::string::npos) Refuse("Listen", whole, why);
  } else {
    const auto colon = part.rfind(':');
    if (colon == std::string::npos) Refuse("Listen", whole, why);
    host = part.substr(0, colon);
    port = part.substr(colon + 1);
    if (host.find(':') != std::string::npos) Refuse("Listen", whole, why);
  }
  if (!IsHostText(host) || !AllDigits(port)) Refuse("Listen", whole, why);
  const int number = std::stoi(port);
  if (number < 1 || number > 65535) Refuse("Listen", whole, why);
  return {host, number, false};
}

int ParseKeep(const std::string& value) {
  const std::string why = "whole days, 1 to 3650";
  if (!AllDigits(value)) Refuse("Keep", value, why);
  const int days = std::stoi(value);
  if (days < 1 || days > 3650) Refuse("Keep", value, why);
  return days;
}

void CheckToken(const std::string& value) {
  const bool printable = std::all_of(value.begin(), value.end(), [](char c) {
    return static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7F;
  });
  if (!printable)
    throw SettingsError(
        "Token: only the characters 21h to 7Eh (no space, no letters beyond ASCII)");
}

// A register's own file is looked at as the one-shot program would, so a bad value stops the
// start here rather than failing every job.
void CheckRegisterFile(const RegisterSettings& reg) {
  const std::filesystem::path file = reg.folder / kIniFileName;
  std::error_code ec;
  if (!std::filesystem::is_directory(reg.folder, ec))
    throw SettingsError("Registers: " + reg.name + "=\"" + PathToUtf8(reg.folder) +
                        "\": no such folder");
  if (!std::filesystem::exists(file, ec)) return;
  const std::string path = PathToUtf8(file);
  if (const auto problem = SettingsFileProblem(path)) throw SettingsError(path + ": " + *problem);
  CIniFile ini;
  ini.Init(path);
  JobState state;
  const auto wrong = ReadRunOptions(
      [&ini](const char* key) { return ini.GetStringValue("Parametri", key); }, state);
  if (wrong) throw SettingsError(path + ": " + *wrong);
}

std::vector<RegisterSettings> ReadRegisters(CIniFile& ini, const std::filesystem::path& folder) {
  std::vector<std::string> names;
  ini.EnumerateAllKeys("Registers", names);
  std::vector<RegisterSettings> registers;
  for (const std::string& name : names) {
    const std::string value = Trim(ini.GetStringValue("Registers", name));
    if (!IsRegisterName(name))
      throw SettingsError("Registers: \"" + name + "\": a name is 1 to 32 of A-Z a-z 0-9 _ -");
    if (value.empty()) throw SettingsError("Registers: " + name + "=\"\": a folder");
    for (const RegisterSettings& seen : registers) {
      if (seen.name == name) throw SettingsError("Registers: " + name + " is named twice");
    }
    registers.push_back({name, (folder / Utf8ToPath(value)).lexically_normal()});
  }
  if (registers.empty()) registers.push_back({"default", folder});
  for (const RegisterSettings& reg : registers) CheckRegisterFile(reg);
  return registers;
}

}  // namespace

bool IsLoopbackHost(std::string_view host) {
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  if (host == "localhost" || host == "::1") return true;
  if (host.substr(0, 4) != "127.") return false;
  int dots = 0;
  for (char c : host) {
    if (c == '.') {
      ++dots;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  return dots == 3;
}

bool IsRegisterName(std::string_view name) {
  return !name.empty() && name.size() <= 32 && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
  });
}

std::vector<ListenAddress> ParseListen(std::string_view value) {
  if (Trim(value).empty()) return {{"127.0.0.1", kDefaultPort, false}, {"::1", kDefaultPort, true}};
  std::vector<ListenAddress> addresses;
  for (const std::string& part : SplitCommas(value))
    addresses.push_back(ParseOneListen(part, value));
  return addresses;
}

std::vector<std::string> ParseOrigins(std::string_view value) {
  std::vector<std::string> origins;
  if (Trim(value).empty()) return origins;
  const std::string why = "each origin is scheme://host[:port], http or https, without a path";
  for (const std::string& origin : SplitCommas(value)) {
    const auto scheme = origin.find("://");
    if (scheme == std::string::npos) Refuse("Origins", value, why);
    const std::string name = origin.substr(0, scheme);
    const std::string rest = origin.substr(scheme + 3);
    if ((name != "http" && name != "https") || rest.empty() ||
        rest.find_first_of("/?#@ ") != std::string::npos)
      Refuse("Origins", value, why);
    origins.push_back(origin);
  }
  return origins;
}

ServiceSettings ReadServiceSettings(const std::filesystem::path& folder) {
  ServiceSettings settings;
  const std::filesystem::path file = folder / kIniFileName;
  const std::string path = PathToUtf8(file);
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    settings.listen = ParseListen("");
    settings.registers = {{"default", folder}};
    return settings;
  }
  if (const auto problem = SettingsFileProblem(path)) throw SettingsError(path + ": " + *problem);
  try {
    CIniFile ini;
    ini.Init(path);
    settings.listen = ParseListen(ini.GetStringValue("Service", "Listen"));
    settings.origins = ParseOrigins(ini.GetStringValue("Service", "Origins"));
    settings.token = ini.GetStringValue("Service", "Token");
    CheckToken(settings.token);
    const std::string keep = Trim(ini.GetStringValue("Service", "Keep"));
    if (!keep.empty()) settings.keepDays = ParseKeep(keep);
    settings.registers = ReadRegisters(ini, folder);
  } catch (const IniError& e) {
    throw SettingsError(path + ": " + e.description());
  }
  const bool open = std::any_of(settings.listen.begin(), settings.listen.end(),
                                [](const ListenAddress& a) { return !IsLoopbackHost(a.host); });
  if (open && settings.token.empty())
    throw SettingsError(
        "Token: required when Listen names an address that is not loopback (anyone on the "
        "network could print)");
  return settings;
}

}  // namespace zelmo::service

// The service's own settings ([Service] and [Registers] of the data folder's Zelmocfg.ini), read
// once at start. A value that is not one its key may hold ends the start, the key named.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zelmo::service {

struct ListenAddress {
  std::string host;  // without the brackets of an IPv6 address
  int port = 0;
  bool optional = false;  // the default's IPv6 loopback, left out where the machine has none
};

struct RegisterSettings {
  std::string name;
  std::filesystem::path folder;  // its own Zelmocfg.ini, smetka.txt never written there
};

struct ServiceSettings {
  std::vector<ListenAddress> listen;
  std::vector<std::string> origins;
  std::string token;  // empty: no token asked for
  int keepDays = 30;
  std::vector<RegisterSettings> registers;
};

// "Listen=\"x\": ..." naming the key and what it may hold.
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr int kDefaultPort = 8470;

// The settings of `folder`; a missing file gives the defaults. Throws SettingsError.
ServiceSettings ReadServiceSettings(const std::filesystem::path& folder);

// The parts, for the reader and its tests. Each throws SettingsError naming `key`.
std::vector<ListenAddress> ParseListen(std::string_view value);
std::vector<std::string> ParseOrigins(std::string_view value);
bool IsRegisterName(std::string_view name);
// localhost, 127.0.0.0/8, ::1 (brackets allowed).
bool IsLoopbackHost(std::string_view host);

}  // namespace zelmo::service

// zelmo --service install|uninstall|run [--dir FOLDER]: the print service as a Windows service,
// started with the machine by the service control manager. Elsewhere the system's own service
// manager runs `zelmo --serve` (systemd's zelmo.service on Linux), and --service is refused.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zelmo::service {

// The service's name for sc.exe and the service manager.
inline constexpr const char* kServiceName = "zelmo";

enum class ServiceAction { kInstall, kUninstall, kRun };

struct ServiceCommand {
  ServiceAction action = ServiceAction::kRun;
  std::string folder;  // UTF-8, as given with --dir; empty: the program's own data folder
};

// The program's arguments (the program's name first) as a service command; the text that says
// what is wrong with them; or nothing when they do not ask for --service at all.
std::optional<std::variant<ServiceCommand, std::string>> ParseServiceCommand(
    const std::vector<std::string>& args);

// One argument quoted so that Windows' own parser of a command line gives it back unchanged.
std::string QuoteArgument(std::string_view arg);

// What the service manager starts: the program, "--service run" and the data folder.
std::string ServiceCommandLine(const std::string& program, const std::string& folder);

// Carries out the command; its exit status: 0 done, 1 refused or failed (the reason on standard
// error), or, for run, the print service's own status.
int RunServiceCommand(const ServiceCommand& command);

// zelmo's --service: the arguments parsed and the command carried out; its exit status.
int ServiceCommandMain(const std::vector<std::string>& args);

}  // namespace zelmo::service
